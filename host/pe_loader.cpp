// The Windows module mapper of the native 32-bit host. A gauge module needs little of
// Windows: its C runtime start-up asks for a handful of KERNEL32 and msvcrt routines, the
// clock formats with USER32's wsprintfA, and the start-up reads the thread block through
// the FS segment. Each of these is served here; anything else is refused by name.
#include "pe_loader.h"

#include "msvcrt_format.h"
#include "pe_image.h"

#if defined(__i386__) && !defined(_WIN32)

#include <asm/ldt.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// Module code keeps the stack aligned to 4 bytes only; everything it calls here realigns.
#define WIN_STDCALL __attribute__((stdcall, force_align_arg_pointer))
#define WIN_CDECL __attribute__((cdecl, force_align_arg_pointer))

namespace kestrel::pe {

struct MappedModule {
    std::filesystem::path path;
    uint8_t* base = nullptr;
    uint32_t size = 0;
    uint32_t entry_rva = 0;
    uint32_t export_rva = 0;
};

namespace {

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t le32(const uint8_t* p) { uint32_t v; std::memcpy(&v, p, 4); return v; }

// ---- The thread block that start-up code reads through FS --------------------------

struct FakeThreadBlock {
    uint32_t exception_list = 0xFFFFFFFF;  // 0x00: end of the handler chain
    uint32_t stack_base = 0;               // 0x04: start-up uses it as this thread's id
    uint32_t stack_limit = 0;              // 0x08
    uint32_t words_0c[3] = {};             // 0x0C
    uint32_t self = 0;                     // 0x18: linear address of this block
    uint32_t words_1c[4] = {};             // 0x1C
    uint32_t tls_pointer = 0;              // 0x2C: per-module TLS blocks
    uint8_t rest[4096 - 0x30] = {};
};
static_assert(offsetof(FakeThreadBlock, self) == 0x18);
static_assert(offsetof(FakeThreadBlock, tls_pointer) == 0x2C);

FakeThreadBlock thread_block;
uint32_t tls_slots[64];
uint8_t tls_data[4096];

// glibc keeps its own thread pointer in GS, so FS is free to address the block.
void install_thread_block() {
    static bool installed = false;
    if (installed) return;
    thread_block.self = reinterpret_cast<uint32_t>(&thread_block);
    thread_block.stack_base = reinterpret_cast<uint32_t>(&thread_block) + sizeof thread_block;
    thread_block.stack_limit = reinterpret_cast<uint32_t>(&thread_block);
    thread_block.tls_pointer = reinterpret_cast<uint32_t>(tls_slots);
    user_desc descriptor{};
    descriptor.entry_number = static_cast<unsigned>(-1);
    descriptor.base_addr = reinterpret_cast<unsigned>(&thread_block);
    descriptor.limit = sizeof thread_block - 1;
    descriptor.seg_32bit = 1;
    descriptor.useable = 1;
    if (syscall(SYS_set_thread_area, &descriptor) != 0)
        throw PeError("cannot give Windows modules a thread block: set_thread_area failed");
    const uint16_t selector = static_cast<uint16_t>((descriptor.entry_number << 3) | 3);
    asm volatile("movw %0, %%fs" : : "r"(selector));
    installed = true;
}

// ---- KERNEL32 ------------------------------------------------------------------------

// One thread calls into the modules, so the critical sections have nothing to guard.
void WIN_STDCALL critical_section_noop(void*) {}
int WIN_STDCALL free_library(void*) { return 1; }
uint32_t WIN_STDCALL get_last_error() { return 0; }
// No other module is loaded: start-up code then uses its own fallbacks.
void* WIN_STDCALL get_module_handle_a(const char*) { return nullptr; }
void* WIN_STDCALL get_proc_address(void*, const char*) { return nullptr; }
void* WIN_STDCALL load_library_a(const char*) { return nullptr; }
void WIN_STDCALL sleep_ms(uint32_t milliseconds) { usleep(milliseconds * 1000u); }
void* WIN_STDCALL tls_get_value(uint32_t) { return nullptr; }

constexpr uint32_t page_execute_readwrite = 0x40;
// The image is mapped readable, writable and executable throughout.
int WIN_STDCALL virtual_protect(void*, uint32_t, uint32_t, uint32_t* old_protection) {
    if (old_protection != nullptr) *old_protection = page_execute_readwrite;
    return 1;
}

struct MemoryBasicInformation {
    uint32_t base_address, allocation_base, allocation_protect, region_size, state, protect, type;
};
uint32_t WIN_STDCALL virtual_query(const void* address, MemoryBasicInformation* info, uint32_t length) {
    if (info == nullptr || length < sizeof *info) return 0;
    const uint32_t page = reinterpret_cast<uint32_t>(address) & ~0xFFFu;
    *info = {page, page, page_execute_readwrite, 0x1000, 0x1000 /* committed */, page_execute_readwrite,
             0x1000000 /* image */};
    return sizeof *info;
}

// ---- USER32 --------------------------------------------------------------------------

// wsprintfA writes at most 1024 characters and the NUL; its decimal conversions with
// width and zero flag are the C library's.
int WIN_CDECL wsprintf_a(char* buffer, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(buffer, 1025, format, arguments);
    va_end(arguments);
    return length > 1024 ? 1024 : length;
}

// ---- msvcrt --------------------------------------------------------------------------

// msvcrt's FILE records are 32 bytes; start-up only hands &_iob[2] back to fwrite.
uint8_t msvcrt_iob[3 * 32];

void WIN_CDECL amsg_exit(int code) {
    std::fprintf(stderr, "Windows module: C runtime error %d\n", code);
    std::abort();
}
using InitTermFunction = void(WIN_CDECL*)();
void WIN_CDECL initterm(InitTermFunction* begin, InitTermFunction* end) {
    for (; begin < end; ++begin)
        if (*begin != nullptr) (*begin)();
}
void WIN_CDECL lock_noop(int) {}
void WIN_CDECL abort_module() { std::abort(); }
void* WIN_CDECL calloc_module(std::size_t count, std::size_t size) { return std::calloc(count, size); }
void* WIN_CDECL malloc_module(std::size_t size) { return std::malloc(size); }
void* WIN_CDECL realloc_module(void* block, std::size_t size) { return std::realloc(block, size); }
void WIN_CDECL free_module(void* block) { std::free(block); }
void* WIN_CDECL memset_module(void* target, int value, std::size_t size) { return std::memset(target, value, size); }
void* WIN_CDECL memcpy_module(void* target, const void* source, std::size_t size) {
    return std::memcpy(target, source, size);
}
std::size_t WIN_CDECL strlen_module(const char* text) { return std::strlen(text); }
int WIN_CDECL strncmp_module(const char* a, const char* b, std::size_t n) { return std::strncmp(a, b, n); }
// Module output to any of its streams goes to the host's standard error.
std::size_t WIN_CDECL fwrite_module(const void* data, std::size_t size, std::size_t count, void*) {
    return std::fwrite(data, size, count, stderr);
}
int WIN_CDECL vfprintf_module(void*, const char* format, va_list arguments) {
    return std::vfprintf(stderr, format, arguments);
}
// msvcrt's sprintf has no bound; the module's own callers bound what they format. It
// rounds as MSVCRT.dll does, and reads a double as the 8 bytes the module pushed.
int WIN_CDECL sprintf_module(char* buffer, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const std::string text = msvcrt::vformat(format, arguments);
    va_end(arguments);
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<int>(text.size());
}

struct ServedImport {
    const char* dll;  // lower case
    const char* name;
    const void* address;
};

const ServedImport served_imports[] = {
    {"kernel32.dll", "DeleteCriticalSection", reinterpret_cast<const void*>(critical_section_noop)},
    {"kernel32.dll", "EnterCriticalSection", reinterpret_cast<const void*>(critical_section_noop)},
    {"kernel32.dll", "InitializeCriticalSection", reinterpret_cast<const void*>(critical_section_noop)},
    {"kernel32.dll", "LeaveCriticalSection", reinterpret_cast<const void*>(critical_section_noop)},
    {"kernel32.dll", "FreeLibrary", reinterpret_cast<const void*>(free_library)},
    {"kernel32.dll", "GetLastError", reinterpret_cast<const void*>(get_last_error)},
    {"kernel32.dll", "GetModuleHandleA", reinterpret_cast<const void*>(get_module_handle_a)},
    {"kernel32.dll", "GetProcAddress", reinterpret_cast<const void*>(get_proc_address)},
    {"kernel32.dll", "LoadLibraryA", reinterpret_cast<const void*>(load_library_a)},
    {"kernel32.dll", "Sleep", reinterpret_cast<const void*>(sleep_ms)},
    {"kernel32.dll", "TlsGetValue", reinterpret_cast<const void*>(tls_get_value)},
    {"kernel32.dll", "VirtualProtect", reinterpret_cast<const void*>(virtual_protect)},
    {"kernel32.dll", "VirtualQuery", reinterpret_cast<const void*>(virtual_query)},
    {"user32.dll", "wsprintfA", reinterpret_cast<const void*>(wsprintf_a)},
    {"msvcrt.dll", "_amsg_exit", reinterpret_cast<const void*>(amsg_exit)},
    {"msvcrt.dll", "_initterm", reinterpret_cast<const void*>(initterm)},
    {"msvcrt.dll", "_iob", msvcrt_iob},
    {"msvcrt.dll", "_lock", reinterpret_cast<const void*>(lock_noop)},
    {"msvcrt.dll", "_unlock", reinterpret_cast<const void*>(lock_noop)},
    {"msvcrt.dll", "abort", reinterpret_cast<const void*>(abort_module)},
    {"msvcrt.dll", "calloc", reinterpret_cast<const void*>(calloc_module)},
    {"msvcrt.dll", "malloc", reinterpret_cast<const void*>(malloc_module)},
    {"msvcrt.dll", "realloc", reinterpret_cast<const void*>(realloc_module)},
    {"msvcrt.dll", "free", reinterpret_cast<const void*>(free_module)},
    {"msvcrt.dll", "memset", reinterpret_cast<const void*>(memset_module)},
    {"msvcrt.dll", "memcpy", reinterpret_cast<const void*>(memcpy_module)},
    {"msvcrt.dll", "strlen", reinterpret_cast<const void*>(strlen_module)},
    {"msvcrt.dll", "strncmp", reinterpret_cast<const void*>(strncmp_module)},
    {"msvcrt.dll", "fwrite", reinterpret_cast<const void*>(fwrite_module)},
    {"msvcrt.dll", "vfprintf", reinterpret_cast<const void*>(vfprintf_module)},
    {"msvcrt.dll", "sprintf", reinterpret_cast<const void*>(sprintf_module)},
};

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

using EntryPoint = int(WIN_STDCALL*)(void* instance, uint32_t reason, void* reserved);
constexpr uint32_t dll_process_detach = 0;
constexpr uint32_t dll_process_attach = 1;

class Mapping {
public:
    Mapping(const std::filesystem::path& path, std::vector<uint8_t> file) : path_(path), file_(std::move(file)) {}

    [[noreturn]] void fail(const std::string& what) const { throw PeError(path_.string() + ": " + what); }

    const uint8_t* at(std::size_t offset, std::size_t size) const {
        if (offset > file_.size() || size > file_.size() - offset) fail("truncated at file offset " + std::to_string(offset));
        return file_.data() + offset;
    }
    // An address inside the mapped image, checked against its size.
    uint8_t* image(uint32_t rva, uint32_t size) const {
        if (rva > image_size_ || size > image_size_ - rva) fail("reference outside the image at RVA " + std::to_string(rva));
        return base_ + rva;
    }

    MappedModule* map() {
        const uint32_t pe = le32(at(0x3C, 4));
        const uint8_t* file_header = at(pe + 4, 20);
        const uint16_t section_count = le16(file_header + 2);
        const uint16_t optional_size = le16(file_header + 16);
        const uint8_t* opt = at(pe + 24, optional_size);
        if (optional_size < 96 + 16 * 8) fail("optional header too small to hold its directories");
        const uint32_t preferred_base = le32(opt + 28);
        image_size_ = le32(opt + 56);
        const uint32_t header_size = le32(opt + 60);
        auto directory = [&](int index) { return std::pair{le32(opt + 96 + 8 * index), le32(opt + 100 + 8 * index)}; };

        void* wanted = reinterpret_cast<void*>(preferred_base);
        void* mapped = mmap(wanted, image_size_, PROT_READ | PROT_WRITE | PROT_EXEC,
                            MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
        if (mapped == MAP_FAILED)
            mapped = mmap(nullptr, image_size_, PROT_READ | PROT_WRITE | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED) fail("cannot map " + std::to_string(image_size_) + " bytes for the image");
        base_ = static_cast<uint8_t*>(mapped);
        auto module = new MappedModule{path_, base_, image_size_, le32(opt + 16), directory(0).first};
        try {
            std::memcpy(image(0, header_size), at(0, header_size), header_size);
            const uint8_t* sections = at(pe + 24 + optional_size, 40u * section_count);
            for (uint16_t i = 0; i < section_count; ++i) {
                const uint8_t* s = sections + 40 * i;
                const uint32_t rva = le32(s + 12), raw_size = le32(s + 16), raw_offset = le32(s + 20);
                const uint32_t virtual_size = le32(s + 8);
                const uint32_t copied = std::min(raw_size, virtual_size != 0 ? virtual_size : raw_size);
                if (copied != 0) std::memcpy(image(rva, copied), at(raw_offset, copied), copied);
            }
            relocate(directory(5), reinterpret_cast<uint32_t>(base_) - preferred_base);
            bind_imports(directory(1).first);
            install_thread_block();
            run_attach(directory(9).first, module->entry_rva);
        } catch (...) {
            munmap(base_, image_size_);
            delete module;
            throw;
        }
        return module;
    }

private:
    void relocate(std::pair<uint32_t, uint32_t> table, uint32_t delta) {
        if (delta == 0) return;
        if (table.first == 0) fail("has no relocations and cannot be mapped at its preferred base");
        for (uint32_t offset = 0; offset + 8 <= table.second;) {
            const uint8_t* block = image(table.first + offset, 8);
            const uint32_t page = le32(block), block_size = le32(block + 4);
            if (block_size < 8 || offset + block_size > table.second) fail("malformed relocation block");
            for (uint32_t entry = 8; entry + 2 <= block_size; entry += 2) {
                const uint16_t word = le16(image(table.first + offset + entry, 2));
                const unsigned kind = word >> 12;
                if (kind == 0) continue;  // padding
                if (kind != 3) fail("relocation kind " + std::to_string(kind) + " is not a 32-bit address");
                uint8_t* target = image(page + (word & 0xFFFu), 4);
                const uint32_t value = le32(target) + delta;
                std::memcpy(target, &value, 4);
            }
            offset += block_size;
        }
    }

    void bind_imports(uint32_t descriptors) {
        if (descriptors == 0) return;
        for (uint32_t d = descriptors;; d += 20) {
            const uint8_t* descriptor = image(d, 20);
            const uint32_t name_rva = le32(descriptor + 12);
            if (name_rva == 0) break;
            const std::string dll = lower(reinterpret_cast<const char*>(image(name_rva, 1)));
            const uint32_t lookup = le32(descriptor) != 0 ? le32(descriptor) : le32(descriptor + 16);
            const uint32_t address_table = le32(descriptor + 16);
            for (uint32_t i = 0;; ++i) {
                const uint32_t thunk = le32(image(lookup + 4 * i, 4));
                if (thunk == 0) break;
                if (thunk & 0x80000000u) fail("imports " + dll + " ordinal " + std::to_string(thunk & 0xFFFF) + ", which this host does not serve");
                const std::string name = reinterpret_cast<const char*>(image(thunk + 2, 1));
                const void* address = nullptr;
                for (const auto& served : served_imports)
                    if (dll == served.dll && name == served.name) address = served.address;
                if (address == nullptr) fail("imports " + dll + "!" + name + ", which this host does not serve");
                const uint32_t word = reinterpret_cast<uint32_t>(address);
                std::memcpy(image(address_table + 4 * i, 4), &word, 4);
            }
        }
    }

    // TLS callbacks run before the load entry, as the system loader runs them.
    void run_attach(uint32_t tls_directory, uint32_t entry_rva) {
        const uint32_t base = reinterpret_cast<uint32_t>(base_);
        if (tls_directory != 0) {
            const uint8_t* tls = image(tls_directory, 24);
            const uint32_t start = le32(tls), end = le32(tls + 4), index = le32(tls + 8), callbacks = le32(tls + 12);
            if (end < start || end - start > sizeof tls_data) fail("TLS template larger than this host serves");
            if (end > start) std::memcpy(tls_data, reinterpret_cast<const void*>(start), end - start);
            tls_slots[0] = reinterpret_cast<uint32_t>(tls_data);
            if (index != 0) std::memset(image(index - base, 4), 0, 4);
            for (uint32_t c = callbacks; c != 0; c += 4) {
                const uint32_t callback = le32(image(c - base, 4));
                if (callback == 0) break;
                reinterpret_cast<EntryPoint>(callback)(base_, dll_process_attach, nullptr);
            }
        }
        if (entry_rva != 0 && reinterpret_cast<EntryPoint>(image(entry_rva, 1))(base_, dll_process_attach, nullptr) == 0)
            fail("its load entry reported failure");
    }

    std::filesystem::path path_;
    std::vector<uint8_t> file_;
    uint8_t* base_ = nullptr;
    uint32_t image_size_ = 0;
};

}  // namespace

MappedModule* load_windows_module(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw PeError(path.string() + ": cannot be read");
    std::vector<uint8_t> file(std::istreambuf_iterator<char>(in), {});
    return Mapping(path, std::move(file)).map();
}

void* windows_module_export(const MappedModule* module, const char* name) {
    if (module->export_rva == 0) return nullptr;
    const uint8_t* base = module->base;
    auto word = [&](uint32_t rva) -> uint32_t {
        if (rva > module->size - 4) return 0;
        return le32(base + rva);
    };
    const uint32_t directory = module->export_rva;
    const uint32_t name_count = word(directory + 24), functions = word(directory + 28);
    const uint32_t names = word(directory + 32), ordinals = word(directory + 36);
    for (uint32_t i = 0; i < name_count && i < 65536; ++i) {
        const uint32_t name_rva = word(names + 4 * i);
        if (name_rva == 0 || name_rva >= module->size) continue;
        if (std::strncmp(reinterpret_cast<const char*>(base + name_rva), name, module->size - name_rva) != 0) continue;
        if (ordinals + 2 * i + 2 > module->size) return nullptr;
        const uint16_t ordinal = le16(base + ordinals + 2 * i);
        const uint32_t rva = word(functions + 4 * ordinal);
        return rva != 0 && rva < module->size ? module->base + rva : nullptr;
    }
    return nullptr;
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
    throw PeError(path.string() + ": a Windows module is loaded only by the 32-bit host");
}
void* windows_module_export(const MappedModule*, const char*) { return nullptr; }
void unload_windows_module(MappedModule*) noexcept {}

}  // namespace kestrel::pe

#endif
