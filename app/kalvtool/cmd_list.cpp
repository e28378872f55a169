// kalvtool list ARCHIVE: the archive's directory as the extraction core reads it,
// one line per entry in physical order (the order of the local headers):
//   method  flags  compressed  uncompressed  crc-32  date time  stored name
// under a header, and a line of totals.
#include <cstdint>
#include <cstdio>
#include <string>

#include "archive_args.h"
#include "commands.h"
#include "core/dos_time.h"
#include "core/printable.h"
#include "unzip/archive.h"

namespace kalvtool {
namespace {

int run_list(kalv::platform::Platform& os, const Args& args) {
    if (args.size() != 1 || (!args[0].empty() && args[0][0] == '-')) return usage_error("list takes one archive");
    StderrObserver observer("list");  // a split archive's next disk
    const std::unique_ptr<kalv::unzip::Archive> zip = open_archive(os, args[0], observer);
    std::printf("%3s %6s %10s %10s %8s %19s %s\n", "mth", "flags", "packed", "size", "crc-32", "date       time",
                "name");
    uint64_t packed = 0, size = 0;
    for (int i = 0; i < zip->count(); ++i) {
        const kalv::unzip::ZipHeaderInfo& e = zip->entry(i);
        const kalv::DosFields t = kalv::unpack_dos(e.FileDateTime);
        // Unsigned sizes of up to 64 bits (APPNOTE 4.4.8, 4.4.9 and their ZIP64 values).
        const uint64_t entry_packed = static_cast<uint64_t>(e.CompressedSize);
        const uint64_t entry_size = static_cast<uint64_t>(e.UncompressedSize);
        packed += entry_packed;
        size += entry_size;
        std::printf("%3u 0x%04X %10llu %10llu %08X %04d-%02d-%02d %02d:%02d:%02d %s\n",
                    static_cast<unsigned>(e.CompressionMethod), static_cast<unsigned>(e.BitFlag),
                    static_cast<unsigned long long>(entry_packed), static_cast<unsigned long long>(entry_size),
                    static_cast<unsigned>(e.Crc32), t.year, t.month, t.day, t.hour, t.minute, t.second,
                    kalv::printable(e.StoredPath()).c_str());
    }
    std::printf("%d entr%s, %llu bytes packed, %llu bytes\n", zip->count(), zip->count() == 1 ? "y" : "ies",
                static_cast<unsigned long long>(packed), static_cast<unsigned long long>(size));
    if (zip->prefix_bytes() != 0) {
        std::printf("%llu bytes in front of the archive that its offsets do not count (a stub added without "
                    "zip -A)\n",
                    static_cast<unsigned long long>(zip->prefix_bytes()));
    }
    return kExitOk;
}

const Registration registration{
    {"list", "kalvtool list ARCHIVE", run_list,
     "The archive's directory as the launcher's extraction component reads it, one line per\n"
     "entry in the order of the local headers: method, flags, compressed and uncompressed\n"
     "size, CRC-32, date and time, stored name (control characters as \\xNN), under a\n"
     "header and above a line of totals. Bytes in front of the archive that its offsets do\n"
     "not count (a self-extractor's stub added without zip -A) are named in a last line.\n\n"
     "Exit codes: 0 done, 2 the archive cannot be read, 64 usage error."}};

}  // namespace
}  // namespace kalvtool
