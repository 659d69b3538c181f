// The contact sheet: every frame of a run on one picture, one row per scenario (or panel)
// under its name, each frame at its own size with its file name beneath, a row wrapping
// onto further lines where it would grow wider than a screen shows at 100%.
#pragma once

#include <string>
#include <vector>

#include "png.h"
#include "text_face.h"

namespace kestrel::picture {

struct SheetFrame {
    std::string label;  // as its file is named, e.g. "001-after-a-second"
    Image image;
};

// One scenario's (or panel's) frames, in the order they were taken.
struct SheetRow {
    std::string title;
    std::vector<SheetFrame> frames;
};

// The sheet's measures, in sheet pixels. Label sizes are FreeType pixel sizes: at 20 the
// label face's digits and capitals stand 14 to 15 pixels high.
inline constexpr int sheet_wrap_width = 3000;
inline constexpr int sheet_margin = 16;
inline constexpr int sheet_cell_gap = 16;      // between two cells of a line
inline constexpr int sheet_label_gap = 4;      // between a frame and its label
inline constexpr int sheet_row_gap = 28;       // above the next row's title, or the next line's frames
inline constexpr int sheet_label_size = 20;
inline constexpr int sheet_title_size = 24;
inline constexpr Rgb sheet_colour{40, 40, 44};
inline constexpr Rgb sheet_label_colour{230, 230, 230};
inline constexpr Rgb sheet_title_colour{255, 204, 96};

struct SheetCell {
    TextBox frame;  // exactly the frame's size
    TextBox label;
};

struct SheetLayout {
    int width = 0;
    int height = 0;
    std::vector<TextBox> titles;               // one per row
    std::vector<std::vector<SheetCell>> cells;  // per row, per frame
};

// Where everything goes. A cell is as wide as its frame or its label, whichever is wider;
// a line takes cells while the sheet stays within sheet_wrap_width (a cell wider than
// that stands alone on its line).
SheetLayout contact_sheet_layout(const std::vector<SheetRow>& rows, TextFace& label_face);

// Throws ImageError when there is no frame at all.
Image contact_sheet(const std::vector<SheetRow>& rows, TextFace& label_face);

}  // namespace kestrel::picture
