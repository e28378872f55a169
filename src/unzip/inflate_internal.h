// What the tests, fuzzers and the benchmark see of the Deflate decoder beyond the seam.
#pragma once

#include <cstddef>
#include <cstdint>

#include "unzip/decoder_io.h"

namespace kalv::unzip {

// Which build of the fast loop runs. Best: the one compiled for BMI2 where the
// CPU has it (shifts and masks by a register count in one instruction each,
// several per symbol), else the baseline x86-64 one. Tests force Baseline too.
enum class FastLoop { Best, Baseline };

struct InflateOptions {
    // false: every symbol goes through the careful one-symbol-at-a-time path that
    // otherwise runs only near the ends of the input and output buffers. That path
    // is the reference the fast loop is tested against.
    bool fast = true;
    // Working memory the decoder may take for one entry (history, output room and
    // tables); needing more fails as an allocation failure does.
    size_t memory_limit = SIZE_MAX;
    FastLoop loop = FastLoop::Best;
};

DecodeStatus inflate_with(const DecodeJob& job, const InflateOptions& options);

inline DecodeStatus inflate_careful(const DecodeJob& job) { return inflate_with(job, InflateOptions{false}); }

}  // namespace kalv::unzip
