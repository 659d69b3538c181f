// The AP gauge's records: its header and its element tree, one chain of 28 elements drawn
// root first, so a later row lies over an earlier one. Each row below is one element with
// kind, picture, position, image_flags, failure list, special_flags, tokens and callback.
#include "ap/ap_gauge.h"

#include "ap/ap_lights.h"
#include "ap/ap_readouts.h"
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

using panel_shared::light_failures;
using panel_shared::var_positive_cb;
using panel_shared::var_value_cb;

// Bitmap resources of the module.
constexpr uint32_t background_picture = 101;
constexpr uint32_t red_light_picture = 102;
constexpr uint32_t green_light_picture = 103;
constexpr uint32_t white_light_picture = 104;
constexpr uint32_t select_label_picture = 105;
constexpr uint32_t disconnect_bar_pictures = 106;  // normal 106, disconnected 107
constexpr uint32_t toggle_lever_pictures = 108;    // 108 for value 0, 109 for value 1

constexpr uint32_t ap_size_x_mm = 804;
constexpr uint32_t amber = 0x0048B8F0;
constexpr PixelSize three_characters = {.width = 27, .height = 13};
constexpr PixelSize five_characters = {.width = 45, .height = 13};
constexpr uint32_t one_picture = 1;
constexpr uint32_t two_pictures = 2;
constexpr uint32_t drawn = 0x3;       // the background and the two switch pictures
constexpr uint32_t lit_or_shown = 0x7;  // read-outs, lights and labels
constexpr const FailureEntry* no_failures = nullptr;

// The next row as the only child of a row.
template <auto& next>
constinit ElementHeader* const followed_by[2] = {&next.header, nullptr};

constexpr ElementHeader ap_element(ElementKind kind, uint32_t resource_id, PixelPoint position, uint32_t image_flags,
                                   const FailureEntry* failure_list, uint32_t special_flags,
                                   ElementHeader* const* next_elements) {
    return element_header(kind, resource_id, position, {0, 0}, &ap_gauge, next_elements, failure_list, image_flags,
                          special_flags);
}

constexpr StringElement ap_readout(PixelPoint position, uint32_t special_flags, ElementHeader* const* next,
                                   uint32_t token, uint32_t second_token, PixelSize size, uint32_t char_count,
                                   ElementCallback callback) {
    return {.header = ap_element(string_element, no_resource, position, lit_or_shown, light_failures, special_flags,
                                 next),
            .source_vars = {module_var(token), module_var(second_token), module_var(0)}, .host_owned_144 = {}, .text = nullptr,
            .host_owned_188 = 0, .size = size, .host_owned_200 = {}, .fore_colour = amber, .back_colour = colour_black,
            .highlight_colour = colour_black, .host_owned_220 = {}, .font_name = KESTREL_READOUT_FONT,
            .font_weight = font_weight_normal, .font_charset = font_charset_default,
            .text_format = draw_text_centred_single_line, .char_count = char_count, .host_owned_296 = {},
            .value_callback = callback, .host_owned_316 = {}};
}

constexpr IconElement ap_icon(uint32_t resource_id, PixelPoint position, uint32_t image_flags,
                              const FailureEntry* failure_list, ElementHeader* const* next, uint32_t token,
                              uint32_t icon_count, ElementCallback callback) {
    return {.header = ap_element(icon_element, resource_id, position, image_flags, failure_list, 0, next),
            .source_var = module_var(token), .host_owned_88 = 0, .icon_switch = 0, .host_owned_96 = {},
            .icon_count = icon_count, .host_owned_116 = {}, .value_callback = callback, .host_owned_136 = 0};
}

// A light: one picture, shown while its callback returns 1.
constexpr IconElement ap_light(uint32_t resource_id, PixelPoint position, ElementHeader* const* next, uint32_t token,
                               ElementCallback callback) {
    return ap_icon(resource_id, position, lit_or_shown, light_failures, next, token, one_picture, callback);
}

}  // namespace

constinit GaugeRoot ap_background = {
    .background = {.header = ap_element(static_image_element, background_picture, {0, 0}, drawn, no_failures, 0,
                                        followed_by<vs_readout>),
                   .host_owned_60 = {}},
    .root = &ap_background.background.header,
};

//                                            position   special next                           tokens    text box           chars callback
constinit StringElement vs_readout =       ap_readout({758, 17}, 1, followed_by<altitude_readout>, 120, 0,   five_characters,  5, vs_readout_cb);
constinit StringElement altitude_readout = ap_readout({682, 17}, 1, followed_by<angle2_readout>,   109, 0,   five_characters,  5, altitude_readout_cb);
constinit StringElement angle2_readout =   ap_readout({553, 17}, 2, followed_by<speed_readout>,    107, 0,   three_characters, 3, angle2_readout_cb);
constinit StringElement speed_readout =    ap_readout({432, 17}, 1, followed_by<angle1_readout>,   116, 118, three_characters, 3, speed_readout_cb);
constinit StringElement angle1_readout =   ap_readout({282, 33}, 0, followed_by<qnh_std_light>,    45,  0,   three_characters, 3, angle1_readout_cb);

//                                                     picture               position    next                                 token callback
constinit IconElement qnh_std_light =         ap_light(green_light_picture,  {184, 33}, followed_by<airbrakes_light>,       0,   qnh_std_light_cb);
constinit IconElement airbrakes_light =       ap_light(green_light_picture,  {235, 74}, followed_by<lift_dumpers_light>,    324, airbrakes_light_cb);
constinit IconElement lift_dumpers_light =    ap_light(green_light_picture,  {210, 74}, followed_by<overspeed_light>,       866, lift_dumpers_light_cb);
constinit IconElement overspeed_light =       ap_light(red_light_picture,    {160, 74}, followed_by<red_light_135>,         68,  var_is_one_cb);
constinit IconElement red_light_135 =         ap_light(red_light_picture,    {135, 74}, followed_by<white_light_327>,       67,  var_is_one_cb);
constinit IconElement white_light_327 =       ap_light(white_light_picture,  {327, 74}, followed_by<panel_on_light>,        364, var_is_one_cb);
constinit IconElement panel_on_light =        ap_light(white_light_picture,  {28, 79},  followed_by<white_light_3>,         0,   panel_on_light_cb);
constinit IconElement white_light_3 =         ap_light(white_light_picture,  {3, 79},   followed_by<mode_light_637_63>,     740, var_is_one_cb);
constinit IconElement mode_light_637_63 =     ap_light(green_light_picture,  {637, 63}, followed_by<mode_light_611_63>,     113, var_is_one_cb);
constinit IconElement mode_light_611_63 =     ap_light(green_light_picture,  {611, 63}, followed_by<mode_light_637_38>,     112, var_is_one_cb);
constinit IconElement mode_light_637_38 =     ap_light(green_light_picture,  {637, 38}, followed_by<mode_light_611_38>,     104, var_is_one_cb);
constinit IconElement mode_light_611_38 =     ap_light(green_light_picture,  {611, 38}, followed_by<gps_hold_light>,        114, var_positive_cb);
constinit IconElement gps_hold_light =        ap_light(green_light_picture,  {637, 13}, followed_by<mode_light_611_13>,     848, gps_hold_light_cb);
constinit IconElement mode_light_611_13 =     ap_light(green_light_picture,  {611, 13}, followed_by<altitude_select_label>, 105, var_is_one_cb);
constinit IconElement altitude_select_label = ap_light(select_label_picture, {691, 37}, followed_by<angle2_select_label>,   108, var_is_one_cb);
constinit IconElement angle2_select_label =   ap_light(select_label_picture, {552, 37}, followed_by<speed_select_label>,    106, var_is_one_cb);
constinit IconElement speed_select_label =    ap_light(select_label_picture, {430, 37}, followed_by<toggle_lever>,          0,   speed_select_light_cb);

// The two switch pictures: two pictures each, chosen by value 0 or 1; no failure list.
constinit IconElement toggle_lever =
    ap_icon(toggle_lever_pictures, {392, 50}, drawn, no_failures, followed_by<disconnect_bar>, 792, two_pictures, var_value_cb);
constinit IconElement disconnect_bar =
    ap_icon(disconnect_bar_pictures, {472, 82}, drawn, no_failures, followed_by<light_495_16>, 0, two_pictures, disconnect_switch_cb);

// The engage lights share token 103; only their callbacks tell them apart.
constinit IconElement light_495_16 = ap_light(green_light_picture, {495, 16}, followed_by<ap2_light>, 123, var_is_one_cb);
constinit IconElement ap2_light =    ap_light(green_light_picture, {512, 50}, followed_by<ap1_light>, 103, ap2_light_cb);
constinit IconElement ap1_light =    ap_light(green_light_picture, {476, 50}, nullptr,                103, ap1_light_cb);

constinit GaugeHeader ap_gauge =
    make_gauge_header<ap_gauge>("AP", ap_background, ap_size_x_mm, ap_mouse_rects.data(), ap_gauge_cb);

}  // namespace ap
