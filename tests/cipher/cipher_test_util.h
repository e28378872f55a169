// Helpers shared by the cipher tests: hex vectors and byte strings.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kalv_test {

using Bytes = std::vector<uint8_t>;

inline Bytes hex(std::string_view text) {
    auto nibble = [](char c) -> uint8_t {
        if (c >= '0' && c <= '9') return uint8_t(c - '0');
        if (c >= 'a' && c <= 'f') return uint8_t(c - 'a' + 10);
        return uint8_t(c - 'A' + 10);
    };
    Bytes out;
    std::string digits;
    for (char c : text) {
        if (c != ' ') digits += c;
    }
    for (size_t i = 0; i + 1 < digits.size(); i += 2) out.push_back(uint8_t(nibble(digits[i]) << 4 | nibble(digits[i + 1])));
    return out;
}

inline std::string to_hex(const uint8_t* data, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

inline std::string to_hex(const Bytes& b) { return to_hex(b.data(), b.size()); }

inline std::string as_string(const Bytes& b) { return std::string(b.begin(), b.end()); }

}  // namespace kalv_test
