#include "core/text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct CaseRow {
    std::string text, lower, upper;
    const char* why;
};

// Only A-Z and a-z change: the letters' neighbours in ASCII and every byte from 0x80 up
// (a code-page letter such as 0xC4, 'Ä' in Windows-1252) stay, whatever the locale.
const CaseRow kCaseRows[] = {
    {"Kalvo3main.EXE", "kalvo3main.exe", "KALVO3MAIN.EXE", "letters change, digits and the dot stay"},
    {"@AZ[`az{", "@az[`az{", "@AZ[`AZ{", "the bytes next to A-Z and a-z stay"},
    {"\xC4\xE4\xFF", "\xC4\xE4\xFF", "\xC4\xE4\xFF", "code-page letters keep their case"},
    {std::string("a\0B", 3), std::string("a\0b", 3), std::string("A\0B", 3), "a zero byte is an ordinary byte"},
};

TEST(AsciiCase, LowerAndUpper) {
    for (const CaseRow& row : kCaseRows) {
        EXPECT_EQ(kalv::lower_ascii(row.text), row.lower) << row.why;
        EXPECT_EQ(kalv::upper_ascii(row.text), row.upper) << row.why;
        EXPECT_TRUE(kalv::same_name(row.lower, row.upper)) << row.why;
    }
}

TEST(AsciiCase, SameNameNeedsTheSameBytesButForCase) {
    EXPECT_TRUE(kalv::same_name("C:\\Kalv\\", "c:\\KALV\\"));
    EXPECT_FALSE(kalv::same_name("Upgrade", "Upgrade "));      // a longer name is another name
    EXPECT_FALSE(kalv::same_name("\xC4", "\xE4"));             // 'Ä' and 'ä' are two names
    EXPECT_FALSE(kalv::same_name("[", "{"));                   // 0x5B and 0x7B differ by 0x20 too
}

}  // namespace
