// Test support for the legacy decoders: just enough ZIP reading (central
// directory, local headers, traditional PKWARE decryption) to hand an entry's
// compressed bytes to a decoder through in-memory sources and sinks, a SHA-256
// to compare with the test data's manifest, and the test data's location.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "unzip/decoder_io.h"

namespace legacy_test {

using Bytes = std::vector<uint8_t>;

// The legacy test data folder, or nullopt when it is absent. Looked up in
// $KALV_TESTDATA, then beside the source tree's parent, then at /work/shared.
std::optional<std::string> testdata_dir();

std::optional<Bytes> read_file(const std::string& path);

std::string sha256_hex(std::span<const uint8_t> data);
uint32_t crc32(std::span<const uint8_t> data);

// Hands out a buffer in blocks of a fixed size, then empty spans.
class BlockSource : public kalv::unzip::InputSource {
public:
    BlockSource(std::span<const uint8_t> data, size_t block_size) : data_(data), block_size_(block_size) {}
    std::span<const uint8_t> next_block() override;
    int blocks_after_end() const { return blocks_after_end_; }

private:
    std::span<const uint8_t> data_;
    size_t block_size_;
    size_t pos_ = 0;
    int blocks_after_end_ = 0;
};

// Collects output and refuses to grow past the entry's size as the driver's
// output writer does (nothing of that write kept, nor of any later one).
class CollectingSink : public kalv::unzip::OutputSink {
public:
    explicit CollectingSink(int64_t limit) : limit_(limit) {}
    bool write(const uint8_t* data, size_t n) override;
    Bytes bytes;

private:
    int64_t limit_;
    bool full_ = false;
};

struct Entry {
    std::string name;
    uint16_t bit_flag = 0;
    uint16_t method = 0;
    uint32_t crc = 0;
    int64_t compressed_size = 0;     // as stored, with the encryption header
    int64_t uncompressed_size = 0;
    Bytes data;                      // the compressed bytes, decrypted when encrypted
};

// Reads every entry of an archive; encrypted entries are decrypted with the
// password (and nullopt returned when the check byte does not match).
std::optional<std::vector<Entry>> read_archive(const Bytes& archive, const std::string& password);

struct Decoded {
    kalv::unzip::DecodeStatus status;
    Bytes bytes;
};

// Decodes one entry's data with the decoder its method names (0 copies), through
// a block source of the given block size and the given window buffer.
// OutputFull counts as the end of decoding (Done), as in the driver.
Decoded decode(uint16_t method, uint16_t bit_flag, std::span<const uint8_t> data, int64_t compressed_size,
               int64_t uncompressed_size, std::span<uint8_t> window, size_t block_size = 16000);

inline Decoded decode(const Entry& e, std::span<uint8_t> window, size_t block_size = 16000) {
    const int64_t csize = (e.bit_flag & 1) ? e.compressed_size - 12 : e.compressed_size;
    return decode(e.method, e.bit_flag, e.data, csize, e.uncompressed_size, window, block_size);
}

// Writes bits least significant first, as the decoders read them.
class BitWriter {
public:
    void put(uint32_t value, int bits);
    // Writes a code most significant bit first (Shannon-Fano codes of Imploding).
    void put_msb_first(uint32_t code, int bits);
    Bytes finish();

private:
    Bytes out_;
    uint32_t acc_ = 0;
    int count_ = 0;
};

}  // namespace legacy_test
