// Traditional PKWARE decryption (APPNOTE 6.1): three 32-bit keys initialised from
// the password, updated with every plain byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/crc32.h"

namespace kalv::unzip {

class ZipKeys {
public:
    static constexpr size_t kHeaderSize = 12;  // APPNOTE 6.1.6 encryption header

    void InitKeys(const std::string& password) {
        key0_ = 0x12345678;
        key1_ = 0x23456789;
        key2_ = 0x34567890;
        for (const char c : password) UpdateKeys(static_cast<uint8_t>(c));
    }

    void UpdateKeys(uint8_t plain) {
        key0_ = crc32_byte(key0_, plain);
        key1_ = (key1_ + (key0_ & 0xFF)) * 134775813u + 1;
        key2_ = crc32_byte(key2_, uint8_t(key1_ >> 24));
    }

    uint8_t DecryptByte() const {
        const uint32_t t = (key2_ & 0xFFFF) | 2;
        return uint8_t((t * (t ^ 1)) >> 8);
    }

    // The reference form, one byte at a time through the three operations above.
    void DecryptBufferReference(uint8_t* data, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            const uint8_t plain = data[i] ^ DecryptByte();
            UpdateKeys(plain);
            data[i] = plain;
        }
    }

    // In place; the fast form of DecryptBufferReference (see zip_crypto.cpp).
    void DecryptBuffer(uint8_t* data, size_t n);

    // Wipes the key state (key material is not left behind after an entry).
    void Wipe() {
        volatile uint32_t* keys[] = {&key0_, &key1_, &key2_};
        for (volatile uint32_t* k : keys) *k = 0;
    }

private:
    uint32_t key0_ = 0, key1_ = 0, key2_ = 0;
};

}  // namespace kalv::unzip
