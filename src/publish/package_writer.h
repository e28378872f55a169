// The ZIP writer of kalvtool's publishing: a package is a ZIP archive of one entry,
// Deflate-compressed by zlib and encrypted with traditional PKWARE encryption, laid
// out as APPNOTE 4.3.6 orders it:
//
//   local file header (4.3.7) │ name │ encryption header (6.1.3) │ encrypted Deflate data
//   central directory header (4.3.12) │ name
//   end of central directory record (4.3.16)
//
// No data descriptor (bit 3): the CRC-32 is computed in a first pass over the source,
// so that the encryption header's check byte can be its high byte (6.1.6), as every
// reader checks it; the compressed size is patched into the local header afterwards.
// No ZIP64: launchers already installed read sizes as signed 32-bit values, so a
// source of 2 GiB or more is refused.
//
// The records' signatures, fixed sizes, method and flag numbers are the reader's
// (unzip/zip_records.h), so that what is written is what is read.
//
// Only kalvtool links this; the launcher and the reading side never do (they stay
// free of zlib).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "platform/publishing.h"

namespace kalv::publish {

struct PackageEntry {
    std::string name;                         // stored as given (APPNOTE 4.4.17)
    std::string password;                     // traditional encryption (APPNOTE 6.1)
    uint32_t dos_time = 0;                    // last mod file time and date (APPNOTE 4.4.6)
    platform::StoredAttributes attributes;    // version made by and external attributes
    int level = 9;                            // zlib's compression level, 1 to 9
    std::array<uint8_t, 11> random_header{};  // the encryption header but its check byte
};

struct PackageInfo {
    uint32_t crc32 = 0;         // of the source's bytes
    uint64_t size = 0;          // the source's size
    uint64_t packed_size = 0;   // compressed size as stored: encryption header and data
    uint64_t archive_size = 0;  // the whole package
};

// Writes the package of the source's bytes to `out`, which must be empty. Reads the
// source twice (CRC, then data) and fails if it changed in between. Throws Error,
// naming the source as `source_name`.
PackageInfo write_package(platform::FileHandle& source, const std::string& source_name, platform::NewFile& out,
                          const PackageEntry& entry);

}  // namespace kalv::publish
