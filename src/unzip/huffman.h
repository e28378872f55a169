// Lookup tables for canonical prefix codes (RFC 1951 3.2.2), as the Deflate and
// implode decoders read them: bits enter least significant first, so a table is
// indexed by the code's bits in reverse, and every entry for a code shorter than
// the table's index width is repeated under each value of the unused high bits.
//
// A table has a first level of 2^root_bits entries; a code longer than root_bits
// goes through a pointer entry to a sub-table indexed by the code's further bits.
//
// Entry layout (32 bits), chosen so the decode loop needs one load, one shift and
// one mask per symbol:
//
//   31            16 15 14 13 12     8 7 6 5      0
//   +---------------+--+--+--+--------+-+-+--------+
//   |     value     |L |S |  | length |I|E|consumed|
//   +---------------+--+--+--+--------+-+-+--------+
//
//   consumed  bits to drop for this entry: the code length plus the symbol's extra
//             bits (for a sub-table pointer: the first level's root_bits)
//   length    the code length alone, so extra = (bits & mask(consumed)) >> length
//             (for a sub-table pointer: the sub-table's index width)
//   E, I      end of block, invalid code
//   S, L      sub-table pointer, literal
//   value     literal byte, length or distance base, or the sub-table's start
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace kalv::unzip::huffman {

inline constexpr uint32_t kConsumedMask = 0x3F;
inline constexpr uint32_t kEndOfBlock = 1u << 6;
inline constexpr uint32_t kInvalid = 1u << 7;
inline constexpr uint32_t kSubtable = 1u << 14;
inline constexpr uint32_t kLiteral = 1u << 15;
// Any entry the fast loop cannot finish in line: a pointer, the end, or an error.
inline constexpr uint32_t kExceptional = kEndOfBlock | kInvalid | kSubtable;

// Deflate's code lengths stop at 15; implode's Shannon-Fano codes reach 16.
inline constexpr unsigned kMaxCodeLength = 16;

constexpr unsigned entry_consumed(uint32_t entry) { return entry & kConsumedMask; }
constexpr unsigned entry_length(uint32_t entry) { return (entry >> 8) & 0x1F; }
constexpr uint32_t entry_value(uint32_t entry) { return entry >> 16; }

// What a symbol decodes to, before its code length is known. The builder adds the
// code length to both the consumed and the length fields.
constexpr uint32_t literal_symbol(uint32_t byte) { return (byte << 16) | kLiteral; }
constexpr uint32_t base_symbol(uint32_t base, unsigned extra_bits) { return (base << 16) | extra_bits; }
constexpr uint32_t end_of_block_symbol() { return kEndOfBlock; }
constexpr uint32_t invalid_symbol() { return kInvalid; }

// The outcome of a build, as the classic table builder reports it.
enum class BuildStatus {
    Complete,        // every code of the space is used (or no code at all)
    Incomplete,      // some codes are unused; the table is built, they decode as invalid
    OverSubscribed,  // more codes than the lengths allow: no table
    OutOfMemory,     // the table space given is too small: no table
};

struct Table {
    const uint32_t* entries = nullptr;
    unsigned root_bits = 0;
};

// Builds the table for the code whose lengths are lengths[0..count) (0 = unused
// symbol) into space, symbol i decoding to symbols[i]. A code with unused space is
// Incomplete unless its longest code has 1 bit (a lone one-bit code is taken as
// complete, as RFC 1951 3.2.7 allows for a single distance code); all lengths zero
// give a table of invalid entries and Complete. *used receives the entries taken.
BuildStatus build_table(const uint8_t* lengths, unsigned count, const uint32_t* symbols, unsigned root_bits,
                        std::span<uint32_t> space, Table* table, size_t* used = nullptr);

}  // namespace kalv::unzip::huffman
