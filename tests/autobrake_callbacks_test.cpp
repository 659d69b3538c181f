// The AUTOBRAKE element callbacks and gauge callback through the host: the needle's value
// passed through unchanged, the light's threshold at zero, and the needle's image flags
// set on service 6 from host variable 753 and left alone on every other service.
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "autobrake_gauge_fixture.h"

namespace autobrake_test {
namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();
constexpr double smallest_positive = std::numeric_limits<double>::denorm_min();

TEST_F(AutobrakeGauge, NeedlePassesItsVariableThroughUnchanged) {
    // The scale's points, between them, and far outside the 0..16384 of the table.
    for (const double value : {0.0, 3120.0, 4000.5, 16384.0, -1.0, 16385.0, 1e300, -1e300, infinity, -infinity,
                               smallest_positive}) {
        EXPECT_EQ(value_with(upper_needle, needle_var, value), value);
    }
    EXPECT_TRUE(std::signbit(value_with(upper_needle, needle_var, -0.0))) << "-0 comes back as -0";
    EXPECT_TRUE(std::isnan(value_with(upper_needle, needle_var, std::nan(""))));
    EXPECT_TRUE(host.lookups().empty()) << "the host refreshed the needle's own variable";
}

TEST_F(AutobrakeGauge, LightShowsItsPictureOnlyAboveZero) {
    for (const double value : {0.0, -0.0, -smallest_positive, -1.0, -infinity, std::nan("")})
        EXPECT_EQ(value_with(light, light_var, value), -1.0) << value;
    for (const double value : {smallest_positive, 1e-300, 0.25, 1.0, 16384.0, infinity})
        EXPECT_EQ(value_with(light, light_var, value), 1.0) << value;
}

TEST_F(AutobrakeGauge, ServiceSixMarksTheNeedleAndFollowsVariable753) {
    EXPECT_EQ(needle_flags(), 0x83u) << "as stored, before any service";
    EXPECT_EQ(flags_after_service(0.0), 0x80000083u);
    EXPECT_EQ(flags_after_service(0.25), 0x80000087u);
    EXPECT_EQ(flags_after_service(0.25), 0x80000087u) << "setting a set bit again changes nothing";
    EXPECT_EQ(flags_after_service(0.0), 0x80000083u) << "0x4 cleared, 0x80000000 kept";
    EXPECT_EQ(flags_after_service(-0.0), 0x80000083u);
    // Anything but exactly zero sets 0x4.
    for (const double value : {-1.0, smallest_positive, 16384.0, infinity, std::nan("")})
        EXPECT_EQ(flags_after_service(value), 0x80000087u) << value;
    // Each call asked the host for 753, and only for 753.
    EXPECT_EQ(host.lookups(), std::vector<uint32_t>(10, needle_flag_var));
    // Nothing else of the gauge changed.
    EXPECT_EQ(element(background).image_flags, 0x3u);
    EXPECT_EQ(element(light).image_flags, 0x7u);
    EXPECT_EQ(element(knob).image_flags, 0x83u);
    EXPECT_TRUE(host.key_events_sent().empty());
}

TEST_F(AutobrakeGauge, OtherServiceIdsChangeNothingAndLookNothingUp) {
    host.set_var(needle_flag_var, 1.0);
    for (const int32_t service : {0, 1, 5, 7, 14, 15, -6, 0x10006, std::numeric_limits<int32_t>::min(),
                                  std::numeric_limits<int32_t>::max()}) {
        EXPECT_TRUE(driver.gauge_callback(service, 6).called);
        EXPECT_EQ(needle_flags(), 0x83u) << "service " << service;
    }
    EXPECT_TRUE(host.lookups().empty()) << "variable 753 is read on service 6 only";
    // After a service 6 has marked the needle, other ids still leave it as it is.
    EXPECT_EQ(flags_after_service(1.0), 0x80000087u);
    host.set_var(needle_flag_var, 0.0);
    for (const int32_t service : {5, 7, 14}) driver.gauge_callback(service, 0);
    EXPECT_EQ(needle_flags(), 0x80000087u);
    EXPECT_EQ(host.lookups().size(), 1u);
}

// The host owes the callback its own header; one passed without a tree must not bring
// the module down, and then nothing changes.
TEST_F(AutobrakeGauge, GaugeCallbackWithoutAHeaderChangesNothing) {
    GaugeHeader& header = driver.header();
    ASSERT_NE(header.gauge_callback, nullptr);
    host.set_var(needle_flag_var, 1.0);
    header.gauge_callback(nullptr, service_needle_flags, 0);
    GaugeHeader without_tree = header;
    without_tree.element_list = nullptr;
    header.gauge_callback(&without_tree, service_needle_flags, 0);
    EXPECT_EQ(needle_flags(), 0x83u);
    EXPECT_EQ(host.lookups().size(), 2u) << "the variable is still refreshed each time";
}

}  // namespace
}  // namespace autobrake_test
