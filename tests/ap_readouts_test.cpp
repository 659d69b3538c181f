// The AP read-outs through the host: their exact formats, exact halves rounded away from
// zero as the platform's runtime does, the synchronisation of the six targets, and texts
// that never pass the host's buffer whatever the host value.
#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "ap_gauge_fixture.h"

namespace ap_test {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double infinity = std::numeric_limits<double>::infinity();

struct Shown {
    double host_value;
    const char* text;
    double returned;
};

TEST_F(ApGauge, AngleWindowsShowThreeDigitsAndNorthAs360) {
    const Shown cases[] = {
        {5.0, "005", 5.0},     {0.0, "360", 360.0},   {359.4, "359", 359.4}, {0.2, "000", 0.2},
        {-0.2, "-00", -0.2},   {0.2, "000", 0.2},     // a rounded -0 is not the 0 before it
        {2.5, "003", 2.5},     {2.4999, "002", 2.4999}, {359.5, "360", 359.5}, {-0.0, "360", 360.0},
        {-5.0, "-05", -5.0},   {1000.0, "---", 1000.0}, {-99.5, "---", -99.5},
    };
    for (const auto& [element, token] : {std::pair{angle1_readout, first_angle}, std::pair{angle2_readout, second_angle}}) {
        for (const Shown& shown : cases) {
            SCOPED_TRACE(testing::Message() << element << " at " << shown.host_value);
            host.set_var(token, shown.host_value);
            const auto result = update();
            EXPECT_EQ(*result.samples[element].text, shown.text);
            EXPECT_EQ(*result.samples[element].value, shown.returned);
        }
    }
}

TEST_F(ApGauge, SpeedWindowShowsIasOrMach) {
    const Shown ias[] = {{250.0, "250", 250.0}, {95.0, "095", 95.0}, {249.6, "250", 249.6},
                         {248.5, "249", 248.5}, {247.5, "248", 247.5}, {999.4, "999", 999.4},
                         {999.5, "---", 999.5}};
    for (const Shown& shown : ias) {
        host.set_var(Token::ias, shown.host_value);
        const auto result = update();
        EXPECT_EQ(*result.samples[speed_readout].text, shown.text) << shown.host_value;
        EXPECT_EQ(*result.samples[speed_readout].value, shown.returned);
    }
    click(speed_mode_button);
    const Shown mach[] = {{0.78, ".78", 78.0}, {0.05, ".05", 5.0}, {0.125, ".13", 12.5}, {0.0, ".00", 0.0},
                          {1.0, "---", 100.0}};
    for (const Shown& shown : mach) {
        host.set_var(Token::mach, shown.host_value);
        const auto result = update();
        EXPECT_EQ(*result.samples[speed_readout].text, shown.text) << shown.host_value;
        EXPECT_DOUBLE_EQ(*result.samples[speed_readout].value, shown.returned);
    }
    // The same number under both formats, turn about: each shows its own text.
    host.set_var(Token::ias, 78.0);
    host.set_var(Token::mach, 0.78);
    for (const char* text : {".78", "078", ".78", "078"}) {
        EXPECT_EQ(*update().samples[speed_readout].text, text);
        click(speed_mode_button);
    }
}

// A speed hold at tick 0 copies the host's altitude into the target on every update;
// the window, drawn before the copy, shows it on the next.
TEST_F(ApGauge, AltitudeWindowShowsTheTargetInHundreds) {
    host.set_var(mach_hold, 1.0);
    run(9);
    const std::pair<double, const char*> cases[] = {
        {0.0, "-----"},     {99.0, "-----"},     {100.0, "00100"}, {150.0, "00100"}, {5000.0, "05000"},
        {35000.0, "35000"}, {60000.0, "60000"},  {-99.0, "-----"}, {-100.0, "-0100"}, {100000.0, "-----"},
        {1e300, "-----"},   {-infinity, "-----"}};
    for (const auto& [target, text] : cases) {
        host.set_var(altitude, target);
        update();
        const auto result = update();
        EXPECT_EQ(*result.samples[altitude_readout].text, text) << target;
        EXPECT_EQ(*result.samples[altitude_readout].value, std::trunc(std::clamp(target, -2147483648.0, 2147483647.0) / 100))
            << target;
    }
    // The knob changes the window at once, without the host.
    host.set_var(mach_hold, 0.0);
    host.set_var(altitude, 50.0);
    run(2);
    EXPECT_EQ(sent_target(altitude_raise), 150);
    EXPECT_EQ(text_after_update(altitude_readout), "00100");
    for (int i = 0; i < 4; ++i) click(altitude_raise, coarse_click);
    EXPECT_EQ(text_after_update(altitude_readout), "04100");
}

TEST_F(ApGauge, VerticalSpeedPadsClimbWithBlanksAndDescentWithZeros) {
    const Shown cases[] = {
        {0.0, "-----", 0.0},      {500.0, " +500", 500.0},  {0.4, "   +0", 0.4},   {-0.4, "-0000", -0.4},
        {-500.0, "-0500", -500.0}, {1200.0, "+1200", 1200.0}, {-1200.0, "-1200", -1200.0},
        {500.5, " +501", 500.5},  {-500.5, "-0501", -500.5}, {9999.4, "+9999", 9999.4},
        {10000.0, "-----", 10000.0}, {-10000.0, "-----", -10000.0}, {1e300, "-----", 1e300},
    };
    for (const Shown& shown : cases) {
        host.set_var(vertical_speed, shown.host_value);
        const auto result = update();
        EXPECT_EQ(*result.samples[vs_readout].text, shown.text) << shown.host_value;
        EXPECT_EQ(*result.samples[vs_readout].value, shown.returned);
    }
}

// The host's buffer holds char_count characters and the NUL; the driver checks its guard
// bytes after every callback and would fail the update on an overrun.
TEST_F(ApGauge, NoHostValueOverrunsAReadout) {
    const double values[] = {1e300, -1e300, std::numeric_limits<double>::max(), -std::numeric_limits<double>::max(),
                             infinity, -infinity, nan, 1e15, -1e15, std::numeric_limits<double>::denorm_min()};
    const Token tokens[] = {first_angle, second_angle, Token::ias, Token::mach, altitude, vertical_speed};
    for (const int mode : {0, 1}) {
        for (const double value : values) {
            for (const Token token : tokens) host.set_var(token, value);
            const auto result = update();
            for (const Element readout : {vs_readout, altitude_readout, angle2_readout, speed_readout, angle1_readout}) {
                const std::string& text = *result.samples[readout].text;
                const std::size_t width = readout == vs_readout || readout == altitude_readout ? 5 : 3;
                EXPECT_LE(text.size(), width) << value;
                if (!std::isfinite(value) || std::fabs(value) >= 1e15)
                    EXPECT_EQ(text.find_first_not_of('-'), std::string::npos) << readout << " at " << value << ": " << text;
            }
        }
        if (mode == 0) click(speed_mode_button);
    }
}

// ---- synchronisation of the targets ---------------------------------------------------

// Each target as its knob sends it after a fine step towards its limit that changes it.
struct Targets {
    int32_t angle_1, angle_2, ias, altitude, vs;
};

TEST_F(ApGauge, FirstEightUpdatesCopyTheHostValuesIntoTheTargets) {
    const auto set_host = [&](double angle_1, double angle_2, double ias_speed, double altitude_feet, double vs_fpm) {
        host.set_var(first_angle, angle_1);
        host.set_var(second_angle, angle_2);
        host.set_var(Token::ias, ias_speed);
        host.set_var(altitude, altitude_feet);
        host.set_var(vertical_speed, vs_fpm);
    };
    // The speed read-out copies what the other read-outs stored on the previous update
    // (it is drawn before the angle window, after the others).
    set_host(90.9, 180.2, 250.7, 12345.6, -700.9);
    run(8);
    EXPECT_EQ(sent_target(angle_1_raise), 91);
    EXPECT_EQ(sent_target(angle_2_raise), 181);
    EXPECT_EQ(sent_target(speed_raise), 251);
    EXPECT_EQ(sent_target(altitude_raise), 12445);
    EXPECT_EQ(sent_target(vs_upper_half), -800);
    // The ninth update copies nothing without a speed hold.
    set_host(10.0, 20.0, 300.0, 1000.0, 100.0);
    update();
    EXPECT_EQ(sent_target(angle_1_raise), 92);
    EXPECT_EQ(sent_target(altitude_raise), 12545);
}

TEST_F(ApGauge, SpeedHoldCopiesTheTargetsOnEveryNinthTick) {
    run(8);
    host.set_var(altitude, 7000.0);
    host.set_var(mach_hold, 1.0);
    // The speed read-out sees the hold as the SELECT label's callback, drawn after it, last
    // refreshed it: from the second update on.
    const std::pair<double, int32_t> not_copied[] = {{17.0, 100}, {17.0, 200}, {19.0, 300}};
    for (const auto& [tick, target] : not_copied) {
        host.set_var(Token::tick, tick);
        update();
        EXPECT_EQ(sent_target(altitude_raise), target) << "tick " << tick;
    }
    host.set_var(Token::tick, 18.0);
    update();
    EXPECT_EQ(sent_target(altitude_raise), 7100) << "copied at tick 18";
}

TEST_F(ApGauge, TargetsCopiedFromWildHostValuesSaturate) {
    host.set_var(altitude, 1e300);
    host.set_var(vertical_speed, -infinity);
    host.set_var(first_angle, nan);
    host.set_var(second_angle, 1e300);
    host.set_var(Token::ias, -1e300);
    run(8);
    EXPECT_EQ(sent_target(altitude_raise), 60000) << "INT32_MAX is above the limit: pulled back to it";
    EXPECT_EQ(sent_target(vs_upper_half), -6000) << "INT32_MIN is below the limit";
    EXPECT_EQ(sent_target(angle_1_raise), 1) << "NaN copies as 0";
    EXPECT_EQ(sent_target(speed_lower), 0) << "the decrease copies INT32_MIN and pulls it to 0";
    // One wrap correction on a target at the end of the range, without overflow.
    EXPECT_EQ(sent_target(angle_2_raise), 2147483647 + 1LL - 360);
    host.set_var(first_angle, -1e300);
    host.set_var(Token::tick, 0.0);
    host.set_var(mach_hold, 1.0);
    run(3);
    EXPECT_EQ(sent_target(angle_1_lower), -2147483648LL - 1 + 360);
}

}  // namespace
}  // namespace ap_test
