#include "unzip/zip_crypto.h"

namespace kalv::unzip {

// The cipher is a serial chain: each byte's key stream depends on key2, which
// depends on the previous plain byte through key0 and key1. Nothing can run ahead,
// so speed comes from keeping the chain short:
//   - the keys live in locals (registers) for the whole block, not in the object;
//   - the CRC table is fetched once, not through crc32_tables() per step;
//   - the key stream byte is one multiply ((t * (t ^ 1)) >> 8), cheaper than a
//     64 KiB table that would not stay in the first-level cache;
//   - key1's product is split: key1 * M is computed while key0's table look-up is
//     in flight, leaving only (key0 & 0xFF) * M on the critical path.
void ZipKeys::DecryptBuffer(uint8_t* data, size_t n) {
    const uint32_t* const table = crc32_tables()[0].data();
    constexpr uint32_t kMultiplier = 134775813u;
    uint32_t k0 = key0_, k1 = key1_, k2 = key2_;
    for (size_t i = 0; i < n; ++i) {
        const uint32_t t = (k2 & 0xFFFF) | 2;
        const uint8_t plain = uint8_t(data[i] ^ uint8_t((t * (t ^ 1)) >> 8));
        data[i] = plain;
        const uint32_t k1_scaled = k1 * kMultiplier + 1;
        k0 = table[(k0 ^ plain) & 0xFF] ^ (k0 >> 8);
        k1 = k1_scaled + (k0 & 0xFF) * kMultiplier;
        k2 = table[(k2 ^ (k1 >> 24)) & 0xFF] ^ (k2 >> 8);
    }
    key0_ = k0;
    key1_ = k1;
    key2_ = k2;
}

}  // namespace kalv::unzip
