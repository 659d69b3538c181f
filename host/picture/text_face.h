// Text drawn with FreeType: the seven-segment face that stands in for the host's read-out
// font, and a plain face for the labels of a contact sheet.
#pragma once

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string_view>

#include "png.h"

namespace kestrel::picture {

class FontError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Debian's fonts-dseg and fonts-dejavu-core.
inline const std::filesystem::path default_readout_font = "/usr/share/fonts/truetype/dseg/DSEG7Classic-Bold.ttf";
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
    ~TextFace();
    TextFace(const TextFace&) = delete;
    TextFace& operator=(const TextFace&) = delete;

    // The largest pixel size at which char_count digits side by side fit the box's width
    // and a digit's height fits the box's height: a read-out keeps one size whatever it shows.
    int fitting_size(int box_width, int box_height, unsigned char_count);

    // Width of the text (sum of advances) and height of a digit, in pixels at this size.
    int text_width(std::string_view text, int pixel_size);
    int digit_height(int pixel_size);

    // Draws the text centred in the box, horizontally by its advance width and vertically
    // by the height of a digit, blended in colour. Single-byte text; bytes the face lacks
    // are drawn as its missing-glyph shape.
    void draw_centred(Image& canvas, const TextBox& box, std::string_view text, Rgb colour, int pixel_size);

private:
    struct Library;
    void use_size(int pixel_size);

    std::unique_ptr<Library> library_;
    std::filesystem::path file_;
};

}  // namespace kestrel::picture
