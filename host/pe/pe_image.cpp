// The PE32 reader: every offset is checked against the file before it is read, and every
// address against the image, so a truncated, damaged or foreign file gives an error that
// names it instead of a crash.
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
// Bounds on what a module file may claim; a gauge module is far below each of them.
constexpr std::size_t max_file_size = 64u << 20;
constexpr uint32_t max_image_size = 256u << 20;
constexpr uint16_t max_sections = 96;
constexpr uint32_t max_directories = 16;
constexpr uint32_t max_name_length = 256;
constexpr uint32_t max_imported_dlls = 256;
constexpr uint32_t max_routines_per_dll = 4096;
constexpr uint32_t max_exports = 65536;
constexpr uint32_t max_tls_template = 1u << 20;
constexpr uint32_t max_tls_callbacks = 64;

std::string hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

}  // namespace

void PeImage::fail(const std::string& what) const {
    throw PeError(path_.generic_string() + ": " + what);
}

PeImage PeImage::read(const std::filesystem::path& path) {
    PeImage image;
    image.path_ = path;
    std::ifstream in(path, std::ios::binary);
    if (!in) image.fail("cannot open the file");
    in.seekg(0, std::ios::end);
    const auto length = static_cast<std::streamoff>(in.tellg());
    if (length < 0) image.fail("cannot read the file");
    if (static_cast<std::size_t>(length) > max_file_size)
        image.fail("a module file of " + std::to_string(length) + " bytes is larger than any module (at most " +
                   std::to_string(max_file_size) + ")");
    in.seekg(0);
    std::vector<uint8_t> bytes(static_cast<std::size_t>(length));
    in.read(reinterpret_cast<char*>(bytes.data()), length);
    if (in.gcount() != length) image.fail("cannot read the file");
    return from_bytes(path, std::move(bytes));
}

PeImage PeImage::from_bytes(const std::filesystem::path& path, std::vector<uint8_t> bytes) {
    PeImage image;
    image.path_ = path;
    image.file_ = std::move(bytes);
    if (image.file_.size() > max_file_size)
        image.fail("a module file of " + std::to_string(image.file_.size()) + " bytes is larger than any module");
    const auto& f = image.file_;
    auto need = [&](std::size_t offset, std::size_t size, const char* what) {
        if (offset > f.size() || size > f.size() - offset) image.fail(std::string("truncated ") + what);
    };
    if (f.size() < 2 || f[0] != 'M' || f[1] != 'Z') image.fail("not a Windows module (no MZ header)");
    need(0, 64, "DOS header");
    const uint32_t pe = le32(&f[0x3C]);
    need(pe, 24, "PE header");
    if (std::memcmp(&f[pe], "PE\0\0", 4) != 0) image.fail("not a Windows module (no PE signature)");
    image.machine_ = le16(&f[pe + 4]);
    const uint16_t section_count = le16(&f[pe + 6]);
    image.timestamp_ = le32(&f[pe + 8]);
    image.symbol_count_ = le32(&f[pe + 16]);
    const uint16_t optional_size = le16(&f[pe + 20]);
    image.characteristics_ = le16(&f[pe + 22]);
    const std::size_t opt = std::size_t{pe} + 24;
    need(opt, optional_size, "optional header");
    if (optional_size < 96 || le16(&f[opt]) != 0x10B) image.fail("not a 32-bit module (no PE32 optional header)");
    image.entry_point_rva_ = le32(&f[opt + 16]);
    image.image_base_ = le32(&f[opt + 28]);
    image.size_of_image_ = le32(&f[opt + 56]);
    image.size_of_headers_ = le32(&f[opt + 60]);
    if (image.size_of_image_ == 0 || image.size_of_image_ > max_image_size)
        image.fail("image size " + std::to_string(image.size_of_image_) + " is out of range (1 to " +
                   std::to_string(max_image_size) + " bytes)");
    if (image.size_of_headers_ > f.size() || image.size_of_headers_ > image.size_of_image_)
        image.fail("header size " + std::to_string(image.size_of_headers_) + " runs past the file or the image");
    const uint32_t directory_count =
        std::min({le32(&f[opt + 92]), max_directories, static_cast<uint32_t>((optional_size - 96) / 8)});
    for (uint32_t index = 0; index < directory_count; ++index)
        image.directories_.push_back({le32(&f[opt + 96 + 8 * index]), le32(&f[opt + 96 + 8 * index + 4])});
    if (section_count > max_sections)
        image.fail(std::to_string(section_count) + " sections (at most " + std::to_string(max_sections) + ")");
    const std::size_t table = opt + optional_size;
    need(table, std::size_t{40} * section_count, "section table");
    for (uint16_t i = 0; i < section_count; ++i) {
        const uint8_t* s = &f[table + 40 * std::size_t{i}];
        Section section;
        section.name.assign(reinterpret_cast<const char*>(s), strnlen(reinterpret_cast<const char*>(s), 8));
        section.virtual_size = le32(s + 8);
        section.virtual_address = le32(s + 12);
        section.raw_size = le32(s + 16);
        section.raw_offset = le32(s + 20);
        section.characteristics = le32(s + 36);
        need(section.raw_offset, section.raw_size, "section data");
        const uint64_t loaded = section.virtual_size != 0 ? section.virtual_size : section.raw_size;
        if (section.virtual_address + loaded > image.size_of_image_)
            image.fail("section " + std::to_string(i) + " lies outside the image");
        image.sections_.push_back(section);
    }
    return image;
}

DataDirectory PeImage::directory(int index) const {
    return index >= 0 && static_cast<std::size_t>(index) < directories_.size() ? directories_[static_cast<std::size_t>(index)]
                                                                              : DataDirectory{};
}

bool PeImage::is_code(uint32_t rva) const {
    for (const Section& s : sections_)
        if ((s.characteristics & 0x20) != 0 && rva >= s.virtual_address &&
            uint64_t{rva} < uint64_t{s.virtual_address} + std::max(s.virtual_size, s.raw_size))
            return true;
    return false;
}

std::span<const uint8_t> PeImage::file_bytes(uint32_t offset, uint32_t size) const {
    if (offset > file_.size() || size > file_.size() - offset)
        fail("truncated at file offset " + std::to_string(offset));
    return {file_.data() + offset, size};
}

void PeImage::lay_out(std::span<uint8_t> image) const {
    if (image.size() < size_of_image_) fail("the image needs " + std::to_string(size_of_image_) + " bytes");
    std::memcpy(image.data(), file_bytes(0, size_of_headers_).data(), size_of_headers_);
    for (const Section& s : sections_) {
        // Checked in read(): the file holds raw_size bytes, the image virtual_size from the RVA.
        const uint32_t copied = std::min(s.raw_size, s.virtual_size != 0 ? s.virtual_size : s.raw_size);
        if (copied != 0) std::memcpy(image.data() + s.virtual_address, file_bytes(s.raw_offset, copied).data(), copied);
    }
}

uint32_t PeImage::rva_of_address(uint32_t va, const char* what) const {
    if (va < image_base_ || va - image_base_ >= size_of_image_) fail(std::string(what) + " " + hex(va) + " lies outside the image");
    return va - image_base_;
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
    if (!offset) fail("address " + hex(rva) + " is not stored in the file");
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
    return rva_of_address(va, "a stored pointer");
}

std::string PeImage::string_at(uint32_t rva, uint32_t max_length) const {
    std::string text;
    for (uint32_t i = 0; i < max_length; ++i) {
        if (rva + i < rva) break;
        const uint8_t c = bytes_at(rva + i, 1)[0];
        if (c == 0) return text;
        text.push_back(static_cast<char>(c));
    }
    fail("a string at " + hex(rva) + " runs past " + std::to_string(max_length) + " bytes");
}

std::string PeImage::export_name() const {
    const DataDirectory d = directory(export_directory);
    if (d.rva == 0) return {};
    return string_at(u32_at(d.rva + 12), max_name_length);
}

std::vector<Export> PeImage::exports() const {
    std::vector<Export> result;
    const uint32_t d = directory(export_directory).rva;
    if (d == 0) return result;
    const uint32_t function_count = u32_at(d + 20);
    const uint32_t name_count = u32_at(d + 24);
    const uint32_t functions = u32_at(d + 28);
    const uint32_t names = u32_at(d + 32);
    const uint32_t ordinals = u32_at(d + 36);
    if (name_count > max_exports || function_count > max_exports)
        fail("export directory names too many symbols");
    for (uint32_t i = 0; i < name_count; ++i) {
        const uint16_t ordinal = le16(bytes_at(ordinals + 2 * i, 2).data());
        if (ordinal >= function_count) fail("export ordinal out of range");
        const uint32_t rva = u32_at(functions + 4 * uint32_t{ordinal});
        if (rva >= size_of_image_) fail("export " + std::to_string(i) + " lies outside the image");
        result.push_back({string_at(u32_at(names + 4 * i), max_name_length), rva});
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
    const uint32_t d = directory(import_directory).rva;
    if (d == 0) return result;
    for (uint32_t entry = d;; entry += 20) {
        const uint32_t name = u32_at(entry + 12);
        if (name == 0) break;
        if (result.size() == max_imported_dlls) fail("import directory does not end");
        result.push_back(string_at(name, max_name_length));
    }
    return result;
}

std::vector<ImportedRoutine> PeImage::imported_routines() const {
    std::vector<ImportedRoutine> result;
    const uint32_t d = directory(import_directory).rva;
    if (d == 0) return result;
    uint32_t dll_count = 0;
    for (uint32_t entry = d;; entry += 20) {
        const uint32_t name = u32_at(entry + 12);
        if (name == 0) break;
        if (++dll_count > max_imported_dlls) fail("import directory does not end");
        const std::string dll = string_at(name, max_name_length);
        const uint32_t address_table = u32_at(entry + 16);
        const uint32_t lookup = u32_at(entry) != 0 ? u32_at(entry) : address_table;
        for (uint32_t i = 0;; ++i) {
            if (i == max_routines_per_dll) fail("the import list of " + dll + " does not end");
            const uint32_t thunk = u32_at(lookup + 4 * i);
            if (thunk == 0) break;
            ImportedRoutine routine;
            routine.dll = dll;
            routine.address_slot = address_table + 4 * i;
            if (routine.address_slot < address_table || uint64_t{routine.address_slot} + 4 > size_of_image_)
                fail("the import address table of " + dll + " lies outside the image");
            if (thunk & 0x80000000u) {
                routine.by_ordinal = true;
                routine.ordinal = static_cast<uint16_t>(thunk & 0xFFFF);
            } else {
                routine.name = string_at(thunk + 2, max_name_length);
            }
            result.push_back(std::move(routine));
        }
    }
    return result;
}

std::vector<uint32_t> PeImage::relocation_sites() const {
    std::vector<uint32_t> sites;
    const DataDirectory table = directory(relocation_directory);
    if (table.rva == 0) return sites;
    for (uint32_t offset = 0; offset + 8 <= table.size;) {
        const auto block = bytes_at(table.rva + offset, 8);
        const uint32_t page = le32(block.data()), block_size = le32(block.data() + 4);
        if (block_size < 8 || block_size % 2 != 0 || block_size > table.size - offset) fail("malformed relocation block");
        const auto entries = bytes_at(table.rva + offset + 8, block_size - 8);
        for (uint32_t at = 0; at + 2 <= entries.size(); at += 2) {
            const uint16_t word = le16(entries.data() + at);
            const unsigned kind = word >> 12;
            if (kind == 0) continue;  // padding
            // Messages appended in steps: GCC 12 warns falsely on a chain of literal + string.
            if (kind != 3) {
                std::string what = "relocation kind ";
                what += std::to_string(kind);
                what += " is not a 32-bit address";
                fail(what);
            }
            const uint64_t site = uint64_t{page} + (word & 0xFFFu);
            if (site + 4 > size_of_image_) {
                std::string what = "a relocation at ";
                what += hex(static_cast<uint32_t>(site));
                what += " lies outside the image";
                fail(what);
            }
            sites.push_back(static_cast<uint32_t>(site));
        }
        offset += block_size;
    }
    return sites;
}

std::optional<TlsDirectory> PeImage::tls() const {
    const uint32_t d = directory(tls_directory).rva;
    if (d == 0) return std::nullopt;
    const auto record = bytes_at(d, 24);
    const uint32_t start = le32(record.data()), end = le32(record.data() + 4);
    const uint32_t index = le32(record.data() + 8), callbacks = le32(record.data() + 12);
    TlsDirectory tls;
    if (start != 0 || end != 0) {
        if (end < start || end - start > max_tls_template) fail("TLS template of an impossible size");
        tls.template_rva = rva_of_address(start, "TLS template");
        tls.template_size = end - start;
        if (uint64_t{tls.template_rva} + tls.template_size > size_of_image_) fail("TLS template runs past the image");
    }
    if (index != 0) {
        tls.index_slot = rva_of_address(index, "TLS index");
        if (uint64_t{tls.index_slot} + 4 > size_of_image_) fail("TLS index runs past the image");
    }
    if (callbacks != 0) {
        const uint32_t list = rva_of_address(callbacks, "TLS callback list");
        for (uint32_t i = 0;; ++i) {
            if (i == max_tls_callbacks) fail("TLS callback list does not end");
            const uint32_t callback = u32_at(list + 4 * i);
            if (callback == 0) break;
            const uint32_t rva = rva_of_address(callback, "TLS callback");
            if (!is_code(rva)) fail("TLS callback " + hex(callback) + " is not in a code section");
            tls.callbacks.push_back(rva);
        }
    }
    return tls;
}

uint32_t PeImage::count_of_resource_entries(uint32_t directory) const {
    const uint32_t count = le16(bytes_at(directory + 12, 2).data()) + le16(bytes_at(directory + 14, 2).data());
    if (count > max_resource_entries) fail("resource directory has too many entries");
    return count;
}

std::vector<uint32_t> PeImage::bitmap_ids() const {
    std::vector<uint32_t> ids;
    const uint32_t root = directory(resource_directory).rva;
    if (root == 0) return ids;
    // Directory: 16-byte header, then named entries, then id entries (8 bytes each).
    auto entries = [&](uint32_t directory) {
        const uint32_t count = count_of_resource_entries(directory);
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
    const uint32_t root = directory(resource_directory).rva;
    if (root == 0) return std::nullopt;
    auto find = [&](uint32_t directory, uint32_t wanted) -> std::optional<uint32_t> {
        const uint32_t count = count_of_resource_entries(directory);
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
    if (count_of_resource_entries(languages) == 0) return std::nullopt;
    const uint32_t data_entry = u32_at(languages + 16 + 4);
    if (data_entry & 0x80000000u) fail("resource tree is deeper than three levels");
    const uint32_t data = root + data_entry;
    return bytes_at(u32_at(data), u32_at(data + 4));
}

Picture PeImage::picture(uint32_t id) const {
    const auto dib = bitmap_resource(id);
    if (!dib) fail("has no bitmap resource " + std::to_string(id));
    return decode_dib(*dib, path_.generic_string() + ": bitmap " + std::to_string(id));
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
