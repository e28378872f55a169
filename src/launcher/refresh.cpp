// The installation's configuration and the refresh of the program package from the
// upgrade location.
#include <exception>

#include "core/errors.h"

#include "launcher/boxes.h"
#include "launcher/launcher.h"
#include "launcher/run_log.h"
#include "unzip/unzipper.h"

namespace kalv::launcher {

std::string UpgradePath;

namespace {

// GetPrivateProfileStringA reads into a buffer of this size; longer values are cut.
constexpr size_t kProfileBufferSize = 2048;

// The copy of the upgrade package is made under this name beside the target and put in
// place only once complete, so a copy that breaks off never leaves a torn package.
constexpr const char* kIncomingSuffix = ".incoming";

// The size of a file, or -1 when it cannot be opened.
int64_t FileSize(const std::string& path) {
    try {
        return platform::current().open_file(path, platform::OpenMode::ReadShared)->size();
    } catch (const Error&) {
        return -1;
    }
}

// A copy is complete when the platform says so and it is as long as its source: a read
// that fails midway may end a copy as if the source ended there, and a source that is
// still being written has grown meanwhile.
bool CopyCompletely(const std::string& source, const std::string& target) {
    if (!platform::current().copy_file(source, target, false, kCopyStallTimeout)) return false;
    const int64_t expected = FileSize(source);
    return expected >= 0 && FileSize(target) == expected;
}

constexpr int32_t kNoAge = -1;

std::string DescribePackage(bool exists, int32_t age, const std::string& path) {
    if (!exists) return "missing";
    return runlog::DosTimeText(age) + ", " + std::to_string(FileSize(path)) + " bytes";
}

}  // namespace

void ReadNetInf() {
    UpgradePath = platform::current().profile_string(LauncherDir() + kNetInfName, "DB", "Upgrade",
                                                     kProgramPackageName, kProfileBufferSize);
    runlog::Note("upgrade path: " + UpgradePath);
}

// Ages are DOS date-times, which sort as unsigned numbers: from 2044 on the top bit is
// set, and a signed comparison would put those years before 1980. An equal age
// (two-second resolution) or an older copy never replaces the target.
bool UpgradeIsNewer(bool target_exists, int32_t target_age, int32_t source_age) {
    if (!target_exists) return true;  // the first run of an installation fetches its package
    // A copy without a representable date cannot be shown to be newer.
    if (source_age == kNoAge) return false;
    // A local package dated before 1980 or after 2107 gives way to any dated copy.
    if (target_age == kNoAge) return true;
    return static_cast<uint32_t>(target_age) < static_cast<uint32_t>(source_age);
}

bool IsSoundProgramPackage(const std::string& path) {
    try {
        unzip::UnZipper checker;
        checker.TestMode = true;
        checker.Password = PackagePassword();
        checker.SetZipName(path);
        checker.FilesList.push_back(kProgramEntryName);
        return checker.UnZip() > 0;
    } catch (const std::exception&) {
        return false;  // unreadable, truncated, not an archive: not a package to install
    }
}

void HaveNewVersion(const std::string& target, const std::string& source) {
    platform::Platform& os = platform::current();
    try {
        // Presence, not age: an upgrade copy dated 1979 is there all the same.
        if (!os.file_exists(source)) {
            ShowErrorBox(Text(kTextFileNotFound) + kBoxLineBreak + source, "CopyFile");
            return;
        }
        const bool target_exists = os.file_exists(target);
        const int32_t target_age = os.file_age(target), source_age = os.file_age(source);
        runlog::Note("local package: " + DescribePackage(target_exists, target_age, target));
        runlog::Note("upgrade copy: " + DescribePackage(true, source_age, source));
        if (!UpgradeIsNewer(target_exists, target_age, source_age)) {
            runlog::Note("refresh: not fetched, the upgrade copy is not newer");
            return;
        }
        // The copy keeps the source's last-write time, and so does the replacement, so
        // the refreshed package has the upgrade copy's age and is not copied again. It
        // takes the package's place in one step, and only once it proved sound: a copy
        // that is torn, damaged or still being published leaves the shop's package as
        // it was, and a later run fetches the finished one.
        const std::string incoming = target + kIncomingSuffix;
        std::string why_not;
        if (!CopyCompletely(source, incoming)) {
            why_not = "the copy failed or stalled";
        } else if (!IsSoundProgramPackage(incoming)) {
            why_not = "the copy is no sound package (its Kalvo3main does not decrypt or fails its CRC)";
        } else {
            // A package copied from a CD or a read-only share must not block every
            // later upgrade.
            os.clear_read_only(target);
            if (!os.replace_file(incoming, target)) why_not = "the local package could not be replaced";
        }
        runlog::Note(why_not.empty() ? "refresh: fetched" : "refresh: not fetched, " + why_not);
        if (!why_not.empty()) os.delete_file(incoming);
    } catch (const std::exception& failure) {
        ShowProblemBox("HaveNewVersion", failure.what(), "CopyFile");
    }
}

}  // namespace kalv::launcher
