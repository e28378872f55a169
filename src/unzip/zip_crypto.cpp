#include "unzip/zip_crypto.h"

namespace kalv::unzip {

namespace {

// Compilers fold k1 * M + 1 + v * M back into (k1 + v) * M + 1, which puts an add
// in front of the multiply on the critical path, and (k2 & 0xFF) ^ (k1 >> 24) back
// into a mask after the xor; an empty asm makes a value opaque so the split stays.
inline void keep_apart(uint32_t& value) {
#if defined(__GNUC__)
    asm("" : "+r"(value));
#else
    (void)value;
#endif
}

}  // namespace

// The cipher is a serial chain: each byte's key stream depends on key2, which
// depends on the previous plain byte through key0 and key1. Nothing can run ahead,
// so speed comes from keeping the chain short:
//   - the keys live in locals (registers) for the whole block, not in the object,
//     and the CRC table is fetched once, not through crc32_tables() per step;
//   - the key-stream byte is one multiply, bits 8-15 of t * (t ^ 1), which depend
//     only on t's low 16 bits: no masking of key2 is needed;
//   - key0's index (key0 ^ plain) & 0xFF is (key0 ^ cipher) & 0xFF, known early,
//     xor the key-stream byte: the look-up waits for the multiply only;
//   - key1 * M + 1 is computed while key0's look-up is in flight, leaving only
//     (key0 & 0xFF) * M on the critical path;
//   - key2's index is (key2 & 0xFF) ^ (key1 >> 24): the shift is already a byte.
void ZipKeys::DecryptBuffer(uint8_t* data, size_t n) {
    const uint32_t* const table = crc32_tables()[0].data();
    constexpr uint32_t kMultiplier = 134775813u;
    uint32_t k0 = key0_, k1 = key1_, k2 = key2_;
    for (size_t i = 0; i < n; ++i) {
        const uint32_t t = k2 | 2;
        const uint32_t stream = ((t * (t ^ 1)) >> 8) & 0xFF;
        const uint32_t cipher = data[i];
        data[i] = uint8_t(cipher ^ stream);
        uint32_t k1_scaled = k1 * kMultiplier + 1;
        keep_apart(k1_scaled);
        uint32_t k2_low = k2 & 0xFF;
        keep_apart(k2_low);
        k0 = table[((k0 ^ cipher) & 0xFF) ^ stream] ^ (k0 >> 8);
        k1 = k1_scaled + (k0 & 0xFF) * kMultiplier;
        k2 = table[k2_low ^ (k1 >> 24)] ^ (k2 >> 8);
    }
    key0_ = k0;
    key1_ = k1;
    key2_ = k2;
}

}  // namespace kalv::unzip
