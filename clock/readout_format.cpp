// Read-out formatting: wsprintfA of USER32 in the Windows module, so that the module
// needs no formatter of its own; in the native twin the plain formatter, which writes the
// clock's conversions as snprintf does, and snprintf itself for anything else.
#include "readout_format.h"

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <cstdio>

#include "plain_format.h"
#endif

#include "text.h"

namespace digital_clock {

namespace {
// Two 32-bit numbers of at most 11 characters each, a separator and the NUL fit with room
// to spare; wsprintfA writes at most 1024 bytes and is never given a longer format.
constexpr int scratch_size = 32;

#if !defined(_WIN32)
// A read-out's two numbers, in the order its format takes them.
struct TwoNumbers {
    int32_t numbers[2];
    int taken = 0;
    int32_t next_int() { return taken < 2 ? numbers[taken++] : 0; }
    uint32_t next_unsigned() { return static_cast<uint32_t>(next_int()); }
    double next_whole() const { return 0.5; }  // not a whole number: the general formatter
    const char* next_string() const { return nullptr; }
};
#endif
}  // namespace

void write_readout(StringElement& readout, const char* format, int32_t first, int32_t second) {
    char scratch[scratch_size];
#if defined(_WIN32)
    const int length = wsprintfA(scratch, format, first, second);
#else
    // The plain formatter writes what snprintf would, at a fraction of its cost.
    TwoNumbers arguments{{first, second}};
    int length = plain_format::format(scratch, sizeof scratch, format, arguments);
    if (length < 0) length = std::snprintf(scratch, sizeof scratch, format, first, second);
#endif
    // A text cut by the scratch buffer's end is too long for any read-out as well.
    put_readout_text(readout, scratch, length >= scratch_size ? -1 : length);
}

}  // namespace digital_clock
