// Traditional PKWARE decryption: the fast block loop against the byte-at-a-time
// reference, whole and split at every offset (the keys run on across blocks), and
// against the product's encoder. Independent producers are the peers' archives
// (zip_peers_test) and the fuzz target's own bitwise model.
#include <gtest/gtest.h>

#include "files.h"
#include "unzip/zip_crypto.h"
#include "zip_craft.h"

namespace kalv::unzip {
namespace {

TEST(ZipKeys, FastLoopEqualsTheReferenceAtEverySplit) {
    const std::string cipher = testing::pseudo_random_bytes(300, 5);
    std::string expected = cipher;
    ZipKeys reference;
    reference.InitKeys("p\xE4ssword");
    reference.DecryptBufferReference(reinterpret_cast<uint8_t*>(expected.data()), expected.size());
    for (size_t split = 0; split <= cipher.size(); split += 7) {
        std::string data = cipher;
        auto* p = reinterpret_cast<uint8_t*>(data.data());
        ZipKeys fast;
        fast.InitKeys("p\xE4ssword");
        fast.DecryptBuffer(p, split);
        fast.DecryptBuffer(p + split, data.size() - split);
        ASSERT_EQ(data, expected) << split;
    }
}

TEST(ZipKeys, UndoesTheEncodersEncryption) {
    const std::string plain = "The quick brown fox jumps over the lazy dog";
    for (const std::string& password : std::vector<std::string>{"", "a", "secret", std::string("with\0zero", 9)}) {
        std::string data = testing::encrypt_entry(plain, password, 0xA5);
        ZipKeys keys;
        keys.InitKeys(password);
        keys.DecryptBuffer(reinterpret_cast<uint8_t*>(data.data()), data.size());
        EXPECT_EQ(uint8_t(data[11]), 0xA5);  // the check byte ends the 12-byte header
        EXPECT_EQ(data.substr(12), plain);
    }
}

}  // namespace
}  // namespace kalv::unzip
