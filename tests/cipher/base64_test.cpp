#include "cipher/base64_codec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cipher_test_util.h"

namespace {

using kalv::DecodeBase64;
using kalv::EncodeBase64;
using kalv_test::hex;
using kalv_test::to_hex;

std::string bytes_hex(const std::string& s) {
    return to_hex(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

TEST(Base64, Rfc4648TestVectors) {
    // RFC 4648 section 10.
    const std::pair<const char*, const char*> cases[] = {
        {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},         {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [plain, encoded] : cases) {
        EXPECT_EQ(EncodeBase64(plain), encoded) << plain;
        EXPECT_EQ(DecodeBase64(encoded), plain) << encoded;
    }
}

TEST(Base64, EncoderUsesWholeAlphabetAndNeverBreaksLines) {
    std::string all;
    for (int i = 0; i < 256; ++i) all += char(i);
    std::string long_input;
    for (int k = 0; k < 40; ++k) long_input += all;  // 10240 bytes, far beyond a MIME line
    const std::string text = EncodeBase64(long_input);
    EXPECT_EQ(text.size(), 4 * ((long_input.size() + 2) / 3));
    EXPECT_EQ(text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
              std::string::npos);
    // 0xFB 0xEF 0xBE and 0xFB 0xFF select the last two alphabet characters.
    EXPECT_EQ(EncodeBase64("\xfb\xef\xbe"), "++++");
    EXPECT_EQ(EncodeBase64("\xff\xff\xff"), "////");
}

TEST(Base64, RoundTripsEveryLengthAndByteValue) {
    for (size_t n = 0; n <= 70; ++n) {
        std::string bytes;
        for (size_t i = 0; i < n; ++i) bytes += char(i * 97 + n * 31);
        const std::string text = EncodeBase64(bytes);
        ASSERT_EQ(text.size(), 4 * ((n + 2) / 3)) << n;
        EXPECT_EQ(text.size() - text.find_last_not_of('='), 1 + (3 - n % 3) % 3) << n;
        EXPECT_EQ(DecodeBase64(text), bytes) << n;
        EXPECT_TRUE(kalv::IsCanonicalBase64(text)) << text;
    }
}

TEST(Base64, BlockOperationsWriteExactlyTheirCounts) {
    // Guard bytes around the output catch a write past the documented size.
    std::vector<char> text(4 + 8 + 4, '#');
    const uint8_t in[5] = {1, 2, 3, 4, 5};
    EXPECT_EQ(kalv::EncodeBase64Block(in, text.data() + 4, 5), 8);
    EXPECT_EQ(std::string(text.begin(), text.end()), "####AQIDBAU=####");

    std::vector<uint8_t> out(4 + 6 + 4, 0xAA);
    EXPECT_EQ(kalv::DecodeBase64Block("Zm9vYmE=xyz", out.data() + 4, 11), 5);
    EXPECT_EQ(to_hex(out.data(), out.size()), "aaaaaaaa" "666f6f6261" "aa" "aaaaaaaa");
    EXPECT_EQ(kalv::DecodeBase64Block("Zm9", out.data(), 3), 0);
    EXPECT_EQ(kalv::DecodeBase64Block("Zm9v", out.data(), -4), 0);
}

// The decoder validates nothing; each row pins one of its rules.
TEST(Base64, DecoderFillAndForeignCharacterRules) {
    struct Case {
        const char* text;
        const char* bytes_hex;
        const char* why;
    };
    const Case cases[] = {
        {"Zg==", "66", "'=' in the third slot: one byte"},
        {"Zm8=", "666f", "'=' only in the fourth slot: two bytes"},
        {"Zg=v", "66", "'=' in the third slot ends the group whatever the fourth holds"},
        {"Zg==Zm9v", "66666f6f", "'=' ends only its own group, decoding goes on"},
        {"Zm9vY", "666f6f", "characters beyond the last whole group are ignored"},
        {"Zm9vYm", "666f6f", "two trailing characters are ignored"},
        {"Zm9vYmE", "666f6f", "three trailing characters are ignored"},
        {"=AAA", "fc0000", "'=' in the first slot is the value 255 in the arithmetic"},
        {"A=AA", "0ff000", "'=' in the second slot is the value 255 in the arithmetic"},
        {"====", "ff", "slot 3 is a fill: one byte from two 255 slots"},
        {"!!!!", "000000", "foreign characters in the first group read as 0"},
        {"Zm9v!!!!", "666f6f666f6f", "a foreign character keeps its slot's previous value"},
        {"Zm9v\r\n\t ", "666f6f666f6f", "line breaks and blanks are foreign characters too"},
        {"Zg==!!!!", "6666", "a kept '=' still shortens the later group"},
        {"Zm9vA!A!", "666f6f02602f", "only the foreign slots keep old values"},
        {"Zm 9", "66603d", "a blank inside the first group reads as 0"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(bytes_hex(DecodeBase64(c.text)), c.bytes_hex) << c.text << ": " << c.why;
    }
}

TEST(Base64, CanonicalFormIsWhatTheEncoderWrites) {
    const std::pair<const char*, bool> cases[] = {
        {"", true},        {"Zg==", true},   {"Zm8=", true},    {"Zm9v", true},  {"+/+/", true},
        {"Zh==", false},   // bits below the last whole byte are not zero
        {"Zm9=", false},   // same with a single fill
        {"Zm9", false},    {"Zm9vY", false}, {"Z===", false},   {"=Zm9", false}, {"Zg==Zm9v", false},
        {"Zm 9v", false},  {"Zm9v\n", false}, {"Zm-_", false},  // the URL-safe alphabet is not ours
    };
    for (const auto& [text, canonical] : cases) EXPECT_EQ(kalv::IsCanonicalBase64(text), canonical) << text;
}

}  // namespace
