// What the clock shows: both read-outs on the four pages, the date worked out from the day
// of the year, the seconds hand's angle, the lit and unlit pictures, and read-outs that
// stay within the host's buffer whatever values the host hands over.
#include <cmath>
#include <limits>
#include <vector>

#include "clock_gauge_fixture.h"

namespace clock_test {
namespace {

constexpr uint32_t hidden = 0x40000000;

TEST_F(ClockGauge, ClockPageZeroShowsBothTimesOfDay) {
    host.set_var(time1_hours, 9.0);
    host.set_var(time1_minutes, 5.9);  // truncated, not rounded
    host.set_var(time2_hours, 14.0);
    host.set_var(time2_minutes, 30.0);
    const kestrel::UpdateResult result = update();
    EXPECT_EQ(text_of(result, upper_readout), " 9:05");
    EXPECT_EQ(text_of(result, lower_readout), "14:30");
    EXPECT_EQ(*result.samples[upper_readout].value, 0.0);
    EXPECT_EQ(*result.samples[lower_readout].value, 0.0);
}

struct DateCase {
    double day;
    double year;
    const char* upper;
};

class ClockDatePage : public ClockGauge, public testing::WithParamInterface<DateCase> {};

TEST_P(ClockDatePage, ShowsMonthAndDayOfMonth) {
    toggle_page();
    host.set_var(day_of_year, GetParam().day);
    host.set_var(year, GetParam().year);
    EXPECT_EQ(upper(), GetParam().upper);
}

INSTANTIATE_TEST_SUITE_P(
    LeapYearsAndMonthEnds, ClockDatePage,
    testing::Values(DateCase{60, 2004, " 2 29"}, DateCase{60, 2003, " 3  1"}, DateCase{366, 2004, "12 31"},
                    DateCase{1, 2004, " 1  1"}, DateCase{60, 2000, " 2 29"}, DateCase{60, 1900, " 3  1"},
                    DateCase{60, 2100, " 3  1"}, DateCase{31, 2003, " 1 31"}, DateCase{32, 2003, " 2  1"},
                    DateCase{59, 2003, " 2 28"}, DateCase{335, 2004, "11 30"}, DateCase{336, 2004, "12  1"},
                    DateCase{365, 2003, "12 31"}, DateCase{60.9, 2004, " 2 29"},
                    // Beyond the ends of the year: day 0 and days past December stay in range.
                    DateCase{0, 2003, " 1  0"}, DateCase{400, 2003, "12 66"}, DateCase{400, 2004, "12 65"}));

TEST_F(ClockGauge, DatePageShowsTheYearInTwoHalves) {
    toggle_page();
    host.set_var(year, 2003);
    EXPECT_EQ(lower(), "20 03");
    host.set_var(year, 2000);
    EXPECT_EQ(lower(), "20 00");
    host.set_var(year, 987);
    EXPECT_EQ(lower(), "09 87");
}

TEST_F(ClockGauge, ChronometerPageZeroShowsStopwatchOneInMinutesThenHours) {
    toggle_mode();
    start_stop();
    update(ticks_from_zero(5 * 60 + 7));
    EXPECT_EQ(upper(), "     ");
    EXPECT_EQ(lower(), "05:07");
    reset();
    update(ticks_from_zero(3600 + 5 * 60 + 7));
    EXPECT_EQ(lower(), "01:05");
}

TEST_F(ClockGauge, ChronometerPageOneShowsElapsedHoursAndTenthsAndStopwatchTwo) {
    toggle_mode();
    toggle_page();
    update(ticks_from_zero(5 * 60));
    EXPECT_EQ(upper(), " 0.0");
    update(ticks_from_zero(3600 + 54 * 60));  // 1 h 59 min in all
    EXPECT_EQ(upper(), " 1.9");
    EXPECT_EQ(lower(), "00:00");
}

TEST_F(ClockGauge, HandShowsTheHostSecondsOnTheClockPagesWithSeventeenAndFortySevenMoved) {
    const struct {
        double seconds;
        double angle;
    } cases[] = {{0, 0}, {16, 96}, {17, 103}, {18, 108}, {47, 283}, {46, 276}, {17.5, 105}, {59, 354}};
    for (int page = 0; page < 2; ++page) {
        for (const auto& each : cases) {
            host.set_var(time_seconds, each.seconds);
            const kestrel::UpdateResult result = update(1.0);
            EXPECT_EQ(hand_of(result), each.angle) << "page " << page << ", second " << each.seconds;
            EXPECT_EQ(*result.samples[lit_hand].value, each.angle) << "page " << page;
        }
        toggle_page();
    }
}

TEST_F(ClockGauge, HandShowsTheSelectedStopwatchOnTheChronometerPagesRunningOrNot) {
    host.set_var(time_seconds, 33);
    toggle_mode();
    start_stop();
    EXPECT_EQ(hand_after(ticks_from_zero(17)), 103.0);
    start_stop();  // stopped at 17 s
    toggle_page();
    start_stop();
    EXPECT_EQ(hand_after(ticks_from_zero(47)), 283.0);
    EXPECT_EQ(*update().samples[lit_hand].value, 283.0);
    start_stop();
    toggle_page();
    EXPECT_EQ(hand_of(update()), 103.0);
    toggle_mode();
    EXPECT_EQ(hand_of(update()), 198.0);  // the host's seconds again
}

TEST_F(ClockGauge, AboveARateOf32TheHandIsParkedWhileTheTimersCountOn) {
    toggle_mode();
    start_stop();
    EXPECT_EQ(hand_of(update(32.0)), 6.0);    // 1 s, 14 ticks over
    EXPECT_EQ(hand_of(update(32.5)), 0.0);    // 46 ticks: 3 s, parked
    EXPECT_EQ(*update(32.5).samples[lit_hand].value, 0.0);
    EXPECT_EQ(hand_of(update(0.0)), 30.0);    // 5 s
    toggle_mode();
    host.set_var(time_seconds, 20);
    EXPECT_EQ(hand_of(update(32.0)), 120.0);
    EXPECT_EQ(hand_of(update(1e6)), 0.0);
}

TEST_F(ClockGauge, LitAndUnlitPicturesFollowTheLightsAtEveryUpdate) {
    // As stored: the unlit pictures show until the first update.
    EXPECT_EQ(driver.element(lit_face).image_flags, 0x40000005u);
    EXPECT_EQ(driver.element(unlit_hand).image_flags, 0x3u);
    EXPECT_EQ(driver.element(lit_hand).image_flags, 0x40000007u);

    const auto flags = [&](double lights) {
        host.set_var(Token::lights, lights);
        const kestrel::UpdateResult result = update(1.0);
        return std::vector<uint32_t>{result.samples[lit_face].image_flags, result.samples[unlit_hand].image_flags,
                                     result.samples[lit_hand].image_flags};
    };
    const std::vector<uint32_t> unlit = {0x5 | hidden, 0x3, 0x7 | hidden};
    const std::vector<uint32_t> lit = {0x5, 0x3 | hidden, 0x7};
    EXPECT_EQ(flags(0.0), unlit);
    EXPECT_EQ(flags(1.0), lit);
    EXPECT_EQ(flags(1.0), lit);
    EXPECT_EQ(flags(0.0), unlit);
    EXPECT_EQ(flags(-1.0), lit);
    EXPECT_EQ(flags(1e-300), lit);
    EXPECT_EQ(flags(-0.0), unlit);

    // The timers count in the lit state too: the hidden hand's callback still runs.
    toggle_mode();
    start_stop();
    host.set_var(Token::lights, 1.0);
    EXPECT_EQ(*run(18, 1.0).samples[lit_hand].value, 6.0);
}

TEST_F(ClockGauge, EachPageRefreshesOnlyTheHostVariablesItUses) {
    const auto lookups_of_one_update = [&] {
        const std::size_t before = host.lookups().size();
        update();
        return std::vector<uint32_t>(host.lookups().begin() + static_cast<std::ptrdiff_t>(before),
                                     host.lookups().end());
    };
    // In drawing order: the lit face (lights), the read-outs, then each hand (lights, rate,
    // and the host's seconds on the clock pages).
    EXPECT_EQ(lookups_of_one_update(), (std::vector<uint32_t>{10, 3, 4, 6, 7, 10, 336, 5, 10, 336, 5}));
    toggle_page();
    EXPECT_EQ(lookups_of_one_update(), (std::vector<uint32_t>{10, 8, 9, 9, 10, 336, 5, 10, 336, 5}));
    toggle_mode();
    EXPECT_EQ(lookups_of_one_update(), (std::vector<uint32_t>{10, 10, 336, 10, 336}));
}

// Mend: whatever the host's values, a read-out writes at most five characters and the
// NUL. The driver checks guard bytes behind every buffer after each callback.
struct OversizeCase {
    Token token;
    double value;
    int page;  // clock page 0 (times) or 1 (date)
    Element readout;
    const char* text;
};

class ClockReadoutBounds : public ClockGauge, public testing::WithParamInterface<OversizeCase> {};

TEST_P(ClockReadoutBounds, TextsTooLongForTheWindowShowDashes) {
    const OversizeCase& each = GetParam();
    host.set_var(time1_hours, 9);
    host.set_var(time1_minutes, 5);
    host.set_var(time2_hours, 9);
    host.set_var(time2_minutes, 5);
    host.set_var(day_of_year, 60);
    host.set_var(year, 2004);
    if (each.page == 1) toggle_page();
    host.set_var(each.token, each.value);
    EXPECT_EQ(text_of(update(), each.readout), each.text);
}

constexpr double inf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    HostValuesOutOfRange, ClockReadoutBounds,
    testing::Values(OversizeCase{time1_hours, 12345, 0, upper_readout, "-----"},
                    OversizeCase{time1_hours, 100, 0, upper_readout, "-----"},
                    OversizeCase{time1_hours, -5, 0, upper_readout, "-5:05"},
                    OversizeCase{time1_minutes, 100, 0, upper_readout, "-----"},
                    OversizeCase{time1_minutes, -5, 0, upper_readout, " 9:-5"},
                    OversizeCase{time2_hours, 1e300, 0, lower_readout, "-----"},
                    OversizeCase{time2_hours, -inf, 0, lower_readout, "-----"},
                    OversizeCase{time2_minutes, std::nan(""), 0, lower_readout, " 9:00"},
                    OversizeCase{year, -5, 1, lower_readout, "-----"},
                    OversizeCase{year, 10000, 1, lower_readout, "-----"},
                    OversizeCase{year, 9999, 1, lower_readout, "99 99"},
                    OversizeCase{day_of_year, -1, 1, upper_readout, "-----"},
                    OversizeCase{day_of_year, 1e12, 1, upper_readout, "-----"},
                    OversizeCase{day_of_year, 434, 1, upper_readout, "12 99"},
                    OversizeCase{day_of_year, 435, 1, upper_readout, "-----"}));

TEST_F(ClockGauge, ElapsedHoursAndStopwatchesFitTheirWindowsAtEveryValue) {
    toggle_mode();
    start_stop();
    update(ticks_from_zero(100L * 3600 - 1));  // 99:59:59, the widest the timers get
    EXPECT_EQ(lower(), "99:59");
    toggle_page();
    EXPECT_EQ(upper(), "99.9");
}

}  // namespace
}  // namespace clock_test
