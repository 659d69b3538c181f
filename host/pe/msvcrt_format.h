// The formatter behind the native host's stand-in for msvcrt's sprintf: glibc's printf
// conversions, read with a 32-bit Windows caller's argument sizes, except that %f rounds
// exact halves away from zero, as MSVCRT.dll does, where glibc rounds them to even.
#pragma once

#include <cstdarg>
#include <string>

namespace kestrel::msvcrt {

// Formats as MSVCRT.dll's sprintf would, without a bound, consuming the arguments from
// `arguments` (int, char, pointers 4 bytes; double 8, and long double too, as msvcrt has
// it; 64-bit integers with ll, I64 or j).
//
// Conversions: d i u o x X c s p f F e E g G a A and %%, with flags, width and precision
// ('*' included) and the length modifiers hh h l ll L j z t I I32 I64. Only f takes
// MSVCRT.dll's rounding; the others, and the text of NaN and infinity, are glibc's.
//
// A conversion it cannot read the argument of (%n, wide characters and strings, an
// unknown letter, a width or precision over 4096) is copied as text with the rest of the
// format after it: no argument past that point is read.
std::string vformat(const char* format, va_list arguments);
// The same into `out` (emptied first), whose storage a caller formatting at every update
// keeps from call to call.
void vformat_into(std::string& out, const char* format, va_list arguments);

}  // namespace kestrel::msvcrt
