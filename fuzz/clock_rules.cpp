// What the fuzzers check of the Digital_Clock gauge of KESTREL_TIMER: its counters and
// lighting as every update shows them, and the host variables it reads.
#include <cmath>
#include <cstring>

#include "../tests/clock_gauge_ids.h"
#include "gauge_rules.h"

namespace {

using namespace kestrel::clock_ids;
using kestrel::fuzz::show;
using kestrel::fuzz::value_of;

bool hidden(const kestrel::UpdateResult& update, Element element) {
    return (update.samples[element].image_flags & image_hidden) != 0;
}

// A stopwatch read-out: minutes and seconds in the first hour, then hours and minutes,
// so the first number is at most 99 and the second at most 59.
bool digit(char c) { return c >= '0' && c <= '9'; }
void check_stopwatch_text(const std::string& text, const kestrel::fuzz::Place& where) {
    const bool in_range = text.size() == 5 && digit(text[0]) && digit(text[1]) && text[2] == ':' &&
                          text[3] >= '0' && text[3] <= '5' && digit(text[4]);
    KESTREL_REQUIRE(in_range, where, "stopwatch read-out \"" + text + "\" is not two counters in range");
}

// The hand's angle for a count of seconds 0..59: 6 degrees a second, 17 and 47 one on.
bool is_counter_angle(double angle) {
    if (angle == 103.0 || angle == 283.0) return true;
    const double second = angle / 6.0;
    return second >= 0 && second < 60 && second == std::floor(second) && angle != 102.0 && angle != 282.0;
}

void check_update(const kestrel::UpdateResult& update, const kestrel::PanelHost& host, const kestrel::fuzz::Place& where) {
    const double page = value_of(update, page_lever, where);
    const double mode = value_of(update, mode_lever, where);
    KESTREL_REQUIRE(page == 0.0 || page == 1.0, where, "page lever returned " + show(page));
    KESTREL_REQUIRE(mode == 0.0 || mode == 1.0, where, "mode lever returned " + show(mode));

    // Lit pictures follow the lights variable on every update.
    const bool lit = host.var(lights) != 0.0;
    KESTREL_REQUIRE(hidden(update, lit_face) == !lit && hidden(update, lit_hand) == !lit && hidden(update, unlit_hand) == lit,
            where, std::string("lit and unlit pictures disagree with lights ") + show(host.var(lights)));

    // Both hands show the same angle: the unlit hand's callback counted before either.
    const double hand = value_of(update, unlit_hand, where);
    const double lit_angle = value_of(update, lit_hand, where);
    KESTREL_REQUIRE(kestrel::fuzz::bits_of(hand) == kestrel::fuzz::bits_of(lit_angle), where,
            "the hands disagree: " + show(hand) + " and " + show(lit_angle));
    if (host.var(rate) > 32.0) {
        KESTREL_REQUIRE(hand == 0.0, where, "hand not parked above rate 32: " + show(hand));
    } else if (mode == 1.0) {
        KESTREL_REQUIRE(is_counter_angle(hand), where, "stopwatch hand at " + show(hand) + ": seconds out of range");
    } else {
        double expected = host.var(time_seconds) * 6.0;
        if (expected == 102.0) expected = 103.0;
        if (expected == 282.0) expected = 283.0;
        KESTREL_REQUIRE(hand == expected || (std::isnan(hand) && std::isnan(expected)), where,
                "clock-page hand at " + show(hand) + " for seconds " + show(host.var(time_seconds)));
    }

    const std::string upper = *update.samples[upper_readout].text;
    const std::string lower = *update.samples[lower_readout].text;
    if (mode == 1.0) {
        check_stopwatch_text(lower, where);
        if (page == 0.0) {
            KESTREL_REQUIRE(upper == "     ", where, "stopwatch 1 page upper read-out \"" + upper + "\" is not blank");
        } else {
            // Hours 0..99 padded with a blank, then tenths of an hour.
            const bool in_range = upper.size() == 4 && (upper[0] == ' ' || (upper[0] >= '1' && upper[0] <= '9')) &&
                                  digit(upper[1]) && upper[2] == '.' && digit(upper[3]);
            KESTREL_REQUIRE(in_range, where, "elapsed read-out \"" + upper + "\" out of range");
        }
    }
}

const kestrel::fuzz::GaugeRules rules_of_gauge = {
    .gauge_name = "Digital_Clock",
    .twin_file = "KESTREL_TIMER.so",
    .real_file = "KESTREL_TIMER.gau",
    .tokens = {time1_hours, time1_minutes, time_seconds, time2_hours, time2_minutes, day_of_year, year, lights, rate,
               rate, rate, lights},
    .sent_events = {},
    .heard_events = {},
    .services = {},
    .check_update = check_update,
    .check_action = {},
    .element_count = element_count,
};

}  // namespace

const kestrel::fuzz::GaugeRules& kestrel::fuzz::clock_rules() { return rules_of_gauge; }
