// The AP gauge's module state with its load values, its stand-alone host variables, and
// the two steps that several entries share: the target synchronisation and the tick test.
#include "ap/ap_state.h"

#include "numeric.h"

namespace ap {

constinit int32_t ap_engaged_1 = 0;
constinit int32_t ap_engaged_2 = 0;
constinit int32_t ap_disconnect_switch = 0;
constinit int32_t ap_engage_count = 0;
constinit int32_t gps_hold_state = 0;

constinit int32_t panel_on = 0;
constinit int32_t lift_dumpers_on = 0;
constinit int32_t lift_dumpers_flash_count = 0;
constinit int32_t airbrake_state = 0;
constinit int32_t airbrake_flash_count = 0;
constinit int32_t qnh_std_on = 0;

constinit int32_t speed_mode_mach = 0;
constinit int32_t ias_target = 100;
constinit int32_t mach_target = 10;
constinit int32_t angle_target_1 = 0;
constinit int32_t angle_target_2 = 0;
constinit int32_t altitude_target = 0;
constinit int32_t vs_target = 0;
constinit int32_t startup_sync_count = 0;

constinit double angle_value_1 = 0.0;
constinit double angle_value_2 = 0.0;
constinit double ias_value = 0.0;
constinit double mach_value_x100 = 0.0;
constinit double altitude_value = 0.0;
constinit double vs_value = 0.0;

constinit ModuleVar tick_var = {.token = 1};
constinit ModuleVar mach_hold_var = {.token = 115};
constinit ModuleVar ias_hold_var = {.token = 117};
constinit ModuleVar ap_disconnect_check_var = {.token = 123};
constinit ModuleVar airbrake_handle_var = {.token = 325};

// Host values may be NaN, infinite or far out of range: the truncation saturates.
void synchronise_targets() {
    ias_target = truncate_to_int32(ias_value);
    mach_target = truncate_to_int32(mach_value_x100);
    altitude_target = truncate_to_int32(altitude_value);
    vs_target = truncate_to_int32(vs_value);
    angle_target_1 = truncate_to_int32(angle_value_1);
    angle_target_2 = truncate_to_int32(angle_value_2);
}

bool tick_is_multiple_of(int32_t period) {
    return truncate_to_int32(panel::lookup_var(tick_var)) % period == 0;
}

}  // namespace ap
