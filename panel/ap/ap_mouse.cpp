// The AP click-area list: one outer parent for the whole gauge holding 33 areas, each a
// parent with its help id or tooltip text, then its click areas, then its end. Boxes are
// background pixels (x, y, width, height), children relative to their parent.
#include "ap/ap_controls.h"
#include "ap/ap_gauge.h"

namespace ap {

namespace {

// Selector halves take the coarse bit and the host's 0x00200000 besides plain clicks.
constexpr uint32_t knob_flags = mouse_flag_click | mouse_flag_coarse | mouse_flag_0x00200000;

// Tooltip texts in Windows-1252: the first letter of the disconnect switch's is 0xC2.
constexpr char autopilot_disconnect_tip[] = "\xC2utopilot Disconnect Switch";
constexpr char ias_mach_tip[] = "IAS/MACH";
constexpr char ias_mach_hold_tip[] = "IAS/MACH Hold Switch";
constexpr char gps_hold_tip[] = "GPS Hold Switch";
constexpr char panel_switch_tip[] = "Panel On/Off Switch";
constexpr char qnh_standard_tip[] = "Set QNH to Standard";
constexpr char lift_dumpers_tip[] = "Lift Dumpers";
constexpr char airbrakes_tip[] = "Airbrakes";
constexpr char overspeed_tip[] = "Overspeed Warning Light";

}  // namespace

constinit std::array<MouseRect, ap_mouse_rect_count> ap_mouse_rects = {{
    // The whole gauge.
    {.rect_kind = mouse_parent, .box = {0, 0, 0, 0}, .cursor = cursor_none, .help_id = 0, .mouse_flags = 0},
    // A1, A2: the engage buttons.
    {.rect_kind = mouse_parent, .box = {476, 50, 21, 21}, .cursor = cursor_none, .help_id = 0xAB0E, .mouse_flags = 0},
    {.rect_kind = mouse_child, .box = {0, 0, 21, 21}, .cursor = cursor_push, .help_id = 0,
     .mouse_flags = mouse_flag_click, .target = {.handler = ap_engage_1_click}},
    mouse_end_of_parent_row,
    {.rect_kind = mouse_parent, .box = {512, 50, 21, 21}, .cursor = cursor_none, .help_id = 0xAB0E, .mouse_flags = 0},
    {.rect_kind = mouse_child, .box = {0, 0, 21, 21}, .cursor = cursor_push, .help_id = 0,
     .mouse_flags = mouse_flag_click, .target = {.handler = ap_engage_2_click}},
    mouse_end_of_parent_row,
    // A3: disconnect event while the switch is normal. A4: the disconnect switch.
    {.rect_kind = mouse_parent, .box = {495, 16, 21, 21}, .cursor = cursor_none, .help_id = 0xAD91, .mouse_flags = 0},
    {.rect_kind = mouse_child, .box = {0, 0, 21, 21}, .cursor = cursor_push, .help_id = 0,
     .mouse_flags = mouse_flag_click, .target = {.handler = switch_guarded_event_click}},
    mouse_end_of_parent_row,
    {.rect_kind = mouse_parent, .box = {472, 82, 64, 14}, .cursor = cursor_none, .help_id = 0, .mouse_flags = 0},
    {.rect_kind = mouse_tooltip_text, .box = {0, 0, 0, 0}, .cursor = cursor_none, .help_id = 0,
     .mouse_flags = 0, .target = {.tooltip = autopilot_disconnect_tip}},
    {.rect_kind = mouse_child, .box = {0, 0, 64, 14}, .cursor = cursor_push, .help_id = 0,
     .mouse_flags = mouse_flag_click, .target = {.handler = ap_disconnect_click}},
    mouse_end_of_parent_row,
    // A5: the toggle lever. A6: IAS/Mach mode.
    {.rect_kind = mouse_parent, .box = {392, 50, 22, 22}, .cursor = cursor_none, .help_id = 0xAD90, .mouse_flags = 0},
    {.rect_kind = mouse_child, .box = {0, 0, 22, 22}, .cursor = cursor_push, .help_id = 0,
     .mouse_flags = mouse_flag_click, .target = {.handler = plain_event_click<event::toggle_lever>}},
    mouse_end_of_parent_row,
    {.rect_kind = mouse_parent, .box = {398, 16, 12, 12}, .cursor = cursor_none, .help_id = 0, .mouse_flags = 0},
    {.rect_kind = mouse_tooltip_text, .box = {0, 0, 0, 0}, .cursor = cursor_none, .help_id = 0,
     .mouse_flags = 0, .target = {.tooltip = ias_mach_tip}},
    {.rect_kind = mouse_child, .box = {0, 0, 12, 12}, .cursor = cursor_push, .help_id = 0,
     .mouse_flags = mouse_flag_click, .target = {.handler = speed_mode_click}},
    mouse_end_of_parent_row,
    // A7: first angle knob. A8: speed knob. A9: speed hold. A10: second angle knob.
    {.rect_kind = mouse_parent, .box = {276, 61, 37, 36}, .cursor = cursor_none, .help_id = 0xAD86, .mouse_flags = 0},
    {.rect_kind = mouse_child, .box = {0, 0, 18, 36}, .cursor = cursor_lower, .help_id = 0,
     .mouse_flags = knob_flags, .target = {.handler = angle_1_down}},
    {.rect_kind = mouse_child, .box = {18, 0, 18, 36}, .cursor = cursor_raise, .help_id = 0,
     .mouse_flags = knob_flags, .target = {.handler = angle_1_up}},
    mouse_end_of_parent_row,
    {.rect_kind = mouse_parent, .box = {426, 58, 37, 36}, .cursor = cursor_none, .help_id = 0xAD8F, .mouse_flags = 0},
    {.rect_kind = mouse_child, .box = {0, 0, 18, 36}, .cursor = cursor_lower, .help_id = 0,
     .mouse_flags = knob_flags, .target = {.handler = speed_down}},
    {.rect_kind = mouse_child, .box = {18, 0, 18, 36}, .cursor = cursor_raise, .help_id = 0,
     .mouse_flags = knob_flags, .target = {.handler = speed_up}},
    mouse_end_of_parent_row,
    {.rect_kind = mouse_parent, .box = {430, 37, 28, 14}, .cursor = cursor_none, .help_id = 0, .mouse_flags = 0},
    {.rect_kind = mouse_tooltip_text, .box = {0, 0, 0, 0}, .cursor = cursor_none, .help_id = 0,
     .mouse_flags = 0, .target = {.tooltip = ias_mach_hold_tip}},
    {.rect_kind = mouse_child, .box = {0, 0, 28, 14}, .cursor = cursor_push, .help_id = 0,
     .mouse_flags = mouse_flag_click, .target = {.handler = speed_hold_click}},
    mouse_end_of_parent_row,
    {.rect_kind = mouse_parent, .box = {549, 58, 37, 36}, .cursor = cursor_none, .help_id = 0xAD88, .mouse_flags = 0},
    {.rect_kind = mouse_child, .box = {0, 0, 18, 36}, .cursor = cursor_lower, .help_id = 0,
     .mouse_flags = knob_flags, .target = {.handler = angle_2_down}},
    {.rect_kind = mouse_child, .box = {18, 0, 18, 36}, .cursor = cursor_raise, .help_id = 0,
     .mouse_flags = knob_flags, .target = {.handler = angle_2_up}},
    mouse_end_of_parent_row,
    // A11: second angle select. A12: altitude knob. A13: altitude select.
    {.rect_kind = mouse_parent, .box = {552, 37, 28, 14}, .cursor = cursor_none, .help_id = 0xAD87, .mouse_flags = 0},
    {.rect_kind = mouse_child, .box = {0, 0, 28, 14}, .cursor = cursor_push, .help_id = 0,
     .mouse_flags = mouse_flag_click, .target = {.handler = engaged_event_click<0x10106>}},
    mouse_end_of_parent_row,
    {.rect_kind = mouse_parent, .box = {686, 58, 37, 36}, .cursor = cursor_none, .help_id = 0xAD8D, .mouse_flags = 0},
    {.rect_kind = mouse_child, .box = {0, 0, 18, 36}, .cursor = cursor_lower, .help_id = 0,
     .mouse_flags = knob_flags, .target = {.handler = altitude_down}},
    {.rect_kind = mouse_child, .box = {18, 0, 18, 36}, .cursor = cursor_raise, .help_id = 0,
     .mouse_flags = knob_flags, .target = {.handler = altitude_up}},
    mouse_end_of_parent_row,
    {.rect_kind = mouse_parent, .box = {691, 37, 28, 14}, .cursor = cursor_none, .help_id = 0xAD8C, .mouse_flags = 0},
    {.rect_kind = mouse_child, .box = {0, 0, 28, 14}, .cursor = cursor_push, .help_id = 0,
     .mouse_flags = mouse_flag_click, .target = {.handler = engaged_event_click<0x10107>}},
    mouse_end_of_parent_row,
    // A14: vertical speed wheel, upper half down, lower half up.
    {.rect_kind = mouse_parent, .box = {767, 43, 25, 48}, .cursor = cursor_none, .help_id = 0xAD8B, .mouse_flags = 0},
    {.rect_kind = mouse_child, .box = {0, 0, 25, 24}, .cursor = cursor_lower, .help_id = 0,
     .mouse_flags = knob_flags, .target = {.handler = vs_down}},
    {.rect_kind = mouse_child, .box = {0, 25, 25, 24}, .cursor = cursor_raise, .help_id = 0,
     .mouse_flags = knob_flags, .target = {.handler = vs_up}},
    mouse_end_of_parent_row,
    // A15 to A20: mode buttons, working only while an engage button is latched.
    {.rect_kind = mouse_parent, .box = {611, 13, 21, 21}, .cursor = cursor_none, .help_id = 0xAD85, .mouse_flags = 0},
    {.rect_kind = mouse_child, .box = {0, 0, 21, 21}, .cursor = cursor_push, .help_id = 0,
     .mouse_flags = mouse_flag_click, .target = {.handler = engaged_event_click<0x100C1>}},
    mouse_end_of_parent_row,
    {.rect_kind = mouse_parent, .box = {637, 13, 21, 21}, .cursor = cursor_none, .help_id = 0, .mouse_flags = 0},
    {.rect_kind = mouse_tooltip_text, .box = {0, 0, 0, 0}, .cursor = cursor_none, .help_id = 0,
     .mouse_flags = 0, .target = {.tooltip = gps_hold_tip}},
    {.rect_kind = mouse_child, .box = {0, 0, 21, 21}, .cursor = cursor_push, .help_id = 0,
     .mouse_flags = mouse_flag_click, .target = {.handler = engaged_event_click<event::gps_hold>}},
    mouse_end_of_parent_row,
    {.rect_kind = mouse_parent, .box = {611, 38, 21, 21}, .cursor = cursor_none, .help_id = 0xAD84, .mouse_flags = 0},
    {.rect_kind = mouse_child, .box = {0, 0, 21, 21}, .cursor = cursor_push, .help_id = 0,
     .mouse_flags = mouse_flag_click, .target = {.handler = engaged_event_click<0x10101>}},
    mouse_end_of_parent_row,
    {.rect_kind = mouse_parent, .box = {637, 38, 21, 21}, .cursor = cursor_none, .help_id = 0xAD80, .mouse_flags = 0},
    {.rect_kind = mouse_child, .box = {0, 0, 21, 21}, .cursor = cursor_push, .help_id = 0,
     .mouse_flags = mouse_flag_click, .target = {.handler = engaged_event_click<0x100BF>}},
    mouse_end_of_parent_row,
    {.rect_kind = mouse_parent, .box = {611, 63, 21, 21}, .cursor = cursor_none, .help_id = 0xAD83, .mouse_flags = 0},
    {.rect_kind = mouse_child, .box = {0, 0, 21, 21}, .cursor = cursor_push, .help_id = 0,
     .mouse_flags = mouse_flag_click, .target = {.handler = engaged_event_click<0x100BC>}},
    mouse_end_of_parent_row,
    {.rect_kind = mouse_parent, .box = {637, 63, 21, 21}, .cursor = cursor_none, .help_id = 0xAD82, .mouse_flags = 0},
    {.rect_kind = mouse_child, .box = {0, 0, 21, 21}, .cursor = cursor_push, .help_id = 0,
     .mouse_flags = mouse_flag_click, .target = {.handler = engaged_event_click<0x100C0>}},
    mouse_end_of_parent_row,
    // A21 to A26: panel switches.
    {.rect_kind = mouse_parent, .box = {3, 79, 21, 21}, .cursor = cursor_none, .help_id = 0xAB0F, .mouse_flags = 0},
    {.rect_kind = mouse_child, .box = {0, 0, 21, 21}, .cursor = cursor_push, .help_id = 0,
     .mouse_flags = mouse_flag_click, .target = {.handler = plain_event_click<0x102F5>}},
    mouse_end_of_parent_row,
    {.rect_kind = mouse_parent, .box = {28, 79, 21, 21}, .cursor = cursor_none, .help_id = 0, .mouse_flags = 0},
    {.rect_kind = mouse_tooltip_text, .box = {0, 0, 0, 0}, .cursor = cursor_none, .help_id = 0,
     .mouse_flags = 0, .target = {.tooltip = panel_switch_tip}},
    {.rect_kind = mouse_child, .box = {0, 0, 21, 21}, .cursor = cursor_push, .help_id = 0,
     .mouse_flags = mouse_flag_click, .target = {.handler = plain_event_click<event::panel_switch>}},
    mouse_end_of_parent_row,
    {.rect_kind = mouse_parent, .box = {327, 74, 21, 21}, .cursor = cursor_none, .help_id = 0xAB13, .mouse_flags = 0},
    {.rect_kind = mouse_child, .box = {0, 0, 21, 21}, .cursor = cursor_push, .help_id = 0,
     .mouse_flags = mouse_flag_click, .target = {.handler = plain_event_click<0x102C1>}},
    mouse_end_of_parent_row,
    {.rect_kind = mouse_parent, .box = {184, 33, 21, 21}, .cursor = cursor_none, .help_id = 0, .mouse_flags = 0},
    {.rect_kind = mouse_tooltip_text, .box = {0, 0, 0, 0}, .cursor = cursor_none, .help_id = 0,
     .mouse_flags = 0, .target = {.tooltip = qnh_standard_tip}},
    {.rect_kind = mouse_child, .box = {0, 0, 21, 21}, .cursor = cursor_push, .help_id = 0,
     .mouse_flags = mouse_flag_click, .target = {.handler = qnh_std_click}},
    mouse_end_of_parent_row,
    {.rect_kind = mouse_parent, .box = {210, 74, 21, 21}, .cursor = cursor_none, .help_id = 0, .mouse_flags = 0},
    {.rect_kind = mouse_tooltip_text, .box = {0, 0, 0, 0}, .cursor = cursor_none, .help_id = 0,
     .mouse_flags = 0, .target = {.tooltip = lift_dumpers_tip}},
    {.rect_kind = mouse_child, .box = {0, 0, 21, 21}, .cursor = cursor_push, .help_id = 0,
     .mouse_flags = mouse_flag_click, .target = {.handler = plain_event_click<event::lift_dumpers>}},
    mouse_end_of_parent_row,
    {.rect_kind = mouse_parent, .box = {235, 74, 21, 21}, .cursor = cursor_none, .help_id = 0, .mouse_flags = 0},
    {.rect_kind = mouse_tooltip_text, .box = {0, 0, 0, 0}, .cursor = cursor_none, .help_id = 0,
     .mouse_flags = 0, .target = {.tooltip = airbrakes_tip}},
    {.rect_kind = mouse_child, .box = {0, 0, 21, 21}, .cursor = cursor_push, .help_id = 0,
     .mouse_flags = mouse_flag_click, .target = {.handler = airbrakes_click}},
    mouse_end_of_parent_row,
    // A27 to A31: help over the read-out windows, sharing their knobs' help ids.
    {.rect_kind = mouse_parent, .box = {277, 31, 36, 16}, .cursor = cursor_none, .help_id = 0xAD86, .mouse_flags = 0},
    mouse_end_of_parent_row,
    {.rect_kind = mouse_parent, .box = {426, 15, 36, 16}, .cursor = cursor_none, .help_id = 0xAD8F, .mouse_flags = 0},
    mouse_end_of_parent_row,
    {.rect_kind = mouse_parent, .box = {548, 15, 36, 16}, .cursor = cursor_none, .help_id = 0xAD88, .mouse_flags = 0},
    mouse_end_of_parent_row,
    {.rect_kind = mouse_parent, .box = {679, 15, 50, 16}, .cursor = cursor_none, .help_id = 0xAD8D, .mouse_flags = 0},
    mouse_end_of_parent_row,
    {.rect_kind = mouse_parent, .box = {755, 15, 46, 16}, .cursor = cursor_none, .help_id = 0xAD8B, .mouse_flags = 0},
    mouse_end_of_parent_row,
    // A32, A33: help over the two red lights.
    {.rect_kind = mouse_parent, .box = {135, 74, 21, 21}, .cursor = cursor_none, .help_id = 0xAB8E, .mouse_flags = 0},
    mouse_end_of_parent_row,
    {.rect_kind = mouse_parent, .box = {160, 74, 21, 21}, .cursor = cursor_none, .help_id = 0, .mouse_flags = 0},
    {.rect_kind = mouse_tooltip_text, .box = {0, 0, 0, 0}, .cursor = cursor_none, .help_id = 0,
     .mouse_flags = 0, .target = {.tooltip = overspeed_tip}},
    mouse_end_of_parent_row,
    mouse_end_of_parent_row,  // the whole gauge
    mouse_end_of_list_row,

}};

}  // namespace ap
