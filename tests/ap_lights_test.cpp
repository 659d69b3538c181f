// The AP lights through the host: plain lights on their host values, the engage edge and
// latches, the two flash cycles, the airbrake step that follows the handle, the QNH repeat
// and the switch pictures.
#include <cmath>
#include <limits>
#include <vector>

#include "ap_gauge_fixture.h"

namespace ap_test {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double infinity = std::numeric_limits<double>::infinity();

TEST_F(ApGauge, PlainLightsAreLitAtExactlyOne) {
    struct Light {
        Element element;
        Token token;
    };
    const Light lights[] = {
        {light_495_16, disconnect_check}, {angle2_select_label, angle2_select}, {altitude_select_label, altitude_select},
        {mode_light_611_13, mode_105}, {mode_light_637_38, mode_104}, {mode_light_611_63, mode_112},
        {mode_light_637_63, mode_113}, {white_light_3, white_740}, {white_light_327, white_364},
        {red_light_135, red_light_67}, {overspeed_light, overspeed},
    };
    for (const Light& light : lights) {
        SCOPED_TRACE(light.element);
        for (const double value : {0.0, 0.5, 2.0, -1.0, nan, infinity}) {
            host.set_var(light.token, value);
            EXPECT_EQ(value_after_update(light.element), dark) << value;
        }
        host.set_var(light.token, 1.0);
        EXPECT_EQ(value_after_update(light.element), lit);
        host.set_var(light.token, 0.0);
    }
}

TEST_F(ApGauge, ModeLight114IsLitAboveZero) {
    const std::pair<double, double> cases[] = {{0.0, dark}, {-0.0, dark}, {-0.001, dark}, {0.001, lit},
                                               {1e300, lit}, {nan, dark}, {infinity, lit}};
    for (const auto& [value, shown] : cases) {
        host.set_var(mode_114, value);
        EXPECT_EQ(value_after_update(mode_light_611_38), shown) << value;
    }
}

TEST_F(ApGauge, SwitchPicturesSelectByValue) {
    for (const double position : {0.0, 1.0, 0.25, -3.0}) {
        host.set_var(toggle_lever_position, position);
        EXPECT_EQ(value_after_update(toggle_lever), position) << "the lever's value passes through";
    }
    EXPECT_EQ(value_after_update(disconnect_bar), 0.0) << "the switch is disconnected at load";
    click(disconnect_switch);
    EXPECT_EQ(value_after_update(disconnect_bar), 1.0);
}

// ---- the engage edge ------------------------------------------------------------------

TEST_F(ApGauge, AutopilotComingOnLatchesTheFirstButtonOnce) {
    host.set_var(autopilot, 1.0);
    auto result = update();
    EXPECT_EQ(*result.samples[ap1_light].value, lit);
    EXPECT_EQ(*result.samples[ap2_light].value, dark);
    EXPECT_EQ(*result.samples[disconnect_bar].value, 0.0) << "drawn before the engage light";
    EXPECT_EQ(value_after_update(disconnect_bar), 1.0) << "the edge set the switch to normal";
    // Latched: the first button now unlatches instead of latching.
    EXPECT_TRUE(click_ids(engage_1) == disengage_sequence);
    // The count stays at 18 while the value stays 1, so no second edge relatches it.
    run(30);
    EXPECT_EQ(value_after_update(ap1_light), dark);
}

TEST_F(ApGauge, AutopilotComingOnWithTheSecondLatchedSetsNothing) {
    click(disconnect_switch);
    EXPECT_TRUE(click_ids(engage_2) == std::vector<uint32_t>{0x10100});
    host.set_var(autopilot, 1.0);
    auto result = update();
    EXPECT_EQ(*result.samples[ap1_light].value, dark);
    EXPECT_EQ(*result.samples[ap2_light].value, lit);
    // The first button was not latched by the edge: a click latches it now.
    EXPECT_TRUE(click_ids(engage_1) == std::vector<uint32_t>{0x10100});
}

TEST_F(ApGauge, AutopilotValueZeroClearsBothLatchesButNotTheSwitch) {
    click(disconnect_switch);
    click(engage_2);
    host.set_var(autopilot, 0.0);
    auto result = update();
    EXPECT_EQ(*result.samples[ap1_light].value, dark);
    EXPECT_EQ(*result.samples[ap2_light].value, lit) << "drawn before the first light clears the latches";
    result = update();
    EXPECT_EQ(*result.samples[ap2_light].value, dark);
    EXPECT_EQ(*result.samples[disconnect_bar].value, 1.0);
    // The count restarted: the next time the autopilot comes on is an edge again.
    host.set_var(autopilot, 1.0);
    EXPECT_EQ(value_after_update(ap1_light), lit);
}

TEST_F(ApGauge, OtherAutopilotValuesOnlySelectTheLight) {
    host.set_var(autopilot, 0.5);
    EXPECT_EQ(value_after_update(ap1_light), dark);
    click(disconnect_switch);
    click(engage_1);
    EXPECT_EQ(value_after_update(ap1_light), lit) << "latched by its button, and 0.5 clears nothing";
}

// ---- flashing lights ------------------------------------------------------------------

// The light over `calls` updates, as a string of '#' (lit) and '.' (dark).
std::string pattern(kestrel::GaugeDriver& driver, Element light, int calls) {
    std::string seen;
    for (int i = 0; i < calls; ++i) seen += *driver.update().samples[light].value == lit ? '#' : '.';
    return seen;
}

TEST_F(ApGauge, LiftDumpersLightIsSteadyThenFlashesUntilTheKeyEvent) {
    driver.gauge_callback(14, 0);
    host.set_var(lift_dumpers, 1.0);
    EXPECT_EQ(pattern(driver, lift_dumpers_light, 100), std::string(100, '#'));
    // The counter ran on under the steady light: it stands at 26 and goes on to 72 dark.
    host.set_var(lift_dumpers, 0.0);
    const std::string cycle = std::string(17, '#') + std::string(56, '.');
    EXPECT_EQ(pattern(driver, lift_dumpers_light, 47 + 146), std::string(47, '.') + cycle + cycle);
    // The host reports the lift dumper event: the flag toggles back and the light goes dark.
    host.send_key_event(lift_dumpers_event, 0);
    host.deliver_pending_key_events();
    EXPECT_EQ(pattern(driver, lift_dumpers_light, 80), std::string(80, '.'));
    // The event alone starts the flashing, lit first.
    host.send_key_event(lift_dumpers_event, 0);
    host.deliver_pending_key_events();
    EXPECT_EQ(pattern(driver, lift_dumpers_light, 19), std::string(17, '#') + "..");
}

TEST_F(ApGauge, AirbrakeHandleSetsTheStepAndTheLight) {
    host.set_var(airbrakes_input, 1.0);
    host.set_var(airbrake_handle, 4800.0);
    const std::string cycle = std::string(17, '#') + std::string(56, '.');
    EXPECT_EQ(pattern(driver, airbrakes_light, 74), cycle + "#");
    // Step 1 now: the button goes on to step 2.
    EXPECT_TRUE(click_ids(airbrakes_button) == std::vector<uint32_t>{0x10210});

    // 4800.5, or the input at 0: no flash, and the step stays as clicked.
    host.set_var(airbrake_handle, 4800.5);
    EXPECT_EQ(value_after_update(airbrakes_light), dark);
    host.set_var(airbrake_handle, 4800.0);
    host.set_var(airbrakes_input, 0.0);
    EXPECT_EQ(value_after_update(airbrakes_light), dark);
    EXPECT_TRUE(click_ids(airbrakes_button) == std::vector<uint32_t>{0x10211}) << "was still at step 2";

    // 16380 changes nothing; above it the step is 2 and the light steady.
    host.set_var(airbrake_handle, 16380.0);
    EXPECT_EQ(value_after_update(airbrakes_light), dark);
    EXPECT_TRUE(click_ids(airbrakes_button) == std::vector<uint32_t>{0x1013D}) << "was at step 0";
    host.set_var(airbrake_handle, 16381.0);
    EXPECT_EQ(pattern(driver, airbrakes_light, 3), "###");
    EXPECT_TRUE(click_ids(airbrakes_button) == std::vector<uint32_t>{0x10211}) << "the handle set step 2";
    // Retracted: step 0, dark.
    host.set_var(airbrake_handle, 0.0);
    EXPECT_EQ(value_after_update(airbrakes_light), dark);
    EXPECT_TRUE(click_ids(airbrakes_button) == std::vector<uint32_t>{0x1013D});
}

// ---- QNH standard ---------------------------------------------------------------------

TEST_F(ApGauge, QnhStandardRepeatsEveryEighteenTicks) {
    const auto sent_at_tick = [&](double tick) {
        host.set_var(Token::tick, tick);
        return update().key_events;
    };
    for (const double tick : {35.0, 36.0, 0.0}) EXPECT_TRUE(sent_at_tick(tick).empty()) << "mode off";
    EXPECT_EQ(value_after_update(qnh_std_light), dark);

    EXPECT_TRUE(click(qnh_button).empty());
    EXPECT_TRUE(sent_at_tick(35.0).empty());
    EXPECT_EQ(sent_at_tick(36.0), (std::vector<kestrel::KeyEvent>{{qnh_standard_event, qnh_standard_value}}));
    EXPECT_TRUE(sent_at_tick(37.0).empty());
    EXPECT_EQ(sent_at_tick(36.9).size(), 1u) << "the tick is truncated";
    EXPECT_EQ(sent_at_tick(-18.0).size(), 1u);
    EXPECT_EQ(value_after_update(qnh_std_light), lit);
    // Host tick values that no integer holds saturate instead of being undefined.
    EXPECT_TRUE(sent_at_tick(nan).size() == 1u) << "NaN counts as tick 0";
    EXPECT_TRUE(sent_at_tick(1e300).empty()) << "INT32_MAX is no multiple of 18";
    EXPECT_TRUE(sent_at_tick(-infinity).empty()) << "INT32_MIN is no multiple of 18";
    EXPECT_TRUE(click(qnh_button).empty());
    EXPECT_TRUE(sent_at_tick(36.0).empty());
    EXPECT_EQ(value_after_update(qnh_std_light), dark);
}

// ---- lights that read stand-alone variables -------------------------------------------

TEST_F(ApGauge, SpeedSelectLabelFollowsEitherHold) {
    EXPECT_EQ(value_after_update(speed_select_label), dark);
    host.set_var(ias_hold, 1.0);
    EXPECT_EQ(value_after_update(speed_select_label), lit);
    host.set_var(ias_hold, 0.0);
    host.set_var(mach_hold, 1.0);
    EXPECT_EQ(value_after_update(speed_select_label), lit);
    host.set_var(mach_hold, 0.999);
    EXPECT_EQ(value_after_update(speed_select_label), dark);
}

TEST_F(ApGauge, GpsHoldLightKeepsTheTruncatedHostValue) {
    // The copy decides whether the disengage sequence carries the GPS hold event.
    const std::pair<double, bool> cases[] = {{1.0, true}, {1.9, true}, {0.5, false}, {2.0, false},
                                             {nan, false}, {1e300, false}};
    for (const auto& [value, with_gps_event] : cases) {
        host.set_var(gps_hold, value);
        EXPECT_EQ(value_after_update(gps_hold_light), value == 1.0 ? lit : dark) << value;
        EXPECT_TRUE(click_ids(engage_1) == (with_gps_event ? disengage_sequence_with_gps : disengage_sequence))
            << value;
    }
}

TEST_F(ApGauge, PanelOnLightFollowsItsKeyEvent) {
    EXPECT_EQ(value_after_update(panel_on_light), dark);
    driver.gauge_callback(14, 0);
    click(panel_switch_button);
    EXPECT_EQ(value_after_update(panel_on_light), lit);
}

}  // namespace
}  // namespace ap_test
