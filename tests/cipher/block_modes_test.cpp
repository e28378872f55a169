#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>

#include "cipher/base64_codec.h"
#include "cipher/rijndael.h"
#include "cipher_test_util.h"
#include "core/errors.h"

namespace {

using namespace std::string_literals;
using kalv::BlockCipher128;
using kalv::Ciphermode;
using kalv::Rijndael;
using kalv_test::Bytes;
using kalv_test::hex;
using kalv_test::to_hex;

using ModeOp = void (BlockCipher128::*)(const void*, void*, uint32_t);

struct ModePair {
    const char* name;
    Ciphermode mode;
    ModeOp encrypt;
    ModeOp decrypt;
};

const ModePair kModes[] = {
    {"CBC", Ciphermode::cmCBC, &BlockCipher128::CBCEncrypt, &BlockCipher128::CBCDecrypt},
    {"CFB8", Ciphermode::cmCFB8bit, &BlockCipher128::CFB8bitEncrypt, &BlockCipher128::CFB8bitDecrypt},
    {"CFB128", Ciphermode::cmCFBblock, &BlockCipher128::CFBblockEncrypt, &BlockCipher128::CFBblockDecrypt},
    {"OFB", Ciphermode::cmOFB, &BlockCipher128::OFBEncrypt, &BlockCipher128::OFBDecrypt},
    {"CTR", Ciphermode::cmCTR, &BlockCipher128::CTREncrypt, &BlockCipher128::CTRDecrypt},
};

const ModePair& mode_named(const std::string& name) {
    for (const ModePair& m : kModes) {
        if (name == m.name) return m;
    }
    throw std::logic_error("no mode " + name);
}

constexpr const char* kSp800Plain =
    "6bc1bee22e409f96e93d7e117393172a ae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52ef f69f2445df4f9b17ad2b417be66c3710";
constexpr const char* kKey128 = "2b7e151628aed2a6abf7158809cf4f3c";
constexpr const char* kKey192 = "8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b";
constexpr const char* kKey256 = "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4";
constexpr const char* kIv = "000102030405060708090a0b0c0d0e0f";
constexpr const char* kCounter = "f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff";

struct ModeVector {
    const char* source;  // NIST SP 800-38A appendix F
    const char* mode;
    const char* key;
    const char* iv;
    size_t plain_bytes;  // a prefix of kSp800Plain
    const char* cipher;
};

const ModeVector kModeVectors[] = {
    {"F.2.1", "CBC", kKey128, kIv, 64,
     "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
     "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7"},
    {"F.2.3", "CBC", kKey192, kIv, 64,
     "4f021db243bc633d7178183a9fa071e8b4d9ada9ad7dedf4e5e738763f69145a"
     "571b242012fb7ae07fa9baac3df102e008b0e27988598881d920a9e64f5615cd"},
    {"F.2.5", "CBC", kKey256, kIv, 64,
     "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
     "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b"},
    {"F.3.7", "CFB8", kKey128, kIv, 18, "3b79424c9c0dd436bace9e0ed4586a4f32b9"},
    {"F.3.11", "CFB8", kKey256, kIv, 18, "dc1f1a8520a64db55fcc8ac554844e889700"},
    {"F.3.13", "CFB128", kKey128, kIv, 64,
     "3b3fd92eb72dad20333449f8e83cfb4ac8a64537a0b3a93fcde3cdad9f1ce58b"
     "26751f67a3cbb140b1808cf187a4f4dfc04b05357c5d1c0eeac4c66f9ff7f2e6"},
    {"F.3.15", "CFB128", kKey192, kIv, 64,
     "cdc80d6fddf18cab34c25909c99a417467ce7f7f81173621961a2b70171d3d7a"
     "2e1e8a1dd59b88b1c8e60fed1efac4c9c05f9f9ca9834fa042ae8fba584b09ff"},
    {"F.4.1", "OFB", kKey128, kIv, 64,
     "3b3fd92eb72dad20333449f8e83cfb4a7789508d16918f03f53c52dac54ed825"
     "9740051e9c5fecf64344f7a82260edcc304c6528f659c77866a510d9c1d6ae5e"},
    {"F.4.3", "OFB", kKey192, kIv, 64,
     "cdc80d6fddf18cab34c25909c99a4174fcc28b8d4c63837c09e81700c1100401"
     "8d9a9aeac0f6596f559c6d4daf59a5f26d9f200857ca6c3e9cac524bd9acc92a"},
    {"F.5.1", "CTR", kKey128, kCounter, 64,
     "874d6191b620e3261bef6864990db6ce9806f66b7970fdff8617187bb9fffdff"
     "5ae4df3edbd5d35e5b4f09020db03eab1e031dda2fbe03d1792170a0f3009cee"},
    {"F.5.5", "CTR", kKey256, kCounter, 64,
     "601ec313775789a5b7a7f504bbf3d228f443e3ca4d62b59aca84e990cacaf5c5"
     "2b0930daa23de94ce87017ba2d84988ddfc9c58db67aada613c2dd08457941a6"},
};

Bytes sp800_plain(size_t n) {
    Bytes all = hex(kSp800Plain);
    all.resize(n);
    return all;
}

void keyed(Rijndael& aes, const char* key_hex, const char* iv_hex) {
    const Bytes key = hex(key_hex), iv = hex(iv_hex);
    aes.SetKey(key.data(), uint32_t(key.size() * 8), iv.data());
}

// Runs `op` over `input` in pieces of `piece` bytes (0: in one call), in place or not.
Bytes run(Rijndael& aes, ModeOp op, const Bytes& input, size_t piece, bool in_place) {
    Bytes out(input.size(), 0xEE);
    Bytes work = input;
    const size_t step = piece == 0 ? std::max<size_t>(input.size(), 1) : piece;
    for (size_t at = 0; at < input.size(); at += step) {
        const uint32_t n = uint32_t(std::min(step, input.size() - at));
        if (in_place) {
            (aes.*op)(work.data() + at, work.data() + at, n);
        } else {
            (aes.*op)(input.data() + at, out.data() + at, n);
        }
    }
    return in_place ? work : out;
}

TEST(BlockModes, Sp800_38aVectorsWholeInPiecesAndInPlace) {
    for (const ModeVector& v : kModeVectors) {
        const ModePair& m = mode_named(v.mode);
        const Bytes plain = sp800_plain(v.plain_bytes);
        const Bytes cipher = hex(v.cipher);
        // 8-bit feedback has no blocks: it may be fed a byte at a time.
        const size_t pieces[] = {0, 16, m.mode == Ciphermode::cmCFB8bit ? 1u : 32u};
        for (size_t piece : pieces) {
            for (bool in_place : {false, true}) {
                SCOPED_TRACE(std::string(v.source) + " " + v.mode + " piece " + std::to_string(piece) +
                             (in_place ? " in place" : ""));
                Rijndael aes;
                keyed(aes, v.key, v.iv);
                EXPECT_EQ(to_hex(run(aes, m.encrypt, plain, piece, in_place)), to_hex(cipher));
                aes.ResetChain();
                EXPECT_EQ(to_hex(run(aes, m.decrypt, cipher, piece, in_place)), to_hex(plain));
            }
        }
    }
}

TEST(BlockModes, BufferOperationsDispatchOnCipherMode) {
    for (const ModeVector& v : kModeVectors) {
        SCOPED_TRACE(v.source);
        const ModePair& m = mode_named(v.mode);
        Bytes data = sp800_plain(v.plain_bytes);
        Rijndael aes;
        EXPECT_EQ(aes.CipherMode(), Ciphermode::cmCBC) << "the default mode";
        aes.SetCipherMode(m.mode);
        keyed(aes, v.key, v.iv);
        aes.EncryptBuffer(data.data(), data.data(), uint32_t(data.size()));
        EXPECT_EQ(to_hex(data), v.cipher);
        aes.ResetChain();
        aes.DecryptBuffer(data.data(), data.data(), uint32_t(data.size()));
        EXPECT_EQ(data, sp800_plain(v.plain_bytes));
    }
}

// --- Tails: what no standard defines, derived step by step from the block operation.

struct TailFixture : ::testing::Test {
    Rijndael aes;
    Bytes key = hex(kKey128), iv = hex(kIv);
    Bytes plain = hex("00112233445566778899aabbccddeeff" "0102030405060708090a");  // 16 + 10 bytes

    void SetUp() override { aes.SetKey(key.data(), 128, iv.data()); }
    Bytes E(Bytes block) const {
        aes.EncryptBlock(block.data(), block.data());
        return block;
    }
    static Bytes xor_of(const Bytes& a, const Bytes& b, size_t n) {
        Bytes out(n);
        for (size_t i = 0; i < n; ++i) out[i] = a[i] ^ b[i];
        return out;
    }
    Bytes first_block() const { return Bytes(plain.begin(), plain.begin() + 16); }
    Bytes tail() const { return Bytes(plain.begin() + 16, plain.end()); }
    Bytes chain() const {
        Bytes c(16);
        aes.ReadChain(c.data());
        return c;
    }
};

TEST_F(TailFixture, CbcTailIsInputXorEncryptedLastCipherBlock) {
    Bytes out(plain.size());
    aes.CBCEncrypt(plain.data(), out.data(), uint32_t(out.size()));
    const Bytes c1 = E(xor_of(first_block(), iv, 16));
    const Bytes k = E(c1);
    EXPECT_EQ(to_hex(out), to_hex(c1) + to_hex(xor_of(tail(), k, 10)));
    EXPECT_EQ(chain(), k) << "the tail leaves E(last cipher block) as the chain";
    // Decryption treats the tail exactly like encryption.
    aes.ResetChain();
    Bytes back(out.size());
    aes.CBCDecrypt(out.data(), back.data(), uint32_t(back.size()));
    EXPECT_EQ(back, plain);
    EXPECT_EQ(chain(), k);
}

TEST_F(TailFixture, CfbBlockTailContinuesTheFeedback) {
    Bytes out(plain.size());
    aes.CFBblockEncrypt(plain.data(), out.data(), uint32_t(out.size()));
    const Bytes c1 = xor_of(first_block(), E(iv), 16);
    const Bytes k = E(c1);
    EXPECT_EQ(to_hex(out), to_hex(c1) + to_hex(xor_of(tail(), k, 10)));
    aes.ResetChain();
    aes.CFBblockDecrypt(out.data(), out.data(), uint32_t(out.size()));
    EXPECT_EQ(out, plain);
}

TEST_F(TailFixture, OfbTailIsTheNextKeystreamBlock) {
    Bytes out(plain.size());
    aes.OFBEncrypt(plain.data(), out.data(), uint32_t(out.size()));
    const Bytes k1 = E(iv), k2 = E(k1);
    EXPECT_EQ(to_hex(out), to_hex(xor_of(first_block(), k1, 16)) + to_hex(xor_of(tail(), k2, 10)));
    EXPECT_EQ(chain(), k2);
}

TEST_F(TailFixture, CtrTailUsesTheNextCounterAndAdvancesIt) {
    Bytes out(plain.size());
    aes.CTREncrypt(plain.data(), out.data(), uint32_t(out.size()));
    Bytes counter1 = iv;
    counter1[15] += 1;
    Bytes counter2 = iv;
    counter2[15] += 2;
    EXPECT_EQ(to_hex(out), to_hex(xor_of(first_block(), E(iv), 16)) + to_hex(xor_of(tail(), E(counter1), 10)));
    EXPECT_EQ(chain(), counter2) << "the counter advances for the tail too";
}

TEST_F(TailFixture, CfbBitsAreByteByByteWithoutBlocks) {
    // Two calls of 7 and 19 bytes equal one call of 26: no block boundary exists.
    Bytes split(plain.size());
    aes.CFB8bitEncrypt(plain.data(), split.data(), 7);
    aes.CFB8bitEncrypt(plain.data() + 7, split.data() + 7, 19);
    aes.ResetChain();
    Bytes whole(plain.size());
    aes.CFB8bitEncrypt(plain.data(), whole.data(), uint32_t(whole.size()));
    EXPECT_EQ(split, whole);
    // The register ends as the last 16 cipher bytes.
    EXPECT_EQ(chain(), Bytes(whole.end() - 16, whole.end()));
    EXPECT_EQ(whole[0], plain[0] ^ E(iv)[0]);
}

TEST(BlockModes, DecryptInvertsEncryptForEverySizeInEveryMode) {
    std::mt19937 rng(38);
    Bytes key(24), iv(16), data(70);
    for (auto& b : key) b = uint8_t(rng());
    for (auto& b : iv) b = uint8_t(rng());
    for (auto& b : data) b = uint8_t(rng());
    for (const ModePair& m : kModes) {
        for (uint32_t size = 0; size <= data.size(); ++size) {
            Rijndael aes;
            aes.SetKey(key.data(), 192, iv.data());
            Bytes work(data.begin(), data.begin() + size);
            (aes.*m.encrypt)(work.data(), work.data(), size);
            if (size >= 2) {
                EXPECT_NE(work, Bytes(data.begin(), data.begin() + size)) << m.name << size;
            }
            Bytes chain_after_encrypt(16);
            aes.ReadChain(chain_after_encrypt.data());
            aes.ResetChain();
            (aes.*m.decrypt)(work.data(), work.data(), size);
            EXPECT_EQ(work, Bytes(data.begin(), data.begin() + size)) << m.name << " size " << size;
            Bytes chain_after_decrypt(16);
            aes.ReadChain(chain_after_decrypt.data());
            EXPECT_EQ(chain_after_decrypt, chain_after_encrypt) << m.name << " size " << size;
        }
    }
}

TEST(BlockModes, SizeZeroChangesNeitherOutputNorChain) {
    for (const ModePair& m : kModes) {
        Rijndael aes;
        const Bytes key = hex(kKey128), iv = hex(kIv);
        aes.SetKey(key.data(), 128, iv.data());
        uint8_t in[16] = {1}, out[16];
        std::memset(out, 0x5C, sizeof out);
        (aes.*m.encrypt)(in, out, 0);
        (aes.*m.decrypt)(in, out, 0);
        for (uint8_t b : out) EXPECT_EQ(b, 0x5C) << m.name;
        EXPECT_EQ(aes.ChainBytes(), aes.IVBytes()) << m.name;
    }
}

TEST(BlockModes, CounterCarriesBigEndianAndWrapsModulo2To128) {
    struct Case {
        const char* before;
        const char* after;
    };
    const Case cases[] = {
        {"000000000000000000000000000000fe", "000000000000000000000000000000ff"},
        {"000000000000000000000000000000ff", "00000000000000000000000000000100"},
        {"0000000000000000ffffffffffffffff", "00000000000000010000000000000000"},
        {"7fffffffffffffffffffffffffffffff", "80000000000000000000000000000000"},
        {"ffffffffffffffffffffffffffffffff", "00000000000000000000000000000000"},
    };
    const Bytes key = hex(kKey128);
    for (const Case& c : cases) {
        Rijndael aes;
        const Bytes counter = hex(c.before);
        aes.SetKey(key.data(), 128, counter.data());
        uint8_t block[16] = {};
        aes.CTREncrypt(block, block, 16);
        EXPECT_EQ(to_hex(aes.ChainBytes().data(), 16), c.after) << c.before;
    }
}

TEST(BlockModes, ChainOperations) {
    const Bytes key = hex(kKey128), iv = hex(kIv), other_iv = hex("ffeeddccbbaa99887766554433221100");
    Rijndael aes;
    // Without an IV the IV is the encryption of the zero block under the new key.
    aes.SetKey(key.data(), 128);
    Bytes zero(16, 0), expected(16), chain(16);
    aes.EncryptBlock(zero.data(), expected.data());
    aes.ReadChain(chain.data());
    EXPECT_EQ(chain, expected);
    EXPECT_EQ(to_hex(aes.IVBytes().data(), 16), to_hex(expected));

    aes.LoadIV(other_iv.data());
    aes.ReadChain(chain.data());
    EXPECT_EQ(chain, other_iv) << "LoadIV restarts the chain";
    uint8_t block[16] = {};
    aes.CBCEncrypt(block, block, 16);
    aes.ReadChain(chain.data());
    EXPECT_EQ(chain, Bytes(block, block + 16)) << "ReadChain returns the chain, not the IV";
    aes.ResetChain();
    aes.ReadChain(chain.data());
    EXPECT_EQ(chain, other_iv);

    // A second SetKey restarts from the new key and IV.
    aes.SetKey(key.data(), 128, iv.data());
    aes.ReadChain(chain.data());
    EXPECT_EQ(chain, iv);
}

TEST(BlockModes, EveryOperationRefusesAnUnkeyedCipher) {
    const Bytes key = hex(kKey128), iv = hex(kIv);
    using Call = std::function<void(Rijndael&, uint8_t*)>;
    std::vector<std::pair<std::string, Call>> calls = {
        {"ResetChain", [](Rijndael& a, uint8_t*) { a.ResetChain(); }},
        {"LoadIV", [](Rijndael& a, uint8_t* b) { a.LoadIV(b); }},
        {"ReadChain", [](Rijndael& a, uint8_t* b) { a.ReadChain(b); }},
        {"EncryptBlock", [](Rijndael& a, uint8_t* b) { a.EncryptBlock(b, b); }},
        {"DecryptBlock", [](Rijndael& a, uint8_t* b) { a.DecryptBlock(b, b); }},
        {"EncryptBuffer", [](Rijndael& a, uint8_t* b) { a.EncryptBuffer(b, b, 16); }},
        {"DecryptBuffer", [](Rijndael& a, uint8_t* b) { a.DecryptBuffer(b, b, 16); }},
        {"EncryptToBase64", [](Rijndael& a, uint8_t*) { a.EncryptToBase64("text"); }},
        {"DecryptFromBase64", [](Rijndael& a, uint8_t*) { a.DecryptFromBase64("dGV4dA=="); }},
    };
    for (const ModePair& m : kModes) {
        calls.push_back({std::string(m.name) + " encrypt", [m](Rijndael& a, uint8_t* b) { (a.*m.encrypt)(b, b, 16); }});
        calls.push_back({std::string(m.name) + " decrypt", [m](Rijndael& a, uint8_t* b) { (a.*m.decrypt)(b, b, 0); }});
    }
    for (const bool after_wipe : {false, true}) {
        for (const auto& [name, call] : calls) {
            Rijndael aes;
            if (after_wipe) {
                aes.SetKey(key.data(), 128, iv.data());
                aes.Wipe();
            }
            uint8_t buffer[16];
            std::memset(buffer, 0x3C, sizeof buffer);
            try {
                call(aes, buffer);
                ADD_FAILURE() << name << " ran on an unkeyed cipher";
            } catch (const kalv::BlockCipherError& e) {
                EXPECT_STREQ(e.what(), "Cipher not initialized") << name;
            }
            for (uint8_t b : buffer) EXPECT_EQ(b, 0x3C) << name << ": changed before refusing";
            for (uint8_t b : aes.IVBytes()) EXPECT_EQ(b, 0xFF) << name;
            for (uint8_t b : aes.ChainBytes()) EXPECT_EQ(b, 0xFF) << name;
        }
    }
}

TEST(BlockModes, WipeFillsIvAndChainAndMayRepeat) {
    const Bytes key = hex(kKey128), iv = hex(kIv);
    Rijndael aes;
    aes.Wipe();  // allowed when already Wiped
    aes.SetKey(key.data(), 128, iv.data());
    EXPECT_TRUE(aes.Initialized());
    aes.Wipe();
    EXPECT_FALSE(aes.Initialized());
    for (uint8_t b : aes.IVBytes()) EXPECT_EQ(b, 0xFF);
    for (uint8_t b : aes.ChainBytes()) EXPECT_EQ(b, 0xFF);
    aes.Wipe();
    EXPECT_FALSE(aes.Initialized());
}

// --- Text operations: always 8-bit cipher feedback, continuing the chain.

TEST(BlockModes, Base64TextOperationsAreCfb8WhateverTheMode) {
    const Bytes key = hex(kKey256), iv = hex(kIv);
    const std::string plain = "Base64 text op\x00\xff"s;
    Rijndael reference;
    reference.SetKey(key.data(), 256, iv.data());
    std::string cfb8(plain.size(), '\0');
    reference.CFB8bitEncrypt(plain.data(), cfb8.data(), uint32_t(plain.size()));
    const std::string expected = kalv::EncodeBase64(cfb8);
    for (const ModePair& m : kModes) {
        Rijndael aes;
        aes.SetCipherMode(m.mode);
        aes.SetKey(key.data(), 256, iv.data());
        EXPECT_EQ(aes.EncryptToBase64(plain), expected) << m.name;
        aes.ResetChain();
        EXPECT_EQ(aes.DecryptFromBase64(expected), plain) << m.name;
    }
    // The text operations continue the chain: two texts equal their concatenation.
    Rijndael aes;
    aes.SetKey(key.data(), 256, iv.data());
    const std::string first = aes.EncryptToBase64("abc"), second = aes.EncryptToBase64("def");
    aes.ResetChain();
    EXPECT_EQ(kalv::DecodeBase64(first) + kalv::DecodeBase64(second), kalv::DecodeBase64(aes.EncryptToBase64("abcdef")));
    EXPECT_EQ(aes.EncryptToBase64(""), "");
}

TEST(BlockModes, XorBytes) {
    uint8_t dst[5] = {0x0f, 0xf0, 0xff, 0x00, 0xaa};
    const uint8_t src[5] = {0xff, 0xff, 0xff, 0xff, 0x00};
    kalv::XorBytes(dst, src, 4);
    EXPECT_EQ(to_hex(dst, 5), "f00f00ffaa");
}

}  // namespace
