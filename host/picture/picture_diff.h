// Comparing a gauge picture with its reference, pixel by pixel: how many pixels differ and
// where, and a picture of the difference that a person can read at a glance.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "png.h"

namespace kestrel::picture {

// A rectangle of pixels, both corners inside it.
struct PixelBox {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    bool operator==(const PixelBox&) const = default;
};

struct PictureDifference {
    bool same_size = true;
    uint64_t pixels = 0;            // over both pictures laid top-left on each other
    std::optional<PixelBox> where;  // the differing pixels' bounding box; none when none differ

    // "37 pixels differ, within (12, 3) to (40, 18)", or "the pictures are the same".
    std::string describe() const;
};

// A pixel that lies in one picture but not in the other (pictures of different sizes)
// counts as differing.
PictureDifference compare_pictures(const Image& expected, const Image& actual);

// The colour that marks a differing pixel in a difference picture, and how far the rest
// is faded towards white (0 keeps it, 255 makes it white).
inline constexpr Rgb difference_colour{255, 0, 255};
inline constexpr uint8_t difference_fade = 180;

// The actual picture faded, with every differing pixel in difference_colour; as large as
// both pictures together.
Image difference_picture(const Image& expected, const Image& actual);

}  // namespace kestrel::picture
