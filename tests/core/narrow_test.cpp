#include "core/narrow.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <limits>

namespace {

using kalv::checked_narrow;

TEST(CheckedNarrow, KeepsWhatFitsAndRefusesWhatDoesNot) {
    constexpr size_t kBeyond32Bits = size_t{std::numeric_limits<uint32_t>::max()} + 1;
    EXPECT_EQ(checked_narrow<uint32_t>(size_t{4294967295u}), 4294967295u) << "the largest value that fits";
    EXPECT_THROW(checked_narrow<uint32_t>(kBeyond32Bits), kalv::IntegerOverflow) << "cut down it would be 0";
    EXPECT_EQ(checked_narrow<int32_t>(int64_t{-2147483648LL}), std::numeric_limits<int32_t>::min());
    EXPECT_THROW(checked_narrow<int32_t>(uint32_t{2147483648u}), kalv::IntegerOverflow) << "it would turn negative";
    EXPECT_THROW(checked_narrow<uint32_t>(-1), kalv::IntegerOverflow) << "a negative count has no unsigned value";
    EXPECT_THROW(checked_narrow<uint16_t>(65536), kalv::IntegerOverflow);
}

}  // namespace
