// The Deflate decoder's fast loop: the bulk of a block's codes (RFC 1951 3.2.5),
// run while at least kFastInputMargin input bytes and kFastOutputMargin bytes of
// room remain. With those bounds proven once per iteration it refills the bit
// buffer without branches and copies matches a word at a time; the careful path
// (inflate_careful.cpp) does the rest, and is what this loop is tested against.
//
// One source compiled four ways: for baseline x86-64 or for BMI2 (chosen from
// cpuid), each with or without the per-match check that a distance stays inside
// the entry (needed only until a whole window has been written).
#include "unzip/inflater.h"

namespace kalv::unzip::deflate {
namespace {

constexpr uint64_t kLitLenMask = (uint64_t{1} << kLitLenBits) - 1;
constexpr uint64_t kDistanceMask = (uint64_t{1} << kDistanceBits) - 1;

// Bits that one fast iteration may take after a refill leaves at least 56 held:
// a length code with its extra bits, then a distance code with its extra bits; or
// up to four literals found in the first level (a literal from a sub-table, up to
// 15 bits, goes alone).
static_assert(15 + 5 + 15 + 13 <= 56, "one refill must cover a whole match");
static_assert(4 * kLitLenBits <= 56, "one refill must cover four first-level literals");

// Once a whole window lies before the output position, no distance can reach
// before the entry's start, and the loop runs without that check per match (the
// version with it runs for the entry's first 32 KiB only).
static_assert(kDistanceBase[29] + (1u << kDistanceExtra[29]) - 1 == kWindowSize, "the farthest distance is the window");

// A match at a distance d of 1..7 repeats a pattern of d bytes. Multiplied by
// kRepeat[d] (a 1 in every d-th byte), the pattern fills a word; stored every
// kRepeatStep[d] bytes (the whole periods a word holds), the same word continues
// it. Tables, because a division in the match copy costs more than the copy.
constexpr uint64_t kRepeat[8] = {0, 0x0101010101010101, 0x0001000100010001, 0x0001000001000001,
                                 0x0000000100000001, 0x0000010000000001, 0x0001000000000001, 0x0100000000000001};
constexpr uint8_t kRepeatStep[8] = {0, 8, 8, 6, 8, 5, 6, 7};
static_assert([] {
    for (unsigned d = 1; d < 8; ++d) {
        for (unsigned byte = 0; byte < 8; ++byte)
            if (((kRepeat[d] >> (8 * byte)) & 0xFF) != (byte % d == 0 ? 1u : 0u)) return false;
        if (kRepeatStep[d] != 8 / d * d) return false;
    }
    return true;
}());

// The extra bits of a length or distance entry, from the bit buffer as it was
// before the entry was consumed: the low `consumed` bits without the code's own
// `length` low ones. Both counts are read as whole bytes of the entry (bits 0-7,
// 8-15): for these entries the flags that share those bytes are clear, and a
// byte-wide count lets BZHI and SHRX take it from the entry as it is.
//
// The BMI2 build clears the high bits with one BZHI, written as assembly because
// the compiler spells the mask out as a shifted all-ones word and a NOT and AND.
template <bool kBmi2>
KALV_ALWAYS_INLINE uint32_t extra_bits(uint64_t saved, uint32_t entry) {
    static_assert(huffman::kConsumedMask == 0x3F && (huffman::kEndOfBlock | huffman::kInvalid) == 0xC0,
                  "byte 0 of a length or distance entry is its consumed count alone");
    static_assert((huffman::kSubtable | huffman::kLiteral) == 0xC000, "byte 1 is its code length alone (bit 13 is never set)");
    uint64_t low;
#if KALV_INFLATE_BMI2
    if constexpr (kBmi2) {
        // BZHI takes the bit index from the low byte of its index operand, so the
        // entry's register is named at 64 bits (%q) whatever its upper half holds.
        __asm__("bzhi %q2, %1, %0" : "=r"(low) : "r"(saved), "r"(entry));
    } else
#endif
    {
        low = saved & low_bits(static_cast<uint8_t>(entry));
    }
    return static_cast<uint32_t>(low >> static_cast<uint8_t>(entry >> 8));
}

// The loop's own copies of the bit buffer and the input and output positions, in
// registers for the whole loop (the decoder's fields are written back at its end).
//
// Only the low 6 bits of bit_count are kept meaningful here: an entry is
// subtracted whole (its consumed count is its low 6 bits and the rest only carries
// into bits of bit_count that nobody reads), which saves a mask per symbol; the
// shift by the entry compiles to a bare shift for the same reason.
struct FastCursor {
    uint64_t bits;
    unsigned bit_count;
    const uint8_t* in;
    uint8_t* out;

    // Branchless refill: load a word, keep what fits, advance by whole bytes. The
    // bits loaded past the new count are the input's true next bits.
    KALV_ALWAYS_INLINE void refill() {
        bits |= load_le64(in) << (bit_count & 63);
        in += 7 - ((bit_count >> 3) & 7);
        bit_count |= 56;
    }
    // The bounds are proven before every refill, the first one included.
    KALV_ALWAYS_INLINE bool next_iteration(const uint8_t* in_limit, const uint8_t* out_limit) {
        if (in > in_limit || out > out_limit) return false;
        refill();
        return true;
    }
    KALV_ALWAYS_INLINE void consume(uint32_t entry) {
        bits >>= (entry & 63);
        bit_count -= entry;
    }
    KALV_ALWAYS_INLINE void put_literal(uint32_t entry) {
        consume(entry);
        *out++ = static_cast<uint8_t>(huffman::entry_value(entry));
    }
    // A length or distance: its base plus the extra bits that follow the code.
    template <bool kBmi2>
    KALV_ALWAYS_INLINE size_t take_value(uint32_t entry) {
        const uint64_t saved = bits;
        consume(entry);
        return huffman::entry_value(entry) + extra_bits<kBmi2>(saved, entry);
    }
    // A code longer than the first level: one more lookup, at most 15 bits in all.
    KALV_ALWAYS_INLINE uint32_t sub_entry(const uint32_t* table, uint32_t pointer) {
        consume(pointer);
        return table[huffman::entry_value(pointer) + (bits & low_bits(huffman::entry_length(pointer)))];
    }
};

// Literals come in runs: up to four per refill, each found in the first level.
// Returns the entry that follows the run.
KALV_ALWAYS_INLINE uint32_t literal_run(FastCursor& c, const uint32_t* litlen, uint32_t entry) {
    c.put_literal(entry);
    entry = litlen[c.bits & kLitLenMask];
    if (entry & huffman::kLiteral) {
        c.put_literal(entry);
        entry = litlen[c.bits & kLitLenMask];
        if (entry & huffman::kLiteral) {
            c.put_literal(entry);
            entry = litlen[c.bits & kLitLenMask];
            if (entry & huffman::kLiteral) {
                c.put_literal(entry);
                entry = litlen[c.bits & kLitLenMask];
            }
        }
    }
    return entry;
}

// Word-at-a-time copy of a match, overrunning its end by up to 7 bytes (inside the
// margin; later output overwrites them). Returns the match's end.
KALV_ALWAYS_INLINE uint8_t* copy_match(uint8_t* out, size_t distance, size_t length) {
    uint8_t* dst = out;
    const uint8_t* src = out - distance;
    uint8_t* const end = out + length;
    if (distance >= 8) {
        // With the source 8 or more bytes behind, each loaded word is already final.
        // Five words whatever the length: most matches are shorter than 40 bytes,
        // so the loop below rarely runs and its branch rarely mispredicts.
        store64(dst, load_le64(src));
        store64(dst + 8, load_le64(src + 8));
        store64(dst + 16, load_le64(src + 16));
        store64(dst + 24, load_le64(src + 24));
        store64(dst + 32, load_le64(src + 32));
        dst += 40;
        src += 40;
        while (dst < end) {
            store64(dst, load_le64(src));
            dst += 8;
            src += 8;
        }
    } else {
        // A short period (RFC 1951 3.2.3: the copy may overlap what it writes): its
        // d bytes, which lie wholly before the match, are read once and spread over
        // a word (kRepeat); the word is stored every whole number of periods.
        // Nothing is read back from the match being written, so no load waits on a
        // store just made, and no byte goes alone.
        const uint64_t pattern = (load_le64(src) & low_bits(static_cast<unsigned>(8 * distance))) * kRepeat[distance];
        const size_t period_step = kRepeatStep[distance];
        store64(dst, pattern);
        dst += period_step;
        while (dst < end) {
            store64(dst, pattern);
            dst += period_step;
        }
    }
    return end;
}

}  // namespace

Inflater::Step Inflater::decode_fast() {
    const bool whole_window = static_cast<size_t>(out_next_ - buffer_) >= kWindowSize;
#if KALV_INFLATE_BMI2
    if (bmi2_) return decode_fast_bmi2();
#endif
    return whole_window ? fast_loop<false, true>() : fast_loop<false, false>();
}

// The same source, compiled for BMI2: the variable shifts become SHRX/SHLX and
// low_bits() masks become BZHI, one instruction each and no CL register.
Inflater::Step Inflater::decode_fast_bmi2() {
    const bool whole_window = static_cast<size_t>(out_next_ - buffer_) >= kWindowSize;
    return whole_window ? fast_loop<true, true>() : fast_loop<true, false>();
}

// The bulk of a block. Each iteration first proves its bounds: 8 readable input
// bytes (one word load) and kFastOutputMargin bytes of room. Then one refill leaves
// at least 56 bits, enough for a whole match or four literals without another.
//
// The next literal/length entry is looked up ahead, at the end of the previous
// iteration, so its load overlaps the match copy. That is sound although fewer than
// 9 counted bits may be left then: a refill makes all 64 bits of the buffer true
// input bits, and an iteration drops at most 48 of them (a match; four literals
// take 44), so the low 16 bits are always real input.
template <bool kBmi2, bool kWholeWindow>
Inflater::Step Inflater::fast_loop() {
    FastCursor c{bits_, bit_count_, in_next_, out_next_};
    // Bounds as limits, so that each iteration's check is two compares. The caller
    // runs this loop only with at least kFastInputMargin bytes in the block.
    const uint8_t* const in_limit = in_end_ - kFastInputMargin;
    const uint8_t* const out_limit = buffer_end_ - kFastOutputMargin;
    const uint8_t* const out_start = buffer_;
    const CodeTables* const codes = codes_;
    Step step = Step::More;

    if (!c.next_iteration(in_limit, out_limit)) return Step::More;
    uint32_t entry = codes->litlen[c.bits & kLitLenMask];
    do {
        if (entry & huffman::kLiteral) {
            entry = literal_run(c, codes->litlen, entry);
            continue;
        }
        // Tested once for the rare kinds, so a length costs one test beyond the
        // literal's. The rare kinds are marked unlikely, so the compiler lays the
        // literal and match paths out straight and the rare ones aside.
        if (entry & huffman::kExceptional) [[unlikely]] {
            if (entry & huffman::kSubtable) {
                entry = c.sub_entry(codes->litlen, entry);
                if (entry & huffman::kLiteral) {  // a long literal goes alone; a length keeps the match budget
                    c.put_literal(entry);
                    entry = codes->litlen[c.bits & kLitLenMask];
                    continue;
                }
            }
            if (entry & (huffman::kEndOfBlock | huffman::kInvalid)) {
                if (entry & huffman::kEndOfBlock) {
                    c.consume(entry);
                    step = Step::EndOfBlock;
                } else {
                    step = Step::BadData;
                }
                break;
            }
        }
        const size_t length = c.take_value<kBmi2>(entry);

        entry = codes->distance[c.bits & kDistanceMask];
        if (entry & huffman::kExceptional) [[unlikely]] {
            if (entry & huffman::kSubtable) entry = c.sub_entry(codes->distance, entry);
            if (entry & huffman::kInvalid) {
                step = Step::BadData;
                break;
            }
        }
        const size_t distance = c.take_value<kBmi2>(entry);
        if (!kWholeWindow && distance > static_cast<size_t>(c.out - out_start)) [[unlikely]] {  // before the entry's start
            step = Step::BadData;
            break;
        }
        entry = codes->litlen[c.bits & kLitLenMask];
        c.out = copy_match(c.out, distance, length);
    } while (c.next_iteration(in_limit, out_limit));

    bits_ = c.bits;
    bit_count_ = c.bit_count & 63;
    in_next_ = c.in;
    out_next_ = c.out;
    return step;
}

}  // namespace kalv::unzip::deflate
