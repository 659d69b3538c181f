// Read-out formatting for the AP windows: the C runtime's sprintf with the read-outs' own
// formats, then the bounded copy into the host's buffer of char_count + 1 bytes.
#pragma once

#include "elements.h"

namespace ap {

// Formats value with a format, a string constant, whose one conversion is a whole-number
// f conversion ("%03.0f", "%+5.0f", ...). Exact halves round away from zero, as the platform's runtime
// does. A text longer than char_count, and any NaN or infinity, shows char_count dashes.
void write_readout(StringElement& readout, const char* format, double value);
// A fixed text, such as the dashes of an empty window.
void write_readout_text(StringElement& readout, const char* text);

}  // namespace ap
