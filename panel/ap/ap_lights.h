// The AP icons' element callbacks: lights that follow a host variable, the engage
// latches, the flashing Lift Dumpers and Airbrakes lights, the QNH repeat and the two
// switch pictures. One-picture lights return 1.0 lit and -1.0 dark.
#pragma once

#include "elements.h"

namespace ap {

double KESTREL_STDCALL ap1_light_cb(ElementHeader* element);
double KESTREL_STDCALL ap2_light_cb(ElementHeader* element);
double KESTREL_STDCALL var_is_one_cb(ElementHeader* element);
double KESTREL_STDCALL disconnect_switch_cb(ElementHeader* element);
double KESTREL_STDCALL speed_select_light_cb(ElementHeader* element);
double KESTREL_STDCALL gps_hold_light_cb(ElementHeader* element);
double KESTREL_STDCALL panel_on_light_cb(ElementHeader* element);
double KESTREL_STDCALL lift_dumpers_light_cb(ElementHeader* element);
double KESTREL_STDCALL airbrakes_light_cb(ElementHeader* element);
double KESTREL_STDCALL qnh_std_light_cb(ElementHeader* element);

// Key event that holds the altimeter at standard, and its value: 1013.2 hPa in sixteenths.
inline constexpr uint32_t qnh_set_event = 0x101F8;
inline constexpr uint32_t qnh_standard_value = 16211;

}  // namespace ap
