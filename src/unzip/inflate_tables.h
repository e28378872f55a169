// The Deflate decoder's tables (RFC 1951 3.2.5 to 3.2.7): the alphabets' constants,
// the lookup widths and the room their tables take, and the building of a block's
// tables from the lengths of its codes. The decoder (inflate.cpp) reads them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "unzip/decoder_io.h"
#include "unzip/huffman.h"

namespace kalv::unzip::deflate {

// RFC 1951 3.2.5: length codes 257..285 and distance codes 0..29.
inline constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                             31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
inline constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                             2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
inline constexpr uint16_t kDistanceBase[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                               33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                               1025, 1537, 2049, 3073, 4097, 6145,  8193,  12289, 16385, 24577};
inline constexpr uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                               6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// RFC 1951 3.2.7: the order in which the code-length code's lengths are sent.
inline constexpr uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

inline constexpr unsigned kLitLenSymbols = 288;  // 286 and 287 take part in the fixed code but never decode
inline constexpr unsigned kDistanceSymbols = 30;
inline constexpr unsigned kCodeLengthSymbols = 19;
inline constexpr unsigned kMaxLitLenCodes = 286;   // HLIT + 257 beyond this is bad data
inline constexpr unsigned kMaxDistanceCodes = 30;  // HDIST + 1 beyond this is bad data

// Lookup widths: one first-level probe resolves the common codes (literals of
// machine code run to 10-12 bits, so 11 keeps most of them in one probe). The
// same widths for fixed and dynamic blocks, so the fast loop masks with constants.
inline constexpr unsigned kLitLenBits = 11;
inline constexpr unsigned kDistanceBits = 8;
inline constexpr unsigned kCodeLengthBits = 7;  // the code-length code's lengths stop at 7: one level

// Table space. Every sub-table holds at least one symbol and is at most
// 2^(15 - root) entries wide, so root + symbols * 2^(15 - root) bounds any code,
// incomplete ones included: a build can never run out of room for Deflate.
inline constexpr size_t kLitLenSpace = (size_t{1} << kLitLenBits) + kLitLenSymbols * (size_t{1} << (15 - kLitLenBits));
inline constexpr size_t kDistanceSpace =
    (size_t{1} << kDistanceBits) + kDistanceSymbols * (size_t{1} << (15 - kDistanceBits));
inline constexpr size_t kCodeLengthSpace = size_t{1} << kCodeLengthBits;
static_assert(kLitLenSpace <= 0x10000 && kDistanceSpace <= 0x10000, "sub-table starts must fit the entries' 16 bits");

// A block's two codes side by side: the fast loop reaches both from one base
// register (the distance table at a constant offset), which leaves a register
// for the loop's own values instead of a reload from the stack per match.
struct CodeTables {
    uint32_t litlen[kLitLenSpace];
    uint32_t distance[kDistanceSpace];
};

// The tables of a dynamic block (RFC 1951 3.2.7) from its code lengths: the first
// litlen_count lengths for the literal/length code, the next distance_count for
// the distance code. Done only when both codes are complete (a lone one-bit code
// counts as complete); any other code is BadData, a build without room OutOfMemory.
DecodeStatus build_block_tables(const uint8_t* lengths, unsigned litlen_count, unsigned distance_count,
                                CodeTables& space, huffman::Table* litlen, huffman::Table* distance);

// The one-level table of the code-length code; likewise only a complete code passes.
DecodeStatus build_code_length_table(const uint8_t (&lengths)[kCodeLengthSymbols], uint32_t (&space)[kCodeLengthSpace],
                                     huffman::Table* table);

// RFC 1951 3.2.6. Codes 286 and 287 and distance codes 30 and 31 have a place in
// the fixed code but no meaning: they decode as invalid. The distance code (30 of
// 32 five-bit codes) is therefore incomplete, and accepted as such.
//
// The tables are built once for the process: the fixed code's codes are at most
// 9 bits, inside the first level, so first levels are all they take, and a stream
// of many small fixed blocks pays for no builds.
struct FixedTables {
    CodeTables space;  // laid out as a dynamic block's; the sub-table room stays unused
    huffman::Table litlen;
    huffman::Table distance;
};
const FixedTables& fixed_tables();

}  // namespace kalv::unzip::deflate
