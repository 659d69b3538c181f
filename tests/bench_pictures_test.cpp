// The picture side of the bench, on synthetic pictures: every read-out glyph drawn ("+"
// from the fallback face, never a box; a character no face has left blank and reported
// once), the contact sheet's layout by the sizes of its cells, numbered frame names, the
// pixel comparison and difference picture, and the PNG reader on hostile files.
#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <fstream>

#include "bench_scratch.h"
#include "contact_sheet.h"
#include "frame_writer.h"
#include "picture_diff.h"
#include "png.h"
#include "renderer.h"
#include "text_face.h"

namespace {

namespace fs = std::filesystem;
using namespace kestrel;
using namespace kestrel::picture;

constexpr Rgb black{};
constexpr Rgb white{255, 255, 255};
constexpr Rgb red{255, 0, 0};

// A gauge of one black background and one read-out filling it, drawn in white.
class ReadoutGlyphs : public ::testing::Test {
protected:
    static constexpr int width = 120;
    static constexpr int height = 40;

    void SetUp() override { pictures.add(1, Image(width, height, black)); }

    static trace::GaugeInfo gauge() {
        trace::ElementInfo root;
        root.label = "0";
        root.kind = trace::kind_static_image;
        root.resource_id = 1;
        trace::ElementInfo readout;
        readout.label = "0.0";
        readout.kind = trace::kind_string;
        readout.width = width;
        readout.height = height;
        readout.fore_colour = 0x00FFFFFF;
        readout.char_count = 4;
        return {"s", "M", "M.gau", "G", {root, readout}};
    }
    Image draw(Renderer& renderer, const std::string& text, int line = 7) {
        return renderer.render(gauge(), {"f", line, 1, {{}, {0.0, 0, text}}});
    }
    int size() { return face.fitting_size(width, height, 4); }
    // Lit pixels in columns [left, right).
    static int lit(const Image& image, int left, int right, int top = 0, int bottom = height) {
        int count = 0;
        for (int y = top; y < bottom; ++y)
            for (int x = left; x < right; ++x) count += image.at(x, y).red > 128;
        return count;
    }

    PictureSet pictures;
    TextFace face{default_readout_font};
};

TEST_F(ReadoutGlyphs, PlusIsDrawnFromTheFallbackFaceAsACrossNotABox) {
    Renderer renderer(pictures, face);
    const Image image = draw(renderer, "+500");
    EXPECT_TRUE(renderer.warnings().empty()) << renderer.warnings().front().message;

    const int pen = (width - face.text_width("+500", size())) / 2;
    const int advance = face.text_width("+", size());
    ASSERT_EQ(advance, face.text_width("8", size())) << "the fallback '+' stands in a digit's place";
    // The '+' cell holds exactly what the fourteen-segment face draws for '+' there.
    TextFace fourteen(default_readout_font.fallbacks.front());
    Image alone(width, height, black);
    fourteen.draw_centred(alone, {pen, 0, advance, height}, "+", white, size());
    int cell_lit = 0;
    for (int y = 0; y < height; ++y)
        for (int x = pen; x < pen + advance; ++x) {
            EXPECT_EQ(image.at(x, y), alone.at(x, y)) << "x " << x << " y " << y;
            cell_lit += image.at(x, y).red > 128;
        }
    ASSERT_GT(cell_lit, 20) << "the '+' cell is empty";

    // A cross: its middle column and row lit end to end, the corners of its box dark.
    int left = width, right = -1, top = height, bottom = -1;
    for (int y = 0; y < height; ++y)
        for (int x = pen; x < pen + advance; ++x)
            if (image.at(x, y).red > 128) {
                left = std::min(left, x), right = std::max(right, x);
                top = std::min(top, y), bottom = std::max(bottom, y);
            }
    const int middle_x = (left + right) / 2;
    const int middle_y = (top + bottom) / 2;
    EXPECT_GE(lit(image, middle_x - 1, middle_x + 2, top, bottom + 1), (bottom - top) * 2 / 3) << "no upright bar";
    EXPECT_GE(lit(image, left, right + 1, middle_y - 1, middle_y + 2), (right - left) * 2 / 3) << "no cross bar";
    const int quarter_x = (right - left) / 4;
    const int quarter_y = (bottom - top) / 4;
    EXPECT_EQ(lit(image, left, left + quarter_x, top, top + quarter_y), 0) << "a box's corner is lit";
    EXPECT_EQ(lit(image, right + 1 - quarter_x, right + 1, bottom + 1 - quarter_y, bottom + 1), 0);

    // Without the fallback there would be no '+' to draw: the seven-segment face lacks it.
    TextFace seven(default_readout_font.primary);
    EXPECT_EQ(seven.undrawable("+500"), "+");
    EXPECT_EQ(fourteen.undrawable("+"), "");

    // "500" after it, as the primary face draws digits.
    EXPECT_GT(lit(image, pen + advance, pen + 4 * advance), 3 * 20);
}

TEST_F(ReadoutGlyphs, ACharacterNoFaceDrawsIsLeftBlankAndReportedOncePerElement) {
    Renderer renderer(pictures, face);
    const std::string text = "5#0";
    ASSERT_EQ(face.undrawable(text), "#");
    ASSERT_EQ(face.text_width(text, size()), 3 * face.text_width("8", size())) << "the blank is a digit wide";
    const Image image = draw(renderer, text, 12);
    draw(renderer, "0#5", 15);
    ASSERT_EQ(renderer.warnings().size(), 1u);
    EXPECT_EQ(renderer.warnings()[0].line, 12);
    EXPECT_EQ(renderer.warnings()[0].message,
              "element [1] (0.0) shows \"5#0\", and no read-out font draws \"#\": left blank");
    const int pen = (width - face.text_width(text, size())) / 2;
    const int advance = face.text_width("8", size());
    EXPECT_GT(lit(image, pen, pen + advance), 20) << "the '5' is missing";
    EXPECT_EQ(lit(image, pen + advance, pen + 2 * advance), 0) << "the '#' cell is not blank";
    EXPECT_GT(lit(image, pen + 2 * advance, pen + 3 * advance), 20) << "the '0' is missing";
}

std::vector<SheetFrame> sheet_frames(int count, int w, int h) {
    std::vector<SheetFrame> frames;
    for (int i = 0; i < count; ++i) frames.push_back({bench::numbered_frame_name(i, count, "f"), Image(w, h, red)});
    return frames;
}

TEST(ContactSheetLayout, OneRowPerScenarioEachCellItsFramesSizeWrappingAt3000) {
    TextFace labels(default_label_font);
    std::vector<SheetRow> rows = {{"clock", sheet_frames(3, 200, 100)},
                                  {"ap", sheet_frames(3, 1608, 400)},
                                  {"mixed", {}}};
    rows[2].frames = {{"001-small", Image(100, 50, red)}, {"002-a", Image(1200, 80, red)},
                      {"003-b", Image(1200, 80, red)}, {"004-c", Image(1200, 80, red)}};
    const SheetLayout layout = contact_sheet_layout(rows, labels);
    ASSERT_EQ(layout.titles.size(), 3u);
    ASSERT_EQ(layout.cells.size(), 3u);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        ASSERT_EQ(layout.cells[r].size(), rows[r].frames.size());
        for (std::size_t f = 0; f < rows[r].frames.size(); ++f) {
            const SheetCell& cell = layout.cells[r][f];
            EXPECT_EQ(cell.frame.width, rows[r].frames[f].image.width()) << r << "/" << f;
            EXPECT_EQ(cell.frame.height, rows[r].frames[f].image.height()) << r << "/" << f;
            EXPECT_EQ(cell.label.y, cell.frame.y + cell.frame.height + sheet_label_gap) << "the label under its frame";
            EXPECT_LE(cell.frame.x + cell.frame.width + sheet_margin, std::max(layout.width, 3000));
        }
    }
    // The clocks share one line, side by side.
    for (const SheetCell& cell : layout.cells[0]) EXPECT_EQ(cell.frame.y, layout.cells[0][0].frame.y);
    EXPECT_EQ(layout.cells[0][0].frame.x, sheet_margin);
    EXPECT_EQ(layout.cells[0][1].frame.x, sheet_margin + 200 + sheet_cell_gap);
    // Two of the wide panels would pass 3,000 pixels: one to a line, each line below the last.
    for (std::size_t f = 0; f < 3; ++f) {
        EXPECT_EQ(layout.cells[1][f].frame.x, sheet_margin);
        if (f > 0)
            EXPECT_EQ(layout.cells[1][f].frame.y,
                      layout.cells[1][f - 1].label.y + layout.cells[1][f - 1].label.height + sheet_row_gap);
    }
    // 100 + 1200 + 1200 fit a line; the fourth wraps.
    EXPECT_EQ(layout.cells[2][2].frame.y, layout.cells[2][0].frame.y);
    EXPECT_GT(layout.cells[2][3].frame.y, layout.cells[2][2].frame.y);
    EXPECT_EQ(layout.cells[2][3].frame.x, sheet_margin);
    EXPECT_LE(layout.width, 3000);
    EXPECT_GT(layout.width, 2500);
    // Each row starts below the one before, with room between: its title, then its frames.
    for (std::size_t r = 0; r < rows.size(); ++r) {
        EXPECT_EQ(layout.titles[r].x, sheet_margin);
        EXPECT_LT(layout.titles[r].y + layout.titles[r].height, layout.cells[r][0].frame.y + 1);
        if (r == 0) continue;
        const SheetCell& last = layout.cells[r - 1].back();
        EXPECT_GE(layout.titles[r].y, last.label.y + last.label.height + 20) << "row " << r;
    }
}

TEST(ContactSheetLayout, ALabelWiderThanItsFrameWidensTheCellAndCentresTheFrame) {
    TextFace labels(default_label_font);
    const std::string label = "001-a-label-much-wider-than-ten-pixels";
    const SheetLayout layout = contact_sheet_layout({{"s", {{label, Image(10, 10, red)}}}}, labels);
    const SheetCell& cell = layout.cells[0][0];
    EXPECT_EQ(cell.label.width, labels.text_width(label, sheet_label_size));
    EXPECT_EQ(cell.frame.width, 10);
    EXPECT_EQ(cell.frame.x, sheet_margin + (cell.label.width - 10) / 2);
}

// The rows of the sheet where a box (and the few rows below it, where descenders reach)
// holds pixels other than the sheet's own colour.
std::pair<int, int> ink_rows(const Image& sheet, const TextBox& box) {
    int top = -1, bottom = -1;
    for (int y = box.y; y < std::min(box.y + box.height + 8, sheet.height()); ++y)
        for (int x = box.x; x < box.x + box.width; ++x)
            if (!(sheet.at(x, y) == sheet_colour)) {
                if (top < 0) top = y;
                bottom = y;
                break;
            }
    return {top, bottom};
}

TEST(ContactSheet, LabelsStandAtLeast14PixelsHighWithSpaceAboveTheNextRow) {
    TextFace labels(default_label_font);
    const std::vector<SheetRow> rows = {{"first", sheet_frames(2, 60, 30)}, {"SECOND", sheet_frames(1, 60, 30)}};
    const Image sheet = contact_sheet(rows, labels);
    const SheetLayout layout = contact_sheet_layout(rows, labels);
    ASSERT_EQ(sheet.width(), layout.width);
    ASSERT_EQ(sheet.height(), layout.height);
    // The frames keep their pixels, where the layout puts them.
    for (const SheetCell& cell : layout.cells[0]) {
        EXPECT_EQ(sheet.at(cell.frame.x, cell.frame.y), red);
        EXPECT_EQ(sheet.at(cell.frame.x + 59, cell.frame.y + 29), red);
        EXPECT_EQ(sheet.at(cell.frame.x + 60, cell.frame.y + 29), sheet_colour);
    }
    // "001-f": digits stand as high as the face's capitals.
    const auto [label_top, label_bottom] = ink_rows(sheet, layout.cells[0][0].label);
    ASSERT_GE(label_top, 0) << "no label drawn";
    EXPECT_GE(label_bottom - label_top + 1, 14);
    EXPECT_GT(label_top, layout.cells[0][0].frame.y + 30) << "the label touches its frame";
    const auto [title_top, title_bottom] = ink_rows(sheet, layout.titles[1]);
    ASSERT_GE(title_top, 0) << "no title drawn";
    EXPECT_GE(title_bottom - title_top + 1, 14);
    EXPECT_GE(title_top - label_bottom - 1, 20) << "too little space above the next row";
    EXPECT_THROW(contact_sheet({}, labels), ImageError);
}

TEST(FrameNames, CarryTheirOrderInThreeDigitsOrAsManyAsTheCountNeeds) {
    EXPECT_EQ(bench::numbered_frame_name(0, 5, "after-a-second"), "001-after-a-second");
    EXPECT_EQ(bench::numbered_frame_name(41, 120, "x"), "042-x");
    EXPECT_EQ(bench::numbered_frame_name(0, 1000, "x"), "0001-x");
    EXPECT_EQ(bench::numbered_frame_name(999, 1000, "disconnected+needle-3120"), "1000-disconnected+needle-3120");
}

TEST(PictureDifference, CountsAndBoundsTheDifferingPixels) {
    Image expected(8, 6, white);
    Image actual = expected;
    EXPECT_EQ(compare_pictures(expected, actual).pixels, 0u);
    EXPECT_FALSE(compare_pictures(expected, actual).where);
    EXPECT_EQ(compare_pictures(expected, actual).describe(), "the pictures are the same");
    actual.set(5, 2, red);
    PictureDifference one = compare_pictures(expected, actual);
    EXPECT_TRUE(one.same_size);
    EXPECT_EQ(one.pixels, 1u);
    EXPECT_EQ(one.where, (PixelBox{5, 2, 5, 2}));
    EXPECT_EQ(one.describe(), "1 pixel differs, within (5, 2) to (5, 2)");
    actual.set(1, 4, black);
    EXPECT_EQ(compare_pictures(expected, actual).describe(), "2 pixels differ, within (1, 2) to (5, 4)");

    // Of another size: what lies in one picture only differs, whatever its colour.
    const PictureDifference wider = compare_pictures(Image(8, 6, white), Image(10, 6, white));
    EXPECT_FALSE(wider.same_size);
    EXPECT_EQ(wider.pixels, 12u);
    EXPECT_EQ(wider.where, (PixelBox{8, 0, 9, 5}));
}

TEST(PictureDifference, ThePictureMarksEachDifferingPixelOverAFadedCopy) {
    Image expected(8, 6, Rgb{0, 0, 200});
    Image actual = expected;
    actual.set(3, 4, red);
    const Image diff = difference_picture(expected, actual);
    ASSERT_EQ(diff.width(), 8);
    ASSERT_EQ(diff.height(), 6);
    int marked = 0;
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) {
            if (diff.at(x, y) == difference_colour) {
                ++marked;
                continue;
            }
            // Faded: lighter than the picture, still bluish.
            EXPECT_GT(diff.at(x, y).red, 100);
            EXPECT_GT(diff.at(x, y).blue, diff.at(x, y).red);
        }
    EXPECT_EQ(marked, 1);
    EXPECT_EQ(diff.at(3, 4), difference_colour);
    const Image grown = difference_picture(Image(4, 4, white), Image(6, 3, white));
    EXPECT_EQ(grown.width(), 6);
    EXPECT_EQ(grown.height(), 4);
    EXPECT_EQ(grown.at(5, 0), difference_colour);
    EXPECT_EQ(grown.at(0, 3), difference_colour);
    EXPECT_EQ(grown.at(5, 3), white) << "in neither picture";
}

// PNG files made byte by byte, so that each can be what libpng itself would not write.
void append_be32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void append_chunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    append_be32(out, static_cast<uint32_t>(data.size()));
    std::vector<uint8_t> typed(type, type + 4);
    typed.insert(typed.end(), data.begin(), data.end());
    out.insert(out.end(), typed.begin(), typed.end());
    append_be32(out, static_cast<uint32_t>(crc32(0, typed.data(), static_cast<uInt>(typed.size()))));
}

// Rows of raw samples, each behind filter byte 0.
std::vector<uint8_t> png_file(uint32_t w, uint32_t h, uint8_t depth, uint8_t colour_type,
                              const std::vector<std::vector<uint8_t>>& rows) {
    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    append_be32(header, w);
    append_be32(header, h);
    header.insert(header.end(), {depth, colour_type, 0, 0, 0});
    append_chunk(out, "IHDR", header);
    std::vector<uint8_t> raw;
    for (const auto& row : rows) {
        raw.push_back(0);
        raw.insert(raw.end(), row.begin(), row.end());
    }
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    std::vector<uint8_t> packed(size);
    EXPECT_EQ(compress(packed.data(), &size, raw.data(), static_cast<uLong>(raw.size())), Z_OK);
    packed.resize(size);
    append_chunk(out, "IDAT", packed);
    append_chunk(out, "IEND", {});
    return out;
}

std::string refusal(const std::vector<uint8_t>& bytes) {
    try {
        decode_png(bytes, "ref.png");
    } catch (const ImageError& error) {
        return error.what();
    }
    return "accepted";
}

TEST(PngReader, ReadsWhatTheBenchWritesAndWhatEditorsSave) {
    Image image(3, 2, white);
    image.set(1, 0, red);
    image.set(2, 1, Rgb{1, 2, 3});
    const Image back = decode_png(encode_png(image), "ref.png");
    ASSERT_EQ(back.width(), 3);
    ASSERT_EQ(back.height(), 2);
    EXPECT_EQ(back.pixels(), image.pixels());

    const Image grey = decode_png(png_file(2, 1, 8, 0, {{7, 200}}), "grey.png");
    EXPECT_EQ(grey.at(0, 0), (Rgb{7, 7, 7}));
    EXPECT_EQ(grey.at(1, 0), (Rgb{200, 200, 200}));
    const Image opaque = decode_png(png_file(1, 1, 8, 6, {{10, 20, 30, 255}}), "rgba.png");
    EXPECT_EQ(opaque.at(0, 0), (Rgb{10, 20, 30}));
}

TEST(PngReader, RefusesWhatIsNoOpaque8BitPictureWithinBounds) {
    EXPECT_EQ(refusal({'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0}),
              "ref.png: not a PNG file (it does not start with the PNG signature)");
    EXPECT_EQ(refusal({}), "ref.png: not a PNG file (it does not start with the PNG signature)");
    EXPECT_EQ(refusal(png_file(1, 1, 16, 2, {{0, 1, 0, 2, 0, 3}})), "ref.png: expected 8 bits per channel, found 16 (RGB)");
    EXPECT_EQ(refusal(png_file(20000, 1, 8, 2, {})),
              "ref.png: a picture of 20000 by 1 pixels is larger than the bench reads (at most 16384 a side and "
              "16777216 pixels)");
    EXPECT_NE(refusal(png_file(4096, 4097, 8, 2, {})).find("larger than the bench reads"), std::string::npos);
    EXPECT_EQ(refusal(png_file(2, 1, 8, 6, {{1, 2, 3, 255, 4, 5, 6, 128}})),
              "ref.png: expected an opaque picture, found 1 pixels that are not fully opaque");

    std::vector<uint8_t> whole = encode_png(Image(40, 30, red));
    std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<long>(whole.size() / 2));
    EXPECT_EQ(refusal(cut).rfind("ref.png: a damaged PNG: ", 0), 0u) << refusal(cut);
    std::vector<uint8_t> bad_crc = whole;
    bad_crc[8 + 8 + 13] ^= 0xFF;  // the IHDR chunk's CRC
    EXPECT_EQ(refusal(bad_crc).rfind("ref.png: a damaged PNG: ", 0), 0u) << refusal(bad_crc);
    // Rows that do not fill the picture: the pixel data ends early.
    EXPECT_EQ(refusal(png_file(4, 4, 8, 2, {{1, 2, 3}})).rfind("ref.png: a damaged PNG: ", 0), 0u);
}

TEST(PngReader, ChecksTheFileBeforeReadingIt) {
    const fs::path folder = kestrel::testing::scratch("png-reader");
    fs::create_directories(folder / "a-folder.png");
    EXPECT_THROW(read_png(folder / "a-folder.png"), ImageError);
    EXPECT_THROW(read_png(folder / "missing.png"), ImageError);
    const fs::path huge = folder / "huge.png";
    std::ofstream(huge) << "PNG";
    fs::resize_file(huge, max_png_bytes + 1);
    try {
        read_png(huge);
        FAIL() << "a file beyond the bound was read";
    } catch (const ImageError& error) {
        EXPECT_NE(std::string(error.what()).find("is larger than the 33554432 a picture may be"), std::string::npos)
            << error.what();
    }
    write_png(Image(2, 2, red), folder / "good.png");
    EXPECT_EQ(read_png(folder / "good.png").at(1, 1), red);
}

}  // namespace
