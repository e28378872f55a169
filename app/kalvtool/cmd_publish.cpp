// kalvtool pack [--database] [--key KEYFILE] FILE OUT
// kalvtool publish [--database] [--key KEYFILE] FILE TARGET
// kalvtool publish --package [--key KEYFILE] PACKAGE TARGET
// A package of FILE as the launchers read it: the entry "Kalvo3main" (or "KALVO3.IB"
// with --database), Deflate-compressed, encrypted with the launchers' package password
// behind a fresh random encryption header. Both write beside the destination first,
// flush, read the package back with the launcher's extraction component and rename it
// into place in one step; publish also dates it after the package it replaces, so that
// every launcher fetches it at its next start. FILE that is empty or already a ZIP
// archive (a package inside a package installs everywhere and starts nowhere) is
// refused, and so is a destination that is FILE itself; a package made elsewhere is
// published with --package, checked as a launcher checks a fetched copy.
// Exit 0 done, 2 failed or refused (message on stderr; the destination is unchanged),
// 64 usage.
#include <chrono>
#include <cstdio>

#include "commands.h"
#include "core/dos_time.h"
#include "launcher/texts.h"
#include "publish/publish.h"
#include "signing_keys.h"

namespace kalvtool {
namespace {

std::string dos_text(int32_t age) {
    if (age == -1) return "(no date)";
    const kalv::DosFields t = kalv::unpack_dos(static_cast<uint32_t>(age));
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return text;
}

int run_package(kalv::platform::Platform& os, const char* command, const char* destination_word, bool publishing,
                const Args& args) {
    bool database = false, made_elsewhere = false, options_done = false;
    std::vector<std::string> files;
    std::string key_file;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!options_done && a == "--key") {
            if (++i == args.size() || args[i].empty()) return usage_error(std::string(command) + ": --key needs KEYFILE");
            key_file = args[i];
        } else if (!options_done && a == "--") {
            options_done = true;
        } else if (!options_done && a == "--database") {
            database = true;
        } else if (!options_done && publishing && a == "--package") {
            made_elsewhere = true;
        } else if (!options_done && a.size() > 1 && a[0] == '-') {
            return usage_error(std::string(command) + ": unknown option " + a);
        } else {
            files.push_back(a);
        }
    }
    const std::string given = made_elsewhere ? "PACKAGE" : "FILE";
    if (files.size() != 2 || files[0].empty() || files[1].empty())
        return usage_error(std::string(command) + " expects " + given + " and " + destination_word);
    // Launchers fetch only the program package; a database package is installed by hand.
    if (database && made_elsewhere)
        return usage_error("publish: --package publishes a program package, not --database");

    kalv::publish::PublishOptions options;
    options.entry_name = database ? kalv::launcher::kDatabaseEntryName : kalv::launcher::kProgramEntryName;
    options.password = std::string(kalv::launcher::kPackagePasswordChars, kalv::launcher::kPackagePasswordHighIndex + 1);
    options.newer_than_replaced = publishing;
    const auto signed_by = std::make_shared<std::string>();
    if (!key_file.empty()) options.seal = keys::package_signer(os, key_file, signed_by);

    const auto start = std::chrono::steady_clock::now();
    const kalv::publish::PublishResult r = made_elsewhere
                                               ? kalv::publish::publish_made_package(os, files[0], files[1], options)
                                               : kalv::publish::publish_package(os, files[0], files[1], options);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (r.ahead_of_clock)
        std::fprintf(stderr,
                     "kalvtool %s: warning: the package replaced was dated ahead of this computer's clock; "
                     "the new one is dated %s so that launchers still fetch it\n",
                     command, dos_text(r.age).c_str());
    // Only a warning: the Linux build's launcher starts programs of its own kind.
    if (!database && !r.windows_program)
        std::fprintf(stderr,
                     "kalvtool %s: warning: %s is no Windows program (no MZ header with a PE signature): "
                     "the shops' Kalv3.exe cannot start it\n",
                     command, made_elsewhere ? (files[0] + "'s Kalvo3main").c_str() : files[0].c_str());
    std::printf("%s %s (%llu bytes, CRC-32 %08X) as %s: %llu bytes, dated %s, %sread back and checked in %.2f s\n",
                publishing ? "published" : "packed", options.entry_name.c_str(),
                static_cast<unsigned long long>(r.package.size), static_cast<unsigned>(r.package.crc32),
                files[1].c_str(), static_cast<unsigned long long>(r.package.archive_size), dos_text(r.age).c_str(),
                signed_by->empty() ? "" : ("signed by key " + *signed_by + ", ").c_str(), seconds);
    return kExitOk;
}

int run_pack(kalv::platform::Platform& os, const Args& args) { return run_package(os, "pack", "OUT", false, args); }
int run_publish(kalv::platform::Platform& os, const Args& args) {
    return run_package(os, "publish", "TARGET", true, args);
}

// What pack and publish share, for `kalvtool help` (a macro so that the two texts
// below can be joined at compile time).
#define KALVTOOL_PACKAGE_DETAILS                                                                   \
    "The package holds FILE as the entry Kalvo3main, or KALVO3.IB with --database, Deflate-\n"     \
    "compressed and encrypted with the launchers' package password behind a fresh random\n"       \
    "encryption header. It is written beside the destination under a temporary name, flushed\n"   \
    "to the disk, read back with the launcher's own extraction component (password, Inflate,\n"   \
    "CRC-32), and only then renamed over the destination in one step. On any failure the\n"      \
    "destination is left as it was and the temporary file is removed. Info-ZIP unzip -P and\n"   \
    "7-Zip extract the package too. FILE that is empty or itself a ZIP archive is refused,\n"    \
    "and so is a destination that is FILE itself; a FILE that is no Windows program (no PE\n"   \
    "image) is packed with a warning.\n"                                                          \
    "With --key KEYFILE (kalvtool keygen's file) the package is signed inside its ZIP end\n"    \
    "record before it is read back; launchers whose NET.INF names that key as PublicKey=\n"     \
    "install only packages signed so.\n\n"                                                     \
    "Exit codes: 0 done, 2 failed or refused (message on stderr), 64 usage error."

const Registration pack_registration{
    {"pack", "kalvtool pack [--database] [--key KEYFILE] FILE OUT  package FILE as the local file OUT", run_pack,
     KALVTOOL_PACKAGE_DETAILS}};

const Registration publish_registration{
    {"publish",
     "kalvtool publish [--database] [--key KEYFILE] FILE TARGET  package FILE, put it in place of TARGET\n"
     "kalvtool publish --package [--key KEYFILE] PACKAGE TARGET  put a package made elsewhere there",
     run_publish,
     "TARGET is the upgrade copy that the shops' NET.INF names (Upgrade=), e.g. on a share.\n"
     "The new package is dated now, and always after the package it replaces (waiting up to\n"
     "a few seconds for the clock when needed), so each launcher fetches it at its next start.\n"
     "A launcher reading TARGET meanwhile gets the old package or the new one, never a part;\n"
     "on Windows a TARGET held open by a launcher's copy is retried for up to 20 seconds.\n"
     "Publishers to one TARGET take turns: each holds TARGET.publish-lock (its pid, host and\n"
     "start) from reading TARGET's date to the rename, and waits up to 2 minutes for another;\n"
     "a lock whose holder on this computer has ended, or older than 10 minutes, is taken over.\n"
     "POSIX: the new TARGET keeps the old one's mode, owner and group where allowed.\n"
     "--package publishes a package made elsewhere, checked as a launcher checks a fetched\n"
     "copy (Kalvo3main opens with the package password and passes its CRC-32) and refused\n"
     "when its Kalvo3main is empty or itself a ZIP archive.\n\n"
     KALVTOOL_PACKAGE_DETAILS}};

}  // namespace
}  // namespace kalvtool
