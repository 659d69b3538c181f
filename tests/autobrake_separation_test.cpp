// The two gauges of the KESTREL module keep apart: AUTOBRAKE's standard routines hand the
// host its own tree, and nothing AUTOBRAKE runs (callbacks, handlers, the gauge callback)
// changes a byte of an AP element; AP's gauge callback leaves AUTOBRAKE's needle alone.
#include <cstring>
#include <string>
#include <vector>

#include "autobrake_gauge_fixture.h"

namespace autobrake_test {
namespace {

using kestrel::ElementListCall;
using kestrel::StandardRoutineId;

std::size_t record_size(uint32_t kind) {
    switch (kind) {
        case static_image_element: return sizeof(StaticImageElement);
        case needle_element: return sizeof(NeedleElement);
        case string_element: return sizeof(StringElement);
        case icon_element: return sizeof(IconElement);
        default: return sizeof(ElementHeader);
    }
}

// Every AP element as bytes, and its image_flags on their own for a readable report.
struct ApSnapshot {
    std::vector<uint32_t> flags;
    std::vector<std::vector<unsigned char>> bytes;

    explicit ApSnapshot(const kestrel::GaugeDriver& ap) {
        for (const kestrel::ElementEntry& entry : ap.elements()) {
            flags.push_back(entry.element->image_flags);
            const auto* first = reinterpret_cast<const unsigned char*>(entry.element);
            bytes.emplace_back(first, first + record_size(entry.element->element_kind));
        }
    }
};

class TwoGauges : public AutobrakeGauge {
protected:
    kestrel::GaugeDriver ap{module, host, "AP"};
};

// Each gauge has a set of standard routines of its own, reading its own header: called
// for AUTOBRAKE they never hand the host AP's tree.
TEST_F(TwoGauges, StandardRoutinesHandTheHostTheirOwnGaugesTree) {
    ASSERT_NE(ap.root(), driver.root());
    EXPECT_EQ(driver.root()->resource_id, 110u);
    for (int routine = 1; routine <= 7; ++routine) {
        SCOPED_TRACE(routine);
        host.clear_element_list_calls();
        driver.run_standard_routine(StandardRoutineId{routine}, 0x80000006);
        ap.run_standard_routine(StandardRoutineId{routine}, 0x80000006);
        const std::vector<ElementListCall>& calls = host.element_list_calls();
        ASSERT_EQ(calls.size(), 2u);
        EXPECT_EQ(calls[0].root, driver.root());
        EXPECT_EQ(calls[1].root, ap.root());
        EXPECT_EQ(calls[0].operation, calls[1].operation);
    }
    EXPECT_NE(driver.header().query_routine, ap.header().query_routine);
    EXPECT_NE(driver.header().install_routine, ap.header().install_routine);
    EXPECT_NE(driver.header().kill_routine, ap.header().kill_routine);
}

TEST_F(TwoGauges, NothingAutobrakeRunsTouchesAnApElement) {
    const ApSnapshot before(ap);
    ASSERT_GT(before.flags.size(), 1u);

    host.set_var(needle_var, 9752);
    host.set_var(light_var, 1);
    host.set_var(needle_flag_var, 1);
    driver.update();
    for (const AreaPixel& pixel : every_area)
        for (const uint32_t flags : {click_flags, 0xFFFFFFFFu}) click(pixel, flags);
    for (int32_t service = -1; service <= 16; ++service) driver.gauge_callback(service, 0);
    EXPECT_EQ(needle_flags(), 0x80000087u);
    host.set_var(needle_flag_var, 0);
    driver.gauge_callback(service_needle_flags, 0);
    driver.update();
    for (int routine = 1; routine <= 7; ++routine) driver.run_standard_routine(StandardRoutineId{routine}, 1);

    // AUTOBRAKE did act: its needle was marked and its clicks sent their events.
    EXPECT_EQ(needle_flags(), 0x80000083u);
    EXPECT_EQ(host.key_events_sent().size(), 10u);  // two clicks in each of the five areas
    const ApSnapshot after(ap);
    EXPECT_EQ(after.flags, before.flags);
    EXPECT_TRUE(after.bytes == before.bytes) << "an AP element record changed";
}

TEST_F(TwoGauges, ApServiceSixLeavesTheAutobrakeNeedleAlone) {
    host.set_var(needle_flag_var, 1);
    ap.gauge_callback(service_needle_flags, 0);
    EXPECT_EQ(needle_flags(), 0x83u);
    driver.gauge_callback(service_needle_flags, 0);
    EXPECT_EQ(needle_flags(), 0x80000087u) << "only AUTOBRAKE's own callback marks it";
}

}  // namespace
}  // namespace autobrake_test
