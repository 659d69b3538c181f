// The one formatter of exact values and hexadecimal words.
#include "numbers.h"

#include <cmath>
#include <cstdio>

namespace kestrel {

std::string exact_number(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

std::string hex_word(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

}  // namespace kestrel
