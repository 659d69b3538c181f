// The AP icons' element callbacks. The host refreshes each icon's own variable before it
// calls the callback; stand-alone variables are refreshed here through lookup_var.
// Host values are compared exactly: 0.5 is neither 0 nor 1.
#include "ap/ap_lights.h"

#include "ap/ap_state.h"
#include "numeric.h"
#include "shared/shared_callbacks.h"

namespace ap {

using panel_shared::light_if;
using panel_shared::own_value;

namespace {

// The engage edge comes once per engagement: the counter is held at this value.
constexpr int32_t engage_count_limit = 18;
// The flash cycle: counts 1..72, then 0, lit for counts 1..17.
constexpr int32_t flash_count_limit = 72;
constexpr int32_t flash_lit_calls = 17;
// Airbrake handle positions the host reports.
constexpr double handle_retracted = 0.0;
constexpr double handle_first_step = 4800.0;
constexpr double handle_second_step_above = 16380.0;
// The QNH standard setting is sent again on every tick that is a multiple of this.
constexpr int32_t qnh_repeat_ticks = 18;

constexpr bool flash_lit(int32_t count) { return count >= 1 && count <= flash_lit_calls; }
constexpr int32_t flash_step(int32_t count) { return count + 1 > flash_count_limit ? 0 : count + 1; }

}  // namespace

double KESTREL_STDCALL ap1_light_cb(ElementHeader* element) {
    const double autopilot = own_value(element);
    const int32_t engaged_2_on_entry = ap_engaged_2;
    if (autopilot == 1.0 && engaged_2_on_entry == 0) ++ap_engage_count;
    if (ap_engage_count == 1) {
        ap_engaged_1 = 1;
        ap_disconnect_switch = 1;
    }
    if (ap_engage_count > engage_count_limit) ap_engage_count = engage_count_limit;
    if (autopilot == 0.0) {
        ap_engage_count = 0;
        ap_engaged_1 = 0;
        ap_engaged_2 = 0;
        return panel_shared::light_dark;
    }
    return light_if(ap_engaged_1 == 1 && engaged_2_on_entry == 0);
}

double KESTREL_STDCALL ap2_light_cb(ElementHeader*) { return light_if(ap_engaged_2 == 1); }

double KESTREL_STDCALL var_is_one_cb(ElementHeader* element) { return light_if(own_value(element) == 1.0); }

double KESTREL_STDCALL disconnect_switch_cb(ElementHeader*) { return static_cast<double>(ap_disconnect_switch); }

double KESTREL_STDCALL speed_select_light_cb(ElementHeader*) {
    const double ias_hold = panel::lookup_var(ias_hold_var);
    const double mach_hold = panel::lookup_var(mach_hold_var);
    return light_if(ias_hold == 1.0 || mach_hold == 1.0);
}

double KESTREL_STDCALL gps_hold_light_cb(ElementHeader* element) {
    const double gps_hold = own_value(element);
    gps_hold_state = truncate_to_int32(gps_hold);
    return light_if(gps_hold == 1.0);
}

double KESTREL_STDCALL panel_on_light_cb(ElementHeader*) { return light_if(panel_on == 1); }

double KESTREL_STDCALL lift_dumpers_light_cb(ElementHeader* element) {
    const double lift_dumpers = own_value(element);
    // The counter steps with the flag as it was on entry.
    lift_dumpers_flash_count = lift_dumpers_on == 1 ? flash_step(lift_dumpers_flash_count) : 0;
    if (lift_dumpers == 1.0) lift_dumpers_on = 1;
    return light_if(flash_lit(lift_dumpers_flash_count) || lift_dumpers == 1.0);
}

// The handle is read afresh before each test, as the host may change it between lookups.
double KESTREL_STDCALL airbrakes_light_cb(ElementHeader* element) {
    const double second_input = own_value(element);
    if (panel::lookup_var(airbrake_handle_var) == handle_first_step && second_input == 1.0) {
        airbrake_state = 1;
        airbrake_flash_count = flash_step(airbrake_flash_count);
    } else {
        airbrake_flash_count = 0;
    }
    if (panel::lookup_var(airbrake_handle_var) > handle_second_step_above) airbrake_state = 2;
    if (panel::lookup_var(airbrake_handle_var) == handle_retracted) airbrake_state = 0;
    const double handle = panel::lookup_var(airbrake_handle_var);
    return light_if(flash_lit(airbrake_flash_count) || handle > handle_second_step_above);
}

double KESTREL_STDCALL qnh_std_light_cb(ElementHeader*) {
    if (qnh_std_on != 1) return panel_shared::light_dark;
    if (tick_is_multiple_of(qnh_repeat_ticks)) panel::trigger_key_event(qnh_set_event, qnh_standard_value);
    return light_if(qnh_std_on == 1);
}

}  // namespace ap
