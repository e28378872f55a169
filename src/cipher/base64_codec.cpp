#include "cipher/base64_codec.h"

#include <array>
#include <climits>

#include "core/errors.h"

namespace kalv {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kFill = '=';

// The decoder's slot value for "=": no alphabet character maps to it.
constexpr uint8_t kFillSlot = 255;
// Characters that leave their slot untouched.
constexpr uint8_t kForeign = 254;

constexpr std::array<uint8_t, 256> make_decode_table() {
    std::array<uint8_t, 256> table{};
    for (auto& v : table) v = kForeign;
    for (int i = 0; i < 64; ++i) table[static_cast<uint8_t>(kAlphabet[i])] = static_cast<uint8_t>(i);
    table[static_cast<uint8_t>(kFill)] = kFillSlot;
    return table;
}

constexpr std::array<uint8_t, 256> kDecode = make_decode_table();

}  // namespace

int32_t EncodeBase64Block(const uint8_t* in, char* out, int32_t n) {
    if (n <= 0) return 0;
    const int32_t groups = n / 3;
    for (int32_t g = 0; g < groups; ++g, in += 3) {
        const uint8_t b0 = in[0], b1 = in[1], b2 = in[2];
        *out++ = kAlphabet[b0 >> 2];
        *out++ = kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
        *out++ = kAlphabet[((b1 & 15) << 2) | (b2 >> 6)];
        *out++ = kAlphabet[b2 & 63];
    }
    switch (n % 3) {
        case 1:
            *out++ = kAlphabet[in[0] >> 2];
            *out++ = kAlphabet[(in[0] & 3) << 4];
            *out++ = kFill;
            *out++ = kFill;
            break;
        case 2:
            *out++ = kAlphabet[in[0] >> 2];
            *out++ = kAlphabet[((in[0] & 3) << 4) | (in[1] >> 4)];
            *out++ = kAlphabet[(in[1] & 15) << 2];
            *out++ = kFill;
            break;
    }
    return 4 * ((n + 2) / 3);
}

int32_t DecodeBase64Block(const char* in, uint8_t* out, int32_t n) {
    const int32_t groups = n / 4;
    if (groups <= 0) return 0;
    // The slots live for the whole call: a foreign character keeps the previous
    // group's value in its slot (and 0 before any group wrote it).
    uint8_t slot[4] = {0, 0, 0, 0};
    uint8_t* const start = out;
    for (int32_t g = 0; g < groups; ++g, in += 4) {
        for (int k = 0; k < 4; ++k) {
            const uint8_t v = kDecode[static_cast<uint8_t>(in[k])];
            if (v != kForeign) slot[k] = v;
        }
        *out++ = static_cast<uint8_t>((slot[0] << 2) | (slot[1] >> 4));
        if (slot[2] == kFillSlot) continue;
        *out++ = static_cast<uint8_t>((slot[1] << 4) | (slot[2] >> 2));
        if (slot[3] == kFillSlot) continue;
        *out++ = static_cast<uint8_t>((slot[2] << 6) | slot[3]);
    }
    return static_cast<int32_t>(out - start);
}

// The block operations count in signed 32 bits; a text whose count does not fit is
// refused rather than silently truncated.
static void check_count(size_t n, size_t limit) {
    if (n > limit) throw IntegerOverflow();
}

std::string EncodeBase64(std::string_view bytes) {
    check_count(bytes.size(), static_cast<size_t>(INT32_MAX) / 4 * 3 - 2);
    std::string text(4 * ((bytes.size() + 2) / 3), '\0');
    EncodeBase64Block(reinterpret_cast<const uint8_t*>(bytes.data()), text.data(),
                      static_cast<int32_t>(bytes.size()));
    return text;
}

std::string DecodeBase64(std::string_view text) {
    check_count(text.size(), static_cast<size_t>(INT32_MAX));
    std::string bytes(3 * (text.size() / 4), '\0');
    const int32_t written = DecodeBase64Block(text.data(), reinterpret_cast<uint8_t*>(bytes.data()),
                                              static_cast<int32_t>(text.size()));
    bytes.resize(static_cast<size_t>(written));
    return bytes;
}

bool IsCanonicalBase64(std::string_view text) {
    if (text.size() % 4 != 0) return false;
    size_t fill = 0;
    while (fill < 2 && fill < text.size() && text[text.size() - 1 - fill] == kFill) ++fill;
    for (size_t i = 0; i < text.size() - fill; ++i) {
        if (kDecode[static_cast<uint8_t>(text[i])] >= 64) return false;
    }
    // The encoder leaves the bits below the last whole byte zero: 4 of them before
    // "==", 2 before "=".
    if (fill == 0) return true;
    const uint8_t last = kDecode[static_cast<uint8_t>(text[text.size() - 1 - fill])];
    return (last & (fill == 2 ? 0x0F : 0x03)) == 0;
}

}  // namespace kalv
