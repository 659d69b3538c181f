// The AUTOBRAKE gauge as the host sees it: its header, its four-element chain and its
// click areas, and the state and routines behind them.
#pragma once

#include <cstdint>

#include "linkage.h"

namespace autobrake {

extern GaugeHeader autobrake_gauge;

// The chain in drawing order: background, upper needle, light, selector knob.
extern GaugeRoot autobrake_background;
extern NeedleElement upper_needle;
extern IconElement autobrake_light;
extern NeedleElement selector_knob;

// Three parents of one control each, inside one parent for the whole gauge.
inline constexpr std::size_t autobrake_mouse_rect_count = 14;
extern MouseRect autobrake_mouse_rects[autobrake_mouse_rect_count];

// The knob's position, 0 to 4, load value 1; only the knob's two halves move it.
extern int32_t autobrake_position;
// Host variable 753: while it is non-zero the gauge callback raises bit 0x4 on the needle.
extern ModuleVar needle_flag_var;

// The knob's angle in degrees for its position: 270, 0, 45, 90 or 135.
double KESTREL_STDCALL autobrake_knob_cb(ElementHeader* element);

// On service 6: marks the upper needle with 0x80000000 and sets or clears its 0x4 bit
// from host variable 753. Every other service id is ignored.
void KESTREL_STDCALL autobrake_gauge_cb(GaugeHeader* gauge, int32_t service_id, uint32_t extra);

// The click handlers; none reads the click point or the flag bits, each returns 0.
int32_t KESTREL_STDCALL dial_left_click(const void* click_point, uint32_t mouse_flags);
int32_t KESTREL_STDCALL dial_right_click(const void* click_point, uint32_t mouse_flags);
int32_t KESTREL_STDCALL light_button_click(const void* click_point, uint32_t mouse_flags);
int32_t KESTREL_STDCALL autobrake_down(const void* click_point, uint32_t mouse_flags);
int32_t KESTREL_STDCALL autobrake_up(const void* click_point, uint32_t mouse_flags);

}  // namespace autobrake
