// The clock's own state: three timers counted in ticks of the host's update (18 to the
// second), the page switches and run flags, the timekeeping step and the four operations
// that the knob and the levers perform.
#pragma once

#include <array>
#include <cstdint>

#include "abi.h"

namespace digital_clock {

inline constexpr int32_t ticks_per_second = 18;
// The second that completes each half minute takes one tick more: 30 seconds take 541 ticks.
inline constexpr int32_t seconds_per_correction = 30;
inline constexpr int32_t hours_before_wrap = 100;

// Timer numbers: the index into every counter array.
enum TimerId : int32_t { elapsed_timer = 0, stopwatch1 = 1, stopwatch2 = 2 };
inline constexpr std::size_t timer_count = 3;

// Every variable is zero at load and shared by every instance of the gauge.
extern int32_t chrono_mode;         // 0 clock pages, 1 chronometer pages
extern int32_t display_page;        // page of the current mode; also the stopwatch the knob acts on
extern int32_t stopwatch1_running;  // 1: stopwatch 1 counts
extern int32_t stopwatch2_running;  // 1: stopwatch 2 counts
extern std::array<int32_t, timer_count> tick_count;           // ticks towards the next second
extern std::array<int32_t, timer_count> half_minute_seconds;  // seconds modulo 30
extern std::array<int32_t, timer_count> seconds;              // 0..59
extern std::array<int32_t, timer_count> minutes;              // 0..59
extern std::array<int32_t, timer_count> hours;                // 0..99, wraps after 99

// Advances the elapsed timer and each running stopwatch by rate ticks. Takes the same
// time for every rate: the seconds completed are computed, not counted one by one.
void clock_tick(double rate);

// The four click handlers; none reads its arguments and each returns 0.
int32_t KESTREL_STDCALL start_stop_click(const void* click_point, uint32_t mouse_flags);
int32_t KESTREL_STDCALL reset_click(const void* click_point, uint32_t mouse_flags);
int32_t KESTREL_STDCALL mode_click(const void* click_point, uint32_t mouse_flags);
int32_t KESTREL_STDCALL page_click(const void* click_point, uint32_t mouse_flags);

}  // namespace digital_clock
