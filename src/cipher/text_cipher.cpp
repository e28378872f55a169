#include "cipher/text_cipher.h"

#include <algorithm>
#include <cstdint>

#include "cipher/base64_codec.h"
#include "cipher/rijndael.h"
#include "core/errors.h"
#include "core/narrow.h"

namespace kalv {

namespace {

// The key and IV are built from program constants; neither is hashed or stretched.
constexpr std::string_view kPassphrase = "mild_sun_rise";
constexpr std::string_view kIvSeed = "529";
constexpr int32_t kKeyBufferLength = 32;
constexpr uint32_t kKeyBits = 128;  // only the first 16 bytes of the key buffer are read
constexpr int32_t kBlockLength = 16;

// The key buffer, zeroed when it goes out of scope on every path: also when an
// exception (memory exhaustion, a length overflow) leaves the operation early.
class KeyBuffer {
public:
    KeyBuffer() : bytes_(PadText(kPassphrase, kKeyBufferLength)) {}
    ~KeyBuffer() { SecureFill(bytes_.data(), 0, bytes_.size()); }
    KeyBuffer(const KeyBuffer&) = delete;
    KeyBuffer& operator=(const KeyBuffer&) = delete;
    const char* data() const { return bytes_.data(); }

private:
    std::string bytes_;
};

}  // namespace

int32_t PaddedLength(size_t length, int32_t block_length) {
    if (block_length <= 0) throw Error("PadText: the block length must be positive");
    if (length > static_cast<size_t>(INT32_MAX)) throw IntegerOverflow();
    const int64_t l = static_cast<int64_t>(length);
    // A text that already fills whole blocks gets no extra block.
    if (l != 0 && l % block_length == 0) return static_cast<int32_t>(l);
    const int64_t filled = static_cast<int64_t>(block_length) * (l / block_length + 1);
    if (filled > INT32_MAX) throw IntegerOverflow();
    return static_cast<int32_t>(filled);
}

std::string PadText(std::string_view source, int32_t block_length) {
    std::string result(static_cast<size_t>(PaddedLength(source.size(), block_length)), '\0');
    std::copy(source.begin(), source.end(), result.begin());
    return result;
}

std::string EncryptText(std::string_view plain) {
    const KeyBuffer key;
    const std::string iv = PadText(kIvSeed, kBlockLength);
    std::string data = PadText(plain, kBlockLength);
    {
        Rijndael cipher;  // its destructor wipes the key schedule, IV and chain
        cipher.SetKey(key.data(), kKeyBits, iv.data());
        cipher.CBCEncrypt(data.data(), data.data(), checked_narrow<uint32_t>(data.size()));
    }
    return EncodeBase64(data);
}

std::string DecryptText(std::string_view token) {
    const KeyBuffer key;
    const std::string iv = PadText(kIvSeed, kBlockLength);
    std::string data = DecodeBase64(token);
    {
        Rijndael cipher;
        cipher.SetKey(key.data(), kKeyBits, iv.data());
        cipher.CBCDecrypt(data.data(), data.data(), checked_narrow<uint32_t>(data.size()));
    }
    return data;
}

}  // namespace kalv
