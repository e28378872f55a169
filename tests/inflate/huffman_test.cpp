// The table builder: its four outcomes, and every code of a deep code found again
// through the first level and its sub-tables.
#include <gtest/gtest.h>

#include <vector>

#include "bit_writer.h"
#include "unzip/huffman.h"

namespace kalv::unzip::huffman {
namespace {

std::vector<uint32_t> identity_symbols(size_t n) {
    std::vector<uint32_t> s(n);
    for (size_t i = 0; i < n; ++i) s[i] = base_symbol(static_cast<uint32_t>(i), 0);
    return s;
}

BuildStatus build(const std::vector<uint8_t>& lengths, unsigned root_bits, size_t space_size = 4096) {
    std::vector<uint32_t> space(space_size);
    const std::vector<uint32_t> symbols = identity_symbols(lengths.size());
    Table table;
    return build_table(lengths.data(), static_cast<unsigned>(lengths.size()), symbols.data(), root_bits, space, &table);
}

struct StatusCase {
    const char* why;
    std::vector<uint8_t> lengths;
    BuildStatus status;
};

TEST(HuffmanBuild, ReportsCompleteIncompleteAndOverSubscribed) {
    const StatusCase cases[] = {
        {"two one-bit codes fill the space", {1, 1}, BuildStatus::Complete},
        {"a lone one-bit code is taken as complete", {0, 1, 0}, BuildStatus::Complete},
        {"no code at all", {0, 0, 0}, BuildStatus::Complete},
        {"a lone two-bit code leaves three quarters unused", {2}, BuildStatus::Incomplete},
        {"one and two bits leave a quarter", {1, 2}, BuildStatus::Incomplete},
        {"three one-bit codes", {1, 1, 1}, BuildStatus::OverSubscribed},
        {"over-subscribed only at the longest length", {1, 2, 3, 3, 3}, BuildStatus::OverSubscribed},
        {"a length beyond 16 bits", {1, 17}, BuildStatus::OverSubscribed},
        {"fifteen-bit codes filling the space exactly",
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 15}, BuildStatus::Complete},
    };
    for (const StatusCase& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(build(c.lengths, 4), c.status);
    }
}

TEST(HuffmanBuild, TooLittleSpaceIsOutOfMemory) {
    const std::vector<uint8_t> deep = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 15};
    EXPECT_EQ(build(deep, 7, 64), BuildStatus::OutOfMemory);    // not even the first level
    EXPECT_EQ(build(deep, 7, 128), BuildStatus::OutOfMemory);   // no room for the sub-table
    EXPECT_EQ(build(deep, 7, 128 + 256), BuildStatus::Complete);
}

// Finds a code's entry as a decoder does: first level, then the sub-table.
uint32_t look_up(const Table& table, uint32_t bits) {
    uint32_t entry = table.entries[bits & ((1u << table.root_bits) - 1)];
    if (entry & kSubtable) {
        const uint32_t rest = bits >> entry_consumed(entry);
        entry = table.entries[entry_value(entry) + (rest & ((1u << entry_length(entry)) - 1))];
        return entry;
    }
    return entry;
}

uint32_t reversed(uint32_t code, unsigned length) {
    uint32_t r = 0;
    for (unsigned i = 0; i < length; ++i) r = (r << 1) | ((code >> i) & 1);
    return r;
}

TEST(HuffmanBuild, EveryCodeIsFoundWhateverBitsFollowIt) {
    // Lengths from 2 to 15 bits around a 5-bit first level: sub-tables of several
    // widths, short codes repeated across the first level. The code is incomplete
    // (about 4/5 of the space), so sub-tables also hold unused codes.
    std::vector<uint8_t> lengths = {2, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 15, 6, 7, 8};
    std::vector<uint32_t> space(4096);
    const std::vector<uint32_t> symbols = identity_symbols(lengths.size());
    Table table;
    const BuildStatus status = build_table(lengths.data(), static_cast<unsigned>(lengths.size()), symbols.data(), 5, space, &table);
    ASSERT_EQ(status, BuildStatus::Incomplete);
    const std::vector<uint32_t> codes = kalv::testing::canonical_codes(lengths);
    for (size_t symbol = 0; symbol < lengths.size(); ++symbol) {
        for (uint32_t follow : {0u, 1u, 0x2Bu, 0xFFu}) {
            const uint32_t bits = reversed(codes[symbol], lengths[symbol]) | (follow << lengths[symbol]);
            const uint32_t entry = look_up(table, bits);
            ASSERT_FALSE(entry & (kInvalid | kSubtable)) << "symbol " << symbol;
            EXPECT_EQ(entry_value(entry), symbol);
            const unsigned first_level = lengths[symbol] <= 5 ? 0 : 5;
            EXPECT_EQ(entry_length(entry) + first_level, lengths[symbol]);
        }
    }
}

TEST(HuffmanBuild, UnusedCodesOfAnIncompleteCodeAreInvalid) {
    const std::vector<uint8_t> lengths = {1, 2};  // codes 0 and 10; 11 is unused
    std::vector<uint32_t> space(64);
    const std::vector<uint32_t> symbols = identity_symbols(2);
    Table table;
    ASSERT_EQ(build_table(lengths.data(), 2, symbols.data(), 3, space, &table), BuildStatus::Incomplete);
    EXPECT_EQ(entry_value(look_up(table, 0b000)), 0u);
    EXPECT_EQ(entry_value(look_up(table, 0b001)), 1u);  // code 10 read least significant bit first
    EXPECT_TRUE(look_up(table, 0b011) & kInvalid);
    EXPECT_TRUE(look_up(table, 0b111) & kInvalid);
}

TEST(HuffmanBuild, ExtraBitsAndCodeLengthShareTheConsumedCount) {
    const std::vector<uint8_t> lengths = {1, 1};
    const uint32_t symbols[2] = {base_symbol(258, 0), base_symbol(24577, 13)};
    std::vector<uint32_t> space(16);
    Table table;
    ASSERT_EQ(build_table(lengths.data(), 2, symbols, 2, space, &table), BuildStatus::Complete);
    const uint32_t entry = look_up(table, 1);
    EXPECT_EQ(entry_value(entry), 24577u);
    EXPECT_EQ(entry_length(entry), 1u);
    EXPECT_EQ(entry_consumed(entry), 14u);
}

}  // namespace
}  // namespace kalv::unzip::huffman
