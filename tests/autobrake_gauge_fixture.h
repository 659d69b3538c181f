// The AUTOBRAKE gauge as a test sees it through the host: the KESTREL module loaded afresh
// for every test, host variables by token, updates, the gauge callback and clicks at
// gauge pixels inside each of its five click areas.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <vector>

#include "autobrake_gauge_ids.h"
#include "driver.h"
#include "loader.h"
#include "services.h"

namespace autobrake_test {

using namespace kestrel::autobrake_ids;

// Indices of the click areas in the list, as ClickResult::area reports them.
enum Area : std::size_t { dial_left_area = 2, dial_right_area = 3, light_area = 6, knob_down_area = 9, knob_up_area = 10 };

inline constexpr uint32_t click_flags = 0x20000000;

// A gauge pixel inside each click area, and the area it must reach.
struct AreaPixel {
    int32_t x, y;
    Area area;
};
inline constexpr AreaPixel dial_left = {20, 20, dial_left_area};
inline constexpr AreaPixel dial_right = {50, 20, dial_right_area};
inline constexpr AreaPixel light_button = {30, 78, light_area};
inline constexpr AreaPixel knob_left = {25, 120, knob_down_area};
inline constexpr AreaPixel knob_right = {50, 120, knob_up_area};
inline constexpr AreaPixel every_area[] = {dial_left, dial_right, light_button, knob_left, knob_right};

inline kestrel::LoadedModule open_attached(kestrel::PanelHost& host) {
    auto module = kestrel::LoadedModule::open(std::filesystem::path(KESTREL_MODULE_DIR) / KESTREL_PANEL_FILE);
    host.attach(module);
    return module;
}

inline std::vector<kestrel::KeyEvent> events(uint32_t id, std::size_t count) {
    return std::vector<kestrel::KeyEvent>(count, kestrel::KeyEvent{id, 0});
}

class AutobrakeGauge : public testing::Test {
protected:
    kestrel::PanelHost host;
    kestrel::LoadedModule module = open_attached(host);
    kestrel::GaugeDriver driver{module, host, "AUTOBRAKE"};

    ElementHeader& element(Element index) const { return driver.element(index); }
    uint32_t needle_flags() const { return element(upper_needle).image_flags; }

    // A click in an area that must take it; returns the events it sent.
    std::vector<kestrel::KeyEvent> click(AreaPixel pixel, uint32_t flags = click_flags) {
        const kestrel::ClickResult result = driver.click(pixel.x, pixel.y, flags);
        EXPECT_EQ(result.area, pixel.area) << "click at (" << pixel.x << ", " << pixel.y << ")";
        EXPECT_EQ(result.result, 0) << "every handler returns 0";
        return result.key_events;
    }

    // The knob's angle as the next update reads it.
    double knob_angle() { return *driver.update().samples[knob].value; }

    // An element's value after an update with one host variable set.
    double value_with(Element index, Token token, double value) {
        host.set_var(token, value);
        return *driver.update().samples[index].value;
    }

    // The needle's image_flags after service 6 with token 753 at `value`.
    uint32_t flags_after_service(double value) {
        host.set_var(needle_flag_var, value);
        EXPECT_TRUE(driver.gauge_callback(service_needle_flags, 0).called);
        return needle_flags();
    }
};

}  // namespace autobrake_test
