// The Digital_Clock gauge as its tests and its fuzz rules name it: the host variables it
// reads by token and its elements by their place in drawing order. Both include this one
// header, so a number is typed once.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrel::clock_ids {

// Host variables the clock reads, by token.
enum Token : uint32_t {
    time1_hours = 3,
    time1_minutes = 4,
    time_seconds = 5,
    time2_hours = 6,
    time2_minutes = 7,
    day_of_year = 8,
    year = 9,
    lights = 10,
    rate = 336,
};

// Elements in drawing order.
enum Element : std::size_t {
    face = 0,
    lit_face = 1,
    upper_readout = 2,
    lower_readout = 3,
    unlit_hand = 4,
    lit_hand = 5,
    page_lever = 6,
    mode_lever = 7,
};

inline constexpr std::size_t element_count = 8;

}  // namespace kestrel::clock_ids
