// The archive directory on arbitrary bytes: Archive::read (end-record search, central
// directory, local-header scan) and its readers, in every sort mode.
//
// A failure of the project's family (not a zip file, incomplete, duplicate offsets,
// index out of range, ...) is a normal end; anything else escaping, a sanitizer
// report or a hang is a finding. Checked besides:
//   - every index from 0 to count - 1 answers, and the first one past it fails
//     with the list's out-of-range failure;
//   - FileNameLength matches the stored name, and FileName holds no delimiter;
//   - a sort mode orders the same entries as the physical order, only differently.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "archive_harness.h"
#include "core/errors.h"
#include "unzip/archive.h"
#include "unzip/extract.h"

namespace {

using kalv::unzip::ZipSortMode;

void check(bool ok) {
    if (!ok) abort();
}

// The directory as the readers show it, in index order; empty when reading failed.
std::vector<std::string> read_directory(const std::string& archive_path, ZipSortMode mode, bool scan_when_incomplete,
                                        bool& read_ok) {
    kalv::unzip::DirectoryOptions options;
    options.sort = mode;
    if (scan_when_incomplete) options.incomplete = kalv::unzip::IncompleteZipMode::izAssumeBad;
    kalv::unzip::Observer nobody;  // no disk comes, nothing is asked
    std::vector<std::string> names;
    read_ok = false;
    try {
        kalv::unzip::Archive archive(kalv::fuzz::ArchiveSandbox::instance().jail(), archive_path, options, nobody);
        const int count = archive.count();
        check(count >= 0);
        for (int i = 0; i < count; ++i) {
            const auto& entry = archive.entry(i);
            check(entry.FileNameLength == entry.Directory().size() + entry.FileName().size());
            check(entry.FileName().find('/') == std::string::npos);
            names.push_back(entry.StoredPath() + "@" + std::to_string(entry.RelativeOffset));
            archive.entry_comment(i);
        }
        archive.archive_comment();
        read_ok = true;
        bool refused = false;
        try {
            archive.entry(count);
        } catch (const kalv::ListError&) {
            refused = true;
        }
        check(refused);
    } catch (const kalv::Error&) {
        // A damaged archive ends here by design.
    }
    return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto& sandbox = kalv::fuzz::ArchiveSandbox::instance();
    sandbox.write_archive(data, size);

    for (bool scan : {false, true}) {
        bool physical_ok = false;
        std::vector<std::string> physical = read_directory(sandbox.archive(), ZipSortMode::ByNone, scan, physical_ok);
        if (!physical_ok || physical.size() < 2) continue;
        std::sort(physical.begin(), physical.end());
        for (int mode = 0; mode < 7; ++mode) {
            bool ok = false;
            std::vector<std::string> sorted =
                read_directory(sandbox.archive(), static_cast<ZipSortMode>(mode), scan, ok);
            check(ok);
            std::sort(sorted.begin(), sorted.end());
            check(sorted == physical);
        }
    }
    sandbox.check_and_clear();
    return 0;
}
