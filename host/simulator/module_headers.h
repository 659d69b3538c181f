// The first check of a module file, before anything of it is read further: a gauge
// module is either a 32-bit little-endian i386 shared object (the twin) or a 32-bit x86
// Windows library. The loader and the static reader both judge files here.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

#include "pe_image.h"

namespace kestrel {

// Bytes of an ELF header the check reads.
inline constexpr std::size_t elf_header_checked_bytes = 20;

bool is_elf(std::span<const uint8_t> head);
// Whether the file begins as a Windows module does ("MZ"); false if it cannot be read.
bool is_windows_module_file(const std::filesystem::path& path);
// Why an ELF file's header is not that of a gauge module's twin, or nullopt when it is.
std::optional<std::string> elf_header_fault(std::span<const uint8_t> head);
// Why a Windows module's headers are not those of a gauge module, or nullopt.
std::optional<std::string> windows_header_fault(const pe::PeImage& image);

}  // namespace kestrel
