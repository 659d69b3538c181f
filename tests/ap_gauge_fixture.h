// The AP gauge as a test sees it through the host: the KESTREL module loaded afresh for
// every test, host variables set by token, updates, clicks at background pixels, and
// service events on the gauge callback.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "ap_gauge_ids.h"
#include "driver.h"
#include "loader.h"
#include "services.h"

namespace ap_test {

using namespace kestrel::ap_ids;

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
