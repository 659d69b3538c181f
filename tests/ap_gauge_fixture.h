// The AP gauge as a test sees it through the host: the KESTREL module loaded afresh for
// every test, host variables set by token, updates, clicks at background pixels, and
// service events on the gauge callback.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "driver.h"
#include "loader.h"
#include "services.h"

namespace ap_test {

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

// A background pixel inside a control; knobs by their halves.
struct PanelPixel {
    int32_t x, y;
};
inline constexpr PanelPixel engage_1 = {480, 55};
inline constexpr PanelPixel engage_2 = {520, 55};
inline constexpr PanelPixel disconnect_event_button = {500, 20};
inline constexpr PanelPixel disconnect_switch = {500, 88};
inline constexpr PanelPixel toggle_lever_button = {400, 60};
inline constexpr PanelPixel speed_mode_button = {402, 20};
inline constexpr PanelPixel angle_1_lower = {280, 70};
inline constexpr PanelPixel angle_1_raise = {300, 70};
inline constexpr PanelPixel speed_lower = {430, 70};
inline constexpr PanelPixel speed_raise = {450, 70};
inline constexpr PanelPixel speed_hold_button = {440, 42};
inline constexpr PanelPixel angle_2_lower = {555, 70};
inline constexpr PanelPixel angle_2_raise = {575, 70};
inline constexpr PanelPixel angle2_select_button = {560, 42};
inline constexpr PanelPixel altitude_lower = {690, 70};
inline constexpr PanelPixel altitude_raise = {710, 70};
inline constexpr PanelPixel altitude_select_button = {700, 42};
inline constexpr PanelPixel vs_upper_half = {775, 50};
inline constexpr PanelPixel vs_lower_half = {775, 80};
inline constexpr PanelPixel panel_switch_button = {35, 85};
inline constexpr PanelPixel qnh_button = {190, 40};
inline constexpr PanelPixel lift_dumpers_button = {215, 80};
inline constexpr PanelPixel airbrakes_button = {240, 80};

inline constexpr uint32_t plain_click = 0x20000000;
inline constexpr uint32_t coarse_click = 0xA0200000;
inline constexpr double lit = 1.0;
inline constexpr double dark = -1.0;

inline kestrel::LoadedModule open_attached(kestrel::PanelHost& host) {
    auto module = kestrel::LoadedModule::open(std::filesystem::path(KESTREL_MODULE_DIR) / KESTREL_PANEL_FILE);
    host.attach(module);
    return module;
}

class ApGauge : public testing::Test {
protected:
    kestrel::PanelHost host;
    kestrel::LoadedModule module = open_attached(host);
    kestrel::GaugeDriver driver{module, host, "AP"};

    kestrel::UpdateResult update() { return driver.update(); }
    kestrel::UpdateResult run(int count) {
        kestrel::UpdateResult last;
        for (int i = 0; i < count; ++i) last = update();
        return last;
    }
    double value_after_update(Element element) { return *update().samples[element].value; }
    std::string text_after_update(Element element) { return *update().samples[element].text; }

    // A click that a child area must take; returns the key events it sent.
    std::vector<kestrel::KeyEvent> click(PanelPixel pixel, uint32_t flags = plain_click) {
        const kestrel::ClickResult result = driver.click(pixel.x, pixel.y, flags);
        EXPECT_TRUE(result.area.has_value()) << "no click area at (" << pixel.x << "," << pixel.y << ")";
        EXPECT_EQ(result.result, 0);
        return result.key_events;
    }
    // The ids alone, in order.
    std::vector<uint32_t> click_ids(PanelPixel pixel, uint32_t flags = plain_click) {
        std::vector<uint32_t> ids;
        for (const kestrel::KeyEvent& event : click(pixel, flags)) ids.push_back(event.id);
        return ids;
    }
    // The value of the one event that a selector click sends last (its set event).
    uint32_t sent_value(PanelPixel pixel, uint32_t flags = plain_click) {
        const std::vector<kestrel::KeyEvent> events = click(pixel, flags);
        EXPECT_FALSE(events.empty());
        return events.empty() ? 0xDEADBEEF : events.back().value;
    }
    int32_t sent_target(PanelPixel pixel, uint32_t flags = plain_click) {
        return static_cast<int32_t>(sent_value(pixel, flags));
    }
    // The first eight speed read-out calls after load copy the host values into the
    // targets; later tests start from a module past them.
    void pass_startup_synchronisation() { run(8); }
};

// The disengage sequence, without and with the GPS hold event.
inline const std::vector<uint32_t> disengage_sequence = {0x100FF, 0x10238, 0x1023B, 0x1023E, 0x10241, 0x10244,
                                                         0x1011B, 0x10216, 0x10119, 0x10116, 0x1011A};
inline const std::vector<uint32_t> disengage_sequence_with_gps = {0x100FF, 0x10238, 0x1023B, 0x1023E,
                                                                  0x10241, 0x10244, 0x10347, 0x1011B,
                                                                  0x10216, 0x10119, 0x10116, 0x1011A};

}  // namespace ap_test
