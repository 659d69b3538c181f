// Drawing in palette indices and writing the result as uncompressed 8-bit palette BMP
// files: what every picture generator of the modules shares. Each generator brings its own
// palette, whose index 0 is pure black, the colour around every drawing.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace kestrel::pictures {

struct Colour {
    uint8_t red, green, blue;
};

// Palette index 0: a new picture is all of it.
constexpr uint8_t background_ink = 0;

// A picture in palette indices, row 0 at the top.
struct Picture {
    int width;
    int height;
    std::vector<uint8_t> pixels;

    Picture(int w, int h) : width(w), height(h), pixels(static_cast<std::size_t>(w * h), background_ink) {}

    // Pixels outside the picture are left out, so a drawing may run over its edges.
    void put(int x, int y, uint8_t ink) {
        if (x >= 0 && x < width && y >= 0 && y < height) pixels[static_cast<std::size_t>(y * width + x)] = ink;
    }
    uint8_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y * width + x)]; }
};

// Pixel (x, y) is centred on the point (x, y).
void fill_disc(Picture& picture, double cx, double cy, double radius, uint8_t ink);

// Both corners included.
void fill_rect(Picture& picture, int left, int top, int right, int bottom, uint8_t ink);

// Every pixel within half_width of the segment from (x0, y0) to (x1, y1).
void draw_line(Picture& picture, double x0, double y0, double x1, double y1, double half_width, uint8_t ink);

// A needle or hand from its pivot to its tip: half a pixel wide, one pixel wide from the
// broad point to the pivot, on a hub disc round the pivot with a pin in the needle's ink.
struct Needle {
    double pivot_x, pivot_y;
    double tip_x, tip_y;
    double broad_x, broad_y;
    double hub_radius;
};
void draw_needle(Picture& picture, const Needle& needle, uint8_t ink, uint8_t hub_ink);

// A 3-by-5 glyph with its top left corner at (left, top): one row of three bits per
// entry, high bit on the left.
using Glyph = std::array<uint8_t, 5>;
void draw_glyph(Picture& picture, int left, int top, const Glyph& glyph, uint8_t ink);

// The picture turned over left to right.
Picture mirrored(const Picture& picture);

// BITMAPFILEHEADER, BITMAPINFOHEADER (BI_RGB, 8 bits), 256 palette entries (the given
// colours, then black), then the rows bottom-up, each padded to four bytes.
std::vector<uint8_t> encode_bmp(const Picture& picture, std::span<const Colour> palette);

// The body of a generator's main: takes OUTPUT_DIR as the only argument, creates it and
// writes each named picture into it. Returns the exit status; errors go to stderr,
// prefixed with the program's name.
using NamedPicture = std::pair<const char*, Picture>;
int write_pictures(const char* program, int argc, char** argv, std::span<const Colour> palette,
                   const std::vector<NamedPicture>& pictures);

}  // namespace kestrel::pictures
