// Pixel comparison over the area both pictures cover together: outside one of them, a
// pixel of the other always differs, so a change of size is never "within tolerance" by
// accident of where the pictures overlap.
#include "picture_diff.h"

#include <algorithm>

namespace kestrel::picture {
namespace {

bool differs_at(const Image& expected, const Image& actual, int x, int y) {
    const bool in_expected = expected.contains(x, y);
    const bool in_actual = actual.contains(x, y);
    if (in_expected != in_actual) return true;
    return in_expected && !(expected.at(x, y) == actual.at(x, y));
}

}  // namespace

std::string PictureDifference::describe() const {
    if (!where) return "the pictures are the same";
    return std::to_string(pixels) + (pixels == 1 ? " pixel differs" : " pixels differ") + ", within (" +
           std::to_string(where->left) + ", " + std::to_string(where->top) + ") to (" + std::to_string(where->right) +
           ", " + std::to_string(where->bottom) + ")";
}

PictureDifference compare_pictures(const Image& expected, const Image& actual) {
    PictureDifference difference;
    difference.same_size = expected.width() == actual.width() && expected.height() == actual.height();
    const int width = std::max(expected.width(), actual.width());
    const int height = std::max(expected.height(), actual.height());
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (!differs_at(expected, actual, x, y)) continue;
            ++difference.pixels;
            if (!difference.where) {
                difference.where = PixelBox{x, y, x, y};
                continue;
            }
            PixelBox& box = *difference.where;
            box = {std::min(box.left, x), std::min(box.top, y), std::max(box.right, x), std::max(box.bottom, y)};
        }
    }
    return difference;
}

Image difference_picture(const Image& expected, const Image& actual) {
    const int width = std::max(expected.width(), actual.width());
    const int height = std::max(expected.height(), actual.height());
    constexpr Rgb white{255, 255, 255};
    Image picture(width, height, white);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (differs_at(expected, actual, x, y)) {
                picture.set(x, y, difference_colour);
                continue;
            }
            if (!actual.contains(x, y)) continue;  // in neither picture: left white
            picture.set(x, y, actual.at(x, y));
            picture.blend(x, y, white, difference_fade);
        }
    }
    return picture;
}

}  // namespace kestrel::picture
