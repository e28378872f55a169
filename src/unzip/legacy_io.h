// Input and output helpers shared by the pre-Deflate decoders (unshrink, unreduce,
// explode): a least-significant-bit-first bit reader over the driver's input blocks,
// and the sliding window that Reduce and Implode copy their matches within.
//
// Reading past the end of the entry never touches memory outside the blocks: the
// reader pads with zero bits and remembers how many it invented, so a decoder can
// take a whole symbol first and ask afterwards whether it ran off the end
// (`overran()`), with one comparison per symbol instead of one per bit.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "unzip/decoder_io.h"

namespace kalv::unzip::legacy {

class BitReader {
public:
    explicit BitReader(InputSource& input) : input_(input) {}

    // After a refill at least 57 bits are held (real ones first, then padding), so
    // a caller may take several fields of up to 16 bits without checking between them.
    static constexpr int kRefillGuarantee = 57;

    void refill() {
        while (count_ <= 56) {
            if (next_ == end_ && !load_block()) {
                padding_ += 8;
                count_ += 8;
                continue;
            }
            buffer_ |= uint64_t{*next_++} << count_;
            count_ += 8;
        }
    }

    // The next n bits (n <= 32) without consuming them; zero bits past the end.
    uint32_t peek(int n) {
        if (count_ < n) refill();
        return static_cast<uint32_t>(buffer_ & ((uint64_t{1} << n) - 1));
    }
    // The next 32 bits as they stand; only meaningful after refill().
    uint32_t peek_held() const { return static_cast<uint32_t>(buffer_); }

    void consume(int n) {
        buffer_ >>= n;
        count_ -= n;
    }

    uint32_t take(int n) {
        uint32_t v = peek(n);
        consume(n);
        return v;
    }

    // True once a consumed bit came from beyond the entry's compressed bytes.
    bool overran() const { return count_ < padding_; }

private:
    bool load_block() {
        if (ended_) return false;
        std::span<const uint8_t> block = input_.next_block();
        if (block.empty()) {
            ended_ = true;
            return false;
        }
        next_ = block.data();
        end_ = block.data() + block.size();
        return true;
    }

    InputSource& input_;
    const uint8_t* next_ = nullptr;
    const uint8_t* end_ = nullptr;
    uint64_t buffer_ = 0;
    int count_ = 0;     // bits held in buffer_, padding included
    int padding_ = 0;   // invented zero bits at the top of buffer_ (grows once input ended)
    bool ended_ = false;
};

// The 32768-byte sliding window of Reduce and Implode, kept in the driver's window
// buffer and written out whole each time it fills, and once more at the end.
//
// The driver does not clear that buffer between entries, so a match that reaches
// before the entry's first byte must not read it: APPNOTE (Reducing, Imploding)
// says the data before the start of the output counts as zeros, and zeros are
// what such a match yields here.
//
// Once the sink refuses a write, nothing more is written. Reduce and Implode stop
// at the entry's uncompressed size anyway, so they go on decoding to there and ask
// finish() how the output ended: no test per byte in their loops.
class SlidingWindow {
public:
    static constexpr uint32_t kSize = 32768;
    static constexpr uint32_t kMask = kSize - 1;

    SlidingWindow(std::span<uint8_t> buffer, OutputSink& output) : base_(buffer.data()), output_(output) {}

    int64_t produced() const { return produced_; }

    void put(uint8_t byte) {
        base_[pos_++] = byte;
        ++produced_;
        if (pos_ == kSize) write_full();
    }

    // Appends `length` bytes copied from `distance` bytes back (1 <= distance < kSize).
    void copy_match(uint32_t distance, uint32_t length) {
        if (distance > produced_) {
            const uint32_t zeros =
                static_cast<uint32_t>(std::min<int64_t>(length, static_cast<int64_t>(distance) - produced_));
            put_zeros(zeros);
            length -= zeros;
        }
        uint32_t from = (pos_ - distance) & kMask;
        while (length > 0) {
            // Pieces end where either the source or the destination reaches the window's end.
            uint32_t piece = std::min({length, kSize - pos_, kSize - from});
            uint8_t* dst = base_ + pos_;
            const uint8_t* src = base_ + from;
            if (distance >= piece) {
                std::memcpy(dst, src, piece);
            } else {
                // Source overlaps destination: byte by byte, so a short pattern repeats.
                for (uint32_t i = 0; i < piece; ++i) dst[i] = src[i];
            }
            pos_ += piece;
            from = (from + piece) & kMask;
            produced_ += piece;
            length -= piece;
            if (pos_ == kSize) write_full();
        }
    }

    // Writes out what the window holds since its last full write. Done, or
    // OutputFull when the sink refused this write or an earlier one.
    DecodeStatus finish() {
        if (pos_ > 0) write(pos_);
        pos_ = 0;
        return refused_ ? DecodeStatus::OutputFull : DecodeStatus::Done;
    }

private:
    void put_zeros(uint32_t n) {
        while (n > 0) {
            uint32_t piece = std::min(n, kSize - pos_);
            std::memset(base_ + pos_, 0, piece);
            pos_ += piece;
            produced_ += piece;
            n -= piece;
            if (pos_ == kSize) write_full();
        }
    }

    void write_full() {
        write(kSize);
        pos_ = 0;
    }

    void write(uint32_t n) {
        if (!refused_ && !output_.write(base_, n)) refused_ = true;
    }

    uint8_t* base_;
    OutputSink& output_;
    uint32_t pos_ = 0;
    int64_t produced_ = 0;
    bool refused_ = false;  // the sink refused a write: nothing more goes to it
};

}  // namespace kalv::unzip::legacy
