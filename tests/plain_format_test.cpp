// The plain formatter of the read-outs' conversions: byte for byte glibc's snprintf over
// many formats and values, and every format it does not serve handed back untouched to
// the general formatter rather than written some other way.
#include <gtest/gtest.h>

// Its reference is glibc's snprintf, which only the native builds have.
#if !defined(_WIN32)

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "plain_format.h"

namespace {

// One argument of each kind, as a read-out hands them over.
struct OneOfEach {
    int32_t integer = 0;
    double whole = 0;
    const char* string = "";
    int32_t next_int() const { return integer; }
    uint32_t next_unsigned() const { return static_cast<uint32_t>(integer); }
    double next_whole() const { return whole; }
    const char* next_string() const { return string; }
};

std::string plain(const std::string& format, OneOfEach arguments, std::size_t capacity = 256) {
    std::vector<char> out(capacity, '\x7f');
    const int length = plain_format::format(out.data(), out.size(), format.c_str(), arguments);
    if (length < 0) return "(general)";
    EXPECT_EQ(out[static_cast<std::size_t>(length)], '\0') << format;
    return std::string(out.data(), static_cast<std::size_t>(length));
}

template <typename T>
std::string glibc(const std::string& format, T value) {
    char out[256];
    const int length = std::snprintf(out, sizeof out, format.c_str(), value);
    return std::string(out, static_cast<std::size_t>(length));
}

uint64_t state = 0x243F6A8885A308D3ull;
uint64_t next_random() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
}

// A conversion with a random run of flags and a random width, or none.
std::string random_spec(const char* flags_allowed) {
    std::string spec = "%";
    const std::string flags(flags_allowed);
    for (uint64_t n = next_random() % 4; n > 0 && !flags.empty(); --n) spec += flags[next_random() % flags.size()];
    // A width of 0 would read as the '0' flag.
    if (next_random() % 3 != 0) spec += std::to_string(1 + next_random() % 23);
    return spec;
}

TEST(PlainFormat, IntegersAsGlibcWritesThem) {
    std::vector<int32_t> values = {0, 1, -1, 7, -7, 9, 10, 99, -100, 12345, INT_MAX, INT_MIN, INT_MIN + 1};
    for (int i = 0; i < 200; ++i) values.push_back(static_cast<int32_t>(next_random()));
    int compared = 0;
    for (int round = 0; round < 300; ++round) {
        const std::string spec = random_spec("-+ 0");
        for (const char letter : {'d', 'i', 'u'}) {
            const std::string format = "<" + spec + letter + ">";
            for (const int32_t value : values) {
                const std::string expected =
                    letter == 'u' ? glibc(format, static_cast<uint32_t>(value)) : glibc(format, value);
                ASSERT_EQ(plain(format, {value}), expected) << format << " of " << value;
                ++compared;
            }
        }
    }
    EXPECT_EQ(compared, 300 * 3 * static_cast<int>(values.size()));
}

TEST(PlainFormat, WholeNumbersAtPrecisionZeroAsGlibcWritesThem) {
    std::vector<double> values = {0.0, -0.0, 1.0, -1.0, 3.0, 360.0, -250.0, 4800.0, 99999.0, 1e15, -1e15,
                                  9007199254740993.0, 4294967295.0, 4294967296.0, -4294967297.0,
                                  18446744073709549568.0, -18446744073709549568.0};
    for (int i = 0; i < 300; ++i) {
        // Below 2^64, where every whole double is written here.
        const double magnitude =
            std::ldexp(static_cast<double>(next_random() % 1000000), static_cast<int>(next_random() % 44));
        values.push_back((next_random() & 1) ? magnitude : -magnitude);
    }
    int compared = 0;
    for (int round = 0; round < 200; ++round) {
        const std::string format = "." + random_spec("-+ 0") + ".0f00";
        for (const double value : values) {
            ASSERT_EQ(plain(format, {0, value}), glibc(format, value)) << format << " of " << value;
            ++compared;
        }
    }
    EXPECT_EQ(compared, 200 * static_cast<int>(values.size()));
}

TEST(PlainFormat, RoundsHalvesAwayFromZeroAsStdRoundDoes) {
    std::vector<double> values = {0.0, -0.0, 0.4, -0.4, 0.5, -0.5, 1.5, -1.5, 2.5, -2.5, 0.49999999999999994,
                                  -0.49999999999999994, 4503599627370495.5, -4503599627370495.5, 4503599627370496.0,
                                  9007199254740993.0, 1e300, -1e300, HUGE_VAL, -HUGE_VAL, 359.5, 249.49999999999997};
    for (int i = 0; i < 2000; ++i) {
        const double value = std::ldexp(static_cast<double>(next_random() % 2000001), -static_cast<int>(next_random() % 24));
        values.push_back((next_random() & 1) ? value : -value);
    }
    for (const double value : values) {
        const double rounded = plain_format::round_half_away(value);
        ASSERT_EQ(rounded, std::round(value)) << value;
        ASSERT_EQ(std::signbit(rounded), std::signbit(std::round(value))) << value;
    }
    EXPECT_TRUE(std::isnan(plain_format::round_half_away(std::nan(""))));
}

TEST(PlainFormat, CharactersStringsAndPercentAsGlibcWritesThem) {
    int compared = 0;
    for (int round = 0; round < 200; ++round) {
        const std::string spec = random_spec("-");
        for (const char* text : {"", "A", "-----", "12:34", "a longer text than most"}) {
            ASSERT_EQ(plain(spec + "s%%", {0, 0, text}), glibc(spec + "s%%", text)) << spec << "s of " << text;
            ++compared;
        }
        for (const int32_t character : {int32_t{'A'}, int32_t{' '}, int32_t{'9'}, int32_t{0x1E9}}) {
            ASSERT_EQ(plain(spec + "c|", {character}), glibc(spec + "c|", character)) << spec << "c of " << character;
            ++compared;
        }
    }
    EXPECT_EQ(compared, 200 * 9);
}

TEST(PlainFormat, TheModulesFormatsAreServed) {
    // Every read-out's format: the clock's and AP's.
    for (const char* format : {"%02d:%02d", "%2d:%02d", "%2d.%1d", "%2d %2d", "%02d %02d", "     "})
        EXPECT_NE(plain(format, {5}), "(general)") << format;
    for (const char* format : {"%03.0f", ".%02.0f", "%03.0f00", "%+5.0f", "%05.0f"})
        EXPECT_NE(plain(format, {0, -42.0}), "(general)") << format;
}

TEST(PlainFormat, EverythingElseIsLeftToTheGeneralFormatter) {
    // Precision, length modifiers, other letters and flags, wide fields, a lone '%'.
    for (const char* format : {"%.3d", "%5.2f", "%.1f", "%f", "%ld", "%lld", "%I64d", "%hd", "%x", "%p", "%e", "%#d",
                               "%#.0f", "%05s", "%+c", "%1000d", "%*d", "%", "abc%", "%.0lf", "%n"})
        EXPECT_EQ(plain(format, {5, 5.0, "x"}), "(general)") << format;
    // Values the plain conversion cannot write exactly.
    for (const double value : {0.5, -2.25, double{NAN}, double{INFINITY}, -double{INFINITY}, 18446744073709551616.0, 1e300})
        EXPECT_EQ(plain("%.0f", {0, value}), "(general)") << value;
    EXPECT_EQ(plain("%s", {0, 0, nullptr}), "(general)") << "glibc's (null)";
    // A text and NUL that do not fit.
    EXPECT_EQ(plain("%05d", {12345}, 6), "12345");
    EXPECT_EQ(plain("%05d", {12345}, 5), "(general)");
    EXPECT_EQ(plain("abcdef", {}, 6), "(general)");
    EXPECT_EQ(plain("", {}, 1), "");
}

}  // namespace

#endif  // !defined(_WIN32)
