// A second reader of Windows module files for the tests, independent of the host's own:
// mingw's objdump reports the headers, sections, exports and imports and dumps every
// section's bytes; records and the resource tree are then read here at literal offsets.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrel::testing {

class ObjdumpImage {
public:
    struct Section {
        std::string name;
        uint32_t virtual_address = 0;  // RVA
        uint32_t virtual_size = 0;
        uint32_t characteristics = 0;  // 0x20 for code, as the section table would say
    };
    struct Export {
        std::string name;
        uint32_t rva;
    };
    struct Picture {
        int width = 0, height = 0, bits_per_pixel = 0, palette_size = 0;
        uint32_t compression = 0;
        std::vector<uint32_t> pixels;  // 0x00RRGGBB, top row first
        uint32_t at(int x, int y) const { return pixels.at(static_cast<std::size_t>(y) * width + x); }
    };

    static ObjdumpImage read(const std::filesystem::path& path) {
        ObjdumpImage image;
        image.path_ = path;
        image.parse(run("i686-w64-mingw32-objdump -x -s '" + path.string() + "'"));
        return image;
    }

    const std::filesystem::path& path() const { return path_; }
    uint16_t machine() const { return machine_; }
    bool is_dll() const { return (characteristics_ & 0x2000) != 0; }
    uint32_t timestamp() const { return timestamp_; }
    uint32_t symbol_count() const { return symbol_count_; }
    const std::vector<Section>& sections() const { return sections_; }
    std::string export_name() const { return export_name_; }
    std::vector<Export> exports() const { return exports_; }
    std::optional<uint32_t> export_rva(const std::string& name) const {
        for (const Export& e : exports_)
            if (e.name == name) return e.rva;
        return std::nullopt;
    }
    std::vector<std::string> imported_dlls() const { return dlls_; }
    // Imported functions by DLL in lower case.
    const std::map<std::string, std::vector<std::string>>& imported_functions() const { return imports_; }

    uint32_t u32_at(uint32_t rva) const {
        uint32_t value = 0;
        for (int i = 3; i >= 0; --i) value = (value << 8) | byte_at(rva + static_cast<uint32_t>(i));
        return value;
    }
    int32_t i32_at(uint32_t rva) const { return static_cast<int32_t>(u32_at(rva)); }
    uint32_t pointer_at(uint32_t rva) const {
        const uint32_t va = u32_at(rva);
        if (va == 0) return 0;
        if (va < image_base_) throw std::runtime_error("a stored pointer lies below the image base");
        return va - image_base_;
    }
    std::string string_at(uint32_t rva) const {
        std::string text;
        for (uint32_t i = 0; i < 4096; ++i) {
            const uint8_t c = byte_at(rva + i);
            if (c == 0) return text;
            text.push_back(static_cast<char>(c));
        }
        throw std::runtime_error("a string runs past 4096 bytes");
    }

    // The resource tree at literal offsets: 16-byte directories, 8-byte entries, three
    // levels (type, name, language), then a 16-byte data entry.
    std::vector<uint32_t> bitmap_ids() const {
        std::vector<uint32_t> ids;
        if (const auto names = bitmap_directory())
            for (const auto& [id, target] : entries(*names)) ids.push_back(id);
        return ids;
    }
    Picture picture(uint32_t id) const {
        const auto names = bitmap_directory();
        if (!names) throw std::runtime_error("no bitmap resources");
        for (const auto& [each, target] : entries(*names)) {
            if (each != id) continue;
            const auto languages = entries(resources_ + (target & 0x7FFFFFFFu));
            const uint32_t data = resources_ + languages.at(0).second;
            return decode(u32_at(data), u32_at(data + 4));
        }
        throw std::runtime_error("no bitmap " + std::to_string(id));
    }

private:
    static std::string run(const std::string& command) {
        std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
        if (!pipe) throw std::runtime_error("cannot run " + command);
        std::string output;
        char buffer[65536];
        for (std::size_t got; (got = fread(buffer, 1, sizeof buffer, pipe.get())) > 0;) output.append(buffer, got);
        return output;
    }

    static uint32_t hex(const std::string& text) { return static_cast<uint32_t>(std::stoul(text, nullptr, 16)); }

    void parse(const std::string& dump) {
        std::istringstream in(dump);
        std::string line, section_name;
        enum { header, sections, imports, export_header, exports, export_names, other, contents } part = header;
        std::map<uint32_t, uint32_t> export_rvas;  // ordinal index to RVA
        std::string dll;
        while (std::getline(in, line)) {
            std::istringstream words(line);
            std::string first, second;
            words >> first >> second;
            if (line.find("file format pei-i386") != std::string::npos) machine_ = 0x14C;
            if (first == "Characteristics") characteristics_ = hex(second);
            if (first == "ImageBase") image_base_ = hex(second);
            if (part == header && first == "Time/Date" && line.find("Jan  1 00:00:00 1970") == std::string::npos)
                timestamp_ = 1;
            if (first == "Entry" && second == "2") resources_ = [&] { std::string rva; words >> rva; return hex(rva); }();
            if (line.rfind("SYMBOL TABLE:", 0) == 0) {
                std::getline(in, line);
                symbol_count_ = line == "no symbols" ? 0 : 1;
            }
            if (first == "Idx" && second == "Name") { part = sections; continue; }
            if (line.rfind("The Import Tables", 0) == 0) { part = imports; continue; }
            if (line.rfind("The Export Tables", 0) == 0) { part = export_header; continue; }
            if (line.rfind("PE File Base Relocations", 0) == 0) { part = other; continue; }
            if (line.rfind("Export Address Table -- Ordinal Base", 0) == 0) { part = exports; continue; }
            if (line.rfind("[Ordinal/Name Pointer] Table", 0) == 0) { part = export_names; continue; }
            if (line.rfind("Contents of section ", 0) == 0) {
                part = contents;
                continue;
            }
            if (part == sections && !first.empty() && std::isdigit(static_cast<unsigned char>(first[0]))) {
                Section s;
                s.name = second;
                std::string size, vma;
                words >> size >> vma;
                s.virtual_size = hex(size);
                s.virtual_address = hex(vma) - image_base_;
                std::string flags;
                std::getline(in, flags);
                if (flags.find("CODE") != std::string::npos) s.characteristics = 0x20;
                sections_.push_back(s);
            } else if (part == imports && first == "DLL" && second == "Name:") {
                words >> dll;
                dlls_.push_back(dll);
                imports_[lower(dll)];
            } else if (part == imports && !dll.empty() && first != "vma:") {
                // "a148  277  DeleteCriticalSection": address, hint, name; descriptor rows have six words.
                std::string name, more;
                words >> name >> more;
                if (!name.empty() && more.empty() && second.find_first_not_of("0123456789") == std::string::npos)
                    imports_[lower(dll)].push_back(name);
            } else if (part == exports && !first.empty() && first.front() == '[') {
                // "[   0] +base[   1] 5a80 Export RVA"
                const std::size_t close = line.find(']');
                const uint32_t index = static_cast<uint32_t>(std::stoul(line.substr(line.find('[') + 1, close - line.find('[') - 1)));
                std::istringstream rest(line.substr(line.find(']', close + 1) + 1));
                std::string rva;
                rest >> rva;
                export_rvas[index] = hex(rva);
            } else if (part == export_names && !first.empty() && first.front() == '[') {
                const std::size_t close = line.find(']');
                const uint32_t index = static_cast<uint32_t>(std::stoul(line.substr(line.find('[') + 1, close - line.find('[') - 1)));
                std::istringstream rest(line.substr(close + 1));
                std::string name;
                rest >> name;
                exports_.push_back({name, export_rvas.at(index)});
            } else if (part == contents && line.size() > 10 && line[0] == ' ') {
                // " 6de05000 01000000 00000000 50010000 00000000  ........": the address, then
                // up to four groups of bytes in file order, then their text.
                const uint32_t address = hex(first) - image_base_;
                std::istringstream groups(line.substr(10, 35));
                uint32_t at = address;
                for (std::string group; groups >> group;)
                    for (std::size_t i = 0; i + 1 < group.size(); i += 2) bytes_[at++] = static_cast<uint8_t>(hex(group.substr(i, 2)));
            }
            if (first == "Name" && second != "Pointer" && part == export_header && export_name_.empty()) {
                std::string rva, name;
                std::istringstream(line) >> first >> rva >> name;
                if (!name.empty()) export_name_ = name;
            }
        }
        if (machine_ == 0) ADD_FAILURE() << path_ << ": objdump did not read it as a PE32 i386 file";
    }

    static std::string lower(std::string text) {
        for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    }

    uint8_t byte_at(uint32_t rva) const {
        const auto found = bytes_.find(rva);
        if (found == bytes_.end()) throw std::runtime_error("RVA " + std::to_string(rva) + " is not in the dumped sections");
        return found->second;
    }

    std::vector<std::pair<uint32_t, uint32_t>> entries(uint32_t directory) const {
        const uint32_t count = (u32_at(directory + 12) & 0xFFFF) + (u32_at(directory + 12) >> 16);
        std::vector<std::pair<uint32_t, uint32_t>> list;
        for (uint32_t i = 0; i < count; ++i) list.emplace_back(u32_at(directory + 16 + 8 * i), u32_at(directory + 20 + 8 * i));
        return list;
    }

    std::optional<uint32_t> bitmap_directory() const {
        if (resources_ == 0) return std::nullopt;
        for (const auto& [type, target] : entries(resources_))
            if (type == 2 && (target & 0x80000000u)) return resources_ + (target & 0x7FFFFFFFu);
        return std::nullopt;
    }

    // BITMAPINFOHEADER, palette, rows bottom-up (or top-down for a negative height).
    Picture decode(uint32_t rva, uint32_t size) const {
        Picture p;
        const uint32_t header_size = u32_at(rva);
        p.width = i32_at(rva + 4);
        const int32_t height = i32_at(rva + 8);
        p.height = height < 0 ? -height : height;
        p.bits_per_pixel = static_cast<int>(u32_at(rva + 14) & 0xFFFF);
        p.compression = u32_at(rva + 16);
        if (p.bits_per_pixel != 8 || p.compression != 0) return p;
        p.palette_size = u32_at(rva + 32) != 0 ? static_cast<int>(u32_at(rva + 32)) : 256;
        const uint32_t palette = rva + header_size;
        const uint32_t pixels = palette + 4 * static_cast<uint32_t>(p.palette_size);
        const uint32_t stride = (static_cast<uint32_t>(p.width) + 3) & ~3u;
        if (pixels + stride * static_cast<uint32_t>(p.height) > rva + size) throw std::runtime_error("bitmap runs past its resource");
        for (int y = 0; y < p.height; ++y) {
            const uint32_t row = pixels + stride * static_cast<uint32_t>(height > 0 ? p.height - 1 - y : y);
            for (int x = 0; x < p.width; ++x) {
                const uint32_t colour = u32_at(palette + 4 * byte_at(row + static_cast<uint32_t>(x)));  // B, G, R, 0
                p.pixels.push_back(colour & 0xFFFFFFu);
            }
        }
        return p;
    }

    std::filesystem::path path_;
    uint16_t machine_ = 0;
    uint32_t characteristics_ = 0;
    uint32_t timestamp_ = 0;
    uint32_t symbol_count_ = 0;
    uint32_t image_base_ = 0;
    uint32_t resources_ = 0;
    std::string export_name_;
    std::vector<Section> sections_;
    std::vector<Export> exports_;
    std::vector<std::string> dlls_;
    std::map<std::string, std::vector<std::string>> imports_;
    std::map<uint32_t, uint8_t> bytes_;
};

}  // namespace kestrel::testing
