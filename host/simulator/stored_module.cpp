// Laying out a module file's records without running it. A Windows module goes through
// the PE reader (sections and base relocations checked there); a shared object through
// the small ELF reading below (loadable segments, dynamic symbols, REL relocations),
// every offset and count checked against the file and the image before use.
#include "stored_module.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <optional>
#include <string_view>

#include "module_headers.h"
#include "pe_image.h"

namespace kestrel {
namespace {

// Bounds on what a module file may claim; a gauge module is far below each of them.
constexpr std::size_t max_file_size = 64u << 20;
constexpr uint64_t max_image_size = 16u << 20;
constexpr uint32_t max_symbols = 1u << 20;

[[noreturn]] void fail(const std::filesystem::path& path, const std::string& what) {
    throw HostError(path.generic_string() + ": " + what);
}

uint32_t le(const uint8_t* p, int width) {
    uint32_t word = 0;
    for (int i = 0; i < width; ++i) word |= uint32_t{p[i]} << (8 * i);
    return word;
}

// The image under construction: where each address of the module lands in the buffer.
struct Layout {
    std::vector<uint64_t>& storage;
    uint32_t size = 0;

    uint8_t* bytes() { return reinterpret_cast<uint8_t*>(storage.data()); }
    uint32_t base() { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(bytes())); }
    void allocate(uint64_t image_size) { storage.assign((image_size + 7) / 8, 0); size = static_cast<uint32_t>(image_size); }
    bool holds(uint64_t address, uint64_t length) const { return address <= size && length <= size - address; }
    void add(uint32_t address, uint32_t delta) {
        uint32_t word;
        std::memcpy(&word, bytes() + address, 4);
        word += delta;
        std::memcpy(bytes() + address, &word, 4);
    }
};

// A Windows module: headers and sections copied as the mapper copies them, then the base
// relocations applied for this buffer's address. Returns the RVAs of the two records.
std::pair<std::optional<uint32_t>, std::optional<uint32_t>> lay_out_windows_module(const std::filesystem::path& path,
                                                                                   const std::vector<uint8_t>& bytes,
                                                                                   Layout& layout) {
    try {
        const pe::PeImage file = pe::PeImage::from_bytes(path, bytes);
        if (const auto fault = windows_header_fault(file)) fail(path, *fault);
        const std::vector<uint32_t> relocations = file.relocation_sites();
        const auto linkage = file.export_rva("Linkage");
        const auto import_table = file.export_rva("ImportTable");
        if (file.size_of_image() > max_image_size)
            fail(path, "image size " + std::to_string(file.size_of_image()) + " is larger than any module");
        layout.allocate(file.size_of_image());
        file.lay_out({layout.bytes(), layout.size});
        const uint32_t delta = layout.base() - file.image_base();
        if (delta != 0 && file.directory(pe::relocation_directory).rva == 0)
            fail(path, "has no relocations, so its stored addresses cannot be followed");
        for (const uint32_t site : relocations) layout.add(site, delta);
        return {linkage, import_table};
    } catch (const pe::PeError& error) {
        throw HostError(error.what());
    }
}

// A 32-bit little-endian i386 shared object: loadable segments copied to their addresses,
// R_386_RELATIVE and R_386_32 relocations applied; exports found among the dynamic symbols.
std::pair<std::optional<uint32_t>, std::optional<uint32_t>> lay_out_shared_object(const std::filesystem::path& path,
                                                                                  const std::vector<uint8_t>& f,
                                                                                  Layout& layout) {
    auto need = [&](uint64_t offset, uint64_t size, const char* what) {
        if (offset > f.size() || size > f.size() - offset) fail(path, std::string("truncated ") + what);
    };
    need(0, 52, "ELF header");
    if (const auto fault = elf_header_fault(f)) fail(path, *fault);
    const uint32_t phoff = le(&f[28], 4), shoff = le(&f[32], 4);
    const uint32_t phentsize = le(&f[42], 2), phnum = le(&f[44], 2), shentsize = le(&f[46], 2), shnum = le(&f[48], 2);
    if (phentsize < 32 || shentsize < 40) fail(path, "program or section header entries too small");
    need(phoff, uint64_t{phentsize} * phnum, "program headers");
    need(shoff, uint64_t{shentsize} * shnum, "section headers");

    struct Segment { uint32_t offset, address, file_size, memory_size; };
    std::vector<Segment> segments;
    uint64_t image_size = 0;
    for (uint32_t i = 0; i < phnum; ++i) {
        const uint8_t* p = &f[phoff + uint64_t{phentsize} * i];
        if (le(p, 4) != 1) continue;  // PT_LOAD
        const Segment s{le(p + 4, 4), le(p + 8, 4), le(p + 16, 4), le(p + 20, 4)};
        need(s.offset, s.file_size, "segment");
        if (s.file_size > s.memory_size) fail(path, "a segment holds more file bytes than memory");
        image_size = std::max(image_size, uint64_t{s.address} + s.memory_size);
        segments.push_back(s);
    }
    if (segments.empty()) fail(path, "no loadable segment");
    if (image_size > max_image_size) fail(path, "image size " + std::to_string(image_size) + " is out of range");
    layout.allocate(image_size);
    for (const Segment& s : segments) std::memcpy(layout.bytes() + s.address, f.data() + s.offset, s.file_size);

    struct SectionHeader { uint32_t type, offset, size, link, entry_size; };
    auto section = [&](uint32_t index) {
        if (index >= shnum) fail(path, "a section refers to section " + std::to_string(index) + ", which does not exist");
        const uint8_t* s = &f[shoff + uint64_t{shentsize} * index];
        const SectionHeader h{le(s + 4, 4), le(s + 16, 4), le(s + 20, 4), le(s + 24, 4), le(s + 36, 4)};
        if (h.type != 8) need(h.offset, h.size, "section");  // SHT_NOBITS holds nothing in the file
        return h;
    };
    // The dynamic symbols and their names.
    std::optional<SectionHeader> symbols;
    std::optional<SectionHeader> names;
    for (uint32_t i = 0; i < shnum; ++i)
        if (const SectionHeader h = section(i); h.type == 11) {  // SHT_DYNSYM
            symbols = h;
            names = section(h.link);
            break;
        }
    if (!symbols) fail(path, "has no dynamic symbols");
    if (names->type == 8) fail(path, "the names of its dynamic symbols are not in the file");
    const uint32_t symbol_count = symbols->size / 16;
    if (symbol_count > max_symbols) fail(path, "too many dynamic symbols");
    auto symbol_value = [&](uint32_t index) -> std::optional<uint32_t> {
        if (index >= symbol_count) fail(path, "a relocation names symbol " + std::to_string(index) + ", which does not exist");
        const uint8_t* s = &f[symbols->offset + 16 * index];
        if (le(s + 14, 2) == 0) return std::nullopt;  // undefined here
        return le(s + 4, 4);
    };
    auto find_export = [&](std::string_view wanted) -> std::optional<uint32_t> {
        for (uint32_t i = 1; i < symbol_count; ++i) {
            const uint8_t* s = &f[symbols->offset + 16 * i];
            const uint32_t name = le(s, 4);
            if (name >= names->size) continue;
            const char* text = reinterpret_cast<const char*>(&f[names->offset + name]);
            if (strnlen(text, names->size - name) != wanted.size() || std::memcmp(text, wanted.data(), wanted.size()) != 0) continue;
            if (le(s + 14, 2) == 0) return std::nullopt;
            return le(s + 4, 4);
        }
        return std::nullopt;
    };
    // REL relocations (i386 keeps the addend in the word): the two kinds that data records use.
    for (uint32_t i = 0; i < shnum; ++i) {
        const SectionHeader h = section(i);
        if (h.type != 9) continue;  // SHT_REL
        for (uint32_t at = 0; at + 8 <= h.size; at += 8) {
            const uint32_t address = le(&f[h.offset + at], 4), info = le(&f[h.offset + at + 4], 4);
            const uint32_t kind = info & 0xFF;
            if (kind != 1 && kind != 8) continue;  // R_386_32, R_386_RELATIVE
            if (!layout.holds(address, 4)) fail(path, "a relocation lies outside the image");
            if (kind == 8) {
                layout.add(address, layout.base());
            } else if (const auto value = symbol_value(info >> 8)) {
                layout.add(address, layout.base() + *value);
            }
        }
    }
    return {find_export("Linkage"), find_export("ImportTable")};
}

std::vector<uint8_t> read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) fail(path, "cannot be read");
    in.seekg(0, std::ios::end);
    const auto length = static_cast<std::streamoff>(in.tellg());
    if (length < 0) fail(path, "cannot be read");
    if (static_cast<std::size_t>(length) > max_file_size)
        fail(path, "a file of " + std::to_string(length) + " bytes is larger than any module");
    std::vector<uint8_t> bytes(static_cast<std::size_t>(length));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), length);
    if (in.gcount() != length) fail(path, "cannot be read");
    return bytes;
}

}  // namespace

StoredModule StoredModule::read(const std::filesystem::path& path) {
    // The records hold 32-bit pointers: only a 32-bit host lays them out as stored.
    if constexpr (sizeof(void*) != 4) fail(path, "module records are read only by the 32-bit host");
    std::error_code error;
    if (!std::filesystem::exists(path, error)) fail(path, "no such file");
    if (!std::filesystem::is_regular_file(path, error)) fail(path, "not a regular file");
    return from_bytes(path, read_file(path));
}

StoredModule StoredModule::from_bytes(const std::filesystem::path& path, const std::vector<uint8_t>& file) {
    if constexpr (sizeof(void*) != 4) fail(path, "module records are read only by the 32-bit host");
    if (file.size() > max_file_size) fail(path, "a file of " + std::to_string(file.size()) + " bytes is larger than any module");
    StoredModule module;
    module.path_ = path;
    Layout layout{module.storage_};
    std::pair<std::optional<uint32_t>, std::optional<uint32_t>> records;
    if (file.size() >= 2 && file[0] == 'M' && file[1] == 'Z')
        records = lay_out_windows_module(path, file, layout);
    else if (is_elf(file))
        records = lay_out_shared_object(path, file, layout);
    else
        fail(path, "not a module (neither a shared object nor a Windows module)");
    module.bounds_ = {layout.bytes(), layout.bytes() + layout.size};
    const auto& bounds = module.bounds_;
    auto record = [&](const std::optional<uint32_t>& address, const char* name) -> const unsigned char* {
        if (!address) fail(path, std::string("exports no ") + name + " record");
        if (!layout.holds(*address, 1)) fail(path, std::string(name) + " lies outside the image");
        return layout.bytes() + *address;
    };
    try {
        const unsigned char* linkage = record(records.first, "Linkage");
        const unsigned char* import_table = record(records.second, "ImportTable");
        module.linkage_ = bounds.check(reinterpret_cast<const LinkageHead*>(linkage), "Linkage");
        module.import_table_ = bounds.check(reinterpret_cast<const ImportTableRecord*>(import_table), "ImportTable");
        for (const GaugeHeader* header : read_gauge_table(*module.linkage_, bounds)) module.gauges_.push_back(header);
    } catch (const HostError& error) {
        const std::string message = error.what();
        if (message.rfind(path.generic_string() + ": ", 0) == 0) throw;
        fail(path, message);
    }
    return module;
}

}  // namespace kestrel
