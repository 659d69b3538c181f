// The KESTREL_TIMER module's records: the Digital_Clock gauge header, its eight-element
// tree with failure lists, its click areas, and the exported Linkage.
#include "clock_gauge.h"

#include "clock/clock_pictures.h"
#include "clock_display.h"
#include "clock_state.h"

namespace digital_clock {

namespace {

// Bitmap resources of the module, as its picture table numbers them. A lever names its
// first picture, lying down; the raised one follows it.
enum ClockPicture : uint32_t {
#define KESTREL_PICTURE_ID(name, id, file, width, height) name##_picture = id,
    KESTREL_CLOCK_PICTURES(KESTREL_PICTURE_ID)
#undef KESTREL_PICTURE_ID
};

constexpr uint32_t clock_help_id = 0xAA1E;
constexpr int32_t cursor_start_stop = 4;
constexpr uint32_t clock_needle_rate = 18;
constexpr uint32_t clock_icon_switch = 3;
constexpr uint32_t amber = 0x0040B4DC;
constexpr uint32_t grey_92 = 0x005C5C5C;
constexpr PixelSize readout_box = {.width = 36, .height = 36};
constexpr uint32_t readout_characters = 5;

// No clock element embeds a variable: its callbacks read module-level ones.
constexpr ModuleVar no_var = {.token = 0};

constinit const FailureEntry readout_failures[] = {
    {.failure_key = gauge_failure_key, .failure_action = readout_failure_action},
    {.failure_key = 0, .failure_action = 0},
};
constinit const FailureEntry hand_failures[] = {
    {.failure_key = gauge_failure_key, .failure_action = needle_failure_action},
    {.failure_key = 0, .failure_action = 0},
};

constinit ElementHeader* const face_children[] = {&lit_face.header, &upper_readout.header, &page_lever.header,
                                                  &mode_lever.header, nullptr};
constinit ElementHeader* const upper_readout_children[] = {&lower_readout.header, nullptr};
constinit ElementHeader* const lower_readout_children[] = {&unlit_hand.header, &lit_hand.header, nullptr};

}  // namespace

// The tree, row by row in drawing order. The lit face and the lit hand start hidden.
constinit GaugeRoot clock_face = {
    .background = {.header = {.element_kind = static_image_element, .resource_id = face_picture, .position = {0, 0},
                              .anchor = {0, 0}, .gauge_header = &clock_gauge, .next_elements = face_children,
                              .failure_list = nullptr, .image_flags = image_flag_1, .special_flags = 0}},
    .root = &clock_face.background.header,
};
constinit IconElement lit_face = {
    .header = {.element_kind = icon_element, .resource_id = lit_face_picture, .position = {5, 4}, .anchor = {0, 0},
               .gauge_header = &clock_gauge, .next_elements = nullptr, .failure_list = nullptr,
               .image_flags = image_hidden | image_flag_4 | image_flag_1, .special_flags = 0},
    .source_var = no_var, .icon_switch = clock_icon_switch, .icon_count = 1, .value_callback = lit_face_cb,
};
constinit StringElement upper_readout = {
    .header = {.element_kind = string_element, .resource_id = no_resource, .position = {36, 20}, .anchor = {0, 0},
               .gauge_header = &clock_gauge, .next_elements = upper_readout_children, .failure_list = readout_failures,
               .image_flags = image_flag_4 | image_flag_2 | image_flag_1, .special_flags = 0},
    .source_vars = {no_var, no_var, no_var}, .size = readout_box, .fore_colour = amber, .back_colour = colour_black,
    .highlight_colour = grey_92, .font_name = KESTREL_READOUT_FONT, .font_weight = font_weight_normal,
    .font_charset = font_charset_default, .text_format = draw_text_centred_single_line,
    .char_count = readout_characters, .value_callback = upper_readout_cb,
};
constinit StringElement lower_readout = {
    .header = {.element_kind = string_element, .resource_id = no_resource, .position = {36, 51}, .anchor = {0, 0},
               .gauge_header = &clock_gauge, .next_elements = lower_readout_children, .failure_list = readout_failures,
               .image_flags = image_flag_4 | image_flag_2 | image_flag_1, .special_flags = 0},
    .source_vars = {no_var, no_var, no_var}, .size = readout_box, .fore_colour = amber, .back_colour = colour_black,
    .highlight_colour = grey_92, .font_name = KESTREL_READOUT_FONT, .font_weight = font_weight_normal,
    .font_charset = font_charset_default, .text_format = draw_text_centred_single_line,
    .char_count = readout_characters, .value_callback = lower_readout_cb,
};
constinit NeedleElement unlit_hand = {
    .header = {.element_kind = needle_element, .resource_id = unlit_hand_picture, .position = {52, 52},
               .anchor = {6, 42}, .gauge_header = &clock_gauge, .next_elements = nullptr,
               .failure_list = hand_failures, .image_flags = image_flag_2 | image_flag_1, .special_flags = 0},
    .source_var = no_var, .nonlinearity_table = nullptr, .nonlinearity_count = 0, .needle_rate = clock_needle_rate,
    .value_callback = hand_cb,
};
constinit NeedleElement lit_hand = {
    .header = {.element_kind = needle_element, .resource_id = lit_hand_picture, .position = {52, 52},
               .anchor = {6, 42}, .gauge_header = &clock_gauge, .next_elements = nullptr,
               .failure_list = hand_failures, .image_flags = image_hidden | image_flag_4 | image_flag_2 | image_flag_1,
               .special_flags = 0},
    .source_var = no_var, .nonlinearity_table = nullptr, .nonlinearity_count = 0, .needle_rate = clock_needle_rate,
    .value_callback = lit_hand_cb,
};
constinit IconElement page_lever = {
    .header = {.element_kind = icon_element, .resource_id = page_lever_down_picture, .position = {87, 80},
               .anchor = {0, 0}, .gauge_header = &clock_gauge, .next_elements = nullptr, .failure_list = nullptr,
               .image_flags = image_flag_2 | image_flag_1, .special_flags = 0},
    .source_var = no_var, .icon_switch = clock_icon_switch, .icon_count = 2, .value_callback = page_lever_cb,
};
constinit IconElement mode_lever = {
    .header = {.element_kind = icon_element, .resource_id = mode_lever_down_picture, .position = {0, 80},
               .anchor = {0, 0}, .gauge_header = &clock_gauge, .next_elements = nullptr, .failure_list = nullptr,
               .image_flags = image_flag_2 | image_flag_1, .special_flags = 0},
    .source_var = no_var, .icon_switch = clock_icon_switch, .icon_count = 2, .value_callback = mode_lever_cb,
};

// The knob's two parts adjoin: start/stop covers x 7..13, reset x 14..18.
constinit MouseRect clock_mouse_rects[7] = {
    {.rect_kind = mouse_parent, .box = {0, 0, 0, 0}, .cursor = cursor_none, .help_id = clock_help_id, .mouse_flags = 0},
    {.rect_kind = mouse_child, .box = {7, 5, 7, 14}, .cursor = cursor_start_stop, .help_id = 0,
     .mouse_flags = mouse_flag_click, .target = {.handler = start_stop_click}},
    {.rect_kind = mouse_child, .box = {14, 5, 5, 14}, .cursor = cursor_push, .help_id = 0,
     .mouse_flags = mouse_flag_click, .target = {.handler = reset_click}},
    {.rect_kind = mouse_child, .box = {0, 80, 16, 16}, .cursor = cursor_push, .help_id = 0,
     .mouse_flags = mouse_flag_click, .target = {.handler = mode_click}},
    {.rect_kind = mouse_child, .box = {87, 80, 16, 16}, .cursor = cursor_push, .help_id = 0,
     .mouse_flags = mouse_flag_click, .target = {.handler = page_click}},
    mouse_end_of_parent_row,
    mouse_end_of_list_row,
};

constinit GaugeHeader clock_gauge =
    make_gauge_header<clock_gauge>("Digital_Clock", clock_face, 100, clock_mouse_rects, nullptr);

}  // namespace digital_clock

// The 2002 host's linkage: one gauge, and two distinct routines for init and deinit,
// both empty.
extern "C" {
constinit LinkageRecord<1> Linkage = {
    .module_id = module_id_word,
    .module_init = module_init,
    .module_deinit = module_deinit,
    .module_flags = 0,
    .module_priority = 0,
    .module_version = module_version_2002,
    .gauge_table = {&digital_clock::clock_gauge, nullptr},
};
}
