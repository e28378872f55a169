// The extraction core on arbitrary archive bytes, into a private destination, in
// three settings:
//   launcher   the launcher's own: overwrite Always, the package password,
//              destination = root = the sandbox's, one pattern naming Kalvo3main;
//   recreate   every entry with its folders recreated, the package password, no
//              root, existing files kept (Never), put in place in batches as
//              kalvtool extract does (Batched);
//   plain      every entry without a password, into a destination that already
//              holds what the first two left, asking before overwriting (answered No).
//
// Every path the component hands to the OS must stay inside the destination (the
// jail platform aborts otherwise), nothing may appear beside it, a failure of the
// project's family is a normal end, and the count returned lies between 0 and the
// number of entries. Every entry reported as extracted (Observer::extracted) must be on disk
// with the CRC-32 its record states: the launcher starts the application only on
// what the component calls extracted.
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "archive_harness.h"
#include "core/crc32.h"
#include "core/errors.h"
#include "unzip/extract.h"

namespace {

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

// Every entry reported as extracted is on disk with its stored CRC-32.
class Checker final : public kalv::unzip::Observer {
public:
    const kalv::unzip::Archive* archive = nullptr;
    void extracted(int index, const std::string& path, const kalv::unzip::EntryCheck&) override {
        bool readable = false;
        const uint32_t crc = crc_of_file(path, readable);
        check(readable, "an entry reported extracted cannot be read back");
        check(crc == archive->entry(index).Crc32, "an entry reported extracted differs from its CRC-32");
    }
};

kalv::unzip::ExtractOptions options_of(Setting setting, const std::string& dest) {
    kalv::unzip::ExtractOptions options;
    options.destination = dest;
    switch (setting) {
    case Setting::Launcher:
        options.overwrite = UZOverwriteMode::Always;
        options.password = kPackagePassword;
        options.root = dest + "/";
        options.patterns.push_back(dest + "/Kalvo3main");
        break;
    case Setting::Recreate:
        options.overwrite = UZOverwriteMode::Never;
        options.password = kPackagePassword;
        options.all = true;
        options.recreate_dirs = true;
        options.durability = kalv::unzip::UZDurability::Batched;
        break;
    case Setting::Plain:
        options.overwrite = UZOverwriteMode::Prompt;
        options.all = true;
        break;
    }
    return options;
}

void extract(Setting setting) {
    auto& sandbox = kalv::fuzz::ArchiveSandbox::instance();
    Checker checker;
    try {
        kalv::unzip::Archive archive(sandbox.jail(), sandbox.archive());
        checker.archive = &archive;
        archive.read({}, checker);
        const int count = kalv::unzip::extract(sandbox.jail(), archive, options_of(setting, sandbox.dest()), checker);
        check(count >= 0 && count <= archive.count(), "count out of range");
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
