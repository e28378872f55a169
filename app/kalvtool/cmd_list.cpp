// kalvtool list ARCHIVE: the archive's directory as the extraction component reads
// it, one line per entry in physical order (the order of the local headers):
//   method  flags  compressed  uncompressed  crc-32  date time  stored name
#include <cstdio>

#include "commands.h"
#include "core/dos_time.h"
#include "unzip/unzipper.h"

namespace kalvtool {
namespace {

int run_list(const Args& args) {
    if (args.size() != 1 || (!args[0].empty() && args[0][0] == '-')) return usage_error("list takes one archive");
    kalv::unzip::UnZipper zip;
    zip.DoProcessMessages = false;  // no window to repaint
    zip.SetZipName(args[0]);
    zip.OpenArchive();
    for (int i = 0; i < zip.EntryCount(); ++i) {
        const kalv::unzip::ZipHeaderInfo& e = zip.Entry(i);
        const kalv::DosFields t = kalv::unpack_dos(e.FileDateTime);
        std::printf("%3u 0x%04X %10ld %10ld %08X %04d-%02d-%02d %02d:%02d:%02d %s\n", unsigned(e.CompressionMethod),
                    unsigned(e.BitFlag), long(e.CompressedSize), long(e.UncompressedSize), unsigned(e.Crc32), t.year,
                    t.month, t.day, t.hour, t.minute, t.second, e.StoredPath().c_str());
    }
    zip.CloseArchive();
    return kExitOk;
}

const Registration registration{
    {"list", "kalvtool list ARCHIVE", run_list,
     "The archive's directory as the launcher's extraction component reads it, one line per\n"
     "entry in the order of the local headers: method, flags, compressed and uncompressed\n"
     "size, CRC-32, date and time, stored name.\n\n"
     "Exit codes: 0 done, 2 the archive cannot be read, 64 usage error."}};

}  // namespace
}  // namespace kalvtool
