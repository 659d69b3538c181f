// The clock's seven element callbacks: the two read-outs on each of the four pages, the
// seconds hands (the unlit one also drives the timekeeping step), the lit face and levers.
#include "clock_display.h"

#include <array>

#include "clock_state.h"
#include "numeric.h"
#include "readout_format.h"

namespace digital_clock {

namespace {
}  // namespace

constinit ModuleVar time1_hours_var = {.token = 3};
constinit ModuleVar time1_minutes_var = {.token = 4};
constinit ModuleVar time_seconds_var = {.token = 5};
constinit ModuleVar time2_hours_var = {.token = 6};
constinit ModuleVar time2_minutes_var = {.token = 7};
constinit ModuleVar day_of_year_var = {.token = 8};
constinit ModuleVar year_var = {.token = 9};
constinit ModuleVar lights_var = {.token = 10};
constinit ModuleVar rate_var = {.token = 336};

namespace {

// Days before February .. December.
constexpr std::array<uint32_t, 11> days_before_common = {31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
constexpr std::array<uint32_t, 11> days_before_leap = {31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335};

// Above this rate the hand would only blur, so it is parked at the 60 mark.
constexpr double hand_parking_rate = 32.0;
constexpr double degrees_per_second = 6.0;

// Host values go into texts and dates truncated toward zero; out-of-range values
// saturate instead of being undefined.
int32_t host_int(ModuleVar& variable) { return truncate_to_int32(panel::lookup_var(variable)); }
uint32_t host_word(ModuleVar& variable) { return truncate_to_uint32_word(panel::lookup_var(variable)); }

StringElement& readout_of(ElementHeader* element) { return *reinterpret_cast<StringElement*>(element); }

std::size_t selected_stopwatch() { return display_page == 0 ? stopwatch1 : stopwatch2; }

// The same angle for both hands: the selected stopwatch on the chronometer pages, the
// simulator's seconds on the clock pages. rate_var was refreshed by the caller.
double hand_angle() {
    double angle;
    if (chrono_mode == 1)
        angle = static_cast<double>(seconds[selected_stopwatch()] * 6);
    else
        angle = panel::lookup_var(time_seconds_var) * degrees_per_second;
    // Seconds 17 and 47 sit one degree further on; the second test cannot undo the first.
    if (angle == 102.0) angle = 103.0;
    if (angle == 282.0) angle = 283.0;
    if (rate_var.value > hand_parking_rate) angle = 0.0;
    return angle;
}

// Stopwatches show minutes and seconds in their first hour, hours and minutes after it.
void write_stopwatch(StringElement& readout, std::size_t timer) {
    if (hours[timer] != 0)
        write_readout(readout, "%02d:%02d", hours[timer], minutes[timer]);
    else
        write_readout(readout, "%02d:%02d", minutes[timer], seconds[timer]);
}

// A time of day from two host variables, refreshed hours first.
void write_time_of_day(StringElement& readout, ModuleVar& hours_var, ModuleVar& minutes_var) {
    const int32_t hour = host_int(hours_var);
    const int32_t minute = host_int(minutes_var);
    write_readout(readout, "%2d:%02d", hour, minute);
}

}  // namespace

CalendarDate date_from_day_of_year(uint32_t day_of_year, uint32_t year) {
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    const std::array<uint32_t, 11>& days_before = leap ? days_before_leap : days_before_common;
    CalendarDate date = {.month = 1, .day = day_of_year};
    for (std::size_t index = 0; index < days_before.size(); ++index) {
        if (days_before[index] < day_of_year) {
            date.month = static_cast<uint32_t>(index) + 2;
            date.day = day_of_year - days_before[index];
        }
    }
    return date;
}

double KESTREL_STDCALL upper_readout_cb(ElementHeader* element) {
    StringElement& readout = readout_of(element);
    if (chrono_mode == 1) {
        if (display_page == 0)
            write_readout(readout, "     ");
        else  // elapsed time in hours and tenths
            write_readout(readout, "%2d.%1d", hours[elapsed_timer], minutes[elapsed_timer] / 6);
    } else if (display_page == 0) {
        write_time_of_day(readout, time1_hours_var, time1_minutes_var);
    } else {
        const uint32_t day_of_year = host_word(day_of_year_var);
        const uint32_t year = host_word(year_var);
        const CalendarDate date = date_from_day_of_year(day_of_year, year);
        // The day of month is printed as the signed word it is stored in.
        write_readout(readout, "%2d %2d", static_cast<int32_t>(date.month), static_cast<int32_t>(date.day));
    }
    return 0.0;
}

double KESTREL_STDCALL lower_readout_cb(ElementHeader* element) {
    StringElement& readout = readout_of(element);
    if (chrono_mode == 1) {
        write_stopwatch(readout, selected_stopwatch());
    } else if (display_page == 0) {
        write_time_of_day(readout, time2_hours_var, time2_minutes_var);
    } else {
        const uint32_t year = host_word(year_var);
        write_readout(readout, "%02d %02d", static_cast<int32_t>(year / 100), static_cast<int32_t>(year % 100));
    }
    return 0.0;
}

double KESTREL_STDCALL hand_cb(ElementHeader* element) {
    const double lights = panel::lookup_var(lights_var);
    const double rate = panel::lookup_var(rate_var);
    set_hidden(*element, lights != 0.0);
    clock_tick(rate);
    return hand_angle();
}

double KESTREL_STDCALL lit_hand_cb(ElementHeader* element) {
    const double lights = panel::lookup_var(lights_var);
    panel::lookup_var(rate_var);
    set_hidden(*element, lights == 0.0);
    return hand_angle();
}

double KESTREL_STDCALL lit_face_cb(ElementHeader* element) {
    set_hidden(*element, panel::lookup_var(lights_var) == 0.0);
    return 0.0;
}

double KESTREL_STDCALL page_lever_cb(ElementHeader*) { return display_page == 0 ? 0.0 : 1.0; }

double KESTREL_STDCALL mode_lever_cb(ElementHeader*) { return chrono_mode == 0 ? 0.0 : 1.0; }

}  // namespace digital_clock
