// The AUTOBRAKE gauge's records: its header, the four-element chain with the upper
// needle's calibrated scale and the failure lists, and its fourteen click areas.
#include "autobrake/autobrake_gauge.h"

#include "shared/pictures.h"
#include "shared/shared_callbacks.h"

namespace autobrake {

namespace {

using namespace panel_shared;

// Host variables the elements carry.
constexpr uint32_t needle_token = 329;
constexpr uint32_t light_token = 323;

constexpr uint32_t dial_help_id = 0xAB24;
constexpr uint32_t light_help_id = 0xAB51;
constexpr uint32_t knob_help_id = 0xAB7C;
constexpr uint32_t autobrake_needle_rate = 0;

constinit const FailureEntry needle_failures[] = {
    {.failure_key = gauge_failure_key, .failure_action = needle_failure_action},
    {.failure_key = 0, .failure_action = 0},
};

// Points on the arc that the needle tip sweeps, about 22 pixels from its centre (36,26):
// straight above it at 0, clockwise along the right-hand side to below it at 16384.
constinit const NonlinearityEntry needle_scale[] = {
    {.point = {36, 4}, .value = 0.0},
    {.point = {48, 8}, .value = 3120.0},
    {.point = {57, 18}, .value = 5851.0},
    {.point = {58, 31}, .value = 9752.0},
    {.point = {40, 47}, .value = 16384.0},
};
constexpr uint32_t needle_scale_count = sizeof needle_scale / sizeof needle_scale[0];
static_assert(needle_scale_count == 5);

constinit ElementHeader* const background_children[] = {&upper_needle.header, nullptr};
constinit ElementHeader* const needle_children[] = {&autobrake_light.header, nullptr};
constinit ElementHeader* const light_children[] = {&selector_knob.header, nullptr};

}  // namespace

// The chain, row by row in drawing order.
constinit GaugeRoot autobrake_background = {
    .background = {.header = {.element_kind = static_image_element, .resource_id = autobrake_background_picture,
                              .position = {0, 0}, .anchor = {0, 0}, .gauge_header = &autobrake_gauge,
                              .next_elements = background_children, .failure_list = nullptr,
                              .image_flags = image_flag_2 | image_flag_1, .special_flags = 0}},
    .root = &autobrake_background.background.header,
};
constinit NeedleElement upper_needle = {
    .header = {.element_kind = needle_element, .resource_id = autobrake_needle_picture, .position = {36, 26},
               .anchor = {0, 3}, .gauge_header = &autobrake_gauge, .next_elements = needle_children,
               .failure_list = needle_failures, .image_flags = image_flag_80 | image_flag_2 | image_flag_1,
               .special_flags = 0},
    .source_var = {.token = needle_token}, .nonlinearity_table = needle_scale, .nonlinearity_count = needle_scale_count,
    .needle_rate = autobrake_needle_rate, .value_callback = var_value_cb,
};
constinit IconElement autobrake_light = {
    .header = {.element_kind = icon_element, .resource_id = autobrake_light_picture, .position = {25, 72},
               .anchor = {0, 0}, .gauge_header = &autobrake_gauge, .next_elements = light_children,
               .failure_list = light_failures, .image_flags = image_flag_4 | image_flag_2 | image_flag_1,
               .special_flags = 0},
    .source_var = {.token = light_token}, .icon_switch = panel_icon_switch, .icon_count = 1,
    .value_callback = var_positive_cb,
};
constinit NeedleElement selector_knob = {
    .header = {.element_kind = needle_element, .resource_id = autobrake_knob_picture, .position = {36, 121},
               .anchor = {14, 15}, .gauge_header = &autobrake_gauge, .next_elements = nullptr, .failure_list = nullptr,
               .image_flags = image_flag_80 | image_flag_2 | image_flag_1, .special_flags = 0},
    .source_var = {.token = 0}, .nonlinearity_table = nullptr, .nonlinearity_count = 0,
    .needle_rate = autobrake_needle_rate, .value_callback = autobrake_knob_cb,
};

// Each two-half area splits side by side: the dial's halves meet at gauge x 37, the
// knob's at x 39. No area has a tooltip.
constinit MouseRect autobrake_mouse_rects[autobrake_mouse_rect_count] = {
    {.rect_kind = mouse_parent, .box = {0, 0, 0, 0}, .cursor = cursor_none, .help_id = 0, .mouse_flags = 0},
    {.rect_kind = mouse_parent, .box = {12, 1, 50, 51}, .cursor = cursor_none, .help_id = dial_help_id,
     .mouse_flags = 0},
    {.rect_kind = mouse_child, .box = {0, 0, 25, 51}, .cursor = cursor_lower, .help_id = 0,
     .mouse_flags = mouse_flag_click, .target = {.handler = dial_left_click}},
    {.rect_kind = mouse_child, .box = {25, 0, 25, 51}, .cursor = cursor_raise, .help_id = 0,
     .mouse_flags = mouse_flag_click, .target = {.handler = dial_right_click}},
    mouse_end_of_parent_row,
    {.rect_kind = mouse_parent, .box = {23, 71, 26, 14}, .cursor = cursor_none, .help_id = light_help_id,
     .mouse_flags = 0},
    {.rect_kind = mouse_child, .box = {0, 0, 26, 14}, .cursor = cursor_push, .help_id = 0,
     .mouse_flags = mouse_flag_click, .target = {.handler = light_button_click}},
    mouse_end_of_parent_row,
    {.rect_kind = mouse_parent, .box = {18, 104, 42, 36}, .cursor = cursor_none, .help_id = knob_help_id,
     .mouse_flags = 0},
    {.rect_kind = mouse_child, .box = {0, 0, 21, 36}, .cursor = cursor_lower, .help_id = 0,
     .mouse_flags = mouse_flag_click, .target = {.handler = autobrake_down}},
    {.rect_kind = mouse_child, .box = {21, 0, 21, 36}, .cursor = cursor_raise, .help_id = 0,
     .mouse_flags = mouse_flag_click, .target = {.handler = autobrake_up}},
    mouse_end_of_parent_row,
    mouse_end_of_parent_row,
    mouse_end_of_list_row,
};

constinit GaugeHeader autobrake_gauge = make_gauge_header<autobrake_gauge>(
    "AUTOBRAKE", autobrake_background, 73, autobrake_mouse_rects, autobrake_gauge_cb);

}  // namespace autobrake
