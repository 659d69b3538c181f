// The AUTOBRAKE records as the host reads them from the loaded KESTREL module: the gauge
// header, the four-element chain field by field, the needle's five-point scale, the
// failure lists (the light's shared with AP) and the fourteen click areas.
#include <algorithm>
#include <cmath>
#include <set>
#include <vector>

#include "autobrake_gauge_fixture.h"
#include "record_rows.h"

namespace autobrake_test {
namespace {

template <typename Word, std::size_t N>
bool all_zero(const Word (&words)[N]) {
    return std::all_of(std::begin(words), std::end(words), [](Word word) { return word == 0; });
}

TEST_F(AutobrakeGauge, HeaderIsTheSecondGaugeOfTheModule) {
    ASSERT_EQ(module.gauge_names(), (std::vector<std::string>{"AP", "AUTOBRAKE"}));
    EXPECT_EQ(module.gauges()[1], &driver.header());

    const GaugeHeader& header = driver.header();
    EXPECT_EQ(header.header_version, 0x320u);
    EXPECT_STREQ(header.gauge_name, "AUTOBRAKE");
    EXPECT_EQ(header.size_x_mm, 73u);
    EXPECT_EQ(header.mouse_rect_list, driver.mouse_list().front().record);
    EXPECT_NE(header.gauge_callback, nullptr);
    for (const auto routine : {header.query_routine, header.initialize_routine, header.update_routine,
                               header.draw_routine, header.kill_routine})
        EXPECT_NE(routine, nullptr);
    EXPECT_NE(header.install_routine, nullptr);
    EXPECT_NE(header.generate_routine, nullptr);
    EXPECT_EQ(header.host_owned_40, 0u);
    EXPECT_TRUE(all_zero(header.host_owned_48));
    EXPECT_TRUE(all_zero(header.host_owned_88));
    // The variable holding the root follows the root record directly.
    EXPECT_EQ(reinterpret_cast<const char*>(header.element_list),
              reinterpret_cast<const char*>(driver.root()) + sizeof(StaticImageElement));
}

TEST_F(AutobrakeGauge, ChainIsBackgroundNeedleLightKnob) {
    const kestrel::testing::ElementRow rows[] = {
        {"0", 0, 110, {0, 0}, {0, 0}, 0x3, 0, 1},
        {"0.0", 1, 111, {36, 26}, {0, 3}, 0x83, 1, 1},
        {"0.0.0", 4, 113, {25, 72}, {0, 0}, 0x7, 3, 1},
        {"0.0.0.0", 1, 112, {36, 121}, {14, 15}, 0x83, 0, 0},
    };
    kestrel::testing::expect_element_rows(driver, rows);
    EXPECT_EQ(element(knob).next_elements, nullptr) << "the last of the chain has no child list at all";
    EXPECT_TRUE(all_zero(reinterpret_cast<const StaticImageElement&>(element(background)).host_owned_60));
}

TEST_F(AutobrakeGauge, NeedlesAndLightCarryTheirKindFields) {
    const auto& needle = reinterpret_cast<const NeedleElement&>(element(upper_needle));
    const auto& knob_needle = reinterpret_cast<const NeedleElement&>(element(knob));
    const auto& lamp = reinterpret_cast<const IconElement&>(element(light));

    EXPECT_EQ(needle.source_var.token, 329u);
    EXPECT_EQ(needle.nonlinearity_count, 5u);
    EXPECT_NE(needle.nonlinearity_table, nullptr);
    EXPECT_EQ(knob_needle.source_var.token, 0u);
    EXPECT_EQ(knob_needle.nonlinearity_table, nullptr);
    EXPECT_EQ(knob_needle.nonlinearity_count, 0u);
    for (const NeedleElement* each : {&needle, &knob_needle}) {
        EXPECT_EQ(each->needle_rate, 0u);
        EXPECT_EQ(each->source_var.var_ptr, nullptr);
        EXPECT_EQ(each->source_var.var_type, 0u);
        EXPECT_TRUE(all_zero(each->host_owned_88));
        EXPECT_TRUE(all_zero(each->host_owned_124));
        EXPECT_TRUE(all_zero(each->host_owned_228));
    }

    EXPECT_EQ(lamp.source_var.token, 323u);
    EXPECT_EQ(lamp.icon_switch, 0u);
    EXPECT_EQ(lamp.icon_count, 1u);
    EXPECT_EQ(lamp.host_owned_88, 0u);
    EXPECT_TRUE(all_zero(lamp.host_owned_96));
    EXPECT_TRUE(all_zero(lamp.host_owned_116));
    EXPECT_EQ(lamp.host_owned_136, 0u);

    // Three different callbacks: the needle's value, the light's threshold, the knob's angle.
    const std::set<ElementCallback> callbacks = {needle.value_callback, lamp.value_callback,
                                                 knob_needle.value_callback};
    EXPECT_EQ(callbacks.size(), 3u);
}

TEST_F(AutobrakeGauge, NeedleScaleIsTheFivePointsOfTheArc) {
    const auto& needle = reinterpret_cast<const NeedleElement&>(element(upper_needle));
    ASSERT_NE(needle.nonlinearity_table, nullptr);
    ASSERT_EQ(needle.nonlinearity_count, 5u);
    const struct {
        PixelPoint point;
        double value;
    } scale[] = {{{36, 4}, 0}, {{48, 8}, 3120}, {{57, 18}, 5851}, {{58, 31}, 9752}, {{40, 47}, 16384}};
    for (std::size_t i = 0; i < std::size(scale); ++i) {
        const NonlinearityEntry& entry = needle.nonlinearity_table[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(entry.point.x, scale[i].point.x);
        EXPECT_EQ(entry.point.y, scale[i].point.y);
        EXPECT_EQ(entry.value, scale[i].value);
        EXPECT_EQ(entry.host_owned, 0.0);
        // Every point lies on the arc the tip sweeps, about 22 pixels from the centre.
        const double radius = std::hypot(entry.point.x - 36, entry.point.y - 26);
        EXPECT_NEAR(radius, 22.0, 1.0);
    }
}

// The shared pieces are shared, not copied: the light's failure list is the record every
// AP read-out and light names, and the needle's and light's callbacks also serve AP elements.
TEST_F(AutobrakeGauge, LightListAndTwoCallbacksAreTheOnesAPUses) {
    kestrel::GaugeDriver ap{module, host, "AP"};
    std::set<const FailureEntry*> ap_action_3_lists;
    std::set<ElementCallback> ap_callbacks;
    for (const kestrel::ElementEntry& entry : ap.elements()) {
        const FailureEntry* list = entry.element->failure_list;
        if (list != nullptr && list[0].failure_key == 20 && list[0].failure_action == 3) ap_action_3_lists.insert(list);
        if (const ElementCallback callback = kestrel::value_callback_of(*entry.element)) ap_callbacks.insert(callback);
    }
    EXPECT_EQ(ap_action_3_lists, std::set<const FailureEntry*>{element(light).failure_list});
    EXPECT_EQ(ap_callbacks.count(kestrel::value_callback_of(element(upper_needle))), 1u);
    EXPECT_EQ(ap_callbacks.count(kestrel::value_callback_of(element(light))), 1u);
    EXPECT_EQ(ap_callbacks.count(kestrel::value_callback_of(element(knob))), 0u);
}

TEST_F(AutobrakeGauge, ClickAreasAreTheFourteenRecordsOfTheList) {
    // Each child is known by the event its handler sends; 0 for records without a handler.
    const struct {
        kestrel::testing::MouseRow row;
        uint32_t event;
    } rows[] = {
        {{1, {0, 0, 0, 0}, -1, 0, 0}, 0},
        {{1, {12, 1, 50, 51}, -1, 0xAB24, 0}, 0},
        {{2, {0, 0, 25, 51}, 2, 0, 0x20000000}, dial_left_event},
        {{2, {25, 0, 25, 51}, 1, 0, 0x20000000}, dial_right_event},
        {{3, {0, 0, 0, 0}, -1, 0, 0}, 0},
        {{1, {23, 71, 26, 14}, -1, 0xAB51, 0}, 0},
        {{2, {0, 0, 26, 14}, 5, 0, 0x20000000}, light_button_event},
        {{3, {0, 0, 0, 0}, -1, 0, 0}, 0},
        {{1, {18, 104, 42, 36}, -1, 0xAB7C, 0}, 0},
        {{2, {0, 0, 21, 36}, 2, 0, 0x20000000}, knob_down_event},
        {{2, {21, 0, 21, 36}, 1, 0, 0x20000000}, knob_up_event},
        {{3, {0, 0, 0, 0}, -1, 0, 0}, 0},
        {{3, {0, 0, 0, 0}, -1, 0, 0}, 0},
        {{0, {0, 0, 0, 0}, -1, 0, 0}, 0},
    };
    ASSERT_EQ(driver.mouse_list().size(), std::size(rows));
    const PixelPoint nowhere{-1, -1};
    std::size_t handlers_called = 0;
    for (std::size_t index = 0; index < std::size(rows); ++index) {
        const MouseRect& record = *driver.mouse_list()[index].record;
        SCOPED_TRACE(index);
        kestrel::testing::expect_mouse_record(record, rows[index].row);
        if (rows[index].event == 0) {
            EXPECT_EQ(record.target.handler, nullptr) << "no tooltip text, no handler";
            continue;
        }
        ASSERT_NE(record.target.handler, nullptr);
        EXPECT_EQ(record.target.handler(&nowhere, click_flags), 0);
        const std::vector<kestrel::KeyEvent> sent = host.take_key_events();
        ASSERT_FALSE(sent.empty());
        EXPECT_EQ(sent.front(), (kestrel::KeyEvent{rows[index].event, 0}));
        ++handlers_called;
    }
    EXPECT_EQ(handlers_called, 5u);
}

}  // namespace
}  // namespace autobrake_test
