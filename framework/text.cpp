// The bounded read-out writer.
#include "text.h"

void put_readout_text(StringElement& readout, const char* formatted, int length) {
    char* buffer = readout.text;
    if (buffer == nullptr) return;
    const uint32_t limit = readout.char_count;
    uint32_t written = 0;
    if (length >= 0 && static_cast<uint32_t>(length) <= limit) {
        for (; written < static_cast<uint32_t>(length); ++written) buffer[written] = formatted[written];
    } else {
        for (; written < limit; ++written) buffer[written] = '-';
    }
    buffer[written] = '\0';
}
