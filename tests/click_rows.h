// A gauge's click-area list as its layout gives it, one row per record in plain numbers:
// what the layout tests check the loaded records against through the host, and the file
// test checks the bytes of the shipped .gau against with its own reader.
#pragma once

#include <cstdint>

namespace kestrel::testing {

struct ClickRow {
    uint32_t kind;  // 1 parent, 2 child, 3 end of parent, 4 tooltip text, 0 end of list
    int32_t x, y, width, height;
    int32_t cursor;
    uint32_t help_id;
    uint32_t mouse_flags;
    bool handler;
    const char* tooltip = nullptr;  // tooltip text records: the text, Windows-1252
};

}  // namespace kestrel::testing
