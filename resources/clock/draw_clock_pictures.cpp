// Draws the clock module's eight pictures from code and writes them as uncompressed
// 8-bit palette BMP files: the unlit and lit dials, the two seconds hands and the levers.
// Usage: draw_clock_pictures OUTPUT_DIR
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <numbers>
#include <string>
#include <system_error>
#include <vector>

namespace {

struct Colour {
    uint8_t red, green, blue;
};

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

// A picture in palette indices, row 0 at the top.
struct Picture {
    int width;
    int height;
    std::vector<uint8_t> pixels;

    Picture(int w, int h) : width(w), height(h), pixels(static_cast<std::size_t>(w * h), black) {}

    void put(int x, int y, uint8_t ink) {
        if (x >= 0 && x < width && y >= 0 && y < height) pixels[static_cast<std::size_t>(y * width + x)] = ink;
    }
    uint8_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y * width + x)]; }
};

// Pixel (x, y) is centred on the point (x, y).
void fill_disc(Picture& picture, double cx, double cy, double radius, uint8_t ink) {
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x)
            if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius) picture.put(x, y, ink);
}

void fill_rect(Picture& picture, int left, int top, int right, int bottom, uint8_t ink) {
    for (int y = top; y <= bottom; ++y)
        for (int x = left; x <= right; ++x) picture.put(x, y, ink);
}

// Every pixel within half_width of the segment from (x0, y0) to (x1, y1).
void draw_line(Picture& picture, double x0, double y0, double x1, double y1, double half_width, uint8_t ink) {
    const double dx = x1 - x0, dy = y1 - y0;
    const double length_squared = dx * dx + dy * dy;
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            double along = length_squared == 0 ? 0 : ((x - x0) * dx + (y - y0) * dy) / length_squared;
            along = std::fmax(0.0, std::fmin(1.0, along));
            const double ex = x0 + along * dx - x, ey = y0 + along * dy - y;
            if (ex * ex + ey * ey <= half_width * half_width) picture.put(x, y, ink);
        }
}

// A 3-by-5 digit font, one row of three bits per entry, high bit on the left.
constexpr std::array<std::array<uint8_t, 5>, 10> digit_font = {{
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7},
}};

void draw_digit(Picture& picture, int left, int top, int digit, uint8_t ink) {
    for (int row = 0; row < 5; ++row)
        for (int column = 0; column < 3; ++column)
            if (digit_font[static_cast<std::size_t>(digit)][static_cast<std::size_t>(row)] & (4 >> column))
                picture.put(left + column, top + row, ink);
}

// A two-digit number centred on (cx, cy): 7 by 5 pixels.
void draw_number(Picture& picture, double cx, double cy, int number, uint8_t ink) {
    const int left = static_cast<int>(std::lround(cx)) - 3;
    const int top = static_cast<int>(std::lround(cy)) - 2;
    draw_digit(picture, left, top, number / 10, ink);
    draw_digit(picture, left + 4, top, number % 10, ink);
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

Picture draw_face() {
    Picture face(104, 103);
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
Picture draw_lit_face() {
    Picture lit(94, 94);
    draw_dial(lit, face_centre_x - 5, face_centre_y - 4, -5, -4,
              {dial_brown, rim_amber, scale_amber, window_brown, rim_amber});
    return lit;
}

// A hand pointing straight up, pivot at (6, 42), hub disc at its foot.
Picture draw_hand(uint8_t hand_ink, uint8_t hub_ink) {
    Picture hand(10, 45);
    draw_line(hand, 6, 2, 6, 42, 0.5, hand_ink);
    draw_line(hand, 6, 18, 6, 42, 1.0, hand_ink);
    fill_disc(hand, 6, 42, 2.6, hub_ink);
    hand.put(6, 42, hand_ink);  // the pivot pin
    return hand;
}

// A lever pivoting at its lower left, lying towards the right or raised; the levers of the
// other corner are the mirror images.
Picture draw_lever(bool raised) {
    Picture lever(16, 16);
    fill_rect(lever, 1, 13, 8, 15, lever_dark);
    const double tip_x = raised ? 10.0 : 13.5, tip_y = raised ? 2.5 : 11.0;
    draw_line(lever, 4, 11, tip_x, tip_y, 1.1, lever_grey);
    fill_disc(lever, tip_x, tip_y, 1.8, lever_light);
    fill_disc(lever, 4, 11, 2.2, lever_dark);
    return lever;
}

Picture mirrored(const Picture& picture) {
    Picture mirror(picture.width, picture.height);
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) mirror.put(picture.width - 1 - x, y, picture.at(x, y));
    return mirror;
}

void put_u16(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}
void put_u32(std::vector<uint8_t>& out, uint32_t value) {
    put_u16(out, value & 0xFFFF);
    put_u16(out, value >> 16);
}

// BITMAPFILEHEADER, BITMAPINFOHEADER (BI_RGB, 8 bits), 256 palette entries, then the rows
// bottom-up, each padded to four bytes.
std::vector<uint8_t> encode_bmp(const Picture& picture) {
    const uint32_t row_size = (static_cast<uint32_t>(picture.width) + 3) & ~3u;
    const uint32_t pixel_offset = 14 + 40 + 256 * 4;
    const uint32_t image_size = row_size * static_cast<uint32_t>(picture.height);
    std::vector<uint8_t> out;
    out.push_back('B');
    out.push_back('M');
    put_u32(out, pixel_offset + image_size);
    put_u32(out, 0);
    put_u32(out, pixel_offset);
    put_u32(out, 40);
    put_u32(out, static_cast<uint32_t>(picture.width));
    put_u32(out, static_cast<uint32_t>(picture.height));
    put_u16(out, 1);
    put_u16(out, 8);
    put_u32(out, 0);  // BI_RGB
    put_u32(out, image_size);
    put_u32(out, 2835);  // 72 dpi
    put_u32(out, 2835);
    put_u32(out, 256);
    put_u32(out, 0);
    for (std::size_t index = 0; index < 256; ++index) {
        const Colour colour = index < inks.size() ? inks[index] : Colour{0, 0, 0};
        out.push_back(colour.blue);
        out.push_back(colour.green);
        out.push_back(colour.red);
        out.push_back(0);
    }
    for (int y = picture.height - 1; y >= 0; --y) {
        for (int x = 0; x < picture.width; ++x) out.push_back(picture.at(x, y));
        for (uint32_t pad = static_cast<uint32_t>(picture.width); pad < row_size; ++pad) out.push_back(0);
    }
    return out;
}

bool write_file(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) {
        std::cerr << "draw_clock_pictures: cannot write " << path.string() << "\n";
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: draw_clock_pictures OUTPUT_DIR\n";
        return 2;
    }
    const std::filesystem::path directory = argv[1];
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) {
        std::cerr << "draw_clock_pictures: cannot create " << directory.string() << ": " << error.message() << "\n";
        return 1;
    }
    const Picture lever_down = draw_lever(false);
    const Picture lever_up = draw_lever(true);
    const std::vector<std::pair<const char*, Picture>> pictures = {
        {"face.bmp", draw_face()},                               // 8192
        {"lit_face.bmp", draw_lit_face()},                       // 8193
        {"unlit_hand.bmp", draw_hand(scale_white, hub_dark)},    // 8448
        {"lit_hand.bmp", draw_hand(hand_cream, hub_brown)},      // 8449
        {"page_lever_down.bmp", lever_down},                     // 8704
        {"page_lever_up.bmp", lever_up},                         // 8705
        {"mode_lever_down.bmp", mirrored(lever_down)},           // 8720
        {"mode_lever_up.bmp", mirrored(lever_up)},               // 8721
    };
    for (const auto& [name, picture] : pictures)
        if (!write_file(directory / name, encode_bmp(picture))) return 1;
    return 0;
}
