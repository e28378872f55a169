// The key-and-IV protocol and the five block modes for ciphers with 128-bit blocks.
// A concrete cipher supplies ExpandKey, EncryptBlock, DecryptBlock, its share of Wipe
// and the class constants, and calls Wipe() from its own destructor so that the key
// schedule dies wiped (a base destructor can no longer reach the derived part).
#pragma once

#include <array>
#include <cstdint>

#include "cipher/cipher_base.h"

namespace kalv {

class BlockCipher128 : public BlockCipher {
public:
    static constexpr int32_t kBlockSize = 128;
    static constexpr size_t kBlockBytes = 16;
    using Block = std::array<uint8_t, kBlockBytes>;

    ~BlockCipher128() override;

    int32_t BlockSize() const override { return kBlockSize; }

    void SetKey(const void* key, uint32_t size_bits, const void* iv = nullptr) override;
    void Wipe() override;

    // ResetChain: chain := IV. LoadIV: IV := the 16 given bytes, then ResetChain.
    // ReadChain: the current chaining value (not the IV).
    void ResetChain() override;
    void LoadIV(const void* iv) override;
    void ReadChain(void* chain) const override;

    // Whole blocks as NIST SP 800-38A defines the mode. A tail of t = size % 16 bytes
    // is handled as no standard does, so that any length round-trips:
    //   CBC, full-block CFB (both directions): chain := E(chain); out := in ^ chain[0..t)
    //   OFB: the same (it is OFB's own next step on t bytes)
    //   CTR: out := in ^ E(counter)[0..t), and the counter still advances.
    // 8-bit CFB has no blocks and no tail.
    void CBCEncrypt(const void* in, void* out, uint32_t size) override;
    void CBCDecrypt(const void* in, void* out, uint32_t size) override;
    void CFB8bitEncrypt(const void* in, void* out, uint32_t size) override;
    void CFB8bitDecrypt(const void* in, void* out, uint32_t size) override;
    void CFBblockEncrypt(const void* in, void* out, uint32_t size) override;
    void CFBblockDecrypt(const void* in, void* out, uint32_t size) override;
    void OFBEncrypt(const void* in, void* out, uint32_t size) override;
    void OFBDecrypt(const void* in, void* out, uint32_t size) override;
    void CTREncrypt(const void* in, void* out, uint32_t size) override;
    void CTRDecrypt(const void* in, void* out, uint32_t size) override;

    // For inspection (tests, diagnostics): readable in every state, unlike ReadChain.
    const Block& IVBytes() const { return iv_; }
    const Block& ChainBytes() const { return chain_; }

protected:
    BlockCipher128();

    // The chaining value as a 128-bit big-endian counter, plus one modulo 2^128.
    void IncrementCounter();

private:
    // One 8-bit feedback step over `size` bytes; `feedback_is_input` selects decryption.
    void CFB8bit(const uint8_t* in, uint8_t* out, uint32_t size, bool feedback_is_input);
    // OFB and CTR are their own inverses.
    void OFB(const uint8_t* in, uint8_t* out, uint32_t size);
    void CTR(const uint8_t* in, uint8_t* out, uint32_t size);
    // The common tail of CBC and full-block CFB.
    void EncryptedChainTail(const uint8_t* in, uint8_t* out, uint32_t tail);

    Block iv_;
    Block chain_;
};

}  // namespace kalv
