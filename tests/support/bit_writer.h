// Builds compressed streams bit by bit, as the decoders read them: fields least
// significant bit first (RFC 1951 3.1.1; APPNOTE 5.1 to 5.3 for Shrink, Reduce and
// Implode), Huffman and Shannon-Fano codes most significant bit first. Below it, the
// Deflate codes (RFC 1951 3.2.2 to 3.2.6) for writing Deflate blocks.
#pragma once

#include <cstdint>
#include <vector>

namespace kalv::testing {

class BitWriter {
public:
    // `count` bits of `value`, lowest first (up to 32).
    BitWriter& bits(uint32_t value, unsigned count) {
        for (unsigned i = 0; i < count; ++i) put((value >> i) & 1);
        return *this;
    }
    // A code of `length` bits, highest first.
    BitWriter& code(uint32_t code, unsigned length) {
        for (unsigned i = length; i-- > 0;) put((code >> i) & 1);
        return *this;
    }
    BitWriter& align() {
        while (used_ != 0) put(0);
        return *this;
    }
    BitWriter& bytes(const std::vector<uint8_t>& data) {
        align();
        out_.insert(out_.end(), data.begin(), data.end());
        return *this;
    }
    BitWriter& block_header(bool last, unsigned type) { return bits(last ? 1 : 0, 1).bits(type, 2); }

    // The stream so far, its last byte padded with zero bits; writing may go on.
    std::vector<uint8_t> finish() {
        align();
        return out_;
    }

private:
    void put(unsigned bit) {
        if (used_ == 0) out_.push_back(0);
        out_.back() |= static_cast<uint8_t>(bit << used_);
        used_ = (used_ + 1) % 8;
    }
    std::vector<uint8_t> out_;
    unsigned used_ = 0;
};

// Canonical codes for a set of lengths (RFC 1951 3.2.2), computed independently of
// the decoder's table builder.
inline std::vector<uint32_t> canonical_codes(const std::vector<uint8_t>& lengths) {
    unsigned count[17] = {};
    for (uint8_t l : lengths) ++count[l];
    count[0] = 0;
    uint32_t next[17] = {};
    uint32_t code = 0;
    for (unsigned bits = 1; bits <= 16; ++bits) {
        code = (code + count[bits - 1]) << 1;
        next[bits] = code;
    }
    std::vector<uint32_t> codes(lengths.size(), 0);
    for (size_t i = 0; i < lengths.size(); ++i)
        if (lengths[i]) codes[i] = next[lengths[i]]++;
    return codes;
}

// RFC 1951 3.2.5 length and distance codes.
struct CodeAndExtra {
    unsigned code;
    unsigned extra_bits;
    unsigned extra_value;
};

inline CodeAndExtra length_code(unsigned length) {
    static const unsigned base[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const unsigned extra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    unsigned i = 28;
    while (base[i] > length) --i;
    return {257 + i, extra[i], length - base[i]};
}

inline CodeAndExtra distance_code(unsigned distance) {
    static const unsigned base[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                      193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    unsigned i = 29;
    while (base[i] > distance) --i;
    return {i, i < 4 ? 0u : i / 2 - 1, distance - base[i]};
}

// The fixed code of RFC 1951 3.2.6.
inline void fixed_symbol(BitWriter& w, unsigned symbol) {
    if (symbol < 144) w.code(0x30 + symbol, 8);
    else if (symbol < 256) w.code(0x190 + symbol - 144, 9);
    else if (symbol < 280) w.code(symbol - 256, 7);
    else w.code(0xC0 + symbol - 280, 8);
}

inline void fixed_literals(BitWriter& w, const std::vector<uint8_t>& bytes) {
    for (uint8_t b : bytes) fixed_symbol(w, b);
}

inline void fixed_match(BitWriter& w, unsigned length, unsigned distance) {
    const CodeAndExtra l = length_code(length);
    fixed_symbol(w, l.code);
    w.bits(l.extra_value, l.extra_bits);
    const CodeAndExtra d = distance_code(distance);
    w.code(d.code, 5);
    w.bits(d.extra_value, d.extra_bits);
}

inline void fixed_end(BitWriter& w) { fixed_symbol(w, 256); }

}  // namespace kalv::testing
