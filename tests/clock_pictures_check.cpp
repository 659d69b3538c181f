// The clock's pictures as the generator writes them: uncompressed 8-bit palette bitmaps of
// the sizes of the layout, pure black around the drawings, and drawn where the gauge's
// elements and click areas expect them.
#include <gtest/gtest.h>

#include <cstdint>
#include <utility>

#include "bitmap_file.h"

namespace {

using kestrel::test_bitmaps::Bitmap;
using kestrel::test_bitmaps::PictureRow;
namespace picture = kestrel::testing::clock_picture;

Bitmap read_picture(const PictureRow& row) {
    return kestrel::test_bitmaps::read_bitmap(std::filesystem::path(KESTREL_CLOCK_PICTURES_DIR) / row.file);
}

class ClockPicture : public testing::TestWithParam<PictureRow> {};

TEST_P(ClockPicture, IsAnUncompressedPaletteBitmapOfItsSizeWithBlackCorners) {
    const PictureRow& row = GetParam();
    const Bitmap bitmap = read_picture(row);
    kestrel::test_bitmaps::expect_module_picture(bitmap, row);
    if (testing::Test::HasFailure()) return;
    // Something is drawn.
    bool any = false;
    for (int32_t y = 0; y < row.height && !any; ++y)
        for (int32_t x = 0; x < row.width && !any; ++x) any = bitmap.drawn(x, y);
    EXPECT_TRUE(any) << row.file;
}

INSTANTIATE_TEST_SUITE_P(EveryRowOfTheTable, ClockPicture, testing::ValuesIn(kestrel::testing::clock_pictures),
                         kestrel::test_bitmaps::picture_test_name);

TEST(ClockPictures, TheTableHoldsTheEightPictures) {
    EXPECT_EQ(std::size(kestrel::testing::clock_pictures), 8u);
}

TEST(ClockPictures, HandsPointStraightUpFromTheirPivot) {
    for (const PictureRow& row : {picture::unlit_hand, picture::lit_hand}) {
        const char* file = row.file;
        const Bitmap hand = read_picture(row);
        ASSERT_EQ(hand.height, row.height) << file;
        EXPECT_TRUE(hand.drawn(6, 42)) << file << ": the pivot";
        for (int32_t y = 3; y < 42; ++y) EXPECT_TRUE(hand.drawn(6, y)) << file << " at y " << y;
        for (int32_t y = 0; y < 30; ++y) {
            EXPECT_FALSE(hand.drawn(0, y)) << file;
            EXPECT_FALSE(hand.drawn(9, y)) << file;
        }
    }
}

TEST(ClockPictures, FaceHasItsKnobReadoutWindowsAndScaleWhereTheGaugeExpectsThem) {
    const Bitmap face = read_picture(picture::face);
    const Bitmap lit = read_picture(picture::lit_face);
    ASSERT_EQ(face.width, picture::face.width);
    ASSERT_EQ(lit.width, picture::lit_face.width);
    // The knob lies under both knob areas; the lit dial has nothing there.
    for (auto [x, y] : {std::pair{11, 10}, {13, 12}, {15, 10}, {17, 9}}) {
        EXPECT_TRUE(face.drawn(x, y)) << "knob at (" << x << ", " << y << ")";
        EXPECT_FALSE(lit.drawn(x - 5, y - 4)) << "lit face at the knob";
    }
    // Windows under the read-outs: one colour across their inside, the same on both faces.
    for (auto [x, y] : {std::pair{40, 30}, {60, 38}, {40, 65}, {65, 72}}) {
        EXPECT_EQ(face.colour(x, y), face.colour(50, 34)) << "window at (" << x << ", " << y << ")";
        EXPECT_TRUE(face.drawn(x, y));
        EXPECT_TRUE(lit.drawn(x - 5, y - 4));
    }
    // The 60 mark straight above the hand's pivot (52, 52), the 30 mark straight below.
    EXPECT_TRUE(face.drawn(52, 52 - 40));
    EXPECT_TRUE(face.drawn(52, 52 + 40));
    EXPECT_TRUE(lit.drawn(52 - 5, 52 - 40 - 4));
}

TEST(ClockPictures, ModeLeversAreTheMirrorImagesOfThePageLevers) {
    const std::pair<PictureRow, PictureRow> pairs[] = {{picture::page_lever_down, picture::mode_lever_down},
                                                       {picture::page_lever_up, picture::mode_lever_up}};
    for (const auto& [page, mode] : pairs) {
        const Bitmap left = read_picture(page), right = read_picture(mode);
        ASSERT_EQ(left.width, right.width);
        ASSERT_EQ(left.height, right.height);
        for (int32_t y = 0; y < left.height; ++y)
            for (int32_t x = 0; x < left.width; ++x)
                ASSERT_EQ(left.colour(x, y), right.colour(left.width - 1 - x, y)) << page.file;
    }
    // Lying down and raised differ.
    const Bitmap down = read_picture(picture::page_lever_down), up = read_picture(picture::page_lever_up);
    EXPECT_NE(down.bytes, up.bytes);
}

}  // namespace
