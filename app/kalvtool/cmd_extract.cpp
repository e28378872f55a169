// kalvtool extract [-P PASSWORD] [-d DIR] [-o always|never] [-r] [--sync] ARCHIVE [PATTERN...]
// One run of the extraction core over the archive, as the launcher's component runs
// it: the patterns are its FilesList lines (every entry when there are none). Prints one line per
// chosen entry that was left out, with the reason, then "extracted N of M".
// Exit 0 when all M were extracted, 1 when fewer were, or when patterns were given and
// none of them matched an entry (as unzip does: asking for a missing file is no success).
#include <algorithm>
#include <cstdio>
#include <string>

#include "archive_args.h"
#include "commands.h"
#include "core/printable.h"
#include "unzip/extract.h"
#include "unzip/zip_entries.h"

namespace kalvtool {
namespace {

using kalv::unzip::EntryCheck;
using kalv::unzip::SkipReason;

// Each chosen entry left out, with its reason.
class ExtractReport final : public StderrObserver {
public:
    using StderrObserver::StderrObserver;
    int chosen = 0;

    void starting(int files, int64_t, bool&) override { chosen = files; }
    void skipped(int, SkipReason reason, const std::string& name, const EntryCheck& check) override {
        print(name, check.method_known ? kalv::unzip::skip_reason_text(reason) : unknown_method());
    }
    void failed(int index, const EntryCheck& check, uint32_t stored) override {
        char crcs[48];
        std::snprintf(crcs, sizeof crcs, "CRC-32 %08X, expected %08X", static_cast<unsigned>(check.computed_crc),
                      static_cast<unsigned>(stored));
        print(archive->entry(index).StoredPath(), check.method_known ? crcs : unknown_method());
    }

private:
    static const char* unknown_method() { return kalv::unzip::skip_reason_text(SkipReason::srUnknownMethod); }
    static void print(const std::string& name, const char* why) {
        std::printf("skipped %s: %s\n", kalv::printable(name).c_str(), why);
    }
};

// The destination as the component stores it: without one trailing delimiter.
std::string destination(std::string dir) {
    if (!dir.empty() && dir.back() == kalv::unzip::kPathDelimiter) dir.pop_back();
    return dir;
}

// Takes "--sync" out of the options (those before a "--"); returns whether it was there.
bool take_sync_option(Args& args) {
    const auto end = std::find(args.begin(), args.end(), std::string("--"));
    const auto first = std::remove(args.begin(), end, std::string("--sync"));
    const bool found = first != end;
    args.erase(first, end);
    return found;
}

int run_extract(kalv::platform::Platform& os, const Args& given) {
    Args args = given;
    const bool sync_each = take_sync_option(args);
    const std::optional<ArchiveArgs> a = parse_archive_args(args, "Pdor", "extract");
    if (!a) return kExitUsage;
    const std::vector<std::string>& patterns = a->patterns;
    ExtractReport report("extract");
    const std::unique_ptr<kalv::unzip::Archive> archive = open_archive(os, a->archive, report);
    kalv::unzip::ExtractOptions options;
    options.make_links = true;  // those that stay inside the destination, as unzip makes them
    options.password = a->password;
    // An administrator's extraction may hold thousands of small files: they reach the
    // disk in batches, each synced before any of its names is given, so that the files
    // do not wait on each other's syncs; --sync has each entry synced on its own, as
    // the launcher does.
    options.durability = sync_each ? kalv::unzip::UZDurability::PerEntry : kalv::unzip::UZDurability::Batched;
    options.overwrite = a->overwrite;
    options.recreate_dirs = a->recreate_dirs;
    options.destination = destination(a->dest);
    // The report only listens: entries may be extracted several at once.
    options.answers_nothing = true;
    choose_entries(options, patterns);
    const int extracted = kalv::unzip::extract(os, *archive, options, report);
    const int chosen = report.chosen;
    if (chosen == 0 && !patterns.empty()) std::printf("no entry matches the patterns given\n");
    std::printf("extracted %d of %d\n", extracted, chosen);
    if (chosen == 0 && !patterns.empty()) return kExitPartial;
    return extracted == chosen ? kExitOk : kExitPartial;
}

const Registration registration{
    {"extract", "kalvtool extract [-P PASSWORD] [-d DIR] [-o always|never] [-r] [--sync] ARCHIVE [PATTERN...]",
     run_extract,
     "Runs the launcher's own extraction component. PATTERNs choose entries by their last\n"
     "path component (*, ?, <a-z> sets; letter case ignored), every entry without one.\n"
     "-d DIR: where to extract (default: the current folder); -r: recreate stored folders;\n"
     "-o never: keep existing files. Each chosen entry left out is reported with its reason,\n"
     "then \"extracted N of M\". A failed entry never leaves a partial file behind.\n"
     "Each file is written under a temporary name, CRC-checked, dated and renamed into\n"
     "place; the files reach the disk together, synced in batches of up to 256 files or\n"
     "32 MiB before their names are given. --sync: each file synced on its own before its\n"
     "rename, as the launcher does (slower on many small files).\n"
     "Times: the UTC time of the entry's Info-ZIP time field where it has one, else its\n"
     "DOS time as local time. Symbolic links and WinZip AES entries are not extracted:\n"
     "they are reported, and the exit code is 1.\n\n"
     "Exit codes: 0 all extracted, 1 fewer, 2 the archive failed, 64 usage error."}};

}  // namespace
}  // namespace kalvtool
