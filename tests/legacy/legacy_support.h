// The legacy decoders run from memory (through the shared in-memory source and sink),
// and a SHA-256 to compare their output with the test data's manifest.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "entry_data.h"
#include "memory_io.h"

namespace legacy_test {

using Bytes = std::vector<uint8_t>;
using kalv::testing::Decoded;

std::string sha256_hex(std::span<const uint8_t> data);
uint32_t crc32(std::span<const uint8_t> data);

// Decodes one entry's data with the decoder its method names (0 copies), through a
// source handing out blocks of `block_size` and the given window buffer, into a sink
// that refuses output past the uncompressed size. OutputFull counts as the end of
// decoding (Done), as in the driver.
Decoded decode(uint16_t method, uint16_t bit_flag, std::span<const uint8_t> data, int64_t compressed_size,
               int64_t uncompressed_size, std::span<uint8_t> window, size_t block_size = 16000);

inline Decoded decode(const kalv::testing::EntryData& e, std::span<uint8_t> window, size_t block_size = 16000) {
    return decode(e.method, e.bit_flag, e.data, e.compressed_size, e.uncompressed_size, window, block_size);
}

}  // namespace legacy_test
