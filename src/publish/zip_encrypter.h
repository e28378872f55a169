// Traditional PKWARE encryption (APPNOTE 6.1), the writing side of the reader's
// ZipKeys: the same three keys and key stream, except that the keys are updated with
// the plain byte before it is replaced by the cipher byte (APPNOTE 6.1.7 run the
// other way). Kalv3's one encoder of the format: kalvtool's package writer and the
// tests that craft archives both use it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "unzip/zip_crypto.h"

namespace kalv::publish {

class ZipEncrypter {
public:
    static constexpr size_t kHeaderSize = unzip::ZipKeys::kHeaderSize;

    explicit ZipEncrypter(const std::string& password) { keys_.InitKeys(password); }
    ~ZipEncrypter() { keys_.Wipe(); }
    ZipEncrypter(const ZipEncrypter&) = delete;
    ZipEncrypter& operator=(const ZipEncrypter&) = delete;

    // In place. The keys run on across calls, so a stream may be given in any pieces.
    void EncryptBuffer(uint8_t* data, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            const uint8_t plain = data[i];
            data[i] = static_cast<uint8_t>(plain ^ keys_.DecryptByte());
            keys_.UpdateKeys(plain);
        }
    }

    void EncryptBuffer(std::string& data) { EncryptBuffer(reinterpret_cast<uint8_t*>(data.data()), data.size()); }

private:
    unzip::ZipKeys keys_;
};

}  // namespace kalv::publish
