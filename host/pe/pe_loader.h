// Loads a real 32-bit Windows gauge module into the native 32-bit host, without Windows:
// the file is mapped and relocated, its few system imports are served by small stand-ins,
// and its load entry runs, so tests and the bench drive the very bytes that ship.
#pragma once

#include <cstddef>
#include <filesystem>
#include <utility>

namespace kestrel::pe {

struct MappedModule;

// Maps the module, serves its imports and runs its TLS callbacks and load entry.
// Throws PeError naming the file and the fault (an import this host does not serve,
// a relocation kind it does not know, a load entry that reports failure).
MappedModule* load_windows_module(const std::filesystem::path& path);
// The address of a named export, or nullptr.
void* windows_module_export(const MappedModule* module, const char* name);
// The mapped image: its first byte and its size.
std::pair<const unsigned char*, std::size_t> windows_module_image(const MappedModule* module);
// Runs the load entry for detach and unmaps the module.
void unload_windows_module(MappedModule* module) noexcept;

// True where this build can map Windows modules (a 32-bit x86 host that is not Windows).
constexpr bool can_map_windows_modules() {
#if defined(__i386__) && !defined(_WIN32)
    return true;
#else
    return false;
#endif
}

}  // namespace kestrel::pe
