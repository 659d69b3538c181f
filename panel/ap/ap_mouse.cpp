// The AP click-area list: one outer parent for the whole gauge holding 33 areas, each a
// parent with its help id or tooltip text, then its click areas, then its end. Boxes are
// background pixels (x, y, width, height), children relative to their parent.
#include "ap/ap_controls.h"
#include "ap/ap_gauge.h"

namespace ap {

namespace {

// Selector halves take the coarse bit and the host's 0x00200000 besides plain clicks.
constexpr uint32_t knob_flags = mouse_flag_click | mouse_flag_coarse | mouse_flag_0x00200000;
constexpr uint32_t no_help = 0;

constexpr MouseRect area(PixelBox box, uint32_t help_id) { return mouse_parent_rect(box, help_id); }
constexpr MouseRect tooltip(const char* text) { return mouse_tooltip_rect(text); }
constexpr MouseRect button(PixelBox box, ClickHandler handler) {
    return mouse_child_rect(box, cursor_push, mouse_flag_click, handler);
}
constexpr MouseRect knob(PixelBox box, int32_t cursor, ClickHandler handler) {
    return mouse_child_rect(box, cursor, knob_flags, handler);
}
constexpr MouseRect end() { return mouse_end_of_parent_rect(); }

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
    area({0, 0, 0, 0}, no_help),  // the whole gauge
    // A1, A2: the engage buttons.
    area({476, 50, 21, 21}, 0xAB0E), button({0, 0, 21, 21}, ap_engage_1_click), end(),
    area({512, 50, 21, 21}, 0xAB0E), button({0, 0, 21, 21}, ap_engage_2_click), end(),
    // A3: disconnect event while the switch is normal. A4: the disconnect switch.
    area({495, 16, 21, 21}, 0xAD91), button({0, 0, 21, 21}, switch_guarded_event_click), end(),
    area({472, 82, 64, 14}, no_help), tooltip(autopilot_disconnect_tip), button({0, 0, 64, 14}, ap_disconnect_click), end(),
    // A5: the toggle lever. A6: IAS/Mach mode.
    area({392, 50, 22, 22}, 0xAD90), button({0, 0, 22, 22}, plain_event_click<event::toggle_lever>), end(),
    area({398, 16, 12, 12}, no_help), tooltip(ias_mach_tip), button({0, 0, 12, 12}, speed_mode_click), end(),
    // A7: first angle knob. A8: speed knob. A9: speed hold. A10: second angle knob.
    area({276, 61, 37, 36}, 0xAD86), knob({0, 0, 18, 36}, cursor_lower, angle_1_down), knob({18, 0, 18, 36}, cursor_raise, angle_1_up), end(),
    area({426, 58, 37, 36}, 0xAD8F), knob({0, 0, 18, 36}, cursor_lower, speed_down), knob({18, 0, 18, 36}, cursor_raise, speed_up), end(),
    area({430, 37, 28, 14}, no_help), tooltip(ias_mach_hold_tip), button({0, 0, 28, 14}, speed_hold_click), end(),
    area({549, 58, 37, 36}, 0xAD88), knob({0, 0, 18, 36}, cursor_lower, angle_2_down), knob({18, 0, 18, 36}, cursor_raise, angle_2_up), end(),
    // A11: second angle select. A12: altitude knob. A13: altitude select.
    area({552, 37, 28, 14}, 0xAD87), button({0, 0, 28, 14}, engaged_event_click<0x10106>), end(),
    area({686, 58, 37, 36}, 0xAD8D), knob({0, 0, 18, 36}, cursor_lower, altitude_down), knob({18, 0, 18, 36}, cursor_raise, altitude_up), end(),
    area({691, 37, 28, 14}, 0xAD8C), button({0, 0, 28, 14}, engaged_event_click<0x10107>), end(),
    // A14: vertical speed wheel, upper half down, lower half up.
    area({767, 43, 25, 48}, 0xAD8B), knob({0, 0, 25, 24}, cursor_lower, vs_down), knob({0, 25, 25, 24}, cursor_raise, vs_up), end(),
    // A15 to A20: mode buttons, working only while an engage button is latched.
    area({611, 13, 21, 21}, 0xAD85), button({0, 0, 21, 21}, engaged_event_click<0x100C1>), end(),
    area({637, 13, 21, 21}, no_help), tooltip(gps_hold_tip), button({0, 0, 21, 21}, engaged_event_click<event::gps_hold>), end(),
    area({611, 38, 21, 21}, 0xAD84), button({0, 0, 21, 21}, engaged_event_click<0x10101>), end(),
    area({637, 38, 21, 21}, 0xAD80), button({0, 0, 21, 21}, engaged_event_click<0x100BF>), end(),
    area({611, 63, 21, 21}, 0xAD83), button({0, 0, 21, 21}, engaged_event_click<0x100BC>), end(),
    area({637, 63, 21, 21}, 0xAD82), button({0, 0, 21, 21}, engaged_event_click<0x100C0>), end(),
    // A21 to A26: panel switches.
    area({3, 79, 21, 21}, 0xAB0F), button({0, 0, 21, 21}, plain_event_click<0x102F5>), end(),
    area({28, 79, 21, 21}, no_help), tooltip(panel_switch_tip), button({0, 0, 21, 21}, plain_event_click<event::panel_switch>), end(),
    area({327, 74, 21, 21}, 0xAB13), button({0, 0, 21, 21}, plain_event_click<0x102C1>), end(),
    area({184, 33, 21, 21}, no_help), tooltip(qnh_standard_tip), button({0, 0, 21, 21}, qnh_std_click), end(),
    area({210, 74, 21, 21}, no_help), tooltip(lift_dumpers_tip), button({0, 0, 21, 21}, plain_event_click<event::lift_dumpers>), end(),
    area({235, 74, 21, 21}, no_help), tooltip(airbrakes_tip), button({0, 0, 21, 21}, airbrakes_click), end(),
    // A27 to A31: help over the read-out windows, sharing their knobs' help ids.
    area({277, 31, 36, 16}, 0xAD86), end(),
    area({426, 15, 36, 16}, 0xAD8F), end(),
    area({548, 15, 36, 16}, 0xAD88), end(),
    area({679, 15, 50, 16}, 0xAD8D), end(),
    area({755, 15, 46, 16}, 0xAD8B), end(),
    // A32, A33: help over the two red lights.
    area({135, 74, 21, 21}, 0xAB8E), end(),
    area({160, 74, 21, 21}, no_help), tooltip(overspeed_tip), end(),
    end(),  // the whole gauge
    mouse_end_of_list_rect(),
}};

}  // namespace ap
