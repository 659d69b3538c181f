// FreeType behind TextFace: glyphs rendered as 8-bit coverage and blended onto the canvas,
// each from the first face of the stack that maps its character.
#include "text_face.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <array>

namespace kestrel::picture {

struct TextFace::Library {
    FT_Library library = nullptr;
    std::vector<FT_Face> faces;
    std::vector<int> sizes;  // the pixel size each face is set to, 0 before the first
    // Per byte: the face that draws it, -1 for none, -2 not looked up yet.
    std::array<int, 256> face_of_byte{};

    Library() { face_of_byte.fill(-2); }
    ~Library() {
        for (FT_Face face : faces) FT_Done_Face(face);
        if (library != nullptr) FT_Done_FreeType(library);
    }
};

namespace {

// Text bytes are Windows-1252; the faces used map the printable ASCII range, which is
// all that read-outs and labels hold.
FT_ULong code_point(unsigned char byte) { return byte; }

constexpr unsigned char digit = '8';

}  // namespace

TextFace::TextFace(const std::filesystem::path& font_file) : TextFace(FontStack{font_file, {}}) {}

TextFace::TextFace(const FontStack& fonts) : library_(std::make_unique<Library>()) {
    if (FT_Init_FreeType(&library_->library) != 0) throw FontError("FreeType could not start");
    files_.push_back(fonts.primary);
    files_.insert(files_.end(), fonts.fallbacks.begin(), fonts.fallbacks.end());
    for (const std::filesystem::path& file : files_) {
        FT_Face face = nullptr;
        if (FT_New_Face(library_->library, file.string().c_str(), 0, &face) != 0)
            throw FontError(file.string() +
                            ": cannot open the font (the read-out faces come with Debian's fonts-dseg, the label face "
                            "with fonts-dejavu-core)");
        library_->faces.push_back(face);
        library_->sizes.push_back(0);
    }
}

TextFace::~TextFace() = default;

void TextFace::use_size(std::size_t face, int pixel_size) {
    if (library_->sizes[face] == pixel_size) return;
    if (FT_Set_Pixel_Sizes(library_->faces[face], 0, static_cast<FT_UInt>(pixel_size)) != 0)
        throw FontError(files_[face].string() + ": cannot set the size " + std::to_string(pixel_size));
    library_->sizes[face] = pixel_size;
}

int TextFace::face_for(unsigned char byte) {
    int& found = library_->face_of_byte[byte];
    if (found != -2) return found;
    found = -1;
    for (std::size_t i = 0; i < library_->faces.size(); ++i) {
        if (FT_Get_Char_Index(library_->faces[i], code_point(byte)) != 0) {
            found = static_cast<int>(i);
            break;
        }
    }
    return found;
}

int TextFace::blank_advance(int pixel_size) {
    use_size(0, pixel_size);
    if (FT_Load_Char(library_->faces[0], digit, FT_LOAD_DEFAULT) != 0) return pixel_size / 2;
    return static_cast<int>(library_->faces[0]->glyph->advance.x >> 6);
}

std::string TextFace::undrawable(std::string_view text) {
    std::string missing;
    for (unsigned char c : text)
        if (face_for(c) < 0 && missing.find(static_cast<char>(c)) == std::string::npos) missing += static_cast<char>(c);
    return missing;
}

int TextFace::text_width(std::string_view text, int pixel_size) {
    int width = 0;
    for (unsigned char c : text) {
        const int face = face_for(c);
        if (face < 0) {
            width += blank_advance(pixel_size);
            continue;
        }
        use_size(static_cast<std::size_t>(face), pixel_size);
        if (FT_Load_Char(library_->faces[face], code_point(c), FT_LOAD_DEFAULT) != 0) continue;
        width += static_cast<int>(library_->faces[face]->glyph->advance.x >> 6);
    }
    return width;
}

int TextFace::digit_height(int pixel_size) {
    use_size(0, pixel_size);
    if (FT_Load_Char(library_->faces[0], digit, FT_LOAD_DEFAULT) != 0) return pixel_size;
    return static_cast<int>((library_->faces[0]->glyph->metrics.height + 63) >> 6);
}

int TextFace::line_height(int pixel_size) {
    use_size(0, pixel_size);
    const FT_Size_Metrics& metrics = library_->faces[0]->size->metrics;
    return static_cast<int>((metrics.ascender - metrics.descender + 63) >> 6);
}

int TextFace::fitting_size(int box_width, int box_height, unsigned char_count) {
    // No read-out holds more characters than the host serves; more would only cost time.
    if (char_count > max_readout_characters)
        throw FontError("a read-out of " + std::to_string(char_count) + " characters is more than " +
                        std::to_string(max_readout_characters));
    const std::string digits(std::max(char_count, 1u), static_cast<char>(digit));
    int best = 4;
    for (int size = 4; size <= 512; ++size) {
        if (text_width(digits, size) > box_width || digit_height(size) > box_height) break;
        best = size;
    }
    return best;
}

std::string TextFace::draw_centred(Image& canvas, const TextBox& box, std::string_view text, Rgb colour, int pixel_size) {
    const int width = text_width(text, pixel_size);
    const int height = digit_height(pixel_size);
    int pen_x = box.x + (box.width - width) / 2;
    const int baseline = box.y + (box.height + height) / 2;
    for (unsigned char c : text) {
        const int index = face_for(c);
        if (index < 0) {
            pen_x += blank_advance(pixel_size);
            continue;
        }
        use_size(static_cast<std::size_t>(index), pixel_size);
        FT_Face face = library_->faces[index];
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
    return undrawable(text);
}

}  // namespace kestrel::picture
