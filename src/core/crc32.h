// CRC-32 of the ZIP format (APPNOTE 4.4.7): reflected polynomial 0xEDB88320,
// register preset to 0xFFFFFFFF by the caller and inverted by the caller at the end.
//
// Bulk updates fold the data with carry-less multiplication where the CPU has it
// (PCLMULQDQ, or VPCLMULQDQ on 512-bit vectors), chosen once at run time from
// cpuid; the slicing-by-8 table loop is the fallback and the reference. The rest of
// the build stays baseline x86-64: only the folding functions are compiled for
// the wider instruction sets.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kalv {

// table[0] is the classic byte-at-a-time table; table[1..7] extend it for the
// slicing-by-8 loop (each is the CRC of a byte followed by k zeros).
using Crc32Tables = std::array<std::array<uint32_t, 256>, 8>;
const Crc32Tables& crc32_tables();

// One step of the classic table loop: also the key update of traditional ZIP encryption.
inline uint32_t crc32_byte(uint32_t crc, uint8_t byte) {
    return crc32_tables()[0][(crc ^ byte) & 0xFF] ^ (crc >> 8);
}

// Runs the register over n bytes (no pre- or post-inversion), with the fastest
// implementation this CPU runs.
uint32_t crc32_update(uint32_t crc, const uint8_t* data, size_t n);

// The CRC-32 of a whole buffer as stored in ZIP records.
inline uint32_t crc32_of(const uint8_t* data, size_t n) {
    return ~crc32_update(0xFFFFFFFFu, data, n);
}

// The implementations crc32_update chooses from, slowest first. Each has the
// semantics of crc32_update for every length and alignment.
enum class Crc32Kind {
    Slicing8,   // table loop, any x86-64 (and the reference)
    Pclmul,     // 4 x 128-bit folding lanes (PCLMULQDQ)
    Vpclmul512, // 4 x 512-bit folding lanes (VPCLMULQDQ, AVX-512F, state saved by the OS)
};
using Crc32Update = uint32_t (*)(uint32_t crc, const uint8_t* data, size_t n);

// The implementation of that kind, or nullptr when this CPU lacks it; lets tests
// and benchmarks run each one whatever the dispatcher would pick.
Crc32Update crc32_implementation(Crc32Kind kind);

}  // namespace kalv
