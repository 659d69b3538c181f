// The AP gauge's module state: latches, counters, targets and stored host values that the
// light callbacks, read-outs, click handlers and key-event listener share, and the
// stand-alone host variables they refresh through lookup_var.
#pragma once

#include <cstdint>

#include "elements.h"

namespace ap {

// Engage logic.
extern int32_t ap_engaged_1;          // first engage button latched (0/1)
extern int32_t ap_engaged_2;          // second engage button latched (0/1)
extern int32_t ap_disconnect_switch;  // disconnect switch: 1 normal, 0 disconnected
extern int32_t ap_engage_count;       // engage edge counter, held at 18
extern int32_t gps_hold_state;        // host GPS hold value, truncated

// Panel switches.
extern int32_t panel_on;                  // panel on/off flag, toggled by key events
extern int32_t lift_dumpers_on;           // lift dumper flag
extern int32_t lift_dumpers_flash_count;  // 0..72, lit at 1..17
extern int32_t airbrake_state;            // 0 retracted, 1 first step, 2 second step
extern int32_t airbrake_flash_count;      // 0..72, lit at 1..17
extern int32_t qnh_std_on;                // altimeter held at standard (0/1)

// Selectors. Targets are whole units of what each knob selects.
extern int32_t speed_mode_mach;     // 0 IAS, otherwise Mach
extern int32_t ias_target;          // IAS units, load value 100
extern int32_t mach_target;         // hundredths of Mach, load value 10
extern int32_t angle_target_1;      // degrees
extern int32_t angle_target_2;      // degrees
extern int32_t altitude_target;     // feet
extern int32_t vs_target;           // feet per minute, signed
extern int32_t startup_sync_count;  // speed read-out calls since load, held at 36

// The read-outs' last host values.
extern double angle_value_1;
extern double angle_value_2;
extern double ias_value;
extern double mach_value_x100;
extern double altitude_value;
extern double vs_value;

// Stand-alone host variables.
extern ModuleVar tick_var;                 // token 1: running tick number
extern ModuleVar mach_hold_var;            // token 115
extern ModuleVar ias_hold_var;             // token 117
extern ModuleVar ap_disconnect_check_var;  // token 123
extern ModuleVar airbrake_handle_var;      // token 325

// Copies the six stored host values into the six selector targets, truncated.
void synchronise_targets();

// The tick number, refreshed and truncated toward zero, is a multiple of `period`.
bool tick_is_multiple_of(int32_t period);

}  // namespace ap
