#include "core/crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

namespace {

uint32_t crc_of(const std::string& s) { return kalv::crc32_of(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }

// Bitwise reference: one shift per bit, no tables.
uint32_t slow_crc(const std::vector<uint8_t>& data) {
    uint32_t c = 0xFFFFFFFF;
    for (uint8_t b : data) {
        c ^= b;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    return ~c;
}

TEST(Crc32, KnownAnswers) {
    EXPECT_EQ(crc_of(""), 0x00000000u);
    EXPECT_EQ(crc_of("a"), 0xE8B7BE43u);
    EXPECT_EQ(crc_of("123456789"), 0xCBF43926u);  // the check value of CRC-32/ISO-HDLC
    EXPECT_EQ(crc_of("The quick brown fox jumps over the lazy dog"), 0x414FA339u);
}

TEST(Crc32, SlicedLoopMatchesBitwiseAtEveryLengthAndSplit) {
    std::vector<uint8_t> data(67);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 131 + 7);
    for (size_t n = 0; n <= data.size(); ++n) {
        std::vector<uint8_t> head(data.begin(), data.begin() + n);
        EXPECT_EQ(kalv::crc32_of(head.data(), n), slow_crc(head)) << n;
        // Fed in two pieces (the driver's 16000-byte blocks) the register carries over.
        for (size_t split = 0; split <= n; split += 5) {
            uint32_t c = kalv::crc32_update(0xFFFFFFFF, head.data(), split);
            c = kalv::crc32_update(c, head.data() + split, n - split);
            EXPECT_EQ(~c, slow_crc(head)) << n << "/" << split;
        }
    }
}

// Every implementation the dispatcher can pick, forced in turn, against zlib's
// crc32. Lengths 0-1024 from every misalignment 0-63 cross each path's thresholds
// (the table loop below 64 bytes, one 128-bit lane, four lanes, four 512-bit
// vectors) and its 16-byte and byte tails; the long buffer runs the main loops
// many times and hands a register over between two calls.
struct Implementation {
    kalv::Crc32Kind kind;
    const char* name;
};
constexpr Implementation kImplementations[] = {
    {kalv::Crc32Kind::Slicing8, "Slicing8"},
    {kalv::Crc32Kind::Pclmul, "Pclmul"},
    {kalv::Crc32Kind::Vpclmul512, "Vpclmul512"},
};

class Crc32Implementation : public testing::TestWithParam<Implementation> {
protected:
    void SetUp() override {
        update_ = kalv::crc32_implementation(GetParam().kind);
        if (!update_) GTEST_SKIP() << GetParam().name << ": this CPU lacks it";
    }
    kalv::Crc32Update update_ = nullptr;
};

std::vector<uint8_t> random_bytes(size_t n) {
    std::mt19937 rng(1951);
    std::vector<uint8_t> v(n);
    for (uint8_t& b : v) b = static_cast<uint8_t>(rng());
    return v;
}

uint32_t zlib_crc(const uint8_t* data, size_t n) { return static_cast<uint32_t>(::crc32(0, data, static_cast<uInt>(n))); }

TEST_P(Crc32Implementation, EveryLengthFromEveryMisalignmentMatchesZlib) {
    const std::vector<uint8_t> data = random_bytes(64 + 1024);
    for (size_t offset = 0; offset < 64; ++offset)
        for (size_t n = 0; n <= 1024; ++n)
            ASSERT_EQ(~update_(0xFFFFFFFF, data.data() + offset, n), zlib_crc(data.data() + offset, n)) << offset << "+" << n;
}

TEST_P(Crc32Implementation, LongBufferInTwoCallsMatchesZlib) {
    const std::vector<uint8_t> data = random_bytes((1 << 20) + 77);
    const uint32_t expected = zlib_crc(data.data(), data.size());
    for (size_t split : {size_t{0}, size_t{5}, size_t{4096}, size_t{333333}, data.size()}) {
        const uint32_t head = update_(0xFFFFFFFF, data.data(), split);
        EXPECT_EQ(~update_(head, data.data() + split, data.size() - split), expected) << split;
    }
}

INSTANTIATE_TEST_SUITE_P(All, Crc32Implementation, testing::ValuesIn(kImplementations),
                         [](const testing::TestParamInfo<Implementation>& test) { return std::string(test.param.name); });

}  // namespace
