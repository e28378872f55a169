// kalvtool extract [-P PASSWORD] [-d DIR] [-o always|never] [-r] ARCHIVE [PATTERN...]
// One extraction component run over the archive, as the launcher runs it: the
// patterns are its FilesList (every entry when there are none). Prints one line per
// chosen entry that was left out, with the reason, then "extracted N of M".
// Exit 0 when all M were extracted, 1 when fewer were, or when patterns were given and
// none of them matched an entry (as unzip does: asking for a missing file is no success).
#include <cstdio>

#include "commands.h"
#include "unzip/unzipper.h"

namespace kalvtool {
namespace {

using kalv::unzip::UnZipper;
using kalv::unzip::UZOverwriteMode;

int run_extract(const Args& args) {
    UnZipper zip;
    std::string archive, dest = ".";
    std::vector<std::string> patterns;
    UZOverwriteMode overwrite = UZOverwriteMode::Always;
    bool recreate_dirs = false, options_done = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!options_done && a.size() > 1 && a[0] == '-') {
            if (a == "--") {
                options_done = true;
            } else if (a == "-r") {
                recreate_dirs = true;
            } else if (a == "-P" || a == "-d" || a == "-o") {
                if (i + 1 >= args.size()) return usage_error("option " + a + " needs a value");
                const std::string& value = args[++i];
                if (a == "-P") {
                    zip.Password = value;
                } else if (a == "-d") {
                    dest = value;
                } else if (value == "always") {
                    overwrite = UZOverwriteMode::Always;
                } else if (value == "never") {
                    overwrite = UZOverwriteMode::Never;
                } else {
                    return usage_error("-o takes always or never");
                }
            } else {
                return usage_error("unknown option " + a);
            }
        } else if (archive.empty()) {
            archive = a;
            options_done = true;
        } else {
            patterns.push_back(a);
        }
    }
    if (archive.empty()) return usage_error("extract needs an archive");

    zip.DoProcessMessages = false;  // no window to repaint
    zip.OverwriteMode = overwrite;
    zip.RecreateDirs = recreate_dirs;
    zip.SetZipName(archive);
    zip.SetDestDir(dest);
    zip.FilesList = patterns;
    zip.DoAll = patterns.empty();

    int chosen = 0;
    zip.OnStartUnZipInfo = [&](UnZipper&, int files, int64_t, bool&) { chosen = files; };
    zip.OnSkippingFile = [](UnZipper&, kalv::unzip::SkipReason reason, const std::string& name, int) {
        std::printf("skipped %s: %s\n", name.c_str(), kalv::unzip::skip_reason_text(reason));
    };
    zip.OnBadCRC = [](UnZipper& z, uint32_t computed, uint32_t stored, int index) {
        std::printf("skipped %s: CRC-32 %08X, expected %08X\n", z.Entry(index).StoredPath().c_str(),
                    unsigned(computed), unsigned(stored));
    };
    const int extracted = zip.UnZip();
    if (chosen == 0 && !patterns.empty()) std::printf("no entry matches the patterns given\n");
    std::printf("extracted %d of %d\n", extracted, chosen);
    if (chosen == 0 && !patterns.empty()) return kExitPartial;
    return extracted == chosen ? kExitOk : kExitPartial;
}

const Registration registration{
    {"extract", "kalvtool extract [-P PASSWORD] [-d DIR] [-o always|never] [-r] ARCHIVE [PATTERN...]", run_extract,
     "Runs the launcher's own extraction component. PATTERNs choose entries by their last\n"
     "path component (*, ?, <a-z> sets; letter case ignored), every entry without one.\n"
     "-d DIR: where to extract (default: the current folder); -r: recreate stored folders;\n"
     "-o never: keep existing files. Each chosen entry left out is reported with its reason,\n"
     "then \"extracted N of M\". A failed entry never leaves a partial file behind.\n\n"
     "Exit codes: 0 all extracted, 1 fewer, 2 the archive failed, 64 usage error."}};

}  // namespace
}  // namespace kalvtool
