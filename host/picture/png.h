// Pictures in memory and as PNG files: an RGB image of 8 bits per channel, encoded and
// decoded by libpng. A PNG read is a file a user hands the bench: bounded before use.
#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrel::picture {

class ImageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Rgb {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    bool operator==(const Rgb&) const = default;
};

// 0x00RRGGBB, as decoded bitmap pixels hold them.
constexpr Rgb rgb_of_word(uint32_t word) {
    return {static_cast<uint8_t>(word >> 16), static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word)};
}
// Windows colour values are 0x00BBGGRR.
constexpr Rgb rgb_of_windows_colour(uint32_t colour) {
    return {static_cast<uint8_t>(colour), static_cast<uint8_t>(colour >> 8), static_cast<uint8_t>(colour >> 16)};
}

class Image {
public:
    Image() = default;
    // Throws ImageError for sizes that are not positive or absurdly large.
    Image(int width, int height, Rgb fill = {});

    int width() const { return width_; }
    int height() const { return height_; }
    bool contains(int x, int y) const { return x >= 0 && y >= 0 && x < width_ && y < height_; }
    Rgb at(int x, int y) const { return pixels_[index(x, y)]; }
    void set(int x, int y, Rgb colour) {
        if (contains(x, y)) pixels_[index(x, y)] = colour;
    }
    // Mixes colour over the pixel by coverage 0..255.
    void blend(int x, int y, Rgb colour, uint8_t coverage);
    // Copies another image with its top-left corner at (x, y), clipped.
    void paste(const Image& other, int x, int y);

    const std::vector<Rgb>& pixels() const { return pixels_; }

private:
    std::size_t index(int x, int y) const { return static_cast<std::size_t>(y) * width_ + x; }

    int width_ = 0;
    int height_ = 0;
    std::vector<Rgb> pixels_;
};

// The PNG file's bytes (8-bit RGB, no interlace).
std::vector<uint8_t> encode_png(const Image& image);
// Writes the PNG; throws ImageError naming the file on failure.
void write_png(const Image& image, const std::filesystem::path& path);

// What a PNG to be read may be: the file's size, each side and all its pixels. References
// are gauge pictures, a few hundred pixels a side; these bounds leave room to spare.
inline constexpr std::uintmax_t max_png_bytes = 32u << 20;
inline constexpr int max_png_side = 16384;
inline constexpr uint64_t max_png_pixels = 16u << 20;

// Decodes an opaque PNG of 8 bits per channel (RGB, RGBA, grey, or a palette of up to 8
// bits), the way image editors save a picture; `what` names it in messages. Refuses, with
// ImageError, anything else: not a PNG, damaged or cut short, 16 bits per channel, sides
// or pixels beyond the bounds above, or a pixel that is not fully opaque.
Image decode_png(const std::vector<uint8_t>& bytes, const std::string& what);
// Reads and decodes a PNG file, its size checked before it is read.
Image read_png(const std::filesystem::path& path);

}  // namespace kestrel::picture
