// The KESTREL module's pictures as the generator writes them: uncompressed 8-bit palette
// bitmaps of the sizes the two gauges need, pure black around the drawings, the lights in
// their exact colours, and every picture under its click area where its element puts it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <set>
#include <utility>
#include <vector>

#include "bitmap_file.h"

namespace {

using kestrel::test_bitmaps::Bitmap;
using kestrel::test_bitmaps::PictureRow;

Bitmap read_picture(const char* name) {
    return kestrel::test_bitmaps::read_bitmap(std::filesystem::path(KESTREL_PANEL_PICTURES_DIR) / name);
}

uint32_t rgb(uint32_t red, uint32_t green, uint32_t blue) { return red << 16 | green << 8 | blue; }
uint32_t red_of(uint32_t colour) { return colour >> 16 & 0xFF; }
uint32_t green_of(uint32_t colour) { return colour >> 8 & 0xFF; }
uint32_t blue_of(uint32_t colour) { return colour & 0xFF; }
uint32_t brightness(uint32_t colour) { return red_of(colour) + green_of(colour) + blue_of(colour); }
bool is_grey(uint32_t colour) {
    return std::max({red_of(colour), green_of(colour), blue_of(colour)}) -
               std::min({red_of(colour), green_of(colour), blue_of(colour)}) <= 8;
}

struct Pixel {
    int32_t x, y;
    uint32_t colour;
};

std::vector<Pixel> drawn_pixels(const Bitmap& bitmap) {
    std::vector<Pixel> pixels;
    for (int32_t y = 0; y < bitmap.height; ++y)
        for (int32_t x = 0; x < bitmap.width; ++x)
            if (bitmap.drawn(x, y)) pixels.push_back({x, y, bitmap.colour(x, y)});
    return pixels;
}

class PanelPicture : public testing::TestWithParam<PictureRow> {};

TEST_P(PanelPicture, IsAnUncompressedPaletteBitmapOfItsSizeWithBlackCorners) {
    kestrel::test_bitmaps::expect_module_picture(read_picture(GetParam().file), GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    ThirteenPictures, PanelPicture,
    testing::Values(PictureRow{"ap_background.bmp", 804, 107}, PictureRow{"red_light.bmp", 21, 21},
                    PictureRow{"green_light.bmp", 21, 21}, PictureRow{"white_light.bmp", 21, 21},
                    PictureRow{"select_label.bmp", 28, 14}, PictureRow{"disconnect_bar_0.bmp", 64, 14},
                    PictureRow{"disconnect_bar_1.bmp", 64, 14}, PictureRow{"toggle_lever_0.bmp", 24, 24},
                    PictureRow{"toggle_lever_1.bmp", 24, 24}, PictureRow{"autobrake_background.bmp", 73, 144},
                    PictureRow{"autobrake_needle.bmp", 20, 7}, PictureRow{"autobrake_knob.bmp", 29, 31},
                    PictureRow{"autobrake_light.bmp", 24, 12}),
    kestrel::test_bitmaps::picture_test_name);

TEST(PanelPictures, ApBackgroundIsBlackButForADarkGreyEdgeAlongTheTop) {
    const Bitmap background = read_picture("ap_background.bmp");
    ASSERT_EQ(background.width, 804);
    ASSERT_EQ(background.height, 107);
    const std::vector<Pixel> drawn = drawn_pixels(background);
    ASSERT_EQ(drawn.size(), 73u);
    for (const Pixel& pixel : drawn) {
        EXPECT_EQ(pixel.y, 0);
        EXPECT_GE(pixel.x, 273);
        EXPECT_LE(pixel.x, 345);
        EXPECT_EQ(pixel.colour, drawn.front().colour) << "one colour along the edge";
    }
    EXPECT_TRUE(is_grey(drawn.front().colour));
    EXPECT_LT(brightness(drawn.front().colour), 3u * 128) << "dark grey";
}

TEST(PanelPictures, AutobrakeBackgroundIsAllBlack) {
    const Bitmap background = read_picture("autobrake_background.bmp");
    ASSERT_EQ(background.width * background.height, 73 * 144);
    EXPECT_TRUE(drawn_pixels(background).empty());
}

// A bar of 20 pixels in a checkerboard over rows 13 to 15 and columns 4 to 16, in the
// light's exact colour, and nothing else.
TEST(PanelPictures, LightsAreACheckerboardBarInTheirExactColours) {
    const std::pair<const char*, uint32_t> lights[] = {{"red_light.bmp", rgb(254, 0, 0)},
                                                       {"green_light.bmp", rgb(0, 255, 0)},
                                                       {"white_light.bmp", rgb(250, 250, 250)}};
    for (const auto& [file, colour] : lights) {
        SCOPED_TRACE(file);
        const Bitmap light = read_picture(file);
        ASSERT_EQ(light.width, 21);
        ASSERT_EQ(light.height, 21);
        const std::vector<Pixel> drawn = drawn_pixels(light);
        EXPECT_EQ(drawn.size(), 20u);
        std::set<std::pair<int32_t, int32_t>> cells;
        for (const Pixel& pixel : drawn) {
            EXPECT_EQ(pixel.colour, colour) << "(" << pixel.x << ", " << pixel.y << ")";
            cells.insert({pixel.x, pixel.y});
        }
        for (int32_t y = 13; y <= 15; ++y)
            for (int32_t x = 4; x <= 16; ++x)
                EXPECT_EQ(cells.count({x, y}) == 1, (x + y) % 2 == 1) << "(" << x << ", " << y << ")";
    }
}

TEST(PanelPictures, SelectLabelIsSixGreyCapitalsOnACreamPlate) {
    const Bitmap label = read_picture("select_label.bmp");
    ASSERT_EQ(label.width, 28);
    ASSERT_EQ(label.height, 14);
    std::set<uint32_t> colours;
    for (const Pixel& pixel : drawn_pixels(label)) colours.insert(pixel.colour);
    ASSERT_EQ(colours.size(), 2u) << "a plate and its legend";
    // The plate is the larger of the two.
    std::vector<uint32_t> by_count(colours.begin(), colours.end());
    const std::vector<Pixel> drawn = drawn_pixels(label);
    auto count = [&](uint32_t colour) {
        return std::count_if(drawn.begin(), drawn.end(), [&](const Pixel& pixel) { return pixel.colour == colour; });
    };
    if (count(by_count[0]) < count(by_count[1])) std::swap(by_count[0], by_count[1]);
    const uint32_t plate = by_count[0], legend = by_count[1];
    EXPECT_GT(red_of(plate), blue_of(plate) + 20) << "cream";
    EXPECT_GT(brightness(plate), 3u * 180) << "cream";
    EXPECT_TRUE(is_grey(legend));
    EXPECT_LT(brightness(legend) + 3 * 60, brightness(plate)) << "the legend stands out from the plate";
    // The legend's columns fall into six letters, separated by columns of plate.
    int letters = 0;
    bool in_letter = false;
    for (int32_t x = 0; x < label.width; ++x) {
        bool legend_here = false;
        for (int32_t y = 0; y < label.height; ++y) legend_here = legend_here || label.colour(x, y) == legend;
        if (legend_here && !in_letter) ++letters;
        in_letter = legend_here;
    }
    EXPECT_EQ(letters, 6);
}

TEST(PanelPictures, DisconnectBarMovesOnePixelDownWhenPressed) {
    const Bitmap rest = read_picture("disconnect_bar_0.bmp"), pressed = read_picture("disconnect_bar_1.bmp");
    ASSERT_EQ(rest.width, 64);
    ASSERT_EQ(pressed.width, 64);
    ASSERT_EQ(rest.height, 14);
    ASSERT_EQ(pressed.height, 14);
    // At rest the bar's top lies on row 0, in a light grey.
    const uint32_t bar = rest.colour(32, 0);
    EXPECT_TRUE(is_grey(bar));
    EXPECT_GT(brightness(bar), 3u * 150) << "light grey";
    // The pressed bar is the resting one a pixel lower, with a dark row above it.
    int32_t bar_pixels = 0;
    for (int32_t y = 0; y + 1 < 14; ++y)
        for (int32_t x = 0; x < 64; ++x)
            if (rest.colour(x, y) == bar) {
                ++bar_pixels;
                EXPECT_EQ(pressed.colour(x, y + 1), bar) << "(" << x << ", " << y << ")";
            }
    EXPECT_GT(bar_pixels, 40 * 10);
    EXPECT_TRUE(pressed.drawn(32, 0));
    EXPECT_LT(brightness(pressed.colour(32, 0)), brightness(bar)) << "the dark first row";
    // Shadow: drawn, darker than the bar, along the bottom and right edges at rest; shorter
    // when pressed.
    auto shadow_below_row_0 = [&](const Bitmap& picture) {
        int32_t count = 0;
        for (const Pixel& pixel : drawn_pixels(picture))
            if (pixel.y > 0 && brightness(pixel.colour) < brightness(bar)) ++count;
        return count;
    };
    int32_t bottom = 13, right = 63;
    while (bottom > 0 && !rest.drawn(32, bottom)) --bottom;
    while (right > 0 && !rest.drawn(right, 6)) --right;
    EXPECT_LT(brightness(rest.colour(32, bottom)), brightness(bar)) << "shadow along the bottom";
    EXPECT_LT(brightness(rest.colour(right, 6)), brightness(bar)) << "shadow along the right";
    EXPECT_GT(shadow_below_row_0(pressed), 0);
    EXPECT_LT(shadow_below_row_0(pressed), shadow_below_row_0(rest));
}

// The lever's head stands above its base plate for value 0 and hangs below it for 1; the
// plate stays in the middle of the 22-pixel button.
TEST(PanelPictures, ToggleLeverHeadIsAboveThePlateThenBelowIt) {
    const Bitmap up = read_picture("toggle_lever_0.bmp"), down = read_picture("toggle_lever_1.bmp");
    ASSERT_EQ(up.width, 24);
    ASSERT_EQ(down.width, 24);
    for (const Bitmap* lever : {&up, &down}) {
        EXPECT_TRUE(lever->drawn(10, 10));
        EXPECT_TRUE(lever->drawn(11, 11));
    }
    auto drawn_in_rows = [](const Bitmap& lever, int32_t top, int32_t bottom) {
        for (int32_t y = top; y <= bottom; ++y)
            for (int32_t x = 0; x < lever.width; ++x)
                if (lever.drawn(x, y)) return true;
        return false;
    };
    EXPECT_TRUE(drawn_in_rows(up, 0, 3));
    EXPECT_FALSE(drawn_in_rows(up, 18, 23));
    EXPECT_TRUE(drawn_in_rows(down, 18, 21));
    EXPECT_FALSE(drawn_in_rows(down, 0, 3));
    // The head is the lightest part of the lever.
    auto lightest_row = [](const Bitmap& lever) {
        uint32_t best = 0;
        int32_t row = -1;
        for (const Pixel& pixel : drawn_pixels(lever))
            if (brightness(pixel.colour) > best) best = brightness(pixel.colour), row = pixel.y;
        return row;
    };
    EXPECT_LT(lightest_row(up), 8);
    EXPECT_GT(lightest_row(down), 13);
}

// The needle lies along the middle row from its pivot at (0, 3) to the right edge, the
// same above and below that row.
TEST(PanelPictures, AutobrakeNeedlePointsRightFromItsPivot) {
    const Bitmap needle = read_picture("autobrake_needle.bmp");
    ASSERT_EQ(needle.width, 20);
    ASSERT_EQ(needle.height, 7);
    EXPECT_TRUE(needle.drawn(0, 3)) << "the pivot";
    EXPECT_TRUE(is_grey(needle.colour(10, 3)));
    EXPECT_GT(brightness(needle.colour(10, 3)), 3u * 150) << "light grey";
    for (int32_t x = 0; x < 20; ++x) EXPECT_TRUE(needle.drawn(x, 3)) << "x " << x;
    for (int32_t y = 0; y < 7; ++y) EXPECT_EQ(needle.drawn(19, y), y == 3) << "the tip at row " << y;
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 20; ++x) EXPECT_EQ(needle.colour(x, y), needle.colour(x, 6 - y)) << x << ", " << y;
}

// A round light grey knob about (14, 15) with a dark pointer from there straight up.
TEST(PanelPictures, AutobrakeKnobIsRoundWithItsPointerStraightUp) {
    const Bitmap knob = read_picture("autobrake_knob.bmp");
    ASSERT_EQ(knob.width, 29);
    ASSERT_EQ(knob.height, 31);
    const int32_t cx = 14, cy = 15;
    const uint32_t body = knob.colour(cx, cy + 6);
    EXPECT_TRUE(is_grey(body));
    EXPECT_GT(brightness(body), 3u * 150) << "light grey";
    const uint32_t pointer = knob.colour(cx, cy - 6);
    EXPECT_LT(brightness(pointer) + 3 * 80, brightness(body)) << "a dark pointer";
    for (int32_t y = cy - 9; y <= cy; ++y) EXPECT_EQ(knob.colour(cx, y), pointer) << "pointer at y " << y;
    for (const Pixel& pixel : drawn_pixels(knob)) {
        if (pixel.colour == pointer) {
            EXPECT_LE(pixel.y, cy) << "pointer below the centre at x " << pixel.x;
            EXPECT_LE(std::abs(pixel.x - cx), 1) << "pointer off the vertical at y " << pixel.y;
        }
        EXPECT_LE(std::hypot(pixel.x - cx, pixel.y - cy), 14.0) << "outside the round knob";
        EXPECT_EQ(knob.colour(2 * cx - pixel.x, pixel.y), pixel.colour) << "not symmetric about x " << cx;
    }
    // Round: it reaches as far from the pivot in all four directions.
    auto extent = [&](int32_t dx, int32_t dy) {
        int32_t steps = 0;
        while (knob.drawn(cx + (steps + 1) * dx, cy + (steps + 1) * dy)) ++steps;
        return steps;
    };
    EXPECT_GE(extent(1, 0), 11);
    EXPECT_EQ(extent(-1, 0), extent(1, 0));
    EXPECT_EQ(extent(0, -1), extent(1, 0));
    EXPECT_EQ(extent(0, 1), extent(1, 0));
}

TEST(PanelPictures, AutobrakeLightIsAmberBehindADarkGrid) {
    const Bitmap lamp = read_picture("autobrake_light.bmp");
    ASSERT_EQ(lamp.width, 24);
    ASSERT_EQ(lamp.height, 12);
    const uint32_t amber = rgb(246, 187, 90);
    const std::vector<Pixel> drawn = drawn_pixels(lamp);
    ASSERT_FALSE(drawn.empty());
    int32_t left = 24, right = -1, top = 12, bottom = -1, amber_pixels = 0;
    for (const Pixel& pixel : drawn) {
        left = std::min(left, pixel.x), right = std::max(right, pixel.x);
        top = std::min(top, pixel.y), bottom = std::max(bottom, pixel.y);
        if (pixel.colour == amber) ++amber_pixels;
        else EXPECT_LT(brightness(pixel.colour), brightness(amber) / 2) << "the grid is dark";
    }
    EXPECT_GE(right - left, 18) << "the lamp fills the picture's width";
    EXPECT_GE(bottom - top, 7);
    EXPECT_GE(amber_pixels, 60);
    // Grid lines run across the lamp in both directions, between amber cells.
    auto is_grid_line = [&](int32_t x, int32_t y, int32_t dx, int32_t dy) {
        for (; x <= right && y <= bottom; x += dx, y += dy)
            if (!lamp.drawn(x, y) || lamp.colour(x, y) == amber) return false;
        return true;
    };
    int32_t inner_columns = 0, inner_rows = 0;
    for (int32_t x = left + 1; x < right; ++x) inner_columns += is_grid_line(x, top, 0, 1);
    for (int32_t y = top + 1; y < bottom; ++y) inner_rows += is_grid_line(left, y, 1, 0);
    EXPECT_GE(inner_columns, 3);
    EXPECT_GE(inner_rows, 1);
}

struct Box {
    int32_t x, y, width, height;
    bool contains(int32_t px, int32_t py) const { return px >= x && px < x + width && py >= y && py < y + height; }
};

struct Placement {
    const char* file;
    int32_t x, y;  // the element's position on its gauge
    Box area;      // the click area over it
};

// Every light, label and switch picture at its element's position lies inside the click
// area of the button it belongs to.
TEST(PanelPictures, EachPictureLiesUnderItsClickArea) {
    const Placement placements[] = {
        {"green_light.bmp", 184, 33, {184, 33, 21, 21}},  // Set QNH to Standard
        {"green_light.bmp", 235, 74, {235, 74, 21, 21}},  // Airbrakes
        {"green_light.bmp", 210, 74, {210, 74, 21, 21}},  // Lift Dumpers
        {"red_light.bmp", 160, 74, {160, 74, 21, 21}},    // Overspeed Warning Light
        {"red_light.bmp", 135, 74, {135, 74, 21, 21}},
        {"white_light.bmp", 327, 74, {327, 74, 21, 21}},
        {"white_light.bmp", 28, 79, {28, 79, 21, 21}},    // Panel On/Off Switch
        {"white_light.bmp", 3, 79, {3, 79, 21, 21}},
        {"green_light.bmp", 637, 63, {637, 63, 21, 21}},
        {"green_light.bmp", 611, 63, {611, 63, 21, 21}},
        {"green_light.bmp", 637, 38, {637, 38, 21, 21}},
        {"green_light.bmp", 611, 38, {611, 38, 21, 21}},
        {"green_light.bmp", 637, 13, {637, 13, 21, 21}},  // GPS Hold Switch
        {"green_light.bmp", 611, 13, {611, 13, 21, 21}},
        {"select_label.bmp", 691, 37, {691, 37, 28, 14}},
        {"select_label.bmp", 552, 37, {552, 37, 28, 14}},
        {"select_label.bmp", 430, 37, {430, 37, 28, 14}},
        {"toggle_lever_0.bmp", 392, 50, {392, 50, 22, 22}},
        {"toggle_lever_1.bmp", 392, 50, {392, 50, 22, 22}},
        {"disconnect_bar_0.bmp", 472, 82, {472, 82, 64, 14}},
        {"disconnect_bar_1.bmp", 472, 82, {472, 82, 64, 14}},
        {"green_light.bmp", 495, 16, {495, 16, 21, 21}},
        {"green_light.bmp", 512, 50, {512, 50, 21, 21}},  // second engage button
        {"green_light.bmp", 476, 50, {476, 50, 21, 21}},  // first engage button
        {"autobrake_light.bmp", 25, 72, {23, 71, 26, 14}},
    };
    for (const Placement& placement : placements) {
        SCOPED_TRACE(testing::Message() << placement.file << " at (" << placement.x << ", " << placement.y << ")");
        const std::vector<Pixel> drawn = drawn_pixels(read_picture(placement.file));
        ASSERT_FALSE(drawn.empty());
        for (const Pixel& pixel : drawn)
            EXPECT_TRUE(placement.area.contains(placement.x + pixel.x, placement.y + pixel.y))
                << "pixel (" << pixel.x << ", " << pixel.y << ") outside the click area";
    }
}

// The needle and the knob turn about their pivots, which their elements put on the gauge;
// turned to any angle they stay inside the click area over them.
TEST(PanelPictures, TurningPicturesStayUnderTheirClickAreasAtEveryAngle) {
    struct Turning {
        const char* file;
        int32_t pivot_x, pivot_y;  // in the picture
        int32_t x, y;              // where the pivot lies on the gauge
        Box area;
    };
    const Turning turning[] = {
        {"autobrake_needle.bmp", 0, 3, 36, 26, {12, 1, 50, 51}},
        {"autobrake_knob.bmp", 14, 15, 36, 121, {18, 104, 42, 36}},
    };
    for (const Turning& picture : turning) {
        SCOPED_TRACE(picture.file);
        const Bitmap bitmap = read_picture(picture.file);
        EXPECT_TRUE(bitmap.drawn(picture.pivot_x, picture.pivot_y)) << "the pivot";
        double reach = 0;
        for (const Pixel& pixel : drawn_pixels(bitmap))
            reach = std::max(reach, std::hypot(pixel.x - picture.pivot_x, pixel.y - picture.pivot_y));
        EXPECT_GT(reach, 8.0) << "the picture reaches out from its pivot";
        reach += 0.5;  // the pixel's own extent
        EXPECT_GE(picture.x - reach, picture.area.x);
        EXPECT_LE(picture.x + reach, picture.area.x + picture.area.width);
        EXPECT_GE(picture.y - reach, picture.area.y);
        EXPECT_LE(picture.y + reach, picture.area.y + picture.area.height);
    }
}

}  // namespace
