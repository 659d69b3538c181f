// Loading a module: the file's header is checked before the platform loader sees it, so
// that a wrong file gives a clear message rather than a loader dialog or a crash.
#include "loader.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <system_error>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <link.h>

#include "pe_loader.h"
#endif

#include "module_headers.h"
#include "pe_image.h"
#include "records.h"

namespace kestrel {
namespace {

[[noreturn]] void fail(const std::filesystem::path& path, const std::string& what) {
    throw HostError(path.generic_string() + ": " + what);
}

#ifndef _WIN32
// The native host tells the two file kinds apart by their first bytes.
std::vector<unsigned char> read_head(const std::filesystem::path& path, std::size_t size) {
    std::ifstream file(path, std::ios::binary);
    if (!file) fail(path, "cannot be read");
    std::vector<unsigned char> head(size);
    file.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(size));
    head.resize(static_cast<std::size_t>(file.gcount()));
    return head;
}

#endif

// The PE reader checks the headers; a gauge module is an i386 library.
void check_windows_module_header(const std::filesystem::path& path) {
    try {
        if (const auto fault = windows_header_fault(pe::PeImage::read(path))) fail(path, *fault);
    } catch (const pe::PeError& error) {
        throw HostError(error.what());
    }
}

#ifdef _WIN32
void check_module_header(const std::filesystem::path& path) { check_windows_module_header(path); }

std::string last_error_text() {
    const DWORD code = GetLastError();
    char text[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        code, 0, text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    if (message.empty()) message = "error " + std::to_string(code);
    return message;
}

void* load_library(const std::filesystem::path& path) {
    // No "cannot load" dialog may stop an unattended run.
    const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE handle = LoadLibraryA(path.string().c_str());
    const std::string error = handle == nullptr ? last_error_text() : std::string();
    SetErrorMode(previous);
    if (handle == nullptr) fail(path, "cannot be loaded: " + error);
    return reinterpret_cast<void*>(handle);
}

void* find_symbol(void* handle, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

void free_library(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }

// The loaded image as its own headers give it: Windows loads a module at its handle.
std::pair<const unsigned char*, std::size_t> image_of(void* handle) {
    const auto* base = static_cast<const unsigned char*>(handle);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    return {base, nt->OptionalHeader.SizeOfImage};
}
#else
// The native host loads the twin as a shared object (ELF, 32-bit class, machine 3, a
// shared object) and, in its 32-bit build, the real Windows module through its own
// mapper, so that the very files that ship are driven here too.

void check_module_header(const std::filesystem::path& path) {
    if (is_windows_module_file(path)) {
        check_windows_module_header(path);
        if (!pe::can_map_windows_modules()) fail(path, "a Windows module is loaded only by the 32-bit host");
        return;
    }
    const auto head = read_head(path, elf_header_checked_bytes);
    if (const auto fault = elf_header_fault(head)) fail(path, *fault);
}

// What load_library hands back: exactly one of the two is set.
struct NativeLibrary {
    void* shared_object = nullptr;
    pe::MappedModule* windows_module = nullptr;
};

void* load_library(const std::filesystem::path& path) {
    if (is_windows_module_file(path)) {
        try {
            return new NativeLibrary{nullptr, pe::load_windows_module(path)};
        } catch (const pe::PeError& error) {
            throw HostError(error.what());
        }
    }
    dlerror();
    void* handle = dlopen(std::filesystem::absolute(path).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* error = dlerror();
        fail(path, std::string("cannot be loaded: ") + (error != nullptr ? error : "unknown error"));
    }
    return new NativeLibrary{handle, nullptr};
}

void* find_symbol(void* handle, const char* name) {
    const auto* library = static_cast<NativeLibrary*>(handle);
    return library->windows_module != nullptr ? pe::windows_module_export(library->windows_module, name)
                                              : dlsym(library->shared_object, name);
}

// The lowest to the highest byte of the loaded segments of the shared object whose
// load address is `base`.
struct SegmentSpan {
    ElfW(Addr) base;
    uintptr_t low = UINTPTR_MAX;
    uintptr_t high = 0;
};

int span_segments(dl_phdr_info* info, std::size_t, void* context) {
    auto& span = *static_cast<SegmentSpan*>(context);
    if (info->dlpi_addr != span.base) return 0;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const auto& header = info->dlpi_phdr[i];
        if (header.p_type != PT_LOAD) continue;
        span.low = std::min<uintptr_t>(span.low, info->dlpi_addr + header.p_vaddr);
        span.high = std::max<uintptr_t>(span.high, info->dlpi_addr + header.p_vaddr + header.p_memsz);
    }
    return 1;
}

std::pair<const unsigned char*, std::size_t> image_of(void* handle) {
    const auto* library = static_cast<NativeLibrary*>(handle);
    if (library->windows_module != nullptr) return pe::windows_module_image(library->windows_module);
    link_map* map = nullptr;
    if (dlinfo(library->shared_object, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) return {nullptr, 0};
    SegmentSpan span{map->l_addr};
    dl_iterate_phdr(span_segments, &span);
    if (span.low >= span.high) return {nullptr, 0};
    return {reinterpret_cast<const unsigned char*>(span.low), span.high - span.low};
}

void free_library(void* handle) {
    auto* library = static_cast<NativeLibrary*>(handle);
    if (library->windows_module != nullptr)
        pe::unload_windows_module(library->windows_module);
    else
        dlclose(library->shared_object);
    delete library;
}
#endif

}  // namespace

std::string gauge_name_of(const GaugeHeader& header) {
    return header.gauge_name != nullptr ? std::string(header.gauge_name) : std::string("(no name)");
}

LoadedModule LoadedModule::open(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::exists(path, error)) fail(path, "no such file");
    if (!std::filesystem::is_regular_file(path, error)) fail(path, "not a regular file");
    check_module_header(path);

    LoadedModule module;
    module.path_ = path;
    module.handle_ = load_library(path);
    // From here the destructor unloads the library if a check below throws.
    void* linkage = find_symbol(module.handle_, "Linkage");
    if (linkage == nullptr) fail(path, "exports no Linkage record");
    void* import_table = find_symbol(module.handle_, "ImportTable");
    if (import_table == nullptr) fail(path, "exports no ImportTable record");
    const auto [image, image_size] = image_of(module.handle_);
    if (image == nullptr) fail(path, "the loaded image cannot be located");
    module.image_begin_ = image;
    module.image_end_ = image + image_size;
    const RecordBounds bounds{module.image_begin_, module.image_end_};
    try {
        module.linkage_ = bounds.check(static_cast<const LinkageHead*>(linkage), "Linkage");
        module.import_table_ = const_cast<ImportTableRecord*>(
            bounds.check(static_cast<const ImportTableRecord*>(import_table), "ImportTable"));
        // Each gauge's name, where it has one, lies inside the image too.
        module.gauges_ = read_gauge_table(*module.linkage_, bounds);
        for (std::size_t i = 0; i < module.gauges_.size(); ++i) {
            if (const char* name = module.gauges_[i]->gauge_name)
                bounds.string(name, max_record_text, "Linkage gauge table entry " + std::to_string(i) + " name");
        }
    } catch (const HostError& error) {
        fail(path, error.what());  // names the file once, before the record at fault
    }
    return module;
}

LoadedModule::LoadedModule(LoadedModule&& other) noexcept
    : path_(std::move(other.path_)),
      handle_(std::exchange(other.handle_, nullptr)),
      linkage_(std::exchange(other.linkage_, nullptr)),
      import_table_(std::exchange(other.import_table_, nullptr)),
      gauges_(std::move(other.gauges_)),
      image_begin_(std::exchange(other.image_begin_, nullptr)),
      image_end_(std::exchange(other.image_end_, nullptr)),
      init_run_(std::exchange(other.init_run_, false)) {}

LoadedModule& LoadedModule::operator=(LoadedModule&& other) noexcept {
    if (this != &other) {
        unload();
        path_ = std::move(other.path_);
        handle_ = std::exchange(other.handle_, nullptr);
        linkage_ = std::exchange(other.linkage_, nullptr);
        import_table_ = std::exchange(other.import_table_, nullptr);
        gauges_ = std::move(other.gauges_);
        image_begin_ = std::exchange(other.image_begin_, nullptr);
        image_end_ = std::exchange(other.image_end_, nullptr);
        init_run_ = std::exchange(other.init_run_, false);
    }
    return *this;
}

LoadedModule::~LoadedModule() { unload(); }

void LoadedModule::unload() noexcept {
    if (handle_ == nullptr) return;
    if (init_run_ && linkage_ != nullptr && linkage_->module_deinit != nullptr) linkage_->module_deinit();
    free_library(handle_);
    handle_ = nullptr;
    linkage_ = nullptr;
    import_table_ = nullptr;
    gauges_.clear();
    image_begin_ = image_end_ = nullptr;
    init_run_ = false;
}

std::vector<std::string> LoadedModule::gauge_names() const {
    std::vector<std::string> names;
    for (const GaugeHeader* header : gauges_) names.push_back(gauge_name_of(*header));
    return names;
}

GaugeHeader& LoadedModule::gauge(std::string_view name) const {
    for (GaugeHeader* header : gauges_)
        if (header->gauge_name != nullptr && name == header->gauge_name) return *header;
    std::string known;
    for (const std::string& each : gauge_names()) known += (known.empty() ? "" : ", ") + ("\"" + each + "\"");
    fail(path_, "no gauge named \"" + std::string(name) + "\" (it has " + (known.empty() ? "no gauges" : known) + ")");
}

void LoadedModule::run_module_init() {
    if (init_run_) return;
    if (linkage_->module_init == nullptr) fail(path_, "Linkage.module_init is NULL");
    linkage_->module_init();
    init_run_ = true;
}

}  // namespace kestrel
