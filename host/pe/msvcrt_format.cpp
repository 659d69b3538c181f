// msvcrt-style formatting on glibc: the format is cut into single conversions, each one
// handed to glibc with its argument; an f conversion of an exact half gets the next double
// away from zero instead, so glibc's digits, padding and flags come out as MSVCRT.dll's.
#include "msvcrt_format.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace kestrel::msvcrt {
namespace {

// A width or precision the format may ask for: far beyond any read-out, far below what
// could exhaust memory.
constexpr int max_field = 4096;
// The smallest subnormal double is 2^-1074: no double has more fraction digits.
constexpr int max_fraction_digits = 1074;

// The caller's arguments, released however formatting ends.
class Arguments {
public:
    explicit Arguments(va_list arguments) { va_copy(list_, arguments); }
    ~Arguments() { va_end(list_); }
    Arguments(const Arguments&) = delete;
    Arguments& operator=(const Arguments&) = delete;

    template <typename T>
    T next() {
        return va_arg(list_, T);
    }

private:
    va_list list_;
};

enum class ArgumentKind { none, int32, int64, uint32, uint64, character, string, pointer, floating };

struct Conversion {
    std::string flags;
    bool width_from_argument = false;
    bool precision_from_argument = false;
    int width = -1;      // -1: none given
    int precision = -1;  // -1: none given
    std::string length;  // the modifier as written
    char letter = '\0';
    const char* end = nullptr;  // just past the conversion letter
};

// Reads a run of digits no larger than max_field; nullopt if it is larger.
std::optional<int> read_number(const char*& p) {
    int value = 0;
    while (*p >= '0' && *p <= '9') {
        value = value * 10 + (*p++ - '0');
        if (value > max_field) return std::nullopt;
    }
    return value;
}

// Parses the conversion that starts just after a '%'; nullopt if it is malformed.
std::optional<Conversion> parse(const char* p) {
    Conversion c;
    // Repeated flags are allowed but mean nothing more than one of each.
    while (*p != '\0' && std::strchr("-+ #0", *p) != nullptr) {
        if (c.flags.find(*p) == std::string::npos) c.flags.push_back(*p);
        ++p;
    }
    if (*p == '*') {
        c.width_from_argument = true;
        ++p;
    } else if (*p >= '0' && *p <= '9') {
        const auto width = read_number(p);
        if (!width) return std::nullopt;
        c.width = *width;
    }
    if (*p == '.') {
        ++p;
        if (*p == '*') {
            c.precision_from_argument = true;
            ++p;
        } else {
            const auto precision = read_number(p);
            if (!precision) return std::nullopt;
            c.precision = *precision;
        }
    }
    for (const char* modifier : {"I64", "I32", "hh", "ll", "h", "l", "L", "I", "j", "z", "t", "w"}) {
        const std::size_t size = std::strlen(modifier);
        if (std::strncmp(p, modifier, size) == 0) {
            c.length = modifier;
            p += size;
            break;
        }
    }
    if (*p == '\0') return std::nullopt;
    c.letter = *p;
    c.end = p + 1;
    return c;
}

// What the conversion reads from the arguments, and the length modifier glibc needs for
// it; nullopt for a conversion this formatter does not serve.
std::optional<std::pair<ArgumentKind, std::string>> argument_of(const Conversion& c) {
    const std::string& m = c.length;
    const bool wide_integer = m == "ll" || m == "I64" || m == "j";
    const bool plain_integer = m.empty() || m == "l" || m == "I32" || m == "I" || m == "z" || m == "t";
    switch (c.letter) {
    case 'd':
    case 'i':
    case 'u':
    case 'o':
    case 'x':
    case 'X': {
        const bool is_signed = c.letter == 'd' || c.letter == 'i';
        if (wide_integer) return std::pair{is_signed ? ArgumentKind::int64 : ArgumentKind::uint64, std::string("ll")};
        if (m == "h" || m == "hh") return std::pair{is_signed ? ArgumentKind::int32 : ArgumentKind::uint32, m};
        if (plain_integer) return std::pair{is_signed ? ArgumentKind::int32 : ArgumentKind::uint32, std::string()};
        return std::nullopt;
    }
    case 'c':
    case 's':
        // Narrow only: msvcrt's wide forms are 16-bit characters, glibc's 32-bit.
        if (m.empty() || m == "h")
            return std::pair{c.letter == 'c' ? ArgumentKind::character : ArgumentKind::string, std::string()};
        return std::nullopt;
    case 'p':
        if (m.empty()) return std::pair{ArgumentKind::pointer, std::string()};
        return std::nullopt;
    case 'f':
    case 'F':
    case 'e':
    case 'E':
    case 'g':
    case 'G':
    case 'a':
    case 'A':
        // msvcrt's long double is a double: %Lf reads 8 bytes, as %f and %lf do.
        if (m.empty() || m == "l" || m == "L") return std::pair{ArgumentKind::floating, std::string()};
        return std::nullopt;
    case '%':
        return std::pair{ArgumentKind::none, std::string()};
    default:
        return std::nullopt;
    }
}

// True when the exact binary value lies halfway between two multiples of 10^-precision,
// read off glibc's exact decimal expansion of it.
bool is_exact_half(double value, int precision) {
    int exponent = 0;
    std::frexp(value, &exponent);
    // |value| = m * 2^exponent with 53 bits of m: its last bit is worth 2^(exponent - 53),
    // so 53 - exponent fraction digits hold its every digit.
    const int fraction_digits = std::clamp(53 - exponent, 0, max_fraction_digits);
    if (fraction_digits <= precision) return false;
    // Here |value| < 2^53: at most 16 integer digits, the point, the fraction, the NUL.
    char digits[16 + 1 + max_fraction_digits + 1];
    const int length = std::snprintf(digits, sizeof digits, "%.*f", fraction_digits, std::fabs(value));
    if (length < 0 || length >= static_cast<int>(sizeof digits)) return false;
    const char* point = std::strchr(digits, '.');
    if (point == nullptr) return false;
    const char* first_dropped = point + 1 + precision;
    if (*first_dropped != '5') return false;
    const char* const end = digits + length;
    return std::all_of(first_dropped + 1, end, [](char d) { return d == '0'; });
}

// MSVCRT.dll rounds an exact half away from zero. A half at this precision has a bit worth
// 2^-(precision+1) or less, so the next double away from zero lies past the half and no
// further than the rounded-away value: glibc, rounding that neighbour by its value, prints
// the digits MSVCRT.dll prints for the half. NaN and infinity keep glibc's "nan"/"inf" text, not
// msvcrt's "1.#QNAN"/"1.#INF": the module shows dashes for them and never formats one.
double rounded_as_msvcrt(double value, int precision) {
    if (!std::isfinite(value) || !is_exact_half(value, precision)) return value;
    return std::nextafter(value, std::copysign(HUGE_VAL, value));
}

template <typename T>
void append(std::string& out, const std::string& glibc_format, T value) {
    const int length = std::snprintf(nullptr, 0, glibc_format.c_str(), value);
    if (length <= 0) return;
    const std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(length) + 1);
    std::snprintf(out.data() + at, static_cast<std::size_t>(length) + 1, glibc_format.c_str(), value);
    out.resize(at + static_cast<std::size_t>(length));
}

}  // namespace

std::string vformat(const char* format, va_list list) {
    Arguments arguments(list);
    std::string out;
    const char* p = format;
    while (*p != '\0') {
        if (*p != '%') {
            out.push_back(*p++);
            continue;
        }
        const char* const start = p;
        auto conversion = parse(p + 1);
        const auto argument = conversion ? argument_of(*conversion) : std::nullopt;
        if (!argument) {
            // Its argument's size is unknown: reading on could misread every later one.
            out.append(start);
            break;
        }
        Conversion& c = *conversion;
        p = c.end;
        if (c.letter == '%') {
            out.push_back('%');
            continue;
        }
        if (c.width_from_argument) {
            const int width = arguments.next<int>();
            if (width < -max_field || width > max_field) {
                out.append(start);
                break;
            }
            // A negative width from the arguments is a '-' flag and its magnitude.
            if (width < 0 && c.flags.find('-') == std::string::npos) c.flags.push_back('-');
            c.width = std::abs(width);
        }
        if (c.precision_from_argument) {
            const int precision = arguments.next<int>();
            if (precision > max_field) {
                out.append(start);
                break;
            }
            // A negative precision from the arguments counts as none given.
            c.precision = precision < 0 ? -1 : precision;
        }

        std::string glibc_format(1, '%');
        glibc_format += c.flags;
        if (c.width >= 0) glibc_format += std::to_string(c.width);
        if (c.precision >= 0) glibc_format.append(1, '.').append(std::to_string(c.precision));
        glibc_format += argument->second;
        glibc_format.push_back(c.letter);

        switch (argument->first) {
        case ArgumentKind::int32: append(out, glibc_format, arguments.next<int>()); break;
        case ArgumentKind::uint32: append(out, glibc_format, arguments.next<unsigned>()); break;
        case ArgumentKind::int64: append(out, glibc_format, arguments.next<long long>()); break;
        case ArgumentKind::uint64: append(out, glibc_format, arguments.next<unsigned long long>()); break;
        case ArgumentKind::character: append(out, glibc_format, arguments.next<int>()); break;
        case ArgumentKind::string: append(out, glibc_format, arguments.next<const char*>()); break;
        case ArgumentKind::pointer: append(out, glibc_format, arguments.next<void*>()); break;
        case ArgumentKind::floating: {
            const double value = arguments.next<double>();
            const int precision = c.precision >= 0 ? c.precision : 6;
            append(out, glibc_format, c.letter == 'f' ? rounded_as_msvcrt(value, precision) : value);
            break;
        }
        case ArgumentKind::none: break;
        }
    }
    return out;
}

}  // namespace kestrel::msvcrt
