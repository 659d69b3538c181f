// msvcrt-style formatting on glibc: the format is cut into single conversions, each one
// handed to glibc with its argument; an f conversion of an exact half gets the next double
// away from zero instead, so glibc's digits, padding and flags come out as MSVCRT.dll's.
// The read-outs' own case, an f conversion of a value whose digits exact 64-bit integer
// arithmetic yields, is written here directly: it runs for every read-out at every update.
#include "msvcrt_format.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string_view>

#include "plain_format.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kestrel::msvcrt {
namespace {

// A width or precision the format may ask for: far beyond any read-out, far below what
// could exhaust memory.
constexpr int max_field = 4096;

// The caller's arguments, released however formatting ends.
class Arguments {
public:
    explicit Arguments(va_list arguments, bool msvcrt_whole_numbers = false)
        : msvcrt_whole_numbers_(msvcrt_whole_numbers) {
        va_copy(list_, arguments);
    }
    ~Arguments() { va_end(list_); }
    Arguments(const Arguments&) = delete;
    Arguments& operator=(const Arguments&) = delete;

    template <typename T>
    T next() {
        words_read_ += (sizeof(T) + 3) / 4;
        return va_arg(list_, T);
    }
    // As the plain formatter asks: 4-byte integers and pointers, and an f conversion's
    // double rounded as MSVCRT.dll rounds it to a whole number, halves away from zero;
    // without that rounding, a value that is no whole number sends it to the general one.
    int32_t next_int() { return next<int32_t>(); }
    uint32_t next_unsigned() { return next<uint32_t>(); }
    const char* next_string() {
        read_string_ = true;
        return next<const char*>();
    }
    double next_whole() { return msvcrt_whole_numbers_ ? plain_format::round_half_away(next<double>()) : 0.5; }

    // The 4-byte words of the arguments read so far, and whether one was a string.
    std::size_t words_read() const { return words_read_; }
    bool read_string() const { return read_string_; }

private:
    va_list list_;
    bool msvcrt_whole_numbers_;
    std::size_t words_read_ = 0;
    bool read_string_ = false;
};

enum class ArgumentKind { none, int32, int64, uint32, uint64, character, string, pointer, floating };

// The bit of a flag character in Flags, 0 for any other character.
constexpr unsigned flag_bit(char flag) {
    switch (flag) {
    case '-': return 1;
    case '+': return 2;
    case ' ': return 4;
    case '#': return 8;
    case '0': return 16;
    default: return 0;
    }
}

// The flags of a conversion, each at most once, in the order written. Every read-out's
// conversion asks for its flags several times: a mask answers without a search.
class Flags {
public:
    bool has(char flag) const { return (bits_ & flag_bit(flag)) != 0; }
    void add(char flag) {
        if (has(flag)) return;
        bits_ |= flag_bit(flag);
        flags_[count_++] = flag;
    }
    std::string_view text() const { return {flags_, count_}; }

private:
    char flags_[5] = {};
    std::size_t count_ = 0;
    unsigned bits_ = 0;
};

struct Conversion {
    Flags flags;
    bool width_from_argument = false;
    bool precision_from_argument = false;
    int width = -1;      // -1: none given
    int precision = -1;  // -1: none given
    std::string_view length;  // the modifier as written
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
    while (flag_bit(*p) != 0) {
        c.flags.add(*p);
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
    // The longest modifier that matches: I64 before I32 before I, hh before h, ll before l.
    // The modifiers' first letters tell them apart, so one look at each character serves.
    std::size_t modifier = 0;
    switch (*p) {
    case 'I':
        modifier = (p[1] == '6' && p[2] == '4') || (p[1] == '3' && p[2] == '2') ? 3 : 1;
        break;
    case 'h':
    case 'l':
        modifier = p[1] == p[0] ? 2 : 1;
        break;
    case 'L':
    case 'j':
    case 'z':
    case 't':
    case 'w':
        modifier = 1;
        break;
    default:
        break;
    }
    c.length = std::string_view(p, modifier);
    p += modifier;
    if (*p == '\0') return std::nullopt;
    c.letter = *p;
    c.end = p + 1;
    return c;
}

// What the conversion reads from the arguments, and the length modifier glibc needs for
// it; nullopt for a conversion this formatter does not serve.
std::optional<std::pair<ArgumentKind, std::string_view>> argument_of(const Conversion& c) {
    const std::string_view m = c.length;
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
        if (wide_integer) return std::pair{is_signed ? ArgumentKind::int64 : ArgumentKind::uint64, std::string_view("ll")};
        if (m == "h" || m == "hh") return std::pair{is_signed ? ArgumentKind::int32 : ArgumentKind::uint32, m};
        if (plain_integer) return std::pair{is_signed ? ArgumentKind::int32 : ArgumentKind::uint32, std::string_view()};
        return std::nullopt;
    }
    case 'c':
    case 's':
        // Narrow only: msvcrt's wide forms are 16-bit characters, glibc's 32-bit.
        if (m.empty() || m == "h")
            return std::pair{c.letter == 'c' ? ArgumentKind::character : ArgumentKind::string, std::string_view()};
        return std::nullopt;
    case 'p':
        if (m.empty()) return std::pair{ArgumentKind::pointer, std::string_view()};
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
        if (m.empty() || m == "l" || m == "L") return std::pair{ArgumentKind::floating, std::string_view()};
        return std::nullopt;
    case '%':
        return std::pair{ArgumentKind::none, std::string_view()};
    default:
        return std::nullopt;
    }
}

// A finite double as m * 2^exponent, m odd (or 0).
struct BinaryValue {
    uint64_t mantissa;
    int exponent;
};

BinaryValue binary_value(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const int biased = static_cast<int>((bits >> 52) & 0x7FF);
    uint64_t mantissa = bits & ((uint64_t{1} << 52) - 1);
    int exponent = biased == 0 ? -1074 : biased - 1075;
    if (biased != 0) mantissa |= uint64_t{1} << 52;
    if (mantissa == 0) return {0, 0};
    const int trailing_zeros = __builtin_ctzll(mantissa);
    return {mantissa >> trailing_zeros, exponent + trailing_zeros};
}

// True when the exact binary value lies halfway between two multiples of 10^-precision:
// 2 * value * 10^precision = m * 5^precision * 2^(exponent + 1 + precision) is an odd
// integer, and m * 5^precision is odd, so its lowest set bit is worth exactly
// 2^-(precision + 1).
bool is_exact_half(double value, int precision) {
    const BinaryValue binary = binary_value(value);
    return binary.mantissa != 0 && binary.exponent == -(precision + 1);
}

constexpr uint64_t powers_of_ten[] = {1,       10,       100,       1000,       10000,       100000,
                                      1000000, 10000000, 100000000, 1000000000, 10000000000ull};

int bit_length(uint64_t value) { return value == 0 ? 0 : 64 - __builtin_clzll(value); }

// |value| rounded to `precision` fraction digits, exact halves away from zero, as the
// whole part and the fraction in units of 10^-precision; nullopt where 64-bit integers
// cannot hold the exact arithmetic (glibc then serves).
std::optional<std::pair<uint64_t, uint64_t>> fixed_point(double value, int precision) {
    if (precision >= static_cast<int>(std::size(powers_of_ten))) return std::nullopt;
    const BinaryValue binary = binary_value(value);
    const uint64_t scale = powers_of_ten[precision];
    if (binary.mantissa == 0) return std::pair<uint64_t, uint64_t>{0, 0};
    if (binary.exponent >= 0) {
        if (bit_length(binary.mantissa) + binary.exponent > 63) return std::nullopt;
        return std::pair<uint64_t, uint64_t>{binary.mantissa << binary.exponent, 0};
    }
    const int shift = -binary.exponent;
    if (shift > 63) return std::nullopt;
    const uint64_t whole = binary.mantissa >> shift;
    const uint64_t fraction = binary.mantissa & ((uint64_t{1} << shift) - 1);
    // fraction * scale must fit: fraction < 2^shift.
    if (shift + bit_length(scale) > 64) return std::nullopt;
    const uint64_t scaled = fraction * scale;
    uint64_t digits = scaled >> shift;
    const uint64_t rest = scaled & ((uint64_t{1} << shift) - 1);
    if (rest >= (uint64_t{1} << (shift - 1))) ++digits;  // halves and above go away from zero
    if (digits == scale) return std::pair<uint64_t, uint64_t>{whole + 1, 0};
    return std::pair<uint64_t, uint64_t>{whole, digits};
}

// Appends an f conversion of a finite value as glibc lays it out (sign, '#', width, '0'
// and '-'); false where fixed_point cannot serve.
bool append_fixed(std::string& out, const Conversion& c, double value, int precision) {
    const auto parts = fixed_point(value, precision);
    if (!parts) return false;
    char body[64];
    int length = 0;
    char whole_digits[24];
    char* const whole_end = whole_digits + sizeof whole_digits;
    for (const char* digit = plain_format::write_digits_before(whole_end, parts->first); digit != whole_end; ++digit)
        body[length++] = *digit;
    const bool point = precision > 0 || c.flags.has('#');
    if (point) body[length++] = '.';
    for (int digit = precision - 1; digit >= 0; --digit)
        body[length++] = static_cast<char>('0' + (parts->second / powers_of_ten[digit]) % 10);

    char sign = '\0';
    if (std::signbit(value)) sign = '-';
    else if (c.flags.has('+')) sign = '+';
    else if (c.flags.has(' ')) sign = ' ';
    const int used = length + (sign != '\0' ? 1 : 0);
    const int padding = c.width > used ? c.width - used : 0;
    const bool left = c.flags.has('-');
    const bool zeros = !left && c.flags.has('0');
    if (!left && !zeros) out.append(static_cast<std::size_t>(padding), ' ');
    if (sign != '\0') out.push_back(sign);
    if (zeros) out.append(static_cast<std::size_t>(padding), '0');
    out.append(body, static_cast<std::size_t>(length));
    if (left) out.append(static_cast<std::size_t>(padding), ' ');
    return true;
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

// The conversion as glibc's printf writes it, with the length modifier it needs.
std::string glibc_conversion(const Conversion& c, std::string_view length) {
    std::string format(1, '%');
    format += c.flags.text();
    if (c.width >= 0) format += std::to_string(c.width);
    if (c.precision >= 0) format.append(1, '.').append(std::to_string(c.precision));
    format += length;
    format.push_back(c.letter);
    return format;
}

template <typename T>
void append(std::string& out, const std::string& glibc_format, T value) {
    // Most conversions fit a small buffer: one call; a longer one is sized first.
    char small[128];
    const int length = std::snprintf(small, sizeof small, glibc_format.c_str(), value);
    if (length <= 0) return;
    if (length < static_cast<int>(sizeof small)) {
        out.append(small, static_cast<std::size_t>(length));
        return;
    }
    const std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(length) + 1);
    std::snprintf(out.data() + at, static_cast<std::size_t>(length) + 1, glibc_format.c_str(), value);
    out.resize(at + static_cast<std::size_t>(length));
}

}  // namespace

std::string vformat(const char* format, va_list list) {
    std::string out;
    vformat_into(out, format, list);
    return out;
}

namespace {

// A read-out is formatted again at every update, nearly always from the same format and
// the same arguments. The last texts are kept by the format's address: a call whose
// format bytes and argument words equal a kept one's gets its text again, byte for byte
// what formatting would write, since the plain conversions depend on nothing else. A
// string argument's text could change behind its pointer: those calls are not kept. Only
// where the arguments are 4-byte words on the stack, as a 32-bit Windows caller passes
// them: elsewhere a va_list keeps integers and doubles apart.
#if defined(__i386__)
constexpr bool keep_texts = true;
#else
constexpr bool keep_texts = false;
#endif
struct KeptText {
    static constexpr std::size_t most = 32;  // format and text each, NUL included
    const char* format = nullptr;            // the caller's, by address; nullptr: empty
    bool msvcrt_whole_numbers = false;
    uint8_t format_size = 0;                 // with the NUL
    uint8_t words = 0;                       // 4-byte argument words read
    uint8_t text_size = 0;                   // with the NUL
    uint32_t arguments[4];
    char format_bytes[most];
    char text[most];
};
constexpr std::size_t kept_slots = 16;
thread_local KeptText kept_texts[kept_slots];

// By the format's address and the first two argument words (a double's two halves):
// read-outs that share one format keep a text each. The words are read from the caller's
// stack, where a format with fewer arguments finds the caller's own frame.
// None where texts are not kept.
KeptText* kept_for(const char* format, va_list list) {
    if (!keep_texts) return nullptr;
    va_list words;
    va_copy(words, list);
    const uint32_t first = va_arg(words, uint32_t);
    const uint32_t second = va_arg(words, uint32_t);
    va_end(words);
    // A double's low bits are mostly zero: the words are mixed so that every bit counts.
    uint32_t key = (static_cast<uint32_t>(reinterpret_cast<std::uintptr_t>(format)) ^ first ^
                    ((second >> 16) | (second << 16))) * 0x9E3779B1u;
    key ^= key >> 16;
    return &kept_texts[key % kept_slots];
}

// AddressSanitizer reports a load past an object's end even within its page.
#if defined(__SANITIZE_ADDRESS__)
#define KESTREL_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KESTREL_ADDRESS_SANITIZER 1
#endif
#endif

// Whether the caller's format holds the kept one's bytes, its NUL included.
bool same_format(const char* format, const KeptText& kept) {
#if defined(__SSE2__) && !defined(KESTREL_ADDRESS_SANITIZER)
    // Sixteen bytes in one compare where they lie within the format's page, which is
    // readable since its first byte is: a format of up to 15 characters, every read-out's.
    constexpr std::uintptr_t page = 4096;
    if (kept.format_size <= 16 && (reinterpret_cast<std::uintptr_t>(format) & (page - 1)) <= page - 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(format));
        const __m128i held = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kept.format_bytes));
        const auto same = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, held)));
        const uint32_t wanted = (uint32_t{1} << kept.format_size) - 1;
        return (same & wanted) == wanted;
    }
#endif
    // Byte by byte, up to the first difference: a shorter format differs at its own NUL,
    // so no byte past the caller's format is read.
    for (std::size_t i = 0; i < kept.format_size; ++i)
        if (format[i] != kept.format_bytes[i]) return false;
    return true;
}

// The kept text's length when it answers this call, having written it with its NUL into
// `out`; else -1, with nothing written.
int kept_length(const KeptText* slot, char* out, std::size_t capacity, const char* format, va_list list,
                bool msvcrt_whole_numbers) {
    if (slot == nullptr) return -1;
    const KeptText& kept = *slot;
    if (kept.format != format || kept.msvcrt_whole_numbers != msvcrt_whole_numbers || capacity < kept.text_size)
        return -1;
    if (!same_format(format, kept)) return -1;
    va_list words;
    va_copy(words, list);
    uint32_t differences = 0;
    for (std::size_t i = 0; i < kept.words; ++i) differences |= va_arg(words, uint32_t) ^ kept.arguments[i];
    va_end(words);
    if (differences != 0) return -1;
    std::memcpy(out, kept.text, kept.text_size);
    return kept.text_size - 1;
}

// The plain formatter's text, kept in `slot` (if any) when it may answer a later call.
int format_and_keep(KeptText* slot, char* out, std::size_t capacity, const char* format, va_list list,
                    bool msvcrt_whole_numbers) {
    Arguments arguments(list, msvcrt_whole_numbers);
    const int length = plain_format::format(out, capacity, format, arguments);
    if (slot == nullptr || length < 0 || arguments.read_string()) return length;
    KeptText& kept = *slot;
    const std::size_t format_size = ::strnlen(format, KeptText::most) + 1;
    if (arguments.words_read() <= std::size(kept.arguments) && format_size <= KeptText::most &&
        static_cast<std::size_t>(length) < KeptText::most) {
        kept.format = format;
        kept.msvcrt_whole_numbers = msvcrt_whole_numbers;
        kept.format_size = static_cast<uint8_t>(format_size);
        kept.words = static_cast<uint8_t>(arguments.words_read());
        kept.text_size = static_cast<uint8_t>(length + 1);
        va_list words;
        va_copy(words, list);
        for (std::size_t i = 0; i < kept.words; ++i) kept.arguments[i] = va_arg(words, uint32_t);
        va_end(words);
        std::memcpy(kept.format_bytes, format, format_size);
        std::memcpy(kept.text, out, kept.text_size);
    }
    return length;
}

// The read-outs' formats: the plain formatter writes them as the general path would, with
// MSVCRT.dll's rounding of f at precision 0 done in next_whole, into plain_text_size
// bytes; -1 for the general path.
constexpr std::size_t plain_text_size = 512;

}  // namespace

int format_plain(char* out, std::size_t capacity, const char* format, va_list list, bool msvcrt_whole_numbers) {
    KeptText* const kept = kept_for(format, list);
    if (const int length = kept_length(kept, out, capacity, format, list, msvcrt_whole_numbers); length >= 0)
        return length;
    return format_and_keep(kept, out, capacity, format, list, msvcrt_whole_numbers);
}

int vsprintf(char* buffer, const char* format, va_list list) {
    KeptText* const kept = kept_for(format, list);
    // A kept text goes straight into the caller's buffer: its length is known.
    if (const int length = kept_length(kept, buffer, SIZE_MAX, format, list, true); length >= 0) return length;
    char plain[plain_text_size];
    const int length = format_and_keep(kept, plain, plain_text_size, format, list, true);
    if (length >= 0) {
        std::memcpy(buffer, plain, static_cast<std::size_t>(length) + 1);
        return length;
    }
    // Modules call in one at a time: one text serves every call.
    static std::string text;
    vformat_into(text, format, list);
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<int>(text.size());
}

void vformat_into(std::string& out, const char* format, va_list list) {
    char plain[plain_text_size];
    const int length = format_plain(plain, plain_text_size, format, list, true);
    if (length >= 0) {
        out.assign(plain, static_cast<std::size_t>(length));
        return;
    }
    Arguments arguments(list);
    out.clear();
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
            if (width < 0) c.flags.add('-');
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

        if (argument->first == ArgumentKind::floating && c.letter == 'f') {
            const double value = arguments.next<double>();
            const int precision = c.precision >= 0 ? c.precision : 6;
            if (std::isfinite(value) && append_fixed(out, c, value, precision)) continue;
            append(out, glibc_conversion(c, argument->second), rounded_as_msvcrt(value, precision));
            continue;
        }
        const std::string glibc_format = glibc_conversion(c, argument->second);

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
            append(out, glibc_format, value);
            break;
        }
        case ArgumentKind::none: break;
        }
    }
}

}  // namespace kestrel::msvcrt
