// A reader of 32-bit Windows module files (PE32): headers, sections, exports, imports
// and bitmap resources. It reads the file as bytes and never loads or runs it, so the
// 64-bit bench and the tests can look inside the real .gau files on any machine.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrel::pe {

class PeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Section {
    std::string name;
    uint32_t virtual_address;  // RVA
    uint32_t virtual_size;     // bytes
    uint32_t raw_offset;       // file offset
    uint32_t raw_size;         // bytes in the file
    uint32_t characteristics;
};

struct Export {
    std::string name;
    uint32_t rva;
};

// A decoded bitmap resource: top row first, one 0x00RRGGBB word per pixel.
struct Picture {
    int width = 0;
    int height = 0;
    int bits_per_pixel = 0;
    uint32_t compression = 0;
    int palette_size = 0;
    std::vector<uint32_t> pixels;

    uint32_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

class PeImage {
public:
    // Reads and checks the whole file; errors name the file and what is wrong.
    static PeImage read(const std::filesystem::path& path);

    const std::filesystem::path& path() const { return path_; }
    uint16_t machine() const { return machine_; }
    uint16_t characteristics() const { return characteristics_; }
    bool is_dll() const { return (characteristics_ & 0x2000) != 0; }
    uint32_t image_base() const { return image_base_; }
    uint32_t timestamp() const { return timestamp_; }
    uint32_t entry_point_rva() const { return entry_point_rva_; }
    // COFF symbols left in the file: 0 once it is stripped.
    uint32_t symbol_count() const { return symbol_count_; }
    const std::vector<Section>& sections() const { return sections_; }

    // The module name the export directory gives, and its named exports.
    std::string export_name() const;
    std::vector<Export> exports() const;
    std::optional<uint32_t> export_rva(std::string_view name) const;
    // Names of the DLLs in the import directory, as written.
    std::vector<std::string> imported_dlls() const;

    // Bytes at a relative virtual address; throws if they lie outside the file's sections.
    std::span<const uint8_t> bytes_at(uint32_t rva, uint32_t size) const;
    uint32_t u32_at(uint32_t rva) const;
    int32_t i32_at(uint32_t rva) const { return static_cast<int32_t>(u32_at(rva)); }
    double f64_at(uint32_t rva) const;
    // A NUL-terminated string at an RVA, at most max_length bytes long.
    std::string string_at(uint32_t rva, uint32_t max_length = 4096) const;
    // A pointer stored in the image, as an RVA (0 stays 0 for NULL).
    uint32_t pointer_at(uint32_t rva) const;

    // Ids of the RT_BITMAP resources, ascending, and one of them as its DIB bytes.
    std::vector<uint32_t> bitmap_ids() const;
    std::optional<std::span<const uint8_t>> bitmap_resource(uint32_t id) const;
    // A bitmap resource decoded (uncompressed 8, 24 or 32 bits per pixel).
    Picture picture(uint32_t id) const;

private:
    std::optional<uint32_t> file_offset(uint32_t rva, uint32_t size) const;
    [[noreturn]] void fail(const std::string& what) const;

    std::filesystem::path path_;
    std::vector<uint8_t> file_;
    uint16_t machine_ = 0;
    uint16_t characteristics_ = 0;
    uint32_t timestamp_ = 0;
    uint32_t image_base_ = 0;
    uint32_t entry_point_rva_ = 0;
    uint32_t symbol_count_ = 0;
    std::vector<Section> sections_;
    struct Directory {
        uint32_t rva = 0;
        uint32_t size = 0;
    };
    Directory export_directory_, import_directory_, resource_directory_;
};

// Decodes a DIB (BITMAPINFOHEADER, palette, pixels) as a bitmap resource stores it.
Picture decode_dib(std::span<const uint8_t> dib, const std::string& what);

}  // namespace kestrel::pe
