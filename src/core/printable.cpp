#include "core/printable.h"

#include <cstdio>

namespace kalv {

namespace {

unsigned char byte_at(std::string_view text, size_t i) { return static_cast<unsigned char>(text[i]); }

// The length of the well-formed UTF-8 sequence of two to four bytes that starts
// `text` (RFC 3629: shortest form only, no surrogates, nothing above U+10FFFF), or 0.
size_t utf8_sequence(std::string_view text) {
    const unsigned char lead = byte_at(text, 0);
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the bounds of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // shorter forms
        if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // shorter forms
        if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
    }
    if (length == 0 || text.size() < length) return 0;
    if (byte_at(text, 1) < low || byte_at(text, 1) > high) return 0;
    for (size_t i = 2; i < length; ++i)
        if (byte_at(text, i) < 0x80 || byte_at(text, i) > 0xBF) return 0;
    return length;
}

void append_escape(std::string& shown, unsigned char byte) {
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\x%02X", byte);
    shown += escape;
}

}  // namespace

std::string printable(std::string_view text) {
    std::string shown;
    shown.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const std::string_view rest = text.substr(i);
        const size_t length = utf8_sequence(rest);
        const bool c1_character = length == 2 && byte_at(rest, 0) == 0xC2 && byte_at(rest, 1) <= 0x9F;
        if (c1_character) {
            append_escape(shown, byte_at(rest, 0));
            append_escape(shown, byte_at(rest, 1));
            i += 2;
        } else if (length > 0) {
            shown.append(rest.substr(0, length));
            i += length;
        } else {
            const unsigned char byte = byte_at(rest, 0);
            if (byte < 0x20 || (byte >= 0x7F && byte <= 0x9F)) {
                append_escape(shown, byte);
            } else {
                shown += rest[0];
            }
            ++i;
        }
    }
    return shown;
}

}  // namespace kalv
