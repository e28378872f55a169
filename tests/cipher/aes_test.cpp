#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <random>

#include "cipher/rijndael.h"
#include "cipher_test_util.h"
#include "core/errors.h"

namespace {

using kalv::Rijndael;
using kalv_test::Bytes;
using kalv_test::hex;
using kalv_test::to_hex;

struct BlockVector {
    const char* source;
    uint32_t bits;
    const char* key;
    const char* plain;
    const char* cipher;
};

// FIPS-197 appendix B and C (example vectors), then the Rijndael self-test vectors.
const BlockVector kBlockVectors[] = {
    {"FIPS-197 B", 128, "2b7e151628aed2a6abf7158809cf4f3c", "3243f6a8885a308d313198a2e0370734",
     "3925841d02dc09fbdc118597196a0b32"},
    {"FIPS-197 C.1", 128, "000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
     "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {"FIPS-197 C.2", 192, "000102030405060708090a0b0c0d0e0f1011121314151617", "00112233445566778899aabbccddeeff",
     "dda97ca4864cdfe06eaf70a0ec0d7191"},
    {"FIPS-197 C.3", 256, "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089"},
    {"self-test 128", 128, "00010203050607080a0b0c0d0f101112", "506812a45f08c889b97f5980038b8359",
     "d8f532538289ef7d06b506a4fd5be9c9"},
    {"self-test 192", 192, "a0a1a2a3a5a6a7a8aaabacadafb0b1b2b4b5b6b7b9babbbc", "4f1c769d1e5b0552c7eca84dea26a549",
     "f3847210d5391e2360608e5acb560581"},
    {"self-test 256", 256, "00010203050607080a0b0c0d0f10111214151617191a1b1c1e1f202123242526",
     "5e25ca78f0de55802524d38da3fe4456", "e8b72b4e8be243438c9fff1f0e205872"},
};

Bytes encrypt_block(Rijndael& aes, const Bytes& plain) {
    Bytes out(16);
    aes.EncryptBlock(plain.data(), out.data());
    return out;
}

TEST(Aes, KnownAnswersEncryptAndDecrypt) {
    for (const BlockVector& v : kBlockVectors) {
        SCOPED_TRACE(v.source);
        Rijndael aes;
        const Bytes key = hex(v.key);
        aes.SetKey(key.data(), v.bits);
        EXPECT_EQ(aes.Rounds(), v.bits / 32 + 6);
        Bytes block = hex(v.plain);
        aes.EncryptBlock(block.data(), block.data());  // in place
        EXPECT_EQ(to_hex(block), v.cipher);
        aes.DecryptBlock(block.data(), block.data());
        EXPECT_EQ(to_hex(block), v.plain);
    }
}

TEST(Aes, KeyExpansionMatchesFips197AppendixA1) {
    Rijndael aes;
    const Bytes key = hex("2b7e151628aed2a6abf7158809cf4f3c");
    aes.SetKey(key.data(), 128);
    auto round_key = [&](const Rijndael::RoundKeys& keys, int row) {
        uint8_t bytes[16];
        for (int j = 0; j < 4; ++j) {
            for (int b = 0; b < 4; ++b) bytes[4 * j + b] = uint8_t(keys[row][j] >> (8 * b));
        }
        return to_hex(bytes, 16);
    };
    EXPECT_EQ(round_key(aes.EncKeys(), 0), "2b7e151628aed2a6abf7158809cf4f3c");
    EXPECT_EQ(round_key(aes.EncKeys(), 1), "a0fafe1788542cb123a339392a6c7605");
    EXPECT_EQ(round_key(aes.EncKeys(), 10), "d014f9a8c9ee2589e13f0cc8b6630ca6");
    // The equivalent inverse cipher keeps the first and last round keys as they are.
    EXPECT_EQ(round_key(aes.DecKeys(), 0), round_key(aes.EncKeys(), 0));
    EXPECT_EQ(round_key(aes.DecKeys(), 10), round_key(aes.EncKeys(), 10));
    EXPECT_NE(round_key(aes.DecKeys(), 5), round_key(aes.EncKeys(), 5));
}

TEST(Aes, SBoxIsFips197Figure7) {
    EXPECT_EQ(kalv::AesSBox(0x00), 0x63);
    EXPECT_EQ(kalv::AesSBox(0x01), 0x7c);
    EXPECT_EQ(kalv::AesSBox(0x53), 0xed);
    EXPECT_EQ(kalv::AesSBox(0x9a), 0xb8);
    EXPECT_EQ(kalv::AesSBox(0xff), 0x16);
    for (int x = 0; x < 256; ++x) {
        EXPECT_EQ(kalv::AesInvSBox(kalv::AesSBox(uint8_t(x))), x);
        EXPECT_NE(kalv::AesSBox(uint8_t(x)), x) << "the S-box has no fixed point";
    }
}

TEST(Aes, InvMixWordsIsFips197InvMixColumns) {
    // MixColumns turns the column db 13 53 45 into 8e 4d a1 bc; the inverse undoes it.
    uint32_t column = 0xbca14d8e;  // bytes 8e 4d a1 bc
    kalv::InvMixWords(&column, 1);
    EXPECT_EQ(column, 0x455313dbu);  // bytes db 13 53 45
}

TEST(Aes, ClassConstantsAndSelfCheck) {
    Rijndael aes;
    EXPECT_EQ(aes.Id(), 9);
    EXPECT_EQ(aes.Algorithm(), "Rijndael");
    EXPECT_EQ(aes.MaxKeySize(), 256);
    EXPECT_EQ(aes.BlockSize(), 128);
    EXPECT_EQ(Rijndael::kId, 9);
    EXPECT_TRUE(aes.SelfCheck());
    EXPECT_TRUE(Rijndael::PassesKnownAnswers());
    EXPECT_FALSE(aes.Initialized()) << "the self-test uses an object of its own";
}

TEST(Aes, DecryptInvertsEncryptForEveryKeySize) {
    std::mt19937 rng(1197);
    for (uint32_t bits = 4; bits <= 256; bits += 4) {
        Bytes key(32), block(16);
        for (auto& b : key) b = uint8_t(rng());
        for (auto& b : block) b = uint8_t(rng());
        Rijndael aes;
        aes.SetKey(key.data(), bits);
        Bytes out = encrypt_block(aes, block);
        EXPECT_NE(out, block) << bits;
        aes.DecryptBlock(out.data(), out.data());
        EXPECT_EQ(out, block) << bits;
    }
}

// size_bits / 8 whole key bytes, zero-extended to the AES key size they fall in.
TEST(Aes, KeySizeSelectsBytesAndVariant) {
    Bytes key(32);
    for (size_t i = 0; i < key.size(); ++i) key[i] = uint8_t(0x81 + 7 * i);
    const Bytes plain = hex("00112233445566778899aabbccddeeff");
    auto encrypt_with = [&](const Bytes& k, uint32_t bits) {
        Rijndael aes;
        aes.SetKey(k.data(), bits);
        return std::make_pair(aes.Rounds(), encrypt_block(aes, plain));
    };
    auto zero_extended = [&](size_t bytes) {
        Bytes k(32, 0);
        std::copy(key.begin(), key.begin() + bytes, k.begin());
        return k;
    };
    struct Case {
        uint32_t bits;
        uint32_t reference_bits;
        size_t key_bytes;
        uint32_t rounds;
    };
    const Case cases[] = {
        {4, 128, 0, 10},     // no whole byte: AES-128 under the zero key
        {12, 128, 1, 10},    // one byte, 4 bits dropped
        {128, 128, 16, 10},  // exactly AES-128
        {132, 128, 16, 10},  // the half byte beyond 16 is dropped
        {136, 192, 17, 12},  // 17 bytes: AES-192, zero-extended
        {192, 192, 24, 12},  // exactly AES-192
        {200, 256, 25, 14},  // 25 bytes: AES-256, zero-extended
        {256, 256, 32, 14},  // exactly AES-256
    };
    for (const Case& c : cases) {
        const auto [rounds, out] = encrypt_with(key, c.bits);
        EXPECT_EQ(rounds, c.rounds) << c.bits;
        EXPECT_EQ(out, encrypt_with(zero_extended(c.key_bytes), c.reference_bits).second) << c.bits;
    }
    // A 128-bit key never reads past byte 16 of its buffer.
    Bytes changed_tail = key;
    for (size_t i = 16; i < 32; ++i) changed_tail[i] ^= 0x5a;
    EXPECT_EQ(encrypt_with(changed_tail, 128).second, encrypt_with(key, 128).second);
}

TEST(Aes, RefusedKeySizesLeaveTheObjectWiped) {
    const Bytes key(40, 0x11);
    for (uint32_t bits : {0u, 2u, 3u, 127u, 257u, 258u, 260u, 264u, 512u, 0xFFFFFFFCu}) {
        Rijndael aes;
        aes.SetKey(key.data(), 128);  // Keyed before
        try {
            aes.SetKey(key.data(), bits);
            ADD_FAILURE() << bits << " accepted";
        } catch (const kalv::BlockCipherError&) {
            ADD_FAILURE() << bits << ": the key-size failure belongs to the cipher root, not the block cipher";
        } catch (const kalv::CipherError& e) {
            EXPECT_STREQ(e.what(), "Invalid key size") << bits;
        }
        EXPECT_FALSE(aes.Initialized()) << bits;
        EXPECT_EQ(aes.Rounds(), 0u) << bits;
        for (uint8_t b : aes.IVBytes()) EXPECT_EQ(b, 0xFF);
        uint8_t block[16] = {};
        EXPECT_THROW(aes.EncryptBlock(block, block), kalv::BlockCipherError) << bits;
    }
}

TEST(Aes, WipeClearsTheKeyScheduleAndRefusesBlocks) {
    Rijndael aes;
    const Bytes key = hex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
    aes.SetKey(key.data(), 256);
    aes.Wipe();
    EXPECT_EQ(aes.Rounds(), 0u);
    for (const auto& row : aes.EncKeys()) for (uint32_t w : row) EXPECT_EQ(w, 0u);
    for (const auto& row : aes.DecKeys()) for (uint32_t w : row) EXPECT_EQ(w, 0u);
    uint8_t in[16] = {1, 2, 3}, out[16];
    std::memset(out, 0xA5, sizeof out);
    for (auto op : {&Rijndael::EncryptBlock, &Rijndael::DecryptBlock}) {
        try {
            (aes.*op)(in, out);
            ADD_FAILURE() << "block operation on a wiped cipher";
        } catch (const kalv::BlockCipherError& e) {
            EXPECT_STREQ(e.what(), "Cipher not initialized");
        }
        for (uint8_t b : out) EXPECT_EQ(b, 0xA5) << "the output is untouched";
    }
}

// The destructor of a Keyed object wipes it: the key schedule (whose round key 0 is
// the raw key) must not survive in the released storage.
TEST(Aes, DestructionWipesTheKeyScheduleInItsStorage) {
    alignas(Rijndael) unsigned char storage[sizeof(Rijndael)];
    std::memset(storage, 0, sizeof storage);  // padding bytes read as 0 below
    const Bytes key = hex("c0ffee00deadbeef0123456789abcdef");
    auto* aes = new (storage) Rijndael;
    aes->SetKey(key.data(), 128);
    ASSERT_NE(std::search(storage, storage + sizeof storage, key.begin(), key.end()), storage + sizeof storage)
        << "round key 0 holds the raw key while Keyed";
    aes->~Rijndael();
    EXPECT_EQ(std::search(storage, storage + sizeof storage, key.begin(), key.end()), storage + sizeof storage);
    size_t nonzero_words = 0;
    for (size_t i = 0; i + 4 <= sizeof storage; i += 4) {
        uint32_t w;
        std::memcpy(&w, storage + i, 4);
        nonzero_words += (w != 0 && w != 0xFFFFFFFF);
    }
    EXPECT_LE(nonzero_words, 4u) << "beyond the object header only 0 and 0xFF fill remain";
}

}  // namespace
