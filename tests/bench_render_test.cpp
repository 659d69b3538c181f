// The renderer on small synthetic gauges: needle geometry (angles and tables), icon and
// hidden-flag selection, black as transparent, read-out placement, scaling, PNG bytes.
#include <gtest/gtest.h>

#include <zlib.h>

#include <cmath>
#include <numbers>

#include "renderer.h"
#include "text_face.h"

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

// The autobrake's calibrated needle: centre (36,26), a 20 by 7 picture drawn pointing
// right from its pivot (0,3), five points on an arc from straight up round to below.
class AutobrakeScale : public BenchRender {
protected:
    static constexpr uint32_t long_needle_id = 20;
    static constexpr uint32_t knob_id = 21;
    static constexpr trace::Point centre{36, 26};
    const std::vector<trace::TablePoint> table = {
        {{36, 4}, 0}, {{48, 8}, 3120}, {{57, 18}, 5851}, {{58, 31}, 9752}, {{40, 47}, 16384}};

    void SetUp() override {
        pictures.add(background_id, Image(73, 144, grey));
        Image long_needle(20, 7);
        for (int x = 0; x < 20; ++x) long_needle.set(x, 3, white);
        pictures.add(long_needle_id, long_needle);
        // A round knob would hide the pointer's direction: only the pointer line is drawn,
        // from the centre (14,15) straight up.
        Image knob(29, 31);
        for (int y = 3; y <= 15; ++y) knob.set(14, y, red);
        pictures.add(knob_id, knob);
    }

    trace::ElementInfo scale_needle() const {
        trace::ElementInfo e = needle(long_needle_id, {0, 3}, table);
        e.position = centre;
        return e;
    }

    static double direction_to(trace::Point from, trace::Point to) {
        return std::atan2(to.x - from.x, -(to.y - from.y)) * 180.0 / std::numbers::pi;
    }
    // The direction of the drawn needle: from the centre to the middle of its pixels (a
    // one-pixel line turned off the axes steps from pixel to pixel; its middle does not).
    static double drawn_direction(const Image& image, trace::Point from, Rgb colour) {
        double sum_x = 0, sum_y = 0;
        int count = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (image.at(x, y) == colour) {
                    sum_x += x - from.x;
                    sum_y += y - from.y;
                    ++count;
                }
        EXPECT_GE(count, 15) << "the needle should be drawn at full length";
        return count == 0 ? NAN : std::atan2(sum_x, -sum_y) * 180.0 / std::numbers::pi;
    }
    // The drawn pixel `distance` pixels from `from` in `direction` (degrees clockwise from up).
    static Rgb pixel_along(const Image& image, trace::Point from, double direction, double distance) {
        const double radians = direction * std::numbers::pi / 180.0;
        return image.at(static_cast<int>(std::lround(from.x + distance * std::sin(radians))),
                        static_cast<int>(std::lround(from.y - distance * std::cos(radians))));
    }
};

TEST_F(AutobrakeScale, EachTableValuePointsAtItsPoint) {
    for (const trace::TablePoint& point : table) {
        SCOPED_TRACE(point.value);
        const double direction = direction_to(centre, point.point);
        EXPECT_NEAR(table_direction(table, centre, point.value), direction, 1e-9);
        EXPECT_NEAR(drawn_direction(draw_needle(scale_needle(), point.value), centre, white), direction, 1.5);
    }
}

TEST_F(AutobrakeScale, ValuesBetweenPointsTurnInProportionAndOutsideValuesStopAtTheEnds) {
    const double at_3120 = direction_to(centre, {48, 8});
    const double at_5851 = direction_to(centre, {57, 18});
    EXPECT_NEAR(table_direction(table, centre, (3120 + 5851) / 2.0), (at_3120 + at_5851) / 2, 1e-9);
    EXPECT_NEAR(table_direction(table, centre, 3120 + (5851 - 3120) / 4.0), at_3120 + (at_5851 - at_3120) / 4, 1e-9);
    const double at_9752 = direction_to(centre, {58, 31});
    const double at_16384 = direction_to(centre, {40, 47});
    EXPECT_NEAR(table_direction(table, centre, 13068), (at_9752 + at_16384) / 2, 1e-9);

    const double first = direction_to(centre, {36, 4});
    for (const double below : {-0.5, -16384.0, -1e300, -HUGE_VAL})
        EXPECT_NEAR(table_direction(table, centre, below), first, 1e-9) << below;
    for (const double beyond : {16384.5, 20000.0, 1e300, HUGE_VAL})
        EXPECT_NEAR(table_direction(table, centre, beyond), at_16384, 1e-9) << beyond;

    // Drawn: a value past the end lies on the last point; one between lies between.
    EXPECT_NEAR(drawn_direction(draw_needle(scale_needle(), 30000), centre, white), at_16384, 1.5);
    EXPECT_NEAR(drawn_direction(draw_needle(scale_needle(), 13068), centre, white), (at_9752 + at_16384) / 2, 1.5);
    EXPECT_NEAR(drawn_direction(draw_needle(scale_needle(), -100), centre, white), first, 1.5);
}

TEST_F(AutobrakeScale, AValueThatIsNotANumberDrawsNoNeedle) {
    EXPECT_TRUE(std::isnan(table_direction(table, centre, std::nan(""))));
    const Image image = draw_needle(scale_needle(), std::nan(""));
    for (const Rgb& pixel : image.pixels()) ASSERT_EQ(pixel, grey);
}

TEST_F(AutobrakeScale, KnobTurnsAboutItsCentreToEachPosition) {
    trace::ElementInfo knob = needle(knob_id, {14, 15});
    knob.position = {36, 121};
    for (const double angle : {270.0, 0.0, 45.0, 90.0, 135.0}) {
        SCOPED_TRACE(angle);
        const Image image = draw_needle(knob, angle);
        for (double distance : {3.0, 8.0, 11.0}) EXPECT_EQ(pixel_along(image, {36, 121}, angle, distance), red);
        EXPECT_EQ(pixel_along(image, {36, 121}, angle + 90, 6), grey);
        EXPECT_EQ(pixel_along(image, {36, 121}, angle + 180, 6), grey);
    }
}

// Panels: gauges of one module side by side, frame by frame.
class BenchPanel : public BenchRender {
protected:
    void SetUp() override {
        pictures.add(30, Image(5, 4, red));
        pictures.add(31, Image(3, 6, green));
    }
    static picture::PanelGauge gauge(const std::string& module, uint32_t picture, std::vector<std::string> labels) {
        trace::ElementInfo root = background();
        root.resource_id = picture;
        picture::PanelGauge each{module + "-" + std::to_string(picture) + ".jsonl", {"s", module, "m.gau", "G", {root}}, {}};
        for (const std::string& label : labels) each.frames.push_back({label, 1, 1, {{}}});
        return each;
    }
    std::vector<std::pair<std::string, Image>> panel(const std::vector<picture::PanelGauge>& gauges, int scale = 1) {
        Renderer renderer(pictures, face);
        return panel_frames(renderer, gauges, {scale});
    }
};

TEST_F(BenchPanel, GaugesStandSideBySideTopAlignedInTheOrderGiven) {
    const auto frames = panel({gauge("M", 30, {"a"}), gauge("M", 31, {"a"})});
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].first, "a") << "labels that agree name the frame once";
    const Image& image = frames[0].second;
    ASSERT_EQ(image.width(), 5 + panel_gap + 3);
    ASSERT_EQ(image.height(), 6);
    EXPECT_EQ(image.at(0, 0), red);
    EXPECT_EQ(image.at(4, 3), red);
    EXPECT_EQ(image.at(4, 4), panel_colour) << "below the shorter gauge";
    EXPECT_EQ(image.at(5, 0), panel_colour) << "the gap";
    EXPECT_EQ(image.at(5 + panel_gap - 1, 5), panel_colour);
    EXPECT_EQ(image.at(5 + panel_gap, 0), green);
    EXPECT_EQ(image.at(5 + panel_gap + 2, 5), green);

    const Image scaled = panel({gauge("M", 31, {"a"}), gauge("M", 30, {"a"})}, 2)[0].second;
    ASSERT_EQ(scaled.width(), 2 * (3 + panel_gap + 5));
    EXPECT_EQ(scaled.at(0, 0), green) << "the order given";
    EXPECT_EQ(scaled.at(2 * (3 + panel_gap), 0), red);
    EXPECT_EQ(scaled.at(2 * (3 + panel_gap) - 1, 0), panel_colour);
}

TEST_F(BenchPanel, AGaugeWithFewerFramesKeepsShowingItsLast) {
    const auto frames = panel({gauge("M", 30, {"x", "y", "z"}), gauge("M", 31, {"p"})});
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].first, "x+p");
    EXPECT_EQ(frames[1].first, "y+p");
    EXPECT_EQ(frames[2].first, "z+p");
    for (const auto& [label, image] : frames) EXPECT_EQ(image.at(5 + panel_gap, 0), green) << label;
}

TEST_F(BenchPanel, OneModuleAndAFrameForEveryGauge) {
    try {
        panel({gauge("KESTREL", 30, {"a"}), gauge("KESTREL_TIMER", 31, {"a"})});
        FAIL() << "gauges of two modules made one panel";
    } catch (const ImageError& error) {
        EXPECT_NE(std::string(error.what()).find("one module"), std::string::npos) << error.what();
    }
    EXPECT_THROW(panel({gauge("M", 30, {"a"}), gauge("M", 31, {})}), ImageError);
    EXPECT_THROW(panel({}), ImageError);
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

}  // namespace
