#include "unzip/buf_streams.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "core/errors.h"

namespace kalv::unzip {

BufferedStream::BufferedStream(std::unique_ptr<platform::FileHandle> underlying)
    : underlying_(std::move(underlying)), buffer_(new uint8_t[kBufferSize]) {
    underlying_at_ = underlying_->seek(0, platform::SeekOrigin::Current);
    if (underlying_at_ < 0) underlying_at_ = 0;
}

BufferedStream::~BufferedStream() { flush(); }

bool BufferedStream::fill_buffer() {
    end_ = underlying_->read(buffer_.get(), kBufferSize);
    underlying_at_ += int64_t(end_);
    at_ = 0;
    state_ = end_ ? State::Reading : State::Unknown;
    after_fill(end_);
    return end_ != 0;
}

bool BufferedStream::flush_buffer() {
    const size_t written = underlying_->write(buffer_.get(), at_);
    underlying_at_ += int64_t(written);
    const bool complete = written == at_;
    at_ = end_ = 0;
    state_ = State::Unknown;
    after_flush(written);
    return complete;
}

bool BufferedStream::flush() { return state_ != State::Writing || flush_buffer(); }

bool BufferedStream::sync() { return flush() && underlying_->sync(); }

std::unique_ptr<platform::FileHandle> BufferedStream::release() {
    if (!flush()) throw StreamError("Stream write error");
    return std::move(underlying_);
}

size_t BufferedStream::read(void* buffer, size_t n) {
    if (state_ == State::Writing) flush_buffer();
    auto* out = static_cast<uint8_t*>(buffer);
    size_t served = 0;
    while (served < n) {
        if (state_ != State::Reading || at_ == end_) {
            if (!fill_buffer()) break;
        }
        const size_t piece = std::min(n - served, end_ - at_);
        std::memcpy(out + served, buffer_.get() + at_, piece);
        at_ += piece;
        served += piece;
    }
    return served;
}

// Bytes read ahead are dropped before a write: the file must stand where the
// caller thinks.
void BufferedStream::drop_read_ahead() {
    if (state_ != State::Reading) return;
    const int64_t logical = position();
    at_ = end_ = 0;
    state_ = State::Unknown;
    const int64_t reached = underlying_->seek(logical, platform::SeekOrigin::Begin);
    underlying_at_ = reached < 0 ? underlying_at_ : reached;
}

size_t BufferedStream::write(const void* buffer, size_t n) {
    drop_read_ahead();
    const auto* in = static_cast<const uint8_t*>(buffer);
    size_t accepted = 0;
    while (accepted < n) {
        state_ = State::Writing;
        const size_t piece = std::min(n - accepted, kBufferSize - at_);
        std::memcpy(buffer_.get() + at_, in + accepted, piece);
        at_ += piece;
        accepted += piece;
        if (at_ == kBufferSize && !flush_buffer()) return accepted - std::min(accepted, kBufferSize);
    }
    return accepted;
}

size_t BufferedStream::read_through(void* buffer, size_t n) {
    if (state_ == State::Writing) flush_buffer();
    auto* out = static_cast<uint8_t*>(buffer);
    size_t served = 0;
    if (state_ == State::Reading) {
        served = std::min(n, end_ - at_);
        std::memcpy(out, buffer_.get() + at_, served);
        at_ += served;
        if (served == n) return served;
    }
    // A rest shorter than the buffer goes through it: the fill that brings it also
    // brings what follows (the next entry's local header), which a transfer of the
    // rest alone would leave for one more read.
    if (n - served < kBufferSize) return served + read(out + served, n - served);
    at_ = end_ = 0;
    state_ = State::Unknown;
    const size_t got = underlying_->read(out + served, n - served);
    underlying_at_ += int64_t(got);
    return served + got;
}

size_t BufferedStream::write_through(const void* buffer, size_t n) {
    drop_read_ahead();
    // Bytes written earlier reach the file first; when they cannot, nothing of
    // this run is taken.
    if (state_ == State::Writing && !flush_buffer()) return 0;
    const size_t written = underlying_->write(buffer, n);
    underlying_at_ += int64_t(written);
    return written;
}

int64_t BufferedStream::position() const {
    switch (state_) {
        case State::Reading: return underlying_at_ - int64_t(end_ - at_);
        case State::Writing: return underlying_at_ + int64_t(at_);
        case State::Unknown: break;
    }
    return underlying_at_;
}

int64_t BufferedStream::size() {
    const int64_t underlying_size = underlying_->size();
    return std::max(underlying_size, position());
}

int64_t BufferedStream::seek(int64_t offset, int origin) {
    int64_t target = 0;
    switch (origin) {
        case kFromBeginning: target = offset; break;
        case kFromCurrent: target = position() + offset; break;
        case kFromEnd: target = size() - (offset < 0 ? -offset : offset); break;
        default: throw Error("Invalid seek origin (" + std::to_string(origin) + ")");
    }
    if (target == position()) return target;
    // A target among the bytes read ahead (the step over a local header's name and
    // extra field, the step back over an encryption header) is reached in the buffer:
    // no seek of the file, and no second read of what the buffer already holds.
    if (state_ == State::Reading) {
        const int64_t buffer_start = underlying_at_ - static_cast<int64_t>(end_);
        if (target >= buffer_start && target <= underlying_at_) {
            at_ = static_cast<size_t>(target - buffer_start);
            return target;
        }
    }
    if (state_ == State::Writing && !flush_buffer()) throw StreamError("Seek error");
    at_ = end_ = 0;
    state_ = State::Unknown;
    const int64_t reached = underlying_->seek(target, platform::SeekOrigin::Begin);
    if (reached < 0) {
        // The file stays where it was; keep our idea of it in step.
        const int64_t now = underlying_->seek(0, platform::SeekOrigin::Current);
        underlying_at_ = now < 0 ? 0 : now;
        return -1;
    }
    underlying_at_ = reached;
    return reached;
}

void BufferedStream::put_back(uint8_t byte) {
    if (state_ != State::Reading || at_ == 0) throw StreamError("Putback overflow");
    buffer_[--at_] = byte;
}

BufferedFileStream::BufferedFileStream(platform::FileSystem& os, const std::string& path, platform::OpenMode mode)
    : BufferedStream(os.open_file(path, mode)) {}

}  // namespace kalv::unzip
