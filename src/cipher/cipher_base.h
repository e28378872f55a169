// The cipher class family: an abstract cipher root, an abstract block cipher with
// its five block modes (NIST SP 800-38A), and the contracts every concrete cipher
// keeps. The 128-bit block implementation is in block_ciphers.h, AES in rijndael.h.
//
// Lifecycle of every cipher object:
//
//     construct ──> Wiped ──SetKey──> Keyed ──Wipe / destroy──> Wiped
//                     ^                 │
//                     └─ SetKey fails ──┘   (a second SetKey first wipes the old key)
//
// Wiped: Initialized() is false, IV and chaining value hold 0xFF bytes, the key
// schedule is zero. Every block, mode and chain operation on a Wiped object raises
// BlockCipherError("Cipher not initialized") before it changes anything.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kalv {

// The stored byte value is part of the contract (one byte, these numbers).
enum class Ciphermode : uint8_t {
    cmCBC = 0,       // cipher block chaining
    cmCFB8bit = 1,   // 8-bit cipher feedback
    cmCFBblock = 2,  // full-block cipher feedback
    cmOFB = 3,       // output feedback
    cmCTR = 4,       // counter mode
};

// destination[i] ^= source[i] for i in [0, n).
void XorBytes(void* destination, const void* source, size_t n);

// Fills key material with `value` in a way the optimiser may not drop, even right
// before the storage dies (a plain memset there is a dead store).
void SecureFill(void* data, uint8_t value, size_t n);

class Cipher {
public:
    Cipher(const Cipher&) = delete;
    Cipher& operator=(const Cipher&) = delete;
    virtual ~Cipher() = default;

    // Class constants: the same for every object of a concrete class.
    virtual int32_t Id() const = 0;
    virtual std::string Algorithm() const = 0;
    virtual int32_t MaxKeySize() const = 0;  // bits
    virtual bool SelfCheck() const = 0;

    // Key setup. `size_bits` must be a non-zero multiple of 4 not above MaxKeySize(),
    // else CipherError("Invalid key size") and the object is left Wiped. With `iv`,
    // exactly 16 bytes are read from it; without, the IV is the encryption of the
    // zero block under the new key. The chain starts at the IV.
    virtual void SetKey(const void* key, uint32_t size_bits, const void* iv = nullptr);

    // Allowed in every state; leaves the object Wiped. A concrete cipher wipes its own
    // key schedule first, then calls its base's Wipe.
    virtual void Wipe();

    virtual void ResetChain() = 0;

    // Encrypt or decrypt `size` bytes in the object's current mode. `in` and `out`
    // may be the same buffer.
    virtual void EncryptBuffer(const void* in, void* out, uint32_t size) = 0;
    virtual void DecryptBuffer(const void* in, void* out, uint32_t size) = 0;

    // Text operations: the encryption of `plain` as Base64 text, and back. Both
    // continue the current chain.
    virtual std::string EncryptToBase64(std::string_view plain);
    virtual std::string DecryptFromBase64(std::string_view base64);

    bool Initialized() const { return initialized_; }

protected:
    Cipher() = default;

private:
    bool initialized_ = false;
};

class BlockCipher : public Cipher {
public:
    Ciphermode CipherMode() const { return cipher_mode_; }
    void SetCipherMode(Ciphermode mode) { cipher_mode_ = mode; }

    // Dispatch on CipherMode() to the matching mode pair.
    void EncryptBuffer(const void* in, void* out, uint32_t size) override;
    void DecryptBuffer(const void* in, void* out, uint32_t size) override;

    // For block ciphers the text operations are always 8-bit cipher feedback,
    // whatever CipherMode() holds: the Base64 text has exactly the plain text's length.
    std::string EncryptToBase64(std::string_view plain) override;
    std::string DecryptFromBase64(std::string_view base64) override;

    virtual int32_t BlockSize() const = 0;  // bits
    virtual void LoadIV(const void* iv) = 0;
    virtual void ReadChain(void* chain) const = 0;

    // One block of BlockSize() bits; `in` and `out` may be the same buffer.
    virtual void EncryptBlock(const void* in, void* out) const = 0;
    virtual void DecryptBlock(const void* in, void* out) const = 0;

    // The block modes. Each writes exactly `size` bytes; `in` and `out` may be the
    // same buffer. The chaining value carries over from call to call, so a buffer may
    // be fed in pieces of whole blocks.
    virtual void CBCEncrypt(const void* in, void* out, uint32_t size) = 0;
    virtual void CBCDecrypt(const void* in, void* out, uint32_t size) = 0;
    virtual void CFB8bitEncrypt(const void* in, void* out, uint32_t size) = 0;
    virtual void CFB8bitDecrypt(const void* in, void* out, uint32_t size) = 0;
    virtual void CFBblockEncrypt(const void* in, void* out, uint32_t size) = 0;
    virtual void CFBblockDecrypt(const void* in, void* out, uint32_t size) = 0;
    virtual void OFBEncrypt(const void* in, void* out, uint32_t size) = 0;
    virtual void OFBDecrypt(const void* in, void* out, uint32_t size) = 0;
    virtual void CTREncrypt(const void* in, void* out, uint32_t size) = 0;
    virtual void CTRDecrypt(const void* in, void* out, uint32_t size) = 0;

protected:
    BlockCipher() = default;

    // Builds the key schedule from size_bits / 8 bytes of `key`; called only by SetKey,
    // after the size was validated.
    virtual void ExpandKey(const void* key, uint32_t size_bits) = 0;

    // Raises "Cipher not initialized" unless the object is Keyed.
    void RequireKeyed() const;

private:
    Ciphermode cipher_mode_ = Ciphermode::cmCBC;
};

}  // namespace kalv
