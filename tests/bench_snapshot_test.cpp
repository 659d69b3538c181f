// Snapshots of panel windows on the real .gau files in the native host: a gauge's
// pictures land inside its rectangle, scaled to its width, and nowhere else; a missing
// module and an unknown gauge draw as placeholders that say why; --areas outlines each
// click area where the scaled gauge shows it, with its label; the command writes
// OUT/panel/NN-TITLE.png and lists what it did.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>

#include "bench_locations.h"
#include "bench_program.h"
#include "panel_picture.h"
#include "panel_reader.h"
#include "panel_session.h"
#include "panel_test_settings.h"
#include "renderer.h"
#include "temporary_directory.h"

namespace kestrel::panel {
namespace {

namespace fs = std::filesystem;
using kestrel::testing::TemporaryDirectory;

const fs::path& gau_folder = kestrel::testing::windows_gau_folder;

struct Box {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;  // inclusive
    long pixels = 0;
};

// Where the picture differs from the bare panel (or, for a gauge's own picture, from the
// black that is not drawn).
Box drawn_box(const picture::Image& image, picture::Rgb bare = picture::panel_colour) {
    Box box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (!(image.at(x, y) == bare)) {
                box.left = std::min(box.left, x);
                box.top = std::min(box.top, y);
                box.right = std::max(box.right, x);
                box.bottom = std::max(box.bottom, y);
                ++box.pixels;
            }
    return box;
}

class SnapshotTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(gau_folder / "KESTREL.GAU")) GTEST_SKIP() << "needs the windows build's " << gau_folder;
        settings = kestrel::testing::native_panel_settings(work.path());
    }

    std::vector<GaugeDrawing> run_window(const Window& window) {
        PanelSession session({window}, settings);
        session.update(1);
        return session.drawings(0, 1);
    }

    Window window_of(const std::string& text) {
        const fs::path file = work / "panel.cfg";
        std::ofstream(file, std::ios::binary) << text;
        PanelFile panel = read_panel_file(file);
        return panel.windows.at(0);
    }

    TemporaryDirectory work;
    PanelSessionSettings settings;
    picture::TextFace label_face{picture::default_label_font};
};

TEST_F(SnapshotTest, AGaugesPicturesLandInsideItsScaledRectangleOnly) {
    for (const int width : {73, 150}) {
        for (const int scale : {1, 2}) {
            const Window window =
                window_of("[Window00]\nsize_mm=400,400\ngauge00=KESTREL!AUTOBRAKE, 40, 30, " + std::to_string(width) + "\n");
            const std::vector<GaugeDrawing> drawings = run_window(window);
            ASSERT_EQ(drawings.size(), 1u);
            ASSERT_TRUE(drawings[0].picture.has_value()) << drawings[0].problem;
            const Rect rect = gauge_rect(drawings[0]);
            EXPECT_EQ(rect.width, width);
            EXPECT_EQ(rect.height, (width * drawings[0].picture->height() + drawings[0].picture->width() / 2) /
                                       drawings[0].picture->width())
                << "h follows the picture's proportions";
            const picture::Image image = draw_window(window, drawings, scale, label_face);
            ASSERT_EQ(image.width(), 400 * scale);
            ASSERT_EQ(image.height(), 400 * scale);
            const Box box = drawn_box(image);
            ASSERT_GT(box.pixels, 0) << "nothing of the gauge was drawn";
            SCOPED_TRACE("width " + std::to_string(width) + ", scale " + std::to_string(scale));
            EXPECT_GE(box.left, 40 * scale);
            EXPECT_GE(box.top, 30 * scale);
            EXPECT_LT(box.right, (40 + rect.width) * scale);
            EXPECT_LT(box.bottom, (30 + rect.height) * scale);
            // What the gauge's own picture shows, stretched to the rectangle: the drawn box
            // is the picture's, scaled, to a pixel.
            const picture::Image& own = *drawings[0].picture;
            const Box source = drawn_box(own, picture::Rgb{0, 0, 0});
            ASSERT_GT(source.pixels, 0);
            const double across = static_cast<double>(rect.width * scale) / own.width();
            const double down = static_cast<double>(rect.height * scale) / own.height();
            EXPECT_NEAR(box.left, 40 * scale + source.left * across, 1.5);
            EXPECT_NEAR(box.right + 1, 40 * scale + (source.right + 1) * across, 1.5);
            EXPECT_NEAR(box.top, 30 * scale + source.top * down, 1.5);
            EXPECT_NEAR(box.bottom + 1, 30 * scale + (source.bottom + 1) * down, 1.5);
        }
    }
}

TEST_F(SnapshotTest, DefaultWidthIsTheGaugesSizeFromItsHeader) {
    const Window window = window_of("[Window00]\ngauge00=KESTREL!AUTOBRAKE, 0, 0\n");
    const std::vector<GaugeDrawing> drawings = run_window(window);
    ASSERT_TRUE(drawings.at(0).picture.has_value()) << drawings[0].problem;
    ASSERT_TRUE(drawings[0].size_x_mm.has_value()) << "the trace's gauge record carries size_x_mm";
    EXPECT_GT(*drawings[0].size_x_mm, 0u);
    EXPECT_EQ(gauge_rect(drawings[0]).width, static_cast<int>(*drawings[0].size_x_mm));
    const WindowSize size = window_size(window, drawings);
    EXPECT_EQ(size.height, gauge_rect(drawings[0]).height) << "without size_mm the window reaches its lowest gauge";
}

TEST_F(SnapshotTest, AMissingModuleAndAnUnknownGaugeDrawAsPlaceholdersThatSayWhy) {
    const Window window = window_of(
        "[Window00]\nsize_mm=400,200\n"
        "gauge00=NOSUCH!Thing, 10, 10, 150, 80\n"
        "gauge01=kestrel!NOPE, 200, 10, 150, 80\n"
        "gauge02=KESTREL!AUTOBRAKE, 10, 110, 60\n");
    const std::vector<GaugeDrawing> drawings = run_window(window);
    ASSERT_EQ(drawings.size(), 3u);
    EXPECT_FALSE(drawings[0].picture.has_value());
    EXPECT_NE(drawings[0].problem.find("no module NOSUCH.gau"), std::string::npos) << drawings[0].problem;
    EXPECT_NE(drawings[0].problem.find("KESTREL.GAU"), std::string::npos) << "lists the modules there: " << drawings[0].problem;
    EXPECT_FALSE(drawings[1].picture.has_value());
    EXPECT_NE(drawings[1].problem.find("AP, AUTOBRAKE"), std::string::npos) << "lists the gauges: " << drawings[1].problem;
    EXPECT_TRUE(drawings[2].picture.has_value()) << "the rest of the panel runs: " << drawings[2].problem;

    const picture::Image image = draw_window(window, drawings, 1, label_face);
    EXPECT_EQ(image.at(10, 10), placeholder_frame);
    EXPECT_EQ(image.at(159, 89), placeholder_frame);
    EXPECT_EQ(image.at(160, 90), picture::panel_colour) << "the placeholder stays in its rectangle";
    EXPECT_EQ(image.at(200, 10), placeholder_frame);
    long fill = 0, text = 0;
    for (int y = 12; y < 88; ++y)
        for (int x = 12; x < 158; ++x) {
            if (image.at(x, y) == placeholder_fill) ++fill;
            else ++text;
        }
    EXPECT_GT(fill, 0);
    EXPECT_GT(text, 0) << "the placeholder carries its label";
}

TEST_F(SnapshotTest, ClickAreasAreOutlinedAtTheirScaledBoxesWithTheirTooltips) {
    const int scale = 2;
    const Window window = window_of("[Window00]\nsize_mm=400,120\ngauge00=KESTREL!AP, 20, 10, 300\n");
    const std::vector<GaugeDrawing> drawings = run_window(window);
    ASSERT_EQ(drawings.size(), 1u);
    ASSERT_TRUE(drawings[0].picture.has_value()) << drawings[0].problem;
    const GaugeDrawing& ap = drawings[0];
    ASSERT_NE(ap.picture->width(), 300) << "the gauge must be drawn at a width other than its own";
    const auto tooltipped = std::find_if(ap.areas.begin(), ap.areas.end(),
                                         [](const trace::ClickArea& a) { return a.tooltip && !a.whole_gauge && a.width > 0; });
    ASSERT_NE(tooltipped, ap.areas.end()) << "the trace recorded no area with a tooltip (" << ap.areas.size() << " areas)";
    const trace::ClickArea& area = *tooltipped;

    // The box scaled here as the picture is: gauge pixels times the rectangle's share.
    const Rect rect = gauge_rect(ap);
    const double across = static_cast<double>(rect.width * scale) / ap.picture->width();
    const double down = static_cast<double>(rect.height * scale) / ap.picture->height();
    const int left = static_cast<int>(std::lround(rect.x * scale + area.x * across));
    const int top = static_cast<int>(std::lround(rect.y * scale + area.y * down));
    const int right = static_cast<int>(std::lround(rect.x * scale + (area.x + area.width) * across)) - 1;  // inclusive
    const int bottom = static_cast<int>(std::lround(rect.y * scale + (area.y + area.height) * down)) - 1;
    ASSERT_GT(right - left, 4);
    ASSERT_GT(bottom - top, 4);

    // That area alone, so that no neighbour's label covers its outline here.
    std::vector<GaugeDrawing> alone = drawings;
    alone[0].areas = {area};
    const picture::Image plain = draw_window(window, alone, scale, label_face);
    const picture::Image outlined = draw_window(window, alone, scale, label_face, true);
    const picture::Image every_area = draw_window(window, drawings, scale, label_face, true);
    long every_outline = 0;
    for (int y = 0; y < every_area.height(); ++y)
        for (int x = 0; x < every_area.width(); ++x) every_outline += every_area.at(x, y) == area_outline;
    ASSERT_EQ(plain.width(), outlined.width());
    const int middle_x = (left + right) / 2, middle_y = (top + bottom) / 2;
    for (const auto& [x, y] : std::vector<std::pair<int, int>>{
             {left, top}, {right, top}, {left, bottom}, {right, bottom}, {left, middle_y}, {right, middle_y}, {middle_x, top}})
        EXPECT_EQ(outlined.at(x, y), area_outline) << "no outline at " << x << "," << y;
    EXPECT_NE(outlined.at(left - 1, middle_y), area_outline) << "the outline starts at the scaled box, not before it";
    EXPECT_NE(outlined.at(left + scale, middle_y), area_outline) << "the outline is a line, not a filled box";
    long outline_pixels = 0;
    for (int y = 0; y < outlined.height(); ++y)
        for (int x = 0; x < outlined.width(); ++x)
            if (outlined.at(x, y) == area_outline && !(plain.at(x, y) == area_outline)) ++outline_pixels;
    EXPECT_GT(outline_pixels, 0);
    EXPECT_GT(every_outline, outline_pixels) << "every area of the gauge is outlined, not only the one checked";

    // The tooltip just below the box: its dark ground, and text on it.
    const int label_width = label_face.text_width(*area.tooltip, area_label_size * scale);
    ASSERT_GT(label_width, 0) << "the tooltip \"" << *area.tooltip << "\" has no width to draw";
    const int label_top = bottom + 1 + scale, label_height = label_face.line_height(area_label_size * scale);
    long ground = 0, text = 0;
    for (int y = label_top; y < label_top + label_height; ++y)
        for (int x = left; x < left + label_width; ++x) {
            if (outlined.at(x, y) == area_label_ground) ++ground;
            else if (outlined.at(x, y).red > 128 && outlined.at(x, y).blue < 100) ++text;
        }
    EXPECT_GT(ground, 0) << "no label ground below the area";
    EXPECT_GT(text, label_width / 4) << "no tooltip text drawn beside the area";
    EXPECT_EQ(area_label(area), *area.tooltip);
    EXPECT_EQ(area_label({0, 0, 1, 1, true, false, 0xAB0E, std::nullopt}), "help 0xAB0E");
}

TEST_F(SnapshotTest, TheCommandWritesEachWindowAndListsWhatItRead) {
    const fs::path panel = work / "panel.cfg";
    std::ofstream(panel, std::ios::binary) << "[Window Titles]\nwindow00=Main Panel\n"
                                              "[Window00]\nsize_mm=300,200\nvisible=1\n"
                                              "gauge00=KESTREL!AUTOBRAKE, 10, 10, 73\ngauge01=GONE!X, 100, 10\n"
                                              "[Window01]\ngauge00=KESTREL!AUTOBRAKE, 0, 0\n[VCockpit01]\nsize_mm=1\n";
    const fs::path out = work / "out";
    const auto result = kestrel::testing::run_bench("snapshot --native-gau --gauges '" + gau_folder.string() + "' --panel '" +
                                                    panel.string() + "' --out '" + out.string() + "'");
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_TRUE(fs::exists(out / "panel/00-Main_Panel.png")) << result.out;
    EXPECT_TRUE(fs::exists(out / "panel/01-01.png")) << result.out;
    EXPECT_NE(result.out.find("line 5: visible=1  (kept, not applied)"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("line 7: gauge01 GONE!X at 100,10, 120 x 60: placeholder: "), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("line 10: [VCockpit01] not drawn (1 key)"), std::string::npos) << result.out;

    const auto bad = kestrel::testing::run_bench("snapshot --native-gau --panel '" + (work / "none.cfg").string() + "' --out '" +
                                                 out.string() + "'");
    EXPECT_EQ(bad.status, 2);
    std::ofstream(panel, std::ios::binary) << "[Window00]\ngauge00=KESTREL AP, 0, 0\n";
    const auto malformed = kestrel::testing::run_bench("snapshot --native-gau --panel '" + panel.string() + "' --out '" +
                                                       out.string() + "'");
    EXPECT_EQ(malformed.status, 2);
    EXPECT_NE(malformed.err.find(panel.generic_string() + ":2: expected MODULE!GAUGE"), std::string::npos) << malformed.err;
}

TEST_F(SnapshotTest, TheExamplePanelDrawsBothWindowsAndThePlaceholderOfItsMissingModule) {
    const fs::path example = fs::path(KESTREL_SOURCE_DIR) / "examples/panel";
    // The background is the tools build's drawing, copied: no other art.
    const std::string drawn = kestrel::testing::read_text(KESTREL_EXAMPLE_PANEL_BACKGROUND);
    ASSERT_FALSE(drawn.empty()) << "the tools build drew no " << KESTREL_EXAMPLE_PANEL_BACKGROUND;
    EXPECT_TRUE(drawn == kestrel::testing::read_text(example / "main_panel.bmp"))
        << "examples/panel/main_panel.bmp is not what draw_example_panel_pictures draws: copy it from "
        << KESTREL_EXAMPLE_PANEL_BACKGROUND;

    const fs::path out = work / "out";
    const auto result = kestrel::testing::run_bench("snapshot --native-gau --areas --gauges '" + gau_folder.string() +
                                                    "' --panel '" + (example / "panel.cfg").string() + "' --out '" +
                                                    out.string() + "'");
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    const fs::path main_file = out / "panel/00-Main_Panel.png", clock_file = out / "panel/01-Clock.png";
    ASSERT_TRUE(fs::exists(main_file)) << result.out;
    ASSERT_TRUE(fs::exists(clock_file)) << result.out;
    const picture::Image main_panel = picture::read_png(main_file);
    EXPECT_EQ(main_panel.width(), 1024);
    EXPECT_EQ(main_panel.height(), 384) << "size_mm=1024 in the background's proportions, 512 by 192";
    const picture::Image clock = picture::read_png(clock_file);
    EXPECT_EQ(clock.width(), 200);
    EXPECT_EQ(clock.height(), 198) << "down to the clock drawn 200 wide, its picture's 104 by 103 in proportion";
    EXPECT_NE(result.out.find("gauge03 NAV_RADIO!Receiver at 300,200, 240 x 100: placeholder: "), std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("no module NAV_RADIO.gau"), std::string::npos) << result.out;
    for (const char* drawn_gauge : {"KESTREL!AP at 8,28, 804 x 107", "KESTREL!AUTOBRAKE at 840,28, 110 x 217",
                                    "KESTREL_TIMER!Digital_Clock at 20,150, 100 x 99"})
        EXPECT_NE(result.out.find(drawn_gauge), std::string::npos) << drawn_gauge << " not drawn:\n" << result.out;
    EXPECT_EQ(result.out.find("Digital_Clock at 0,0, 200 x 198: placeholder"), std::string::npos) << result.out;
}

}  // namespace
}  // namespace kestrel::panel
