// Decoding tables for the Shannon-Fano trees of Imploding (APPNOTE 5.3).
//
// APPNOTE builds each tree's codes by sorting the symbols by bit length (stable),
// then counting codes upward from the longest ones, 2^(16 - length) apart, and
// sending each code most significant bit first. For a complete tree that is
// exactly the bitwise complement of the canonical prefix code known from Deflate
// (shortest codes first, symbols ascending within a length), so the table is built
// canonically and indexed with the inverted input bits.
//
// Layout: a first-level table of 2^lookup_bits entries indexed by the next
// (inverted) bits; a code longer than lookup_bits leads to a sub-table indexed by
// the bits after those, sized for the longest code under that prefix.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "unzip/legacy_io.h"

namespace kalv::unzip::legacy {

class ShannonFanoTable {
public:
    static constexpr int kMaxCodeLength = 16;

    enum class BuildStatus {
        Complete,        // every bit pattern decodes to a symbol
        Incomplete,      // the lengths leave patterns unused
        OverSubscribed,  // the lengths need more codes than exist
        BadLength,       // a length outside 1..16
    };

    // Builds the table for symbols 0..n-1 with the given bit lengths. Only a
    // complete tree is usable: decode() must not be called after any other status.
    BuildStatus build(std::span<const uint8_t> lengths, int lookup_bits);

    // Takes one code from the input and returns its symbol. Past the end of input
    // the reader's padding decodes to something; callers check in.overran().
    uint32_t decode(BitReader& in) const {
        const uint32_t bits = ~in.peek(kMaxCodeLength);
        Entry e = entries_[bits & first_mask_];
        if (e.sub_bits != 0) e = entries_[e.value + ((bits >> lookup_bits_) & ((1u << e.sub_bits) - 1))];
        in.consume(e.length);
        return e.value;
    }

private:
    struct Entry {
        uint16_t value = 0;    // the symbol, or for a sub-table link its first entry
        uint8_t length = 0;    // the whole code's length in bits
        uint8_t sub_bits = 0;  // non-zero: a link to a sub-table of 2^sub_bits entries
    };

    std::vector<Entry> entries_;
    int lookup_bits_ = 0;
    uint32_t first_mask_ = 0;
};

}  // namespace kalv::unzip::legacy
