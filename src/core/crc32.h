// CRC-32 of the ZIP format (APPNOTE 4.4.7): reflected polynomial 0xEDB88320,
// register preset to 0xFFFFFFFF by the caller and inverted by the caller at the end.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kalv {

// table[0] is the classic byte-at-a-time table; table[1..7] extend it for the
// slicing-by-8 loop of crc32_update (each is the CRC of a byte followed by k zeros).
using Crc32Tables = std::array<std::array<uint32_t, 256>, 8>;
const Crc32Tables& crc32_tables();

// One step of the classic table loop: also the key update of traditional ZIP encryption.
inline uint32_t crc32_byte(uint32_t crc, uint8_t byte) {
    return crc32_tables()[0][(crc ^ byte) & 0xFF] ^ (crc >> 8);
}

// Runs the register over n bytes (no pre- or post-inversion).
uint32_t crc32_update(uint32_t crc, const uint8_t* data, size_t n);

// The CRC-32 of a whole buffer as stored in ZIP records.
inline uint32_t crc32_of(const uint8_t* data, size_t n) {
    return ~crc32_update(0xFFFFFFFFu, data, n);
}

}  // namespace kalv
