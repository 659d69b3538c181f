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
#else
#include "plain_format.h"
#endif

namespace ap {

namespace {
// The largest finite double has 309 integer digits; with a sign and the formats' fixed
// characters every text fits with room to spare.
constexpr std::size_t scratch_size = 512;

#if !defined(_WIN32)
// The one value of a read-out's format, already a whole number.
struct WholeNumber {
    double value;
    double next_whole() const { return value; }
    int32_t next_int() const { return 0; }
    uint32_t next_unsigned() const { return 0; }
    const char* next_string() const { return nullptr; }
};

// Texts the twin formatted last, one per read-out: most updates show the value the update
// before showed, and the formatter costs the twin more than all its other work. A text
// depends on nothing but the format and the rounded value; formats are string constants,
// which nothing writes, so their address names them. Plain data, zero until first used.
struct KeptText {
    const StringElement* readout;
    const char* format;  // nullptr: no text kept
    double value;        // compared bit for bit: -0 and 0 write different texts
    int length;
    char text[16];
};
constexpr int kept_text_count = 8;
KeptText kept_texts[kept_text_count];
int next_kept_text = 0;

// The read-out's slot: the one it holds, else the oldest taken, emptied for it.
KeptText& kept_text_of(const StringElement& readout) {
    for (KeptText& kept : kept_texts)
        if (kept.readout == &readout) return kept;
    KeptText& slot = kept_texts[next_kept_text];
    next_kept_text = (next_kept_text + 1) % kept_text_count;
    slot = {&readout, nullptr, 0.0, 0, {}};
    return slot;
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }
#endif
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
    // whole of MSVCRT.dll's rounding, which takes halves away from zero, exactly. The
    // plain formatter writes what snprintf would, at a fraction of its cost.
    WholeNumber argument{plain_format::round_half_away(value)};
    KeptText& kept = kept_text_of(readout);
    if (kept.format == format && same_bits(kept.value, argument.value)) {
        put_readout_text(readout, kept.text, kept.length);
        return;
    }
    int length = plain_format::format(scratch, sizeof scratch, format, argument);
    if (length < 0) length = std::snprintf(scratch, sizeof scratch, format, argument.value);
    // A text that fits is kept; any other leaves the slot empty.
    kept.format = length >= 0 && length < static_cast<int>(sizeof kept.text) ? format : nullptr;
    kept.value = argument.value;
    kept.length = length;
    if (kept.format != nullptr) std::memcpy(kept.text, scratch, static_cast<std::size_t>(length));
#endif
    put_readout_text(readout, scratch, length >= static_cast<int>(scratch_size) ? -1 : length);
}

void write_readout_text(StringElement& readout, const char* text) {
    put_readout_text(readout, text, static_cast<int>(std::strlen(text)));
}

}  // namespace ap
