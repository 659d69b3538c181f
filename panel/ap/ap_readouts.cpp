// The AP read-outs. Besides formatting, they keep the module's copies of the host values,
// and the speed read-out copies those into the selector targets: on its first eight calls
// after load, and every ninth tick while a speed hold is on.
#include "ap/ap_readouts.h"

#include "ap/ap_format.h"
#include "ap/ap_state.h"

namespace ap {

namespace {

constexpr int32_t startup_sync_calls = 8;
constexpr int32_t startup_count_limit = 36;
constexpr int32_t hold_sync_ticks = 9;
// The altitude window shows the target in hundreds followed by two fixed zeros.
constexpr int32_t altitude_unit = 100;

StringElement& readout_of(ElementHeader* element) { return *reinterpret_cast<StringElement*>(element); }
// The host refreshed the embedded variables before the call.
double first_value(ElementHeader* element) { return readout_of(element).source_vars[0].value; }
double second_value(ElementHeader* element) { return readout_of(element).source_vars[1].value; }

// An angle window shows 360 for north, never 0.
double angle_readout(ElementHeader* element, double& stored_value) {
    const double angle = first_value(element);
    stored_value = angle;
    const double shown = angle == 0.0 ? 360.0 : angle;
    write_readout(readout_of(element), "%03.0f", shown);
    return shown;
}

}  // namespace

double KESTREL_STDCALL angle1_readout_cb(ElementHeader* element) { return angle_readout(element, angle_value_1); }

double KESTREL_STDCALL angle2_readout_cb(ElementHeader* element) { return angle_readout(element, angle_value_2); }

double KESTREL_STDCALL speed_readout_cb(ElementHeader* element) {
    ias_value = first_value(element);
    mach_value_x100 = second_value(element) * 100.0;
    ++startup_sync_count;
    if (startup_sync_count >= 1 && startup_sync_count <= startup_sync_calls) synchronise_targets();
    if (startup_sync_count > startup_count_limit) startup_sync_count = startup_count_limit;
    // The hold values are as the speed SELECT label's callback last refreshed them.
    if (ias_hold_var.value == 1.0 || mach_hold_var.value == 1.0) {
        if (tick_is_multiple_of(hold_sync_ticks)) synchronise_targets();
    }
    if (speed_mode_mach == 0) {
        const double ias = first_value(element);
        write_readout(readout_of(element), "%03.0f", ias);
        return ias;
    }
    const double mach_x100 = second_value(element) * 100.0;
    write_readout(readout_of(element), ".%02.0f", mach_x100);
    return mach_x100;
}

double KESTREL_STDCALL altitude_readout_cb(ElementHeader* element) {
    altitude_value = first_value(element);
    const int32_t hundreds = altitude_target / altitude_unit;
    if (hundreds == 0)
        write_readout_text(readout_of(element), "-----");
    else
        write_readout(readout_of(element), "%03.0f00", static_cast<double>(hundreds));
    return static_cast<double>(hundreds);
}

double KESTREL_STDCALL vs_readout_cb(ElementHeader* element) {
    const double vertical_speed = first_value(element);
    vs_value = vertical_speed;
    if (vertical_speed == 0.0)
        write_readout_text(readout_of(element), "-----");
    else if (vertical_speed > 0.0)
        write_readout(readout_of(element), "%+5.0f", vertical_speed);
    else  // below 0; a NaN shows dashes
        write_readout(readout_of(element), "%05.0f", vertical_speed);
    return vertical_speed;
}

}  // namespace ap
