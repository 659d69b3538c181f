// The clock's displays: the host variables it reads and the seven element callbacks that
// turn the clock's state and those variables into read-out texts, hand angles and pictures.
#pragma once

#include "elements.h"

namespace digital_clock {

// Stand-alone host variables, refreshed through lookup_var right before each use.
extern ModuleVar time1_hours_var;    // token 3
extern ModuleVar time1_minutes_var;  // token 4
extern ModuleVar time_seconds_var;   // token 5
extern ModuleVar time2_hours_var;    // token 6
extern ModuleVar time2_minutes_var;  // token 7
extern ModuleVar day_of_year_var;    // token 8
extern ModuleVar year_var;           // token 9
extern ModuleVar lights_var;         // token 10: non-zero shows the lit pictures
extern ModuleVar rate_var;           // token 336: ticks per update

// Month (1..12) and day of month for a day of the year. Days beyond the year's end stay
// in December; day 0 gives January 0.
struct CalendarDate {
    uint32_t month;
    uint32_t day;
};
CalendarDate date_from_day_of_year(uint32_t day_of_year, uint32_t year);

double KESTREL_STDCALL upper_readout_cb(ElementHeader* element);
double KESTREL_STDCALL lower_readout_cb(ElementHeader* element);
double KESTREL_STDCALL hand_cb(ElementHeader* element);
double KESTREL_STDCALL lit_hand_cb(ElementHeader* element);
double KESTREL_STDCALL lit_face_cb(ElementHeader* element);
double KESTREL_STDCALL page_lever_cb(ElementHeader* element);
double KESTREL_STDCALL mode_lever_cb(ElementHeader* element);

}  // namespace digital_clock
