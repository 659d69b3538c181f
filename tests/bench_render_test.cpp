// The renderer on small synthetic gauges: needle geometry (angles and tables), icon and
// hidden-flag selection, black as transparent, read-out placement, scaling, PNG bytes.
#include <gtest/gtest.h>

#include <zlib.h>

#include <cmath>

#include "renderer.h"

namespace {

using namespace kestrel;
using namespace kestrel::picture;

constexpr Rgb white{255, 255, 255};
constexpr Rgb red{255, 0, 0};
constexpr Rgb green{0, 255, 0};
constexpr Rgb grey{60, 60, 60};
constexpr Rgb black{};

constexpr uint32_t background_id = 1;
constexpr uint32_t needle_up_id = 2;     // 3 by 7, a line pointing up from its pivot (1,6)
constexpr uint32_t needle_right_id = 3;  // 7 by 3, a line pointing right from its pivot (0,1)
constexpr uint32_t icon_id = 10;         // 10 red, 11 green, each 4 by 4 with a black centre

PictureSet synthetic_pictures() {
    PictureSet set;
    set.add(background_id, Image(21, 21, grey));
    Image up(3, 7);
    for (int y = 0; y < 7; ++y) up.set(1, y, white);
    set.add(needle_up_id, up);
    Image right(7, 3);
    for (int x = 0; x < 7; ++x) right.set(x, 1, white);
    set.add(needle_right_id, right);
    for (uint32_t i = 0; i < 2; ++i) {
        Image icon(4, 4, i == 0 ? red : green);
        icon.set(1, 1, black);
        set.add(icon_id + i, icon);
    }
    return set;
}

trace::ElementInfo background() {
    trace::ElementInfo e;
    e.label = "0";
    e.kind = trace::kind_static_image;
    e.resource_id = background_id;
    return e;
}

trace::ElementInfo needle(uint32_t picture, trace::Point pivot, std::vector<trace::TablePoint> table = {}) {
    trace::ElementInfo e;
    e.label = "0.0";
    e.kind = trace::kind_needle;
    e.resource_id = picture;
    e.position = {10, 10};
    e.anchor = pivot;
    e.table = std::move(table);
    return e;
}

trace::Frame frame_of(std::vector<trace::ElementState> states) { return {"test", 1, 1, std::move(states)}; }

class BenchRender : public ::testing::Test {
protected:
    Image draw(const std::vector<trace::ElementInfo>& elements, const std::vector<trace::ElementState>& states,
               int scale = 1) {
        Renderer renderer(pictures, face);
        return renderer.render({"s", "M", "M.gau", "G", elements}, frame_of(states), {scale});
    }
    Image draw_needle(const trace::ElementInfo& e, double value, int scale = 1) {
        return draw({background(), e}, {{}, {value, 0, std::nullopt}}, scale);
    }

    PictureSet pictures = synthetic_pictures();
    TextFace face{default_readout_font};
};

TEST_F(BenchRender, NeedleTurnsAboutItsPivotClockwiseFromStraightUp) {
    const Image at_0 = draw_needle(needle(needle_up_id, {1, 6}), 0);
    for (int y = 4; y <= 10; ++y) EXPECT_EQ(at_0.at(10, y), white) << "y " << y;
    EXPECT_EQ(at_0.at(10, 3), grey);
    EXPECT_EQ(at_0.at(10, 11), grey);
    EXPECT_EQ(at_0.at(11, 7), grey);

    const Image at_90 = draw_needle(needle(needle_up_id, {1, 6}), 90);
    for (int x = 10; x <= 16; ++x) EXPECT_EQ(at_90.at(x, 10), white) << "x " << x;
    EXPECT_EQ(at_90.at(17, 10), grey);
    EXPECT_EQ(at_90.at(10, 9), grey);

    const Image at_180 = draw_needle(needle(needle_up_id, {1, 6}), 180);
    for (int y = 10; y <= 16; ++y) EXPECT_EQ(at_180.at(10, y), white) << "y " << y;
    EXPECT_EQ(at_180.at(10, 9), grey);

    // A picture drawn pointing right is turned so that it points where the angle says.
    const Image right_at_0 = draw_needle(needle(needle_right_id, {0, 1}), 0);
    for (int y = 4; y <= 10; ++y) EXPECT_EQ(right_at_0.at(10, y), white) << "y " << y;
}

TEST_F(BenchRender, NeedleWithTableFollowsTheInterpolatedDirection) {
    const std::vector<trace::TablePoint> table = {{{10, 0}, 0}, {{20, 10}, 100}};
    EXPECT_DOUBLE_EQ(table_direction(table, {10, 10}, 50), 45);
    EXPECT_DOUBLE_EQ(table_direction(table, {10, 10}, 75), 67.5);
    EXPECT_DOUBLE_EQ(table_direction(table, {10, 10}, -5), 0);   // before the first point
    EXPECT_DOUBLE_EQ(table_direction(table, {10, 10}, 500), 90);  // beyond the last
    // Across straight up the shorter way round: 350 to 10 degrees passes 0, not 180.
    const double crossing =
        table_direction({{{8, 0}, 0}, {{12, 0}, 1}}, {10, 10}, 0.5);
    EXPECT_NEAR(std::fmod(crossing + 360, 360), 0, 1e-9);

    // The needle picture points right as drawn; with the table it points at the points.
    const Image up = draw_needle(needle(needle_right_id, {0, 1}, table), 0);
    for (int y = 4; y <= 10; ++y) EXPECT_EQ(up.at(10, y), white) << "y " << y;
    const Image right = draw_needle(needle(needle_right_id, {0, 1}, table), 100);
    for (int x = 10; x <= 16; ++x) EXPECT_EQ(right.at(x, 10), white) << "x " << x;
    const Image diagonal = draw_needle(needle(needle_right_id, {0, 1}, table), 50);
    EXPECT_EQ(diagonal.at(14, 6), white);  // six pixels out at 45 degrees
    EXPECT_EQ(diagonal.at(10, 4), grey);
    EXPECT_EQ(diagonal.at(16, 10), grey);
}

TEST_F(BenchRender, NeedleRestDirectionIsTheNearestQuarterTurnTowardsThePicture) {
    EXPECT_EQ(needle_rest_direction(10, 45, {6, 42}), 0);   // the clock's hand
    EXPECT_EQ(needle_rest_direction(20, 7, {0, 3}), 90);    // a needle drawn pointing right
    EXPECT_EQ(needle_rest_direction(7, 3, {6, 1}), 270);
    EXPECT_EQ(needle_rest_direction(3, 7, {1, 0}), 180);
    EXPECT_EQ(needle_rest_direction(5, 5, {2, 2}), 0);      // centred on its pivot
}

TEST_F(BenchRender, ScaledNeedleKeepsItsGeometry) {
    const Image at_90 = draw_needle(needle(needle_up_id, {1, 6}), 90, 2);
    ASSERT_EQ(at_90.width(), 42);
    EXPECT_EQ(at_90.at(2 * 16, 2 * 10), white);
    EXPECT_EQ(at_90.at(2 * 16 + 1, 2 * 10 + 1), white);
    EXPECT_EQ(at_90.at(2 * 17 + 1, 2 * 10), grey);
}

TEST(BenchIcons, ValueSelectsThePicture) {
    EXPECT_EQ(icon_picture_index(2, 3, 0), 0u);
    EXPECT_EQ(icon_picture_index(2, 3, 1), 1u);
    EXPECT_EQ(icon_picture_index(2, 0, 1.9), 1u);
    EXPECT_EQ(icon_picture_index(2, 3, 2), std::nullopt);
    EXPECT_EQ(icon_picture_index(2, 3, -1), std::nullopt);
    EXPECT_EQ(icon_picture_index(1, 0, 1), 0u);             // one-picture light: 1 shows
    EXPECT_EQ(icon_picture_index(1, 0, -1), std::nullopt);  // -1 hides
    EXPECT_EQ(icon_picture_index(1, 0, 0), std::nullopt);
    EXPECT_EQ(icon_picture_index(1, 3, 0), 0u);             // the clock's lit face: hidden by flag only
    EXPECT_EQ(icon_picture_index(2, 3, std::nan("")), std::nullopt);
}

TEST_F(BenchRender, IconsDrawTheirPictureWithBlackTransparentUnlessHidden) {
    trace::ElementInfo icon;
    icon.label = "0.0";
    icon.kind = trace::kind_icon;
    icon.resource_id = icon_id;
    icon.position = {2, 3};
    icon.icon_count = 2;
    icon.icon_switch = 3;

    const Image first = draw({background(), icon}, {{}, {0.0, 0, std::nullopt}});
    EXPECT_EQ(first.at(2, 3), red);
    EXPECT_EQ(first.at(5, 6), red);
    EXPECT_EQ(first.at(3, 4), grey);  // the picture's black pixel lets the background through
    EXPECT_EQ(first.at(6, 3), grey);

    const Image second = draw({background(), icon}, {{}, {1.0, 0, std::nullopt}});
    EXPECT_EQ(second.at(2, 3), green);

    const Image hidden = draw({background(), icon}, {{}, {1.0, trace::flag_image_hidden | 0x5, std::nullopt}});
    EXPECT_EQ(hidden.at(2, 3), grey);

    const Image out_of_range = draw({background(), icon}, {{}, {2.0, 0, std::nullopt}});
    EXPECT_EQ(out_of_range.at(2, 3), grey);
}

TEST_F(BenchRender, ReadoutIsCentredInItsBoxInTheForeColour) {
    pictures.add(background_id, Image(80, 60, black));
    trace::ElementInfo readout;
    readout.label = "0.0";
    readout.kind = trace::kind_string;
    readout.resource_id = 0xFFFFFFFF;
    readout.position = {10, 20};
    readout.width = 60;
    readout.height = 20;
    readout.fore_colour = 0x000000FF;  // Windows 0x00BBGGRR: pure red
    readout.char_count = 3;

    for (int scale : {1, 2}) {
        const Image image = draw({background(), readout}, {{}, {0.0, 0, std::string("888")}}, scale);
        int left = image.width(), right = -1, top = image.height(), bottom = -1;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const Rgb pixel = image.at(x, y);
                if (pixel == black) continue;
                EXPECT_EQ(pixel.green, 0);
                EXPECT_EQ(pixel.blue, 0);
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
        ASSERT_GE(right, left) << "nothing drawn at scale " << scale;
        EXPECT_GE(left, 10 * scale);
        EXPECT_LT(right, 70 * scale);
        EXPECT_GE(top, 20 * scale);
        EXPECT_LT(bottom, 40 * scale);
        EXPECT_NEAR((left + right) / 2.0, 40 * scale - 0.5, 2.0 * scale) << "scale " << scale;
        EXPECT_NEAR((top + bottom) / 2.0, 30 * scale - 0.5, 1.5 * scale) << "scale " << scale;
        EXPECT_GT(right - left, 30 * scale) << "the text should fill most of its box";
    }
}

TEST_F(BenchRender, FramesThatDoNotFitTheGaugeAreRefused) {
    EXPECT_THROW(draw({background(), needle(needle_up_id, {1, 6})}, {{}}), trace::TraceError);
    EXPECT_THROW(draw({background()}, {{}}, 3), ImageError);
    trace::ElementInfo missing = background();
    missing.resource_id = 99;
    EXPECT_THROW(draw({missing}, {{}}), ImageError);
}

// Reads the chunks back, checks each CRC and inflates the pixel rows.
TEST(BenchPng, EncodesRgbRowsThatInflateBackWithValidChunks) {
    Image image(3, 2, black);
    image.set(0, 0, red);
    image.set(2, 1, Rgb{1, 2, 3});
    const std::vector<uint8_t> png = encode_png(image);
    ASSERT_GT(png.size(), 8u);
    EXPECT_EQ(std::vector<uint8_t>(png.begin(), png.begin() + 8),
              (std::vector<uint8_t>{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}));
    std::size_t at = 8;
    std::vector<std::string> types;
    std::vector<uint8_t> idat;
    auto be32 = [&](std::size_t i) {
        return static_cast<uint32_t>(png[i] << 24 | png[i + 1] << 16 | png[i + 2] << 8 | png[i + 3]);
    };
    while (at + 12 <= png.size()) {
        const uint32_t length = be32(at);
        const std::string type(png.begin() + at + 4, png.begin() + at + 8);
        types.push_back(type);
        EXPECT_EQ(be32(at + 8 + length), crc32(0, png.data() + at + 4, length + 4)) << type;
        if (type == "IHDR") {
            EXPECT_EQ(be32(at + 8), 3u);
            EXPECT_EQ(be32(at + 12), 2u);
            EXPECT_EQ(png[at + 16], 8);  // bits per channel
            EXPECT_EQ(png[at + 17], 2);  // RGB
        }
        if (type == "IDAT") idat.insert(idat.end(), png.begin() + at + 8, png.begin() + at + 8 + length);
        at += 12 + length;
    }
    EXPECT_EQ(at, png.size());
    EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
    std::vector<uint8_t> raw(2 * (1 + 3 * 3));
    uLongf raw_size = raw.size();
    ASSERT_EQ(uncompress(raw.data(), &raw_size, idat.data(), idat.size()), Z_OK);
    EXPECT_EQ(raw, (std::vector<uint8_t>{0, 255, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3}));
}

TEST(BenchContactSheet, LaysFramesInRowsWithRoomForLabels) {
    TextFace labels(default_label_font);
    const Image sheet = contact_sheet({{"a", Image(10, 8, red)}, {"b", Image(10, 8, green)}, {"c", Image(10, 8, white)}},
                                      labels, 2);
    // Two columns, two rows; every frame keeps its pixels.
    int red_pixels = 0, green_pixels = 0, white_pixels = 0;
    for (const Rgb& pixel : sheet.pixels()) {
        red_pixels += pixel == red;
        green_pixels += pixel == green;
        white_pixels += pixel == white;
    }
    EXPECT_EQ(red_pixels, 80);
    EXPECT_EQ(green_pixels, 80);
    EXPECT_GE(white_pixels, 80);
    EXPECT_GT(sheet.height(), 2 * 8 + 2 * 12);
    EXPECT_THROW(contact_sheet({}, labels), ImageError);
}

}  // namespace
