// Deflate decoder (RFC 1951), raw, for ZIP method 8. Its tables (the alphabets,
// the lookup widths, the fixed code and the building of a block's tables) are in
// inflate_tables.cpp; the decoder is one class (inflater.h) in three files: this
// one, with the block structure and the output buffer, the careful path
// (inflate_careful.cpp) and the fast loop (inflate_fast.cpp).
//
// Map:
//
//   inflate ─► Inflater::run ─┬─ stored_block
//                             ├─ fixed_block ──┐
//                             └─ dynamic_block ┴─► decode_codes ─┬─ decode_fast     (bulk) ─► fast_loop
//                                                                └─ decode_careful  (near the ends)
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
#include <cstring>
#include <memory>
#include <new>

#include "core/cpu_features.h"
#include "unzip/decoder_io.h"
#include "unzip/inflate_internal.h"
#include "unzip/inflater.h"

namespace kalv::unzip {
namespace deflate {

// Room after the history: enough for the entry (its stored size is only a hint:
// a longer stream still decodes, with more slides), at most 256 KiB so the
// working set stays in the second-level cache.
constexpr size_t kMinRoom = 4 * kFastOutputMargin;
constexpr size_t kMaxRoom = 256 * 1024;

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
    huffman::Table code_length;
    DecodeStatus status = build_code_length_table(code_length_lengths, code_length_space_, &code_length);
    if (status != DecodeStatus::Done) return status;

    uint8_t lengths[kMaxLitLenCodes + kMaxDistanceCodes];
    status = read_code_lengths(code_length, lengths, litlen_count + distance_count);
    if (status != DecodeStatus::Done) return status;
    // A code without end-of-block could never end its block.
    if (lengths[256] == 0) return DecodeStatus::BadData;

    status = build_block_tables(lengths, litlen_count, distance_count, dynamic_, &litlen_, &distance_);
    if (status != DecodeStatus::Done) return status;
    codes_ = &dynamic_;
    return decode_codes();
}

// Reads the lengths of both codes, `total` in all, sent as one sequence in the
// code-length code.
//
// Format notes: a repeat may run on from the literal/length lengths into the
// distance lengths (they form one sequence), but not past its end; "previous
// length" is 0 at the start and after a run of zeros.
DecodeStatus Inflater::read_code_lengths(const huffman::Table& code_length, uint8_t* lengths, unsigned total) {
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
    return DecodeStatus::Done;
}

namespace {

// Room after the history: the entry's stored size plus a margin, within limits.
size_t working_size(int64_t uncompressed_size) {
    const uint64_t wanted = uncompressed_size > 0 ? static_cast<uint64_t>(uncompressed_size) + kFastOutputMargin : 0;
    return kWindowSize + static_cast<size_t>(std::clamp<uint64_t>(wanted, kMinRoom, kMaxRoom));
}

}  // namespace
}  // namespace deflate

DecodeStatus inflate_with(const DecodeJob& job, const InflateOptions& options) {
    using deflate::Inflater;
    const bool bmi2 = KALV_INFLATE_BMI2 && options.loop == FastLoop::Best && cpu_features().bmi2;
    const size_t size = deflate::working_size(job.uncompressed_size);
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
