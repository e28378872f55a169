// Deflate decoder (RFC 1951), raw, for ZIP method 8. Its tables (the alphabets,
// the lookup widths, the fixed code and the building of a block's tables) are in
// inflate_tables.cpp; this file is the decoder itself, one class whose careful
// path and fast loop share the bit buffer and the window and are read side by
// side, which is why it stays one file of some 700 lines.
//
// Map:
//
//   inflate ─► Inflater::run ─┬─ stored_block
//                             ├─ fixed_block ──┐
//                             └─ dynamic_block ┴─► decode_codes ─┬─ decode_fast     (bulk) ─► fast_loop
//                                                                └─ decode_careful  (near the ends)
//
// fast_loop is one source compiled four ways: for baseline x86-64 or for BMI2
// (chosen from cpuid), each with or without the per-match check that a distance
// stays inside the entry (needed only until a whole window has been written).
//
// Input arrives in the driver's blocks (at most 16000 bytes) and is read in place.
// Output is decoded into one linear buffer: 32 KiB of history followed by room for
// new bytes. When the room runs low the new bytes go to the sink and the last
// 32 KiB slide to the front, so a match never wraps and the hot loop never tests
// for a window edge.
//
// Two paths decode a block's codes. The fast loop runs while at least 8 input bytes
// and kFastOutputMargin bytes of room remain: with that proven once per iteration it
// refills the bit buffer without branches and copies matches a word at a time. The
// careful path decodes one symbol, pulling input a byte at a time and fetching the
// next input block when one runs out; it finishes what the fast loop leaves near the
// ends of the buffers, and alone it is the reference the fast loop is tested against.
#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <new>

#include "core/cpu_features.h"
#include "unzip/decoder_io.h"
#include "unzip/huffman.h"
#include "unzip/inflate_internal.h"
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
#define KALV_ALWAYS_LAMBDA __attribute__((always_inline))

namespace kalv::unzip {
namespace {

using huffman::Table;
using namespace deflate;  // the alphabets, widths and table room (inflate_tables.h)

static_assert(std::endian::native == std::endian::little, "the bit buffer loads input words little-endian");

constexpr size_t kWindowSize = 32768;  // RFC 1951 3.2.5: distances reach back at most 32768 bytes
constexpr size_t kMaxMatch = 258;

constexpr uint64_t kLitLenMask = (uint64_t{1} << kLitLenBits) - 1;
constexpr uint64_t kDistanceMask = (uint64_t{1} << kDistanceBits) - 1;

// Bits that one fast iteration may take after a refill leaves at least 56 held:
// a length code with its extra bits, then a distance code with its extra bits; or
// up to four literals found in the first level (a literal from a sub-table, up to
// 15 bits, goes alone).
static_assert(15 + 5 + 15 + 13 <= 56, "one refill must cover a whole match");
static_assert(4 * kLitLenBits <= 56, "one refill must cover four first-level literals");

// Room the fast loop needs per iteration: a match copied in 8-byte words, at least
// five of them (so up to 37 bytes past a short match's end, 7 past a 258-byte
// one's), or four literals.
constexpr size_t kFastOutputMargin = kMaxMatch + 3 * 8;
static_assert(kFastOutputMargin >= 5 * 8 && kFastOutputMargin >= kMaxMatch + 7, "a match's copy stays in the margin");
constexpr size_t kFastInputMargin = 8;  // one unaligned 64-bit load per iteration

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

// Room after the history: enough for the entry (its stored size is only a hint:
// a longer stream still decodes, with more slides), at most 256 KiB so the
// working set stays in the second-level cache.
constexpr size_t kMinRoom = 4 * kFastOutputMargin;
constexpr size_t kMaxRoom = 256 * 1024;

constexpr uint64_t low_bits(unsigned n) { return (uint64_t{1} << n) - 1; }

inline uint64_t load_le64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void store64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, sizeof v); }

// The extra bits of a length or distance entry, from the bit buffer as it was
// before the entry was consumed: the low `consumed` bits without the code's own
// `length` low ones. Both counts are read as whole bytes of the entry (bits 0-7,
// 8-15): for these entries the flags that share those bytes are clear, and a
// byte-wide count lets BZHI and SHRX take it from the entry as it is.
//
// The BMI2 build clears the high bits with one BZHI, written as assembly because
// the compiler spells the mask out as a shifted all-ones word and a NOT and AND.
template <bool kBmi2>
inline uint32_t extra_bits(uint64_t saved, uint32_t entry) {
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

    DecodeStatus blocks();
    DecodeStatus stored_block();
    DecodeStatus fixed_block();
    DecodeStatus dynamic_block();
    DecodeStatus decode_codes();
    Step decode_careful();
    Step decode_fast();
    KALV_TARGET_BMI2 Step decode_fast_bmi2();
    template <bool kBmi2, bool kWholeWindow>
    KALV_ALWAYS_INLINE Step fast_loop();

    bool fetch_input();
    bool pull_byte();
    bool need(unsigned n);
    void top_up();
    uint32_t take(unsigned n);
    void drop(unsigned n);
    Fetch decode_entry(const Table& table, uint32_t* entry);

    void write_pending();
    void make_room();

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

    Table litlen_;
    Table distance_;
    const CodeTables* codes_ = nullptr;  // the fixed tables or dynamic_, as the block is
    CodeTables dynamic_;
    uint32_t code_length_space_[kCodeLengthSpace];
};

// --- input ---------------------------------------------------------------------

bool Inflater::fetch_input() {
    while (in_next_ == in_end_) {
        if (input_ended_ || output_full_) return false;
        const std::span<const uint8_t> block = input_.next_block();
        if (block.empty()) {
            input_ended_ = true;
            return false;
        }
        in_next_ = block.data();
        in_end_ = block.data() + block.size();
    }
    return true;
}

bool Inflater::pull_byte() {
    if (in_next_ == in_end_ && !fetch_input()) return false;
    bits_ |= uint64_t{*in_next_++} << bit_count_;
    bit_count_ += 8;
    return true;
}

// Makes n bits available; false when the compressed bytes end first. Past the end
// nothing is invented: the entry ends with EndOfInput.
bool Inflater::need(unsigned n) {
    while (bit_count_ < n)
        if (!pull_byte()) return false;
    return true;
}

// Refills the bit buffer a word at a time while the input block holds 8 more
// bytes, as the fast loop does, so the code lengths of a dynamic header (a few
// hundred short codes per block) are not pulled byte by byte.
void Inflater::top_up() {
    if (in_end_ - in_next_ < 8) return;
    bits_ |= load_le64(in_next_) << bit_count_;
    in_next_ += (63 - bit_count_) >> 3;
    bit_count_ |= 56;
}

uint32_t Inflater::take(unsigned n) {
    const uint32_t value = static_cast<uint32_t>(bits_ & low_bits(n));
    drop(n);
    return value;
}

void Inflater::drop(unsigned n) {
    bits_ >>= n;
    bit_count_ -= n;
}

// Looks a code up with only the bits it needs: an entry is trusted once the bits
// that select it are really held (the bits above bit_count_ may be zeros), and its
// extra bits are pulled before returning.
Inflater::Fetch Inflater::decode_entry(const Table& table, uint32_t* entry) {
    uint32_t found;
    for (;;) {
        found = table.entries[bits_ & low_bits(table.root_bits)];
        const unsigned selecting = (found & huffman::kSubtable) ? huffman::entry_consumed(found) : huffman::entry_length(found);
        if (selecting <= bit_count_) break;
        if (!pull_byte()) return Fetch::EndOfInput;
    }
    if (found & huffman::kSubtable) {
        const unsigned root = huffman::entry_consumed(found);
        const unsigned sub_bits = huffman::entry_length(found);
        uint32_t sub;
        for (;;) {
            sub = table.entries[huffman::entry_value(found) + ((bits_ >> root) & low_bits(sub_bits))];
            if (root + huffman::entry_length(sub) <= bit_count_) break;
            if (!pull_byte()) return Fetch::EndOfInput;
        }
        drop(root);
        found = sub;
    }
    if (!need(huffman::entry_consumed(found))) return Fetch::EndOfInput;
    *entry = found;
    return Fetch::Ok;
}

// --- output --------------------------------------------------------------------

void Inflater::write_pending() {
    if (out_next_ != unwritten_) output_full_ |= !output_.write(unwritten_, static_cast<size_t>(out_next_ - unwritten_));
    unwritten_ = out_next_;
}

// Writes the new bytes out and slides the last 32 KiB to the front. The buffer is
// at least kWindowSize + kMinRoom long, so afterwards there is room for kMinRoom.
void Inflater::make_room() {
    write_pending();
    if (static_cast<size_t>(out_next_ - buffer_) > kWindowSize) {
        std::memmove(buffer_, out_next_ - kWindowSize, kWindowSize);
        out_next_ = buffer_ + kWindowSize;
        unwritten_ = out_next_;
    }
}

// --- blocks --------------------------------------------------------------------

// A refused write ends decoding as OutputFull, whatever the blocks found after it.
DecodeStatus Inflater::run() {
    const DecodeStatus status = blocks();
    return output_full_ ? DecodeStatus::OutputFull : status;
}

DecodeStatus Inflater::blocks() {
    for (;;) {
        if (!need(3)) return DecodeStatus::EndOfInput;
        const bool last = take(1) != 0;
        DecodeStatus status;
        switch (take(2)) {
            case 0: status = stored_block(); break;
            case 1: status = fixed_block(); break;
            case 2: status = dynamic_block(); break;
            default: status = DecodeStatus::BadData; break;  // block type 3 is reserved
        }
        if (status != DecodeStatus::Done) return status;
        if (last) break;
    }
    write_pending();
    return DecodeStatus::Done;
}

// RFC 1951 3.2.4: byte-aligned LEN, its one's complement NLEN, then LEN raw bytes.
DecodeStatus Inflater::stored_block() {
    drop(bit_count_ % 8);
    if (!need(32)) return DecodeStatus::EndOfInput;
    size_t length = take(16);
    const uint32_t complement = take(16);
    if (length != (~complement & 0xFFFF)) return DecodeStatus::BadData;

    // Whole bytes the bit buffer already holds come first.
    while (length > 0 && bit_count_ >= 8) {
        if (buffer_end_ == out_next_) make_room();
        *out_next_++ = static_cast<uint8_t>(take(8));
        --length;
    }
    if (length == 0) return DecodeStatus::Done;
    bits_ = 0;  // empty now; drop the look-ahead copy of bytes about to be copied past
    while (length > 0) {
        if (static_cast<size_t>(buffer_end_ - out_next_) < kFastOutputMargin) make_room();
        if (in_next_ == in_end_ && !fetch_input()) return DecodeStatus::EndOfInput;
        const size_t n = std::min({length, static_cast<size_t>(in_end_ - in_next_), static_cast<size_t>(buffer_end_ - out_next_)});
        std::memcpy(out_next_, in_next_, n);
        out_next_ += n;
        in_next_ += n;
        length -= n;
    }
    return DecodeStatus::Done;
}

DecodeStatus Inflater::fixed_block() {
    const FixedTables& fixed = fixed_tables();
    litlen_ = fixed.litlen;
    distance_ = fixed.distance;
    codes_ = &fixed.space;
    return decode_codes();
}

// RFC 1951 3.2.7: the code lengths of the literal/length and distance codes, sent
// with a code of their own.
DecodeStatus Inflater::dynamic_block() {
    if (!need(14)) return DecodeStatus::EndOfInput;
    const unsigned litlen_count = take(5) + 257;
    const unsigned distance_count = take(5) + 1;
    const unsigned code_length_count = take(4) + 4;
    if (litlen_count > kMaxLitLenCodes || distance_count > kMaxDistanceCodes) return DecodeStatus::BadData;

    uint8_t code_length_lengths[kCodeLengthSymbols] = {};
    for (unsigned i = 0; i < code_length_count; ++i) {
        if (!need(3)) return DecodeStatus::EndOfInput;
        code_length_lengths[kCodeLengthOrder[i]] = static_cast<uint8_t>(take(3));
    }
    Table code_length;
    DecodeStatus status = build_code_length_table(code_length_lengths, code_length_space_, &code_length);
    if (status != DecodeStatus::Done) return status;

    // Format notes: a repeat may run on from the literal/length lengths into the
    // distance lengths (they form one sequence), but not past its end; "previous
    // length" is 0 at the start and after a run of zeros.
    uint8_t lengths[kMaxLitLenCodes + kMaxDistanceCodes];
    const unsigned total = litlen_count + distance_count;
    unsigned filled = 0;
    uint8_t previous = 0;
    while (filled < total) {
        top_up();
        uint32_t entry;
        // With the bits for the longest code and the longest repeat count held (the
        // usual case after a top-up), one probe; near the input's end, the careful way.
        if (bit_count_ >= kCodeLengthBits + 7) entry = code_length.entries[bits_ & low_bits(kCodeLengthBits)];
        else if (decode_entry(code_length, &entry) != Fetch::Ok) return DecodeStatus::EndOfInput;
        if (entry & huffman::kInvalid) return DecodeStatus::BadData;  // the unused half of a lone one-bit code
        drop(huffman::entry_consumed(entry));
        const unsigned symbol = huffman::entry_value(entry);
        if (symbol < 16) {
            previous = static_cast<uint8_t>(symbol);
            lengths[filled++] = previous;
            continue;
        }
        unsigned repeat;
        uint8_t value = 0;
        if (symbol == 16) {
            if (!need(2)) return DecodeStatus::EndOfInput;
            repeat = 3 + take(2);
            value = previous;
        } else if (symbol == 17) {
            if (!need(3)) return DecodeStatus::EndOfInput;
            repeat = 3 + take(3);
        } else {
            if (!need(7)) return DecodeStatus::EndOfInput;
            repeat = 11 + take(7);
        }
        if (repeat > total - filled) return DecodeStatus::BadData;
        std::fill(lengths + filled, lengths + filled + repeat, value);
        filled += repeat;
        previous = value;
    }
    // A code without end-of-block could never end its block.
    if (lengths[256] == 0) return DecodeStatus::BadData;

    status = build_block_tables(lengths, litlen_count, distance_count, dynamic_, &litlen_, &distance_);
    if (status != DecodeStatus::Done) return status;
    codes_ = &dynamic_;
    return decode_codes();
}

// --- codes ---------------------------------------------------------------------

DecodeStatus Inflater::decode_codes() {
    for (;;) {
        if (static_cast<size_t>(buffer_end_ - out_next_) < kFastOutputMargin) make_room();
        Step step = Step::More;
        if (fast_ && static_cast<size_t>(in_end_ - in_next_) >= kFastInputMargin) {
            step = decode_fast();
            // Back with Step::More: the output room runs low (made above on the next
            // turn), or fewer than 8 input bytes remain in this input block (one
            // careful step, which may fetch the next block).
            if (step == Step::More && static_cast<size_t>(buffer_end_ - out_next_) < kFastOutputMargin) continue;
        }
        if (step == Step::More) step = decode_careful();
        switch (step) {
            case Step::More: break;
            case Step::EndOfBlock: return DecodeStatus::Done;
            case Step::BadData: return DecodeStatus::BadData;
            case Step::EndOfInput: return DecodeStatus::EndOfInput;
        }
    }
}

// One symbol, the careful way; the caller has made room for a whole match.
Inflater::Step Inflater::decode_careful() {
    uint32_t entry;
    if (decode_entry(litlen_, &entry) != Fetch::Ok) return Step::EndOfInput;
    if (entry & huffman::kInvalid) return Step::BadData;
    const uint64_t saved = bits_;
    const unsigned consumed = huffman::entry_consumed(entry);
    drop(consumed);
    if (entry & huffman::kLiteral) {
        *out_next_++ = static_cast<uint8_t>(huffman::entry_value(entry));
        return Step::More;
    }
    if (entry & huffman::kEndOfBlock) return Step::EndOfBlock;
    const size_t length = huffman::entry_value(entry) + ((saved & low_bits(consumed)) >> huffman::entry_length(entry));

    if (decode_entry(distance_, &entry) != Fetch::Ok) return Step::EndOfInput;
    if (entry & huffman::kInvalid) return Step::BadData;
    const uint64_t distance_bits = bits_;
    const unsigned distance_consumed = huffman::entry_consumed(entry);
    drop(distance_consumed);
    const size_t distance =
        huffman::entry_value(entry) + ((distance_bits & low_bits(distance_consumed)) >> huffman::entry_length(entry));
    if (distance > static_cast<size_t>(out_next_ - buffer_)) return Step::BadData;  // before the entry's start

    // Byte by byte, so that an overlapping match repeats its pattern (RFC 1951 3.2.3).
    const uint8_t* from = out_next_ - distance;
    for (size_t i = 0; i < length; ++i) out_next_[i] = from[i];
    out_next_ += length;
    return Step::More;
}

// Once a whole window lies before out_next_, no distance can reach before the
// entry's start, and the loop runs without that check per match (the version
// with it runs for the entry's first 32 KiB only).
static_assert(kDistanceBase[29] + (1u << kDistanceExtra[29]) - 1 == kWindowSize, "the farthest distance is the window");

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
    uint64_t bits = bits_;
    unsigned bit_count = bit_count_;
    const uint8_t* in = in_next_;
    uint8_t* out = out_next_;
    // Bounds as limits, so that each iteration's check is two compares. The caller
    // runs this loop only with at least kFastInputMargin bytes in the block.
    const uint8_t* const in_limit = in_end_ - kFastInputMargin;
    uint8_t* const out_limit = buffer_end_ - kFastOutputMargin;
    const uint8_t* const out_start = buffer_;
    const CodeTables* const codes = codes_;
    Step step = Step::More;

    // Branchless refill: load a word, keep what fits, advance by whole bytes. The
    // bits loaded past the new count are the input's true next bits.
    //
    // Only the low 6 bits of bit_count are kept meaningful here: an entry is
    // subtracted whole (its consumed count is its low 6 bits and the rest only
    // carries into bits of bit_count that nobody reads), which saves a mask per
    // symbol; the shift by the entry compiles to a bare shift for the same reason.
    auto refill = [&]() KALV_ALWAYS_LAMBDA {
        bits |= load_le64(in) << (bit_count & 63);
        in += 7 - ((bit_count >> 3) & 7);
        bit_count |= 56;
    };
    auto consume = [&](uint32_t entry) KALV_ALWAYS_LAMBDA {
        bits >>= (entry & 63);
        bit_count -= entry;
    };
    // The bounds are proven before every refill, the first one included.
    auto next_iteration = [&]() KALV_ALWAYS_LAMBDA {
        if (in > in_limit || out > out_limit) return false;
        refill();
        return true;
    };

    if (!next_iteration()) return Step::More;
    uint32_t entry = codes->litlen[bits & kLitLenMask];
    do {
        if (entry & huffman::kLiteral) {
            // Literals come in runs: up to four per refill.
            consume(entry);
            *out++ = static_cast<uint8_t>(huffman::entry_value(entry));
            entry = codes->litlen[bits & kLitLenMask];
            if (entry & huffman::kLiteral) {
                consume(entry);
                *out++ = static_cast<uint8_t>(huffman::entry_value(entry));
                entry = codes->litlen[bits & kLitLenMask];
                if (entry & huffman::kLiteral) {
                    consume(entry);
                    *out++ = static_cast<uint8_t>(huffman::entry_value(entry));
                    entry = codes->litlen[bits & kLitLenMask];
                    if (entry & huffman::kLiteral) {
                        consume(entry);
                        *out++ = static_cast<uint8_t>(huffman::entry_value(entry));
                        entry = codes->litlen[bits & kLitLenMask];
                    }
                }
            }
            continue;
        }
        // Tested once for the rare kinds, so a length costs one test beyond the
        // literal's.
        // The rare kinds are marked unlikely, so the compiler lays the literal and
        // match paths out straight and the rare ones aside.
        if (entry & huffman::kExceptional) [[unlikely]] {
            // A code longer than the first level: one more lookup, at most 15 bits in
            // all (a literal found there goes alone; a length keeps the match budget).
            if (entry & huffman::kSubtable) {
                consume(entry);
                entry = codes->litlen[huffman::entry_value(entry) + (bits & low_bits(huffman::entry_length(entry)))];
                if (entry & huffman::kLiteral) {
                    consume(entry);
                    *out++ = static_cast<uint8_t>(huffman::entry_value(entry));
                    entry = codes->litlen[bits & kLitLenMask];
                    continue;
                }
            }
            if (entry & (huffman::kEndOfBlock | huffman::kInvalid)) {
                if (entry & huffman::kEndOfBlock) {
                    consume(entry);
                    step = Step::EndOfBlock;
                } else {
                    step = Step::BadData;
                }
                break;
            }
        }

        // A length: its base plus the extra bits that follow the code.
        uint64_t saved = bits;
        consume(entry);
        const size_t length = huffman::entry_value(entry) + extra_bits<kBmi2>(saved, entry);

        entry = codes->distance[bits & kDistanceMask];
        if (entry & huffman::kExceptional) [[unlikely]] {
            if (entry & huffman::kSubtable) {
                consume(entry);
                entry = codes->distance[huffman::entry_value(entry) + (bits & low_bits(huffman::entry_length(entry)))];
            }
            if (entry & huffman::kInvalid) {
                step = Step::BadData;
                break;
            }
        }
        saved = bits;
        consume(entry);
        const size_t distance = huffman::entry_value(entry) + extra_bits<kBmi2>(saved, entry);
        if (!kWholeWindow && distance > static_cast<size_t>(out - out_start)) [[unlikely]] {  // before the entry's start
            step = Step::BadData;
            break;
        }
        entry = codes->litlen[bits & kLitLenMask];

        // Word-at-a-time copy, overrunning the match end by up to 7 bytes (inside the
        // margin; later output overwrites them). With the source 8 or more bytes
        // behind, each loaded word is already final.
        uint8_t* dst = out;
        const uint8_t* src = out - distance;
        uint8_t* const end = out + length;
        if (distance >= 8) {
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
            // A short period (RFC 1951 3.2.3: the copy may overlap what it writes):
            // its d bytes, which lie wholly before the match, are read once and
            // spread over a word (kRepeat); the word is stored every whole number of
            // periods. Nothing is read back from the match being written, so no load
            // waits on a store just made, and no byte goes alone.
            const uint64_t pattern =
                (load_le64(src) & low_bits(static_cast<unsigned>(8 * distance))) * kRepeat[distance];
            const size_t period_step = kRepeatStep[distance];
            store64(dst, pattern);
            dst += period_step;
            while (dst < end) {
                store64(dst, pattern);
                dst += period_step;
            }
        }
        out = end;
    } while (next_iteration());

    bits_ = bits;
    bit_count_ = bit_count & 63;
    in_next_ = in;
    out_next_ = out;
    return step;
}

// Room after the history: the entry's stored size plus a margin, within limits.
size_t working_size(int64_t uncompressed_size) {
    const uint64_t wanted = uncompressed_size > 0 ? static_cast<uint64_t>(uncompressed_size) + kFastOutputMargin : 0;
    return kWindowSize + static_cast<size_t>(std::clamp<uint64_t>(wanted, kMinRoom, kMaxRoom));
}

}  // namespace

DecodeStatus inflate_with(const DecodeJob& job, const InflateOptions& options) {
    const bool bmi2 = KALV_INFLATE_BMI2 && options.loop == FastLoop::Best && cpu_features().bmi2;
    const size_t size = working_size(job.uncompressed_size);
    std::unique_ptr<uint8_t[]> buffer;
    std::unique_ptr<Inflater> inflater;
    if (size + sizeof(Inflater) <= options.memory_limit) {
        buffer.reset(new (std::nothrow) uint8_t[size]);
        if (buffer) inflater.reset(new (std::nothrow) Inflater(job, buffer.get(), size, options.fast, bmi2));
    }
    return inflater ? inflater->run() : DecodeStatus::OutOfMemory;
}

DecodeStatus inflate(const DecodeJob& job) { return inflate_with(job, InflateOptions{}); }

}  // namespace kalv::unzip
