// The clock's three timers as a pilot sees them: counted in host updates at the rate the
// host reports, read off the stopwatch read-outs and the seconds hand, and driven by
// clicks on the knob and the levers.
#include <cmath>
#include <limits>

#include "clock_gauge_fixture.h"

namespace clock_test {
namespace {

class ClockTimekeeping : public ClockGauge {
protected:
    // Chronometer page 0 with stopwatch 1 running: it counts exactly like the elapsed timer.
    void start_stopwatch1() {
        toggle_mode();
        start_stop();
    }
};

TEST_F(ClockTimekeeping, AtRateOneSecondsAndMinutesTurnAtTheirUpdates) {
    start_stopwatch1();
    EXPECT_EQ(hand_of(run(17)), 0.0);
    EXPECT_EQ(hand_of(run(1)), 6.0);           // update 18
    EXPECT_EQ(hand_of(run(539 - 18)), 174.0);  // update 539: 29 s
    EXPECT_EQ(hand_of(run(1)), 180.0);         // update 540: the 30th second took 19 ticks
    EXPECT_EQ(hand_of(run(18)), 180.0);        // update 558
    EXPECT_EQ(hand_of(run(1)), 186.0);         // update 559
    EXPECT_EQ(hand_of(run(1080 - 559)), 354.0);
    EXPECT_EQ(hand_of(run(1)), 0.0);           // update 1081
    EXPECT_EQ(lower(), "01:00");
    EXPECT_EQ(hand_of(run(1621 - 1081)), 174.0);  // each further half minute: 541 updates
    EXPECT_EQ(hand_of(run(1)), 180.0);

    // The rest of the first hour in one update, then rate 1 again: the elapsed timer's
    // first hour ends on tick 64,919 (every update at rate 1 is walked through directly
    // in the timekeeping step's own tests).
    update(64918 - 1622);
    toggle_page();
    EXPECT_EQ(upper(), " 0.9");
    run(1);
    EXPECT_EQ(upper(), " 1.0");
    toggle_page();
    EXPECT_EQ(lower(), "01:00");  // stopwatch 1 has turned to hours and minutes
}

TEST_F(ClockTimekeeping, OneUpdateCompletesAsManySecondsAsItsTicksAllow) {
    start_stopwatch1();
    EXPECT_EQ(hand_after(128), 42.0);  // 7 seconds, 2 ticks left over
    EXPECT_EQ(hand_of(update(15)), 42.0);   // 17 ticks
    EXPECT_EQ(hand_of(update(1)), 48.0);    // 18
}

TEST_F(ClockTimekeeping, FractionalRatesLoseTheirFractionOnEveryUpdate) {
    start_stopwatch1();
    EXPECT_EQ(hand_of(run(7, 2.7)), 0.0);  // 14 ticks, not 18.9
    EXPECT_EQ(hand_of(run(2, 2.7)), 6.0);  // 18
    EXPECT_EQ(hand_of(run(100, 0.5)), 6.0);
    EXPECT_EQ(hand_of(run(100, 0.0)), 6.0);
    EXPECT_EQ(hand_of(run(18, 1.0)), 12.0);
}

TEST_F(ClockTimekeeping, ANegativeRateLowersTheTicksAndNeverTurnsACounterBack) {
    start_stopwatch1();
    update(ticks_from_zero(100));
    EXPECT_EQ(lower(), "01:40");
    EXPECT_EQ(hand_of(run(10, -5.0)), 240.0);
    EXPECT_EQ(lower(), "01:40");
    EXPECT_EQ(hand_of(run(67, 1.0)), 240.0);  // from -50 ticks, 68 are needed
    EXPECT_EQ(hand_of(run(1, 1.0)), 246.0);
}

TEST_F(ClockTimekeeping, TimersWrapToZeroAfterNinetyNineHoursFiftyNineMinutesFiftyNineSeconds) {
    start_stopwatch1();
    EXPECT_EQ(hand_after(ticks_from_zero(100L * 3600 - 1)), 354.0);
    EXPECT_EQ(lower(), "99:59");
    toggle_page();
    EXPECT_EQ(upper(), "99.9");  // the elapsed timer, in hours and tenths
    toggle_page();
    EXPECT_EQ(hand_of(update(18)), 0.0);
    EXPECT_EQ(lower(), "00:00");
    toggle_page();
    EXPECT_EQ(upper(), " 0.0");
}

TEST_F(ClockTimekeeping, TheKnobDoesNothingOnTheClockPages) {
    start_stop();
    reset();
    toggle_page();
    start_stop();
    run(36, 1.0);
    toggle_mode();  // chronometer page 1: stopwatch 2
    EXPECT_EQ(hand_of(run(36, 1.0)), 0.0);
    EXPECT_EQ(lower(), "00:00");
    toggle_page();  // stopwatch 1
    EXPECT_EQ(lower(), "00:00");

    // Nor does a reset there stop or clear a running stopwatch.
    start_stop();
    update(ticks_from_zero(2));
    toggle_mode();
    reset();
    start_stop();
    toggle_mode();
    EXPECT_EQ(lower(), "00:02");
    EXPECT_EQ(hand_of(update(18)), 18.0);
}

TEST_F(ClockTimekeeping, ResetSetsTheSelectedStopwatchToZeroAndKeepsItsRunFlag) {
    start_stopwatch1();
    update(ticks_from_zero(100));
    reset();
    EXPECT_EQ(lower(), "00:00");
    EXPECT_EQ(hand_of(update(18)), 6.0);  // still running

    toggle_page();  // stopwatch 2: run, stop, reset
    start_stop();
    update(ticks_from_zero(10));
    start_stop();
    reset();
    EXPECT_EQ(lower(), "00:00");
    EXPECT_EQ(hand_of(update(18)), 0.0);  // still stopped
    toggle_page();
    EXPECT_EQ(lower(), "00:12");  // stopwatch 1 went on meanwhile
}

TEST_F(ClockTimekeeping, StopwatchesAndTheElapsedTimerCountApart) {
    start_stopwatch1();
    update(ticks_from_zero(100));
    toggle_page();
    EXPECT_EQ(lower(), "00:00");  // stopwatch 2 never started
    start_stop();
    update(ticks_from_zero(60));
    EXPECT_EQ(lower(), "01:00");
    toggle_page();
    EXPECT_EQ(lower(), "02:40");  // stopwatch 1 counted while page 1 was shown

    // The elapsed timer cannot be reset: reset on page 1 clears stopwatch 2 only.
    toggle_page();
    update(ticks_from_zero(7 * 60));
    EXPECT_EQ(upper(), " 0.1");
    reset();
    EXPECT_EQ(upper(), " 0.1");
    EXPECT_EQ(lower(), "00:00");
}

TEST_F(ClockTimekeeping, LeversSwitchTheirOwnVariableAndThePictureFollowsAtTheNextUpdate) {
    kestrel::UpdateResult result = update();
    EXPECT_EQ(*result.samples[mode_lever].value, 0.0);
    EXPECT_EQ(*result.samples[page_lever].value, 0.0);
    toggle_mode();
    result = update();
    EXPECT_EQ(*result.samples[mode_lever].value, 1.0);
    EXPECT_EQ(*result.samples[page_lever].value, 0.0);
    toggle_page();
    result = update();
    EXPECT_EQ(*result.samples[mode_lever].value, 1.0);
    EXPECT_EQ(*result.samples[page_lever].value, 1.0);
    toggle_mode();
    toggle_mode();
    toggle_mode();
    toggle_page();
    result = update();
    EXPECT_EQ(*result.samples[mode_lever].value, 0.0);
    EXPECT_EQ(*result.samples[page_lever].value, 0.0);
}

TEST_F(ClockTimekeeping, ClicksFindTheirAreaToThePixelAndNowhereElse) {
    // The knob's parts adjoin at x 13/14; the levers cover exactly their pictures.
    const struct {
        FacePixel pixel;
        std::optional<std::size_t> area;
    } cases[] = {
        {{7, 5}, start_stop_area},    {{13, 18}, start_stop_area}, {{14, 5}, reset_area},
        {{18, 18}, reset_area},       {{6, 10}, std::nullopt},     {{19, 10}, std::nullopt},
        {{10, 4}, std::nullopt},      {{10, 19}, std::nullopt},    {{0, 80}, mode_area},
        {{15, 95}, mode_area},        {{16, 88}, std::nullopt},    {{5, 96}, std::nullopt},
        {{87, 80}, page_area},        {{102, 95}, page_area},      {{86, 88}, std::nullopt},
        {{103, 88}, std::nullopt},    {{52, 52}, std::nullopt},    {{50, 30}, std::nullopt},
    };
    for (const auto& each : cases) {
        const kestrel::ClickResult result = driver.click(each.pixel.x, each.pixel.y, click_flags);
        EXPECT_EQ(result.area, each.area) << "at (" << each.pixel.x << ", " << each.pixel.y << ")";
        EXPECT_EQ(result.result, 0);
        EXPECT_EQ(result.help_id, 0xAA1Eu);
        // Undo the click so that every case starts from the same state.
        if (result.area) driver.click(each.pixel.x, each.pixel.y, click_flags);
    }
}

TEST_F(ClockTimekeeping, AClickOutsideTheAreasChangesNothing) {
    start_stopwatch1();
    update(ticks_from_zero(5));
    const kestrel::UpdateResult before = update();
    for (int32_t y = 0; y < 103; y += 3)
        for (int32_t x = 20; x < 86; x += 3) ASSERT_FALSE(driver.click(x, y, click_flags).area);
    const kestrel::UpdateResult after = update();
    for (std::size_t element = 0; element < before.samples.size(); ++element) {
        EXPECT_EQ(before.samples[element].value, after.samples[element].value) << element;
        EXPECT_EQ(before.samples[element].text, after.samples[element].text) << element;
    }
    EXPECT_EQ(hand_of(update(18)), 36.0);  // still running
}

TEST_F(ClockTimekeeping, EveryLoadStartsFromZero) {
    // Each test loads the module afresh; a state left by another test would show here.
    toggle_mode();
    EXPECT_EQ(lower(), "00:00");
    toggle_page();
    EXPECT_EQ(upper(), " 0.0");
    EXPECT_EQ(lower(), "00:00");
}

// Mends: the timekeeping step as first written counted the seconds one by one (so a huge
// rate hung the host) and converted an out-of-range sum with undefined behaviour.
TEST_F(ClockTimekeeping, AHugeRateFinishesAtOnceWithTheCountersOfTheTickRule) {
    start_stopwatch1();
    // 1e9 ticks: 1,848,428 half minutes of 541 ticks leave 452, which make 25 seconds
    // more and 2 ticks over. 55,452,865 s modulo 100 hours is 3 h 34 min 25 s.
    EXPECT_EQ(hand_after(1e9), 150.0);
    EXPECT_EQ(lower(), "03:34");
    EXPECT_EQ(hand_of(update(16)), 156.0);  // 2 + 16 = 18 ticks: one more second
    // A thousand such updates would take the counting loop some 5e10 passes.
    for (int i = 0; i < 1000; ++i) update(1e9);
    EXPECT_NE(seconds_of_angle(hand_of(update())), -1);
}

TEST_F(ClockTimekeeping, InfiniteAndOutOfRangeRatesSaturateTheTickCount) {
    start_stopwatch1();
    // +infinity gathers INT32_MAX ticks: 3,969,470 half minutes leave 377 ticks, 20 more
    // seconds and 17 ticks over: 119,084,120 s, or 78 h 55 min 20 s after the wrap.
    EXPECT_EQ(hand_after(std::numeric_limits<double>::infinity()), 120.0);
    EXPECT_EQ(lower(), "78:55");
    EXPECT_EQ(hand_of(update(1)), 126.0);  // 17 ticks were left, not a wrapped count

    reset();
    update(17);
    EXPECT_EQ(hand_after(2147483647.0), 120.0);  // 17 + INT32_MAX saturates too
    EXPECT_EQ(hand_of(update(1)), 126.0);

    // -infinity and sums below INT32_MIN stop at INT32_MIN: 2^31 + 18 ticks later the
    // stopwatch has gained exactly one second.
    reset();
    update(-std::numeric_limits<double>::infinity());
    update(-1e300);
    update(-1.0);
    EXPECT_EQ(hand_after(2147483648.0 + 17), 0.0);
    EXPECT_EQ(hand_of(update(1)), 6.0);
}

TEST_F(ClockTimekeeping, ARateThatIsNotANumberLeavesEveryTimerAsItWas) {
    start_stopwatch1();
    update(10);
    EXPECT_EQ(hand_of(update(std::nan(""))), 0.0);
    EXPECT_EQ(hand_of(update(8)), 6.0);  // the 10 ticks were kept
}

}  // namespace
}  // namespace clock_test
