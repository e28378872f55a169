// Traditional PKWARE decryption (APPNOTE 6.1) on arbitrary passwords and data.
//
// Input: one byte giving the password's length (mod 64), the password, one byte
// choosing the block size, then the plain data. Checked:
//   - data encrypted here (APPNOTE 6.1.5/6.1.6, written out below with a bitwise
//     CRC so it shares nothing with the code under test) decrypts back to the 12-byte
//     header and the data, whatever the block boundaries, since the keys run on
//     across blocks as they do across the driver's 16000-byte reads;
//   - the fast DecryptBuffer agrees byte for byte with the one-byte-at-a-time
//     reference on arbitrary cipher text.
#include <cstdlib>
#include <string>
#include <vector>

#include "unzip/zip_crypto.h"

namespace {

void check(bool ok) {
    if (!ok) abort();
}

uint32_t bitwise_crc_step(uint32_t crc, uint8_t byte) {
    crc ^= byte;
    for (int i = 0; i < 8; ++i) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    return crc;
}

class ModelCipher {
public:
    explicit ModelCipher(const std::string& password) {
        for (char c : password) update(static_cast<uint8_t>(c));
    }
    std::vector<uint8_t> encrypt(const std::vector<uint8_t>& plain) {
        std::vector<uint8_t> out;
        for (uint8_t p : plain) {
            uint32_t t = (k2_ & 0xFFFF) | 2;
            out.push_back(static_cast<uint8_t>(p ^ ((t * (t ^ 1)) >> 8)));
            update(p);
        }
        return out;
    }

private:
    void update(uint8_t p) {
        k0_ = bitwise_crc_step(k0_, p);
        k1_ = (k1_ + (k0_ & 0xFF)) * 134775813u + 1;
        k2_ = bitwise_crc_step(k2_, static_cast<uint8_t>(k1_ >> 24));
    }
    uint32_t k0_ = 0x12345678, k1_ = 0x23456789, k2_ = 0x34567890;
};

void decrypt_in_blocks(kalv::unzip::ZipKeys& keys, std::vector<uint8_t>& data, size_t block) {
    for (size_t at = 0; at < data.size(); at += block)
        keys.DecryptBuffer(data.data() + at, std::min(block, data.size() - at));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    size_t password_length = std::min<size_t>(data[0] % 64, size - 2);
    const std::string password(reinterpret_cast<const char*>(data + 1), password_length);
    const size_t block = 1 + data[1 + password_length];
    const std::vector<uint8_t> plain(data + 2 + password_length, data + size);

    std::vector<uint8_t> with_header(plain);
    with_header.insert(with_header.begin(), {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0xA5});
    std::vector<uint8_t> cipher = ModelCipher(password).encrypt(with_header);

    kalv::unzip::ZipKeys keys;
    keys.InitKeys(password);
    std::vector<uint8_t> decrypted = cipher;
    decrypt_in_blocks(keys, decrypted, block);
    check(decrypted == with_header);

    kalv::unzip::ZipKeys fast, reference;
    fast.InitKeys(password);
    reference.InitKeys(password);
    std::vector<uint8_t> a = plain, b = plain;
    decrypt_in_blocks(fast, a, block);
    reference.DecryptBufferReference(b.data(), b.size());
    check(a == b);
    check(fast.DecryptByte() == reference.DecryptByte());
    return 0;
}
