#include "cipher/text_cipher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <string>
#include <thread>
#include <vector>

#include "cipher/base64_codec.h"
#include "core/errors.h"

namespace {

using namespace std::string_literals;
using kalv::DecryptText;
using kalv::EncryptText;
using kalv::PadText;

TEST(PadText, FillsWithZeroBytesToWholeBlocks) {
    struct Case {
        std::string source;
        int32_t block;
        std::string expected;
    };
    const Case cases[] = {
        {"", 16, std::string(16, '\0')},                       // empty: one whole block
        {"abc", 16, "abc" + std::string(13, '\0')},
        {std::string(16, 'x'), 16, std::string(16, 'x')},     // whole blocks stay as they are
        {std::string(17, 'x'), 16, std::string(17, 'x') + std::string(15, '\0')},
        {"mild_sun_rise", 32, "mild_sun_rise" + std::string(19, '\0')},
        {"a\0b"s, 4, "a\0b\0"s},                               // zero bytes inside are kept
        {"abc", 1, "abc"},
        {"", 1, "\0"s},
        {"abcd", 3, "abcd\0\0"s},
    };
    for (const Case& c : cases) EXPECT_EQ(PadText(c.source, c.block), c.expected) << c.source.size() << "/" << c.block;
}

TEST(PadText, LengthArithmeticIsSigned32BitWithOverflowDetection) {
    constexpr size_t kMax = INT32_MAX;
    EXPECT_EQ(kalv::PaddedLength(0, 16), 16);
    EXPECT_EQ(kalv::PaddedLength(kMax / 16 * 16, 16), int32_t(kMax / 16 * 16));
    EXPECT_EQ(kalv::PaddedLength(kMax, 1), INT32_MAX);
    EXPECT_EQ(kalv::PaddedLength(kMax - 1, INT32_MAX), INT32_MAX);
    EXPECT_THROW(kalv::PaddedLength(kMax - 5, 16), kalv::IntegerOverflow);  // would need 2^31 bytes
    EXPECT_THROW(kalv::PaddedLength(kMax, 2), kalv::IntegerOverflow);
    EXPECT_THROW(kalv::PaddedLength(kMax + 1, 1), kalv::IntegerOverflow);
}

TEST(PadText, RefusesANonPositiveBlockLength) {
    EXPECT_THROW(PadText("abc", 0), kalv::Error);
    EXPECT_THROW(PadText("abc", -16), kalv::Error);
}

// Reference results: the OpenSSL command line over the zero-filled input,
//   openssl enc -aes-128-cbc -nopad -K 6d696c645f73756e5f72697365000000
//                                  -iv 35323900000000000000000000000000 -base64 -A
TEST(EncryptText, KnownAnswers) {
    EXPECT_EQ(EncryptText(""), "VRmbhpwNwilz9IB/T+7pYA==");
    EXPECT_EQ(EncryptText("\0"s), "VRmbhpwNwilz9IB/T+7pYA==") << "an explicit zero byte is indistinguishable";
    EXPECT_EQ(EncryptText("ABCDEFGHIJKLMNOP"), "hKQZ8oYBovOb4O1YjYuflQ==");
    EXPECT_EQ(EncryptText("hello"), "T8YsOwnSp4qGXyKS9H5cVw==");
    EXPECT_EQ(EncryptText("[SECTION],DBpath=/srv/shop/KALVO3.IB,"),
              "6uCHkdOkz078g98xjpzxhpTZmQTzhszTKAfdoixpQHbS0WUuJ3UpiPyYFy0GU1NZ");
}

TEST(EncryptText, LengthsAndAlphabet) {
    struct Case {
        size_t plain;
        size_t chars;
        size_t fills;
    };
    const Case cases[] = {{0, 24, 2}, {1, 24, 2}, {15, 24, 2}, {16, 24, 2}, {17, 44, 1},
                          {32, 44, 1}, {33, 64, 0}, {48, 64, 0}, {49, 88, 2}};
    for (const Case& c : cases) {
        std::string plain;
        for (size_t i = 0; i < c.plain; ++i) plain += char(0x80 + i);
        const std::string token = EncryptText(plain);
        EXPECT_EQ(token.size(), c.chars) << c.plain;
        EXPECT_EQ(token.size() - 1 - token.find_last_not_of('='), c.fills) << c.plain;
        EXPECT_TRUE(kalv::IsCanonicalBase64(token)) << token;
        EXPECT_EQ(token, EncryptText(plain)) << "nothing random";
    }
}

TEST(EncryptText, ZeroBytesInsideAreEncryptedLikeAnyOther) {
    const std::string with_zero = "ab\0cd"s, with_one = "ab\1cd"s;
    EXPECT_NE(EncryptText(with_zero), EncryptText(with_one));
    EXPECT_NE(EncryptText(with_zero), EncryptText("ab"));
    EXPECT_EQ(DecryptText(EncryptText(with_zero)), with_zero + std::string(11, '\0'));
}

TEST(DecryptText, ReturnsThePlainTextWithItsFill) {
    for (size_t n : {0, 1, 13, 16, 17, 33, 48, 100}) {
        std::string plain;
        for (size_t i = 0; i < n; ++i) plain += char('A' + i % 26);
        EXPECT_EQ(DecryptText(EncryptText(plain)), PadText(plain, 16)) << n;
    }
    // A plain text ending in zero bytes cannot be told from a shorter one.
    EXPECT_EQ(DecryptText(EncryptText("abc\0\0"s)), DecryptText(EncryptText("abc")));
    EXPECT_EQ(DecryptText(""), "");
}

// Every call owns its texts and its cipher object; the tables and constants are
// read-only. Threads encrypting at once must each see the single-threaded result.
TEST(EncryptText, ConcurrentCallsAgree) {
    const std::string expected = EncryptText("[SECTION],DBpath=/srv/shop/KALVO3.IB,");
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 300; ++i) {
                if (EncryptText("[SECTION],DBpath=/srv/shop/KALVO3.IB,") != expected) ++mismatches;
                if (DecryptText(expected).compare(0, 37, "[SECTION],DBpath=/srv/shop/KALVO3.IB,") != 0) ++mismatches;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
