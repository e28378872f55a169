#include "unzip/shannon_fano.h"

#include <algorithm>
#include <array>

namespace kalv::unzip::legacy {

namespace {

uint32_t reverse_bits(uint32_t code, int length) {
    uint32_t r = 0;
    for (int i = 0; i < length; ++i) {
        r = (r << 1) | (code & 1);
        code >>= 1;
    }
    return r;
}

}  // namespace

ShannonFanoTable::BuildStatus ShannonFanoTable::build(std::span<const uint8_t> lengths, int lookup_bits) {
    std::array<int, kMaxCodeLength + 1> count{};
    for (uint8_t len : lengths) {
        if (len < 1 || len > kMaxCodeLength) return BuildStatus::BadLength;
        ++count[len];
    }
    int left = 1;  // unused patterns at the current length
    for (size_t len = 1; len <= static_cast<size_t>(kMaxCodeLength); ++len) {
        left = (left << 1) - count[len];
        if (left < 0) return BuildStatus::OverSubscribed;
    }
    if (left > 0) return BuildStatus::Incomplete;

    std::array<uint32_t, kMaxCodeLength + 2> next_code{};
    for (size_t len = 1; len <= static_cast<size_t>(kMaxCodeLength); ++len)
        next_code[len + 1] = (next_code[len] + static_cast<uint32_t>(count[len])) << 1;

    // Each code as the input delivers it: first bit lowest.
    std::vector<uint32_t> stream_code(lengths.size());
    for (size_t s = 0; s < lengths.size(); ++s) stream_code[s] = reverse_bits(next_code[lengths[s]]++, lengths[s]);

    const uint32_t first_size = uint32_t{1} << lookup_bits;
    const uint32_t mask = first_size - 1;
    std::vector<uint8_t> sub_bits(first_size, 0);
    for (size_t s = 0; s < lengths.size(); ++s) {
        if (lengths[s] <= lookup_bits) continue;
        uint8_t& bits = sub_bits[stream_code[s] & mask];
        bits = std::max<uint8_t>(bits, static_cast<uint8_t>(lengths[s] - lookup_bits));
    }

    // A sub-table of depth d holds at least d + 1 of the tree's codes, so 256
    // symbols of up to 16 bits need at most a few thousand entries beyond the first
    // level (25 sub-tables of 512 with 7 lookup bits); the 16-bit link is checked anyway.
    uint32_t total = first_size;
    entries_.assign(first_size, Entry{});
    for (uint32_t p = 0; p < first_size; ++p) {
        if (sub_bits[p] == 0) continue;
        entries_[p] = Entry{static_cast<uint16_t>(total), static_cast<uint8_t>(lookup_bits), sub_bits[p]};
        total += uint32_t{1} << sub_bits[p];
        if (total > 0xFFFF) return BuildStatus::OverSubscribed;
    }
    entries_.resize(total);

    for (size_t s = 0; s < lengths.size(); ++s) {
        const int len = lengths[s];
        const Entry symbol{static_cast<uint16_t>(s), static_cast<uint8_t>(len), 0};
        const uint32_t code = stream_code[s];
        if (len <= lookup_bits) {
            for (uint32_t i = code; i < first_size; i += uint32_t{1} << len) entries_[i] = symbol;
        } else {
            const Entry link = entries_[code & mask];
            const uint32_t sub_size = uint32_t{1} << link.sub_bits;
            for (uint32_t i = code >> lookup_bits; i < sub_size; i += uint32_t{1} << (len - lookup_bits))
                entries_[link.value + i] = symbol;
        }
    }
    lookup_bits_ = lookup_bits;
    first_mask_ = mask;
    return BuildStatus::Complete;
}

}  // namespace kalv::unzip::legacy
