// Draws the clock module's eight pictures from code and writes them as uncompressed
// 8-bit palette BMP files: the unlit and lit dials, the two seconds hands and the levers,
// each under its file name and of its size in the module's picture table.
// Usage: draw_clock_pictures OUTPUT_DIR
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "bitmap_drawing.h"
#include "clock_pictures.h"

namespace {

using namespace kestrel::pictures;

// Palette indices. Index 0 is pure black: everything around the drawings.
enum Ink : uint8_t {
    black = 0,
    dial_dark, dial_rim, scale_white, window_dark,
    knob_grey, knob_light, knob_shadow, hub_dark,
    dial_brown, scale_amber, rim_amber, window_brown,
    hand_cream, hub_brown,
    lever_grey, lever_dark, lever_light,
    ink_count
};

constexpr std::array<Colour, ink_count> inks = {{
    {0, 0, 0},
    {38, 38, 42}, {96, 96, 102}, {240, 240, 240}, {14, 14, 16},
    {150, 150, 155}, {205, 205, 210}, {88, 88, 92}, {62, 62, 66},
    {66, 40, 18}, {220, 180, 64}, {160, 118, 44}, {28, 16, 6},
    {250, 236, 190}, {80, 48, 20},
    {160, 160, 165}, {96, 96, 100}, {214, 214, 218},
}};

// A 3-by-5 digit font, one row of three bits per entry, high bit on the left.
constexpr std::array<Glyph, 10> digit_font = {{
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7},
}};

// A two-digit number centred on (cx, cy): 7 by 5 pixels.
void draw_number(Picture& picture, double cx, double cy, int number, uint8_t ink) {
    const int left = static_cast<int>(std::lround(cx)) - 3;
    const int top = static_cast<int>(std::lround(cy)) - 2;
    draw_glyph(picture, left, top, digit_font[static_cast<std::size_t>(number / 10)], ink);
    draw_glyph(picture, left + 4, top, digit_font[static_cast<std::size_t>(number % 10)], ink);
}

struct DialInks {
    uint8_t face, rim, scale, window, window_frame;
};

constexpr double dial_radius = 45.0;

// The dial centred on (cx, cy): rim, a mark every second (longer every five), the numbers
// 10 to 60 rising clockwise with 60 at the top, and the two read-out windows, given in
// face pixels and shifted by (dx, dy) into this picture.
void draw_dial(Picture& picture, double cx, double cy, int dx, int dy, const DialInks& ink) {
    fill_disc(picture, cx, cy, dial_radius, ink.rim);
    fill_disc(picture, cx, cy, dial_radius - 2.0, ink.face);
    for (int second = 0; second < 60; ++second) {
        const double angle = second * 6.0 * std::numbers::pi / 180.0;
        const double inner = second % 5 == 0 ? 35.0 : 38.5;
        const double sx = std::sin(angle), sy = -std::cos(angle);
        draw_line(picture, cx + inner * sx, cy + inner * sy, cx + 41.5 * sx, cy + 41.5 * sy,
                  second % 5 == 0 ? 0.75 : 0.5, ink.scale);
    }
    for (int number = 10; number <= 60; number += 10) {
        const double angle = number * 6.0 * std::numbers::pi / 180.0;
        draw_number(picture, cx + 29.0 * std::sin(angle), cy - 29.0 * std::cos(angle), number, ink.scale);
    }
    // Read-out windows: above the centre x 33..71, y 26..42; below it x 34..71, y 60..75.
    fill_rect(picture, 33 + dx, 26 + dy, 71 + dx, 42 + dy, ink.window_frame);
    fill_rect(picture, 34 + dx, 27 + dy, 70 + dx, 41 + dy, ink.window);
    fill_rect(picture, 34 + dx, 60 + dy, 71 + dx, 75 + dy, ink.window_frame);
    fill_rect(picture, 35 + dx, 61 + dy, 70 + dx, 74 + dy, ink.window);
}

// The hand's pivot is at the centre of rotation, (52, 52) on the face.
constexpr double face_centre_x = 52.0, face_centre_y = 52.0;

Picture draw_face(int width, int height) {
    Picture face(width, height);
    draw_dial(face, face_centre_x, face_centre_y, 0, 0, {dial_dark, dial_rim, scale_white, window_dark, dial_rim});
    // The knob at the upper left, x 9..21, y 4..16, under both knob areas: a shaded disc
    // with a groove where start/stop (left) meets reset (right).
    fill_disc(face, 15, 10, 6.0, knob_shadow);
    fill_disc(face, 15, 10, 5.0, knob_grey);
    fill_disc(face, 13.5, 8.5, 1.5, knob_light);
    draw_line(face, 14, 6, 14, 14, 0.3, knob_shadow);
    return face;
}

// Placed at (5, 4) the lit dial lies exactly over the unlit one.
Picture draw_lit_face(int width, int height) {
    Picture lit(width, height);
    draw_dial(lit, face_centre_x - 5, face_centre_y - 4, -5, -4,
              {dial_brown, rim_amber, scale_amber, window_brown, rim_amber});
    return lit;
}

// A hand pointing straight up, pivot at (6, 42), hub disc at its foot.
Picture draw_hand(int width, int height, uint8_t hand_ink, uint8_t hub_ink) {
    Picture hand(width, height);
    draw_needle(hand,
                {.pivot_x = 6, .pivot_y = 42, .tip_x = 6, .tip_y = 2, .broad_x = 6, .broad_y = 18, .hub_radius = 2.6},
                hand_ink, hub_ink);
    return hand;
}

// A lever pivoting at its lower left, lying towards the right or raised; the levers of the
// other corner are the mirror images.
Picture draw_lever(int width, int height, bool raised) {
    Picture lever(width, height);
    fill_rect(lever, 1, 13, 8, 15, lever_dark);
    const double tip_x = raised ? 10.0 : 13.5, tip_y = raised ? 2.5 : 11.0;
    draw_line(lever, 4, 11, tip_x, tip_y, 1.1, lever_grey);
    fill_disc(lever, tip_x, tip_y, 1.8, lever_light);
    fill_disc(lever, 4, 11, 2.2, lever_dark);
    return lever;
}

// One drawing per row of the picture table, by the row's name.
Picture draw_unlit_hand(int width, int height) { return draw_hand(width, height, scale_white, hub_dark); }
Picture draw_lit_hand(int width, int height) { return draw_hand(width, height, hand_cream, hub_brown); }
Picture draw_page_lever_down(int width, int height) { return draw_lever(width, height, false); }
Picture draw_page_lever_up(int width, int height) { return draw_lever(width, height, true); }
Picture draw_mode_lever_down(int width, int height) { return mirrored(draw_page_lever_down(width, height)); }
Picture draw_mode_lever_up(int width, int height) { return mirrored(draw_page_lever_up(width, height)); }

}  // namespace

int main(int argc, char** argv) {
#define KESTREL_DRAWN_PICTURE(name, id, file, width, height) {file, draw_##name(width, height)},
    return write_pictures("draw_clock_pictures", argc, argv, inks, {KESTREL_CLOCK_PICTURES(KESTREL_DRAWN_PICTURE)});
#undef KESTREL_DRAWN_PICTURE
}
