// FreeType behind TextFace: glyphs rendered as 8-bit coverage and blended onto the canvas.
#include "text_face.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>

namespace kestrel::picture {

struct TextFace::Library {
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    int size = 0;

    ~Library() {
        if (face != nullptr) FT_Done_Face(face);
        if (library != nullptr) FT_Done_FreeType(library);
    }
};

namespace {

// Text bytes are Windows-1252; the faces used map the printable ASCII range, which is
// all that read-outs and labels hold.
FT_ULong code_point(unsigned char byte) { return byte; }

}  // namespace

void TextFace::use_size(int pixel_size) {
    if (library_->size == pixel_size) return;
    if (FT_Set_Pixel_Sizes(library_->face, 0, static_cast<FT_UInt>(pixel_size)) != 0)
        throw FontError(file_.string() + ": cannot set the size " + std::to_string(pixel_size));
    library_->size = pixel_size;
}

TextFace::TextFace(const std::filesystem::path& font_file) : library_(std::make_unique<Library>()), file_(font_file) {
    if (FT_Init_FreeType(&library_->library) != 0) throw FontError("FreeType could not start");
    if (FT_New_Face(library_->library, font_file.string().c_str(), 0, &library_->face) != 0)
        throw FontError(font_file.string() +
                        ": cannot open the font (the read-out face comes with Debian's fonts-dseg, the label face "
                        "with fonts-dejavu-core)");
}

TextFace::~TextFace() = default;

int TextFace::text_width(std::string_view text, int pixel_size) {
    use_size(pixel_size);
    int width = 0;
    for (unsigned char c : text) {
        if (FT_Load_Char(library_->face, code_point(c), FT_LOAD_DEFAULT) != 0) continue;
        width += static_cast<int>(library_->face->glyph->advance.x >> 6);
    }
    return width;
}

int TextFace::digit_height(int pixel_size) {
    use_size(pixel_size);
    if (FT_Load_Char(library_->face, '8', FT_LOAD_DEFAULT) != 0) return pixel_size;
    return static_cast<int>((library_->face->glyph->metrics.height + 63) >> 6);
}

int TextFace::fitting_size(int box_width, int box_height, unsigned char_count) {
    // No read-out holds more characters than the host serves; more would only cost time.
    if (char_count > max_readout_characters)
        throw FontError("a read-out of " + std::to_string(char_count) + " characters is more than " +
                        std::to_string(max_readout_characters));
    const std::string digits(std::max(char_count, 1u), '8');
    int best = 4;
    for (int size = 4; size <= 512; ++size) {
        if (text_width(digits, size) > box_width || digit_height(size) > box_height) break;
        best = size;
    }
    return best;
}

void TextFace::draw_centred(Image& canvas, const TextBox& box, std::string_view text, Rgb colour, int pixel_size) {
    const int width = text_width(text, pixel_size);
    const int height = digit_height(pixel_size);
    int pen_x = box.x + (box.width - width) / 2;
    const int baseline = box.y + (box.height + height) / 2;
    FT_Face face = library_->face;
    for (unsigned char c : text) {
        if (FT_Load_Char(face, code_point(c), FT_LOAD_RENDER) != 0) continue;
        const FT_GlyphSlot glyph = face->glyph;
        const FT_Bitmap& bitmap = glyph->bitmap;
        for (unsigned row = 0; row < bitmap.rows; ++row) {
            for (unsigned column = 0; column < bitmap.width; ++column) {
                const uint8_t coverage = bitmap.buffer[row * static_cast<unsigned>(bitmap.pitch) + column];
                canvas.blend(pen_x + glyph->bitmap_left + static_cast<int>(column),
                             baseline - glyph->bitmap_top + static_cast<int>(row), colour, coverage);
            }
        }
        pen_x += static_cast<int>(glyph->advance.x >> 6);
    }
}

}  // namespace kestrel::picture
