// The Windows module mapper of the native 32-bit host. Everything it follows in the file
// (sections, base relocations, imports, TLS, exports) comes from the PE reader, which has
// checked it against the file and the image; the mapper copies, relocates, binds the
// imports to the stand-ins and runs the module's TLS callbacks and load entry.
#include "pe_loader.h"

#include "pe_image.h"
#include "windows_stand_ins.h"

#if defined(__i386__) && !defined(_WIN32)

#include <sys/mman.h>

#include <cstring>
#include <map>
#include <string>

namespace kestrel::pe {

struct MappedModule {
    std::filesystem::path path;
    uint8_t* base = nullptr;
    uint32_t size = 0;
    uint32_t entry_rva = 0;                // 0: no load entry
    std::map<std::string, uint32_t> exports;  // name to RVA, each inside the image
};

namespace {

#define WIN_STDCALL __attribute__((stdcall))
using EntryPoint = int(WIN_STDCALL*)(void* instance, uint32_t reason, void* reserved);
constexpr uint32_t dll_process_detach = 0;
constexpr uint32_t dll_process_attach = 1;

class Mapping {
public:
    explicit Mapping(const PeImage& file) : file_(file) {}

    [[noreturn]] void fail(const std::string& what) const { throw PeError(file_.path().generic_string() + ": " + what); }

    // An address inside the mapped image; the reader has checked every RVA handed here,
    // this is the second line of defence.
    uint8_t* image(uint32_t rva, uint32_t size) const {
        if (rva > image_size_ || size > image_size_ - rva) fail("reference outside the image at RVA " + std::to_string(rva));
        return base_ + rva;
    }

    MappedModule* map() {
        if (file_.machine() != machine_i386) fail("not a 32-bit x86 module");
        image_size_ = file_.size_of_image();
        const uint32_t entry = file_.entry_point_rva();
        if (entry != 0 && !file_.is_code(entry)) fail("its load entry does not lie in a code section");
        // Everything the mapping follows is read and checked before any byte is mapped.
        const std::vector<uint32_t> relocations = file_.relocation_sites();
        const std::vector<ImportedRoutine> imports = file_.imported_routines();
        const std::optional<TlsDirectory> tls = file_.tls();
        std::map<std::string, uint32_t> exports;
        for (const Export& e : file_.exports()) exports.emplace(e.name, e.rva);

        void* wanted = reinterpret_cast<void*>(file_.image_base());
        void* mapped = mmap(wanted, image_size_, PROT_READ | PROT_WRITE | PROT_EXEC,
                            MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
        if (mapped == MAP_FAILED)
            mapped = mmap(nullptr, image_size_, PROT_READ | PROT_WRITE | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED) fail("cannot map " + std::to_string(image_size_) + " bytes for the image");
        base_ = static_cast<uint8_t*>(mapped);
        auto module = new MappedModule{file_.path(), base_, image_size_, entry, std::move(exports)};
        try {
            file_.lay_out({base_, image_size_});
            relocate(relocations, reinterpret_cast<uint32_t>(base_) - file_.image_base());
            bind_imports(imports);
            install_thread_block();
            run_attach(tls);
        } catch (...) {
            munmap(base_, image_size_);
            delete module;
            throw;
        }
        return module;
    }

private:
    void relocate(const std::vector<uint32_t>& sites, uint32_t delta) {
        if (delta == 0) return;
        if (file_.directory(relocation_directory).rva == 0)
            fail("has no relocations and cannot be mapped at its preferred base");
        for (const uint32_t site : sites) {
            uint8_t* target = image(site, 4);
            uint32_t value;
            std::memcpy(&value, target, 4);
            value += delta;
            std::memcpy(target, &value, 4);
        }
    }

    void bind_imports(const std::vector<ImportedRoutine>& imports) {
        for (const ImportedRoutine& routine : imports) {
            std::string dll = routine.dll;
            for (char& c : dll) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (routine.by_ordinal)
                fail("imports " + dll + " ordinal " + std::to_string(routine.ordinal) + ", which this host does not serve");
            const void* address = served_import(dll, routine.name);
            if (address == nullptr) fail("imports " + dll + "!" + routine.name + ", which this host does not serve");
            const uint32_t word = reinterpret_cast<uint32_t>(address);
            std::memcpy(image(routine.address_slot, 4), &word, 4);
        }
    }

    // TLS callbacks run before the load entry, as the system loader runs them.
    void run_attach(const std::optional<TlsDirectory>& tls) {
        if (tls) {
            const TlsArea area = tls_area();
            if (tls->template_size > area.data_size) fail("TLS template larger than this host serves");
            if (tls->template_size != 0)
                std::memcpy(area.data, image(tls->template_rva, tls->template_size), tls->template_size);
            area.slots[0] = reinterpret_cast<uint32_t>(area.data);
            if (tls->index_slot != 0) std::memset(image(tls->index_slot, 4), 0, 4);
            for (const uint32_t callback : tls->callbacks)
                reinterpret_cast<EntryPoint>(image(callback, 1))(base_, dll_process_attach, nullptr);
        }
        const uint32_t entry = file_.entry_point_rva();
        if (entry != 0 && reinterpret_cast<EntryPoint>(image(entry, 1))(base_, dll_process_attach, nullptr) == 0)
            fail("its load entry reported failure");
    }

    const PeImage& file_;
    uint8_t* base_ = nullptr;
    uint32_t image_size_ = 0;
};

}  // namespace

MappedModule* load_windows_module(const std::filesystem::path& path) {
    const PeImage file = PeImage::read(path);
    return Mapping(file).map();
}

void* windows_module_export(const MappedModule* module, const char* name) {
    const auto found = module->exports.find(name);
    if (found == module->exports.end() || found->second == 0 || found->second >= module->size) return nullptr;
    return module->base + found->second;
}

std::pair<const unsigned char*, std::size_t> windows_module_image(const MappedModule* module) {
    return {module->base, module->size};
}

void unload_windows_module(MappedModule* module) noexcept {
    if (module == nullptr) return;
    if (module->entry_rva != 0)
        reinterpret_cast<EntryPoint>(module->base + module->entry_rva)(module->base, dll_process_detach, nullptr);
    munmap(module->base, module->size);
    delete module;
}

}  // namespace kestrel::pe

#else

namespace kestrel::pe {

MappedModule* load_windows_module(const std::filesystem::path& path) {
    throw PeError(path.generic_string() + ": a Windows module is loaded only by the 32-bit host");
}
void* windows_module_export(const MappedModule*, const char*) { return nullptr; }
std::pair<const unsigned char*, std::size_t> windows_module_image(const MappedModule*) { return {nullptr, 0}; }
void unload_windows_module(MappedModule*) noexcept {}

}  // namespace kestrel::pe

#endif
