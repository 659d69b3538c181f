// The native host's msvcrt sprintf formatter: %f rounds exact halves away from zero as
// MSVCRT.dll does, with glibc's padding and flags, the AP read-out formats among them, and
// the arguments of every other conversion read as a 32-bit Windows caller pushes them.
#include <gtest/gtest.h>

// The formatter stands in for msvcrt only in the native host; on Windows the real one runs.
#if !defined(_WIN32)

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "msvcrt_format.h"

namespace {

std::string msvcrt_sprintf(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::string text = kestrel::msvcrt::vformat(format, arguments);
    va_end(arguments);
    return text;
}

// As the module calls it: through vsprintf, into a buffer of its own.
std::string module_sprintf(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    char buffer[64];
    const int length = kestrel::msvcrt::vsprintf(buffer, format, arguments);
    va_end(arguments);
    EXPECT_EQ(std::strlen(buffer), static_cast<std::size_t>(length)) << format;
    return buffer;
}

int plain_into(char* out, std::size_t capacity, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const int length = kestrel::msvcrt::format_plain(out, capacity, format, arguments, true);
    va_end(arguments);
    return length;
}

std::string glibc_sprintf(const char* format, double value) {
    const int length = std::snprintf(nullptr, 0, format, value);
    std::string text(static_cast<std::size_t>(length), '\0');
    std::snprintf(text.data(), text.size() + 1, format, value);
    return text;
}

struct FormatCase {
    const char* format;
    double value;
    const char* expected;
};

void PrintTo(const FormatCase& c, std::ostream* out) { *out << '"' << c.format << "\" of " << c.value; }

// Exact halves that glibc rounds to even, towards zero: MSVCRT.dll takes them away from it.
class ExactHalf : public testing::TestWithParam<FormatCase> {};

TEST_P(ExactHalf, RoundsAwayFromZero) {
    const FormatCase& c = GetParam();
    EXPECT_EQ(msvcrt_sprintf(c.format, c.value), c.expected);
    // The case tells the two roundings apart: plain glibc gives another text.
    EXPECT_NE(glibc_sprintf(c.format, c.value), c.expected);
}

INSTANTIATE_TEST_SUITE_P(AtPrecisions, ExactHalf,
                         testing::Values(FormatCase{"%.0f", 2.5, "3"}, FormatCase{"%.0f", -2.5, "-3"},
                                         FormatCase{"%.0f", 0.5, "1"}, FormatCase{"%.0f", -0.5, "-1"},
                                         FormatCase{"%.0f", 4.5, "5"}, FormatCase{"%.1f", 0.25, "0.3"},
                                         FormatCase{"%.1f", -0.25, "-0.3"}, FormatCase{"%.1f", -2.25, "-2.3"},
                                         FormatCase{"%.2f", 0.125, "0.13"}, FormatCase{"%.2f", -0.125, "-0.13"},
                                         FormatCase{"%.2f", 1.625, "1.63"},
                                         // no precision given: six digits
                                         FormatCase{"%f", 0.0078125, "0.007813"},
                                         // near the largest halves a double holds, whole and to 2 digits
                                         FormatCase{"%.0f", 4503599627370494.5, "4503599627370495"},
                                         FormatCase{"%.2f", 10000000000.125, "10000000000.13"}));

// The six formats of the AP read-outs, on the halves a pilot's panel shows.
INSTANTIATE_TEST_SUITE_P(ApReadouts, ExactHalf,
                         testing::Values(FormatCase{"%03.0f", 2.5, "003"}, FormatCase{"%03.0f", 248.5, "249"},
                                         FormatCase{".%02.0f", 0.5, ".01"}, FormatCase{"%03.0f00", 2.5, "00300"},
                                         FormatCase{"%05.0f", -500.5, "-0501"},
                                         FormatCase{"%+5.0f", 500.5, " +501"}));

// Halves with flags and widths: only the digits change, glibc's padding stays.
INSTANTIATE_TEST_SUITE_P(WithFlags, ExactHalf,
                         testing::Values(FormatCase{"%-6.1f|", 0.25, "0.3   |"}, FormatCase{"% .0f", 2.5, " 3"},
                                         FormatCase{"% .0f", -2.5, "-3"}, FormatCase{"%#.0f", 2.5, "3."},
                                         FormatCase{"%+.2f", -0.125, "-0.13"}, FormatCase{"%08.2f", -0.125, "-0000.13"},
                                         FormatCase{"%+08.2f", 0.125, "+0000.13"},
                                         FormatCase{"%-+7.0f|", 0.5, "+1     |"}, FormatCase{"%lf", 0.0078125, "0.007813"}));

// Everything that is not an exact half at the requested precision is rounded by its true
// value, as glibc already does.
class NotAHalf : public testing::TestWithParam<FormatCase> {};

TEST_P(NotAHalf, FormatsAsGlibcDoes) {
    const FormatCase& c = GetParam();
    EXPECT_EQ(msvcrt_sprintf(c.format, c.value), c.expected);
    EXPECT_EQ(glibc_sprintf(c.format, c.value), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, NotAHalf,
    testing::Values(
        // 2.675 is 2.67499999999999982236431605997495353221893310546875
        FormatCase{"%.2f", 2.675, "2.67"}, FormatCase{"%.2f", 1.005, "1.00"}, FormatCase{"%.1f", 0.15, "0.1"},
        FormatCase{"%.0f", 0.3, "0"}, FormatCase{"%.1f", 0.3, "0.3"},
        // the doubles just either side of a half
        FormatCase{"%.0f", std::nextafter(2.5, 0.0), "2"}, FormatCase{"%.0f", std::nextafter(2.5, 3.0), "3"},
        FormatCase{"%.2f", std::nextafter(0.125, 0.0), "0.12"},
        // a half at a shorter precision than asked: nothing is dropped
        FormatCase{"%.2f", 0.25, "0.25"}, FormatCase{"%.3f", 0.125, "0.125"}, FormatCase{"%.20f", 0.125, "0.12500000000000000000"},
        // halves that round to even away from zero already
        FormatCase{"%.0f", 3.5, "4"}, FormatCase{"%.0f", -3.5, "-4"}, FormatCase{"%.2f", 0.375, "0.38"},
        // a whole number, and the smallest double, whose 1074 fraction digits the check reads
        FormatCase{"%.0f", 248.0, "248"}, FormatCase{"%.0f", 4.9406564584124654e-324, "0"},
        FormatCase{"%03.0f", 1000.0, "1000"}, FormatCase{"-----", 2.5, "-----"}));

// 1e300 prints all 301 of its integer digits, as glibc's exact expansion has them, in
// every read-out format: the formatter itself has no bound, as msvcrt's has none.
TEST(MsvcrtFormat, HugeValuesPrintTheirWholeExpansion) {
    const std::string expansion = glibc_sprintf("%.0f", 1e300);
    ASSERT_EQ(expansion.size(), 301u);
    EXPECT_EQ(expansion.substr(0, 24), "100000000000000005250476");
    EXPECT_EQ(msvcrt_sprintf("%.0f", 1e300), expansion);
    EXPECT_EQ(msvcrt_sprintf("%f", 1e300), expansion + ".000000");
    EXPECT_EQ(msvcrt_sprintf("%05.0f", -1e300), "-" + expansion);
    EXPECT_EQ(msvcrt_sprintf("%+5.0f", 1e300), "+" + expansion);
    EXPECT_EQ(msvcrt_sprintf("%03.0f00", 1e300), expansion + "00");
    EXPECT_EQ(msvcrt_sprintf("%.0f", 1.7976931348623157e308).size(), 309u);
}

// A double is 8 bytes of arguments: whatever follows it is read from the right place,
// and every other conversion is glibc's.
TEST(MsvcrtFormat, MixedConversionsReadEachArgumentInTurn) {
    EXPECT_EQ(msvcrt_sprintf("%s=%5.1f %d%% [%c] %x", "IAS", 248.25, -3, 'k', 255u), "IAS=248.3 -3% [k] ff");
    EXPECT_EQ(msvcrt_sprintf("%d %.0f %d %.0f %s", 1, 0.5, 2, -2.5, "end"), "1 1 2 -3 end");
    EXPECT_EQ(msvcrt_sprintf("%I64d %.0f %lld|%-4s|%5.2s|", 1LL << 33, 2.5, -(1LL << 40), "ab", "xyz"),
              "8589934592 3 -1099511627776|ab  |   xy|");
    // msvcrt's long double is a double.
    EXPECT_EQ(msvcrt_sprintf("%.0Lf|%d", 2.5, 7), "3|7");
    EXPECT_EQ(msvcrt_sprintf("%hd %hhu %u %o %X", 65537, 257, 4294967295u, 8, 0xBEEF), "1 1 4294967295 10 BEEF");
}

// The read-outs' integer formats, which the plain formatter serves, come out as glibc
// writes them, two 4-byte arguments read in turn.
TEST(MsvcrtFormat, IntegerReadoutFormatsAreGlibcs) {
    const int values[] = {0, 5, -5, 9, 10, 59, 99, 100, -100, 2026, 123456, INT32_MAX, INT32_MIN};
    int compared = 0;
    for (const char* format : {"%02d:%02d", "%2d:%02d", "%2d.%1d", "%2d %2d", "%02d %02d", "%+3d|%-4d|", "% d%%%u"})
        for (const int first : values)
            for (const int second : values) {
                char expected[64];
                std::snprintf(expected, sizeof expected, format, first, second);
                ASSERT_EQ(msvcrt_sprintf(format, first, second), expected) << format << " of " << first << ", " << second;
                ++compared;
            }
    EXPECT_EQ(compared, 7 * 13 * 13);
}

// Width and precision from the arguments, read before the value; a negative width
// left-justifies, a negative precision counts as none.
TEST(MsvcrtFormat, StarWidthAndPrecisionComeFromTheArguments) {
    EXPECT_EQ(msvcrt_sprintf("%*.*f|", 7, 1, 0.25), "    0.3|");
    EXPECT_EQ(msvcrt_sprintf("%*.0f|", -4, 2.5), "3   |");
    EXPECT_EQ(msvcrt_sprintf("%.*f|", -1, 0.0078125), "0.007813|");
    EXPECT_EQ(msvcrt_sprintf("%0*d", 5, 42), "00042");
}

// A conversion whose argument size is not known is copied as text, and so is the rest of
// the format: no argument after it is read. Widths past the bound are refused alike.
TEST(MsvcrtFormat, UnservedConversionsStopReadingArguments) {
    EXPECT_EQ(msvcrt_sprintf("%d %n %d", 1, nullptr, 2), "1 %n %d");
    EXPECT_EQ(msvcrt_sprintf("%.0f %ls!", 2.5, L"wide"), "3 %ls!");
    EXPECT_EQ(msvcrt_sprintf("a%5000d", 1), "a%5000d");
    EXPECT_EQ(msvcrt_sprintf("%.0f%*d", 0.5, 100000, 1), "1%*d");
    EXPECT_EQ(msvcrt_sprintf("%.0f%", 0.5), "1%");
    EXPECT_EQ(msvcrt_sprintf("100%%"), "100%");
}

// The read-outs' formats over many values, against a reference that knows nothing of the
// formatter's integer arithmetic: glibc's own exact expansion says whether a value is an
// exact half, and glibc prints the next double away from zero for it. Halves, whole
// numbers, large, tiny and negative values, and every flag the formats use.
std::string reference_fixed(const char* format, int precision, double value) {
    char expansion[1200];
    std::snprintf(expansion, sizeof expansion, "%.1100f", std::fabs(value));
    const char* dropped = std::strchr(expansion, '.') + 1 + precision;
    const bool half = *dropped == '5' && std::strspn(dropped + 1, "0") == std::strlen(dropped + 1);
    return glibc_sprintf(format, half ? std::nextafter(value, std::copysign(HUGE_VAL, value)) : value);
}

TEST(MsvcrtFormat, FixedConversionsMatchTheExactReference) {
    struct Fixed {
        const char* format;
        int precision;
    };
    const Fixed formats[] = {{"%03.0f", 0}, {"%+5.0f", 0}, {"%05.0f", 0}, {"%.0f", 0},   {"%.1f", 1},
                             {"%.2f", 2},   {"%.3f", 3},   {"%f", 6},     {"%-8.2f", 2}, {"% .1f", 1},
                             {"%#.0f", 0},  {"%08.3f", 3}, {"%.10f", 10}, {"%12.4f", 4}};
    std::vector<double> values = {0.0,   -0.0, 0.5,     -0.5,   1.5,      2.5,     0.25,    0.125,   0.375,
                                  999.5, 1e15, 1.5e15,  -1e18,  9.2e18,   1e19,    1e-3,    1e-7,    5e-324,
                                  0.05,  0.15, 0.0005,  12.345, 248.25,   -248.25, 4800.5,  -6000.0, 16380.0,
                                  1e300, -1e300, 0.1,   0.2,    0.3,      2.675,   1.005,   123456.5};
    uint64_t state = 0x9E3779B97F4A7C15ull;
    auto next = [&] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    for (int i = 0; i < 3000; ++i) {
        // Values of every magnitude, and halves at each precision.
        const double magnitude = std::ldexp(static_cast<double>(next() % 1000000) + 1, static_cast<int>(next() % 80) - 60);
        values.push_back((next() & 1) ? magnitude : -magnitude);
        values.push_back(std::ldexp(static_cast<double>(2 * (next() % 100000) + 1), -static_cast<int>(next() % 12) - 1));
    }
    int compared = 0;
    for (const Fixed& f : formats) {
        for (const double value : values) {
            ASSERT_EQ(msvcrt_sprintf(f.format, value), reference_fixed(f.format, f.precision, value))
                << f.format << " of " << value;
            ++compared;
        }
    }
    EXPECT_EQ(compared, static_cast<int>(std::size(formats) * values.size()));
}

// The texts of the last calls are kept and handed back to a call with the same format
// bytes and arguments: a read-out formatted again and again. Everything else is formatted.
TEST(MsvcrtFormat, KeptTextsAnswerOnlyTheSameFormatAndArguments) {
    // Formats in writable memory, as a module's data may hold them.
    char format[32] = "%03.0f";
    for (int round = 0; round < 3; ++round) {
        // Two read-outs sharing one format, each with its own value.
        EXPECT_EQ(module_sprintf(format, 360.0), "360");
        EXPECT_EQ(module_sprintf(format, 250.0), "250");
        EXPECT_EQ(module_sprintf(format, 249.5), "250");
    }
    // Changed in place: the same address, other bytes, longer and shorter.
    std::strcpy(format, "%04.0f");
    EXPECT_EQ(module_sprintf(format, 360.0), "0360");
    std::strcpy(format, "%.0f");
    EXPECT_EQ(module_sprintf(format, 360.0), "360");
    std::strcpy(format, "%.0f|");
    EXPECT_EQ(module_sprintf(format, 360.0), "360|");
    // Integers: a change in the second argument alone.
    std::strcpy(format, "%02d:%02d");
    EXPECT_EQ(module_sprintf(format, 1, 2), "01:02");
    EXPECT_EQ(module_sprintf(format, 1, 2), "01:02");
    EXPECT_EQ(module_sprintf(format, 1, 3), "01:03");
    // A string's text can change behind the same pointer.
    char name[8] = "ALT";
    std::strcpy(format, "[%s]");
    EXPECT_EQ(module_sprintf(format, name), "[ALT]");
    std::strcpy(name, "IAS");
    EXPECT_EQ(module_sprintf(format, name), "[IAS]");
    // A kept text that does not fit the room given is not handed back.
    std::strcpy(format, "%03.0f");
    char out[8];
    EXPECT_EQ(plain_into(out, sizeof out, format, 360.0), 3);
    EXPECT_STREQ(out, "360");
    EXPECT_EQ(plain_into(out, 3, format, 360.0), -1);
    EXPECT_EQ(plain_into(out, 4, format, 360.0), 3);
    // A format longer than those kept is formatted at every call.
    const char* long_format = "%d and %d and %d and %d and more";
    EXPECT_EQ(module_sprintf(long_format, 1, 2, 3, 4), "1 and 2 and 3 and 4 and more");
    EXPECT_EQ(module_sprintf(long_format, 1, 2, 3, 5), "1 and 2 and 3 and 5 and more");
}

}  // namespace


#endif  // !defined(_WIN32)
