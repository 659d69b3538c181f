// Formatting of the clock's read-out texts: printf-style decimal conversions into a
// scratch buffer, then the bounded copy into the host's buffer of char_count + 1 bytes.
#pragma once

#include <cstdint>

#include "elements.h"

namespace digital_clock {

// Formats up to two integers with `format` ("%2d:%02d", ...) and puts the text into the
// read-out; a text longer than char_count shows as char_count dashes. Conversions the
// format does not name leave their arguments unused.
void write_readout(StringElement& readout, const char* format, int32_t first = 0, int32_t second = 0);

}  // namespace digital_clock
