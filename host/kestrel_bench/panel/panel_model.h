// What a panel file says, as plain data: its windows with their titles, backgrounds,
// design sizes and gauges, the keys kept but not applied, and the sections not drawn.
// The reader fills it; the snapshot and any other front end only read it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "pe_image.h"

namespace kestrel::panel {

// A window's or a gauge's number as panel files write it: at least two digits.
inline std::string two_digits(int number) {
    std::string text = std::to_string(number);
    if (text.size() < 2) text.insert(0, 2 - text.size(), '0');
    return text;
}

// A key=value line that is read and shown but not applied (position=, visible=, an
// unknown key, ...): nothing in a panel file is dropped without a word.
struct KeptKey {
    std::string key;  // as written
    std::string value;
    int line = 0;
    bool known = false;  // a key panel files use (position, visible, ...) rather than one unheard of
};

// gaugeNN=MODULE!GAUGE, x, y[, w[, h]]
struct GaugeEntry {
    int number = 0;  // NN
    std::string module;
    std::string gauge;
    int x = 0;  // top-left corner, panel units
    int y = 0;
    std::optional<int> width;   // default: the gauge's own size_x_mm
    std::optional<int> height;  // default: in proportion to the gauge's background picture
    int line = 0;
};

// file=NAME.bmp, as found in the panel file's folder and decoded.
struct Background {
    std::string name;  // as written
    std::filesystem::path file;
    pe::Picture picture;  // top row first, 0x00RRGGBB
    int line = 0;
};

struct Window {
    int number = 0;      // NN of [WindowNN]
    std::string title;   // from [Window Titles], else the number as two digits
    bool titled = false;
    int line = 0;        // its section header
    std::optional<Background> background;
    std::optional<int> size_width;   // size_mm=W[,H], panel units
    std::optional<int> size_height;
    std::vector<GaugeEntry> gauges;  // ordered by NN
    std::vector<KeptKey> kept;
};

// A section the bench does not draw (virtual cockpits, sound, ...), listed as such.
struct OtherSection {
    std::string name;  // as written, without brackets
    int line = 0;
    std::size_t keys = 0;
};

// The windows a panel file has, for a message: `00 "Main Panel", 01 "Clock"`, or "none".
inline std::string window_list(const std::vector<Window>& windows) {
    std::string list;
    for (const Window& window : windows) list += (list.empty() ? "" : ", ") + two_digits(window.number) + " \"" + window.title + "\"";
    return list.empty() ? "none" : list;
}

struct PanelFile {
    std::filesystem::path file;
    std::vector<Window> windows;        // by number, from 00 without gaps
    std::vector<KeptKey> title_keys;    // keys of [Window Titles] that name no window title
    std::vector<OtherSection> not_drawn;
};

}  // namespace kestrel::panel
