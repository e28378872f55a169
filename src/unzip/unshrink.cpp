// Method 1, Shrinking (APPNOTE 5.1): dynamic LZW with 9- to 13-bit codes, where
// the compressor alone decides when codes widen (escape 256 then 1) and when the
// table is partially cleared (escape 256 then 2: every code that is no other
// code's prefix becomes free again, and freed codes are reused lowest first).
//
// Format notes:
// - A partial clear can free the previous code before the entry that extends it
//   is added; the entry is added anyway and points at a free code ("orphan").
//   A compressor can only reach such a code once its prefix code has been
//   reused, so a free code met while expanding a chain is bad data, never a string.
// - The one code that may be used while still free is the next one to be
//   assigned (the LZW "KwKwK" case): it stands for the previous string followed
//   by that string's first byte.
// - Entries are assigned as long as a free code below 8192 is left; a full table
//   stays as it is until the compressor clears it.
// - The stream has no end code: it ends when a code would need bits beyond the
//   entry's compressed bytes (the last byte's unused bits are padding).
#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>

#include "unzip/decoder_io.h"
#include "unzip/legacy_io.h"

namespace kalv::unzip {

namespace {

constexpr int kInitialCodeSize = 9;
constexpr int kMaxCodeSize = 13;
constexpr uint32_t kTableSize = uint32_t{1} << kMaxCodeSize;  // 8192 codes
constexpr uint32_t kEscape = 256;
constexpr uint32_t kFirstFree = 257;
constexpr uint16_t kFreeCode = 0xFFFF;  // prefix of a code that holds no string
constexpr uint32_t kOutputSize = legacy::SlidingWindow::kSize;

// 16 KB of prefixes, 8 KB of suffixes, an 8 KB string stack and 8 KB of marks for
// the partial clear. A string is as long as the chain of codes behind it, and a
// chain visits each of the 8192 codes at most once unless a hostile stream built a
// cycle, which the stack bound turns into bad data.
struct ShrinkTables {
    std::array<uint16_t, kTableSize> prefix;
    std::array<uint8_t, kTableSize> suffix;
    std::array<uint8_t, kTableSize> stack;
    std::array<bool, kTableSize> is_prefix;  // scratch of the partial clear
};

class Unshrinker {
public:
    Unshrinker(const DecodeJob& job, ShrinkTables& t) : job_(job), t_(t), in_(job.input), out_(job.window.data()) {
        for (uint32_t c = 0; c < kTableSize; ++c) t_.prefix[c] = kFreeCode;
        for (uint32_t c = 0; c < 256; ++c) t_.suffix[c] = static_cast<uint8_t>(c);
    }

    DecodeStatus run() {
        uint32_t previous = in_.take(code_size_);
        if (in_.overran()) return DecodeStatus::Done;  // an empty entry
        if (previous >= kEscape) return DecodeStatus::BadData;
        const uint8_t literal = static_cast<uint8_t>(previous);
        append(&literal, 1);

        for (;;) {
            uint32_t code = in_.take(code_size_);
            if (in_.overran()) break;
            if (code == kEscape) {
                uint32_t command = in_.take(code_size_);
                if (in_.overran()) break;
                if (command == 1) {
                    // Without this bound a hostile stream would widen codes past
                    // the table and index outside it.
                    if (++code_size_ > kMaxCodeSize) return DecodeStatus::BadData;
                } else if (command == 2) {
                    partial_clear();
                } else {
                    return DecodeStatus::BadData;
                }
                continue;
            }

            // Expand the string into the top of the stack, then append it to the output.
            uint8_t* const top = t_.stack.data() + kTableSize;
            uint8_t* first;
            if (code >= kFirstFree && t_.prefix[code] == kFreeCode) {
                if (code != next_free_) return DecodeStatus::BadData;
                first = expand(previous, top - 1);
                if (first == nullptr) return DecodeStatus::BadData;
                top[-1] = *first;
            } else {
                first = expand(code, top);
                if (first == nullptr) return DecodeStatus::BadData;
            }
            append(first, static_cast<uint32_t>(top - first));
            if (refused_) return DecodeStatus::OutputFull;

            if (next_free_ < kTableSize) {
                t_.prefix[next_free_] = static_cast<uint16_t>(previous);
                t_.suffix[next_free_] = *first;
                end_assigned_ = std::max(end_assigned_, next_free_ + 1);
                advance_next_free(next_free_ + 1);
            }
            previous = code;
        }
        if (out_pos_ > 0) flush();
        return refused_ ? DecodeStatus::OutputFull : DecodeStatus::Done;
    }

private:
    // Writes the string of `code` backwards so that it ends just before `end`;
    // returns its first byte's position, or nullptr when the chain is broken
    // (passes through a free code) or longer than the stack (a cycle).
    uint8_t* expand(uint32_t code, uint8_t* end) {
        uint8_t* p = end;
        uint8_t* const bottom = t_.stack.data();
        while (code >= kFirstFree) {
            const uint16_t prefix = t_.prefix[code];
            if (prefix == kFreeCode || p == bottom) return nullptr;
            *--p = t_.suffix[code];
            code = prefix;
        }
        if (code == kEscape || p == bottom) return nullptr;
        *--p = static_cast<uint8_t>(code);
        return p;
    }

    void append(const uint8_t* s, uint32_t n) {
        if (out_pos_ + n > kOutputSize) flush();
        std::memcpy(out_ + out_pos_, s, n);
        out_pos_ += n;
    }

    // A refused write ends decoding (unlike Reduce and Implode, Shrink has no size
    // to stop at).
    void flush() {
        if (!job_.output.write(out_, out_pos_)) refused_ = true;
        out_pos_ = 0;
    }

    // PKZIP clears long before the table is full (every few hundred codes on
    // incompressible data), so only the codes assigned so far are scanned.
    void partial_clear() {
        std::fill(t_.is_prefix.begin() + kFirstFree, t_.is_prefix.begin() + end_assigned_, false);
        for (uint32_t c = kFirstFree; c < end_assigned_; ++c) {
            const uint16_t prefix = t_.prefix[c];
            if (prefix != kFreeCode) t_.is_prefix[prefix] = true;
        }
        for (uint32_t c = kFirstFree; c < end_assigned_; ++c) {
            if (!t_.is_prefix[c]) t_.prefix[c] = kFreeCode;
        }
        advance_next_free(kFirstFree);
    }

    void advance_next_free(uint32_t from) {
        uint32_t c = from;
        while (c < kTableSize && t_.prefix[c] != kFreeCode) ++c;
        next_free_ = c;
    }

    const DecodeJob& job_;
    ShrinkTables& t_;
    legacy::BitReader in_;
    uint8_t* out_;  // the driver's window buffer serves as the output buffer
    uint32_t out_pos_ = 0;
    bool refused_ = false;  // the sink took no more
    int code_size_ = kInitialCodeSize;
    uint32_t next_free_ = kFirstFree;
    uint32_t end_assigned_ = kFirstFree;  // every code from here up is free
};

}  // namespace

DecodeStatus unshrink(const DecodeJob& job) {
    if (job.window.size() < kOutputSize) return DecodeStatus::OutOfMemory;
    std::unique_ptr<ShrinkTables> tables;
    try {
        tables = std::make_unique<ShrinkTables>();
    } catch (const std::bad_alloc&) {
        return DecodeStatus::OutOfMemory;
    }
    return Unshrinker(job, *tables).run();
}

}  // namespace kalv::unzip
