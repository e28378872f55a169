// Stored names, paths and messages as a terminal shows them and a log line holds
// them. A name out of an archive, a shared folder or a server answer may hold any
// byte: a line feed would forge a line of the report or a whole block of the run log,
// and an escape sequence (ESC [ 8 m hides the text after it) would rewrite what the
// reader sees.
#pragma once

#include <string>
#include <string_view>

namespace kalv {

// `text` with every byte that a terminal may act on written as \xNN (two upper-case
// hex digits): the C0 controls 0x00-0x1F, DEL 0x7F, and the C1 controls, both as raw
// bytes 0x80-0x9F (an 8-bit terminal takes 0x9B as CSI) and as the UTF-8 characters
// U+0080-U+009F (C2 80 to C2 9F, both bytes escaped). Every other well-formed UTF-8
// character stays as it is, and so do the bytes 0xA0-0xFF of a single-byte code page.
// The backslash itself stays: a literal "\x0A" in a name moves no line.
std::string printable(std::string_view text);

}  // namespace kalv
