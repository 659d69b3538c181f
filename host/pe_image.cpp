// The PE32 reader: every offset is checked against the file before it is read, so a
// truncated or foreign file gives an error that names it instead of a crash.
#include "pe_image.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

namespace kestrel::pe {
namespace {

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

constexpr uint32_t rt_bitmap = 2;
constexpr int max_resource_entries = 4096;

}  // namespace

void PeImage::fail(const std::string& what) const {
    throw PeError(path_.string() + ": " + what);
}

PeImage PeImage::read(const std::filesystem::path& path) {
    PeImage image;
    image.path_ = path;
    std::ifstream in(path, std::ios::binary);
    if (!in) image.fail("cannot open the file");
    image.file_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    const auto& f = image.file_;
    auto need = [&](std::size_t offset, std::size_t size, const char* what) {
        if (offset > f.size() || size > f.size() - offset) image.fail(std::string("truncated ") + what);
    };
    need(0, 64, "DOS header");
    if (f[0] != 'M' || f[1] != 'Z') image.fail("not a Windows module (no MZ header)");
    const uint32_t pe = le32(&f[0x3C]);
    need(pe, 24, "PE header");
    if (std::memcmp(&f[pe], "PE\0\0", 4) != 0) image.fail("not a Windows module (no PE signature)");
    image.machine_ = le16(&f[pe + 4]);
    const uint16_t section_count = le16(&f[pe + 6]);
    image.timestamp_ = le32(&f[pe + 8]);
    image.symbol_count_ = le32(&f[pe + 16]);
    const uint16_t optional_size = le16(&f[pe + 20]);
    image.characteristics_ = le16(&f[pe + 22]);
    const std::size_t opt = pe + 24;
    need(opt, optional_size, "optional header");
    if (optional_size < 96 || le16(&f[opt]) != 0x10B) image.fail("not a 32-bit module (no PE32 optional header)");
    image.entry_point_rva_ = le32(&f[opt + 16]);
    image.image_base_ = le32(&f[opt + 28]);
    const uint32_t directory_count = le32(&f[opt + 92]);
    auto directory = [&](uint32_t index) {
        Directory d;
        if (index < directory_count && 96 + 8 * (index + 1) <= optional_size) {
            d.rva = le32(&f[opt + 96 + 8 * index]);
            d.size = le32(&f[opt + 96 + 8 * index + 4]);
        }
        return d;
    };
    image.export_directory_ = directory(0);
    image.import_directory_ = directory(1);
    image.resource_directory_ = directory(2);
    const std::size_t table = opt + optional_size;
    need(table, std::size_t{40} * section_count, "section table");
    for (uint16_t i = 0; i < section_count; ++i) {
        const uint8_t* s = &f[table + 40 * i];
        Section section;
        section.name.assign(reinterpret_cast<const char*>(s), strnlen(reinterpret_cast<const char*>(s), 8));
        section.virtual_size = le32(s + 8);
        section.virtual_address = le32(s + 12);
        section.raw_size = le32(s + 16);
        section.raw_offset = le32(s + 20);
        section.characteristics = le32(s + 36);
        need(section.raw_offset, section.raw_size, "section data");
        image.sections_.push_back(section);
    }
    return image;
}

std::optional<uint32_t> PeImage::file_offset(uint32_t rva, uint32_t size) const {
    for (const Section& s : sections_) {
        const uint64_t start = s.virtual_address;
        const uint64_t end = start + std::max(s.virtual_size, s.raw_size);
        if (rva >= start && uint64_t{rva} + size <= end) {
            const uint64_t inside = rva - start;
            // Bytes past the raw data are zero-filled when loaded; they are not in the file.
            if (inside + size > s.raw_size) return std::nullopt;
            return static_cast<uint32_t>(s.raw_offset + inside);
        }
    }
    return std::nullopt;
}

std::span<const uint8_t> PeImage::bytes_at(uint32_t rva, uint32_t size) const {
    const auto offset = file_offset(rva, size);
    if (!offset) fail("address 0x" + [&] {
        char text[16];
        std::snprintf(text, sizeof text, "%X", rva);
        return std::string(text);
    }() + " is not stored in the file");
    return {file_.data() + *offset, size};
}

uint32_t PeImage::u32_at(uint32_t rva) const { return le32(bytes_at(rva, 4).data()); }

double PeImage::f64_at(uint32_t rva) const {
    const auto bytes = bytes_at(rva, 8);
    uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = (bits << 8) | bytes[static_cast<std::size_t>(i)];
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

uint32_t PeImage::pointer_at(uint32_t rva) const {
    const uint32_t va = u32_at(rva);
    if (va == 0) return 0;
    if (va < image_base_) fail("a stored pointer lies below the image base");
    return va - image_base_;
}

std::string PeImage::string_at(uint32_t rva, uint32_t max_length) const {
    std::string text;
    for (uint32_t i = 0; i < max_length; ++i) {
        const uint8_t c = bytes_at(rva + i, 1)[0];
        if (c == 0) return text;
        text.push_back(static_cast<char>(c));
    }
    fail("a string runs past " + std::to_string(max_length) + " bytes");
}

std::string PeImage::export_name() const {
    if (export_directory_.rva == 0) return {};
    return string_at(u32_at(export_directory_.rva + 12));
}

std::vector<Export> PeImage::exports() const {
    std::vector<Export> result;
    if (export_directory_.rva == 0) return result;
    const uint32_t d = export_directory_.rva;
    const uint32_t function_count = u32_at(d + 20);
    const uint32_t name_count = u32_at(d + 24);
    const uint32_t functions = u32_at(d + 28);
    const uint32_t names = u32_at(d + 32);
    const uint32_t ordinals = u32_at(d + 36);
    if (name_count > 65536) fail("export directory names too many symbols");
    for (uint32_t i = 0; i < name_count; ++i) {
        const uint16_t ordinal = le16(bytes_at(ordinals + 2 * i, 2).data());
        if (ordinal >= function_count) fail("export ordinal out of range");
        result.push_back({string_at(u32_at(names + 4 * i)), u32_at(functions + 4 * ordinal)});
    }
    return result;
}

std::optional<uint32_t> PeImage::export_rva(std::string_view name) const {
    for (const Export& e : exports())
        if (e.name == name) return e.rva;
    return std::nullopt;
}

std::vector<std::string> PeImage::imported_dlls() const {
    std::vector<std::string> result;
    if (import_directory_.rva == 0) return result;
    for (uint32_t entry = import_directory_.rva;; entry += 20) {
        const uint32_t name = u32_at(entry + 12);
        if (name == 0) break;
        result.push_back(string_at(name));
        if (result.size() > 1024) fail("import directory does not end");
    }
    return result;
}

std::vector<uint32_t> PeImage::bitmap_ids() const {
    std::vector<uint32_t> ids;
    if (resource_directory_.rva == 0) return ids;
    const uint32_t root = resource_directory_.rva;
    // Directory: 16-byte header, then named entries, then id entries (8 bytes each).
    auto entries = [&](uint32_t directory) {
        const uint32_t count = le16(bytes_at(directory + 12, 2).data()) + le16(bytes_at(directory + 14, 2).data());
        if (count > max_resource_entries) fail("resource directory has too many entries");
        std::vector<std::pair<uint32_t, uint32_t>> list;
        for (uint32_t i = 0; i < count; ++i)
            list.emplace_back(u32_at(directory + 16 + 8 * i), u32_at(directory + 16 + 8 * i + 4));
        return list;
    };
    for (auto [type, type_target] : entries(root)) {
        if (type != rt_bitmap || (type_target & 0x80000000u) == 0) continue;
        for (auto [id, id_target] : entries(root + (type_target & 0x7FFFFFFFu)))
            if ((id & 0x80000000u) == 0) ids.push_back(id);
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

std::optional<std::span<const uint8_t>> PeImage::bitmap_resource(uint32_t id) const {
    if (resource_directory_.rva == 0) return std::nullopt;
    const uint32_t root = resource_directory_.rva;
    auto find = [&](uint32_t directory, uint32_t wanted) -> std::optional<uint32_t> {
        const uint32_t count = le16(bytes_at(directory + 12, 2).data()) + le16(bytes_at(directory + 14, 2).data());
        if (count > max_resource_entries) fail("resource directory has too many entries");
        for (uint32_t i = 0; i < count; ++i)
            if (u32_at(directory + 16 + 8 * i) == wanted) return u32_at(directory + 16 + 8 * i + 4);
        return std::nullopt;
    };
    auto type = find(root, rt_bitmap);
    if (!type || (*type & 0x80000000u) == 0) return std::nullopt;
    auto name = find(root + (*type & 0x7FFFFFFFu), id);
    if (!name || (*name & 0x80000000u) == 0) return std::nullopt;
    // The third level holds one entry per language; take the first.
    const uint32_t languages = root + (*name & 0x7FFFFFFFu);
    if (le16(bytes_at(languages + 12, 2).data()) + le16(bytes_at(languages + 14, 2).data()) == 0) return std::nullopt;
    const uint32_t data_entry = u32_at(languages + 16 + 4);
    if (data_entry & 0x80000000u) fail("resource tree is deeper than three levels");
    const uint32_t data = root + data_entry;
    return bytes_at(u32_at(data), u32_at(data + 4));
}

Picture PeImage::picture(uint32_t id) const {
    const auto dib = bitmap_resource(id);
    if (!dib) fail("has no bitmap resource " + std::to_string(id));
    return decode_dib(*dib, path_.string() + ": bitmap " + std::to_string(id));
}

Picture decode_dib(std::span<const uint8_t> dib, const std::string& what) {
    auto fail = [&](const std::string& why) -> void { throw PeError(what + ": " + why); };
    if (dib.size() < 40) fail("truncated bitmap header");
    const uint32_t header_size = le32(&dib[0]);
    Picture p;
    p.width = static_cast<int32_t>(le32(&dib[4]));
    const int32_t raw_height = static_cast<int32_t>(le32(&dib[8]));
    p.bits_per_pixel = le16(&dib[14]);
    p.compression = le32(&dib[16]);
    const uint32_t colours_used = le32(&dib[32]);
    const bool bottom_up = raw_height > 0;
    p.height = bottom_up ? raw_height : -raw_height;
    if (header_size < 40 || header_size > dib.size()) fail("bad bitmap header size");
    if (p.width <= 0 || p.height <= 0 || p.width > 16384 || p.height > 16384) fail("bad bitmap size");
    if (p.compression != 0) fail("compressed bitmaps are not supported");
    if (p.bits_per_pixel != 8 && p.bits_per_pixel != 24 && p.bits_per_pixel != 32)
        fail("unsupported bits per pixel " + std::to_string(p.bits_per_pixel));
    p.palette_size = p.bits_per_pixel == 8 ? (colours_used != 0 ? static_cast<int>(colours_used) : 256) : 0;
    if (p.palette_size > 256) fail("palette larger than 256 colours");
    const std::size_t palette_at = header_size;
    const std::size_t pixels_at = palette_at + 4 * static_cast<std::size_t>(p.palette_size);
    const std::size_t stride = ((static_cast<std::size_t>(p.width) * p.bits_per_pixel + 31) / 32) * 4;
    if (pixels_at + stride * p.height > dib.size()) fail("truncated bitmap pixels");
    p.pixels.resize(static_cast<std::size_t>(p.width) * p.height);
    for (int y = 0; y < p.height; ++y) {
        const uint8_t* row = &dib[pixels_at + stride * (bottom_up ? p.height - 1 - y : y)];
        for (int x = 0; x < p.width; ++x) {
            uint32_t rgb;
            if (p.bits_per_pixel == 8) {
                const uint8_t index = row[x];
                if (index >= p.palette_size) fail("pixel uses a colour beyond the palette");
                const uint8_t* q = &dib[palette_at + 4 * index];  // blue, green, red, reserved
                rgb = (uint32_t{q[2]} << 16) | (uint32_t{q[1]} << 8) | q[0];
            } else {
                const uint8_t* q = row + x * (p.bits_per_pixel / 8);
                rgb = (uint32_t{q[2]} << 16) | (uint32_t{q[1]} << 8) | q[0];
            }
            p.pixels[static_cast<std::size_t>(y) * p.width + x] = rgb;
        }
    }
    return p;
}

}  // namespace kestrel::pe
