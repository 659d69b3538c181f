// The two helpers every gauge formats and counts with: the float-to-integer truncation
// and the bounded read-out writer, at the values where a plain cast or copy goes wrong.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>

#include "numeric.h"
#include "text.h"

namespace {

TEST(TruncateToInt32, TruncatesTowardZeroInRange) {
    EXPECT_EQ(truncate_to_int32(17.99), 17);
    EXPECT_EQ(truncate_to_int32(-17.99), -17);
    EXPECT_EQ(truncate_to_int32(-0.5), 0);
    EXPECT_EQ(truncate_to_int32(2147483647.9), INT32_MAX);
    EXPECT_EQ(truncate_to_int32(-2147483648.9), INT32_MIN);
}

TEST(TruncateToInt32, SaturatesBeyondTheRangeAndMapsNaNToZero) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(truncate_to_int32(2147483648.0), INT32_MAX);
    EXPECT_EQ(truncate_to_int32(1e300), INT32_MAX);
    EXPECT_EQ(truncate_to_int32(inf), INT32_MAX);
    EXPECT_EQ(truncate_to_int32(-2147483649.0), INT32_MIN);
    EXPECT_EQ(truncate_to_int32(-inf), INT32_MIN);
    EXPECT_EQ(truncate_to_int32(std::nan("")), 0);
    static_assert(truncate_to_int32(-1.0) == -1, "usable in constant expressions");
}

TEST(TruncateToUint32Word, KeepsTheTwosComplementWord) {
    EXPECT_EQ(truncate_to_uint32_word(-1.0), 0xFFFFFFFFu);
    EXPECT_EQ(truncate_to_uint32_word(2003.7), 2003u);
}

// A read-out whose host buffer has room for char_count characters and the NUL,
// followed by guard bytes that must survive every write.
struct Readout {
    StringElement element{};
    std::array<char, 5 + 1 + 8> storage{};

    explicit Readout(uint32_t char_count) {
        storage.fill('#');
        element.char_count = char_count;
        element.text = storage.data();
    }
    bool guards_intact() const {
        for (std::size_t i = element.char_count + 1; i < storage.size(); ++i)
            if (storage[i] != '#') return false;
        return true;
    }
};

TEST(PutReadoutText, WritesATextThatFitsUnchanged) {
    Readout readout(5);
    put_readout_text(readout.element, " 9:05", 5);
    EXPECT_STREQ(readout.storage.data(), " 9:05");
    put_readout_text(readout.element, "ab", 2);
    EXPECT_STREQ(readout.storage.data(), "ab");
    EXPECT_TRUE(readout.guards_intact());
}

TEST(PutReadoutText, ShowsDashesForATextTooLongOrAFormatterFailure) {
    Readout readout(5);
    put_readout_text(readout.element, "12345:05", 8);
    EXPECT_STREQ(readout.storage.data(), "-----");
    EXPECT_TRUE(readout.guards_intact());
    put_readout_text(readout.element, "", -1);
    EXPECT_STREQ(readout.storage.data(), "-----");
    Readout narrow(3);
    put_readout_text(narrow.element, "1000", 4);
    EXPECT_STREQ(narrow.storage.data(), "---");
    EXPECT_TRUE(narrow.guards_intact());
}

TEST(PutReadoutText, LeavesAMissingBufferAlone) {
    StringElement element{};
    element.char_count = 5;
    put_readout_text(element, "12345", 5);  // must not crash
    EXPECT_EQ(element.text, nullptr);
}

}  // namespace
