// Fuzz target for the readers of module files that users hand `kestrel-host inspect`:
// the Windows module reader and the stored-module listing. Any bytes must give a result
// or one refusal (PeError or HostError), never a crash, an out-of-bounds read or a hang.
#include <cstdint>
#include <sstream>
#include <vector>

#include "loader.h"
#include "pe_image.h"
#if UINTPTR_MAX == 0xFFFFFFFFu
#include "module_listing.h"
#include "stored_module.h"
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::vector<uint8_t> bytes(data, data + size);
    try {
        const auto image = kestrel::pe::PeImage::from_bytes("fuzz.gau", bytes);
        (void)image.export_name();
        (void)image.exports();
        (void)image.imported_dlls();
        (void)image.imported_routines();
        (void)image.relocation_sites();
        (void)image.tls();
    } catch (const kestrel::pe::PeError&) {
    }
#if UINTPTR_MAX == 0xFFFFFFFFu
    // The listing reads 32-bit records in place, so it runs in the 32-bit build only.
    try {
        const auto module = kestrel::StoredModule::from_bytes("fuzz.gau", bytes);
        std::ostringstream listing;
        kestrel::inspect(module, listing);
    } catch (const kestrel::HostError&) {
    }
#endif
    return 0;
}
