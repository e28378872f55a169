// Archives built byte by byte for the cases that no producer makes on purpose:
// wrong offsets, broken records, odd dates, OEM names, damaged end records. Each
// entry is stored (or carries given bytes as its data), optionally encrypted with
// traditional PKWARE encryption (APPNOTE 6.1), with a correct CRC unless told.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kalv::testing {

struct CraftEntry {
    CraftEntry() = default;
    CraftEntry(std::string entry_name, std::string entry_data)
        : name(std::move(entry_name)), data(std::move(entry_data)) {}

    std::string name;
    std::string data;                 // the uncompressed bytes (stored method)
    uint16_t method = 0;
    uint16_t flags = 0;               // bit 0 is set by `password`
    uint32_t dos_time = 0x52CF6000;   // 2021-06-15 12:00:00
    std::optional<uint32_t> crc;      // the CRC to record instead of the true one
    std::optional<std::string> raw;   // the bytes to store instead of `data` (other methods)
    std::optional<std::string> password;
    uint16_t version_made_by = 20;
    uint32_t external_attributes = 0x20;
    std::string comment;
    std::optional<uint32_t> offset;   // the local-header offset to record instead of the true one
};

struct Crafted {
    std::string bytes;
    std::vector<size_t> local_offsets;
    std::vector<size_t> central_offsets;
    size_t central_start = 0;
    size_t end_offset = 0;
};

struct CraftOptions {
    std::string archive_comment;
    bool central_reversed = false;          // central records in the opposite order
    std::optional<uint16_t> total_entries;  // instead of the true count
    std::optional<uint32_t> central_start;  // instead of the true offset
    uint16_t this_disk = 0, central_disk = 0;
    size_t lead_in = 0;                     // bytes of padding before the first entry
    std::string lead_in_bytes;              // the padding itself (default: zeros)
};

Crafted craft_zip(const std::vector<CraftEntry>& entries, const CraftOptions& options = {});

// Encrypts `plain` behind a 12-byte header whose last byte is `check` (APPNOTE 6.1.6)
// with the product's one encoder, kalvtool's publishing one: the tests have none of
// their own.
std::string encrypt_entry(const std::string& plain, const std::string& password, uint8_t check);

// Little-endian record fields (APPNOTE 4.4.1.1).
void put16(std::string& out, uint16_t v);
void put32(std::string& out, uint32_t v);

}  // namespace kalv::testing
