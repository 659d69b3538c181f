// The AUTOBRAKE gauge's records: its header, the four-element chain with the upper
// needle's calibrated scale and the failure lists, and its fourteen click areas.
#include "autobrake/autobrake_gauge.h"

#include "shared/shared_callbacks.h"

namespace autobrake {

namespace {

// Bitmap resources of the module.
constexpr uint32_t background_picture = 110;
constexpr uint32_t needle_picture = 111;
constexpr uint32_t knob_picture = 112;
constexpr uint32_t light_picture = 113;

// Host variables the elements carry.
constexpr uint32_t needle_token = 329;
constexpr uint32_t light_token = 323;

constexpr uint32_t dial_help_id = 0xAB24;
constexpr uint32_t light_help_id = 0xAB51;
constexpr uint32_t knob_help_id = 0xAB7C;
constexpr uint32_t autobrake_needle_rate = 0;
constexpr uint32_t panel_icon_switch = 0;

// One row of the element table.
constexpr ElementHeader autobrake_element(ElementKind kind, uint32_t resource_id, PixelPoint position,
                                          PixelPoint anchor, uint32_t image_flags, const FailureEntry* failure_list,
                                          ElementHeader* const* next_elements) {
    return element_header(kind, resource_id, position, anchor, &autobrake_gauge, next_elements, failure_list,
                          image_flags, 0);
}

constexpr NeedleElement autobrake_needle(ElementHeader header, uint32_t token, const NonlinearityEntry* table,
                                         uint32_t table_count, ElementCallback callback) {
    return {.header = header, .source_var = module_var(token), .host_owned_88 = {}, .nonlinearity_table = table,
            .nonlinearity_count = table_count, .needle_rate = autobrake_needle_rate, .host_owned_124 = {},
            .value_callback = callback, .host_owned_228 = {}};
}

constinit const FailureEntry needle_failures[] = {
    {.failure_key = gauge_failure_key, .failure_action = needle_failure_action, .reserved = 0},
    {.failure_key = 0, .failure_action = 0, .reserved = 0},
};

// Points on the arc that the needle tip sweeps, about 22 pixels from its centre (36,26):
// straight above it at 0, clockwise along the right-hand side to below it at 16384.
constinit const NonlinearityEntry needle_scale[] = {
    {.point = {36, 4}, .value = 0.0, .host_owned = 0.0},
    {.point = {48, 8}, .value = 3120.0, .host_owned = 0.0},
    {.point = {57, 18}, .value = 5851.0, .host_owned = 0.0},
    {.point = {58, 31}, .value = 9752.0, .host_owned = 0.0},
    {.point = {40, 47}, .value = 16384.0, .host_owned = 0.0},
};
constexpr uint32_t needle_scale_count = sizeof needle_scale / sizeof needle_scale[0];
static_assert(needle_scale_count == 5);

constinit ElementHeader* const background_children[] = {&upper_needle.header, nullptr};
constinit ElementHeader* const needle_children[] = {&autobrake_light.header, nullptr};
constinit ElementHeader* const light_children[] = {&selector_knob.header, nullptr};

}  // namespace

// The chain, row by row: kind, picture, position, anchor, image_flags, failures, child.
constinit GaugeRoot autobrake_background = {
    .background = {.header = autobrake_element(static_image_element, background_picture, {0, 0}, {0, 0}, 0x3,
                                               nullptr, background_children),
                   .host_owned_60 = {}},
    .root = &autobrake_background.background.header,
};
constinit NeedleElement upper_needle = autobrake_needle(
    autobrake_element(needle_element, needle_picture, {36, 26}, {0, 3}, 0x83, needle_failures, needle_children),
    needle_token, needle_scale, needle_scale_count, panel_shared::var_value_cb);
constinit IconElement autobrake_light = {
    .header = autobrake_element(icon_element, light_picture, {25, 72}, {0, 0}, 0x7, panel_shared::light_failures,
                                light_children),
    .source_var = module_var(light_token), .host_owned_88 = 0, .icon_switch = panel_icon_switch,
    .host_owned_96 = {}, .icon_count = 1, .host_owned_116 = {}, .value_callback = panel_shared::var_positive_cb,
    .host_owned_136 = 0};
constinit NeedleElement selector_knob = autobrake_needle(
    autobrake_element(needle_element, knob_picture, {36, 121}, {14, 15}, 0x83, nullptr, nullptr), 0, nullptr, 0,
    autobrake_knob_cb);

// Each two-half area splits side by side: the dial's halves meet at gauge x 37, the
// knob's at x 39. No area has a tooltip.
constinit MouseRect autobrake_mouse_rects[autobrake_mouse_rect_count] = {
    mouse_parent_rect({0, 0, 0, 0}, 0),
    mouse_parent_rect({12, 1, 50, 51}, dial_help_id),
    mouse_child_rect({0, 0, 25, 51}, cursor_lower, mouse_flag_click, dial_left_click),
    mouse_child_rect({25, 0, 25, 51}, cursor_raise, mouse_flag_click, dial_right_click),
    mouse_end_of_parent_rect(),
    mouse_parent_rect({23, 71, 26, 14}, light_help_id),
    mouse_child_rect({0, 0, 26, 14}, cursor_push, mouse_flag_click, light_button_click),
    mouse_end_of_parent_rect(),
    mouse_parent_rect({18, 104, 42, 36}, knob_help_id),
    mouse_child_rect({0, 0, 21, 36}, cursor_lower, mouse_flag_click, autobrake_down),
    mouse_child_rect({21, 0, 21, 36}, cursor_raise, mouse_flag_click, autobrake_up),
    mouse_end_of_parent_rect(),
    mouse_end_of_parent_rect(),
    mouse_end_of_list_rect(),
};

constinit GaugeHeader autobrake_gauge = make_gauge_header<autobrake_gauge>(
    "AUTOBRAKE", autobrake_background, 73, autobrake_mouse_rects, autobrake_gauge_cb);

}  // namespace autobrake
