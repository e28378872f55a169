// The extraction pass on arbitrary archive bytes, into a private destination, in
// three settings:
//   launcher   the launcher's own: OverwriteMode Always, the package password,
//              DestDir = RootDir = the destination, one FilesList line naming
//              Kalvo3main, window messages pumped;
//   recreate   every entry (DoAll) with RecreateDirs, the package password, RootDir
//              empty, existing files kept (Never), put in place in batches as
//              kalvtool extract does (Batched);
//   plain      every entry without a password, into a destination that already
//              holds what the first two left, asking before overwriting (answered No).
//
// Every path the component hands to the OS must stay inside the destination (the
// jail platform aborts otherwise), nothing may appear beside it, a failure of the
// project's family is a normal end, and the count returned lies between 0 and the
// number of entries. Every entry reported as extracted (OnEndUnZip) must be on disk
// with the CRC-32 its record states: the launcher starts the application only on
// what the component calls extracted.
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "archive_harness.h"
#include "core/crc32.h"
#include "core/errors.h"
#include "unzip/unzipper.h"

namespace {

using kalv::unzip::UnZipper;
using kalv::unzip::UZOverwriteMode;

const std::string kPackagePassword = "k3m8_q7rw_2x4";

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "extract: %s\n", what);
        abort();
    }
}

uint32_t crc_of_file(const std::string& path, bool& readable) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    readable = static_cast<bool>(in) || in.eof();
    return kalv::crc32_of(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

enum class Setting { Launcher, Recreate, Plain };

void extract(Setting setting) {
    auto& sandbox = kalv::fuzz::ArchiveSandbox::instance();
    UnZipper zip;
    zip.SetZipName(sandbox.archive());
    zip.SetDestDir(sandbox.dest());
    switch (setting) {
    case Setting::Launcher:
        zip.OverwriteMode = UZOverwriteMode::Always;
        zip.Password = kPackagePassword;
        zip.SetRootDir(sandbox.dest());
        zip.FilesList.push_back(sandbox.dest() + "/Kalvo3main");
        break;
    case Setting::Recreate:
        zip.OverwriteMode = UZOverwriteMode::Never;
        zip.Password = kPackagePassword;
        zip.DoAll = true;
        zip.RecreateDirs = true;
        zip.Durability = kalv::unzip::UZDurability::Batched;
        break;
    case Setting::Plain:
        zip.OverwriteMode = UZOverwriteMode::Prompt;
        zip.DoAll = true;
        break;
    }
    zip.OnEndUnZip = [](UnZipper& z, int index, const std::string& path) {
        bool readable = false;
        const uint32_t crc = crc_of_file(path, readable);
        check(readable, "an entry reported extracted cannot be read back");
        check(crc == z.Entry(index).Crc32, "an entry reported extracted differs from its CRC-32");
    };
    try {
        const int count = zip.UnZip();
        check(count >= 0 && count <= zip.EntryCount(), "count out of range");
    } catch (const kalv::Error&) {
        // A damaged archive ends here by design.
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto& sandbox = kalv::fuzz::ArchiveSandbox::instance();
    sandbox.write_archive(data, size);
    extract(Setting::Launcher);
    extract(Setting::Recreate);
    extract(Setting::Plain);
    sandbox.check_and_clear();
    return 0;
}
