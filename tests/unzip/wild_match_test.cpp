#include "unzip/wild_match.h"

#include <gtest/gtest.h>

namespace kalv::unzip {
namespace {

struct Case {
    const char* pattern;
    const char* subject;
    bool matches;
    const char* why;
};

const Case kCases[] = {
    {"*", "", true, "a lone star matches the empty subject"},
    {"*", "dir\\sub\\file.txt", true, "a lone star matches everything"},
    {"*.txt", "dir\\sub\\file.txt", true, "the star crosses path delimiters"},
    {"*.txt", "file.txt.bak", false, "the whole subject must match"},
    {"kalvo3.ib", "KALVO3.IB", true, "letter case never matters"},
    {"KALVO3.IB", "data\\kalvo3.ib", false, "no implicit directory part"},
    {"file?.dat", "file1.dat", true, "? is one character"},
    {"file?.dat", "file.dat", false, "? is not zero characters"},
    {"file?.dat", "file12.dat", false, "? is not two characters"},
    {"<abc>x", "bx", true, "a set matches one of its characters"},
    {"<abc>x", "dx", false, "and nothing else"},
    {"<!abc>x", "dx", true, "! inverts the set"},
    {"<^abc>x", "ax", false, "^ inverts the set too"},
    {"v<0-9>", "v7", true, "a range of byte values"},
    {"v<9-0>", "v7", false, "a range written high to low matches nothing"},
    {"v<0-9>", "v", false, "a set needs a character"},
    {"<>x", "x", false, "an empty set is malformed"},
    {"<abc", "a", false, "a set without > is malformed"},
    {"<a->", "a", false, "a range running into > is malformed"},
    {"<a-", "a", false, "a range running into the end is malformed"},
    {"v*<0-9>", "v2024", true, "star-set matches a run inside the set"},
    {"v*<0-9>", "v20x4", false, "every character of the run must be in the set"},
    {"v*<!0-9>.txt", "vabc.txt", true, "an inverted star-set"},
    {"a\\b", "a\\b", true, "a backslash is an ordinary character"},
    {"a.b", "axb", false, "a dot is an ordinary character"},
    {"abc*", "abc", true, "a trailing star may match nothing"},
    {"", "", true, "the empty pattern matches the empty subject"},
    {"", "a", false, "and nothing else"},
    {"*a*a*a*a*a*a*a*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false,
     "many stars fail quickly (no exponential backtracking)"},
    {"*?", "x", true, "? after * (left open, but must not crash)"},
    {"**", "", true, "two stars (left open, but must not crash)"},
};

TEST(MatchesPattern, Table) {
    for (const Case& c : kCases) EXPECT_EQ(MatchesPattern(c.pattern, c.subject), c.matches) << c.pattern << " vs " << c.subject << ": " << c.why;
}

TEST(MatchesPattern, BytesAboveAsciiStandForThemselves) {
    EXPECT_TRUE(MatchesPattern("\xC4*", "\xC4rger.txt"));
    EXPECT_FALSE(MatchesPattern("\xE4*", "\xC4rger.txt"));  // only ASCII letters are folded
    EXPECT_TRUE(MatchesPattern("<\x80-\xFF>", "\xC4"));
}

}  // namespace
}  // namespace kalv::unzip
