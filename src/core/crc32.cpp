#include "core/crc32.h"

#include <cstring>

namespace kalv {

namespace {

Crc32Tables make_tables() {
    Crc32Tables t{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[0][n] = c;
    }
    for (uint32_t n = 0; n < 256; ++n)
        for (size_t k = 1; k < 8; ++k) t[k][n] = t[0][t[k - 1][n] & 0xFF] ^ (t[k - 1][n] >> 8);
    return t;
}

}  // namespace

const Crc32Tables& crc32_tables() {
    static const Crc32Tables tables = make_tables();
    return tables;
}

uint32_t crc32_update(uint32_t crc, const uint8_t* data, size_t n) {
    const Crc32Tables& t = crc32_tables();
    // Slicing-by-8: eight independent look-ups per 8 bytes instead of a serial chain
    // of eight, so the output check costs little beside decoding and writing.
    while (n >= 8) {
        uint32_t lo, hi;
        std::memcpy(&lo, data, 4);
        std::memcpy(&hi, data + 4, 4);
        lo ^= crc;  // little-endian hosts only (x86-64, both builds)
        crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
              t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
        data += 8;
        n -= 8;
    }
    while (n--) crc = t[0][(crc ^ *data++) & 0xFF] ^ (crc >> 8);
    return crc;
}

}  // namespace kalv
