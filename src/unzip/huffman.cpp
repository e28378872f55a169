#include "unzip/huffman.h"

#include <algorithm>
#include <array>
#include <bit>

namespace kalv::unzip::huffman {
namespace {

// The low length bits of code, mirrored: swap halves, then bytes, nibbles, pairs
// and single bits of a 16-bit word, and drop the 16 - length bits that end low.
uint32_t reverse_bits(uint32_t code, unsigned length) {
    static_assert(kMaxCodeLength <= 16, "codes are mirrored within 16 bits");
    code = ((code >> 8) & 0x00FF) | ((code & 0x00FF) << 8);
    code = ((code >> 4) & 0x0F0F) | ((code & 0x0F0F) << 4);
    code = ((code >> 2) & 0x3333) | ((code & 0x3333) << 2);
    code = ((code >> 1) & 0x5555) | ((code & 0x5555) << 1);
    return code >> (16 - length);
}

// An unused code: it claims the whole index width, so a careful reader only trusts
// it once that many real bits are held.
constexpr uint32_t invalid_entry(unsigned index_bits) { return kInvalid | index_bits | (index_bits << 8); }

constexpr uint32_t with_length(uint32_t symbol, unsigned length) { return symbol + length + (length << 8); }

using LengthCounts = std::array<unsigned, kMaxCodeLength + 1>;
// Symbols in canonical order; only the first `coded` are written and read.
using SortedSymbols = std::array<uint16_t, 1024>;

// Each length doubles the code space; a length's codes may not take more than is
// left. Returns the space left unused at the longest length (negative: the
// lengths over-subscribe it), and that longest length.
int unused_space(const LengthCounts& count_by_length, unsigned* max_length) {
    int left = 1;
    *max_length = 0;
    for (unsigned length = 1; length <= kMaxCodeLength; ++length) {
        left = (left << 1) - static_cast<int>(count_by_length[length]);
        if (left < 0) return left;
        if (count_by_length[length]) *max_length = length;
    }
    return left;
}

// Canonical order (RFC 1951 3.2.2): by length, then by symbol within a length.
void sort_canonical(const uint8_t* lengths, unsigned count, const LengthCounts& count_by_length, SortedSymbols& sorted) {
    std::array<unsigned, kMaxCodeLength + 2> offset{};
    for (unsigned length = 1; length <= kMaxCodeLength; ++length)
        offset[length + 1] = offset[length] + count_by_length[length];
    for (unsigned symbol = 0; symbol < count; ++symbol)
        if (lengths[symbol]) sorted[offset[lengths[symbol]]++] = static_cast<uint16_t>(symbol);
}

// The first level, built by doubling: at width 2^length the codes of that length
// take one entry each (their bits reversed), then the table is copied onto its
// upper half for the next length, which repeats every shorter code under each
// value of the new high bit. Entries no code takes stay copies of the invalid
// entry it starts from. Canonical codes of one length are consecutive, so the
// reversed code is advanced in place: the reversed form of adding one is setting
// the highest zero bit and clearing the bits above it. Returns how many of the
// sorted symbols it placed (all codes of up to root_bits bits).
unsigned fill_first_level(const LengthCounts& count_by_length, const SortedSymbols& sorted, const uint32_t* symbols,
                          unsigned root_bits, std::span<uint32_t> space) {
    unsigned i = 0;
    uint32_t reversed_code = 0;
    space[0] = invalid_entry(root_bits);
    for (unsigned length = 1, width = 1; length <= root_bits; ++length) {
        std::copy_n(space.data(), width, space.data() + width);
        width <<= 1;
        for (unsigned n = count_by_length[length]; n > 0; --n, ++i) {
            space[reversed_code] = with_length(symbols[sorted[i]], length);
            // All ones is the last code the space holds: no code can follow it.
            if (reversed_code != width - 1) {
                const uint32_t highest_zero = uint32_t{1} << (std::bit_width(reversed_code ^ (width - 1)) - 1);
                reversed_code = (reversed_code & (highest_zero - 1)) | highest_zero;
            }
        }
    }
    return i;
}

// What the sub-tables are built from.
struct LongCodes {
    const uint8_t* lengths;
    const uint32_t* symbols;
    unsigned root_bits;
    unsigned max_length;
    bool has_gaps;  // a code with unused space: sub-tables start filled with invalid entries
};

// The codes longer than the first level, sorted[first .. coded), through
// sub-tables placed from space[*next_free] on. False when they do not fit.
bool fill_subtables(const LongCodes& code, const LengthCounts& count_by_length, const SortedSymbols& sorted,
                    unsigned first, unsigned coded, std::span<uint32_t> space, size_t* next_free) {
    std::array<uint32_t, kMaxCodeLength + 1> next_code{};
    uint32_t next = 0;
    for (unsigned length = 1; length <= kMaxCodeLength; ++length) {
        next = (next + (length > 1 ? count_by_length[length - 1] : 0)) << 1;
        next_code[length] = next;
    }

    const uint32_t root_mask = (uint32_t{1} << code.root_bits) - 1;
    LengthCounts remaining = count_by_length;
    uint32_t current_prefix = UINT32_MAX;
    size_t sub_start = 0;
    unsigned sub_bits = 0;
    for (unsigned i = first; i < coded; ++i) {
        const unsigned symbol = sorted[i];
        const unsigned length = code.lengths[symbol];
        const uint32_t reversed = reverse_bits(next_code[length]++, length);
        const uint32_t prefix = reversed & root_mask;
        if (prefix != current_prefix) {
            // The codes sharing this prefix follow each other in canonical order;
            // widen the sub-table until they fill it (or the longest code is reached).
            unsigned bits = length - code.root_bits;
            int room = 1 << bits;
            while (bits + code.root_bits < code.max_length) {
                room -= static_cast<int>(remaining[bits + code.root_bits]);
                if (room <= 0) break;
                ++bits;
                room <<= 1;
            }
            const size_t sub_size = size_t{1} << bits;
            if (*next_free + sub_size > space.size() || *next_free > 0xFFFF) return false;
            if (code.has_gaps) std::fill_n(space.data() + *next_free, sub_size, invalid_entry(bits));
            space[prefix] = (static_cast<uint32_t>(*next_free) << 16) | kSubtable | code.root_bits | (bits << 8);
            sub_start = *next_free;
            sub_bits = bits;
            *next_free += sub_size;
            current_prefix = prefix;
        }
        const unsigned sub_length = length - code.root_bits;
        const uint32_t entry = with_length(code.symbols[symbol], sub_length);
        for (size_t index = reversed >> code.root_bits; index < (size_t{1} << sub_bits); index += size_t{1} << sub_length)
            space[sub_start + index] = entry;
        --remaining[length];
    }
    return true;
}

}  // namespace

BuildStatus build_table(const uint8_t* lengths, unsigned count, const uint32_t* symbols, unsigned root_bits,
                        std::span<uint32_t> space, Table* table, size_t* used) {
    LengthCounts count_by_length{};
    for (unsigned symbol = 0; symbol < count; ++symbol) {
        if (lengths[symbol] > kMaxCodeLength) return BuildStatus::OverSubscribed;
        ++count_by_length[lengths[symbol]];
    }

    const size_t root_size = size_t{1} << root_bits;
    // Sub-table starts live in the entries' 16-bit value field.
    if (space.size() < root_size || root_size > 0x10000) return BuildStatus::OutOfMemory;
    table->entries = space.data();
    table->root_bits = root_bits;
    if (used) *used = root_size;
    if (count_by_length[0] == count) {
        std::fill_n(space.data(), root_size, invalid_entry(root_bits));
        return BuildStatus::Complete;
    }

    unsigned max_length = 0;
    const int left = unused_space(count_by_length, &max_length);
    if (left < 0) return BuildStatus::OverSubscribed;
    const BuildStatus status = (left > 0 && max_length != 1) ? BuildStatus::Incomplete : BuildStatus::Complete;

    SortedSymbols sorted;
    if (count > sorted.size()) return BuildStatus::OutOfMemory;
    sort_canonical(lengths, count, count_by_length, sorted);
    const unsigned placed = fill_first_level(count_by_length, sorted, symbols, root_bits, space);

    // Only a code with unused space (a lone one-bit code included) leaves entries
    // that no code writes; a full code writes every entry of every sub-table, so
    // their invalid fill is skipped for it.
    const LongCodes long_codes{lengths, symbols, root_bits, max_length, left > 0};
    const unsigned coded = count - count_by_length[0];
    size_t next_free = root_size;
    if (!fill_subtables(long_codes, count_by_length, sorted, placed, coded, space, &next_free))
        return BuildStatus::OutOfMemory;
    if (used) *used = next_free;
    return status;
}

}  // namespace kalv::unzip::huffman
