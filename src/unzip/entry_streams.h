// The two stream layers between the archive and a decoder, for the entry in hand:
//
//   archive ─► EntryInput ─► decoder ─► EntryOutput ─► output file
//              16000-byte     (inflate,   16000-byte blocks, size limit,
//              blocks, next   explode,    CRC-32, file and total percent
//              part of a      ...)
//              split archive,
//              decryption,
//              a moment for window messages
//
// Both work on the pass's buffers and its entry in hand, so they are the pass's
// friends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "unzip/buf_streams.h"
#include "unzip/decoder_io.h"
#include "unzip/decrypt_ahead.h"

namespace kalv::unzip {

class ExtractionPass;

class EntryOutput;

// The entry's compressed bytes in blocks of at most 16000, decrypted in place, or by
// a helper thread a few runs ahead (decrypt_ahead.h): the blocks, the moments for
// window messages and the place of a failure are the same either way.
class EntryInput final : public InputSource {
public:
    explicit EntryInput(ExtractionPass& pass) : pass_(pass) {}

    // Hands the reading and decryption to a helper thread when the pass wants it
    // (ExtractionPass::decrypts_ahead); without the memory or a thread for it the
    // entry is read here as ever.
    void start_decrypting_ahead(bool stored);

    std::span<const uint8_t> next_block() override;

    // The stored method: the entry's bytes from the archive to the output as they
    // are (decrypted when the entry is), past the byte reader: no message pumping,
    // no next part of a split archive.
    void copy_stored(EntryOutput& output);

private:
    std::span<const uint8_t> next_block_ahead(size_t n);
    void copy_stored_ahead(EntryOutput& output);

    ExtractionPass& pass_;
    std::unique_ptr<DecryptAhead> ahead_;
    DecryptAhead::Run run_;  // the run the blocks are taken from
    size_t run_at_ = 0;      // the next block's place in it
};

// Decoded bytes, gathered into 16000-byte blocks and written out with the size
// check, the CRC-32 and the progress events.
//
// A block that would take the output past the entry's uncompressed size is not
// written, and from then on nothing is: the sink is full. That ends decoding as a
// normal end, and the CRC check judges what was written.
class EntryOutput final : public OutputSink {
public:
    // Without a file (a test pass), the bytes are checked and counted, not kept.
    EntryOutput(ExtractionPass& pass, BufferedStream* file);

    bool write(const uint8_t* data, size_t n) override;

    // What a decoder that ended normally left in the buffer.
    void finish();

    // One block of n bytes (at most 16000, 0 included) written out: the size
    // check, the file, the CRC-32, the counts and both percent events; false once
    // the sink is full.
    bool write_out(const uint8_t* data, size_t n);
    // Whole 16000-byte blocks (the last one may be short), each written out as
    // write_out() would, their bytes reaching the file in one transfer.
    bool write_out_blocks(const uint8_t* data, size_t n);

    uint32_t crc() const { return ~crc_; }

private:
    size_t to_file(const uint8_t* data, size_t n);
    void account(const uint8_t* data, size_t n);

    ExtractionPass& pass_;
    BufferedStream* file_;
    uint8_t* buffer_;
    size_t fill_ = 0;
    int64_t written_ = 0;
    size_t unsynced_ = 0;  // bytes the file took since it last started a write-back
    uint32_t crc_ = 0xFFFFFFFF;
    bool full_ = false;
};

}  // namespace kalv::unzip
