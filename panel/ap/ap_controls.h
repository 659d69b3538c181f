// The AP click handlers: engage buttons and disconnect switch, mode buttons gated by the
// engage latches, the speed mode and hold buttons, the panel switches and the five
// selectors. Every handler returns 0; only the selector halves read the click's flags.
#pragma once

#include <cstdint>

#include "mouse.h"
#include "panel_services.h"

namespace ap {

// Key events the controls send, with value 0 unless a target goes with them.
namespace event {
inline constexpr uint32_t autopilot_engage = 0x10100;
inline constexpr uint32_t disconnect = 0x10144;
inline constexpr uint32_t toggle_lever = 0x102F0;
inline constexpr uint32_t ias_hold = 0x10163;
inline constexpr uint32_t mach_hold = 0x1017B;
inline constexpr uint32_t angle_1_set = 0x100B4;
inline constexpr uint32_t angle_2_before_increase = 0x10157;
inline constexpr uint32_t angle_2_set = 0x101FA;
inline constexpr uint32_t ias_set = 0x101F5;
inline constexpr uint32_t mach_set = 0x101F6;
inline constexpr uint32_t altitude_set = 0x1024C;
inline constexpr uint32_t vs_set = 0x101F4;
inline constexpr uint32_t airbrakes_first_step = 0x1013D;
inline constexpr uint32_t airbrakes_second_step = 0x10210;
inline constexpr uint32_t airbrakes_retract = 0x10211;
inline constexpr uint32_t gps_hold = 0x10347;
inline constexpr uint32_t panel_switch = 0x10173;
inline constexpr uint32_t lift_dumpers = 0x10356;
}  // namespace event

int32_t KESTREL_STDCALL ap_engage_1_click(const void* click_point, uint32_t mouse_flags);
int32_t KESTREL_STDCALL ap_engage_2_click(const void* click_point, uint32_t mouse_flags);
int32_t KESTREL_STDCALL ap_disconnect_click(const void* click_point, uint32_t mouse_flags);
int32_t KESTREL_STDCALL switch_guarded_event_click(const void* click_point, uint32_t mouse_flags);
int32_t KESTREL_STDCALL speed_mode_click(const void* click_point, uint32_t mouse_flags);
int32_t KESTREL_STDCALL speed_hold_click(const void* click_point, uint32_t mouse_flags);
int32_t KESTREL_STDCALL qnh_std_click(const void* click_point, uint32_t mouse_flags);
int32_t KESTREL_STDCALL airbrakes_click(const void* click_point, uint32_t mouse_flags);
int32_t KESTREL_STDCALL angle_1_down(const void* click_point, uint32_t mouse_flags);
int32_t KESTREL_STDCALL angle_1_up(const void* click_point, uint32_t mouse_flags);
int32_t KESTREL_STDCALL angle_2_down(const void* click_point, uint32_t mouse_flags);
int32_t KESTREL_STDCALL angle_2_up(const void* click_point, uint32_t mouse_flags);
int32_t KESTREL_STDCALL speed_down(const void* click_point, uint32_t mouse_flags);
int32_t KESTREL_STDCALL speed_up(const void* click_point, uint32_t mouse_flags);
int32_t KESTREL_STDCALL altitude_down(const void* click_point, uint32_t mouse_flags);
int32_t KESTREL_STDCALL altitude_up(const void* click_point, uint32_t mouse_flags);
int32_t KESTREL_STDCALL vs_down(const void* click_point, uint32_t mouse_flags);
int32_t KESTREL_STDCALL vs_up(const void* click_point, uint32_t mouse_flags);

// A mode button that sends its event only while an engage button is latched, and a
// button that always sends it. Each area gets a handler of its own.
void send_if_engaged(uint32_t event_id);
template <uint32_t event_id>
int32_t KESTREL_STDCALL engaged_event_click(const void*, uint32_t) {
    send_if_engaged(event_id);
    return 0;
}
template <uint32_t event_id>
int32_t KESTREL_STDCALL plain_event_click(const void*, uint32_t) {
    panel::trigger_key_event(event_id, 0);
    return 0;
}

}  // namespace ap
