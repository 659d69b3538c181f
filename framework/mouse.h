// Click areas: the MouseRect list through which the host routes clicks to a gauge's
// handlers and finds the help number or tooltip text under the pointer.
#pragma once

#include "abi.h"

enum MouseRectKind : uint32_t {
    mouse_end_of_list = 0,
    mouse_parent = 1,
    mouse_child = 2,
    mouse_end_of_parent = 3,
    mouse_tooltip_text = 4,
};

// Host cursor codes; the pictures are the host's. A two-half control raises what it sets
// on its right or lower half and lowers it on its left or upper half.
inline constexpr int32_t cursor_none = -1;
inline constexpr int32_t cursor_raise = 1;
inline constexpr int32_t cursor_lower = 2;
inline constexpr int32_t cursor_push = 5;

inline constexpr uint32_t mouse_flag_click = 0x20000000;    // every click area takes these clicks
inline constexpr uint32_t mouse_flag_coarse = 0x80000000;   // handlers take a coarse step on this bit
inline constexpr uint32_t mouse_flag_0x00200000 = 0x00200000;  // host-owned meaning

// Click handler: the host's click position (never read) and the click's own flag bits.
using ClickHandler = int32_t(KESTREL_STDCALL*)(const void* click_point, uint32_t mouse_flags);

#pragma pack(push, 4)
union MouseRectTarget {
    ClickHandler handler;  // module: child areas
    const char* tooltip;   // module: tooltip text records, Windows-1252, NUL-terminated
};

// A module names every word but the two that are 0 in every record, and the target
// where it is NULL.
struct MouseRect {
    uint32_t rect_kind;      // module: MouseRectKind
    PixelBox box;            // module: pixels, relative to the enclosing parent
    int32_t cursor;          // module: host cursor code, cursor_none = -1
    uint32_t help_id;        // module: host help-text number for a parent, 0 = none
    uint32_t mouse_flags;    // module: click kinds a child takes, 0 elsewhere
    uint32_t event_id = 0;   // 0: no area sends an event by itself
    MouseRectTarget target = {.handler = nullptr};  // module: handler, tooltip text, or NULL
    uint32_t api_data = 0;   // 0
};
#pragma pack(pop)

KESTREL_SIZE(MouseRectTarget, 4);

KESTREL_OFFSET(MouseRect, rect_kind, 0);
KESTREL_OFFSET(MouseRect, box, 4);
KESTREL_OFFSET(MouseRect, cursor, 20);
KESTREL_OFFSET(MouseRect, help_id, 24);
KESTREL_OFFSET(MouseRect, mouse_flags, 28);
KESTREL_OFFSET(MouseRect, event_id, 32);
KESTREL_OFFSET(MouseRect, target, 36);
KESTREL_OFFSET(MouseRect, api_data, 40);
KESTREL_SIZE(MouseRect, 44);

// The two records that the format fixes whole: the close of the innermost open parent,
// and the end of the list.
inline constexpr MouseRect mouse_end_of_parent_row = {
    .rect_kind = mouse_end_of_parent, .box = {0, 0, 0, 0}, .cursor = cursor_none, .help_id = 0, .mouse_flags = 0};
inline constexpr MouseRect mouse_end_of_list_row = {
    .rect_kind = mouse_end_of_list, .box = {0, 0, 0, 0}, .cursor = cursor_none, .help_id = 0, .mouse_flags = 0};

// Short forms of each kind of record for hand-made test lists.
constexpr MouseRect mouse_parent_rect(PixelBox box, uint32_t help_id) {
    return {.rect_kind = mouse_parent, .box = box, .cursor = cursor_none, .help_id = help_id, .mouse_flags = 0};
}
constexpr MouseRect mouse_tooltip_rect(const char* text) {
    return {.rect_kind = mouse_tooltip_text, .box = {0, 0, 0, 0}, .cursor = cursor_none, .help_id = 0,
            .mouse_flags = 0, .target = {.tooltip = text}};
}
constexpr MouseRect mouse_child_rect(PixelBox box, int32_t cursor, uint32_t mouse_flags, ClickHandler handler) {
    return {.rect_kind = mouse_child, .box = box, .cursor = cursor, .help_id = 0, .mouse_flags = mouse_flags,
            .target = {.handler = handler}};
}
constexpr MouseRect mouse_end_of_parent_rect() { return mouse_end_of_parent_row; }
constexpr MouseRect mouse_end_of_list_rect() { return mouse_end_of_list_row; }
