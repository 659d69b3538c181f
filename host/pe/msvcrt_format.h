// The formatter behind the native host's stand-in for msvcrt's sprintf: glibc's printf
// conversions, read with a 32-bit Windows caller's argument sizes, except that %f rounds
// exact halves away from zero, as MSVCRT.dll does, where glibc rounds them to even.
#pragma once

#include <cstdarg>
#include <cstddef>
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

// MSVCRT.dll's vsprintf: the text and its NUL into `buffer`, which has no bound (the
// module's callers bound what they format); returns the length.
int vsprintf(char* buffer, const char* format, va_list arguments);

// The plain formatter's conversions (plain_format.h) with the same argument sizes, into
// out[0, capacity): the length, or -1 where the general formatter must serve, having read
// none of `arguments` (a copy is read). An f conversion at precision 0 is rounded as
// MSVCRT.dll rounds it where `msvcrt_whole_numbers`, else left to the general formatter.
int format_plain(char* out, std::size_t capacity, const char* format, va_list arguments, bool msvcrt_whole_numbers);

}  // namespace kestrel::msvcrt
