// PNG through libpng: output as 8-bit RGB rows, unfiltered (gauge frames are small and
// flat, and unfiltered rows keep the encoder fast), written into memory; input from
// memory, every header field and the file's length checked before pixels are read.
#include "png.h"

#include <libpng16/png.h>  // not <png.h>: this folder has a png.h of its own

#include <csetjmp>
#include <cstring>
#include <fstream>
#include <cstdio>
#include <system_error>

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

// Reading: libpng reports faults through this function, which keeps the message in a
// fixed buffer (nothing to destroy across the longjmp) and jumps back.
struct ReadState {
    const std::vector<uint8_t>* bytes = nullptr;
    std::size_t at = 0;
    char fault[200] = {};
};

[[noreturn]] void reading_fault(png_structp png, png_const_charp message) {
    auto* state = static_cast<ReadState*>(png_get_error_ptr(png));
    std::snprintf(state->fault, sizeof state->fault, "%s", message);
    png_longjmp(png, 1);
}

void no_warning(png_structp, png_const_charp) {}

void read_bytes(png_structp png, png_bytep out, png_size_t length) {
    auto* state = static_cast<ReadState*>(png_get_io_ptr(png));
    if (length > state->bytes->size() - state->at) png_error(png, "the file ends before the picture does");
    std::memcpy(out, state->bytes->data() + state->at, length);
    state->at += length;
}

struct PngHeader {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bit_depth = 0;
    int colour_type = 0;
};

bool read_header(png_structp png, png_infop info, PngHeader& header) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_info(png, info);
    int interlace = 0, compression = 0, filter = 0;
    png_get_IHDR(png, info, &header.width, &header.height, &header.bit_depth, &header.colour_type, &interlace,
                 &compression, &filter);
    return true;
}

// Every format accepted becomes 8-bit RGB, with alpha where the file has any.
bool read_pixels(png_structp png, png_infop info, const PngHeader& header, std::vector<uint8_t>& pixels,
                 std::vector<png_bytep>& rows, std::size_t& channels) {
    if (setjmp(png_jmpbuf(png))) return false;
    if (header.colour_type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if ((header.colour_type & PNG_COLOR_MASK_COLOR) == 0) {
        if (header.bit_depth < 8) png_set_expand_gray_1_2_4_to_8(png);
        png_set_gray_to_rgb(png);
    }
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    channels = png_get_channels(png, info);
    if ((channels != 3 && channels != 4) || png_get_rowbytes(png, info) != channels * header.width)
        png_error(png, "the pixels do not come out as 8-bit RGB");
    pixels.resize(channels * header.width * header.height);
    for (png_uint_32 y = 0; y < header.height; ++y) rows[y] = pixels.data() + channels * header.width * y;
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    return true;
}

const char* colour_type_name(int colour_type) {
    switch (colour_type) {
        case PNG_COLOR_TYPE_GRAY: return "grey";
        case PNG_COLOR_TYPE_GRAY_ALPHA: return "grey with alpha";
        case PNG_COLOR_TYPE_PALETTE: return "palette";
        case PNG_COLOR_TYPE_RGB: return "RGB";
        case PNG_COLOR_TYPE_RGB_ALPHA: return "RGB with alpha";
    }
    return "unknown colour type";
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

namespace kestrel::picture {

Image decode_png(const std::vector<uint8_t>& bytes, const std::string& what) {
    constexpr std::size_t signature_bytes = 8;
    if (bytes.size() < signature_bytes || png_sig_cmp(bytes.data(), 0, signature_bytes) != 0)
        throw ImageError(what + ": not a PNG file (it does not start with the PNG signature)");
    if (bytes.size() > max_png_bytes)
        throw ImageError(what + ": a PNG of " + std::to_string(bytes.size()) + " bytes is larger than the " +
                         std::to_string(max_png_bytes) + " a picture may be");
    ReadState state;
    state.bytes = &bytes;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, reading_fault, no_warning);
    if (png == nullptr) throw ImageError(what + ": libpng could not start reading");
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        throw ImageError(what + ": libpng could not start reading");
    }
    // Text and profile chunks are not needed; these bounds stop one that inflates to gigabytes.
    png_set_chunk_malloc_max(png, 1u << 20);
    png_set_chunk_cache_max(png, 64);
    png_set_read_fn(png, &state, read_bytes);

    struct Destroy {
        png_structp* png;
        png_infop* info;
        ~Destroy() { png_destroy_read_struct(png, info, nullptr); }
    } destroy{&png, &info};
    auto damaged = [&] { return ImageError(what + ": a damaged PNG: " + state.fault); };

    PngHeader header;
    if (!read_header(png, info, header)) throw damaged();
    if (header.width > static_cast<png_uint_32>(max_png_side) || header.height > static_cast<png_uint_32>(max_png_side) ||
        static_cast<uint64_t>(header.width) * header.height > max_png_pixels)
        throw ImageError(what + ": a picture of " + std::to_string(header.width) + " by " + std::to_string(header.height) +
                         " pixels is larger than the bench reads (at most " + std::to_string(max_png_side) +
                         " a side and " + std::to_string(max_png_pixels) + " pixels)");
    if (header.bit_depth > 8)
        throw ImageError(what + ": expected 8 bits per channel, found " + std::to_string(header.bit_depth) + " (" +
                         colour_type_name(header.colour_type) + ")");
    std::vector<uint8_t> pixels;
    std::vector<png_bytep> rows(header.height);
    std::size_t channels = 0;
    if (!read_pixels(png, info, header, pixels, rows, channels)) throw damaged();

    Image image(static_cast<int>(header.width), static_cast<int>(header.height));
    std::size_t translucent = 0;
    for (png_uint_32 y = 0; y < header.height; ++y) {
        for (png_uint_32 x = 0; x < header.width; ++x) {
            const uint8_t* pixel = rows[y] + channels * x;
            if (channels == 4 && pixel[3] != 255) ++translucent;
            image.set(static_cast<int>(x), static_cast<int>(y), {pixel[0], pixel[1], pixel[2]});
        }
    }
    if (translucent > 0)
        throw ImageError(what + ": expected an opaque picture, found " + std::to_string(translucent) +
                         " pixels that are not fully opaque");
    return image;
}

Image read_png(const std::filesystem::path& path) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error) throw ImageError(path.string() + ": cannot read: " + error.message());
    if (size > max_png_bytes)
        throw ImageError(path.string() + ": a PNG of " + std::to_string(size) + " bytes is larger than the " +
                         std::to_string(max_png_bytes) + " a picture may be");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ImageError(path.string() + ": cannot read: the file cannot be opened");
    std::vector<uint8_t> bytes(static_cast<std::size_t>(size));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (static_cast<std::uintmax_t>(in.gcount()) != size) throw ImageError(path.string() + ": cannot read: the file changed while it was read");
    return decode_png(bytes, path.string());
}

}  // namespace kestrel::picture
