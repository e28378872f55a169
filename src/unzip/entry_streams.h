// The two stream layers between the archive and a decoder, for the entry in hand:
//
//   archive ─► EntryInput ─► decoder ─► EntryOutput ─► output file
//              16000-byte     (inflate,   16000-byte blocks, size limit,
//              blocks, next   explode,    CRC-32, file and total percent
//              part of a      ...)
//              split archive,
//              decryption,
//              message pumping
//
// Both work on the component's per-UnZip buffers and its entry in hand
// (WorkEntry), so they are the component's friends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "unzip/buf_streams.h"
#include "unzip/decoder_io.h"

namespace kalv::unzip {

class UnZipper;

// The entry's compressed bytes in blocks of at most 16000, decrypted in place.
class EntryInput final : public InputSource {
public:
    explicit EntryInput(UnZipper& z) : z_(z) {}

    std::span<const uint8_t> next_block() override;

private:
    UnZipper& z_;
};

// Decoded bytes, gathered into 16000-byte blocks and written out with the size
// check, the CRC-32 and the progress events.
class EntryOutput final : public OutputSink {
public:
    // Without a file (a test pass), the bytes are checked and counted, not kept.
    EntryOutput(UnZipper& z, BufferedStream* file);

    void write(const uint8_t* data, size_t n) override;

    // What a decoder that ended normally left in the buffer.
    void finish();

    void write_out(const uint8_t* data, size_t n);

    uint32_t crc() const { return ~crc_; }

private:
    UnZipper& z_;
    BufferedStream* file_;
    uint8_t* buffer_;
    size_t fill_ = 0;
    int64_t written_ = 0;
    uint32_t crc_ = 0xFFFFFFFF;
};

}  // namespace kalv::unzip
