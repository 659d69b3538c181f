// PNG output through libpng: 8-bit RGB rows, unfiltered (gauge frames are small and
// flat, and unfiltered rows keep the encoder fast), written into memory.
#include "png.h"

#include <libpng16/png.h>  // not <png.h>: this folder has a png.h of its own

#include <csetjmp>
#include <fstream>

namespace kestrel::picture {
namespace {

constexpr int max_side = 1 << 15;

void append_bytes(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void no_flush(png_structp) {}

// libpng reports faults by longjmp: nothing with a destructor is created after setjmp.
bool write_rows(png_structp png, png_infop info, const Image& image, std::vector<uint8_t>& row) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width()), static_cast<png_uint_32>(image.height()), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_compression_level(png, 6);
    png_write_info(png, info);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const Rgb pixel = image.at(x, y);
            row[3 * static_cast<std::size_t>(x)] = pixel.red;
            row[3 * static_cast<std::size_t>(x) + 1] = pixel.green;
            row[3 * static_cast<std::size_t>(x) + 2] = pixel.blue;
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    return true;
}

}  // namespace

Image::Image(int width, int height, Rgb fill) : width_(width), height_(height) {
    if (width <= 0 || height <= 0 || width > max_side || height > max_side)
        throw ImageError("image size " + std::to_string(width) + " by " + std::to_string(height) + " is out of range");
    pixels_.assign(static_cast<std::size_t>(width) * height, fill);
}

void Image::blend(int x, int y, Rgb colour, uint8_t coverage) {
    if (!contains(x, y) || coverage == 0) return;
    Rgb& pixel = pixels_[index(x, y)];
    auto mix = [coverage](uint8_t under, uint8_t over) {
        return static_cast<uint8_t>((over * coverage + under * (255 - coverage) + 127) / 255);
    };
    pixel = {mix(pixel.red, colour.red), mix(pixel.green, colour.green), mix(pixel.blue, colour.blue)};
}

void Image::paste(const Image& other, int x, int y) {
    for (int row = 0; row < other.height(); ++row)
        for (int column = 0; column < other.width(); ++column) set(x + column, y + row, other.at(column, row));
}

std::vector<uint8_t> encode_png(const Image& image) {
    if (image.width() <= 0 || image.height() <= 0) throw ImageError("cannot encode an empty image");
    std::vector<uint8_t> bytes;
    std::vector<uint8_t> row(3 * static_cast<std::size_t>(image.width()));
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr) throw ImageError("libpng could not start an image");
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        throw ImageError("libpng could not start an image");
    }
    png_set_write_fn(png, &bytes, append_bytes, no_flush);
    const bool written = write_rows(png, info, image, row);
    png_destroy_write_struct(&png, &info);
    if (!written) throw ImageError("libpng could not encode the image");
    return bytes;
}

void write_png(const Image& image, const std::filesystem::path& path) {
    const std::vector<uint8_t> bytes = encode_png(image);
    std::ofstream out(path, std::ios::binary);
    if (!out) throw ImageError(path.string() + ": cannot create the picture file");
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) throw ImageError(path.string() + ": cannot write the picture file");
}

}  // namespace kestrel::picture
