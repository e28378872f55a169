// Base64 (RFC 4648, section 4) on arbitrary text and bytes.
//
// The input is read twice: as a text to decode and as bytes to encode. Checked:
//   - the block operations write exactly into buffers of the documented size (heap
//     buffers of that size, so ASan sees one byte too many);
//   - decoding follows the lenient rules slot by slot (a plain model below: a
//     character outside the alphabet keeps its slot's last value, "=" counts only in
//     the third and fourth slots);
//   - encoding gives canonical text that decodes back to the bytes, and a canonical
//     text encodes back to itself.
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "cipher/base64_codec.h"

namespace {

uint8_t slot_value(char c, bool& keep) {
    keep = false;
    if (c >= 'A' && c <= 'Z') return static_cast<uint8_t>(c - 'A');
    if (c >= 'a' && c <= 'z') return static_cast<uint8_t>(c - 'a' + 26);
    if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0' + 52);
    if (c == '+') return 62;
    if (c == '/') return 63;
    if (c == '=') return 255;
    keep = true;
    return 0;
}

std::string model_decode(std::string_view text) {
    std::string out;
    uint8_t slot[4] = {0, 0, 0, 0};
    for (size_t g = 0; g + 4 <= text.size(); g += 4) {
        for (size_t k = 0; k < 4; ++k) {
            bool keep;
            uint8_t v = slot_value(text[g + k], keep);
            if (!keep) slot[k] = v;
        }
        out += static_cast<char>(static_cast<uint8_t>((slot[0] << 2) | (slot[1] >> 4)));
        if (slot[2] == 255) continue;
        out += static_cast<char>(static_cast<uint8_t>((slot[1] << 4) | (slot[2] >> 2)));
        if (slot[3] == 255) continue;
        out += static_cast<char>(static_cast<uint8_t>((slot[2] << 6) | slot[3]));
    }
    return out;
}

void check(bool ok) {
    if (!ok) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const int32_t n = static_cast<int32_t>(size);

    // Decoding: the block writes at most 3 * (n / 4) bytes into a buffer of exactly that size.
    const size_t capacity = 3 * (size / 4);
    auto decoded_block = std::make_unique<uint8_t[]>(capacity);
    const int32_t written = kalv::DecodeBase64Block(text.data(), decoded_block.get(), n);
    check(written >= 0 && static_cast<size_t>(written) <= capacity);
    const std::string decoded = kalv::DecodeBase64(text);
    check(decoded == std::string_view(reinterpret_cast<const char*>(decoded_block.get()), static_cast<size_t>(written)));
    check(decoded == model_decode(text));

    // Encoding: exactly 4 * ((n + 2) / 3) characters, canonical, and the exact inverse.
    const size_t encoded_size = 4 * ((size + 2) / 3);
    auto encoded_block = std::make_unique<char[]>(encoded_size);
    check(kalv::EncodeBase64Block(data, encoded_block.get(), n) == static_cast<int32_t>(encoded_size));
    const std::string encoded = kalv::EncodeBase64(text);
    check(encoded == std::string_view(encoded_block.get(), encoded_size));
    check(encoded.find_first_of("\r\n") == std::string::npos);
    check(kalv::IsCanonicalBase64(encoded));
    check(kalv::DecodeBase64(encoded) == text);

    if (kalv::IsCanonicalBase64(text)) check(kalv::EncodeBase64(decoded) == text);
    return 0;
}
