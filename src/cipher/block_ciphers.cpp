#include "cipher/block_ciphers.h"

#include <cstring>

namespace kalv {

namespace {

using Block = BlockCipher128::Block;
constexpr size_t kBytes = BlockCipher128::kBlockBytes;

// dst := a ^ b over one block, eight bytes at a time. Any of the three may alias.
inline void xor_block(uint8_t* dst, const uint8_t* a, const uint8_t* b) {
    uint64_t a0, a1, b0, b1;
    std::memcpy(&a0, a, 8);
    std::memcpy(&a1, a + 8, 8);
    std::memcpy(&b0, b, 8);
    std::memcpy(&b1, b + 8, 8);
    a0 ^= b0;
    a1 ^= b1;
    std::memcpy(dst, &a0, 8);
    std::memcpy(dst + 8, &a1, 8);
}

inline void xor_bytes(uint8_t* dst, const uint8_t* a, const uint8_t* b, size_t n) {
    for (size_t i = 0; i < n; ++i) dst[i] = a[i] ^ b[i];
}

}  // namespace

BlockCipher128::BlockCipher128() {
    iv_.fill(0xFF);
    chain_.fill(0xFF);
}

BlockCipher128::~BlockCipher128() {
    SecureFill(iv_.data(), 0xFF, kBytes);
    SecureFill(chain_.data(), 0xFF, kBytes);
}

void BlockCipher128::SetKey(const void* key, uint32_t size_bits, const void* iv) {
    Cipher::SetKey(key, size_bits, iv);
    ExpandKey(key, size_bits);
    if (iv != nullptr) {
        std::memcpy(iv_.data(), iv, kBytes);
    } else {
        iv_.fill(0);
        EncryptBlock(iv_.data(), iv_.data());
    }
    ResetChain();
}

void BlockCipher128::Wipe() {
    SecureFill(iv_.data(), 0xFF, kBytes);
    SecureFill(chain_.data(), 0xFF, kBytes);
    BlockCipher::Wipe();
}

void BlockCipher128::ResetChain() {
    RequireKeyed();
    chain_ = iv_;
}

void BlockCipher128::LoadIV(const void* iv) {
    RequireKeyed();
    std::memcpy(iv_.data(), iv, kBytes);
    chain_ = iv_;
}

void BlockCipher128::ReadChain(void* chain) const {
    RequireKeyed();
    std::memcpy(chain, chain_.data(), kBytes);
}

void BlockCipher128::IncrementCounter() {
    // Big-endian: byte 15 is the least significant. Byte 0 wraps without carry.
    for (size_t i = kBytes; i-- > 0;) {
        if (++chain_[i] != 0) break;
    }
}

void BlockCipher128::EncryptedChainTail(const uint8_t* in, uint8_t* out, uint32_t tail) {
    if (tail == 0) return;
    EncryptBlock(chain_.data(), chain_.data());
    xor_bytes(out, in, chain_.data(), tail);
}

void BlockCipher128::CBCEncrypt(const void* input, void* output, uint32_t size) {
    RequireKeyed();
    auto* in = static_cast<const uint8_t*>(input);
    auto* out = static_cast<uint8_t*>(output);
    for (size_t n = size / kBytes; n > 0; --n, in += kBytes, out += kBytes) {
        xor_block(chain_.data(), chain_.data(), in);
        EncryptBlock(chain_.data(), chain_.data());
        std::memcpy(out, chain_.data(), kBytes);
    }
    EncryptedChainTail(in, out, size % kBytes);
}

void BlockCipher128::CBCDecrypt(const void* input, void* output, uint32_t size) {
    RequireKeyed();
    auto* in = static_cast<const uint8_t*>(input);
    auto* out = static_cast<uint8_t*>(output);
    Block saved;
    Block plain;
    for (size_t n = size / kBytes; n > 0; --n, in += kBytes, out += kBytes) {
        std::memcpy(saved.data(), in, kBytes);
        DecryptBlock(saved.data(), plain.data());
        xor_block(out, plain.data(), chain_.data());
        chain_ = saved;
    }
    EncryptedChainTail(in, out, size % kBytes);
}

void BlockCipher128::CFBblockEncrypt(const void* input, void* output, uint32_t size) {
    RequireKeyed();
    auto* in = static_cast<const uint8_t*>(input);
    auto* out = static_cast<uint8_t*>(output);
    for (size_t n = size / kBytes; n > 0; --n, in += kBytes, out += kBytes) {
        EncryptBlock(chain_.data(), chain_.data());
        xor_block(chain_.data(), chain_.data(), in);  // the cipher text feeds back
        std::memcpy(out, chain_.data(), kBytes);
    }
    EncryptedChainTail(in, out, size % kBytes);
}

void BlockCipher128::CFBblockDecrypt(const void* input, void* output, uint32_t size) {
    RequireKeyed();
    auto* in = static_cast<const uint8_t*>(input);
    auto* out = static_cast<uint8_t*>(output);
    Block saved;
    for (size_t n = size / kBytes; n > 0; --n, in += kBytes, out += kBytes) {
        std::memcpy(saved.data(), in, kBytes);
        EncryptBlock(chain_.data(), chain_.data());
        xor_block(out, saved.data(), chain_.data());
        chain_ = saved;
    }
    EncryptedChainTail(in, out, size % kBytes);
}

void BlockCipher128::CFB8bit(const uint8_t* in, uint8_t* out, uint32_t size, bool feedback_is_input) {
    RequireKeyed();
    Block keystream;
    for (uint32_t i = 0; i < size; ++i) {
        EncryptBlock(chain_.data(), keystream.data());
        const uint8_t input = in[i];
        const uint8_t output = input ^ keystream[0];
        out[i] = output;
        // Shift the register one byte left and append the cipher text byte.
        std::memmove(chain_.data(), chain_.data() + 1, kBytes - 1);
        chain_[kBytes - 1] = feedback_is_input ? input : output;
    }
}

void BlockCipher128::CFB8bitEncrypt(const void* in, void* out, uint32_t size) {
    CFB8bit(static_cast<const uint8_t*>(in), static_cast<uint8_t*>(out), size, false);
}

void BlockCipher128::CFB8bitDecrypt(const void* in, void* out, uint32_t size) {
    CFB8bit(static_cast<const uint8_t*>(in), static_cast<uint8_t*>(out), size, true);
}

void BlockCipher128::OFB(const uint8_t* in, uint8_t* out, uint32_t size) {
    RequireKeyed();
    for (size_t n = size / kBytes; n > 0; --n, in += kBytes, out += kBytes) {
        EncryptBlock(chain_.data(), chain_.data());
        xor_block(out, in, chain_.data());
    }
    EncryptedChainTail(in, out, size % kBytes);
}

void BlockCipher128::OFBEncrypt(const void* in, void* out, uint32_t size) {
    OFB(static_cast<const uint8_t*>(in), static_cast<uint8_t*>(out), size);
}

void BlockCipher128::OFBDecrypt(const void* in, void* out, uint32_t size) {
    OFB(static_cast<const uint8_t*>(in), static_cast<uint8_t*>(out), size);
}

void BlockCipher128::CTR(const uint8_t* in, uint8_t* out, uint32_t size) {
    RequireKeyed();
    Block keystream;
    for (size_t n = size / kBytes; n > 0; --n, in += kBytes, out += kBytes) {
        EncryptBlock(chain_.data(), keystream.data());
        IncrementCounter();
        xor_block(out, in, keystream.data());
    }
    if (const uint32_t tail = size % kBytes; tail != 0) {
        EncryptBlock(chain_.data(), keystream.data());
        IncrementCounter();
        xor_bytes(out, in, keystream.data(), tail);
    }
}

void BlockCipher128::CTREncrypt(const void* in, void* out, uint32_t size) {
    CTR(static_cast<const uint8_t*>(in), static_cast<uint8_t*>(out), size);
}

void BlockCipher128::CTRDecrypt(const void* in, void* out, uint32_t size) {
    CTR(static_cast<const uint8_t*>(in), static_cast<uint8_t*>(out), size);
}

}  // namespace kalv
