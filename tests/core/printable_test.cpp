#include "core/printable.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Row {
    std::string text, shown;
    const char* why;
};

// Each row a way a hostile name could reach the reader's terminal or the log, or a
// harmless name that must stay readable.
const Row kRows[] = {
    {"a.txt\nOK    b.txt", "a.txt\\x0AOK    b.txt", "a line feed would forge a report line"},
    {"x\r\n=== Kalv3 run", "x\\x0D\\x0A=== Kalv3 run", "CR LF would forge a run block of the log"},
    {"e\x1B[8mhidden", "e\\x1B[8mhidden", "ESC would start a sequence that hides text"},
    {std::string("a\0b", 3), "a\\x00b", "a zero byte would cut the line"},
    {"csi\x9B" "8m", "csi\\x9B8m", "a raw C1 byte: CSI on an 8-bit terminal"},
    {"csi\xC2\x9B" "8m", "csi\\xC2\\x9B8m", "U+009B, CSI as a UTF-8 character"},
    {"\xC2\x85next", "\\xC2\\x85next", "U+0085, the C1 line break"},
    {"h\xC3\xA9llo \xE6\x97\xA5 \xF0\x9F\x93\xA6", "h\xC3\xA9llo \xE6\x97\xA5 \xF0\x9F\x93\xA6",
     "UTF-8 letters of two, three and four bytes stay"},
    {"\xC2\xA0\xEF\xBC\x8F", "\xC2\xA0\xEF\xBC\x8F", "U+00A0 and U+FF0F are printable"},
    {"\xC4rger \xFC", "\xC4rger \xFC", "code-page letters from 0xA0 up stay"},
    {"\xE2\x82", "\xE2\\x82", "a cut UTF-8 sequence: its continuation byte is a C1 byte"},
    {"\xC0\x8A", "\xC0\\x8A", "an overlong LF is no character: its 0x8A is escaped"},
    {"C:\\Shop\\x0A", "C:\\Shop\\x0A", "backslashes stay"},
};

TEST(Printable, ControlsBecomeHexEscapes) {
    for (const Row& row : kRows) EXPECT_EQ(kalv::printable(row.text), row.shown) << row.why;
}

}  // namespace
