// The Deflate decoder's one class and what its three files share. As a decoder
// with a subtle fast loop is best read (libdeflate keeps its decode loop apart from
// the rest the same way), each path has a file of its own:
//
//   inflate.cpp          the entry, the blocks (RFC 1951 3.2.3 to 3.2.7) and the
//                        output buffer
//   inflate_careful.cpp  the careful input, the one-symbol reference path and the
//                        loop over a block's codes, which hands stretches to
//   inflate_fast.cpp     the fast loop, one source compiled four ways
//
// Here: the class with its bit buffer, window and tables, the bit buffer's small
// operations (inline: the block headers and the careful path take bits through
// them per code), and the margins that decide where the fast loop may run.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "unzip/decoder_io.h"
#include "unzip/huffman.h"
#include "unzip/inflate_tables.h"

// The fast loop is compiled twice: for baseline x86-64 and for BMI2, chosen per
// entry from cpuid. Only the loop's wrapper carries the target attribute; the rest
// of the build stays baseline.
#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__)
#define KALV_INFLATE_BMI2 1
#define KALV_TARGET_BMI2 __attribute__((target("bmi2")))
#else
#define KALV_INFLATE_BMI2 0
#define KALV_TARGET_BMI2
#endif
#define KALV_ALWAYS_INLINE inline __attribute__((always_inline))

namespace kalv::unzip::deflate {

static_assert(std::endian::native == std::endian::little, "the bit buffer loads input words little-endian");

inline constexpr size_t kWindowSize = 32768;  // RFC 1951 3.2.5: distances reach back at most 32768 bytes
inline constexpr size_t kMaxMatch = 258;

// Room the fast loop needs per iteration: a match copied in 8-byte words, at least
// five of them (so up to 37 bytes past a short match's end, 7 past a 258-byte
// one's), or four literals.
inline constexpr size_t kFastOutputMargin = kMaxMatch + 3 * 8;
static_assert(kFastOutputMargin >= 5 * 8 && kFastOutputMargin >= kMaxMatch + 7, "a match's copy stays in the margin");
inline constexpr size_t kFastInputMargin = 8;  // one unaligned 64-bit load per iteration

constexpr uint64_t low_bits(unsigned n) { return (uint64_t{1} << n) - 1; }

inline uint64_t load_le64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void store64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, sizeof v); }

class Inflater {
public:
    Inflater(const DecodeJob& job, uint8_t* buffer, size_t buffer_size, bool fast, bool bmi2)
        : input_(job.input),
          output_(job.output),
          buffer_(buffer),
          buffer_end_(buffer + buffer_size),
          out_next_(buffer),
          unwritten_(buffer),
          fast_(fast),
          bmi2_(bmi2) {}

    DecodeStatus run();

private:
    // The careful reader's outcome for one code.
    enum class Fetch { Ok, EndOfInput };
    // How a step through a block's codes ended.
    enum class Step { More, EndOfBlock, BadData, EndOfInput };

    // inflate.cpp
    DecodeStatus blocks();
    DecodeStatus stored_block();
    DecodeStatus fixed_block();
    DecodeStatus dynamic_block();
    DecodeStatus read_code_lengths(const huffman::Table& code_length, uint8_t* lengths, unsigned total);
    void write_pending();
    void make_room();

    // inflate_careful.cpp
    DecodeStatus decode_codes();
    bool fetch_input();
    Fetch decode_entry(const huffman::Table& table, uint32_t* entry);
    KALV_ALWAYS_INLINE Step decode_careful();  // in line in decode_codes, its one caller

    // inflate_fast.cpp
    Step decode_fast();
    KALV_TARGET_BMI2 Step decode_fast_bmi2();
    template <bool kBmi2, bool kWholeWindow>
    KALV_ALWAYS_INLINE Step fast_loop();

    // The bit buffer, a byte at a time from the input blocks.
    bool pull_byte() {
        if (in_next_ == in_end_ && !fetch_input()) return false;
        bits_ |= uint64_t{*in_next_++} << bit_count_;
        bit_count_ += 8;
        return true;
    }
    // Makes n bits available; false when the compressed bytes end first. Past the
    // end nothing is invented: the entry ends with EndOfInput.
    bool need(unsigned n) {
        while (bit_count_ < n)
            if (!pull_byte()) return false;
        return true;
    }
    // Refills a word at a time while the input block holds 8 more bytes, as the
    // fast loop does, so the code lengths of a dynamic header (a few hundred short
    // codes per block) are not pulled byte by byte.
    void top_up() {
        if (in_end_ - in_next_ < 8) return;
        bits_ |= load_le64(in_next_) << bit_count_;
        in_next_ += (63 - bit_count_) >> 3;
        bit_count_ |= 56;
    }
    uint32_t take(unsigned n) {
        const uint32_t value = static_cast<uint32_t>(bits_ & low_bits(n));
        drop(n);
        return value;
    }
    void drop(unsigned n) {
        bits_ >>= n;
        bit_count_ -= n;
    }

    InputSource& input_;
    OutputSink& output_;

    // Bit buffer, least significant bit first. Invariant: bits_ holds bit_count_
    // valid bits; any bits above them are zero or the input's true next bits (the
    // fast refill loads whole words), so OR-ing further input in is always sound.
    uint64_t bits_ = 0;
    unsigned bit_count_ = 0;
    const uint8_t* in_next_ = nullptr;
    const uint8_t* in_end_ = nullptr;
    bool input_ended_ = false;
    // The sink refused a write. Decoding then ends at the end of the input block in
    // hand, so that the decode loop needs no test of its own.
    bool output_full_ = false;

    // buffer_ .. out_next_: decoded bytes (at most 32 KiB of history before
    // unwritten_ once the buffer has slid); unwritten_ .. out_next_: not yet written.
    // The entry's first byte is at buffer_ until the first slide, so a distance
    // longer than out_next_ - buffer_ reaches before the entry's start.
    uint8_t* const buffer_;
    uint8_t* const buffer_end_;
    uint8_t* out_next_;
    uint8_t* unwritten_;
    const bool fast_;
    const bool bmi2_;

    huffman::Table litlen_;
    huffman::Table distance_;
    const CodeTables* codes_ = nullptr;  // the fixed tables or dynamic_, as the block is
    CodeTables dynamic_;
    uint32_t code_length_space_[kCodeLengthSpace];
};

}  // namespace kalv::unzip::deflate
