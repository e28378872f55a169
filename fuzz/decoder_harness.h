// Drives one decoder through the decoder seam with in-memory input and output.
//
// A fuzz input is an 8-byte job header followed by the compressed stream:
//
//   offset 0  input block size: 255 = 16000 (the driver's block), else 1 + 62*k,
//             so tiny blocks put every code across a block boundary
//   offset 1  general purpose bit flag, low byte (implode: bit 1 = 8K dictionary,
//             bit 2 = literal tree)
//   offset 2  uncompressed size, 24 bits little-endian, capped at kMaxOutput (256 KiB)
//   offset 5  reduce factor selector (factor = 1 + value % 4)
//   offset 6  byte the window is filled with (the driver never clears it)
//   offset 7  reserved
//
// The sink behaves as the driver's: it refuses to go past the uncompressed size,
// which ends decoding normally (OutputFull). Any exception, any sanitizer report
// and any hang is a finding.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "unzip/decoder_io.h"

namespace kalv::fuzz {

constexpr size_t kJobHeaderSize = 8;
constexpr int64_t kMaxOutput = 1 << 18;  // keeps each run in the millisecond range
constexpr size_t kWindowBytes = 32780;   // what the driver allocates per UnZip

struct JobHeader {
    size_t block_size = 16000;
    uint16_t bit_flag = 0;
    int64_t uncompressed_size = 0;
    int reduce_factor = 1;
    uint8_t window_fill = 0;
};

inline std::optional<JobHeader> parse_job_header(const uint8_t* data, size_t size) {
    if (size < kJobHeaderSize) return std::nullopt;
    JobHeader h;
    h.block_size = data[0] == 255 ? 16000 : 1 + 62 * size_t{data[0]};
    h.bit_flag = data[1];
    h.uncompressed_size =
        std::min<int64_t>(kMaxOutput, data[2] | (int64_t{data[3]} << 8) | (int64_t{data[4]} << 16));
    h.reduce_factor = 1 + data[5] % 4;
    h.window_fill = data[6];
    return h;
}

// Hands out the stream in blocks of a fixed size, as the driver's 16000-byte reads
// do, then empty spans. Each block is a fresh heap copy so that ASan sees a read
// past its end.
class MemoryInput : public unzip::InputSource {
public:
    MemoryInput(std::span<const uint8_t> stream, size_t block_size)
        : stream_(stream), block_size_(block_size) {}

    std::span<const uint8_t> next_block() override {
        const std::span<const uint8_t> block =
            stream_.subspan(position_, std::min(block_size_, stream_.size() - position_));
        block_.assign(block.begin(), block.end());
        position_ += block.size();
        return {block_.data(), block_.size()};
    }

private:
    std::span<const uint8_t> stream_;
    size_t block_size_;
    size_t position_ = 0;
    std::vector<uint8_t> block_;
};

class MemoryOutput : public unzip::OutputSink {
public:
    explicit MemoryOutput(int64_t uncompressed_size) : limit_(uncompressed_size) {}

    bool write(const uint8_t* data, size_t n) override {
        if (full_ || static_cast<int64_t>(bytes_.size() + n) > limit_) {
            full_ = true;
            return false;
        }
        bytes_.insert(bytes_.end(), data, data + n);
        return true;
    }

    const std::vector<uint8_t>& bytes() const { return bytes_; }

private:
    int64_t limit_;
    std::vector<uint8_t> bytes_;
    bool full_ = false;
};

struct DecodeOutcome {
    unzip::DecodeStatus status = unzip::DecodeStatus::Done;
    bool stopped_at_size = false;  // the sink refused a write (OutputFull)
    std::vector<uint8_t> output;
};

template <typename Decoder>
DecodeOutcome run_decoder(const JobHeader& h, std::span<const uint8_t> stream, Decoder&& decode) {
    MemoryInput input(stream, h.block_size);
    MemoryOutput output(h.uncompressed_size);
    std::vector<uint8_t> window(kWindowBytes, h.window_fill);
    unzip::DecodeJob job{input,
                         output,
                         std::span<uint8_t>(window),
                         h.bit_flag,
                         static_cast<int64_t>(stream.size()),
                         h.uncompressed_size};
    DecodeOutcome outcome;
    outcome.status = decode(job);
    outcome.stopped_at_size = outcome.status == unzip::DecodeStatus::OutputFull;
    outcome.output = output.bytes();
    return outcome;
}

}  // namespace kalv::fuzz
