// A BMP file as the picture generators write it, read back as bytes for the picture
// checks: header words at their offsets, pixels by palette index and colour, and the
// format that every module picture shares. Every byte is read through at(), so a short or
// malformed file fails the test with an exception instead of reading past its end.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "picture_tables.h"

namespace kestrel::testing {

// A picture row in a test's name and messages: its file.
inline void PrintTo(const PictureRow& row, std::ostream* out) { *out << row.file; }

}  // namespace kestrel::testing

namespace kestrel::test_bitmaps {

using kestrel::testing::PictureRow;

struct Bitmap {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> bytes;

    uint32_t word(std::size_t offset) const {
        return bytes.at(offset) | bytes.at(offset + 1) << 8 | bytes.at(offset + 2) << 16 |
               uint32_t{bytes.at(offset + 3)} << 24;
    }
    uint16_t half(std::size_t offset) const {
        return static_cast<uint16_t>(bytes.at(offset) | bytes.at(offset + 1) << 8);
    }
    // Palette index at (x, y), y counted from the top; rows are stored bottom-up.
    uint8_t index(int32_t x, int32_t y) const {
        const uint32_t row_size = (static_cast<uint32_t>(width) + 3) & ~3u;
        return bytes.at(word(10) + row_size * static_cast<uint32_t>(height - 1 - y) + static_cast<uint32_t>(x));
    }
    // 0x00RRGGBB of the pixel's palette entry.
    uint32_t colour(int32_t x, int32_t y) const { return word(54 + 4u * index(x, y)) & 0x00FFFFFF; }
    bool drawn(int32_t x, int32_t y) const { return colour(x, y) != 0; }
};

// The file's bytes, with width and height taken from its header when it has one.
inline Bitmap read_bitmap(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    Bitmap bitmap;
    bitmap.bytes.assign(std::istreambuf_iterator<char>(file), {});
    if (bitmap.bytes.size() >= 54) {
        bitmap.width = static_cast<int32_t>(bitmap.word(18));
        bitmap.height = static_cast<int32_t>(bitmap.word(22));
    }
    return bitmap;
}

// The test name of a picture: its file name without the extension.
inline std::string picture_test_name(const ::testing::TestParamInfo<PictureRow>& info) {
    const std::string name = info.param.file;
    return name.substr(0, name.find('.'));
}

// An uncompressed 8-bit bitmap of the row's size with a 256-colour palette, rows bottom-up
// right after the palette, nothing after the last row, and pure black in its corners,
// around whatever it shows.
inline void expect_module_picture(const Bitmap& bitmap, const PictureRow& row) {
    SCOPED_TRACE(row.file);
    ASSERT_GE(bitmap.bytes.size(), 54u + 1024u) << "missing or short";
    EXPECT_EQ(bitmap.bytes[0], 'B');
    EXPECT_EQ(bitmap.bytes[1], 'M');
    EXPECT_EQ(bitmap.word(2), bitmap.bytes.size());
    EXPECT_EQ(bitmap.word(14), 40u);            // BITMAPINFOHEADER
    EXPECT_EQ(bitmap.width, row.width);
    EXPECT_EQ(bitmap.height, row.height);       // positive: rows bottom-up
    EXPECT_EQ(bitmap.half(26), 1u);             // planes
    EXPECT_EQ(bitmap.half(28), 8u);             // bits per pixel
    EXPECT_EQ(bitmap.word(30), 0u);             // BI_RGB
    EXPECT_EQ(bitmap.word(46), 256u);           // palette entries
    EXPECT_EQ(bitmap.word(10), 54u + 1024u);    // pixels right after the palette
    const uint32_t row_size = (static_cast<uint32_t>(row.width) + 3) & ~3u;
    ASSERT_EQ(bitmap.bytes.size(), 54u + 1024u + row_size * static_cast<uint32_t>(row.height));
    for (auto [x, y] : {std::pair{0, 0}, {row.width - 1, 0}, {0, row.height - 1}, {row.width - 1, row.height - 1}})
        EXPECT_EQ(bitmap.colour(x, y), 0u) << "corner (" << x << ", " << y << ")";
}

}  // namespace kestrel::test_bitmaps
