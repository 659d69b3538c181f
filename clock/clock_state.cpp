// The clock's timekeeping step and the operations behind its knob and levers. The step
// finds the number of seconds that the gathered ticks complete by arithmetic, so one
// update costs the same at any rate the host reports.
#include "clock_state.h"

#include "numeric.h"

namespace digital_clock {

constinit int32_t chrono_mode = 0;
constinit int32_t display_page = 0;
constinit int32_t stopwatch1_running = 0;
constinit int32_t stopwatch2_running = 0;
constinit std::array<int32_t, timer_count> tick_count = {};
constinit std::array<int32_t, timer_count> half_minute_seconds = {};
constinit std::array<int32_t, timer_count> seconds = {};
constinit std::array<int32_t, timer_count> minutes = {};
constinit std::array<int32_t, timer_count> hours = {};

namespace {

constexpr int64_t seconds_per_wrap = int64_t{hours_before_wrap} * 3600;
// 30 seconds cost 30 * 18 + 1 ticks.
constexpr int64_t ticks_per_half_minute = seconds_per_correction * ticks_per_second + 1;

// Ticks that `count` further seconds consume when half_minute_seconds stands at `half`:
// 18 each, plus one for every time the half-minute counter wraps on the way.
constexpr int64_t ticks_for_seconds(int64_t half, int64_t count) {
    return ticks_per_second * count + (half + count) / seconds_per_correction;
}

// Seconds completed from `ticks` gathered ticks (at least 18): the count n for which the
// ticks left after n seconds first fall below 18. The ticks left after k seconds fall as
// k grows, so n is one more than the largest k whose cost stays within ticks - 18.
// 30 * cost(k) lies between 541k + half - 29 and 541k + half, so that k is the estimate
// below or one more: never a search whose length depends on the rate.
constexpr int64_t seconds_completed(int64_t ticks, int64_t half) {
    const int64_t spare = ticks - ticks_per_second;
    int64_t whole = (seconds_per_correction * spare - half) / ticks_per_half_minute;
    if (whole < 0) whole = 0;
    if (ticks_for_seconds(half, whole + 1) <= spare) ++whole;
    return whole + 1;
}

static_assert(seconds_completed(18, 0) == 1);
static_assert(seconds_completed(35, 0) == 1);
static_assert(seconds_completed(36, 0) == 2);
static_assert(seconds_completed(18, 29) == 1 && ticks_for_seconds(29, 1) == 19);
static_assert(seconds_completed(128, 0) == 7 && 128 - ticks_for_seconds(0, 7) == 2);

void advance_timer(std::size_t timer, double rate) {
    // The sum saturates at the ends of the 32-bit range instead of wrapping.
    const int32_t ticks = truncate_to_int32(static_cast<double>(tick_count[timer]) + rate);
    if (ticks < ticks_per_second) {
        tick_count[timer] = ticks;
        return;
    }
    const int64_t half = half_minute_seconds[timer];
    const int64_t completed = seconds_completed(ticks, half);
    tick_count[timer] = static_cast<int32_t>(ticks - ticks_for_seconds(half, completed));
    half_minute_seconds[timer] = static_cast<int32_t>((half + completed) % seconds_per_correction);

    const int64_t shown = (int64_t{hours[timer]} * 60 + minutes[timer]) * 60 + seconds[timer];
    const int64_t total = (shown + completed) % seconds_per_wrap;
    seconds[timer] = static_cast<int32_t>(total % 60);
    minutes[timer] = static_cast<int32_t>(total / 60 % 60);
    hours[timer] = static_cast<int32_t>(total / 3600);
}

// The clock's toggle: 0 becomes 1, any other value 0.
int32_t flipped(int32_t flag) { return flag == 0 ? 1 : 0; }

}  // namespace

void clock_tick(double rate) {
    // A rate that is not a number carries no ticks; adding it would lose the ones gathered.
    if (rate != rate) return;
    advance_timer(elapsed_timer, rate);
    if (stopwatch1_running == 1) advance_timer(stopwatch1, rate);
    if (stopwatch2_running == 1) advance_timer(stopwatch2, rate);
}

int32_t KESTREL_STDCALL start_stop_click(const void*, uint32_t) {
    if (chrono_mode == 1) {
        if (display_page == 0)
            stopwatch1_running = flipped(stopwatch1_running);
        else
            stopwatch2_running = flipped(stopwatch2_running);
    }
    return 0;
}

int32_t KESTREL_STDCALL reset_click(const void*, uint32_t) {
    if (chrono_mode == 1) {
        // The run flag stays: a running stopwatch goes on counting from zero.
        const std::size_t timer = display_page == 0 ? stopwatch1 : stopwatch2;
        tick_count[timer] = 0;
        half_minute_seconds[timer] = 0;
        seconds[timer] = 0;
        minutes[timer] = 0;
        hours[timer] = 0;
    }
    return 0;
}

int32_t KESTREL_STDCALL mode_click(const void*, uint32_t) {
    chrono_mode = flipped(chrono_mode);
    return 0;
}

int32_t KESTREL_STDCALL page_click(const void*, uint32_t) {
    display_page = flipped(display_page);
    return 0;
}

}  // namespace digital_clock
