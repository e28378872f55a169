// AES (FIPS-197), the Rijndael block cipher with 128-bit blocks, in the cipher class
// family. Key sizes: any non-zero multiple of 4 bits up to 256. The key is
// size_bits / 8 whole bytes, extended with zero bytes to the next AES key size:
// up to 16 bytes AES-128, 17 to 24 bytes AES-192, 25 to 32 bytes AES-256 (so 4 bits
// give AES-128 under the all-zero key).
//
// Words and blocks: a block is four 32-bit words, word j being bytes 4j..4j+3 in
// little-endian order, so byte 4j + r is row r, column j of the FIPS-197 state.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "cipher/block_ciphers.h"

namespace kalv {

class Rijndael final : public BlockCipher128 {
public:
    static constexpr int32_t kId = 9;
    static constexpr const char* kAlgorithm = "Rijndael";
    static constexpr int32_t kMaxKeySize = 256;
    static constexpr int kMaxRounds = 14;

    // Rows of round keys: words 0..3 hold one round key; words 4..7 are never used.
    using RoundKeys = std::array<std::array<uint32_t, 8>, kMaxRounds + 1>;

    Rijndael();
    ~Rijndael() override;

    int32_t Id() const override { return kId; }
    std::string Algorithm() const override { return kAlgorithm; }
    int32_t MaxKeySize() const override { return kMaxKeySize; }
    bool SelfCheck() const override { return PassesKnownAnswers(); }

    // The known-answer self-test: three vectors (AES-128, -192, -256), each encrypted
    // and decrypted again by a fresh object of its own.
    static bool PassesKnownAnswers();

    void Wipe() override;
    void EncryptBlock(const void* in, void* out) const override;
    void DecryptBlock(const void* in, void* out) const override;

    // 10, 12 or 14 for a Keyed object; 0 when Wiped.
    uint32_t Rounds() const { return rounds_; }
    const RoundKeys& EncKeys() const { return enc_keys_; }
    const RoundKeys& DecKeys() const { return dec_keys_; }

protected:
    void ExpandKey(const void* key, uint32_t size_bits) override;

private:
    uint32_t rounds_ = 0;
    RoundKeys enc_keys_{};
    RoundKeys dec_keys_{};
};

// InvMixColumns applied in place to `count` words, each taken as one state column:
// turns encryption round keys into those of the equivalent inverse cipher.
void InvMixWords(uint32_t* words, size_t count);

// The FIPS-197 S-box, for tests and diagnostics.
uint8_t AesSBox(uint8_t x);
uint8_t AesInvSBox(uint8_t x);

}  // namespace kalv
