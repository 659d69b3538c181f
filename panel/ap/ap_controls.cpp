// The AP click handlers. Handlers act on the aircraft only through key events, and share
// the engage latches, targets and switches with the light and read-out callbacks.
#include "ap/ap_controls.h"

#include "ap/ap_state.h"
#include "elements.h"
#include "numeric.h"
#include "shared/shared_callbacks.h"

namespace ap {

namespace {

using panel::trigger_key_event;

// The sequence that tells the host to drop every autopilot mode; the GPS hold event goes
// seventh, and only while the host's GPS hold is 1.
constexpr uint32_t disengage_before_gps_hold[] = {0x100FF, 0x10238, 0x1023B, 0x1023E, 0x10241, 0x10244};
constexpr uint32_t disengage_after_gps_hold[] = {0x1011B, 0x10216, 0x10119, 0x10116, 0x1011A};

void send_disengage_sequence() {
    for (uint32_t event_id : disengage_before_gps_hold) trigger_key_event(event_id, 0);
    if (gps_hold_state == 1) trigger_key_event(event::gps_hold, 0);
    for (uint32_t event_id : disengage_after_gps_hold) trigger_key_event(event_id, 0);
}

bool engaged() { return ap_engaged_1 == 1 || ap_engaged_2 == 1; }

void engage_button(int32_t& own_latch, int32_t& other_latch) {
    if (ap_disconnect_switch == 1) {
        if (own_latch == 1) {
            own_latch = 0;
        } else {
            own_latch = 1;
            if (other_latch == 1) other_latch = 0;
            trigger_key_event(event::autopilot_engage, 0);
        }
    }
    if (ap_engaged_1 != 0 || ap_engaged_2 != 0) return;
    send_disengage_sequence();
}

// Selector steps: fine, or coarse when the click carries the coarse bit.
struct Steps {
    int32_t fine;
    int32_t coarse;
};
constexpr Steps angle_steps = {.fine = 1, .coarse = 10};
constexpr Steps speed_steps = {.fine = 1, .coarse = 10};
constexpr Steps hundreds_steps = {.fine = 100, .coarse = 1000};

constexpr int32_t step_of(Steps steps, uint32_t mouse_flags) {
    return (mouse_flags & mouse_flag_coarse) != 0 ? steps.coarse : steps.fine;
}

// Angles wrap once per click: a decrease can give 0 but never 360, an increase 360 but
// never 0. A target copied from the host can lie anywhere in the 32-bit range; worked in
// 64 bits, the corrected result always fits again because the correction goes against
// the step.
constexpr int32_t full_turn = 360;
int32_t wrapped_down(int32_t target, int32_t step) {
    int64_t turned = int64_t{target} - step;
    if (turned < 0) turned += full_turn;
    return static_cast<int32_t>(turned);
}
int32_t wrapped_up(int32_t target, int32_t step) {
    int64_t turned = int64_t{target} + step;
    if (turned > full_turn) turned -= full_turn;
    return static_cast<int32_t>(turned);
}

// Bounded targets: the limit is tested before the step, so one step may pass it and the
// next click pulls the target back. Stepping only towards the limit cannot overflow.
struct Limits {
    int32_t low;
    int32_t high;
};
constexpr Limits ias_limits = {.low = 0, .high = 400};
constexpr Limits mach_limits = {.low = 0, .high = 99};
constexpr Limits altitude_limits = {.low = 0, .high = 60000};
constexpr Limits vs_limits = {.low = -6000, .high = 6000};

int32_t bounded_down(int32_t target, int32_t step, Limits limits) {
    if (target < limits.low) return limits.low;
    if (target > limits.low) return target - step;
    return target;
}
int32_t bounded_up(int32_t target, int32_t step, Limits limits) {
    if (target > limits.high) return limits.high;
    if (target < limits.high) return target + step;
    return target;
}

// Negative targets go to the host as their two's-complement word.
void send_target(uint32_t event_id, int32_t target) { trigger_key_event(event_id, static_cast<uint32_t>(target)); }

}  // namespace

void send_if_engaged(uint32_t event_id) {
    if (engaged()) trigger_key_event(event_id, 0);
}

int32_t KESTREL_STDCALL ap_engage_1_click(const void*, uint32_t) {
    engage_button(ap_engaged_1, ap_engaged_2);
    return 0;
}

int32_t KESTREL_STDCALL ap_engage_2_click(const void*, uint32_t) {
    engage_button(ap_engaged_2, ap_engaged_1);
    return 0;
}

int32_t KESTREL_STDCALL ap_disconnect_click(const void*, uint32_t) {
    if (ap_disconnect_switch != 1) {
        ap_disconnect_switch = 1;
        return 0;
    }
    ap_disconnect_switch = 0;
    if (panel::lookup_var(ap_disconnect_check_var) == 1.0) trigger_key_event(event::disconnect, 0);
    ap_engaged_1 = 0;
    ap_engaged_2 = 0;
    send_disengage_sequence();
    return 0;
}

int32_t KESTREL_STDCALL switch_guarded_event_click(const void*, uint32_t) {
    if (ap_disconnect_switch == 1) trigger_key_event(event::disconnect, 0);
    return 0;
}

int32_t KESTREL_STDCALL speed_mode_click(const void*, uint32_t) {
    speed_mode_mach = panel_shared::toggled(speed_mode_mach);
    const double ias_hold = panel::lookup_var(ias_hold_var);
    const double mach_hold = panel::lookup_var(mach_hold_var);
    if (ias_hold == 1.0 || mach_hold == 1.0) trigger_key_event(speed_mode_mach == 0 ? event::ias_hold : event::mach_hold, 0);
    return 0;
}

int32_t KESTREL_STDCALL speed_hold_click(const void*, uint32_t) {
    trigger_key_event(speed_mode_mach == 0 ? event::ias_hold : event::mach_hold, 0);
    return 0;
}

int32_t KESTREL_STDCALL qnh_std_click(const void*, uint32_t) {
    qnh_std_on = panel_shared::toggled(qnh_std_on);
    return 0;
}

int32_t KESTREL_STDCALL airbrakes_click(const void*, uint32_t) {
    const int32_t next = airbrake_state + 1;
    if (next > 2) {
        airbrake_state = 0;
        trigger_key_event(event::airbrakes_retract, 0);
    } else {
        airbrake_state = next;
        trigger_key_event(next == 1 ? event::airbrakes_first_step : event::airbrakes_second_step, 0);
    }
    return 0;
}

int32_t KESTREL_STDCALL angle_1_down(const void*, uint32_t mouse_flags) {
    angle_target_1 = wrapped_down(angle_target_1, step_of(angle_steps, mouse_flags));
    send_target(event::angle_1_set, angle_target_1);
    return 0;
}

int32_t KESTREL_STDCALL angle_1_up(const void*, uint32_t mouse_flags) {
    angle_target_1 = wrapped_up(angle_target_1, step_of(angle_steps, mouse_flags));
    send_target(event::angle_1_set, angle_target_1);
    return 0;
}

int32_t KESTREL_STDCALL angle_2_down(const void*, uint32_t mouse_flags) {
    angle_target_2 = wrapped_down(angle_target_2, step_of(angle_steps, mouse_flags));
    send_target(event::angle_2_set, angle_target_2);
    return 0;
}

int32_t KESTREL_STDCALL angle_2_up(const void*, uint32_t mouse_flags) {
    trigger_key_event(event::angle_2_before_increase, 0);
    angle_target_2 = wrapped_up(angle_target_2, step_of(angle_steps, mouse_flags));
    send_target(event::angle_2_set, angle_target_2);
    return 0;
}

// The decreasing half starts from the host's current speed, whatever the mode.
int32_t KESTREL_STDCALL speed_down(const void*, uint32_t mouse_flags) {
    ias_target = truncate_to_int32(ias_value);
    mach_target = truncate_to_int32(mach_value_x100);
    const int32_t step = step_of(speed_steps, mouse_flags);
    if (speed_mode_mach == 0) {
        ias_target = bounded_down(ias_target, step, ias_limits);
        send_target(event::ias_set, ias_target);
    } else {
        mach_target = bounded_down(mach_target, step, mach_limits);
        send_target(event::mach_set, mach_target);
    }
    return 0;
}

int32_t KESTREL_STDCALL speed_up(const void*, uint32_t mouse_flags) {
    const int32_t step = step_of(speed_steps, mouse_flags);
    if (speed_mode_mach == 0) {
        ias_target = bounded_up(ias_target, step, ias_limits);
        send_target(event::ias_set, ias_target);
    } else {
        mach_target = bounded_up(mach_target, step, mach_limits);
        send_target(event::mach_set, mach_target);
    }
    return 0;
}

int32_t KESTREL_STDCALL altitude_down(const void*, uint32_t mouse_flags) {
    altitude_target = bounded_down(altitude_target, step_of(hundreds_steps, mouse_flags), altitude_limits);
    send_target(event::altitude_set, altitude_target);
    return 0;
}

int32_t KESTREL_STDCALL altitude_up(const void*, uint32_t mouse_flags) {
    altitude_target = bounded_up(altitude_target, step_of(hundreds_steps, mouse_flags), altitude_limits);
    send_target(event::altitude_set, altitude_target);
    return 0;
}

int32_t KESTREL_STDCALL vs_down(const void*, uint32_t mouse_flags) {
    vs_target = bounded_down(vs_target, step_of(hundreds_steps, mouse_flags), vs_limits);
    send_target(event::vs_set, vs_target);
    return 0;
}

int32_t KESTREL_STDCALL vs_up(const void*, uint32_t mouse_flags) {
    vs_target = bounded_up(vs_target, step_of(hundreds_steps, mouse_flags), vs_limits);
    send_target(event::vs_set, vs_target);
    return 0;
}

}  // namespace ap
