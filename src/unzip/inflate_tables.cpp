#include "unzip/inflate_tables.h"

#include <algorithm>

namespace kalv::unzip::deflate {
namespace {

using huffman::BuildStatus;

// What each symbol decodes to, before its code length is known.
struct SymbolTables {
    uint32_t litlen[kLitLenSymbols];
    uint32_t distance[kDistanceSymbols];
    uint32_t code_length[kCodeLengthSymbols];
};

constexpr SymbolTables make_symbol_tables() {
    SymbolTables t{};
    for (unsigned i = 0; i < 256; ++i) t.litlen[i] = huffman::literal_symbol(i);
    t.litlen[256] = huffman::end_of_block_symbol();
    for (unsigned i = 0; i < 29; ++i) t.litlen[257 + i] = huffman::base_symbol(kLengthBase[i], kLengthExtra[i]);
    t.litlen[286] = t.litlen[287] = huffman::invalid_symbol();
    for (unsigned i = 0; i < kDistanceSymbols; ++i) t.distance[i] = huffman::base_symbol(kDistanceBase[i], kDistanceExtra[i]);
    for (unsigned i = 0; i < kCodeLengthSymbols; ++i) t.code_length[i] = huffman::base_symbol(i, 0);
    return t;
}
constexpr SymbolTables kSymbols = make_symbol_tables();

// A build's outcome as the block sees it: only a complete code may be used.
DecodeStatus require_complete(BuildStatus status) {
    switch (status) {
        case BuildStatus::Complete: return DecodeStatus::Done;
        case BuildStatus::OutOfMemory: return DecodeStatus::OutOfMemory;
        default: return DecodeStatus::BadData;
    }
}

}  // namespace

DecodeStatus build_block_tables(const uint8_t* lengths, unsigned litlen_count, unsigned distance_count,
                                CodeTables& space, huffman::Table* litlen, huffman::Table* distance) {
    const DecodeStatus status =
        require_complete(huffman::build_table(lengths, litlen_count, kSymbols.litlen, kLitLenBits, space.litlen, litlen));
    if (status != DecodeStatus::Done) return status;
    return require_complete(huffman::build_table(lengths + litlen_count, distance_count, kSymbols.distance,
                                                 kDistanceBits, space.distance, distance));
}

DecodeStatus build_code_length_table(const uint8_t (&lengths)[kCodeLengthSymbols], uint32_t (&space)[kCodeLengthSpace],
                                     huffman::Table* table) {
    return require_complete(
        huffman::build_table(lengths, kCodeLengthSymbols, kSymbols.code_length, kCodeLengthBits, space, table));
}

const FixedTables& fixed_tables() {
    static FixedTables tables;
    static const bool built = [] {
        uint8_t lengths[kLitLenSymbols];
        std::fill(lengths, lengths + 144, uint8_t{8});
        std::fill(lengths + 144, lengths + 256, uint8_t{9});
        std::fill(lengths + 256, lengths + 280, uint8_t{7});
        std::fill(lengths + 280, lengths + 288, uint8_t{8});
        uint8_t distance_lengths[kDistanceSymbols];
        std::fill(distance_lengths, distance_lengths + kDistanceSymbols, uint8_t{5});
        // Complete and Incomplete (the two unused distance codes) respectively: the
        // lengths are the format's, so no other outcome can occur.
        huffman::build_table(lengths, kLitLenSymbols, kSymbols.litlen, kLitLenBits, tables.space.litlen, &tables.litlen);
        huffman::build_table(distance_lengths, kDistanceSymbols, kSymbols.distance, kDistanceBits, tables.space.distance,
                             &tables.distance);
        return true;
    }();
    (void)built;
    return tables;
}

}  // namespace kalv::unzip::deflate
