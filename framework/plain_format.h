// The plain printf conversions of the gauges' read-outs, written directly: literal text, %%,
// d i u c s with flags and width, and f at precision 0 of a whole number. The native twin's
// read-outs and the native host's stand-ins for the Windows formatters use it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace plain_format {

// What a conversion reads from the arguments.
enum class Argument : char { integer, unsigned_integer, character, string, whole_number };

struct Conversion {
    bool left = false;   // '-': pad on the right
    bool zeros = false;  // '0': pad a number with zeros after its sign
    char sign = '\0';    // '+' or ' ' before a number that is not negative
    int width = 0;
    Argument argument = Argument::integer;
    const char* end = nullptr;  // just past the conversion
};

// Reads the conversion that starts just after a '%'. False for anything else (precision
// on an integer, length modifiers, other letters, the flags glibc treats in its own way
// on characters and strings, '#', a width of four digits or more): the general formatter
// serves those.
inline bool read_conversion(const char* p, Conversion& c) {
    for (;; ++p) {
        if (*p == '-') c.left = true;
        else if (*p == '0') c.zeros = true;
        else if (*p == '+') c.sign = '+';
        else if (*p == ' ') c.sign = c.sign == '+' ? '+' : ' ';
        else break;
    }
    for (int digits = 0; *p >= '0' && *p <= '9'; ++p) {
        if (++digits > 3) return false;
        c.width = c.width * 10 + (*p - '0');
    }
    if (*p == '.') {
        if (p[1] != '0' || p[2] != 'f') return false;
        c.argument = Argument::whole_number;
        c.end = p + 3;
        return true;
    }
    switch (*p) {
    case 'd':
    case 'i': c.argument = Argument::integer; break;
    case 'u': c.argument = Argument::unsigned_integer; break;
    case 'c': c.argument = Argument::character; break;
    case 's': c.argument = Argument::string; break;
    default: return false;
    }
    if ((c.argument == Argument::character || c.argument == Argument::string) && (c.zeros || c.sign != '\0'))
        return false;
    c.end = p + 1;
    return true;
}

// A double of magnitude below 2^63 without its fraction. A read-out's value fits 32 bits,
// which SSE2 truncates in one instruction where the x87 would switch its rounding mode
// twice.
inline int64_t truncate_to_integer(double value) {
#if defined(__SSE2__)
    if (__builtin_fabs(value) < 2147483648.0) return _mm_cvttsd_si32(_mm_set_sd(value));
#endif
    return static_cast<int64_t>(value);
}

// A double rounded to a whole number, halves away from zero, as std::round rounds it but
// without the library call, which costs the 32-bit builds more than the formatting.
inline double round_half_away(double value) {
    // From 2^52 on every double is whole; NaN and the infinities come back as they are.
    if (!(__builtin_fabs(value) < 4503599627370496.0)) return value;
    const double truncated = static_cast<double>(truncate_to_integer(value));
    const double fraction = value - truncated;  // exact: the bits truncation dropped
    double rounded = truncated;
    if (fraction >= 0.5) rounded += 1.0;
    else if (fraction <= -0.5) rounded -= 1.0;
    return __builtin_copysign(rounded, value);  // -0.4 rounds to -0, as std::round does
}

// Two decimal digits of every number below 100, for writing numbers two digits at a time.
inline constexpr char digit_pairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes the digits of `magnitude` backwards, ending just before `end`; returns the first.
inline char* write_digits_before(char* end, uint64_t magnitude) {
    // A read-out's number fits 32 bits, whose division costs the 32-bit builds far less.
    for (; magnitude > UINT32_MAX; magnitude /= 10) *--end = static_cast<char>('0' + magnitude % 10);
    uint32_t rest = static_cast<uint32_t>(magnitude);
    for (; rest >= 100; rest /= 100) {
        end -= 2;
        std::memcpy(end, &digit_pairs[2 * (rest % 100)], 2);
    }
    if (rest >= 10) {
        end -= 2;
        std::memcpy(end, &digit_pairs[2 * rest], 2);
    } else {
        *--end = static_cast<char>('0' + rest);
    }
    return end;
}

// Writes into out[0, capacity) as glibc's snprintf would, with the NUL, and returns the
// length; -1 when the format or an argument needs the general formatter, or the text and
// NUL would not fit. `arguments` gives next_int(), next_unsigned(), next_string() and
// next_whole(): a whole number in a double, or anything else (NaN, infinity, a fraction,
// a magnitude of 2^64 or more) for the general formatter to write. After -1 the arguments
// are partly read and `out` partly written: the caller starts the general one afresh.
template <typename Arguments>
int format(char* out, std::size_t capacity, const char* format, Arguments& arguments) {
    // `at` walks the output; `room` is what is left of it, the NUL's byte included.
    char* at = out;
    std::size_t room = capacity;
    for (const char* p = format; *p != '\0';) {
        if (*p != '%' || p[1] == '%') {
            if (room <= 1) return -1;
            *at++ = *p;
            --room;
            p += *p == '%' ? 2 : 1;
            continue;
        }
        Conversion c;
        if (!read_conversion(p + 1, c)) return -1;
        p = c.end;
        const std::size_t width = static_cast<std::size_t>(c.width);

        if (c.argument == Argument::character || c.argument == Argument::string) {
            char character = '\0';
            const char* text = &character;
            std::size_t size = 1;
            if (c.argument == Argument::character) {
                character = static_cast<char>(arguments.next_int());
            } else {
                text = arguments.next_string();
                if (text == nullptr) return -1;  // glibc's "(null)"
                for (size = 0; text[size] != '\0'; ++size)
                    if (size >= capacity) return -1;
            }
            const std::size_t padding = width > size ? width - size : 0;
            if (room <= size + padding) return -1;
            room -= size + padding;
            if (!c.left) at = static_cast<char*>(std::memset(at, ' ', padding)) + padding;
            at = static_cast<char*>(std::memcpy(at, text, size)) + size;
            if (c.left) at = static_cast<char*>(std::memset(at, ' ', padding)) + padding;
            continue;
        }

        bool negative = false;
        uint64_t magnitude = 0;
        char sign = c.sign;
        if (c.argument == Argument::integer) {
            const int32_t value = arguments.next_int();
            negative = value < 0;
            magnitude = negative ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
        } else if (c.argument == Argument::unsigned_integer) {
            magnitude = arguments.next_unsigned();
            sign = '\0';  // glibc writes no sign for an unsigned conversion
        } else {
            const double value = arguments.next_whole();
            if (!(value > -18446744073709551616.0 && value < 18446744073709551616.0)) return -1;
            negative = __builtin_signbit(value) != 0;
            const double absolute = negative ? -value : value;
            // Below 2^63 the signed conversion serves, which the 32-bit builds do inline.
            if (absolute < 9223372036854775808.0) {
                const int64_t whole = truncate_to_integer(absolute);
                if (static_cast<double>(whole) != absolute) return -1;
                magnitude = static_cast<uint64_t>(whole);
            } else {
                magnitude = static_cast<uint64_t>(absolute);
                if (static_cast<double>(magnitude) != absolute) return -1;
            }
        }
        char digits[20];
        const char* first = write_digits_before(digits + sizeof digits, magnitude);
        const auto count = static_cast<std::size_t>(digits + sizeof digits - first);
        if (negative) sign = '-';
        const std::size_t used = count + (sign != '\0' ? 1 : 0);
        const std::size_t padding = width > used ? width - used : 0;
        if (room <= used + padding) return -1;
        room -= used + padding;
        const bool zeros = c.zeros && !c.left;
        if (!c.left && !zeros) at = static_cast<char*>(std::memset(at, ' ', padding)) + padding;
        if (sign != '\0') *at++ = sign;
        if (zeros) at = static_cast<char*>(std::memset(at, '0', padding)) + padding;
        at = static_cast<char*>(std::memcpy(at, first, count)) + count;
        if (c.left) at = static_cast<char*>(std::memset(at, ' ', padding)) + padding;
    }
    if (room == 0) return -1;
    *at = '\0';
    return static_cast<int>(at - out);
}

}  // namespace plain_format
