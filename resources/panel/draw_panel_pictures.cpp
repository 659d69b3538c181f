// Draws the KESTREL module's thirteen pictures from code and writes them as uncompressed
// 8-bit palette BMP files: the AP strip's background, lights, SELECT label and switches,
// and the AUTOBRAKE gauge's background, needle, knob and light, each under its file name
// and of its size in the module's picture table.
// Usage: draw_panel_pictures OUTPUT_DIR
#include <array>
#include <cstdint>

#include "bitmap_drawing.h"
#include "panel_pictures.h"

namespace {

using namespace kestrel::pictures;

// Palette indices. Index 0 is pure black: everything around the drawings.
enum Ink : uint8_t {
    black = 0,
    light_red, light_green, light_white,
    edge_grey,
    plate_cream, legend_grey,
    bar_grey, bar_shadow,
    lever_head, lever_shaft, lever_plate, lever_rim,
    needle_grey, needle_hub,
    knob_grey, knob_rim, knob_pointer,
    lamp_amber, lamp_grid,
    ink_count
};

constexpr std::array<Colour, ink_count> inks = {{
    {0, 0, 0},
    {254, 0, 0}, {0, 255, 0}, {250, 250, 250},
    {72, 72, 72},
    {236, 226, 196}, {112, 112, 112},
    {200, 200, 204}, {64, 64, 68},
    {222, 222, 226}, {176, 176, 180}, {90, 90, 94}, {140, 140, 145},
    {214, 214, 218}, {150, 150, 155},
    {196, 196, 200}, {128, 128, 133}, {36, 36, 40},
    {246, 187, 90}, {96, 62, 20},
}};

// The AP strip is black but for a dark grey edge along the top, over x 273 to 345.
Picture draw_ap_background(int width, int height) {
    Picture background(width, height);
    fill_rect(background, 273, 0, 345, 0, edge_grey);
    return background;
}

// A light: a bar of 20 pixels in a checkerboard near the bottom of its button, rows 13
// to 15 and columns 4 to 16, the four corners of the bar lit.
Picture draw_light(int width, int height, uint8_t ink) {
    Picture light(width, height);
    for (int y = 13; y <= 15; ++y)
        for (int x = 4; x <= 16; ++x)
            if ((x + y) % 2 == 1) light.put(x, y, ink);
    return light;
}

// The word SELECT in grey capitals on a cream plate with cut corners, over the whole
// width of the button.
Picture draw_select_label(int width, int height) {
    constexpr std::array<Glyph, 6> word = {{
        {7, 4, 7, 1, 7},  // S
        {7, 4, 6, 4, 7},  // E
        {4, 4, 4, 4, 7},  // L
        {7, 4, 6, 4, 7},  // E
        {7, 4, 4, 4, 7},  // C
        {7, 2, 2, 2, 2},  // T
    }};
    Picture label(width, height);
    fill_rect(label, 1, 2, 26, 11, plate_cream);
    fill_rect(label, 0, 3, 27, 10, plate_cream);
    for (std::size_t letter = 0; letter < word.size(); ++letter)
        draw_glyph(label, 2 + 4 * static_cast<int>(letter), 4, word[letter], legend_grey);
    return label;
}

// The autopilot disconnect bar: at rest (value 0) its top on row 0 and its shadow along
// the bottom and right edges; pressed (value 1) one pixel lower, the gap above it dark
// and only the right edge in shadow.
Picture draw_disconnect_bar(int width, int height, bool pressed) {
    Picture bar(width, height);
    if (pressed) {
        fill_rect(bar, 1, 0, 61, 0, bar_shadow);
        fill_rect(bar, 62, 2, 62, 12, bar_shadow);
        fill_rect(bar, 1, 1, 61, 12, bar_grey);
    } else {
        fill_rect(bar, 2, 12, 62, 12, bar_shadow);
        fill_rect(bar, 62, 1, 62, 12, bar_shadow);
        fill_rect(bar, 1, 0, 61, 11, bar_grey);
    }
    return bar;
}

// A toggle lever seen from the front: a round base plate in the middle of the 22-pixel
// button and the lever's shaft ending in a round head above the plate (value 0) or below
// it (value 1). Nothing is drawn outside the button.
Picture draw_toggle_lever(int width, int height, bool head_down) {
    Picture lever(width, height);
    constexpr double centre = 10.5;
    const double head_y = head_down ? 17.0 : 4.0;
    fill_disc(lever, centre, centre, 6.0, lever_rim);
    fill_disc(lever, centre, centre, 5.0, lever_plate);
    draw_line(lever, centre, centre, centre, head_y, 1.3, lever_shaft);
    fill_disc(lever, centre, head_y, 3.2, lever_head);
    return lever;
}

// The autobrake gauge's background: every pixel black.
Picture draw_autobrake_background(int width, int height) { return Picture(width, height); }

// A needle pointing to the right, tapering from its hub at the pivot (0, 3) to its tip.
Picture draw_autobrake_needle(int width, int height) {
    Picture needle(width, height);
    draw_needle(needle,
                {.pivot_x = 0, .pivot_y = 3, .tip_x = 19, .tip_y = 3, .broad_x = 12, .broad_y = 3, .hub_radius = 2.3},
                needle_grey, needle_hub);
    return needle;
}

// The selector knob: a round grey knob centred on its pivot (14, 15) with a dark rim
// and a dark pointer from the centre straight up, so position 1 reads upright.
Picture draw_autobrake_knob(int width, int height) {
    Picture knob(width, height);
    constexpr double cx = 14.0, cy = 15.0;
    fill_disc(knob, cx, cy, 12.6, knob_rim);
    fill_disc(knob, cx, cy, 11.4, knob_grey);
    draw_line(knob, cx, cy, cx, cy - 10.0, 0.6, knob_pointer);
    return knob;
}

// The autobrake light: an amber lamp behind a dark grid of seven by three cells.
Picture draw_autobrake_light(int width, int height) {
    Picture lamp(width, height);
    fill_rect(lamp, 1, 1, 22, 10, lamp_grid);
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 7; ++column)
            fill_rect(lamp, 2 + 3 * column, 2 + 3 * row, 3 + 3 * column, 3 + 3 * row, lamp_amber);
    return lamp;
}

// One drawing per row of the picture table, by the row's name.
Picture draw_red_light(int width, int height) { return draw_light(width, height, light_red); }
Picture draw_green_light(int width, int height) { return draw_light(width, height, light_green); }
Picture draw_white_light(int width, int height) { return draw_light(width, height, light_white); }
Picture draw_disconnect_bar_0(int width, int height) { return draw_disconnect_bar(width, height, false); }
Picture draw_disconnect_bar_1(int width, int height) { return draw_disconnect_bar(width, height, true); }
Picture draw_toggle_lever_0(int width, int height) { return draw_toggle_lever(width, height, false); }
Picture draw_toggle_lever_1(int width, int height) { return draw_toggle_lever(width, height, true); }

}  // namespace

int main(int argc, char** argv) {
#define KESTREL_DRAWN_PICTURE(name, id, file, width, height) {file, draw_##name(width, height)},
    return write_pictures("draw_panel_pictures", argc, argv, inks, {KESTREL_PANEL_PICTURES(KESTREL_DRAWN_PICTURE)});
#undef KESTREL_DRAWN_PICTURE
}
