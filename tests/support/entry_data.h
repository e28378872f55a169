// Each entry of an archive with the bytes its decoder receives: found through the
// extraction component's own directory, the data taken from behind the entry's
// local header and decrypted with the component's ZipKeys, as the driver hands them
// to a decoder. For tests and benchmarks that run the decoders alone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kalv::testing {

struct EntryData {
    std::string name;                // the stored path
    uint16_t bit_flag = 0;
    uint16_t method = 0;
    uint32_t crc = 0;
    int64_t compressed_size = 0;     // without the 12-byte encryption header
    int64_t uncompressed_size = 0;
    std::vector<uint8_t> data;       // the compressed bytes, decrypted
};

// Every entry of the archive at `path`, in the order of their local headers; nullopt
// when the directory cannot be read, an entry's data runs past the end, or an
// encrypted entry's check byte says the password is wrong (APPNOTE 6.1.6).
std::optional<std::vector<EntryData>> read_entry_data(const std::string& path, const std::string& password);

}  // namespace kalv::testing
