// The Deflate decoder's careful path: the input pulled a byte at a time, the next
// input block fetched when one runs out, and one symbol decoded at a time with only
// the bits it needs; and the loop over a block's codes that runs it. It finishes what the fast loop (inflate_fast.cpp) leaves near
// the ends of the input and output buffers; alone (InflateOptions::fast false) it
// is the reference the fast loop is tested against, so it stays plain.
#include "unzip/inflater.h"

namespace kalv::unzip::deflate {

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

// Looks a code up with only the bits it needs: an entry is trusted once the bits
// that select it are really held (the bits above bit_count_ may be zeros), and its
// extra bits are pulled before returning.
Inflater::Fetch Inflater::decode_entry(const huffman::Table& table, uint32_t* entry) {
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

// A block's codes: the careful loop, which hands each stretch where the bounds
// allow it to the fast loop. Here beside decode_careful, so that the careful path
// (alone, the reference) costs no call per symbol.
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

}  // namespace kalv::unzip::deflate
