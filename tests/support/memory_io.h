// In-memory ends of the decoder seam for the tests: the input handed out in blocks
// of a chosen size (the driver's are 16000 bytes, but a decoder must take any), and
// the output collected whole, optionally refusing to grow past a limit as the
// driver's writer does (and, like it, everything after the first refusal).
#pragma once

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <span>
#include <vector>

#include "unzip/decoder_io.h"
#include "unzip/inflate_internal.h"

namespace kalv::testing {

class MemoryInput : public unzip::InputSource {
public:
    MemoryInput(std::span<const uint8_t> data, size_t block_size) : data_(data), block_size_(block_size) {}
    std::span<const uint8_t> next_block() override {
        ++calls_;
        // Each block is copied out, as the driver's buffer would be refilled, so a
        // decoder holding on to an old block reads garbage the sanitizer sees; and
        // junk follows it, so that reading past a block's end changes the output
        // even where no sanitizer watches.
        const size_t n = std::min(block_size_, data_.size() - position_);
        block_.assign(data_.begin() + position_, data_.begin() + position_ + n);
        block_.resize(n + 16, 0xA5);
        position_ += n;
        if (n == 0) ++calls_after_end_;
        return {block_.data(), n};
    }
    size_t calls_after_end() const { return calls_after_end_; }

private:
    std::span<const uint8_t> data_;
    size_t block_size_;
    size_t position_ = 0;
    size_t calls_ = 0;
    size_t calls_after_end_ = 0;
    std::vector<uint8_t> block_;
};

class MemoryOutput : public unzip::OutputSink {
public:
    explicit MemoryOutput(size_t limit = SIZE_MAX) : limit_(limit) {}
    bool write(const uint8_t* data, size_t n) override {
        if (full || bytes.size() + n > limit_) {
            full = true;
            return false;
        }
        bytes.insert(bytes.end(), data, data + n);
        ++writes;
        return true;
    }
    std::vector<uint8_t> bytes;
    size_t writes = 0;
    bool full = false;  // a write was refused

private:
    size_t limit_;
};

struct Decoded {
    unzip::DecodeStatus status;
    std::vector<uint8_t> bytes;
};

// Fast: the fast loop as the product runs it (the BMI2 build where the CPU has
// it); FastBaseline: the baseline build forced; Careful: the reference path alone.
enum class Path { Fast, FastBaseline, Careful };
inline constexpr Path kAllPaths[] = {Path::Fast, Path::FastBaseline, Path::Careful};
inline const char* path_name(Path p) { return p == Path::Fast ? "fast" : p == Path::FastBaseline ? "fast baseline" : "careful"; }

inline Decoded decode(std::span<const uint8_t> compressed, size_t block_size = 16000, Path path = Path::Fast,
                      int64_t uncompressed_size = -1) {
    MemoryInput input(compressed, block_size);
    MemoryOutput output;
    std::vector<uint8_t> window(32780, 0xA5);
    unzip::DecodeJob job{input, output, window, 0, static_cast<int64_t>(compressed.size()), uncompressed_size};
    unzip::InflateOptions options;
    options.fast = path != Path::Careful;
    options.loop = path == Path::FastBaseline ? unzip::FastLoop::Baseline : unzip::FastLoop::Best;
    const unzip::DecodeStatus status = unzip::inflate_with(job, options);
    return {status, std::move(output.bytes)};
}

}  // namespace kalv::testing

namespace kalv::unzip {
inline const char* status_name(DecodeStatus s) {
    switch (s) {
        case DecodeStatus::Done: return "Done";
        case DecodeStatus::BadData: return "BadData";
        case DecodeStatus::EndOfInput: return "EndOfInput";
        case DecodeStatus::OutOfMemory: return "OutOfMemory";
        case DecodeStatus::OutputFull: return "OutputFull";
    }
    return "?";
}
inline void PrintTo(DecodeStatus s, std::ostream* os) { *os << status_name(s); }
}  // namespace kalv::unzip
