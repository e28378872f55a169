#include "core/crc32.h"

#include <gtest/gtest.h>

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

}  // namespace
