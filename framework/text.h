// The bounded read-out writer: formats a read-out's text and puts at most char_count
// characters and the NUL into the host's buffer, whatever the values.
#pragma once

#include <cstddef>
#include <cstdint>

#include "elements.h"

// Copies a formatted text into a read-out's buffer of char_count + 1 bytes. A text longer
// than char_count (or a formatter failure, length < 0) shows as char_count dashes: a cut
// number would read as a different, plausible value. A NULL buffer is left alone.
void put_readout_text(StringElement& readout, const char* formatted, int length);
