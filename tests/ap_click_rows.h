// The AP click-area list as its controls give it: one row per area (A1 to A33 in list
// order) with its box on the background, help id, tooltip and kind, the children each
// kind has, and the 109 records the list is made of. The layout test checks the loaded
// records against it, the controls test hovers and clicks by it, the file test checks the
// shipped bytes against it. One table, three readers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "click_rows.h"

namespace kestrel::testing {

// push: one child over the whole area; knob: a lowering left and a raising right half;
// wheel: a lowering upper and a raising lower half; hover: help only, no child.
enum class ApAreaKind { push, knob, wheel, hover };

struct ApClickArea {
    const char* name;
    int32_t x, y, width, height;  // background pixels
    uint32_t help_id;
    const char* tooltip;          // Windows-1252 as stored; nullptr for none
    ApAreaKind kind;
};

inline constexpr ApClickArea ap_click_areas[] = {
    {"A1", 476, 50, 21, 21, 0xAB0E, nullptr, ApAreaKind::push},
    {"A2", 512, 50, 21, 21, 0xAB0E, nullptr, ApAreaKind::push},
    {"A3", 495, 16, 21, 21, 0xAD91, nullptr, ApAreaKind::push},
    {"A4", 472, 82, 64, 14, 0, "\xC2utopilot Disconnect Switch", ApAreaKind::push},
    {"A5", 392, 50, 22, 22, 0xAD90, nullptr, ApAreaKind::push},
    {"A6", 398, 16, 12, 12, 0, "IAS/MACH", ApAreaKind::push},
    {"A7", 276, 61, 37, 36, 0xAD86, nullptr, ApAreaKind::knob},
    {"A8", 426, 58, 37, 36, 0xAD8F, nullptr, ApAreaKind::knob},
    {"A9", 430, 37, 28, 14, 0, "IAS/MACH Hold Switch", ApAreaKind::push},
    {"A10", 549, 58, 37, 36, 0xAD88, nullptr, ApAreaKind::knob},
    {"A11", 552, 37, 28, 14, 0xAD87, nullptr, ApAreaKind::push},
    {"A12", 686, 58, 37, 36, 0xAD8D, nullptr, ApAreaKind::knob},
    {"A13", 691, 37, 28, 14, 0xAD8C, nullptr, ApAreaKind::push},
    {"A14", 767, 43, 25, 48, 0xAD8B, nullptr, ApAreaKind::wheel},
    {"A15", 611, 13, 21, 21, 0xAD85, nullptr, ApAreaKind::push},
    {"A16", 637, 13, 21, 21, 0, "GPS Hold Switch", ApAreaKind::push},
    {"A17", 611, 38, 21, 21, 0xAD84, nullptr, ApAreaKind::push},
    {"A18", 637, 38, 21, 21, 0xAD80, nullptr, ApAreaKind::push},
    {"A19", 611, 63, 21, 21, 0xAD83, nullptr, ApAreaKind::push},
    {"A20", 637, 63, 21, 21, 0xAD82, nullptr, ApAreaKind::push},
    {"A21", 3, 79, 21, 21, 0xAB0F, nullptr, ApAreaKind::push},
    {"A22", 28, 79, 21, 21, 0, "Panel On/Off Switch", ApAreaKind::push},
    {"A23", 327, 74, 21, 21, 0xAB13, nullptr, ApAreaKind::push},
    {"A24", 184, 33, 21, 21, 0, "Set QNH to Standard", ApAreaKind::push},
    {"A25", 210, 74, 21, 21, 0, "Lift Dumpers", ApAreaKind::push},
    {"A26", 235, 74, 21, 21, 0, "Airbrakes", ApAreaKind::push},
    {"A27", 277, 31, 36, 16, 0xAD86, nullptr, ApAreaKind::hover},
    {"A28", 426, 15, 36, 16, 0xAD8F, nullptr, ApAreaKind::hover},
    {"A29", 548, 15, 36, 16, 0xAD88, nullptr, ApAreaKind::hover},
    {"A30", 679, 15, 50, 16, 0xAD8D, nullptr, ApAreaKind::hover},
    {"A31", 755, 15, 46, 16, 0xAD8B, nullptr, ApAreaKind::hover},
    {"A32", 135, 74, 21, 21, 0xAB8E, nullptr, ApAreaKind::hover},
    {"A33", 160, 74, 21, 21, 0, "Overspeed Warning Light", ApAreaKind::hover},
};

inline constexpr uint32_t ap_push_flags = 0x20000000;
inline constexpr uint32_t ap_selector_flags = 0xA0200000;  // the halves also take the coarse bit and 0x00200000

// An area's click records, boxes relative to the area: none, one, or two halves.
struct ApChildren {
    std::size_t count;
    ClickRow rows[2];
};

constexpr ClickRow ap_child(int32_t x, int32_t y, int32_t width, int32_t height, int32_t cursor, uint32_t flags) {
    return {.kind = 2, .x = x, .y = y, .width = width, .height = height, .cursor = cursor, .help_id = 0,
            .mouse_flags = flags, .handler = true};
}

constexpr ApChildren children_of(const ApClickArea& area) {
    switch (area.kind) {
        case ApAreaKind::push: return {1, {ap_child(0, 0, area.width, area.height, 5, ap_push_flags)}};
        case ApAreaKind::knob:
            return {2, {ap_child(0, 0, 18, 36, 2, ap_selector_flags), ap_child(18, 0, 18, 36, 1, ap_selector_flags)}};
        case ApAreaKind::wheel:
            return {2, {ap_child(0, 0, 25, 24, 2, ap_selector_flags), ap_child(0, 25, 25, 24, 1, ap_selector_flags)}};
        case ApAreaKind::hover: return {0, {}};
    }
    return {0, {}};
}

// The records the areas make: the whole gauge's parent, then per area its parent, its
// tooltip text record if it has one, its children and its end of parent, then the whole
// gauge's end of parent and the end of the list.
constexpr std::size_t count_ap_click_records() {
    std::size_t count = 3;
    for (const ApClickArea& area : ap_click_areas) count += 2 + (area.tooltip != nullptr ? 1 : 0) + children_of(area).count;
    return count;
}
inline constexpr std::size_t ap_click_record_count = count_ap_click_records();

constexpr std::array<ClickRow, ap_click_record_count> make_ap_click_rows() {
    constexpr ClickRow end_of_parent = {.kind = 3, .x = 0, .y = 0, .width = 0, .height = 0, .cursor = -1,
                                        .help_id = 0, .mouse_flags = 0, .handler = false};
    std::array<ClickRow, ap_click_record_count> rows{};
    std::size_t at = 0;
    rows[at++] = {.kind = 1, .x = 0, .y = 0, .width = 0, .height = 0, .cursor = -1, .help_id = 0, .mouse_flags = 0,
                  .handler = false};
    for (const ApClickArea& area : ap_click_areas) {
        rows[at++] = {.kind = 1, .x = area.x, .y = area.y, .width = area.width, .height = area.height, .cursor = -1,
                      .help_id = area.help_id, .mouse_flags = 0, .handler = false};
        if (area.tooltip != nullptr)
            rows[at++] = {.kind = 4, .x = 0, .y = 0, .width = 0, .height = 0, .cursor = -1, .help_id = 0,
                          .mouse_flags = 0, .handler = false, .tooltip = area.tooltip};
        const ApChildren children = children_of(area);
        for (std::size_t child = 0; child < children.count; ++child) rows[at++] = children.rows[child];
        rows[at++] = end_of_parent;
    }
    rows[at++] = end_of_parent;
    rows[at++] = {.kind = 0, .x = 0, .y = 0, .width = 0, .height = 0, .cursor = -1, .help_id = 0, .mouse_flags = 0,
                  .handler = false};
    return rows;
}

inline constexpr std::array<ClickRow, ap_click_record_count> ap_click_rows = make_ap_click_rows();

}  // namespace kestrel::testing
