// The panel file reader on every rule it keeps: sections and keys in any case, comments,
// CRLF and spacing, windows, titles, backgrounds, gauge lines, and each kind of bad input
// refused with its line number; and the BMP reader on backgrounds of each kind.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "bitmap_drawing.h"
#include "panel_reader.h"
#include "temporary_directory.h"

namespace kestrel::panel {
namespace {

using kestrel::testing::TemporaryDirectory;

// BITMAPFILEHEADER and BITMAPINFOHEADER for a true-colour picture, pixel (x, y) given by
// colour(x, y) as 0x00RRGGBB, bottom-up rows padded to four bytes.
template <typename Colour>
std::vector<uint8_t> true_colour_bmp(int width, int height, int bits, Colour colour, uint32_t compression = 0) {
    const int stride = ((width * bits + 31) / 32) * 4;
    std::vector<uint8_t> bytes(54 + static_cast<std::size_t>(stride) * height, 0);
    auto put32 = [&](std::size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
    };
    bytes[0] = 'B';
    bytes[1] = 'M';
    put32(2, static_cast<uint32_t>(bytes.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(width));
    put32(22, static_cast<uint32_t>(height));
    bytes[26] = 1;
    bytes[28] = static_cast<uint8_t>(bits);
    put32(30, compression);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint32_t rgb = colour(x, y);
            uint8_t* q = &bytes[54 + static_cast<std::size_t>(stride) * (height - 1 - y) + x * (bits / 8)];
            q[0] = static_cast<uint8_t>(rgb);
            q[1] = static_cast<uint8_t>(rgb >> 8);
            q[2] = static_cast<uint8_t>(rgb >> 16);
        }
    return bytes;
}

class PanelFileTest : public ::testing::Test {
protected:
    std::filesystem::path write(const std::string& name, const std::string& bytes) {
        const auto path = folder / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    std::filesystem::path write(const std::string& name, const std::vector<uint8_t>& bytes) {
        return write(name, std::string(bytes.begin(), bytes.end()));
    }
    PanelFile parse(const std::string& text) { return read_panel_file(write("panel.cfg", text)); }
    // The message of the refusal, which must name the panel file and the line.
    std::string refusal(const std::string& text, int line) {
        try {
            parse(text);
        } catch (const PanelError& error) {
            const std::string message = error.what();
            EXPECT_EQ(message.rfind((folder / "panel.cfg").generic_string() + ":" + std::to_string(line) + ": ", 0), 0u)
                << message;
            return message;
        }
        ADD_FAILURE() << "accepted:\n" << text;
        return "";
    }

    TemporaryDirectory folder;
};

TEST_F(PanelFileTest, WindowsTitlesAndGaugesAreRead) {
    const PanelFile panel = parse(
        "[Window Titles]\n"
        "window00=Main Panel\n"
        "window01=Overhead\n"
        "\n"
        "[Window00]\n"
        "size_mm=640,480\n"
        "position=0\n"
        "visible=1\n"
        "ident=MAIN_PANEL\n"
        "gauge01=KESTREL!AUTOBRAKE, 820, 40, 73\n"
        "gauge00=KESTREL!AP, -10, 0, 804, 200\n"
        "[Window01]\n"
        "size_mm=300\n"
        "gauge00=KESTREL_TIMER!Digital_Clock, 20, 30\n"
        "[Window02]\n"
        "[VCockpit01]\n"
        "pixel_size=512,512\n"
        "texture=$VC01\n");
    ASSERT_EQ(panel.windows.size(), 3u);
    const Window& main = panel.windows[0];
    EXPECT_EQ(main.title, "Main Panel");
    EXPECT_TRUE(main.titled);
    EXPECT_EQ(main.line, 5);
    EXPECT_EQ(main.size_width, 640);
    EXPECT_EQ(main.size_height, 480);
    ASSERT_EQ(main.gauges.size(), 2u);
    EXPECT_EQ(main.gauges[0].number, 0) << "gauges are ordered by number, not by line";
    EXPECT_EQ(main.gauges[0].module, "KESTREL");
    EXPECT_EQ(main.gauges[0].gauge, "AP");
    EXPECT_EQ(main.gauges[0].x, -10);
    EXPECT_EQ(main.gauges[0].y, 0);
    EXPECT_EQ(main.gauges[0].width, 804);
    EXPECT_EQ(main.gauges[0].height, 200);
    EXPECT_EQ(main.gauges[0].line, 11);
    EXPECT_EQ(main.gauges[1].gauge, "AUTOBRAKE");
    EXPECT_EQ(main.gauges[1].width, 73);
    EXPECT_FALSE(main.gauges[1].height.has_value());
    ASSERT_EQ(main.kept.size(), 3u);
    EXPECT_EQ(main.kept[0].key, "position");
    EXPECT_EQ(main.kept[2].value, "MAIN_PANEL");
    EXPECT_TRUE(main.kept[2].known);
    const Window& overhead = panel.windows[1];
    EXPECT_EQ(overhead.title, "Overhead");
    EXPECT_EQ(overhead.size_width, 300);
    EXPECT_FALSE(overhead.size_height.has_value());
    ASSERT_EQ(overhead.gauges.size(), 1u);
    EXPECT_FALSE(overhead.gauges[0].width.has_value());
    EXPECT_EQ(panel.windows[2].title, "02") << "a window without a title has its number as title";
    EXPECT_FALSE(panel.windows[2].titled);
    ASSERT_EQ(panel.not_drawn.size(), 1u);
    EXPECT_EQ(panel.not_drawn[0].name, "VCockpit01");
    EXPECT_EQ(panel.not_drawn[0].line, 16);
    EXPECT_EQ(panel.not_drawn[0].keys, 2u);
}

TEST_F(PanelFileTest, CaseCommentsCrlfAndSpacing) {
    const PanelFile panel = parse(
        "// a panel for the tests\r\n"
        "; written by hand\r\n"
        "[WINDOW TITLES]   \r\n"
        "  Window00 =  Main Panel   ; the title stops before the comment\r\n"
        "[window00]\r\n"
        "SIZE_MM = 640 , 480 // after a value\r\n"
        "   GAUGE00  =  kestrel ! AP ,  1 ,2 ,  300 \r\n"
        "Position=5;kept\r\n"
        "Window_Size_Ratio=1.0\r\n"
        "shading=yes\r\n");
    ASSERT_EQ(panel.windows.size(), 1u);
    const Window& window = panel.windows[0];
    EXPECT_EQ(window.title, "Main Panel");
    EXPECT_EQ(window.size_width, 640);
    EXPECT_EQ(window.size_height, 480);
    ASSERT_EQ(window.gauges.size(), 1u);
    EXPECT_EQ(window.gauges[0].module, "kestrel");
    EXPECT_EQ(window.gauges[0].gauge, "AP");
    EXPECT_EQ(window.gauges[0].x, 1);
    EXPECT_EQ(window.gauges[0].y, 2);
    EXPECT_EQ(window.gauges[0].width, 300);
    ASSERT_EQ(window.kept.size(), 3u);
    EXPECT_EQ(window.kept[0].key, "Position");
    EXPECT_EQ(window.kept[0].value, "5");
    EXPECT_TRUE(window.kept[1].known);
    EXPECT_EQ(window.kept[2].key, "shading") << "an unknown key is kept";
    EXPECT_FALSE(window.kept[2].known);
    EXPECT_EQ(window.kept[2].line, 10);
}

TEST_F(PanelFileTest, EachBadInputNamesItsLine) {
    EXPECT_NE(refusal("[Window00]\ngauge00=KESTREL!AP, 1, two\n", 2).find("whole number for y, found 'two'"), std::string::npos);
    EXPECT_NE(refusal("[Window00]\nsize_mm=64x0\n", 2).find("whole number"), std::string::npos);
    EXPECT_NE(refusal("[Window00]\ngauge00=KESTREL!AP, 1.5, 2\n", 2).find("for x"), std::string::npos);
    EXPECT_NE(refusal("[Window00]\n\ngauge00=KESTREL AP, 1, 2\n", 3).find("MODULE!GAUGE"), std::string::npos);
    EXPECT_NE(refusal("[Window00]\ngauge00=KESTREL!AP\n", 2).find("x and y"), std::string::npos);
    EXPECT_NE(refusal("[Window00]\ngauge00=KESTREL!AP,1,2,3,4,5\n", 2).find("at most"), std::string::npos);
    EXPECT_NE(refusal("[Window00]\ngauge00=../KESTREL!AP,1,2\n", 2).find("module name"), std::string::npos);
    EXPECT_NE(refusal("[Window00]\n[Window02]\n", 2).find("[Window01] next"), std::string::npos);
    EXPECT_NE(refusal("[Window01]\n", 1).find("[Window00] next"), std::string::npos);
    EXPECT_NE(refusal("[Window00]\n[Window00]\n", 2).find("[Window01] next"), std::string::npos);
    EXPECT_NE(refusal("[Window00]\nvisible=1\nVISIBLE=0\n", 3).find("already at line 2"), std::string::npos);
    EXPECT_NE(refusal("[Window00]\ngauge00=A!B,1,2\ngauge0=A!C,1,2\n", 3).find("gauge00 is already at line 2"),
              std::string::npos);
    EXPECT_NE(refusal("[Window Titles]\nwindow00=A\nwindow01=B\n[Window00]\n", 3).find("[Window01] section"),
              std::string::npos);
    EXPECT_NE(refusal("visible=1\n", 1).find("[Section] header before"), std::string::npos);
    EXPECT_NE(refusal("[Window00]\njust words\n", 2).find("key=value"), std::string::npos);
    EXPECT_NE(refusal("[Window00\n", 1).find("section header"), std::string::npos);
    EXPECT_NE(refusal("[Window00]\n=1\n", 2).find("key before"), std::string::npos);
    EXPECT_NE(refusal("[Window00]\nfile=nothere.bmp\n", 2).find("nothere.bmp"), std::string::npos);
    EXPECT_NE(refusal("[Window00]\nfile=../up.bmp\n", 2).find("panel file's folder"), std::string::npos);
    EXPECT_NE(refusal(std::string("[Window00]\nvisible=1\0\n", 22), 2).find("NUL"), std::string::npos);
}

TEST_F(PanelFileTest, BackgroundsThatAreNotReadableBmpsAreRefusedAtTheirLine) {
    write("text.bmp", std::string("not a bitmap at all, only words, and more of them to fill a header"));
    write("rle.bmp", true_colour_bmp(4, 4, 24, [](int, int) { return 0x808080u; }, 1));
    write("sixteen.bmp", true_colour_bmp(4, 4, 16, [](int, int) { return 0u; }));
    std::vector<uint8_t> cut = true_colour_bmp(8, 8, 24, [](int, int) { return 0x112233u; });
    cut.resize(cut.size() - 10);
    write("cut.bmp", cut);
    EXPECT_NE(refusal("[Window00]\nfile=text.bmp\n", 2).find("'BM'"), std::string::npos);
    EXPECT_NE(refusal("[Window00]\n\nfile=rle.bmp\n", 3).find("compressed"), std::string::npos);
    EXPECT_NE(refusal("[Window00]\nfile=sixteen.bmp\n", 2).find("bits per pixel 16"), std::string::npos);
    EXPECT_NE(refusal("[Window00]\nfile=cut.bmp\n", 2).find("truncated"), std::string::npos);
}

TEST_F(PanelFileTest, BackgroundsOfEachKindAreFoundInAnyCaseAndDecoded) {
    pictures::Picture indexed(3, 2);
    indexed.put(2, 1, 1);
    const pictures::Colour palette[] = {{0, 0, 0}, {200, 100, 50}};
    write("Panel.BMP", pictures::encode_bmp(indexed, palette));
    write("deep.bmp", true_colour_bmp(5, 3, 32, [](int x, int y) { return x == 4 && y == 0 ? 0x0A0B0Cu : 0x010203u; }));
    write("true.bmp", true_colour_bmp(5, 3, 24, [](int x, int y) { return x == 0 && y == 2 ? 0xFF0000u : 0u; }));
    const PanelFile panel = parse("[Window00]\nfile=panel.bmp\n[Window01]\nFILE=DEEP.bmp\n[Window02]\nfile=True.bmp\n");
    ASSERT_EQ(panel.windows.size(), 3u);
    ASSERT_TRUE(panel.windows[0].background.has_value());
    const pe::Picture& first = panel.windows[0].background->picture;
    EXPECT_EQ(panel.windows[0].background->file.filename(), "Panel.BMP");
    EXPECT_EQ(first.width, 3);
    EXPECT_EQ(first.height, 2);
    EXPECT_EQ(first.bits_per_pixel, 8);
    EXPECT_EQ(first.at(2, 1), 0xC86432u);
    EXPECT_EQ(first.at(0, 0), 0u);
    const pe::Picture& second = panel.windows[1].background->picture;
    EXPECT_EQ(second.bits_per_pixel, 32);
    EXPECT_EQ(second.at(4, 0), 0x0A0B0Cu);
    EXPECT_EQ(second.at(0, 0), 0x010203u);
    const pe::Picture& third = panel.windows[2].background->picture;
    EXPECT_EQ(third.bits_per_pixel, 24);
    EXPECT_EQ(third.at(0, 2), 0xFF0000u) << "bottom-up rows come out top row first";
    EXPECT_EQ(third.at(0, 0), 0u);
}

TEST_F(PanelFileTest, AFileOverOneMebibyteIsRefused) {
    std::string text = "[Window00]\n";
    while (text.size() <= max_panel_file_bytes) text += "; filler comment line to grow the file past its limit\n";
    try {
        parse(text);
        FAIL() << "a file of " << text.size() << " bytes was read";
    } catch (const PanelError& error) {
        EXPECT_NE(std::string(error.what()).find("at most 1 MiB"), std::string::npos) << error.what();
    }
    text.resize(max_panel_file_bytes - 100);
    text += "\n";
    EXPECT_EQ(parse(text).windows.size(), 1u) << "a file just under the limit is read";
}

TEST_F(PanelFileTest, MoreThanAThousandGaugeLinesAreRefusedAtTheFirstTooMany) {
    std::string text;
    int line = 0;
    for (int window = 0; window < 2; ++window) {
        text += "[Window0" + std::to_string(window) + "]\n";
        ++line;
        for (int gauge = 0; gauge < 500; ++gauge, ++line)
            text += "gauge" + std::to_string(gauge) + "=M!G," + std::to_string(gauge) + ",0\n";
    }
    const PanelFile full = parse(text);
    ASSERT_EQ(full.windows.size(), 2u);
    EXPECT_EQ(full.windows[0].gauges.size() + full.windows[1].gauges.size(), 1000u) << "a thousand gauge lines are read";
    text += "gauge999=M!G,0,0\n";
    EXPECT_NE(refusal(text, line + 1).find("at most 1000 gauge lines"), std::string::npos);
}

}  // namespace
}  // namespace kestrel::panel
