// The Windows stand-ins of the native 32-bit host: the few KERNEL32, USER32 and msvcrt
// routines that a gauge module's C runtime start-up and formatting call, and the thread
// block that start-up code reads through the FS segment.
#include "windows_stand_ins.h"

#include "msvcrt_format.h"
#include "pe_image.h"

#if defined(__i386__) && !defined(_WIN32)

#include <asm/ldt.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cctype>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// Module code keeps the stack aligned to 4 bytes only; everything it calls here realigns.
#define WIN_STDCALL __attribute__((stdcall, force_align_arg_pointer))
#define WIN_CDECL __attribute__((cdecl, force_align_arg_pointer))

namespace kestrel::pe {
namespace {

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

}  // namespace

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

TlsArea tls_area() { return {tls_slots, tls_data, sizeof tls_data}; }

namespace {

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
// width and zero flag are the C library's. The clock's formats take the plain formatter,
// byte for byte what vsnprintf writes; anything else, or a text that does not fit, goes
// to vsnprintf itself.
int WIN_CDECL wsprintf_a(char* buffer, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    int length = msvcrt::format_plain(buffer, 1025, format, arguments, false);
    if (length < 0) length = std::vsnprintf(buffer, 1025, format, arguments);
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
    const int length = msvcrt::vsprintf(buffer, format, arguments);
    va_end(arguments);
    return length;
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

}  // namespace

const void* served_import(std::string_view dll, std::string_view name) {
    std::string lower_dll(dll);
    for (char& c : lower_dll) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const auto& served : served_imports)
        if (lower_dll == served.dll && name == served.name) return served.address;
    return nullptr;
}


}  // namespace kestrel::pe

#endif
