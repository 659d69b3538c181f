// Numbers as scenarios and messages write them: a value with every digit it needs to
// read back exactly, and a 32-bit word in hexadecimal. One form for the runner, the live
// panel, the fuzzers and the listing, so that a value quoted in one reads in another.
#pragma once

#include <cstdint>
#include <string>

namespace kestrel {

// "%.17g", and "nan", "inf", "-inf" as the scenario reader takes them (a NaN of either
// sign is "nan").
std::string exact_number(double value);
// "0x" and the word's hexadecimal digits, upper case, at least `digits` of them.
std::string hex_word(uint32_t value, int digits = 0);

}  // namespace kestrel
