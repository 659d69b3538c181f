// Conversions from the host's 64-bit floating values to the integers that the gauges
// count and print with, defined for every input.
#pragma once

#include <cstdint>

// Truncates toward zero. Values beyond the 32-bit range saturate at INT32_MIN or
// INT32_MAX (so do the infinities) and NaN gives 0: a plain cast would be undefined there.
constexpr int32_t truncate_to_int32(double value) {
    if (value != value) return 0;
    if (value >= 2147483648.0) return INT32_MAX;
    if (value <= -2147483649.0) return INT32_MIN;
    return static_cast<int32_t>(value);
}

// The same 32-bit word read as unsigned: -1.0 gives 0xFFFFFFFF.
constexpr uint32_t truncate_to_uint32_word(double value) {
    return static_cast<uint32_t>(truncate_to_int32(value));
}
