// The KESTREL_TIMER module's records: the Digital_Clock gauge header, its eight-element
// tree with failure lists, its click areas, and the exported Linkage.
#include "clock_gauge.h"

#include "clock_display.h"
#include "clock_state.h"

namespace digital_clock {

namespace {

// Bitmap resources of the module.
constexpr uint32_t face_picture = 8192;
constexpr uint32_t lit_face_picture = 8193;
constexpr uint32_t unlit_hand_picture = 8448;
constexpr uint32_t lit_hand_picture = 8449;
constexpr uint32_t page_lever_pictures = 8704;  // lying 8704, raised 8705
constexpr uint32_t mode_lever_pictures = 8720;  // lying 8720, raised 8721

constexpr uint32_t clock_help_id = 0xAA1E;
constexpr int32_t cursor_start_stop = 4;
constexpr uint32_t clock_needle_rate = 18;
constexpr uint32_t clock_icon_switch = 3;
constexpr uint32_t amber = 0x0040B4DC;
constexpr uint32_t grey_92 = 0x005C5C5C;
constexpr PixelSize readout_box = {.width = 36, .height = 36};
constexpr uint32_t readout_characters = 5;

constexpr ModuleVar no_var = module_var(0);

// One row of the element table.
constexpr ElementHeader clock_element(ElementKind kind, uint32_t resource_id, PixelPoint position,
                                      PixelPoint anchor, uint32_t image_flags, const FailureEntry* failure_list,
                                      ElementHeader* const* next_elements) {
    return element_header(kind, resource_id, position, anchor, &clock_gauge, next_elements, failure_list, image_flags, 0);
}

constexpr StringElement clock_readout(ElementHeader header, ElementCallback callback) {
    return {.header = header, .source_vars = {no_var, no_var, no_var}, .host_owned_144 = {}, .text = nullptr,
            .host_owned_188 = 0, .size = readout_box, .host_owned_200 = {}, .fore_colour = amber,
            .back_colour = colour_black, .highlight_colour = grey_92, .host_owned_220 = {}, .font_name = KESTREL_READOUT_FONT,
            .font_weight = font_weight_normal, .font_charset = font_charset_default,
            .text_format = draw_text_centred_single_line, .char_count = readout_characters,
            .host_owned_296 = {}, .value_callback = callback, .host_owned_316 = {}};
}

constexpr NeedleElement clock_hand(ElementHeader header, ElementCallback callback) {
    return {.header = header, .source_var = no_var, .host_owned_88 = {}, .nonlinearity_table = nullptr,
            .nonlinearity_count = 0, .needle_rate = clock_needle_rate, .host_owned_124 = {},
            .value_callback = callback, .host_owned_228 = {}};
}

constexpr IconElement clock_icon(ElementHeader header, uint32_t icon_count, ElementCallback callback) {
    return {.header = header, .source_var = no_var, .host_owned_88 = 0, .icon_switch = clock_icon_switch,
            .host_owned_96 = {}, .icon_count = icon_count, .host_owned_116 = {}, .value_callback = callback,
            .host_owned_136 = 0};
}

constinit const FailureEntry readout_failures[] = {
    {.failure_key = gauge_failure_key, .failure_action = readout_failure_action, .reserved = 0},
    {.failure_key = 0, .failure_action = 0, .reserved = 0},
};
constinit const FailureEntry hand_failures[] = {
    {.failure_key = gauge_failure_key, .failure_action = needle_failure_action, .reserved = 0},
    {.failure_key = 0, .failure_action = 0, .reserved = 0},
};

constinit ElementHeader* const face_children[] = {&lit_face.header, &upper_readout.header, &page_lever.header,
                                                  &mode_lever.header, nullptr};
constinit ElementHeader* const upper_readout_children[] = {&lower_readout.header, nullptr};
constinit ElementHeader* const lower_readout_children[] = {&unlit_hand.header, &lit_hand.header, nullptr};

}  // namespace

// The tree, row by row: kind, picture, position, anchor, image_flags, failures, children.
constinit GaugeRoot clock_face = {
    .background = {.header = clock_element(static_image_element, face_picture, {0, 0}, {0, 0}, 0x1,
                                           nullptr, face_children),
                   .host_owned_60 = {}},
    .root = &clock_face.background.header,
};
constinit IconElement lit_face = clock_icon(
    clock_element(icon_element, lit_face_picture, {5, 4}, {0, 0}, 0x40000005, nullptr, nullptr), 1, lit_face_cb);
constinit StringElement upper_readout = clock_readout(
    clock_element(string_element, no_resource, {36, 20}, {0, 0}, 0x7, readout_failures, upper_readout_children),
    upper_readout_cb);
constinit StringElement lower_readout = clock_readout(
    clock_element(string_element, no_resource, {36, 51}, {0, 0}, 0x7, readout_failures, lower_readout_children),
    lower_readout_cb);
constinit NeedleElement unlit_hand = clock_hand(
    clock_element(needle_element, unlit_hand_picture, {52, 52}, {6, 42}, 0x3, hand_failures, nullptr), hand_cb);
constinit NeedleElement lit_hand = clock_hand(
    clock_element(needle_element, lit_hand_picture, {52, 52}, {6, 42}, 0x40000007, hand_failures, nullptr),
    lit_hand_cb);
constinit IconElement page_lever = clock_icon(
    clock_element(icon_element, page_lever_pictures, {87, 80}, {0, 0}, 0x3, nullptr, nullptr), 2, page_lever_cb);
constinit IconElement mode_lever = clock_icon(
    clock_element(icon_element, mode_lever_pictures, {0, 80}, {0, 0}, 0x3, nullptr, nullptr), 2, mode_lever_cb);

// The knob's two parts adjoin: start/stop covers x 7..13, reset x 14..18.
constinit MouseRect clock_mouse_rects[7] = {
    mouse_parent_rect({0, 0, 0, 0}, clock_help_id),
    mouse_child_rect({7, 5, 7, 14}, cursor_start_stop, mouse_flag_click, start_stop_click),
    mouse_child_rect({14, 5, 5, 14}, cursor_push, mouse_flag_click, reset_click),
    mouse_child_rect({0, 80, 16, 16}, cursor_push, mouse_flag_click, mode_click),
    mouse_child_rect({87, 80, 16, 16}, cursor_push, mouse_flag_click, page_click),
    mouse_end_of_parent_rect(),
    mouse_end_of_list_rect(),
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
