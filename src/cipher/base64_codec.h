// Base64 of RFC 4648, section 4: the standard alphabet, "=" as fill character, no
// line breaks. The encoder is exact; the decoder is deliberately lenient and never
// fails (see DecodeBase64Block), because its callers only ever decode what the
// encoder wrote. Use IsCanonicalBase64 first where text comes from outside.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kalv {

// Writes 4 * ((n + 2) / 3) characters to `out` and returns that count.
int32_t EncodeBase64Block(const uint8_t* in, char* out, int32_t n);

// Decodes the n / 4 whole groups of `in` (a trailing partial group is ignored) and
// returns the number of bytes written, at most 3 * (n / 4).
//   - "=" in the third slot of a group leaves one byte, in the fourth slot two bytes;
//     a "=" ends only its own group, never the text.
//   - "=" in the first two slots is not special: it enters the arithmetic as 255.
//   - A character outside the alphabet and "=" does not write its slot, which keeps the
//     value the same slot had in the previous group (0 in the first group).
int32_t DecodeBase64Block(const char* in, uint8_t* out, int32_t n);

std::string EncodeBase64(std::string_view bytes);
std::string DecodeBase64(std::string_view text);

// True for the exact form EncodeBase64 writes: a length that is a multiple of four,
// only alphabet characters, and "=" only as the last one or two characters. The
// empty text is canonical (it encodes zero bytes).
bool IsCanonicalBase64(std::string_view text);

}  // namespace kalv
