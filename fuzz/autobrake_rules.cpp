// What the fuzzers check of the AUTOBRAKE gauge of KESTREL: knob position, light, needle
// and its image flags, and key events, after every action.
#include <algorithm>
#include <cmath>

#include "gauge_rules.h"

namespace {

using kestrel::fuzz::ActionKind;
using kestrel::fuzz::show;
using kestrel::fuzz::value_of;

enum Token : uint32_t { light_input = 323, needle_input = 329, needle_flag = 753 };
enum Element : std::size_t { upper_needle = 1, light = 2, knob = 3 };
constexpr uint32_t knob_down_event = 0x102FB;
constexpr uint32_t knob_up_event = 0x102FA;

void check_update(const kestrel::UpdateResult& update, const kestrel::PanelHost& host, const kestrel::fuzz::Place& where) {
    // The knob's five positions are the only angles it shows.
    const double angle = value_of(update, knob, where);
    constexpr double angles[] = {270.0, 0.0, 45.0, 90.0, 135.0};
    KESTREL_REQUIRE(std::find(std::begin(angles), std::end(angles), angle) != std::end(angles), where,
            "knob at " + show(angle) + ", not a position");
    const double lit = value_of(update, light, where);
    KESTREL_REQUIRE(lit == (host.var(light_input) > 0.0 ? 1.0 : -1.0), where,
            "light " + show(lit) + " for host value " + show(host.var(light_input)));
    const double needle = value_of(update, upper_needle, where);
    KESTREL_REQUIRE(kestrel::fuzz::bits_of(needle) == kestrel::fuzz::bits_of(host.var(needle_input)), where,
            "needle " + show(needle) + " is not the host's " + show(host.var(needle_input)));
}

void check_action(const kestrel::fuzz::Action& action, const kestrel::GaugeDriver& driver, const kestrel::PanelHost& host,
                  const std::vector<kestrel::KeyEvent>& events, const kestrel::fuzz::Place& where) {
    // The needle's stored flags are 0x83; service 6 raises 0x80000000 for good and makes
    // 0x4 follow token 753.
    const uint32_t flags = driver.element(upper_needle).image_flags;
    KESTREL_REQUIRE(flags == 0x83 || flags == 0x80000083 || flags == 0x80000087, where,
            "needle image flags " + std::to_string(flags));
    if (action.kind == ActionKind::service && static_cast<int32_t>(action.id) == 6) {
        KESTREL_REQUIRE(flags == (host.var(needle_flag) != 0.0 ? 0x80000087u : 0x80000083u), where,
                "needle flags after service 6 do not follow token 753 at " + show(host.var(needle_flag)));
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
    .tokens = {323, 329, 753, 323, 329, 753, 1},
    .sent_events = {0x100DF, 0x100DE, 0x100D8, knob_down_event, knob_up_event},
    .heard_events = {},
    .services = {6, 6, 14, 15},
    .check_update = check_update,
    .check_action = check_action,
    .element_count = 4,
};

}  // namespace

const kestrel::fuzz::GaugeRules& kestrel::fuzz::autobrake_rules() { return rules_of_gauge; }
