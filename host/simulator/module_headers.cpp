// Header checks of the two module kinds, with the value found in every message.
#include "module_headers.h"

#include <cstdio>
#include <cstring>
#include <fstream>

namespace kestrel {
namespace {

constexpr uint8_t elf_class_32 = 1;
constexpr uint8_t elf_little_endian = 1;
constexpr uint32_t elf_machine_i386 = 3;
constexpr uint32_t elf_type_shared_object = 3;

uint32_t le16(std::span<const uint8_t> bytes, std::size_t at) { return bytes[at] | uint32_t{bytes[at + 1]} << 8; }

}  // namespace

bool is_windows_module_file(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    char head[2] = {};
    return file.read(head, sizeof head) && head[0] == 'M' && head[1] == 'Z';
}

bool is_elf(std::span<const uint8_t> head) { return head.size() >= 4 && std::memcmp(head.data(), "\x7F" "ELF", 4) == 0; }

std::optional<std::string> elf_header_fault(std::span<const uint8_t> head) {
    if (!is_elf(head) || head.size() < elf_header_checked_bytes)
        return "not a module (neither a shared object nor a Windows module)";
    if (head[4] != elf_class_32) return "not a 32-bit shared object (ELF class " + std::to_string(head[4]) + ")";
    if (head[5] != elf_little_endian) return "not a little-endian shared object";
    if (le16(head, 18) != elf_machine_i386) return "not an i386 shared object (machine " + std::to_string(le16(head, 18)) + ")";
    if (le16(head, 16) != elf_type_shared_object) return "not a shared object (ELF type " + std::to_string(le16(head, 16)) + ")";
    return std::nullopt;
}

std::optional<std::string> windows_header_fault(const pe::PeImage& image) {
    if (image.machine() != pe::machine_i386) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%X", image.machine());
        return std::string("not a 32-bit x86 module (machine ") + hex + ")";
    }
    if (!image.is_dll()) return "not a library (a Windows program)";
    return std::nullopt;
}

}  // namespace kestrel
