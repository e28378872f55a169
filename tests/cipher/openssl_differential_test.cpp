// Differential tests against OpenSSL's EVP AES: random keys, IVs and whole-block
// lengths through every mode, and the text cipher against AES-128-CBC of the
// zero-filled input under the fixed key and IV.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <memory>
#include <random>
#include <string>

#include "cipher/base64_codec.h"
#include "cipher/rijndael.h"
#include "cipher/text_cipher.h"
#include "cipher_test_util.h"

namespace {

using kalv::BlockCipher128;
using kalv::Rijndael;
using kalv_test::Bytes;
using kalv_test::to_hex;

using ModeOp = void (BlockCipher128::*)(const void*, void*, uint32_t);

struct Mode {
    const char* name;
    const EVP_CIPHER* (*evp[3])();  // AES-128, -192, -256
    ModeOp encrypt;
    ModeOp decrypt;
    bool whole_blocks_only;  // OpenSSL's stream modes take any length; ours agree only there
};

const Mode kModes[] = {
    {"CBC", {EVP_aes_128_cbc, EVP_aes_192_cbc, EVP_aes_256_cbc}, &BlockCipher128::CBCEncrypt,
     &BlockCipher128::CBCDecrypt, true},
    {"CFB8", {EVP_aes_128_cfb8, EVP_aes_192_cfb8, EVP_aes_256_cfb8}, &BlockCipher128::CFB8bitEncrypt,
     &BlockCipher128::CFB8bitDecrypt, false},
    {"CFB128", {EVP_aes_128_cfb128, EVP_aes_192_cfb128, EVP_aes_256_cfb128}, &BlockCipher128::CFBblockEncrypt,
     &BlockCipher128::CFBblockDecrypt, true},
    {"OFB", {EVP_aes_128_ofb, EVP_aes_192_ofb, EVP_aes_256_ofb}, &BlockCipher128::OFBEncrypt,
     &BlockCipher128::OFBDecrypt, false},
    {"CTR", {EVP_aes_128_ctr, EVP_aes_192_ctr, EVP_aes_256_ctr}, &BlockCipher128::CTREncrypt,
     &BlockCipher128::CTRDecrypt, false},
};

Bytes openssl_crypt(const EVP_CIPHER* cipher, const Bytes& key, const Bytes& iv, const Bytes& in, bool encrypt) {
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    EXPECT_EQ(EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key.data(), iv.data(), encrypt ? 1 : 0), 1);
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    Bytes out(in.size() + 32);
    int n = 0, tail = 0;
    EXPECT_EQ(EVP_CipherUpdate(ctx.get(), out.data(), &n, in.data(), int(in.size())), 1);
    EXPECT_EQ(EVP_CipherFinal_ex(ctx.get(), out.data() + n, &tail), 1);
    out.resize(size_t(n + tail));
    return out;
}

Bytes random_bytes(std::mt19937& rng, size_t n) {
    Bytes b(n);
    for (auto& x : b) x = uint8_t(rng());
    return b;
}

TEST(OpenSslDifferential, EveryModeEveryKeySizeRandomInputs) {
    std::mt19937 rng(20011126);  // fixed: a failure is reproducible
    for (const Mode& m : kModes) {
        for (int k = 0; k < 3; ++k) {
            const uint32_t bits = 128 + 64 * k;
            for (int trial = 0; trial < 25; ++trial) {
                const Bytes key = random_bytes(rng, bits / 8);
                Bytes iv = random_bytes(rng, 16);
                // Counters near the top exercise the carry across bytes.
                if (trial % 5 == 0) std::fill(iv.begin() + 8 + trial % 8, iv.end(), 0xFF);
                const size_t size = m.whole_blocks_only ? 16 * (rng() % 65) : rng() % 1040;
                const Bytes plain = random_bytes(rng, size);
                SCOPED_TRACE(std::string(m.name) + "-" + std::to_string(bits) + " size " + std::to_string(size) +
                             " key " + to_hex(key) + " iv " + to_hex(iv));

                const Bytes expected = openssl_crypt(m.evp[k](), key, iv, plain, true);
                Rijndael aes;
                aes.SetKey(key.data(), bits, iv.data());
                Bytes ours(size);
                // Two calls, split at a block boundary: the chain carries over.
                const uint32_t split = uint32_t(size / 32 * 16);
                (aes.*m.encrypt)(plain.data(), ours.data(), split);
                (aes.*m.encrypt)(plain.data() + split, ours.data() + split, uint32_t(size - split));
                ASSERT_EQ(to_hex(ours), to_hex(expected));

                aes.ResetChain();
                (aes.*m.decrypt)(ours.data(), ours.data(), uint32_t(size));
                ASSERT_EQ(ours, plain);
                ASSERT_EQ(openssl_crypt(m.evp[k](), key, iv, expected, false), plain);
            }
        }
    }
}

TEST(OpenSslDifferential, EncryptTextIsAes128CbcOfTheZeroFilledInput) {
    const Bytes key = {'m', 'i', 'l', 'd', '_', 's', 'u', 'n', '_', 'r', 'i', 's', 'e', 0, 0, 0};
    Bytes iv(16, 0);
    iv[0] = '5';
    iv[1] = '2';
    iv[2] = '9';
    std::mt19937 rng(41);
    for (size_t n : {0, 1, 13, 16, 17, 33, 48}) {
        for (int trial = 0; trial < 4; ++trial) {
            Bytes plain = random_bytes(rng, n);
            if (trial == 0) std::fill(plain.begin(), plain.end(), 0);  // zero bytes are ordinary bytes
            Bytes filled = plain;
            filled.resize(n == 0 ? 16 : (n + 15) / 16 * 16, 0);
            const Bytes cipher = openssl_crypt(EVP_aes_128_cbc(), key, iv, filled, true);
            std::string expected(4 * ((cipher.size() + 2) / 3) + 1, '\0');
            expected.resize(size_t(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(expected.data()), cipher.data(),
                                                    int(cipher.size()))));
            EXPECT_EQ(kalv::EncryptText(kalv_test::as_string(plain)), expected) << "length " << n;
            EXPECT_EQ(kalv::DecryptText(expected), kalv_test::as_string(filled)) << "length " << n;
        }
    }
}

TEST(OpenSslDifferential, Base64AgreesWithOpenSsl) {
    std::mt19937 rng(4648);
    for (size_t n = 0; n < 200; n += 1 + n / 8) {
        const Bytes bytes = random_bytes(rng, n);
        std::string expected(4 * ((n + 2) / 3) + 1, '\0');
        expected.resize(size_t(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(expected.data()), bytes.data(), int(n))));
        EXPECT_EQ(kalv::EncodeBase64(kalv_test::as_string(bytes)), expected) << n;
    }
}

}  // namespace
