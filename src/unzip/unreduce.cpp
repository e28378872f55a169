// Methods 2 to 5, Reducing with compression factor 1 to 4 (APPNOTE 5.2): two
// stages undone in one loop.
//
//   bits --follower sets--> bytes --DLE expansion--> output
//
// Follower sets: the stream starts with a set of up to 63 likely successors for
// each byte value, 255 down to 0 (6-bit count, then 8-bit members). Each byte then
// comes either raw (flag 1, 8 bits) or as an index into the set of the byte before
// it (flag 0, as many bits as the set's size needs); an empty set means raw 8 bits
// without a flag.
//
// DLE expansion: byte 144 (DLE) starts a run. DLE 0 is a literal 144; otherwise the
// next byte V holds the low length bits (V & mask) and the high distance bits
// (V >> (8 - factor)); a length equal to the mask takes one more length byte; a last
// byte holds the low distance bits. The run copies length + 3 bytes from
// distance + 1 bytes back, zeros where that lies before the entry's first byte.
//
// The stream has no end marker: it ends when the uncompressed size is produced.
#include <array>
#include <memory>
#include <new>

#include "unzip/decoder_io.h"
#include "unzip/legacy_io.h"

namespace kalv::unzip {

namespace {

constexpr uint8_t kDle = 144;
constexpr int kMaxFollowers = 63;  // a 6-bit count

struct FollowerSets {
    std::array<uint8_t, 256> size;
    std::array<std::array<uint8_t, kMaxFollowers + 1>, 256> member;
};

// Bits of an index into a set of n members: enough for n - 1, and at least 1.
constexpr int index_bits(int n) {
    int bits = 1;
    while ((1 << bits) < n) ++bits;
    return bits;
}

class Unreducer {
public:
    Unreducer(const DecodeJob& job, int factor, FollowerSets& sets)
        : job_(job), sets_(sets), in_(job.input), window_(job.window, job.output),
          length_mask_(0x7Fu >> (factor - 1)), distance_shift_(8 - factor) {
        for (int n = 0; n <= kMaxFollowers; ++n) index_bits_[static_cast<size_t>(n)] = static_cast<uint8_t>(index_bits(n));
    }

    DecodeStatus run() {
        const int64_t size = job_.uncompressed_size;
        if (size <= 0) return DecodeStatus::Done;

        for (int value = 255; value >= 0; --value) {
            const uint32_t n = in_.take(6);
            const auto v = static_cast<size_t>(value);
            sets_.size[v] = static_cast<uint8_t>(n);
            for (uint32_t i = 0; i < n; ++i) sets_.member[v][i] = static_cast<uint8_t>(in_.take(8));
            if (in_.overran()) return DecodeStatus::EndOfInput;
        }

        while (window_.produced() < size) {
            const int c = next_byte();
            if (c < 0) return failure();
            if (c != kDle) {
                if (in_.overran()) return DecodeStatus::EndOfInput;
                window_.put(static_cast<uint8_t>(c));
                continue;
            }
            const int v = next_byte();
            if (v < 0) return failure();
            if (v == 0) {
                if (in_.overran()) return DecodeStatus::EndOfInput;
                window_.put(kDle);
                continue;
            }
            uint32_t length = static_cast<uint32_t>(v) & length_mask_;
            if (length == length_mask_) {
                const int more = next_byte();
                if (more < 0) return failure();
                length += static_cast<uint32_t>(more);
            }
            const int low = next_byte();
            if (low < 0) return failure();
            if (in_.overran()) return DecodeStatus::EndOfInput;
            const uint32_t distance = ((static_cast<uint32_t>(v) >> distance_shift_) << 8) + static_cast<uint32_t>(low) + 1;
            length += 3;
            const int64_t left = size - window_.produced();
            if (length > left) length = static_cast<uint32_t>(left);
            window_.copy_match(distance, length);
        }
        return window_.finish();
    }

private:
    // Zero padding past the end can look like a bad index: running out comes first.
    DecodeStatus failure() const { return in_.overran() ? DecodeStatus::EndOfInput : DecodeStatus::BadData; }

    // The next byte of the follower-set stage, or -1 for an index outside its set.
    int next_byte() {
        const uint8_t n = sets_.size[last_];
        uint32_t byte;
        if (n == 0 || in_.take(1) == 1) {
            byte = in_.take(8);
        } else {
            const uint32_t index = in_.take(index_bits_[n]);
            if (index >= n) return -1;
            byte = sets_.member[last_][index];
        }
        last_ = static_cast<uint8_t>(byte);
        return static_cast<int>(byte);
    }

    const DecodeJob& job_;
    FollowerSets& sets_;
    legacy::BitReader in_;
    legacy::SlidingWindow window_;
    std::array<uint8_t, kMaxFollowers + 1> index_bits_{};
    const uint32_t length_mask_;    // 127, 63, 31, 15 for factor 1..4
    const int distance_shift_;      // 7, 6, 5, 4
    uint8_t last_ = 0;
};

}  // namespace

DecodeStatus unreduce(const DecodeJob& job, int factor) {
    if (factor < 1 || factor > 4) return DecodeStatus::BadData;
    if (job.window.size() < legacy::SlidingWindow::kSize) return DecodeStatus::OutOfMemory;
    std::unique_ptr<FollowerSets> sets;
    try {
        sets = std::make_unique<FollowerSets>();
    } catch (const std::bad_alloc&) {
        return DecodeStatus::OutOfMemory;
    }
    return Unreducer(job, factor, *sets).run();
}

}  // namespace kalv::unzip
