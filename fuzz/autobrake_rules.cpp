// What the fuzzers check of the AUTOBRAKE gauge of KESTREL: knob position, light, needle
// and its image flags, and key events, after every action.
#include <algorithm>
#include <cmath>

#include "../tests/autobrake_gauge_ids.h"
#include "gauge_rules.h"

namespace {

using namespace kestrel::autobrake_ids;
using kestrel::fuzz::ActionKind;
using kestrel::fuzz::show;
using kestrel::fuzz::value_of;

void check_update(const kestrel::UpdateResult& update, const kestrel::PanelHost& host, const kestrel::fuzz::Place& where) {
    // The knob's five positions are the only angles it shows.
    const double angle = value_of(update, knob, where);
    constexpr double angles[] = {270.0, 0.0, 45.0, 90.0, 135.0};
    KESTREL_REQUIRE(std::find(std::begin(angles), std::end(angles), angle) != std::end(angles), where,
            "knob at " + show(angle) + ", not a position");
    const double lit = value_of(update, light, where);
    KESTREL_REQUIRE(lit == (host.var(light_var) > 0.0 ? 1.0 : -1.0), where,
            "light " + show(lit) + " for host value " + show(host.var(light_var)));
    const double needle = value_of(update, upper_needle, where);
    KESTREL_REQUIRE(kestrel::fuzz::bits_of(needle) == kestrel::fuzz::bits_of(host.var(needle_var)), where,
            "needle " + show(needle) + " is not the host's " + show(host.var(needle_var)));
}

void check_action(const kestrel::fuzz::Action& action, const kestrel::GaugeDriver& driver, const kestrel::PanelHost& host,
                  const std::vector<kestrel::KeyEvent>& events, const kestrel::fuzz::Place& where) {
    // The needle's stored flags are 0x83; service 6 raises 0x80000000 for good and makes
    // 0x4 follow token 753.
    const uint32_t flags = driver.element(upper_needle).image_flags;
    KESTREL_REQUIRE(flags == 0x83 || flags == 0x80000083 || flags == 0x80000087, where,
            "needle image flags " + std::to_string(flags));
    if (action.kind == ActionKind::service && static_cast<int32_t>(action.id) == service_needle_flags) {
        KESTREL_REQUIRE(flags == (host.var(needle_flag_var) != 0.0 ? 0x80000087u : 0x80000083u), where,
                "needle flags after service 6 do not follow token 753 at " + show(host.var(needle_flag_var)));
    }
    if (action.kind != ActionKind::click) {
        KESTREL_REQUIRE(events.empty(), where, "events sent outside a click");
        return;
    }
    // A click that a handler takes sends one event, or the knob's step event twice.
    for (const kestrel::KeyEvent& event : events) {
        KESTREL_REQUIRE(event.value == 0, where, "event sent with a value");
        KESTREL_REQUIRE(event.id == events.front().id, where, "one click sent two different events");
    }
    const bool knob_event = !events.empty() && (events.front().id == knob_down_event || events.front().id == knob_up_event);
    KESTREL_REQUIRE(events.size() <= (knob_event ? 2u : 1u), where, std::to_string(events.size()) + " events from one click");
}

const kestrel::fuzz::GaugeRules rules_of_gauge = {
    .gauge_name = "AUTOBRAKE",
    .twin_file = "KESTREL.so",
    .real_file = "KESTREL.GAU",
    .tokens = {light_var, needle_var, needle_flag_var, light_var, needle_var, needle_flag_var, 1},
    .sent_events = {dial_left_event, dial_right_event, light_button_event, knob_down_event, knob_up_event},
    .heard_events = {},
    .services = {service_needle_flags, service_needle_flags, 14, 15},
    .check_update = check_update,
    .check_action = check_action,
    .element_count = element_count,
};

}  // namespace

const kestrel::fuzz::GaugeRules& kestrel::fuzz::autobrake_rules() { return rules_of_gauge; }
