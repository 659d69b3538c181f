// The AP records as the host reads them from the loaded KESTREL module: the header, the
// 28-element chain field by field with its tokens, read-out fields and failure list, the
// standard routines, and the 109-record click-area list with its help ids and tooltips.
#include <algorithm>
#include <string>
#include <vector>

#include "ap_click_rows.h"
#include "ap_gauge_fixture.h"
#include "record_rows.h"

namespace ap_test {
namespace {

using kestrel::testing::ElementRow;

template <typename Word, std::size_t N>
bool all_zero(const Word (&words)[N]) {
    return std::all_of(std::begin(words), std::end(words), [](Word word) { return word == 0; });
}

// The chain's labels: "0", "0.0", "0.0.0", ...
std::string chain_label(std::size_t depth) {
    std::string label = "0";
    for (std::size_t i = 0; i < depth; ++i) label += ".0";
    return label;
}

TEST_F(ApGauge, HeaderIsTheFirstGaugeOfTheModule) {
    ASSERT_EQ(module.gauge_names(), (std::vector<std::string>{"AP", "AUTOBRAKE"}));
    EXPECT_EQ(module.gauges()[0], &driver.header());
    EXPECT_EQ(module.module_version(), 0x900u);
    const GaugeHeader& header = driver.header();
    EXPECT_EQ(header.header_version, 0x320u);
    EXPECT_STREQ(header.gauge_name, "AP");
    EXPECT_EQ(header.size_x_mm, 804u);
    EXPECT_EQ(header.mouse_rect_list, driver.mouse_list().front().record);
    EXPECT_NE(header.gauge_callback, nullptr);
    EXPECT_EQ(header.host_owned_40, 0u);
    EXPECT_TRUE(all_zero(header.host_owned_48));
    EXPECT_TRUE(all_zero(header.host_owned_88));
    EXPECT_EQ(reinterpret_cast<const char*>(header.element_list),
              reinterpret_cast<const char*>(driver.root()) + sizeof(StaticImageElement));
}

TEST_F(ApGauge, StandardRoutinesHandTheBackgroundToTheHost) {
    host.clear_element_list_calls();
    using kestrel::StandardRoutineId;
    EXPECT_EQ(driver.run_standard_routine(StandardRoutineId::install, 0xCAFE), kestrel::element_list_result);
    driver.run_standard_routine(StandardRoutineId::generate, 0xBEEF);
    driver.run_standard_routine(StandardRoutineId::kill);
    using kestrel::ElementListOperation;
    const std::vector<kestrel::ElementListCall> expected = {
        {ElementListOperation::install, driver.root(), 0xCAFE},
        {ElementListOperation::generate, driver.root(), 0xBEEF},
        {ElementListOperation::kill, driver.root(), std::nullopt},
    };
    EXPECT_EQ(host.element_list_calls(), expected);
}

TEST_F(ApGauge, ChainIsTheTwentyEightRowsOfTheLayout) {
    struct Row {
        uint32_t kind, resource_id;
        PixelPoint position;
        uint32_t image_flags, failure_action, special_flags;
    };
    const Row layout[element_count] = {
        {0, 101, {0, 0}, 0x3, 0, 0},          {2, 0xFFFFFFFF, {758, 17}, 0x7, 3, 1},
        {2, 0xFFFFFFFF, {682, 17}, 0x7, 3, 1}, {2, 0xFFFFFFFF, {553, 17}, 0x7, 3, 2},
        {2, 0xFFFFFFFF, {432, 17}, 0x7, 3, 1}, {2, 0xFFFFFFFF, {282, 33}, 0x7, 3, 0},
        {4, 103, {184, 33}, 0x7, 3, 0},        {4, 103, {235, 74}, 0x7, 3, 0},
        {4, 103, {210, 74}, 0x7, 3, 0},        {4, 102, {160, 74}, 0x7, 3, 0},
        {4, 102, {135, 74}, 0x7, 3, 0},        {4, 104, {327, 74}, 0x7, 3, 0},
        {4, 104, {28, 79}, 0x7, 3, 0},         {4, 104, {3, 79}, 0x7, 3, 0},
        {4, 103, {637, 63}, 0x7, 3, 0},        {4, 103, {611, 63}, 0x7, 3, 0},
        {4, 103, {637, 38}, 0x7, 3, 0},        {4, 103, {611, 38}, 0x7, 3, 0},
        {4, 103, {637, 13}, 0x7, 3, 0},        {4, 103, {611, 13}, 0x7, 3, 0},
        {4, 105, {691, 37}, 0x7, 3, 0},        {4, 105, {552, 37}, 0x7, 3, 0},
        {4, 105, {430, 37}, 0x7, 3, 0},        {4, 108, {392, 50}, 0x3, 0, 0},
        {4, 106, {472, 82}, 0x3, 0, 0},        {4, 103, {495, 16}, 0x7, 3, 0},
        {4, 103, {512, 50}, 0x7, 3, 0},        {4, 103, {476, 50}, 0x7, 3, 0},
    };
    std::vector<std::string> labels;
    for (std::size_t depth = 0; depth < element_count; ++depth) labels.push_back(chain_label(depth));
    std::vector<ElementRow> rows;
    for (std::size_t i = 0; i < element_count; ++i) {
        const Row& row = layout[i];
        rows.push_back({labels[i].c_str(), row.kind, row.resource_id, row.position, {0, 0}, row.image_flags,
                        row.failure_action, i + 1 < element_count ? 1u : 0u, row.special_flags});
    }
    kestrel::testing::expect_element_rows(driver, rows);
    EXPECT_EQ(driver.element(ap1_light).next_elements, nullptr) << "the last row has no child list at all";
    // One failure list serves every light and read-out.
    EXPECT_EQ(driver.element(vs_readout).failure_list, driver.element(ap1_light).failure_list);
}

TEST_F(ApGauge, ReadoutsCarryTheirTokensBoxesAndFont) {
    struct Readout {
        Element element;
        uint32_t first_token, second_token;
        int32_t width;
        uint32_t char_count;
    };
    const Readout readouts[] = {
        {vs_readout, 120, 0, 45, 5},    {altitude_readout, 109, 0, 45, 5}, {angle2_readout, 107, 0, 27, 3},
        {speed_readout, 116, 118, 27, 3}, {angle1_readout, 45, 0, 27, 3},
    };
    for (const Readout& expected : readouts) {
        SCOPED_TRACE(expected.element);
        const auto& readout = reinterpret_cast<const StringElement&>(driver.element(expected.element));
        EXPECT_EQ(readout.source_vars[0].token, expected.first_token);
        EXPECT_EQ(readout.source_vars[1].token, expected.second_token);
        EXPECT_EQ(readout.source_vars[2].token, 0u);
        EXPECT_EQ(readout.size.width, expected.width);
        EXPECT_EQ(readout.size.height, 13);
        EXPECT_EQ(readout.char_count, expected.char_count);
        EXPECT_EQ(readout.fore_colour, 0x0048B8F0u);
        EXPECT_EQ(readout.back_colour, 0u);
        EXPECT_EQ(readout.highlight_colour, 0u);
        EXPECT_EQ(std::string(readout.font_name, sizeof readout.font_name), std::string("Quartz", 6) + std::string(26, '\0'));
        EXPECT_EQ(readout.font_weight, 400u);
        EXPECT_EQ(readout.font_charset, 1u);
        EXPECT_EQ(readout.text_format, 0x25u);
        EXPECT_TRUE(all_zero(readout.host_owned_144));
        EXPECT_TRUE(all_zero(readout.host_owned_220));
        EXPECT_TRUE(all_zero(readout.host_owned_296));
    }
}

TEST_F(ApGauge, IconsCarryTheirTokensAndPictureCounts) {
    const uint32_t tokens[element_count] = {0,   0,   0,   0,   0,   0,   0,   324, 866, 68,  67,  364, 0,   740,
                                            113, 112, 104, 114, 848, 105, 108, 106, 0,   792, 0,   123, 103, 103};
    std::size_t icons = 0;
    for (std::size_t index = qnh_std_light; index < element_count; ++index, ++icons) {
        SCOPED_TRACE(index);
        const auto& icon = reinterpret_cast<const IconElement&>(driver.element(index));
        EXPECT_EQ(icon.source_var.token, tokens[index]);
        EXPECT_EQ(icon.icon_switch, 0u);
        EXPECT_EQ(icon.icon_count, index == toggle_lever || index == disconnect_bar ? 2u : 1u);
        EXPECT_EQ(icon.host_owned_88, 0u);
        EXPECT_TRUE(all_zero(icon.host_owned_96));
        EXPECT_TRUE(all_zero(icon.host_owned_116));
    }
    EXPECT_EQ(icons, 22u);
}

// The list record by record against the table of areas: 109 records, each of the 33
// areas a parent with its help id or tooltip, its children and its end, inside one parent
// for the whole gauge; 31 children, each with a handler of its own.
TEST_F(ApGauge, ClickListIsOneParentPerAreaInsideTheWholeGauge) {
    using kestrel::testing::ap_click_rows;
    ASSERT_EQ(std::size(kestrel::testing::ap_click_areas), 33u);
    ASSERT_EQ(ap_click_rows.size(), 109u);
    EXPECT_EQ(std::count_if(ap_click_rows.begin(), ap_click_rows.end(), [](const auto& row) { return row.handler; }), 31);
    kestrel::testing::expect_click_rows(driver, ap_click_rows);
}

// Where the host outlines a selector's halves: side by side, and one above the other with a
// row between them on the vertical speed wheel.
TEST_F(ApGauge, SelectorHalvesSplitTheirParents) {
    const auto box_of = [&](PanelPixel pixel) {
        const auto result = driver.click(pixel.x, pixel.y, plain_click);
        EXPECT_TRUE(result.area.has_value());
        return result.area ? driver.mouse_list()[*result.area].box : PixelBox{};
    };
    const PixelBox angle_lower = box_of(angle_1_lower), angle_raise = box_of(angle_1_raise);
    EXPECT_EQ(angle_lower.x, 276);
    EXPECT_EQ(angle_lower.width, 18);
    EXPECT_EQ(angle_raise.x, 294);
    const PixelBox upper = box_of(vs_upper_half), lower = box_of(vs_lower_half);
    EXPECT_EQ(upper.y, 43);
    EXPECT_EQ(upper.height, 24);
    EXPECT_EQ(lower.y, 68);
    EXPECT_FALSE(driver.click(775, 67, plain_click).area.has_value()) << "the row between the wheel's halves";
}

}  // namespace
}  // namespace ap_test
