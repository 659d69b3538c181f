// The plain printf conversions of the gauges' read-outs, written directly: literal text, %%,
// d i u c s with flags and width, and f at precision 0 of a whole number. The native twin's
// read-outs and the native host's stand-ins for the Windows formatters use it.
#pragma once

#include <cstddef>
#include <cstdint>

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

// Writes into out[0, capacity) as glibc's snprintf would, with the NUL, and returns the
// length; -1 when the format or an argument needs the general formatter, or the text and
// NUL would not fit. `arguments` gives next_int(), next_unsigned(), next_string() and
// next_whole(): a whole number in a double, or anything else (NaN, infinity, a fraction,
// a magnitude of 2^64 or more) for the general formatter to write. After -1 the arguments
// are partly read and `out` partly written: the caller starts the general one afresh.
template <typename Arguments>
int format(char* out, std::size_t capacity, const char* format, Arguments& arguments) {
    std::size_t length = 0;
    const auto fits = [&](std::size_t more) { return capacity - length > more; };
    const auto pad = [&](std::size_t count, char with) {
        for (; count > 0; --count) out[length++] = with;
    };
    for (const char* p = format; *p != '\0';) {
        if (*p != '%') {
            if (!fits(1)) return -1;
            out[length++] = *p++;
            continue;
        }
        if (p[1] == '%') {
            if (!fits(1)) return -1;
            out[length++] = '%';
            p += 2;
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
            if (!fits(size + padding)) return -1;
            if (!c.left) pad(padding, ' ');
            for (std::size_t i = 0; i < size; ++i) out[length++] = text[i];
            if (c.left) pad(padding, ' ');
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
            magnitude = static_cast<uint64_t>(absolute);
            if (static_cast<double>(magnitude) != absolute) return -1;
        }
        char digits[20];
        std::size_t count = 0;
        // A read-out's number fits 32 bits, whose division costs the 32-bit builds far less.
        if (magnitude <= UINT32_MAX) {
            uint32_t rest = static_cast<uint32_t>(magnitude);
            do digits[count++] = static_cast<char>('0' + rest % 10);
            while ((rest /= 10) != 0);
        } else {
            uint64_t rest = magnitude;
            do digits[count++] = static_cast<char>('0' + rest % 10);
            while ((rest /= 10) != 0);
        }
        if (negative) sign = '-';
        const std::size_t used = count + (sign != '\0' ? 1 : 0);
        const std::size_t padding = width > used ? width - used : 0;
        if (!fits(used + padding)) return -1;
        const bool zeros = c.zeros && !c.left;
        if (!c.left && !zeros) pad(padding, ' ');
        if (sign != '\0') out[length++] = sign;
        if (zeros) pad(padding, '0');
        while (count > 0) out[length++] = digits[--count];
        if (c.left) pad(padding, ' ');
    }
    if (!fits(0)) return -1;
    out[length] = '\0';
    return static_cast<int>(length);
}

}  // namespace plain_format
