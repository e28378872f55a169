// The seam between the extraction driver and its decoders.
//
// The driver reads an entry's compressed bytes from the archive in blocks of at
// most 16000 bytes, decrypts them when the entry is encrypted (the decoders never
// see cipher text), and hands them out through an InputSource. Decoded bytes go
// back through an OutputSink, which buffers them into 16000-byte blocks, checks
// them against the entry's uncompressed size, runs the CRC-32 over them and
// reports progress.
//
// A decoder knows nothing of the user: it tells how it ended by its DecodeStatus,
// and the driver reports what needs reporting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace kalv::unzip {

class InputSource {
public:
    virtual ~InputSource() = default;
    // The next block of the entry's (decrypted) compressed bytes; an empty span once
    // the entry's compressed size is used up. May pump window messages and may raise
    // FatalUnzipError "Premature end of file reached" on a short archive.
    virtual std::span<const uint8_t> next_block() = 0;
};

class OutputSink {
public:
    virtual ~OutputSink() = default;
    // Appends decoded bytes. False when they would run past the entry's uncompressed
    // size: nothing of them is kept, nor of any later write, and the decoder ends
    // with OutputFull.
    [[nodiscard]] virtual bool write(const uint8_t* data, size_t n) = 0;
};

// How a decoder ended. The driver takes Done and OutputFull as normal ends (the
// CRC check then judges what was written); anything else leaves the entry
// uncounted with no output.
enum class DecodeStatus {
    Done,         // the stream ended as its format says
    BadData,      // invalid code, inconsistent table, distance before the start, ...
    EndOfInput,   // the compressed bytes ran out before the stream ended
    OutOfMemory,  // a table could not be allocated
    OutputFull,   // the sink refused a write: the entry's uncompressed size is reached
};

// What every decoder receives from the driver for one entry.
struct DecodeJob {
    InputSource& input;
    OutputSink& output;
    std::span<uint8_t> window;     // 32780 bytes, allocated once per UnZip, not cleared
    uint16_t bit_flag;             // general purpose bits (implode options in bits 1 and 2)
    int64_t compressed_size;       // without the 12-byte encryption header
    int64_t uncompressed_size;
};

DecodeStatus inflate(const DecodeJob& job);          // method 8, RFC 1951
DecodeStatus unshrink(const DecodeJob& job);         // method 1
DecodeStatus unreduce(const DecodeJob& job, int factor);  // methods 2..5, factor 1..4
DecodeStatus explode(const DecodeJob& job);          // method 6

}  // namespace kalv::unzip
