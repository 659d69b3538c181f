// The clock's timekeeping step against the tick rule counted one second at a time: the
// step computes the completed seconds instead, and must leave exactly the counters that
// the counting loop leaves, for any state and any rate where that loop finishes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "clock_state.h"
#include "numeric.h"

namespace {

namespace dc = digital_clock;

struct Timer {
    int32_t tick_count, half_minute_seconds, seconds, minutes, hours;
    bool operator==(const Timer&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Timer& t) {
    return out << "{ticks " << t.tick_count << ", half " << t.half_minute_seconds << ", " << t.hours << ":"
               << t.minutes << ":" << t.seconds << "}";
}

// The tick rule as first written: add the rate, then take 18 ticks a second, one more
// when the half-minute counter wraps, carrying into minutes and hours. The sum is stored
// through the same saturating conversion as the step's, and a rate that is not a number
// adds nothing: those are the mends, not part of what is compared.
Timer counted_one_by_one(Timer t, double rate) {
    if (std::isnan(rate)) return t;
    t.tick_count = truncate_to_int32(static_cast<double>(t.tick_count) + rate);
    while (t.tick_count >= 18) {
        t.tick_count -= 18;
        if (++t.half_minute_seconds == 30) {
            t.half_minute_seconds = 0;
            t.tick_count -= 1;
        }
        if (++t.seconds == 60) {
            t.seconds = 0;
            if (++t.minutes == 60) {
                t.minutes = 0;
                if (++t.hours == 100) t.hours = 0;
            }
        }
    }
    return t;
}

void store(std::size_t timer, const Timer& t) {
    dc::tick_count[timer] = t.tick_count;
    dc::half_minute_seconds[timer] = t.half_minute_seconds;
    dc::seconds[timer] = t.seconds;
    dc::minutes[timer] = t.minutes;
    dc::hours[timer] = t.hours;
}

Timer stored(std::size_t timer) {
    return {dc::tick_count[timer], dc::half_minute_seconds[timer], dc::seconds[timer], dc::minutes[timer],
            dc::hours[timer]};
}

class ClockTick : public testing::Test {
protected:
    void SetUp() override {
        dc::stopwatch1_running = 0;
        dc::stopwatch2_running = 0;
        for (std::size_t timer = 0; timer < dc::timer_count; ++timer) store(timer, {});
    }

    // Steps the elapsed timer from `start` and compares it with the loop.
    void expect_like_the_loop(const Timer& start, double rate) {
        store(dc::elapsed_timer, start);
        dc::clock_tick(rate);
        ASSERT_EQ(stored(dc::elapsed_timer), counted_one_by_one(start, rate)) << "from " << start << " at rate " << rate;
    }
};

TEST_F(ClockTick, MatchesTheCountingLoopOverRandomStatesAndRates) {
    std::mt19937 random(20021);  // fixed seed: the same cases on every run
    std::uniform_int_distribution<int32_t> tick(-40, 17), half(0, 29), sixty(0, 59), hundred(0, 99);
    std::uniform_real_distribution<double> exponent(-1.0, 5.5);
    std::uniform_int_distribution<int> sign(0, 9);
    for (int n = 0; n < 20000; ++n) {
        const int32_t seconds = sixty(random);
        // Half of the states keep the counters' own relation (seconds modulo 30), half
        // take any half-minute count.
        const Timer start = {tick(random), n % 2 ? seconds % 30 : half(random), seconds, sixty(random),
                             hundred(random)};
        double rate = std::pow(10.0, exponent(random));
        if (n % 3 == 0) rate = std::floor(rate);
        if (sign(random) == 0) rate = -rate;
        expect_like_the_loop(start, rate);
    }
}

TEST_F(ClockTick, MatchesTheCountingLoopAtTheEdges) {
    const std::vector<double> rates = {0,    0.5,  1,     17,    17.999, 18,   19,   35,      36,      37,
                                       540,  541,  542,   1081,  1082,   1083, -1,   -17.5,   64919,   64920,
                                       1e6,  6491981, 6491999, 123456789, -std::numeric_limits<double>::infinity(),
                                       -1e300};
    const std::vector<Timer> starts = {
        {0, 0, 0, 0, 0},   {-1, 0, 30, 0, 0},  {17, 29, 59, 59, 99}, {0, 29, 59, 59, 99},
        {17, 0, 0, 0, 0},  {-1, 29, 29, 0, 0}, {5, 14, 44, 30, 50},  {-2147483647 - 1, 0, 0, 0, 0},
    };
    for (const Timer& start : starts)
        for (double rate : rates) expect_like_the_loop(start, rate);

    // Sums at or beyond the top of the 32-bit range saturate there; the loop then takes
    // some 10^8 passes, so one such case is counted here.
    expect_like_the_loop({17, 29, 59, 59, 99}, std::numeric_limits<double>::infinity());
}

TEST_F(ClockTick, AtRateOneEveryUpdateTakesOneTick) {
    // Update numbers at which the elapsed timer first shows each reading.
    const struct {
        long update;
        Timer timer;
    } milestones[] = {
        {17, {17, 0, 0, 0, 0}},   {18, {0, 1, 1, 0, 0}},     {540, {-1, 0, 30, 0, 0}},
        {559, {0, 1, 31, 0, 0}},  {1081, {-1, 0, 0, 1, 0}},  {1622, {-1, 0, 30, 1, 0}},
        {64918, {17, 29, 59, 59, 0}}, {64919, {-1, 0, 0, 0, 1}},
    };
    long update = 0;
    for (const auto& milestone : milestones) {
        while (update < milestone.update) {
            dc::clock_tick(1.0);
            ++update;
        }
        EXPECT_EQ(stored(dc::elapsed_timer), milestone.timer) << "after update " << update;
    }
}

TEST_F(ClockTick, ARateOfABillionTakesTheSecondsTheRuleGives) {
    // 1e9 ticks: 1,848,428 half minutes of 541 ticks use 999,999,548; 452 are left, 25
    // seconds of 18 take 450. 55,452,865 s modulo 100 hours: 3 h 34 min 25 s.
    dc::clock_tick(1e9);
    EXPECT_EQ(stored(dc::elapsed_timer), (Timer{2, 25, 25, 34, 3}));
}

TEST_F(ClockTick, AdvancesTheElapsedTimerAlwaysAndAStopwatchOnlyWhileItsFlagIsOne) {
    dc::stopwatch1_running = 1;
    dc::stopwatch2_running = 2;  // not exactly 1
    dc::clock_tick(36);
    EXPECT_EQ(stored(dc::elapsed_timer), (Timer{0, 2, 2, 0, 0}));
    EXPECT_EQ(stored(dc::stopwatch1), (Timer{0, 2, 2, 0, 0}));
    EXPECT_EQ(stored(dc::stopwatch2), Timer{});
}

TEST_F(ClockTick, NotANumberChangesNoTimer) {
    dc::stopwatch1_running = 1;
    dc::stopwatch2_running = 1;
    const Timer start = {11, 4, 34, 12, 7};
    for (std::size_t timer = 0; timer < dc::timer_count; ++timer) store(timer, start);
    dc::clock_tick(std::nan(""));
    dc::clock_tick(-std::nan(""));
    for (std::size_t timer = 0; timer < dc::timer_count; ++timer) EXPECT_EQ(stored(timer), start) << timer;
}

}  // namespace
