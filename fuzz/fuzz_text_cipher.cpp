// The start token's cipher on arbitrary input: a token that reached the application
// damaged, and the block modes under arbitrary keys, IVs and lengths.
//
// Input: byte 0 picks the block mode, byte 1 the key size (in 4-bit steps, some of
// them invalid), byte 2 where the data is cut in two, then 32 key bytes, 16 IV bytes
// and the data. Checked:
//   - DecryptText and DecryptFromBase64 take any text without a sanitizer report
//     (a failure of the project's family is allowed);
//   - DecryptText(EncryptText(p)) is p filled with zero bytes to whole blocks;
//   - in every mode, decrypting what was encrypted gives the data back, in place or
//     not, with the data fed in two pieces (whole blocks for the block-wise modes);
//   - an invalid key size raises the cipher's own failure and leaves it unkeyed.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cipher/rijndael.h"
#include "cipher/text_cipher.h"
#include "core/errors.h"

namespace {

void check(bool ok, const char* rule) {
    if (!ok) {
        std::fprintf(stderr, "text cipher broke a rule: %s\n", rule);
        abort();
    }
}

constexpr size_t kHeader = 3 + 32 + 16;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string whole(reinterpret_cast<const char*>(data), size);
    try {
        kalv::DecryptText(whole);
    } catch (const kalv::Error&) {
    }
    {
        kalv::Rijndael any;
        any.SetKey("mild_sun_rise\0\0\0", 128, "529\0\0\0\0\0\0\0\0\0\0\0\0\0");
        try {
            any.DecryptFromBase64(whole);
        } catch (const kalv::Error&) {
        }
    }
    check(kalv::DecryptText(kalv::EncryptText(whole)) == kalv::PadText(whole, 16),
          "a token decrypts to its plain text and the zero fill");

    if (size < kHeader) return 0;
    const auto mode = static_cast<kalv::Ciphermode>(data[0] % 5);
    const uint32_t key_bits = 4u * (data[1] % 70);  // 0 and 260..276 are invalid
    const uint8_t* key = data + 3;
    const uint8_t* iv = data + 3 + 32;
    const std::vector<uint8_t> plain(data + kHeader, data + size);
    const bool bytewise = mode == kalv::Ciphermode::cmCFB8bit;
    size_t cut = plain.size() * data[2] / 255;
    if (!bytewise) cut -= cut % 16;

    kalv::Rijndael encryptor, decryptor;
    encryptor.SetCipherMode(mode);
    decryptor.SetCipherMode(mode);
    bool keyed = true;
    try {
        encryptor.SetKey(key, key_bits, iv);
    } catch (const kalv::CipherError&) {
        keyed = false;
    }
    const bool valid_size = key_bits != 0 && key_bits <= 256;
    check(keyed == valid_size, "key sizes: a non-zero multiple of 4 bits up to 256");
    check(encryptor.Initialized() == keyed, "a failed SetKey leaves the cipher unkeyed");
    if (!keyed) return 0;
    decryptor.SetKey(key, key_bits, iv);

    std::vector<uint8_t> sealed(plain.size());
    encryptor.EncryptBuffer(plain.data(), sealed.data(), static_cast<uint32_t>(cut));
    encryptor.EncryptBuffer(plain.data() + cut, sealed.data() + cut, static_cast<uint32_t>(plain.size() - cut));

    std::vector<uint8_t> opened = sealed;  // in place
    decryptor.DecryptBuffer(opened.data(), opened.data(), static_cast<uint32_t>(cut));
    decryptor.DecryptBuffer(opened.data() + cut, opened.data() + cut, static_cast<uint32_t>(opened.size() - cut));
    check(opened == plain, "decryption inverts encryption in every mode");
    return 0;
}
