// What the tests and the benchmark see of the Deflate decoder beyond the seam.
#pragma once

#include "unzip/decoder_io.h"

namespace kalv::unzip {

// The same decoder with its fast loop switched off: every symbol goes through the
// careful one-symbol-at-a-time path that otherwise runs only near the ends of the
// input and output buffers. It is the reference the fast loop is tested against.
DecodeStatus inflate_careful(const DecodeJob& job);

}  // namespace kalv::unzip
