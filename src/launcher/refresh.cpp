// The installation's configuration and the refresh of the program package from the
// upgrade location.
#include <exception>

#include "core/errors.h"

#include "launcher/boxes.h"
#include "launcher/launcher.h"

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
// that fails midway may end a copy as if the source ended there.
bool CopyCompletely(const std::string& source, const std::string& target) {
    if (!platform::current().copy_file(source, target, false)) return false;
    const int64_t expected = FileSize(source);
    return expected >= 0 && FileSize(target) == expected;
}

}  // namespace

void ReadNetInf() {
    UpgradePath = platform::current().profile_string(LauncherDir() + kNetInfName, "DB", "Upgrade",
                                                     kProgramPackageName, kProfileBufferSize);
}

void HaveNewVersion(const std::string& target, const std::string& source) {
    platform::Platform& os = platform::current();
    try {
        const int32_t sourceAge = os.file_age(source);
        if (sourceAge == -1) {
            ShowErrorBox(Text(kTextFileNotFound) + kBoxLineBreak + source, "CopyFile");
            return;
        }
        // Signed comparison: a missing target (-1) is older than any upgrade copy; an
        // equal age (two-second resolution) or an older copy never replaces the target.
        if (os.file_age(target) >= sourceAge) return;
        // The copy keeps the source's last-write time, and so does the replacement, so
        // the refreshed package has the upgrade copy's age and is not copied again. The
        // replacement is one step: the old package stays until the new one takes its place.
        const std::string incoming = target + kIncomingSuffix;
        if (!CopyCompletely(source, incoming) || !os.replace_file(incoming, target)) os.delete_file(incoming);
    } catch (const std::exception& failure) {
        ShowProblemBox("HaveNewVersion", failure.what(), "CopyFile");
    }
}

}  // namespace kalv::launcher
