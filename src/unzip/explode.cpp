// Method 6, Imploding (APPNOTE 5.3): a sliding dictionary of 4 KB or 8 KB (bit 1
// of the general purpose flag) whose output is coded with Shannon-Fano trees:
// lengths and distances always, literals too when bit 2 is set (otherwise
// literals are raw bytes and the shortest match is 2 instead of 3).
//
//   trees: [literal] length distance, each a byte count - 1, then bytes of
//          (count - 1) << 4 | (bit length - 1)
//   data:  1 literal                  -> 8 raw bits, or a literal code
//          0 distance-low length-code -> match
//
// A match is: the low 6 (4 KB) or 7 (8 KB) distance bits raw, the high 6 bits as a
// distance code, then a length code 0..63 (63 adds 8 raw bits), plus the shortest
// match length. It copies from distance + 1 bytes back, zeros before the entry's
// start. The stream has no end marker: it ends when the uncompressed size is produced.
#include <array>
#include <new>

#include "unzip/decoder_io.h"
#include "unzip/legacy_io.h"
#include "unzip/shannon_fano.h"

namespace kalv::unzip {

namespace {

using legacy::BitReader;
using legacy::ShannonFanoTable;

constexpr uint16_t kBigDictionaryFlag = 0x0002;
constexpr uint16_t kLiteralTreeFlag = 0x0004;

// Lookup bits of the first-level tables; the distance table gets one more bit on
// large entries, whose distance codes are spread over more lengths.
constexpr int kLiteralLookupBits = 9;
constexpr int kLengthLookupBits = 7;
constexpr int kDistanceLookupBits = 7;
constexpr int kLargeDistanceLookupBits = 8;
constexpr int64_t kLargeEntry = 200000;

constexpr uint32_t kLongLengthCode = 63;

enum class TreeStatus { Ok, BadData, EndOfInput };

// Reads one tree's compressed bit lengths and builds its table. The runs must
// cover exactly the tree's symbols, and the tree must be complete.
TreeStatus read_tree(BitReader& in, int symbols, int lookup_bits, ShannonFanoTable& table) {
    std::array<uint8_t, 256> lengths{};
    const uint32_t bytes = in.take(8) + 1;
    int filled = 0;
    for (uint32_t i = 0; i < bytes; ++i) {
        const uint32_t b = in.take(8);
        const int length = static_cast<int>(b & 0x0F) + 1;
        const int run = static_cast<int>(b >> 4) + 1;
        if (filled + run > symbols) return in.overran() ? TreeStatus::EndOfInput : TreeStatus::BadData;
        for (int k = 0; k < run; ++k) lengths[static_cast<size_t>(filled++)] = static_cast<uint8_t>(length);
    }
    if (in.overran()) return TreeStatus::EndOfInput;
    if (filled != symbols) return TreeStatus::BadData;
    const auto status = table.build(std::span<const uint8_t>(lengths.data(), static_cast<size_t>(symbols)), lookup_bits);
    return status == ShannonFanoTable::BuildStatus::Complete ? TreeStatus::Ok : TreeStatus::BadData;
}

DecodeStatus to_status(TreeStatus s) {
    return s == TreeStatus::EndOfInput ? DecodeStatus::EndOfInput : DecodeStatus::BadData;
}

}  // namespace

DecodeStatus explode(const DecodeJob& job) {
    if (job.window.size() < legacy::SlidingWindow::kSize) return DecodeStatus::OutOfMemory;
    const int64_t size = job.uncompressed_size;
    if (size <= 0) return DecodeStatus::Done;

    const bool has_literal_tree = (job.bit_flag & kLiteralTreeFlag) != 0;
    const int distance_low_bits = (job.bit_flag & kBigDictionaryFlag) != 0 ? 7 : 6;
    const uint32_t min_match = has_literal_tree ? 3 : 2;

    BitReader in(job.input);
    ShannonFanoTable literals, lengths, distances;
    try {
        TreeStatus s = TreeStatus::Ok;
        if (has_literal_tree) s = read_tree(in, 256, kLiteralLookupBits, literals);
        if (s == TreeStatus::Ok) s = read_tree(in, 64, kLengthLookupBits, lengths);
        if (s == TreeStatus::Ok)
            s = read_tree(in, 64, job.compressed_size > kLargeEntry ? kLargeDistanceLookupBits : kDistanceLookupBits,
                          distances);
        if (s != TreeStatus::Ok) return to_status(s);
    } catch (const std::bad_alloc&) {
        return DecodeStatus::OutOfMemory;
    }

    legacy::SlidingWindow window(job.window, job.output);
    while (window.produced() < size) {
        if (in.take(1) != 0) {
            const uint32_t literal = has_literal_tree ? literals.decode(in) : in.take(8);
            if (in.overran()) return DecodeStatus::EndOfInput;
            window.put(static_cast<uint8_t>(literal));
            continue;
        }
        const uint32_t low = in.take(distance_low_bits);
        const uint32_t distance = ((distances.decode(in) << distance_low_bits) | low) + 1;
        uint32_t length = lengths.decode(in);
        if (length == kLongLengthCode) length += in.take(8);
        length += min_match;
        if (in.overran()) return DecodeStatus::EndOfInput;
        const int64_t left = size - window.produced();
        if (length > left) length = static_cast<uint32_t>(left);
        window.copy_match(distance, length);
    }
    return window.finish();
}

}  // namespace kalv::unzip
