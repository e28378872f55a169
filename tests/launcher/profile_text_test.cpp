// The profile API's reading rules, as NET.INF is read on every platform.
#include <gtest/gtest.h>

#include "platform/profile_text.h"

namespace kalv::platform {
namespace {

struct ProfileCase {
    const char* why;
    const char* content;
    const char* expected;
};

class ProfileRules : public ::testing::TestWithParam<ProfileCase> {};

TEST_P(ProfileRules, UpgradeOfSectionDb) {
    const ProfileCase& c = GetParam();
    EXPECT_EQ(profile_value(c.content, "DB", "Upgrade", "Kalvo3pack", 2048), c.expected) << c.why;
}

INSTANTIATE_TEST_SUITE_P(
    NetInf, ProfileRules,
    ::testing::Values(
        ProfileCase{"plain value", "[DB]\nUpgrade=\\\\srv\\pkg\\Kalvo3pack\n", "\\\\srv\\pkg\\Kalvo3pack"},
        ProfileCase{"names without regard to case", "[db]\nUPGRADE=x\n", "x"},
        ProfileCase{"blanks around names and value", "  [ DB ]  \r\n  Upgrade  =   a b  \r\n", "a b"},
        ProfileCase{"one pair of double quotes removed", "[DB]\nUpgrade=\"C:\\My Shop\\p\"\n", "C:\\My Shop\\p"},
        ProfileCase{"only one pair", "[DB]\nUpgrade=\"\"x\"\"\n", "\"x\""},
        ProfileCase{"single quotes too", "[DB]\nUpgrade='x'\n", "x"},
        ProfileCase{"unmatched quote stays", "[DB]\nUpgrade=\"x\n", "\"x"},
        ProfileCase{"empty value is not the default", "[DB]\nUpgrade=\n", ""},
        ProfileCase{"key without equals sign", "[DB]\nUpgrade\n", ""},
        ProfileCase{"missing key gives the default", "[DB]\nOther=1\n", "Kalvo3pack"},
        ProfileCase{"missing section gives the default", "[NET]\nUpgrade=x\n", "Kalvo3pack"},
        ProfileCase{"empty file gives the default", "", "Kalvo3pack"},
        ProfileCase{"key of another section is not taken", "[A]\nUpgrade=a\n[DB]\nX=1\n", "Kalvo3pack"},
        ProfileCase{"first key wins", "[DB]\nUpgrade=1\nUpgrade=2\n", "1"},
        ProfileCase{"comment lines are passed over", "[DB]\n;Upgrade=c\nUpgrade=v\n", "v"},
        ProfileCase{"equals sign inside the value", "[DB]\nUpgrade=a=b\n", "a=b"},
        ProfileCase{"no final line break", "[DB]\nUpgrade=last", "last"},
        // Regression: the mark hid the first section, so the file was silently ignored.
        ProfileCase{"UTF-8 byte-order mark before the first line", "\xEF\xBB\xBF[DB]\r\nUpgrade=x\r\n", "x"},
        ProfileCase{"the mark only at the very start", "[A]\n\xEF\xBB\xBF[DB]\nUpgrade=x\n", "Kalvo3pack"}));

TEST(ProfileRules, ValueIsCutToTheBufferLessItsTerminatingZero) {
    const std::string long_value(3000, 'v');
    const std::string content = "[DB]\nUpgrade=" + long_value + "\n";
    EXPECT_EQ(profile_value(content, "DB", "Upgrade", "", 2048), std::string(2047, 'v'));
    EXPECT_EQ(profile_value(content, "DB", "Upgrade", "", 1), "");
    EXPECT_EQ(profile_value(content, "DB", "Upgrade", "", 0), "");
}

TEST(ProfileRules, DefaultLosesTrailingBlanksAndIsCutToo) {
    EXPECT_EQ(profile_value("", "DB", "Upgrade", "pack  ", 2048), "pack");
    EXPECT_EQ(profile_value("", "DB", "Upgrade", "abcdef", 4), "abc");
}

TEST(ProfileRules, BinaryGarbageNeverFails) {
    std::string garbage;
    for (int i = 0; i < 4096; ++i) garbage += char((i * 131 + 7) & 0xFF);
    EXPECT_EQ(profile_value(garbage, "DB", "Upgrade", "d", 2048), "d");
    EXPECT_EQ(profile_value(std::string("[DB]\nUpgrade=a\0b\n", 17), "DB", "Upgrade", "", 2048),
              std::string("a\0b", 3));
}

}  // namespace
}  // namespace kalv::platform
