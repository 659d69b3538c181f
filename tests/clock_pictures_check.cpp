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

Bitmap read_picture(const char* name) {
    return kestrel::test_bitmaps::read_bitmap(std::filesystem::path(KESTREL_CLOCK_PICTURES_DIR) / name);
}

class ClockPicture : public testing::TestWithParam<PictureRow> {};

TEST_P(ClockPicture, IsAnUncompressedPaletteBitmapOfItsSizeWithBlackCorners) {
    const PictureRow& row = GetParam();
    const Bitmap bitmap = read_picture(row.file);
    kestrel::test_bitmaps::expect_module_picture(bitmap, row);
    if (testing::Test::HasFailure()) return;
    // Something is drawn.
    bool any = false;
    for (int32_t y = 0; y < row.height && !any; ++y)
        for (int32_t x = 0; x < row.width && !any; ++x) any = bitmap.drawn(x, y);
    EXPECT_TRUE(any) << row.file;
}

INSTANTIATE_TEST_SUITE_P(
    EightPictures, ClockPicture,
    testing::Values(PictureRow{"face.bmp", 104, 103}, PictureRow{"lit_face.bmp", 94, 94},
                    PictureRow{"unlit_hand.bmp", 10, 45}, PictureRow{"lit_hand.bmp", 10, 45},
                    PictureRow{"page_lever_down.bmp", 16, 16}, PictureRow{"page_lever_up.bmp", 16, 16},
                    PictureRow{"mode_lever_down.bmp", 16, 16}, PictureRow{"mode_lever_up.bmp", 16, 16}),
    kestrel::test_bitmaps::picture_test_name);

TEST(ClockPictures, HandsPointStraightUpFromTheirPivot) {
    for (const char* file : {"unlit_hand.bmp", "lit_hand.bmp"}) {
        const Bitmap hand = read_picture(file);
        ASSERT_EQ(hand.height, 45) << file;
        EXPECT_TRUE(hand.drawn(6, 42)) << file << ": the pivot";
        for (int32_t y = 3; y < 42; ++y) EXPECT_TRUE(hand.drawn(6, y)) << file << " at y " << y;
        for (int32_t y = 0; y < 30; ++y) {
            EXPECT_FALSE(hand.drawn(0, y)) << file;
            EXPECT_FALSE(hand.drawn(9, y)) << file;
        }
    }
}

TEST(ClockPictures, FaceHasItsKnobReadoutWindowsAndScaleWhereTheGaugeExpectsThem) {
    const Bitmap face = read_picture("face.bmp");
    const Bitmap lit = read_picture("lit_face.bmp");
    ASSERT_EQ(face.width, 104);
    ASSERT_EQ(lit.width, 94);
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
    const std::pair<const char*, const char*> pairs[] = {{"page_lever_down.bmp", "mode_lever_down.bmp"},
                                                         {"page_lever_up.bmp", "mode_lever_up.bmp"}};
    for (const auto& [page, mode] : pairs) {
        const Bitmap left = read_picture(page), right = read_picture(mode);
        ASSERT_EQ(left.width, 16);
        ASSERT_EQ(right.width, 16);
        for (int32_t y = 0; y < 16; ++y)
            for (int32_t x = 0; x < 16; ++x) ASSERT_EQ(left.colour(x, y), right.colour(15 - x, y)) << page;
    }
    // Lying down and raised differ.
    const Bitmap down = read_picture("page_lever_down.bmp"), up = read_picture("page_lever_up.bmp");
    EXPECT_NE(down.bytes, up.bytes);
}

}  // namespace
