// CRC-32: the slicing-by-8 table loop, and folding by carry-less multiplication
// after Intel's "Fast CRC Computation for Generic Polynomials Using PCLMULQDQ
// Instruction" (Gopal et al., 2009), chosen at run time.
//
// Folding in brief. In the reflected bit order a 16-byte lane V loaded
// little-endian holds its coefficients highest degree first: bit i of the 128-bit
// integer is the coefficient of x^(127-i). Its low quadword L and high quadword H
// then make V = L*x^64 + H. Moving V forward by D bits (to be added to the lane D
// bits further on) needs V*x^D = L*x^(D+64) + H*x^D modulo P, and each product
// of a quadword with a 33-bit constant fits a 128-bit lane again: the lanes stay
// congruent to everything read so far. At the end one lane is left; the CRC of the
// message equals the table CRC, from a zero register, of that lane's 16 bytes
// followed by the unread tail (the CRC depends on the message only modulo P), so
// no Barrett reduction is needed.
#include "core/crc32.h"

#include <cstring>

#include "core/cpu_features.h"

#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__)
#include <immintrin.h>
#define KALV_CRC32_FOLDING 1
#else
#define KALV_CRC32_FOLDING 0
#endif

namespace kalv {

namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;  // reflected x^32 + x^26 + ... + x + 1

Crc32Tables make_tables() {
    Crc32Tables t{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? kPolynomial ^ (c >> 1) : c >> 1;
        t[0][n] = c;
    }
    for (uint32_t n = 0; n < 256; ++n)
        for (size_t k = 1; k < 8; ++k) t[k][n] = t[0][t[k - 1][n] & 0xFF] ^ (t[k - 1][n] >> 8);
    return t;
}

uint32_t crc32_slicing8(uint32_t crc, const uint8_t* data, size_t n) {
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

#if KALV_CRC32_FOLDING

// x^n mod P in the reflected order (bit 31 holds x^0): n multiplications by x,
// each a shift towards bit 0 that reduces by P when x^31 moves out.
consteval uint32_t x_pow_mod(unsigned n) {
    uint32_t c = 0x80000000u;
    while (n--) c = (c & 1) ? (c >> 1) ^ kPolynomial : c >> 1;
    return c;
}

// The multiplier that moves a quadword n bits on: x^(n-32) mod P, reflected, one
// bit up. A carry-less product of two reflected quadwords comes out one place low
// (its degrees sum to at most 126 in 128 places) and a 32-bit constant sits 32
// places low in its quadword; the shift and the 32 taken off n make up for both.
consteval uint64_t fold_constant(unsigned n) { return uint64_t{x_pow_mod(n - 32)} << 1; }

// Intel's paper (and every PCLMULQDQ CRC-32 since) tabulates these for folding by
// 4 lanes (512 bits) and by 1 lane (128 bits).
static_assert(fold_constant(4 * 128 + 64) == 0x154442bd4 && fold_constant(4 * 128) == 0x1c6e41596);
static_assert(fold_constant(128 + 64) == 0x1751997d0 && fold_constant(128) == 0x0ccaa009e);

// Both halves of a lane moved distance bits on (consteval: the constants are
// worked out by the compiler, never by a loop at run time).
struct FoldConstants {
    uint64_t low;   // for the low quadword: x^(distance + 64)
    uint64_t high;  // for the high quadword: x^distance
};
consteval FoldConstants fold_by(unsigned distance) { return {fold_constant(distance + 64), fold_constant(distance)}; }
constexpr FoldConstants kBy1Lane = fold_by(128);
constexpr FoldConstants kBy4Lanes = fold_by(4 * 128);
constexpr FoldConstants kBy16Lanes = fold_by(16 * 128);

#define KALV_TARGET_PCLMUL __attribute__((target("sse2,pclmul")))
#define KALV_TARGET_VPCLMUL __attribute__((target("sse2,pclmul,avx512f,vpclmulqdq")))
#define KALV_INLINE inline __attribute__((always_inline))

KALV_TARGET_PCLMUL KALV_INLINE __m128i vector_128(FoldConstants k) {
    return _mm_set_epi64x(static_cast<long long>(k.high), static_cast<long long>(k.low));
}

KALV_TARGET_PCLMUL KALV_INLINE __m128i fold_128(__m128i lane, __m128i constants) {
    return _mm_clmulepi64_si128(lane, constants, 0x00) ^ _mm_clmulepi64_si128(lane, constants, 0x11);
}

KALV_TARGET_PCLMUL KALV_INLINE __m128i load_128(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// One lane left: its bytes and the tail through the table loop from a zero register.
KALV_TARGET_PCLMUL KALV_INLINE uint32_t finish(__m128i lane, const uint8_t* tail, size_t n) {
    uint8_t bytes[16];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes), lane);
    return crc32_slicing8(crc32_slicing8(0, bytes, sizeof bytes), tail, n);
}

// Folds 16-byte lanes into one until fewer than 16 bytes remain, then finishes.
KALV_TARGET_PCLMUL KALV_INLINE uint32_t fold_lanes_128(__m128i x, const uint8_t* p, size_t n) {
    const __m128i by_1 = vector_128(kBy1Lane);
    for (; n >= 16; p += 16, n -= 16) x = fold_128(x, by_1) ^ load_128(p);
    return finish(x, p, n);
}

// Four independent 128-bit lanes, so that each carry-less multiply's latency is
// hidden behind the other lanes' (one lane alone would wait on every product).
KALV_TARGET_PCLMUL uint32_t crc32_pclmul(uint32_t crc, const uint8_t* p, size_t n) {
    if (n < 64) return crc32_slicing8(crc, p, n);
    // The register enters as an XOR into the first four message bytes.
    __m128i x0 = load_128(p) ^ _mm_cvtsi32_si128(static_cast<int>(crc));
    __m128i x1 = load_128(p + 16), x2 = load_128(p + 32), x3 = load_128(p + 48);
    p += 64;
    n -= 64;
    const __m128i by_4 = vector_128(kBy4Lanes);
    for (; n >= 64; p += 64, n -= 64) {
        x0 = fold_128(x0, by_4) ^ load_128(p);
        x1 = fold_128(x1, by_4) ^ load_128(p + 16);
        x2 = fold_128(x2, by_4) ^ load_128(p + 32);
        x3 = fold_128(x3, by_4) ^ load_128(p + 48);
    }
    const __m128i by_1 = vector_128(kBy1Lane);
    x1 ^= fold_128(x0, by_1);
    x2 ^= fold_128(x1, by_1);
    x3 ^= fold_128(x2, by_1);
    return fold_lanes_128(x3, p, n);
}

// The same with 512-bit vectors: each holds four lanes, and four vectors make 16
// lanes (256 bytes) in flight per iteration.
KALV_TARGET_VPCLMUL KALV_INLINE __m512i fold_512(__m512i x, __m512i constants, __m512i next) {
    // 0x96 is the three-input XOR truth table: both products and the next data.
    return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(x, constants, 0x00), _mm512_clmulepi64_epi128(x, constants, 0x11),
                                     next, 0x96);
}

KALV_TARGET_VPCLMUL KALV_INLINE __m512i vector_512(FoldConstants k) {
    const long long low = static_cast<long long>(k.low), high = static_cast<long long>(k.high);
    return _mm512_set_epi64(high, low, high, low, high, low, high, low);
}

KALV_TARGET_VPCLMUL KALV_INLINE __m512i load_512(const uint8_t* p) { return _mm512_loadu_si512(p); }

KALV_TARGET_VPCLMUL uint32_t crc32_vpclmul512(uint32_t crc, const uint8_t* p, size_t n) {
    if (n < 256) return crc32_pclmul(crc, p, n);
    __m512i x0 = load_512(p) ^ _mm512_set_epi64(0, 0, 0, 0, 0, 0, 0, crc);
    __m512i x1 = load_512(p + 64), x2 = load_512(p + 128), x3 = load_512(p + 192);
    p += 256;
    n -= 256;
    const __m512i by_16 = vector_512(kBy16Lanes);
    for (; n >= 256; p += 256, n -= 256) {
        x0 = fold_512(x0, by_16, load_512(p));
        x1 = fold_512(x1, by_16, load_512(p + 64));
        x2 = fold_512(x2, by_16, load_512(p + 128));
        x3 = fold_512(x3, by_16, load_512(p + 192));
    }
    const __m512i by_4 = vector_512(kBy4Lanes);
    x0 = fold_512(x0, by_4, x1);
    x0 = fold_512(x0, by_4, x2);
    x0 = fold_512(x0, by_4, x3);
    for (; n >= 64; p += 64, n -= 64) x0 = fold_512(x0, by_4, load_512(p));
    // Four lanes into one, 128 bits at a time (through memory, once per call: the
    // lane-extract intrinsic trips a false uninitialised warning in GCC 12).
    uint8_t lanes[64];
    _mm512_storeu_si512(lanes, x0);
    const __m128i by_1 = vector_128(kBy1Lane);
    __m128i x = load_128(lanes);
    for (int i = 1; i < 4; ++i) x = fold_128(x, by_1) ^ load_128(lanes + 16 * i);
    return fold_lanes_128(x, p, n);
}

#endif  // KALV_CRC32_FOLDING

Crc32Update best_implementation() {
    for (Crc32Kind kind : {Crc32Kind::Vpclmul512, Crc32Kind::Pclmul})
        if (Crc32Update f = crc32_implementation(kind)) return f;
    return crc32_slicing8;
}

}  // namespace

const Crc32Tables& crc32_tables() {
    static const Crc32Tables tables = make_tables();
    return tables;
}

Crc32Update crc32_implementation(Crc32Kind kind) {
    switch (kind) {
        case Crc32Kind::Slicing8: return crc32_slicing8;
#if KALV_CRC32_FOLDING
        case Crc32Kind::Pclmul: return cpu_features().pclmul ? crc32_pclmul : nullptr;
        case Crc32Kind::Vpclmul512: return cpu_features().vpclmul512 ? crc32_vpclmul512 : nullptr;
#endif
        default: return nullptr;
    }
}

uint32_t crc32_update(uint32_t crc, const uint8_t* data, size_t n) {
    static const Crc32Update update = best_implementation();
    return update(crc, data, n);
}

}  // namespace kalv
