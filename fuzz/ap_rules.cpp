// What the fuzzers check of the AP gauge of KESTREL: lights, switch pictures, flash
// counters and key events, after every action.
#include <algorithm>
#include <cmath>

#include "../tests/ap_gauge_ids.h"
#include "gauge_rules.h"

namespace {

using namespace kestrel::ap_ids;
using kestrel::fuzz::ActionKind;
using kestrel::fuzz::show;
using kestrel::fuzz::value_of;

// One-picture lights and SELECT labels: 1.0 lit, -1.0 dark. Every icon but the two switch
// pictures.
constexpr Element one_picture_lights[] = {
    qnh_std_light, airbrakes_light, lift_dumpers_light, overspeed_light, red_light_135, white_light_327,
    panel_on_light, white_light_3, mode_light_637_63, mode_light_611_63, mode_light_637_38, mode_light_611_38,
    gps_hold_light, mode_light_611_13, altitude_select_label, angle2_select_label, speed_select_label,
    light_495_16, ap2_light, ap1_light,
};
// Events that carry a target; every other event is a command with value 0.
constexpr uint32_t set_events[] = {0x100B4, 0x101FA, 0x101F5, 0x101F6, 0x1024C, 0x101F4};

// A flashing light is lit for 17 calls of every 73 while its counter runs; a longer lit
// run without the host holding it steady means the counter left 0..72.
struct FlashWatch {
    int lift_dumpers_lit_run = 0;
    int airbrakes_lit_run = 0;
};
FlashWatch flash_watch;

void check_update(const kestrel::UpdateResult& update, const kestrel::PanelHost& host, const kestrel::fuzz::Place& where) {
    for (const Element light : one_picture_lights) {
        const double value = value_of(update, light, where);
        KESTREL_REQUIRE(value == 1.0 || value == -1.0, where, "light " + std::to_string(light) + " returned " + show(value));
    }
    const double bar = value_of(update, disconnect_bar, where);
    KESTREL_REQUIRE(bar == 0.0 || bar == 1.0, where, "disconnect switch picture " + show(bar));
    const double lever = value_of(update, toggle_lever, where);
    KESTREL_REQUIRE(kestrel::fuzz::bits_of(lever) == kestrel::fuzz::bits_of(host.var(toggle_lever_position)), where,
            "lever value " + show(lever) + " is not the host's " + show(host.var(toggle_lever_position)));

    const bool dumpers_steady = host.var(lift_dumpers) == 1.0;
    const bool dumpers_lit = value_of(update, lift_dumpers_light, where) == 1.0;
    flash_watch.lift_dumpers_lit_run = (dumpers_lit && !dumpers_steady) ? flash_watch.lift_dumpers_lit_run + 1 : 0;
    KESTREL_REQUIRE(flash_watch.lift_dumpers_lit_run <= 17, where, "lift dumpers light lit for more than 17 flashing calls");

    const bool airbrakes_steady = host.var(airbrake_handle) > 16380.0;
    const bool airbrakes_lit = value_of(update, airbrakes_light, where) == 1.0;
    flash_watch.airbrakes_lit_run = (airbrakes_lit && !airbrakes_steady) ? flash_watch.airbrakes_lit_run + 1 : 0;
    KESTREL_REQUIRE(flash_watch.airbrakes_lit_run <= 17, where, "airbrakes light lit for more than 17 flashing calls");
}

void check_action(const kestrel::fuzz::Action& action, const kestrel::GaugeDriver&, const kestrel::PanelHost&,
                  const std::vector<kestrel::KeyEvent>& events, const kestrel::fuzz::Place& where) {
    for (const kestrel::KeyEvent& event : events) {
        if (event.id == qnh_standard_event) {
            KESTREL_REQUIRE(event.value == qnh_standard_value, where, "standard pressure sent as " + std::to_string(event.value));
            KESTREL_REQUIRE(action.kind == ActionKind::update, where, "standard pressure sent outside an update");
            continue;
        }
        KESTREL_REQUIRE(action.kind == ActionKind::click, where, "event " + std::to_string(event.id) + " sent outside a click");
        if (std::find(std::begin(set_events), std::end(set_events), event.id) == std::end(set_events))
            KESTREL_REQUIRE(event.value == 0, where, "command " + std::to_string(event.id) + " sent with a value");
    }
    // A click sends at most the disconnect event and the 12-event disengage sequence; an
    // update at most the standard pressure once.
    const std::size_t most = action.kind == ActionKind::click ? 13 : action.kind == ActionKind::update ? action.id : 0;
    KESTREL_REQUIRE(events.size() <= most, where, std::to_string(events.size()) + " events from one action");
}

const kestrel::fuzz::GaugeRules rules_of_gauge = {
    .gauge_name = "AP",
    .twin_file = "KESTREL.so",
    .real_file = "KESTREL.GAU",
    .tokens = {tick, first_angle, red_light_67, overspeed, autopilot, autopilot, mode_104, mode_105, angle2_select,
               second_angle, altitude_select, altitude, mode_112, mode_113, mode_114, mach_hold, ias, ias_hold, mach,
               vertical_speed, disconnect_check, airbrakes_input, airbrake_handle, airbrake_handle, white_364,
               white_740, toggle_lever_position, gps_hold, lift_dumpers, lift_dumpers},
    .sent_events = {0x10100, 0x100FF, 0x10238, 0x1023B, 0x1023E, 0x10241, 0x10244, 0x10347, 0x1011B, 0x10216,
                    0x10119, 0x10116, 0x1011A, 0x10144, 0x102F0, 0x10163, 0x1017B, 0x100B4, 0x10157, 0x101FA,
                    0x101F5, 0x101F6, 0x1024C, 0x101F4, 0x10106, 0x10107, 0x100C1, 0x10101, 0x100BF, 0x100BC,
                    0x100C0, 0x102F5, 0x10173, 0x102C1, 0x10356, 0x1013D, 0x10210, 0x10211, qnh_standard_event},
    .heard_events = {panel_switch_event, lift_dumpers_event},
    .services = {14, 15, 14},
    .check_update = check_update,
    .check_action = check_action,
    .element_count = element_count,
    .start_run = [] { flash_watch = {}; },
};

}  // namespace

const kestrel::fuzz::GaugeRules& kestrel::fuzz::ap_rules() { return rules_of_gauge; }
