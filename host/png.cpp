// The PNG encoder: signature, IHDR, one zlib-compressed IDAT of filter-0 rows, IEND,
// each chunk with its CRC.
#include "png.h"

#include <zlib.h>

#include <fstream>

namespace kestrel::picture {
namespace {

constexpr int max_side = 1 << 15;

void put32(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value >> 24));
    out.push_back(static_cast<uint8_t>(value >> 16));
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

void put_chunk(std::vector<uint8_t>& out, const char type[4], const std::vector<uint8_t>& data) {
    put32(out, static_cast<uint32_t>(data.size()));
    const std::size_t type_at = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    const uLong crc = crc32(0L, out.data() + type_at, static_cast<uInt>(4 + data.size()));
    put32(out, static_cast<uint32_t>(crc));
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
    std::vector<uint8_t> raw;
    raw.reserve(static_cast<std::size_t>(image.height()) * (1 + 3 * image.width()));
    for (int y = 0; y < image.height(); ++y) {
        raw.push_back(0);  // filter type: none
        for (int x = 0; x < image.width(); ++x) {
            const Rgb pixel = image.at(x, y);
            raw.push_back(pixel.red);
            raw.push_back(pixel.green);
            raw.push_back(pixel.blue);
        }
    }
    uLongf compressed_size = compressBound(static_cast<uLong>(raw.size()));
    std::vector<uint8_t> compressed(compressed_size);
    if (compress2(compressed.data(), &compressed_size, raw.data(), static_cast<uLong>(raw.size()), 6) != Z_OK)
        throw ImageError("zlib could not compress the image");
    compressed.resize(compressed_size);

    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    put32(header, static_cast<uint32_t>(image.width()));
    put32(header, static_cast<uint32_t>(image.height()));
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, filter 0, no interlace
    put_chunk(png, "IHDR", header);
    put_chunk(png, "IDAT", compressed);
    put_chunk(png, "IEND", {});
    return png;
}

void write_png(const Image& image, const std::filesystem::path& path) {
    const std::vector<uint8_t> bytes = encode_png(image);
    std::ofstream out(path, std::ios::binary);
    if (!out) throw ImageError(path.string() + ": cannot create the picture file");
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) throw ImageError(path.string() + ": cannot write the picture file");
}

}  // namespace kestrel::picture
