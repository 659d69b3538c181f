// The AUTOBRAKE gauge as its tests and its fuzz rules name it: the host variables it reads
// by token, its elements by their place in the chain, the key events its handlers send and
// the service id its gauge callback acts on. Both include this one header.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrel::autobrake_ids {

// Host variables the gauge reads, by token.
enum Token : uint32_t { light_var = 323, needle_var = 329, needle_flag_var = 753 };

// Elements in drawing order: the chain background, needle, light, knob.
enum Element : std::size_t { background = 0, upper_needle = 1, light = 2, knob = 3 };

inline constexpr std::size_t element_count = 4;

// Key events the handlers send, each with value 0.
inline constexpr uint32_t dial_left_event = 0x100DF;
inline constexpr uint32_t dial_right_event = 0x100DE;
inline constexpr uint32_t light_button_event = 0x100D8;
inline constexpr uint32_t knob_down_event = 0x102FB;
inline constexpr uint32_t knob_up_event = 0x102FA;

inline constexpr int32_t service_needle_flags = 6;

}  // namespace kestrel::autobrake_ids
