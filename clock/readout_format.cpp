// Read-out formatting: wsprintfA of USER32 in the Windows module, so that the module
// needs no formatter of its own; snprintf in the native twin, which treats the clock's
// conversions the same way.
#include "readout_format.h"

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <cstdio>
#endif

#include "text.h"

namespace digital_clock {

namespace {
// Two 32-bit numbers of at most 11 characters each, a separator and the NUL fit with room
// to spare; wsprintfA writes at most 1024 bytes and is never given a longer format.
constexpr int scratch_size = 32;
}  // namespace

void write_readout(StringElement& readout, const char* format, int32_t first, int32_t second) {
    char scratch[scratch_size];
#if defined(_WIN32)
    const int length = wsprintfA(scratch, format, first, second);
#else
    const int length = std::snprintf(scratch, sizeof scratch, format, first, second);
#endif
    // A text cut by the scratch buffer's end is too long for any read-out as well.
    put_readout_text(readout, scratch, length >= scratch_size ? -1 : length);
}

}  // namespace digital_clock
