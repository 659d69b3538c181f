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
namespace picture = kestrel::testing::panel_picture;

Bitmap read_picture(const PictureRow& row) {
    return kestrel::test_bitmaps::read_bitmap(std::filesystem::path(KESTREL_PANEL_PICTURES_DIR) / row.file);
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
    kestrel::test_bitmaps::expect_module_picture(read_picture(GetParam()), GetParam());
}

INSTANTIATE_TEST_SUITE_P(EveryRowOfTheTable, PanelPicture, testing::ValuesIn(kestrel::testing::panel_pictures),
                         kestrel::test_bitmaps::picture_test_name);

TEST(PanelPictures, TheTableHoldsTheThirteenPictures) {
    EXPECT_EQ(std::size(kestrel::testing::panel_pictures), 13u);
}

TEST(PanelPictures, ApBackgroundIsBlackButForADarkGreyEdgeAlongTheTop) {
    const Bitmap background = read_picture(picture::ap_background);
    ASSERT_EQ(background.width, picture::ap_background.width);
    ASSERT_EQ(background.height, picture::ap_background.height);
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
    const Bitmap background = read_picture(picture::autobrake_background);
    ASSERT_EQ(background.width, picture::autobrake_background.width);
    ASSERT_EQ(background.height, picture::autobrake_background.height);
    EXPECT_TRUE(drawn_pixels(background).empty());
}

// A bar of 20 pixels in a checkerboard over rows 13 to 15 and columns 4 to 16, in the
// light's exact colour, and nothing else.
TEST(PanelPictures, LightsAreACheckerboardBarInTheirExactColours) {
    const std::pair<PictureRow, uint32_t> lights[] = {{picture::red_light, rgb(254, 0, 0)},
                                                       {picture::green_light, rgb(0, 255, 0)},
                                                       {picture::white_light, rgb(250, 250, 250)}};
    for (const auto& [row, colour] : lights) {
        SCOPED_TRACE(row.file);
        const Bitmap light = read_picture(row);
        ASSERT_EQ(light.width, row.width);
        ASSERT_EQ(light.height, row.height);
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
    const Bitmap label = read_picture(picture::select_label);
    ASSERT_EQ(label.width, picture::select_label.width);
    ASSERT_EQ(label.height, picture::select_label.height);
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
    const Bitmap rest = read_picture(picture::disconnect_bar_0), pressed = read_picture(picture::disconnect_bar_1);
    ASSERT_EQ(rest.width, picture::disconnect_bar_0.width);
    ASSERT_EQ(pressed.width, picture::disconnect_bar_1.width);
    ASSERT_EQ(rest.height, picture::disconnect_bar_0.height);
    ASSERT_EQ(pressed.height, picture::disconnect_bar_1.height);
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
    const Bitmap up = read_picture(picture::toggle_lever_0), down = read_picture(picture::toggle_lever_1);
    ASSERT_EQ(up.width, picture::toggle_lever_0.width);
    ASSERT_EQ(down.width, picture::toggle_lever_1.width);
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
    const Bitmap needle = read_picture(picture::autobrake_needle);
    ASSERT_EQ(needle.width, picture::autobrake_needle.width);
    ASSERT_EQ(needle.height, picture::autobrake_needle.height);
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
    const Bitmap knob = read_picture(picture::autobrake_knob);
    ASSERT_EQ(knob.width, picture::autobrake_knob.width);
    ASSERT_EQ(knob.height, picture::autobrake_knob.height);
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
    const Bitmap lamp = read_picture(picture::autobrake_light);
    ASSERT_EQ(lamp.width, picture::autobrake_light.width);
    ASSERT_EQ(lamp.height, picture::autobrake_light.height);
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
    PictureRow picture;
    int32_t x, y;  // the element's position on its gauge
    Box area;      // the click area over it
};

// Every light, label and switch picture at its element's position lies inside the click
// area of the button it belongs to.
TEST(PanelPictures, EachPictureLiesUnderItsClickArea) {
    const Placement placements[] = {
        {picture::green_light, 184, 33, {184, 33, 21, 21}},  // Set QNH to Standard
        {picture::green_light, 235, 74, {235, 74, 21, 21}},  // Airbrakes
        {picture::green_light, 210, 74, {210, 74, 21, 21}},  // Lift Dumpers
        {picture::red_light, 160, 74, {160, 74, 21, 21}},    // Overspeed Warning Light
        {picture::red_light, 135, 74, {135, 74, 21, 21}},
        {picture::white_light, 327, 74, {327, 74, 21, 21}},
        {picture::white_light, 28, 79, {28, 79, 21, 21}},    // Panel On/Off Switch
        {picture::white_light, 3, 79, {3, 79, 21, 21}},
        {picture::green_light, 637, 63, {637, 63, 21, 21}},
        {picture::green_light, 611, 63, {611, 63, 21, 21}},
        {picture::green_light, 637, 38, {637, 38, 21, 21}},
        {picture::green_light, 611, 38, {611, 38, 21, 21}},
        {picture::green_light, 637, 13, {637, 13, 21, 21}},  // GPS Hold Switch
        {picture::green_light, 611, 13, {611, 13, 21, 21}},
        {picture::select_label, 691, 37, {691, 37, 28, 14}},
        {picture::select_label, 552, 37, {552, 37, 28, 14}},
        {picture::select_label, 430, 37, {430, 37, 28, 14}},
        {picture::toggle_lever_0, 392, 50, {392, 50, 22, 22}},
        {picture::toggle_lever_1, 392, 50, {392, 50, 22, 22}},
        {picture::disconnect_bar_0, 472, 82, {472, 82, 64, 14}},
        {picture::disconnect_bar_1, 472, 82, {472, 82, 64, 14}},
        {picture::green_light, 495, 16, {495, 16, 21, 21}},
        {picture::green_light, 512, 50, {512, 50, 21, 21}},  // second engage button
        {picture::green_light, 476, 50, {476, 50, 21, 21}},  // first engage button
        {picture::autobrake_light, 25, 72, {23, 71, 26, 14}},
    };
    for (const Placement& placement : placements) {
        SCOPED_TRACE(testing::Message() << placement.picture.file << " at (" << placement.x << ", " << placement.y << ")");
        const std::vector<Pixel> drawn = drawn_pixels(read_picture(placement.picture));
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
        PictureRow row;
        int32_t pivot_x, pivot_y;  // in the picture
        int32_t x, y;              // where the pivot lies on the gauge
        Box area;
    };
    const Turning turning[] = {
        {picture::autobrake_needle, 0, 3, 36, 26, {12, 1, 50, 51}},
        {picture::autobrake_knob, 14, 15, 36, 121, {18, 104, 42, 36}},
    };
    for (const Turning& picture : turning) {
        SCOPED_TRACE(picture.row.file);
        const Bitmap bitmap = read_picture(picture.row);
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
