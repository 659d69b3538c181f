// The layout tests' rows: a gauge's element table and click-area list as the layout gives
// them, and the field-by-field checks of the loaded records against them that every
// gauge's layout test shares.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <span>
#include <vector>

#include "click_rows.h"
#include "driver.h"

namespace kestrel::testing {

struct ElementRow {
    const char* label;
    uint32_t kind;
    uint32_t resource_id;
    PixelPoint position;
    PixelPoint anchor;
    uint32_t image_flags;
    uint32_t failure_action;  // of the list's one entry (key 20); 0 = no list
    std::size_t children;
    uint32_t special_flags = 0;  // host-owned meaning; set on some AP read-outs only
};

// Every element in drawing order against its row; only the root has no callback, and
// every word the host owns is still zero.
inline void expect_element_rows(const GaugeDriver& driver, std::span<const ElementRow> rows) {
    ASSERT_EQ(driver.elements().size(), rows.size());
    for (std::size_t index = 0; index < rows.size(); ++index) {
        const ElementRow& row = rows[index];
        const ElementHeader& element = *driver.elements()[index].element;
        SCOPED_TRACE(row.label);
        EXPECT_EQ(driver.elements()[index].label, row.label);
        EXPECT_EQ(element.element_kind, row.kind);
        EXPECT_EQ(element.resource_id, row.resource_id);
        EXPECT_EQ(element.position.x, row.position.x);
        EXPECT_EQ(element.position.y, row.position.y);
        EXPECT_EQ(element.anchor.x, row.anchor.x);
        EXPECT_EQ(element.anchor.y, row.anchor.y);
        EXPECT_EQ(element.previous_position.x, 0);
        EXPECT_EQ(element.previous_position.y, 0);
        EXPECT_EQ(element.previous_element, nullptr);
        EXPECT_EQ(element.image_flags, row.image_flags);
        EXPECT_EQ(element.special_flags, row.special_flags);
        EXPECT_EQ(element.reserved, 0u);
        EXPECT_EQ(element.gauge_header, &driver.header());
        EXPECT_EQ(value_callback_of(element) == nullptr, index == 0);
        if (row.failure_action == 0) {
            EXPECT_EQ(element.failure_list, nullptr);
        } else {
            ASSERT_NE(element.failure_list, nullptr);
            EXPECT_EQ(element.failure_list[0].failure_key, 20u);
            EXPECT_EQ(element.failure_list[0].failure_action, row.failure_action);
            EXPECT_EQ(element.failure_list[0].reserved, 0u);
            EXPECT_EQ(element.failure_list[1].failure_key, 0u);
            EXPECT_EQ(element.failure_list[1].failure_action, 0u);
            EXPECT_EQ(element.failure_list[1].reserved, 0u);
        }
        std::size_t children = 0;
        while (element.next_elements != nullptr && element.next_elements[children] != nullptr) ++children;
        EXPECT_EQ(children, row.children);
    }
}

struct MouseRow {
    uint32_t kind;
    PixelBox box;
    int32_t cursor;
    uint32_t help_id;
    uint32_t mouse_flags;
};

// One click-area record against its row; no area sends an event by itself or carries api_data.
inline void expect_mouse_record(const MouseRect& record, const MouseRow& row) {
    EXPECT_EQ(record.rect_kind, row.kind);
    EXPECT_EQ(std::memcmp(&record.box, &row.box, sizeof(PixelBox)), 0);
    EXPECT_EQ(record.cursor, row.cursor);
    EXPECT_EQ(record.help_id, row.help_id);
    EXPECT_EQ(record.mouse_flags, row.mouse_flags);
    EXPECT_EQ(record.event_id, 0u);
    EXPECT_EQ(record.api_data, 0u);
}

// The loaded click-area list record by record against its rows: every word the module
// stores, each tooltip text, and for every child a handler of its own.
inline void expect_click_rows(const GaugeDriver& driver, std::span<const ClickRow> rows) {
    ASSERT_EQ(driver.mouse_list().size(), rows.size());
    std::vector<ClickHandler> handlers;
    for (std::size_t index = 0; index < rows.size(); ++index) {
        const MouseRect& record = *driver.mouse_list()[index].record;
        const ClickRow& row = rows[index];
        SCOPED_TRACE(index);
        expect_mouse_record(record, {row.kind, {row.x, row.y, row.width, row.height}, row.cursor, row.help_id,
                                     row.mouse_flags});
        if (row.kind == mouse_tooltip_text) {
            EXPECT_STREQ(record.target.tooltip, row.tooltip);
            continue;
        }
        EXPECT_EQ(record.target.handler != nullptr, row.handler);
        if (record.target.handler != nullptr) handlers.push_back(record.target.handler);
    }
    const auto children = std::count_if(rows.begin(), rows.end(), [](const ClickRow& row) { return row.handler; });
    EXPECT_EQ(handlers.size(), static_cast<std::size_t>(children));
    std::sort(handlers.begin(), handlers.end());
    EXPECT_EQ(std::adjacent_find(handlers.begin(), handlers.end()), handlers.end()) << "two children share a handler";
}

}  // namespace kestrel::testing
