// The clock gauge's records as the host reads them from the loaded module: linkage, gauge
// header, the eight-element tree with its fields and failure lists, and the click areas.
#include <cstring>
#include <vector>

#include "clock_gauge_fixture.h"
#include "clock_click_rows.h"
#include "record_rows.h"

namespace clock_test {
namespace {

TEST_F(ClockGauge, LinkageRegistersTheOneGaugeForThe2002Host) {
    EXPECT_EQ(module.module_id(), 0x13u);
    EXPECT_EQ(module.module_version(), 0x800u);
    EXPECT_EQ(module.gauge_names(), std::vector<std::string>{"Digital_Clock"});
    EXPECT_NE(module.linkage().module_init, nullptr);
    EXPECT_NE(module.linkage().module_deinit, nullptr);
    EXPECT_NE(module.linkage().module_init, module.linkage().module_deinit);
    EXPECT_EQ(module.linkage().module_flags, 0u);
    EXPECT_EQ(module.linkage().module_priority, 0u);

    const GaugeHeader& header = driver.header();
    EXPECT_EQ(header.header_version, 0x320u);
    EXPECT_EQ(header.size_x_mm, 100u);
    EXPECT_EQ(header.gauge_callback, nullptr);
    // The variable holding the root follows the root record directly.
    EXPECT_EQ(reinterpret_cast<const char*>(header.element_list),
              reinterpret_cast<const char*>(driver.root()) + sizeof(StaticImageElement));
}

TEST_F(ClockGauge, StandardRoutinesHandTheFaceToTheHost) {
    using kestrel::StandardRoutineId;
    driver.run_standard_routine(StandardRoutineId::install, 0x1234);
    driver.run_standard_routine(StandardRoutineId::generate, 7);
    driver.run_standard_routine(StandardRoutineId::kill);
    const std::vector<kestrel::ElementListCall> expected = {
        {kestrel::ElementListOperation::install, driver.root(), 0x1234u},
        {kestrel::ElementListOperation::generate, driver.root(), 7u},
        {kestrel::ElementListOperation::kill, driver.root(), std::nullopt},
    };
    EXPECT_EQ(host.element_list_calls(), expected);
}

TEST_F(ClockGauge, ElementTreeIsTheEightElementsOfTheLayout) {
    const kestrel::testing::ElementRow rows[] = {
        {"0", 0, 8192, {0, 0}, {0, 0}, 0x1, 0, 4},
        {"0.0", 4, 8193, {5, 4}, {0, 0}, 0x40000005, 0, 0},
        {"0.1", 2, 0xFFFFFFFF, {36, 20}, {0, 0}, 0x7, 3, 1},
        {"0.1.0", 2, 0xFFFFFFFF, {36, 51}, {0, 0}, 0x7, 3, 2},
        {"0.1.0.0", 1, 8448, {52, 52}, {6, 42}, 0x3, 1, 0},
        {"0.1.0.1", 1, 8449, {52, 52}, {6, 42}, 0x40000007, 1, 0},
        {"0.2", 4, 8704, {87, 80}, {0, 0}, 0x3, 0, 0},
        {"0.3", 4, 8720, {0, 80}, {0, 0}, 0x3, 0, 0},
    };
    kestrel::testing::expect_element_rows(driver, rows);
}

TEST_F(ClockGauge, ReadoutsHandsAndIconsCarryTheirKindFields) {
    for (Element index : {upper_readout, lower_readout}) {
        const auto& readout = reinterpret_cast<const StringElement&>(driver.element(index));
        for (const ModuleVar& variable : readout.source_vars) EXPECT_EQ(variable.token, 0u);
        EXPECT_EQ(readout.size.width, 36);
        EXPECT_EQ(readout.size.height, 36);
        EXPECT_EQ(readout.fore_colour, 0x0040B4DCu);
        EXPECT_EQ(readout.back_colour, 0u);
        EXPECT_EQ(readout.highlight_colour, 0x005C5C5Cu);
        EXPECT_STREQ(readout.font_name, "Quartz");
        EXPECT_EQ(readout.font_weight, 400u);
        EXPECT_EQ(readout.font_charset, 1u);
        EXPECT_EQ(readout.text_format, 0x25u);
        EXPECT_EQ(readout.char_count, 5u);
    }
    for (Element index : {unlit_hand, lit_hand}) {
        const auto& hand = reinterpret_cast<const NeedleElement&>(driver.element(index));
        EXPECT_EQ(hand.source_var.token, 0u);
        EXPECT_EQ(hand.nonlinearity_table, nullptr);
        EXPECT_EQ(hand.nonlinearity_count, 0u);
        EXPECT_EQ(hand.needle_rate, 18u);
    }
    const struct {
        Element index;
        uint32_t icon_count;
    } icons[] = {{lit_face, 1}, {page_lever, 2}, {mode_lever, 2}};
    for (const auto& each : icons) {
        const auto& icon = reinterpret_cast<const IconElement&>(driver.element(each.index));
        EXPECT_EQ(icon.source_var.token, 0u);
        EXPECT_EQ(icon.icon_switch, 3u);
        EXPECT_EQ(icon.icon_count, each.icon_count);
    }
}

// Seven records; four areas, four different handlers.
TEST_F(ClockGauge, ClickAreasAreTheListOfTheLayout) {
    ASSERT_EQ(std::size(kestrel::testing::clock_click_rows), 7u);
    kestrel::testing::expect_click_rows(driver, kestrel::testing::clock_click_rows);
}

}  // namespace
}  // namespace clock_test
