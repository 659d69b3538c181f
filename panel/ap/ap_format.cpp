// Read-out formatting. The Windows module calls MSVCRT.dll's sprintf, as a user's machine
// has it. The native twin rounds halves away from zero first, as MSVCRT.dll does, so that
// glibc's round-half-even never comes into play.
#include "ap/ap_format.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "text.h"

#if defined(_WIN32)
// libstdc++'s headers switch mingw-w64 to its own formatter, which rounds halves to even,
// whatever the build asks for; the runtime's own sprintf is named by its import symbol.
extern "C" int __cdecl msvcrt_sprintf(char* buffer, const char* format, ...) __asm__("_sprintf");
#endif

namespace ap {

namespace {
// The largest finite double has 309 integer digits; with a sign and the formats' fixed
// characters every text fits with room to spare.
constexpr std::size_t scratch_size = 512;
}  // namespace

void write_readout(StringElement& readout, const char* format, double value) {
    if (!std::isfinite(value)) {
        put_readout_text(readout, "", -1);
        return;
    }
    char scratch[scratch_size];
#if defined(_WIN32)
    const int length = msvcrt_sprintf(scratch, format, value);
#else
    // Every read-out conversion has precision 0, so rounding to a whole number here is the
    // whole of MSVCRT.dll's rounding; std::round takes halves away from zero, exactly.
    const int length = std::snprintf(scratch, sizeof scratch, format, std::round(value));
#endif
    put_readout_text(readout, scratch, length >= static_cast<int>(scratch_size) ? -1 : length);
}

void write_readout_text(StringElement& readout, const char* text) {
    put_readout_text(readout, text, static_cast<int>(std::strlen(text)));
}

}  // namespace ap
