// The trace's integers: json::append_integer writes every 64-bit value as std::to_string
// does, on both sides of the 32-bit range that it writes with 32-bit arithmetic.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "json.h"

namespace {

TEST(JsonInteger, EveryValueReadsAsToStringWritesIt) {
    std::vector<int64_t> values = {0, 1, -1, 9, 10, -10, 999, 1000, 4294967295LL, 4294967296LL, -4294967296LL};
    for (const int64_t edge : {int64_t{std::numeric_limits<int32_t>::min()}, int64_t{std::numeric_limits<int32_t>::max()},
                               std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max()})
        for (const int64_t step : {-2, -1, 0, 1, 2})
            if ((step < 0 && edge > std::numeric_limits<int64_t>::min() + 2) ||
                (step > 0 && edge < std::numeric_limits<int64_t>::max() - 2) || step == 0)
                values.push_back(edge + step);
    uint64_t state = 0x9E3779B97F4A7C15ull;
    for (int i = 0; i < 2000; ++i) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        values.push_back(static_cast<int64_t>(state >> (state % 64)) * ((state & 1) ? -1 : 1));
    }
    std::string out = "[";
    std::string expected = "[";
    for (const int64_t value : values) {
        kestrel::json::append_integer(out, value);
        out += ',';
        expected += std::to_string(value) + ',';
    }
    EXPECT_EQ(out, expected);
    EXPECT_GT(values.size(), 2000u);
}

}  // namespace
