// The clock gauge as a test sees it through the host: the KESTREL_TIMER module loaded
// afresh for every test, host variables set by token, updates, and clicks at face pixels.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "clock_gauge_ids.h"
#include "driver.h"
#include "loader.h"
#include "services.h"

namespace clock_test {

using namespace kestrel::clock_ids;

// Indices of the click areas in the list, as ClickResult::area reports them.
enum Area : std::size_t { start_stop_area = 1, reset_area = 2, mode_area = 3, page_area = 4 };

// Face pixels inside each control.
struct FacePixel {
    int32_t x, y;
};
inline constexpr FacePixel knob_left = {10, 10};
inline constexpr FacePixel knob_right = {16, 10};
inline constexpr FacePixel mode_lever_pixel = {6, 88};
inline constexpr FacePixel page_lever_pixel = {94, 88};

inline constexpr uint32_t click_flags = 0x20000000;

inline kestrel::LoadedModule open_attached(kestrel::PanelHost& host) {
    auto module = kestrel::LoadedModule::open(std::filesystem::path(KESTREL_MODULE_DIR) / KESTREL_TIMER_FILE);
    host.attach(module);
    return module;
}

class ClockGauge : public testing::Test {
protected:
    kestrel::PanelHost host;
    kestrel::LoadedModule module = open_attached(host);
    kestrel::GaugeDriver driver{module, host, "Digital_Clock"};

    // One update at the given rate. The read-outs are drawn before the hand's callback
    // counts, so they show the timers as the previous update left them.
    kestrel::UpdateResult update(double rate = 0.0) {
        host.set_var(Token::rate, rate);
        return driver.update();
    }
    // Runs count updates at the given rate; returns the last.
    kestrel::UpdateResult run(long count, double rate = 1.0) {
        kestrel::UpdateResult last;
        for (long i = 0; i < count; ++i) last = update(rate);
        return last;
    }

    // The hand after an update at `rate`: read on a following update that adds nothing,
    // since above a rate of 32 the hand is parked at 0.
    double hand_after(double rate) {
        update(rate);
        return *update(0.0).samples[unlit_hand].value;
    }

    std::optional<std::size_t> click(FacePixel pixel) { return driver.click(pixel.x, pixel.y, click_flags).area; }
    void toggle_mode() { ASSERT_EQ(click(mode_lever_pixel), mode_area); }
    void toggle_page() { ASSERT_EQ(click(page_lever_pixel), page_area); }
    void start_stop() { ASSERT_EQ(click(knob_left), start_stop_area); }
    void reset() { ASSERT_EQ(click(knob_right), reset_area); }

    // The two texts after an update that adds nothing: what the timers stand at now.
    std::string upper() { return *update(0.0).samples[upper_readout].text; }
    std::string lower() { return *update(0.0).samples[lower_readout].text; }
};

// Ticks that a timer standing at zero needs to reach `seconds`: 18 a second, plus one for
// every completed half minute.
inline double ticks_from_zero(long seconds) { return 18.0 * seconds + seconds / 30; }

inline double hand_of(const kestrel::UpdateResult& result) { return *result.samples[unlit_hand].value; }
inline std::string text_of(const kestrel::UpdateResult& result, Element readout) {
    return *result.samples[readout].text;
}

// The seconds that a hand angle shows: 6 degrees a second, with 17 and 47 one degree on;
// -1 for any other angle.
inline int seconds_of_angle(double angle) {
    if (angle == 103.0) return 17;
    if (angle == 283.0) return 47;
    const int second = static_cast<int>(angle / 6.0);
    return second >= 0 && second < 60 && second != 17 && second != 47 && second * 6.0 == angle ? second : -1;
}

}  // namespace clock_test
