// Draws the example panel's background from code: a grey instrument panel with a
// glareshield along its top, recessed wells where its gauges sit, screws and a name
// plate. Its copy in examples/panel/ is this program's output, checked by a test.
// Usage: draw_example_panel_pictures OUTPUT_DIR
#include <array>
#include <cstdint>

#include "bitmap_drawing.h"

namespace {

using namespace kestrel::pictures;

// Palette indices. Index 0 is pure black, which the panel never shows.
enum Ink : uint8_t {
    black = 0,
    panel_grey, panel_light, panel_dark,
    glare_black, glare_edge,
    well_dark, well_edge,
    screw_head, screw_slot,
    plate_face, plate_letters,
    ink_count
};

constexpr std::array<Colour, ink_count> inks = {{
    {0, 0, 0},
    {84, 90, 98}, {116, 122, 130}, {52, 56, 62},
    {22, 23, 26}, {70, 72, 78},
    {34, 36, 40}, {132, 138, 146},
    {170, 172, 176}, {60, 62, 66},
    {200, 196, 180}, {40, 40, 44},
}};

// Half the panel file's units: the window stretches it by two.
constexpr int width = 512;
constexpr int height = 192;

// A recessed well: dark inside, lit on its lower and right edges, shaded on the others.
void draw_well(Picture& picture, int left, int top, int right, int bottom) {
    fill_rect(picture, left - 1, top - 1, right + 1, bottom + 1, panel_dark);
    fill_rect(picture, left, top, right + 1, bottom + 1, well_edge);
    fill_rect(picture, left, top, right, bottom, well_dark);
}

void draw_screw(Picture& picture, int x, int y) {
    fill_disc(picture, x, y, 3.2, screw_head);
    draw_line(picture, x - 2, y + 2, x + 2, y - 2, 0.5, screw_slot);
}

// The 3-by-5 letters the name plate needs.
Glyph glyph_of(char letter) {
    switch (letter) {
        case 'K': return {0b101, 0b110, 0b100, 0b110, 0b101};
        case 'E': return {0b111, 0b100, 0b110, 0b100, 0b111};
        case 'S': return {0b111, 0b100, 0b111, 0b001, 0b111};
        case 'T': return {0b111, 0b010, 0b010, 0b010, 0b010};
        case 'R': return {0b110, 0b101, 0b110, 0b101, 0b101};
        case 'L': return {0b100, 0b100, 0b100, 0b100, 0b111};
        default: return {0, 0, 0, 0, 0};
    }
}

Picture draw_main_panel() {
    Picture panel(width, height);
    fill_rect(panel, 0, 0, width - 1, height - 1, panel_grey);
    // A lighter band below the glareshield, as light falls on a panel's top.
    fill_rect(panel, 0, 8, width - 1, 10, panel_light);
    fill_rect(panel, 0, 0, width - 1, 7, glare_black);
    fill_rect(panel, 0, 7, width - 1, 7, glare_edge);
    fill_rect(panel, 0, height - 2, width - 1, height - 1, panel_dark);
    // Wells under the gauges of examples/panel/panel.cfg, in its units halved.
    draw_well(panel, 3, 13, 407, 68);     // the AP strip
    draw_well(panel, 419, 13, 476, 123);  // the AUTOBRAKE gauge, drawn wider than its own
    draw_well(panel, 9, 74, 61, 125);     // the clock
    draw_well(panel, 149, 99, 271, 151);  // where the missing module would be
    for (const auto& [x, y] : std::array<std::pair<int, int>, 4>{{{6, 180}, {506, 180}, {256, 180}, {300, 72}}})
        draw_screw(panel, x, y);
    // The name plate, lower right.
    fill_rect(panel, 420, 160, 496, 176, plate_face);
    int left = 424;
    for (const char letter : {'K', 'E', 'S', 'T', 'R', 'E', 'L'}) {
        const Glyph glyph = glyph_of(letter);
        // Each glyph twice its size, so that it reads at the window's scale.
        for (int row = 0; row < 5; ++row)
            for (int column = 0; column < 3; ++column)
                if (glyph[row] & (0b100 >> column))
                    fill_rect(panel, left + 2 * column, 163 + 2 * row, left + 2 * column + 1, 163 + 2 * row + 1, plate_letters);
        left += 10;
    }
    return panel;
}

}  // namespace

int main(int argc, char** argv) {
    return write_pictures("draw_example_panel_pictures", argc, argv, inks, {{"main_panel.bmp", draw_main_panel()}});
}
