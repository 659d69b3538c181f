// Text drawn with FreeType: the seven-segment face that stands in for the host's read-out
// font, with a fallback face for the characters it lacks, and a plain face for the labels
// of a contact sheet.
#pragma once

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "png.h"

namespace kestrel::picture {

class FontError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A face and the faces that draw what it lacks, tried in order.
struct FontStack {
    std::filesystem::path primary;
    std::vector<std::filesystem::path> fallbacks;
};

// Debian's fonts-dseg and fonts-dejavu-core. The seven-segment face has no '+' (nor '/',
// '=', '?' and the like); the fourteen-segment face of the same family draws them in the
// same segments, advances and baseline.
inline const FontStack default_readout_font{"/usr/share/fonts/truetype/dseg/DSEG7Classic-Bold.ttf",
                                            {"/usr/share/fonts/truetype/dseg/DSEG14Classic-Bold.ttf"}};
inline const std::filesystem::path default_label_font = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

// The most characters a read-out may claim (the host refuses more).
inline constexpr unsigned max_readout_characters = 1024;

struct TextBox {
    int x = 0;  // canvas pixels, top-left
    int y = 0;
    int width = 0;
    int height = 0;
};

class TextFace {
public:
    // Throws FontError naming the file (and the package that ships it) when it cannot be opened.
    explicit TextFace(const std::filesystem::path& font_file);
    explicit TextFace(const FontStack& fonts);
    ~TextFace();
    TextFace(const TextFace&) = delete;
    TextFace& operator=(const TextFace&) = delete;

    // The largest pixel size at which char_count digits side by side fit the box's width
    // and a digit's height fits the box's height: a read-out keeps one size whatever it shows.
    int fitting_size(int box_width, int box_height, unsigned char_count);

    // Width of the text (sum of advances) and height of a digit, in pixels at this size.
    int text_width(std::string_view text, int pixel_size);
    int digit_height(int pixel_size);
    // The first face's line height, ascent and descent, at this size.
    int line_height(int pixel_size);

    // Draws the text centred in the box, horizontally by its advance width and vertically
    // by the height of a digit, blended in colour. Single-byte text; each byte comes from
    // the first face that has it. A byte that no face has is left blank, a digit wide
    // (never drawn as a missing-glyph box); those bytes are returned, each once.
    std::string draw_centred(Image& canvas, const TextBox& box, std::string_view text, Rgb colour, int pixel_size);

    // The bytes of the text that no face has, each once, in the order they come.
    std::string undrawable(std::string_view text);

private:
    struct Library;
    // The face that draws the byte: an index into the stack, or -1 for none.
    int face_for(unsigned char byte);
    void use_size(std::size_t face, int pixel_size);
    // The advance of a byte no face draws: a digit's, so that columns of a read-out stay put.
    int blank_advance(int pixel_size);

    std::unique_ptr<Library> library_;
    std::vector<std::filesystem::path> files_;
};

}  // namespace kestrel::picture
