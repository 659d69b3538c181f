// The AP gauge's records: its header and its element tree, one chain of 28 elements drawn
// root first, so a later row lies over an earlier one. Each row below is one element with
// kind, picture, position, image_flags, failure list, special_flags, tokens and callback.
#include "ap/ap_gauge.h"

#include "ap/ap_lights.h"
#include "ap/ap_readouts.h"
#include "shared/pictures.h"
#include "shared/shared_callbacks.h"

namespace ap {

// The rows, declared ahead so that each can name the next as its only child.
extern GaugeRoot ap_background;
extern StringElement vs_readout, altitude_readout, angle2_readout, speed_readout, angle1_readout;
extern IconElement qnh_std_light, airbrakes_light, lift_dumpers_light, overspeed_light, red_light_135,
    white_light_327, panel_on_light, white_light_3, mode_light_637_63, mode_light_611_63, mode_light_637_38,
    mode_light_611_38, gps_hold_light, mode_light_611_13, altitude_select_label, angle2_select_label,
    speed_select_label, toggle_lever, disconnect_bar, light_495_16, ap2_light, ap1_light;

namespace {

using namespace panel_shared;

constexpr uint32_t ap_size_x_mm = 804;
constexpr uint32_t amber = 0x0048B8F0;
constexpr PixelSize three_characters = {.width = 27, .height = 13};
constexpr PixelSize five_characters = {.width = 45, .height = 13};

// The next row as the only child of a row.
template <auto& next>
constinit ElementHeader* const followed_by[2] = {&next.header, nullptr};

}  // namespace

constinit GaugeRoot ap_background = {
    .background = {.header = {.element_kind = static_image_element, .resource_id = ap_background_picture,
                              .position = {0, 0}, .anchor = {0, 0}, .gauge_header = &ap_gauge,
                              .next_elements = followed_by<vs_readout>, .failure_list = nullptr,
                              .image_flags = image_flag_2 | image_flag_1, .special_flags = 0}},
    .root = &ap_background.background.header,
};

// The five read-outs along the top, right to left.
constinit StringElement vs_readout = {
    .header = {.element_kind = string_element, .resource_id = no_resource, .position = {758, 17}, .anchor = {0, 0},
               .gauge_header = &ap_gauge, .next_elements = followed_by<altitude_readout>, .failure_list = light_failures,
               .image_flags = image_flag_4 | image_flag_2 | image_flag_1, .special_flags = 1},
    .source_vars = {{.token = 120}, {.token = 0}, {.token = 0}}, .size = five_characters, .fore_colour = amber,
    .back_colour = colour_black, .highlight_colour = colour_black, .font_name = KESTREL_READOUT_FONT,
    .font_weight = font_weight_normal, .font_charset = font_charset_default,
    .text_format = draw_text_centred_single_line, .char_count = 5, .value_callback = vs_readout_cb,
};
constinit StringElement altitude_readout = {
    .header = {.element_kind = string_element, .resource_id = no_resource, .position = {682, 17}, .anchor = {0, 0},
               .gauge_header = &ap_gauge, .next_elements = followed_by<angle2_readout>, .failure_list = light_failures,
               .image_flags = image_flag_4 | image_flag_2 | image_flag_1, .special_flags = 1},
    .source_vars = {{.token = 109}, {.token = 0}, {.token = 0}}, .size = five_characters, .fore_colour = amber,
    .back_colour = colour_black, .highlight_colour = colour_black, .font_name = KESTREL_READOUT_FONT,
    .font_weight = font_weight_normal, .font_charset = font_charset_default,
    .text_format = draw_text_centred_single_line, .char_count = 5, .value_callback = altitude_readout_cb,
};
constinit StringElement angle2_readout = {
    .header = {.element_kind = string_element, .resource_id = no_resource, .position = {553, 17}, .anchor = {0, 0},
               .gauge_header = &ap_gauge, .next_elements = followed_by<speed_readout>, .failure_list = light_failures,
               .image_flags = image_flag_4 | image_flag_2 | image_flag_1, .special_flags = 2},
    .source_vars = {{.token = 107}, {.token = 0}, {.token = 0}}, .size = three_characters, .fore_colour = amber,
    .back_colour = colour_black, .highlight_colour = colour_black, .font_name = KESTREL_READOUT_FONT,
    .font_weight = font_weight_normal, .font_charset = font_charset_default,
    .text_format = draw_text_centred_single_line, .char_count = 3, .value_callback = angle2_readout_cb,
};
constinit StringElement speed_readout = {
    .header = {.element_kind = string_element, .resource_id = no_resource, .position = {432, 17}, .anchor = {0, 0},
               .gauge_header = &ap_gauge, .next_elements = followed_by<angle1_readout>, .failure_list = light_failures,
               .image_flags = image_flag_4 | image_flag_2 | image_flag_1, .special_flags = 1},
    .source_vars = {{.token = 116}, {.token = 118}, {.token = 0}}, .size = three_characters, .fore_colour = amber,
    .back_colour = colour_black, .highlight_colour = colour_black, .font_name = KESTREL_READOUT_FONT,
    .font_weight = font_weight_normal, .font_charset = font_charset_default,
    .text_format = draw_text_centred_single_line, .char_count = 3, .value_callback = speed_readout_cb,
};
constinit StringElement angle1_readout = {
    .header = {.element_kind = string_element, .resource_id = no_resource, .position = {282, 33}, .anchor = {0, 0},
               .gauge_header = &ap_gauge, .next_elements = followed_by<qnh_std_light>, .failure_list = light_failures,
               .image_flags = image_flag_4 | image_flag_2 | image_flag_1, .special_flags = 0},
    .source_vars = {{.token = 45}, {.token = 0}, {.token = 0}}, .size = three_characters, .fore_colour = amber,
    .back_colour = colour_black, .highlight_colour = colour_black, .font_name = KESTREL_READOUT_FONT,
    .font_weight = font_weight_normal, .font_charset = font_charset_default,
    .text_format = draw_text_centred_single_line, .char_count = 3, .value_callback = angle1_readout_cb,
};

// The lights and SELECT labels: one picture each, shown while the callback returns 1.
constinit IconElement qnh_std_light = {
    .header = {.element_kind = icon_element, .resource_id = green_light_picture, .position = {184, 33}, .anchor = {0, 0},
               .gauge_header = &ap_gauge, .next_elements = followed_by<airbrakes_light>, .failure_list = light_failures,
               .image_flags = image_flag_4 | image_flag_2 | image_flag_1, .special_flags = 0},
    .source_var = {.token = 0}, .icon_switch = panel_icon_switch, .icon_count = 1, .value_callback = qnh_std_light_cb,
};
constinit IconElement airbrakes_light = {
    .header = {.element_kind = icon_element, .resource_id = green_light_picture, .position = {235, 74}, .anchor = {0, 0},
               .gauge_header = &ap_gauge, .next_elements = followed_by<lift_dumpers_light>, .failure_list = light_failures,
               .image_flags = image_flag_4 | image_flag_2 | image_flag_1, .special_flags = 0},
    .source_var = {.token = 324}, .icon_switch = panel_icon_switch, .icon_count = 1,
    .value_callback = airbrakes_light_cb,
};
constinit IconElement lift_dumpers_light = {
    .header = {.element_kind = icon_element, .resource_id = green_light_picture, .position = {210, 74}, .anchor = {0, 0},
               .gauge_header = &ap_gauge, .next_elements = followed_by<overspeed_light>, .failure_list = light_failures,
               .image_flags = image_flag_4 | image_flag_2 | image_flag_1, .special_flags = 0},
    .source_var = {.token = 866}, .icon_switch = panel_icon_switch, .icon_count = 1,
    .value_callback = lift_dumpers_light_cb,
};
constinit IconElement overspeed_light = {
    .header = {.element_kind = icon_element, .resource_id = red_light_picture, .position = {160, 74}, .anchor = {0, 0},
               .gauge_header = &ap_gauge, .next_elements = followed_by<red_light_135>, .failure_list = light_failures,
               .image_flags = image_flag_4 | image_flag_2 | image_flag_1, .special_flags = 0},
    .source_var = {.token = 68}, .icon_switch = panel_icon_switch, .icon_count = 1, .value_callback = var_is_one_cb,
};
constinit IconElement red_light_135 = {
    .header = {.element_kind = icon_element, .resource_id = red_light_picture, .position = {135, 74}, .anchor = {0, 0},
               .gauge_header = &ap_gauge, .next_elements = followed_by<white_light_327>, .failure_list = light_failures,
               .image_flags = image_flag_4 | image_flag_2 | image_flag_1, .special_flags = 0},
    .source_var = {.token = 67}, .icon_switch = panel_icon_switch, .icon_count = 1, .value_callback = var_is_one_cb,
};
constinit IconElement white_light_327 = {
    .header = {.element_kind = icon_element, .resource_id = white_light_picture, .position = {327, 74}, .anchor = {0, 0},
               .gauge_header = &ap_gauge, .next_elements = followed_by<panel_on_light>, .failure_list = light_failures,
               .image_flags = image_flag_4 | image_flag_2 | image_flag_1, .special_flags = 0},
    .source_var = {.token = 364}, .icon_switch = panel_icon_switch, .icon_count = 1, .value_callback = var_is_one_cb,
};
constinit IconElement panel_on_light = {
    .header = {.element_kind = icon_element, .resource_id = white_light_picture, .position = {28, 79}, .anchor = {0, 0},
               .gauge_header = &ap_gauge, .next_elements = followed_by<white_light_3>, .failure_list = light_failures,
               .image_flags = image_flag_4 | image_flag_2 | image_flag_1, .special_flags = 0},
    .source_var = {.token = 0}, .icon_switch = panel_icon_switch, .icon_count = 1, .value_callback = panel_on_light_cb,
};
constinit IconElement white_light_3 = {
    .header = {.element_kind = icon_element, .resource_id = white_light_picture, .position = {3, 79}, .anchor = {0, 0},
               .gauge_header = &ap_gauge, .next_elements = followed_by<mode_light_637_63>, .failure_list = light_failures,
               .image_flags = image_flag_4 | image_flag_2 | image_flag_1, .special_flags = 0},
    .source_var = {.token = 740}, .icon_switch = panel_icon_switch, .icon_count = 1, .value_callback = var_is_one_cb,
};
constinit IconElement mode_light_637_63 = {
    .header = {.element_kind = icon_element, .resource_id = green_light_picture, .position = {637, 63}, .anchor = {0, 0},
               .gauge_header = &ap_gauge, .next_elements = followed_by<mode_light_611_63>, .failure_list = light_failures,
               .image_flags = image_flag_4 | image_flag_2 | image_flag_1, .special_flags = 0},
    .source_var = {.token = 113}, .icon_switch = panel_icon_switch, .icon_count = 1, .value_callback = var_is_one_cb,
};
constinit IconElement mode_light_611_63 = {
    .header = {.element_kind = icon_element, .resource_id = green_light_picture, .position = {611, 63}, .anchor = {0, 0},
               .gauge_header = &ap_gauge, .next_elements = followed_by<mode_light_637_38>, .failure_list = light_failures,
               .image_flags = image_flag_4 | image_flag_2 | image_flag_1, .special_flags = 0},
    .source_var = {.token = 112}, .icon_switch = panel_icon_switch, .icon_count = 1, .value_callback = var_is_one_cb,
};
constinit IconElement mode_light_637_38 = {
    .header = {.element_kind = icon_element, .resource_id = green_light_picture, .position = {637, 38}, .anchor = {0, 0},
               .gauge_header = &ap_gauge, .next_elements = followed_by<mode_light_611_38>, .failure_list = light_failures,
               .image_flags = image_flag_4 | image_flag_2 | image_flag_1, .special_flags = 0},
    .source_var = {.token = 104}, .icon_switch = panel_icon_switch, .icon_count = 1, .value_callback = var_is_one_cb,
};
constinit IconElement mode_light_611_38 = {
    .header = {.element_kind = icon_element, .resource_id = green_light_picture, .position = {611, 38}, .anchor = {0, 0},
               .gauge_header = &ap_gauge, .next_elements = followed_by<gps_hold_light>, .failure_list = light_failures,
               .image_flags = image_flag_4 | image_flag_2 | image_flag_1, .special_flags = 0},
    .source_var = {.token = 114}, .icon_switch = panel_icon_switch, .icon_count = 1, .value_callback = var_positive_cb,
};
constinit IconElement gps_hold_light = {
    .header = {.element_kind = icon_element, .resource_id = green_light_picture, .position = {637, 13}, .anchor = {0, 0},
               .gauge_header = &ap_gauge, .next_elements = followed_by<mode_light_611_13>, .failure_list = light_failures,
               .image_flags = image_flag_4 | image_flag_2 | image_flag_1, .special_flags = 0},
    .source_var = {.token = 848}, .icon_switch = panel_icon_switch, .icon_count = 1,
    .value_callback = gps_hold_light_cb,
};
constinit IconElement mode_light_611_13 = {
    .header = {.element_kind = icon_element, .resource_id = green_light_picture, .position = {611, 13}, .anchor = {0, 0},
               .gauge_header = &ap_gauge, .next_elements = followed_by<altitude_select_label>, .failure_list = light_failures,
               .image_flags = image_flag_4 | image_flag_2 | image_flag_1, .special_flags = 0},
    .source_var = {.token = 105}, .icon_switch = panel_icon_switch, .icon_count = 1, .value_callback = var_is_one_cb,
};
constinit IconElement altitude_select_label = {
    .header = {.element_kind = icon_element, .resource_id = select_label_picture, .position = {691, 37}, .anchor = {0, 0},
               .gauge_header = &ap_gauge, .next_elements = followed_by<angle2_select_label>, .failure_list = light_failures,
               .image_flags = image_flag_4 | image_flag_2 | image_flag_1, .special_flags = 0},
    .source_var = {.token = 108}, .icon_switch = panel_icon_switch, .icon_count = 1, .value_callback = var_is_one_cb,
};
constinit IconElement angle2_select_label = {
    .header = {.element_kind = icon_element, .resource_id = select_label_picture, .position = {552, 37}, .anchor = {0, 0},
               .gauge_header = &ap_gauge, .next_elements = followed_by<speed_select_label>, .failure_list = light_failures,
               .image_flags = image_flag_4 | image_flag_2 | image_flag_1, .special_flags = 0},
    .source_var = {.token = 106}, .icon_switch = panel_icon_switch, .icon_count = 1, .value_callback = var_is_one_cb,
};
constinit IconElement speed_select_label = {
    .header = {.element_kind = icon_element, .resource_id = select_label_picture, .position = {430, 37}, .anchor = {0, 0},
               .gauge_header = &ap_gauge, .next_elements = followed_by<toggle_lever>, .failure_list = light_failures,
               .image_flags = image_flag_4 | image_flag_2 | image_flag_1, .special_flags = 0},
    .source_var = {.token = 0}, .icon_switch = panel_icon_switch, .icon_count = 1,
    .value_callback = speed_select_light_cb,
};

// The two switch pictures: two pictures each, chosen by value 0 or 1; no failure list.
constinit IconElement toggle_lever = {
    .header = {.element_kind = icon_element, .resource_id = toggle_lever_0_picture, .position = {392, 50}, .anchor = {0, 0},
               .gauge_header = &ap_gauge, .next_elements = followed_by<disconnect_bar>, .failure_list = nullptr,
               .image_flags = image_flag_2 | image_flag_1, .special_flags = 0},
    .source_var = {.token = 792}, .icon_switch = panel_icon_switch, .icon_count = 2, .value_callback = var_value_cb,
};
constinit IconElement disconnect_bar = {
    .header = {.element_kind = icon_element, .resource_id = disconnect_bar_0_picture, .position = {472, 82}, .anchor = {0, 0},
               .gauge_header = &ap_gauge, .next_elements = followed_by<light_495_16>, .failure_list = nullptr,
               .image_flags = image_flag_2 | image_flag_1, .special_flags = 0},
    .source_var = {.token = 0}, .icon_switch = panel_icon_switch, .icon_count = 2,
    .value_callback = disconnect_switch_cb,
};

// The engage lights share token 103; only their callbacks tell them apart.
constinit IconElement light_495_16 = {
    .header = {.element_kind = icon_element, .resource_id = green_light_picture, .position = {495, 16}, .anchor = {0, 0},
               .gauge_header = &ap_gauge, .next_elements = followed_by<ap2_light>, .failure_list = light_failures,
               .image_flags = image_flag_4 | image_flag_2 | image_flag_1, .special_flags = 0},
    .source_var = {.token = 123}, .icon_switch = panel_icon_switch, .icon_count = 1, .value_callback = var_is_one_cb,
};
constinit IconElement ap2_light = {
    .header = {.element_kind = icon_element, .resource_id = green_light_picture, .position = {512, 50}, .anchor = {0, 0},
               .gauge_header = &ap_gauge, .next_elements = followed_by<ap1_light>, .failure_list = light_failures,
               .image_flags = image_flag_4 | image_flag_2 | image_flag_1, .special_flags = 0},
    .source_var = {.token = 103}, .icon_switch = panel_icon_switch, .icon_count = 1, .value_callback = ap2_light_cb,
};
constinit IconElement ap1_light = {
    .header = {.element_kind = icon_element, .resource_id = green_light_picture, .position = {476, 50}, .anchor = {0, 0},
               .gauge_header = &ap_gauge, .next_elements = nullptr, .failure_list = light_failures,
               .image_flags = image_flag_4 | image_flag_2 | image_flag_1, .special_flags = 0},
    .source_var = {.token = 103}, .icon_switch = panel_icon_switch, .icon_count = 1, .value_callback = ap1_light_cb,
};

constinit GaugeHeader ap_gauge =
    make_gauge_header<ap_gauge>("AP", ap_background, ap_size_x_mm, ap_mouse_rects.data(), ap_gauge_cb);

}  // namespace ap
