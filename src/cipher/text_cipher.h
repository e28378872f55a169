// The text cipher of the start token: a short text, filled up with zero bytes to
// whole 16-byte blocks, encrypted with AES-128-CBC under a fixed key and IV, and
// written as Base64 (RFC 4648, no line breaks). Equal inputs give equal outputs;
// the result can stand unquoted as one command-line argument.
//
//   EncryptText(p) = Base64(AES-128-CBC(key = "mild_sun_rise" + 3 zero bytes,
//                                       iv  = "529" + 13 zero bytes,
//                                       p + f zero bytes))
//   f = 16 for an empty p, 0 when |p| is a non-zero multiple of 16, else 16 - |p| % 16.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kalv {

// A copy of `source` filled up with zero bytes to a multiple of block_length (> 0).
// A text that already fills whole blocks is unchanged; an empty one becomes one block.
// Lengths are signed 32-bit: a result beyond 2^31 - 1 raises IntegerOverflow.
std::string PadText(std::string_view source, int32_t block_length);

// The length PadText gives a text of `length` bytes, checked before anything is
// copied: IntegerOverflow when either length is beyond 2^31 - 1.
int32_t PaddedLength(size_t length, int32_t block_length);

std::string EncryptText(std::string_view plain);

// The inverse of EncryptText for its own results. The fill bytes stay at the end:
// a plain text ending in zero bytes cannot be told from a shorter one.
std::string DecryptText(std::string_view token);

}  // namespace kalv
