#include "cipher/cipher_base.h"

#include <cstdint>
#include <cstring>

#include "cipher/base64_codec.h"
#include "core/errors.h"
#include "core/narrow.h"

namespace kalv {

void XorBytes(void* destination, const void* source, size_t n) {
    auto* d = static_cast<uint8_t*>(destination);
    const auto* s = static_cast<const uint8_t*>(source);
    for (size_t i = 0; i < n; ++i) d[i] ^= s[i];
}

void SecureFill(void* data, uint8_t value, size_t n) {
    if (n == 0) return;
#if defined(__GNUC__) || defined(__clang__)
    std::memset(data, value, n);
    // The empty statement claims to read the memory, so the fill cannot be dropped.
    __asm__ __volatile__("" : : "r"(data) : "memory");
#else
    volatile uint8_t* p = static_cast<volatile uint8_t*>(data);
    for (size_t i = 0; i < n; ++i) p[i] = value;
#endif
}

void Cipher::SetKey(const void* /*key*/, uint32_t size_bits, const void* /*iv*/) {
    if (initialized_) Wipe();
    if (size_bits == 0 || size_bits % 4 != 0 || size_bits > static_cast<uint32_t>(MaxKeySize())) {
        throw CipherError("Invalid key size");
    }
    initialized_ = true;
}

void Cipher::Wipe() { initialized_ = false; }

std::string Cipher::EncryptToBase64(std::string_view plain) {
    std::string encrypted(plain.size(), '\0');
    EncryptBuffer(plain.data(), encrypted.data(), checked_narrow<uint32_t>(plain.size()));
    return EncodeBase64(encrypted);
}

std::string Cipher::DecryptFromBase64(std::string_view base64) {
    std::string bytes = DecodeBase64(base64);
    DecryptBuffer(bytes.data(), bytes.data(), checked_narrow<uint32_t>(bytes.size()));
    return bytes;
}

void BlockCipher::EncryptBuffer(const void* in, void* out, uint32_t size) {
    switch (cipher_mode_) {
        case Ciphermode::cmCBC: return CBCEncrypt(in, out, size);
        case Ciphermode::cmCFB8bit: return CFB8bitEncrypt(in, out, size);
        case Ciphermode::cmCFBblock: return CFBblockEncrypt(in, out, size);
        case Ciphermode::cmOFB: return OFBEncrypt(in, out, size);
        case Ciphermode::cmCTR: return CTREncrypt(in, out, size);
    }
}

void BlockCipher::DecryptBuffer(const void* in, void* out, uint32_t size) {
    switch (cipher_mode_) {
        case Ciphermode::cmCBC: return CBCDecrypt(in, out, size);
        case Ciphermode::cmCFB8bit: return CFB8bitDecrypt(in, out, size);
        case Ciphermode::cmCFBblock: return CFBblockDecrypt(in, out, size);
        case Ciphermode::cmOFB: return OFBDecrypt(in, out, size);
        case Ciphermode::cmCTR: return CTRDecrypt(in, out, size);
    }
}

std::string BlockCipher::EncryptToBase64(std::string_view plain) {
    std::string encrypted(plain.size(), '\0');
    CFB8bitEncrypt(plain.data(), encrypted.data(), checked_narrow<uint32_t>(plain.size()));
    return EncodeBase64(encrypted);
}

std::string BlockCipher::DecryptFromBase64(std::string_view base64) {
    std::string bytes = DecodeBase64(base64);
    CFB8bitDecrypt(bytes.data(), bytes.data(), checked_narrow<uint32_t>(bytes.size()));
    return bytes;
}

void BlockCipher::RequireKeyed() const {
    if (!Initialized()) throw BlockCipherError("Cipher not initialized");
}

}  // namespace kalv
