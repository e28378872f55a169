#include "cipher/rijndael.h"

#include <cstring>

namespace kalv {

namespace {

// --- Constant tables (FIPS-197), computed at compile time -------------------------

constexpr uint8_t xtime(uint8_t a) { return static_cast<uint8_t>((a << 1) ^ ((a & 0x80) ? 0x1B : 0)); }

// Multiplication in GF(2^8) modulo x^8 + x^4 + x^3 + x + 1 (FIPS-197 4.2).
constexpr uint8_t gmul(uint8_t a, uint8_t b) {
    uint8_t product = 0;
    while (b != 0) {
        if (b & 1) product ^= a;
        a = xtime(a);
        b >>= 1;
    }
    return product;
}

constexpr uint8_t rotl8(uint8_t b, int n) { return static_cast<uint8_t>((b << n) | (b >> (8 - n))); }
constexpr uint32_t rotl32(uint32_t w, int n) { return (w << n) | (w >> (32 - n)); }

// Bytes b0..b3 as one little-endian word: b0 is row 0 of its column.
constexpr uint32_t word_of(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
    return static_cast<uint32_t>(b0) | (static_cast<uint32_t>(b1) << 8) | (static_cast<uint32_t>(b2) << 16) |
           (static_cast<uint32_t>(b3) << 24);
}

struct AesTables {
    std::array<uint8_t, 256> sbox{};
    std::array<uint8_t, 256> inv_sbox{};
    // te[k][x]: the MixColumns column contributed by S-box(x) standing in row k,
    // i.e. (2s, s, s, 3s) rotated left by 8k bits. One lookup per state byte does
    // SubBytes and MixColumns at once; ShiftRows is the choice of source column.
    std::array<std::array<uint32_t, 256>, 4> te{};
    // td[k][x]: the same for the inverse cipher, (14s, 9s, 13s, 11s) of InvS-box(x).
    std::array<std::array<uint32_t, 256>, 4> td{};
    // tk[k][x]: InvMixColumns of the byte x itself, for turning round keys into
    // those of the equivalent inverse cipher (FIPS-197 5.3.5).
    std::array<std::array<uint32_t, 256>, 4> tk{};
    // Successive powers of 2 in GF(2^8) from 1; AES-128 uses the first 10.
    std::array<uint8_t, 30> rcon{};
};

constexpr AesTables make_tables() {
    AesTables t;
    // Multiplicative inverses through powers of the generator 3.
    std::array<uint8_t, 256> power{};
    std::array<uint8_t, 256> log{};
    uint8_t x = 1;
    for (size_t i = 0; i < 255; ++i) {
        power[i] = x;
        log[x] = static_cast<uint8_t>(i);
        x = gmul(x, 3);
    }
    for (size_t v = 0; v < 256; ++v) {
        const uint8_t inverse = v == 0 ? 0 : power[(255u - log[v]) % 255u];
        // The affine transformation of FIPS-197 5.1.1.
        const uint8_t s = inverse ^ rotl8(inverse, 1) ^ rotl8(inverse, 2) ^ rotl8(inverse, 3) ^
                          rotl8(inverse, 4) ^ 0x63;
        t.sbox[v] = s;
        t.inv_sbox[s] = static_cast<uint8_t>(v);
    }
    for (size_t v = 0; v < 256; ++v) {
        const uint8_t s = t.sbox[v];
        const uint8_t i = t.inv_sbox[v];
        const uint8_t b = static_cast<uint8_t>(v);
        const uint32_t te0 = word_of(gmul(s, 2), s, s, gmul(s, 3));
        const uint32_t td0 = word_of(gmul(i, 14), gmul(i, 9), gmul(i, 13), gmul(i, 11));
        const uint32_t tk0 = word_of(gmul(b, 14), gmul(b, 9), gmul(b, 13), gmul(b, 11));
        t.te[0][v] = te0;
        t.td[0][v] = td0;
        t.tk[0][v] = tk0;
        for (size_t k = 1; k < 4; ++k) {
            const int bits = 8 * static_cast<int>(k);
            t.te[k][v] = rotl32(te0, bits);
            t.td[k][v] = rotl32(td0, bits);
            t.tk[k][v] = rotl32(tk0, bits);
        }
    }
    uint8_t r = 1;
    for (auto& c : t.rcon) {
        c = r;
        r = xtime(r);
    }
    return t;
}

constexpr AesTables kAes = make_tables();

// FIPS-197 figure 7 and 14 spot checks: a wrong generator or affine constant fails here.
static_assert(kAes.sbox[0x00] == 0x63 && kAes.sbox[0x53] == 0xED && kAes.sbox[0xFF] == 0x16);
static_assert(kAes.inv_sbox[0x63] == 0x00 && kAes.inv_sbox[0xED] == 0x53);
static_assert(kAes.rcon[9] == 0x36 && kAes.rcon[10] == 0x6C);

inline uint32_t load_word(const uint8_t* p) { return word_of(p[0], p[1], p[2], p[3]); }

inline void store_word(uint8_t* p, uint32_t w) {
    p[0] = static_cast<uint8_t>(w);
    p[1] = static_cast<uint8_t>(w >> 8);
    p[2] = static_cast<uint8_t>(w >> 16);
    p[3] = static_cast<uint8_t>(w >> 24);
}

inline uint8_t byte_at(uint32_t w, int row) { return static_cast<uint8_t>(w >> (8 * row)); }

inline uint32_t sub_word(uint32_t w) {
    return word_of(kAes.sbox[byte_at(w, 0)], kAes.sbox[byte_at(w, 1)], kAes.sbox[byte_at(w, 2)],
                   kAes.sbox[byte_at(w, 3)]);
}

// The self-test vectors: key size, key, plain block, cipher block.
struct KnownAnswer {
    uint32_t bits;
    uint8_t key[32];
    uint8_t plain[16];
    uint8_t cipher[16];
};

constexpr KnownAnswer kKnownAnswers[] = {
    {128,
     {0x00, 0x01, 0x02, 0x03, 0x05, 0x06, 0x07, 0x08, 0x0a, 0x0b, 0x0c, 0x0d, 0x0f, 0x10, 0x11, 0x12},
     {0x50, 0x68, 0x12, 0xa4, 0x5f, 0x08, 0xc8, 0x89, 0xb9, 0x7f, 0x59, 0x80, 0x03, 0x8b, 0x83, 0x59},
     {0xd8, 0xf5, 0x32, 0x53, 0x82, 0x89, 0xef, 0x7d, 0x06, 0xb5, 0x06, 0xa4, 0xfd, 0x5b, 0xe9, 0xc9}},
    {192,
     {0xa0, 0xa1, 0xa2, 0xa3, 0xa5, 0xa6, 0xa7, 0xa8, 0xaa, 0xab, 0xac, 0xad,
      0xaf, 0xb0, 0xb1, 0xb2, 0xb4, 0xb5, 0xb6, 0xb7, 0xb9, 0xba, 0xbb, 0xbc},
     {0x4f, 0x1c, 0x76, 0x9d, 0x1e, 0x5b, 0x05, 0x52, 0xc7, 0xec, 0xa8, 0x4d, 0xea, 0x26, 0xa5, 0x49},
     {0xf3, 0x84, 0x72, 0x10, 0xd5, 0x39, 0x1e, 0x23, 0x60, 0x60, 0x8e, 0x5a, 0xcb, 0x56, 0x05, 0x81}},
    {256,
     {0x00, 0x01, 0x02, 0x03, 0x05, 0x06, 0x07, 0x08, 0x0a, 0x0b, 0x0c, 0x0d, 0x0f, 0x10, 0x11, 0x12,
      0x14, 0x15, 0x16, 0x17, 0x19, 0x1a, 0x1b, 0x1c, 0x1e, 0x1f, 0x20, 0x21, 0x23, 0x24, 0x25, 0x26},
     {0x5e, 0x25, 0xca, 0x78, 0xf0, 0xde, 0x55, 0x80, 0x25, 0x24, 0xd3, 0x8d, 0xa3, 0xfe, 0x44, 0x56},
     {0xe8, 0xb7, 0x2b, 0x4e, 0x8b, 0xe2, 0x43, 0x43, 0x8c, 0x9f, 0xff, 0x1f, 0x0e, 0x20, 0x58, 0x72}},
};

}  // namespace

uint8_t AesSBox(uint8_t x) { return kAes.sbox[x]; }
uint8_t AesInvSBox(uint8_t x) { return kAes.inv_sbox[x]; }

void InvMixWords(uint32_t* words, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const uint32_t w = words[i];
        words[i] = kAes.tk[0][byte_at(w, 0)] ^ kAes.tk[1][byte_at(w, 1)] ^ kAes.tk[2][byte_at(w, 2)] ^
                   kAes.tk[3][byte_at(w, 3)];
    }
}

Rijndael::Rijndael() = default;

Rijndael::~Rijndael() { Wipe(); }

void Rijndael::Wipe() {
    rounds_ = 0;
    SecureFill(enc_keys_.data(), 0, sizeof(enc_keys_));
    SecureFill(dec_keys_.data(), 0, sizeof(dec_keys_));
    BlockCipher128::Wipe();
}

void Rijndael::ExpandKey(const void* key, uint32_t size_bits) {
    // Whole bytes only; a shorter key is extended with zero bytes to its AES size.
    const size_t key_bytes = size_bits / 8;
    uint8_t material[32] = {};
    if (key_bytes > 0) std::memcpy(material, key, key_bytes);
    const size_t nk = key_bytes <= 16 ? 4 : key_bytes <= 24 ? 6 : 8;
    rounds_ = static_cast<uint32_t>(nk + 6);

    // Key expansion of FIPS-197 5.2. With little-endian words, RotWord is a rotation
    // right by 8 bits and Rcon lands in the low byte.
    const size_t total = 4 * (nk + 6 + 1);
    uint32_t w[4 * (kMaxRounds + 1)];
    for (size_t i = 0; i < nk; ++i) w[i] = load_word(material + 4 * i);
    for (size_t i = nk; i < total; ++i) {
        uint32_t temp = w[i - 1];
        if (i % nk == 0) {
            temp = sub_word((temp >> 8) | (temp << 24)) ^ kAes.rcon[i / nk - 1];
        } else if (nk > 6 && i % nk == 4) {
            temp = sub_word(temp);
        }
        w[i] = w[i - nk] ^ temp;
    }
    for (size_t i = 0; i < total; ++i) enc_keys_[i / 4][i % 4] = w[i];

    // The equivalent inverse cipher (FIPS-197 5.3.5) runs the round keys backwards,
    // with InvMixColumns applied to all but the first and last.
    dec_keys_ = enc_keys_;
    for (uint32_t r = 1; r < rounds_; ++r) InvMixWords(dec_keys_[r].data(), 4);

    SecureFill(material, 0, sizeof(material));
    SecureFill(w, 0, sizeof(w));
}

void Rijndael::EncryptBlock(const void* input, void* output) const {
    RequireKeyed();
    const auto* in = static_cast<const uint8_t*>(input);
    auto* out = static_cast<uint8_t*>(output);
    const auto& te = kAes.te;
    const auto* rk = enc_keys_.data();

    uint32_t s0 = load_word(in) ^ rk[0][0];
    uint32_t s1 = load_word(in + 4) ^ rk[0][1];
    uint32_t s2 = load_word(in + 8) ^ rk[0][2];
    uint32_t s3 = load_word(in + 12) ^ rk[0][3];
    // Rounds 1 .. Nr-1: SubBytes, ShiftRows and MixColumns from the tables; row r of
    // the new column j comes from column (j + r) mod 4.
    for (uint32_t r = 1; r < rounds_; ++r) {
        const uint32_t t0 = te[0][byte_at(s0, 0)] ^ te[1][byte_at(s1, 1)] ^ te[2][byte_at(s2, 2)] ^
                            te[3][byte_at(s3, 3)] ^ rk[r][0];
        const uint32_t t1 = te[0][byte_at(s1, 0)] ^ te[1][byte_at(s2, 1)] ^ te[2][byte_at(s3, 2)] ^
                            te[3][byte_at(s0, 3)] ^ rk[r][1];
        const uint32_t t2 = te[0][byte_at(s2, 0)] ^ te[1][byte_at(s3, 1)] ^ te[2][byte_at(s0, 2)] ^
                            te[3][byte_at(s1, 3)] ^ rk[r][2];
        const uint32_t t3 = te[0][byte_at(s3, 0)] ^ te[1][byte_at(s0, 1)] ^ te[2][byte_at(s1, 2)] ^
                            te[3][byte_at(s2, 3)] ^ rk[r][3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    // The last round has no MixColumns.
    const auto& sb = kAes.sbox;
    const auto& last = rk[rounds_];
    store_word(out, word_of(sb[byte_at(s0, 0)], sb[byte_at(s1, 1)], sb[byte_at(s2, 2)], sb[byte_at(s3, 3)]) ^ last[0]);
    store_word(out + 4, word_of(sb[byte_at(s1, 0)], sb[byte_at(s2, 1)], sb[byte_at(s3, 2)], sb[byte_at(s0, 3)]) ^ last[1]);
    store_word(out + 8, word_of(sb[byte_at(s2, 0)], sb[byte_at(s3, 1)], sb[byte_at(s0, 2)], sb[byte_at(s1, 3)]) ^ last[2]);
    store_word(out + 12, word_of(sb[byte_at(s3, 0)], sb[byte_at(s0, 1)], sb[byte_at(s1, 2)], sb[byte_at(s2, 3)]) ^ last[3]);
}

void Rijndael::DecryptBlock(const void* input, void* output) const {
    RequireKeyed();
    const auto* in = static_cast<const uint8_t*>(input);
    auto* out = static_cast<uint8_t*>(output);
    const auto& td = kAes.td;
    const auto* dk = dec_keys_.data();

    uint32_t s0 = load_word(in) ^ dk[rounds_][0];
    uint32_t s1 = load_word(in + 4) ^ dk[rounds_][1];
    uint32_t s2 = load_word(in + 8) ^ dk[rounds_][2];
    uint32_t s3 = load_word(in + 12) ^ dk[rounds_][3];
    // InvShiftRows: row r of the new column j comes from column (j - r) mod 4.
    for (uint32_t r = rounds_ - 1; r >= 1; --r) {
        const uint32_t t0 = td[0][byte_at(s0, 0)] ^ td[1][byte_at(s3, 1)] ^ td[2][byte_at(s2, 2)] ^
                            td[3][byte_at(s1, 3)] ^ dk[r][0];
        const uint32_t t1 = td[0][byte_at(s1, 0)] ^ td[1][byte_at(s0, 1)] ^ td[2][byte_at(s3, 2)] ^
                            td[3][byte_at(s2, 3)] ^ dk[r][1];
        const uint32_t t2 = td[0][byte_at(s2, 0)] ^ td[1][byte_at(s1, 1)] ^ td[2][byte_at(s0, 2)] ^
                            td[3][byte_at(s3, 3)] ^ dk[r][2];
        const uint32_t t3 = td[0][byte_at(s3, 0)] ^ td[1][byte_at(s2, 1)] ^ td[2][byte_at(s1, 2)] ^
                            td[3][byte_at(s0, 3)] ^ dk[r][3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    const auto& ib = kAes.inv_sbox;
    const auto& first = dk[0];
    store_word(out, word_of(ib[byte_at(s0, 0)], ib[byte_at(s3, 1)], ib[byte_at(s2, 2)], ib[byte_at(s1, 3)]) ^ first[0]);
    store_word(out + 4, word_of(ib[byte_at(s1, 0)], ib[byte_at(s0, 1)], ib[byte_at(s3, 2)], ib[byte_at(s2, 3)]) ^ first[1]);
    store_word(out + 8, word_of(ib[byte_at(s2, 0)], ib[byte_at(s1, 1)], ib[byte_at(s0, 2)], ib[byte_at(s3, 3)]) ^ first[2]);
    store_word(out + 12, word_of(ib[byte_at(s3, 0)], ib[byte_at(s2, 1)], ib[byte_at(s1, 2)], ib[byte_at(s0, 3)]) ^ first[3]);
}

bool Rijndael::PassesKnownAnswers() {
    Rijndael cipher;
    bool all_equal = true;
    for (const KnownAnswer& v : kKnownAnswers) {
        uint8_t block[16];
        cipher.SetKey(v.key, v.bits);
        cipher.EncryptBlock(v.plain, block);
        all_equal &= std::memcmp(block, v.cipher, 16) == 0;
        cipher.DecryptBlock(block, block);
        cipher.Wipe();
        all_equal &= std::memcmp(block, v.plain, 16) == 0;
    }
    return all_equal;
}

}  // namespace kalv
