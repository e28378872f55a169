// The usual rules for splitting a Windows command line (GetCommandLineA).
#include <gtest/gtest.h>

#include "platform/command_line.h"

namespace kalv::platform {
namespace {

using Args = std::vector<std::string>;

struct SplitCase {
    const char* why;
    const char* line;
    Args expected;
};

class CommandLineSplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(CommandLineSplit, Arguments) {
    EXPECT_EQ(split_command_line(GetParam().line), GetParam().expected) << GetParam().why;
}

INSTANTIATE_TEST_SUITE_P(
    UsualRules, CommandLineSplit,
    ::testing::Values(
        SplitCase{"program only", "Kalv3.exe", {"Kalv3.exe"}},
        SplitCase{"blanks and tabs separate", "Kalv3.exe  one\ttwo ", {"Kalv3.exe", "one", "two"}},
        SplitCase{"quotes group and are dropped", "\"C:\\Program Files\\Kalv3.exe\" \"a b\" c",
                  {"C:\\Program Files\\Kalv3.exe", "a b", "c"}},
        SplitCase{"quotes inside an argument", "p x\"y z\"w", {"p", "xy zw"}},
        SplitCase{"backslash is an ordinary character", "p C:\\dir\\ \\\"q\\\"", {"p", "C:\\dir\\", "\\q\\"}},
        SplitCase{"empty quotes make an empty argument", "p \"\" b", {"p", "", "b"}},
        SplitCase{"unclosed quote runs to the end", "p \"a b", {"p", "a b"}},
        SplitCase{"nothing at all", "", {}},
        SplitCase{"control characters are white space", "p\x01" "a\x1f" "b", {"p", "a", "b"}}));

}  // namespace
}  // namespace kalv::platform
