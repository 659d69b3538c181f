// The AP gauge as its tests and its fuzz rules name it: the host variables it reads by
// token, its elements by their place in the chain, and the key events that both sides
// name. Both include this one header, so a number is typed once.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrel::ap_ids {

// Host variables the gauge reads, by token.
enum Token : uint32_t {
    tick = 1,
    first_angle = 45,
    red_light_67 = 67,
    overspeed = 68,
    autopilot = 103,
    mode_104 = 104,
    mode_105 = 105,
    angle2_select = 106,
    second_angle = 107,
    altitude_select = 108,
    altitude = 109,
    mode_112 = 112,
    mode_113 = 113,
    mode_114 = 114,
    mach_hold = 115,
    ias = 116,
    ias_hold = 117,
    mach = 118,
    vertical_speed = 120,
    disconnect_check = 123,
    airbrakes_input = 324,
    airbrake_handle = 325,
    white_364 = 364,
    white_740 = 740,
    toggle_lever_position = 792,
    gps_hold = 848,
    lift_dumpers = 866,
};

// Elements in drawing order: the chain's rows.
enum Element : std::size_t {
    background = 0,
    vs_readout = 1,
    altitude_readout = 2,
    angle2_readout = 3,
    speed_readout = 4,
    angle1_readout = 5,
    qnh_std_light = 6,
    airbrakes_light = 7,
    lift_dumpers_light = 8,
    overspeed_light = 9,
    red_light_135 = 10,
    white_light_327 = 11,
    panel_on_light = 12,
    white_light_3 = 13,
    mode_light_637_63 = 14,
    mode_light_611_63 = 15,
    mode_light_637_38 = 16,
    mode_light_611_38 = 17,
    gps_hold_light = 18,
    mode_light_611_13 = 19,
    altitude_select_label = 20,
    angle2_select_label = 21,
    speed_select_label = 22,
    toggle_lever = 23,
    disconnect_bar = 24,
    light_495_16 = 25,
    ap2_light = 26,
    ap1_light = 27,
};
inline constexpr std::size_t element_count = 28;

// The key events that the listener acts on.
inline constexpr uint32_t panel_switch_event = 0x10173;
inline constexpr uint32_t lift_dumpers_event = 0x10356;
// The event that sets the standard pressure, with its value.
inline constexpr uint32_t qnh_standard_event = 0x101F8;
inline constexpr uint32_t qnh_standard_value = 16211;

}  // namespace kestrel::ap_ids
