// The drawing routines and the 8-bit palette BMP writer that the picture generators share.
// The files are written byte for byte the same on every build, so the modules that carry
// them are reproducible.
#include "bitmap_drawing.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <system_error>

namespace kestrel::pictures {

void fill_disc(Picture& picture, double cx, double cy, double radius, uint8_t ink) {
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x)
            if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius) picture.put(x, y, ink);
}

void fill_rect(Picture& picture, int left, int top, int right, int bottom, uint8_t ink) {
    for (int y = top; y <= bottom; ++y)
        for (int x = left; x <= right; ++x) picture.put(x, y, ink);
}

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

void draw_needle(Picture& picture, const Needle& needle, uint8_t ink, uint8_t hub_ink) {
    draw_line(picture, needle.tip_x, needle.tip_y, needle.pivot_x, needle.pivot_y, 0.5, ink);
    draw_line(picture, needle.broad_x, needle.broad_y, needle.pivot_x, needle.pivot_y, 1.0, ink);
    fill_disc(picture, needle.pivot_x, needle.pivot_y, needle.hub_radius, hub_ink);
    picture.put(static_cast<int>(std::lround(needle.pivot_x)), static_cast<int>(std::lround(needle.pivot_y)), ink);
}

void draw_glyph(Picture& picture, int left, int top, const Glyph& glyph, uint8_t ink) {
    for (int row = 0; row < 5; ++row)
        for (int column = 0; column < 3; ++column)
            if (glyph[static_cast<std::size_t>(row)] & (4 >> column)) picture.put(left + column, top + row, ink);
}

Picture mirrored(const Picture& picture) {
    Picture mirror(picture.width, picture.height);
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) mirror.put(picture.width - 1 - x, y, picture.at(x, y));
    return mirror;
}

namespace {

void put_u16(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}
void put_u32(std::vector<uint8_t>& out, uint32_t value) {
    put_u16(out, value & 0xFFFF);
    put_u16(out, value >> 16);
}

bool write_file(const char* program, const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) {
        std::cerr << program << ": cannot write " << path.string() << "\n";
        return false;
    }
    return true;
}

}  // namespace

std::vector<uint8_t> encode_bmp(const Picture& picture, std::span<const Colour> palette) {
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
        const Colour colour = index < palette.size() ? palette[index] : Colour{0, 0, 0};
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

int write_pictures(const char* program, int argc, char** argv, std::span<const Colour> palette,
                   const std::vector<NamedPicture>& pictures) {
    if (argc != 2) {
        std::cerr << "usage: " << program << " OUTPUT_DIR\n";
        return 2;
    }
    const std::filesystem::path directory = argv[1];
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) {
        std::cerr << program << ": cannot create " << directory.string() << ": " << error.message() << "\n";
        return 1;
    }
    for (const auto& [name, picture] : pictures)
        if (!write_file(program, directory / name, encode_bmp(picture, palette))) return 1;
    return 0;
}

}  // namespace kestrel::pictures
