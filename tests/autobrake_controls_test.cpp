// The AUTOBRAKE knob and buttons clicked through the host: the knob's five positions and
// their angles, its step events (doubled across positions 3 and 4, and still sent at
// the ends), the three one-event buttons, and handlers that never read their flag bits.
#include <string>
#include <vector>

#include "autobrake_gauge_fixture.h"

namespace autobrake_test {
namespace {

using kestrel::KeyEvent;

struct KnobStep {
    AreaPixel half;              // knob_left steps down, knob_right up
    double angle;                // the knob's angle after the click
    std::vector<KeyEvent> sent;  // what the click sent
};

// From the load position 1: down to the low end and past it, up through every position
// to the high end and past it, and back down to 1.
std::vector<KnobStep> round_trip() {
    return {
        {knob_left, 270.0, events(knob_down_event, 1)},   // 1 -> 0
        {knob_left, 270.0, events(knob_down_event, 1)},   // stays 0, still sends
        {knob_right, 0.0, events(knob_up_event, 1)},      // 0 -> 1
        {knob_right, 45.0, events(knob_up_event, 1)},     // 1 -> 2
        {knob_right, 90.0, events(knob_up_event, 1)},     // 2 -> 3
        {knob_right, 135.0, events(knob_up_event, 2)},    // 3 -> 4: two steps
        {knob_right, 135.0, events(knob_up_event, 2)},    // stays 4, still two
        {knob_left, 90.0, events(knob_down_event, 2)},    // 4 -> 3: two steps
        {knob_left, 45.0, events(knob_down_event, 1)},    // 3 -> 2
        {knob_left, 0.0, events(knob_down_event, 1)},     // 2 -> 1
    };
}

TEST_F(AutobrakeGauge, KnobStandsUprightAtLoad) {
    const kestrel::UpdateResult first = driver.update();
    EXPECT_EQ(first.samples[knob].value, 0.0);
    EXPECT_TRUE(first.key_events.empty());
    EXPECT_EQ(knob_angle(), 0.0) << "updates alone never move the knob";
}

TEST_F(AutobrakeGauge, KnobStepsThroughItsFivePositionsWithItsEvents) {
    const std::vector<KnobStep> steps = round_trip();
    for (std::size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE("step " + std::to_string(i));
        EXPECT_EQ(click(steps[i].half), steps[i].sent);
        EXPECT_EQ(knob_angle(), steps[i].angle);
    }
    EXPECT_EQ(host.key_events_sent().size(), 13u) << "every click of the walk sends at least one event";
}

TEST_F(AutobrakeGauge, ButtonsSendOneEventEachAndLeaveTheKnob) {
    EXPECT_EQ(click(dial_left), events(dial_left_event, 1));
    EXPECT_EQ(click(dial_right), events(dial_right_event, 1));
    EXPECT_EQ(click(light_button), events(light_button_event, 1));
    EXPECT_EQ(click(light_button), events(light_button_event, 1)) << "no state: every click sends";
    EXPECT_EQ(knob_angle(), 0.0);
    EXPECT_TRUE(driver.update().key_events.empty()) << "no callback sends an event";
}

// Every flag word the host might pass along with the click bit: the AP knobs' coarse
// bits, all bits, and odd low bits. Each must give exactly the plain click's events.
TEST_F(AutobrakeGauge, HandlersActTheSameWhateverFlagBitsTheyGet) {
    for (const uint32_t flags : {click_flags, 0xA0200000u, 0xFFFFFFFFu, 0x20000001u, 0x20000080u}) {
        SCOPED_TRACE("flags " + std::to_string(flags));
        for (const KnobStep& step : round_trip()) {
            EXPECT_EQ(click(step.half, flags), step.sent);
            EXPECT_EQ(knob_angle(), step.angle);
        }
        EXPECT_EQ(click(dial_left, flags), events(dial_left_event, 1));
        EXPECT_EQ(click(dial_right, flags), events(dial_right_event, 1));
        EXPECT_EQ(click(light_button, flags), events(light_button_event, 1));
    }
}

// The host calls a handler only for the kinds of click its area takes; called directly,
// without the click bit or with no bits at all, the handlers still act the same.
TEST_F(AutobrakeGauge, HandlersCalledWithoutTheClickBitActTheSame) {
    std::vector<ClickHandler> handlers;
    for (const AreaPixel& pixel : every_area) handlers.push_back(driver.click(pixel.x, pixel.y, click_flags).handler);
    host.take_key_events();
    const PixelPoint nowhere{-1, -1};
    for (const uint32_t flags : {0u, 0x80000000u, 0x00200000u}) {
        SCOPED_TRACE("flags " + std::to_string(flags));
        const std::size_t sent_before = host.key_events_sent().size();
        EXPECT_EQ(handlers[0](&nowhere, flags), 0);  // dial left
        EXPECT_EQ(handlers[1](&nowhere, flags), 0);  // dial right
        EXPECT_EQ(handlers[2](&nowhere, flags), 0);  // light button
        EXPECT_EQ(handlers[3](&nowhere, flags), 0);  // knob down: 1 -> 0
        EXPECT_EQ(handlers[4](&nowhere, flags), 0);  // knob up: 0 -> 1
        EXPECT_EQ(host.key_events_sent().size() - sent_before, 5u);
        EXPECT_EQ(host.take_key_events(),
                  (std::vector<KeyEvent>{{dial_left_event, 0}, {dial_right_event, 0}, {light_button_event, 0},
                                         {knob_down_event, 0}, {knob_up_event, 0}}));
        EXPECT_EQ(knob_angle(), 0.0);
    }
}

TEST_F(AutobrakeGauge, ClicksOutsideTheAreasReachNoHandler) {
    // Just outside the dial, between the areas, and below the knob.
    for (const auto& [x, y] : {std::pair{11, 20}, std::pair{62, 20}, std::pair{36, 60}, std::pair{30, 140}}) {
        const kestrel::ClickResult result = driver.click(x, y, click_flags);
        EXPECT_EQ(result.area, std::nullopt) << x << ", " << y;
    }
    EXPECT_TRUE(host.key_events_sent().empty());
    // The halves meet where the records put them: dial at gauge x 37, knob at x 39.
    EXPECT_EQ(click({36, 30, dial_left_area}), events(dial_left_event, 1));
    EXPECT_EQ(click({37, 30, dial_right_area}), events(dial_right_event, 1));
    EXPECT_EQ(click({38, 130, knob_down_area}), events(knob_down_event, 1));
    EXPECT_EQ(click({39, 130, knob_up_area}), events(knob_up_event, 1));
}

}  // namespace
}  // namespace autobrake_test
