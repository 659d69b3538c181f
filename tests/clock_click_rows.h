// The clock's click-area list as its layout gives it, in plain numbers: the layout test
// checks the loaded records against it through the host, the file test checks the bytes
// of the shipped .gau against it with its own reader. One table, two readers.
#pragma once

#include "click_rows.h"

namespace kestrel::testing {

inline constexpr ClickRow clock_click_rows[] = {
    {.kind = 1, .x = 0, .y = 0, .width = 0, .height = 0, .cursor = -1, .help_id = 0xAA1E, .mouse_flags = 0, .handler = false},
    {.kind = 2, .x = 7, .y = 5, .width = 7, .height = 14, .cursor = 4, .help_id = 0, .mouse_flags = 0x20000000, .handler = true},
    {.kind = 2, .x = 14, .y = 5, .width = 5, .height = 14, .cursor = 5, .help_id = 0, .mouse_flags = 0x20000000, .handler = true},
    {.kind = 2, .x = 0, .y = 80, .width = 16, .height = 16, .cursor = 5, .help_id = 0, .mouse_flags = 0x20000000, .handler = true},
    {.kind = 2, .x = 87, .y = 80, .width = 16, .height = 16, .cursor = 5, .help_id = 0, .mouse_flags = 0x20000000, .handler = true},
    {.kind = 3, .x = 0, .y = 0, .width = 0, .height = 0, .cursor = -1, .help_id = 0, .mouse_flags = 0, .handler = false},
    {.kind = 0, .x = 0, .y = 0, .width = 0, .height = 0, .cursor = -1, .help_id = 0, .mouse_flags = 0, .handler = false},
};

}  // namespace kestrel::testing
