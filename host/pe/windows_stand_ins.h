// The Windows stand-ins of the native 32-bit host: the system routines a gauge module may
// import, and the thread block its start-up code reads. Used by the mapper alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kestrel::pe {

// The stand-in for dll!name (the DLL name in any letter case), or nullptr when this host
// does not serve it.
const void* served_import(std::string_view dll, std::string_view name);

// Gives the calling thread the block that start-up code reads through FS (once).
// Throws PeError when the kernel refuses.
void install_thread_block();

// The TLS block of the one thread that calls into modules.
struct TlsArea {
    uint32_t* slots;
    uint8_t* data;
    std::size_t data_size;
};
TlsArea tls_area();

}  // namespace kestrel::pe
