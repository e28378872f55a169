// kalvtool test [-P PASSWORD] ARCHIVE [PATTERN...]
// Tests the chosen entries as `unzip -t` does, with the launcher's own extraction
// component: each is read, decrypted, decoded and CRC-checked, and nothing is written.
// One line per entry, "OK    name" or "FAIL  name: reason", then a summary.
#include <cstdio>

#include "archive_args.h"
#include "archive_test.h"
#include "commands.h"
#include "core/printable.h"

namespace kalvtool {
namespace {

int run_test(kalv::platform::Platform& os, const Args& args) {
    const std::optional<ArchiveArgs> a = parse_archive_args(args, "P", "test");
    if (!a) return kExitUsage;
    const ArchiveVerdict verdict = test_archive(os, "test", a->archive, a->password, a->patterns, [](const EntryVerdict& e) {
        const std::string name = kalv::printable(e.name);
        if (e.ok) {
            std::printf("OK    %s\n", name.c_str());
        } else {
            std::printf("FAIL  %s: %s\n", name.c_str(), kalv::printable(e.reason).c_str());
        }
        std::fflush(stdout);  // a long test shows its progress
    });
    // Asking for an entry that is not there is no success (as with extract and unzip).
    if (verdict.chosen == 0 && !a->patterns.empty()) {
        std::printf("no entry matches the patterns given\n");
        return kExitPartial;
    }
    const int failed = verdict.failed();
    std::printf("tested %d %s: %d OK, %d failed\n", verdict.chosen, verdict.chosen == 1 ? "entry" : "entries",
                static_cast<int>(verdict.entries.size()) - failed, failed);
    return failed == 0 ? kExitOk : kExitPartial;
}

const Registration registration{
    {"test", "kalvtool test [-P PASSWORD] ARCHIVE [PATTERN...]", run_test,
     "Tests the archive as the launcher reads it, like unzip -t, and writes nothing: every\n"
     "entry that the PATTERNs choose (as extract takes them; every entry without one) is\n"
     "read, decrypted with PASSWORD, decoded and checked against its CRC-32.\n"
     "One line per entry: \"OK    NAME\", or \"FAIL  NAME: \" and the reason: bad password,\n"
     "CRC-32 mismatch (the value found and the one stored), unknown compression method,\n"
     "bad data (a stream that does not decode, data that ends early). An encrypted entry\n"
     "whose data fails may also have been opened with a wrong password: one wrong password\n"
     "in 256 passes the check at its start. Then \"tested N entries: K OK, F failed\".\n"
     "Check a package with the launchers' password:  kalvtool test -P k3m8_q7rw_2x4 Kalvo3pack\n\n"
     "Exit codes: 0 all OK, 1 some failed (or no entry matches), 2 the archive cannot be\n"
     "read (the reason on stderr), 64 usage error."}};

}  // namespace
}  // namespace kalvtool
