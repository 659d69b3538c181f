// The one reader of 32-bit Windows module files (PE32): headers, sections, exports,
// imports, base relocations, TLS, resources and bitmaps. It reads the file as bytes and
// never runs it; every offset, size, count and string is checked here, once, so the
// mapper, the record listing and the bench all get either checked values or a PeError.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrel::pe {

// IMAGE_FILE_HEADER.Machine of a 32-bit x86 module, the only kind a gauge module is.
inline constexpr uint16_t machine_i386 = 0x14C;

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

// One routine a module imports: where the loader writes its address, and what it is.
struct ImportedRoutine {
    std::string dll;             // as written in the file
    std::string name;            // empty when imported by ordinal
    uint16_t ordinal = 0;        // for an import by ordinal
    bool by_ordinal = false;
    uint32_t address_slot = 0;   // RVA of the 4-byte slot, inside the image
};

// The TLS directory, its addresses turned into RVAs checked against the image.
struct TlsDirectory {
    uint32_t template_rva = 0;   // initial data of the thread's block
    uint32_t template_size = 0;
    uint32_t index_slot = 0;     // RVA of the word that receives the TLS index; 0 for none
    std::vector<uint32_t> callbacks;  // RVAs, in order
};

struct DataDirectory {
    uint32_t rva = 0;
    uint32_t size = 0;
};
inline constexpr int export_directory = 0, import_directory = 1, resource_directory = 2,
                     relocation_directory = 5, tls_directory = 9;

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
    // The same for a file's bytes already in memory; path names them in messages.
    static PeImage from_bytes(const std::filesystem::path& path, std::vector<uint8_t> bytes);

    const std::filesystem::path& path() const { return path_; }
    uint16_t machine() const { return machine_; }
    uint16_t characteristics() const { return characteristics_; }
    bool is_dll() const { return (characteristics_ & 0x2000) != 0; }
    uint32_t image_base() const { return image_base_; }
    uint32_t timestamp() const { return timestamp_; }
    uint32_t entry_point_rva() const { return entry_point_rva_; }
    // The image as loaded: its size and the size of the headers at its start, both
    // checked (headers within the file and the image, every section within the image).
    uint32_t size_of_image() const { return size_of_image_; }
    uint32_t size_of_headers() const { return size_of_headers_; }
    DataDirectory directory(int index) const;
    // True when the RVA lies in a section that holds code.
    bool is_code(uint32_t rva) const;
    // Copies the headers and every section's file bytes to their RVAs in image, which
    // holds size_of_image() bytes (zeroed where the file stores nothing), as a loader does.
    void lay_out(std::span<uint8_t> image) const;
    // Bytes of the file itself, checked.
    std::span<const uint8_t> file_bytes(uint32_t offset, uint32_t size) const;
    // COFF symbols left in the file: 0 once it is stripped.
    uint32_t symbol_count() const { return symbol_count_; }
    const std::vector<Section>& sections() const { return sections_; }

    // The module name the export directory gives, and its named exports.
    std::string export_name() const;
    std::vector<Export> exports() const;
    std::optional<uint32_t> export_rva(std::string_view name) const;
    // Names of the DLLs in the import directory, as written.
    std::vector<std::string> imported_dlls() const;
    // Every imported routine, DLL by DLL, in file order.
    std::vector<ImportedRoutine> imported_routines() const;
    // RVAs of the 32-bit words that base relocations adjust; throws on any other kind
    // of relocation and on blocks or targets outside the image.
    std::vector<uint32_t> relocation_sites() const;
    // The TLS directory, if the module has one.
    std::optional<TlsDirectory> tls() const;
    // An address stored in the image (a VA) as an RVA inside the image; throws otherwise.
    uint32_t rva_of_address(uint32_t va, const char* what) const;

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
    uint32_t count_of_resource_entries(uint32_t directory) const;

    std::filesystem::path path_;
    std::vector<uint8_t> file_;
    uint16_t machine_ = 0;
    uint16_t characteristics_ = 0;
    uint32_t timestamp_ = 0;
    uint32_t image_base_ = 0;
    uint32_t entry_point_rva_ = 0;
    uint32_t symbol_count_ = 0;
    uint32_t size_of_image_ = 0;
    uint32_t size_of_headers_ = 0;
    std::vector<Section> sections_;
    std::vector<DataDirectory> directories_;
};

// Decodes a DIB (BITMAPINFOHEADER, palette, pixels) as a bitmap resource stores it.
Picture decode_dib(std::span<const uint8_t> dib, const std::string& what);

}  // namespace kestrel::pe
