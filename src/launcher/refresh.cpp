// The installation's configuration and the refresh of the program package from the
// upgrade location.
#include <exception>

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
        // The copy keeps the source's last-write time, and so does the rename, so the
        // refreshed package has the upgrade copy's age and is not copied again.
        const std::string incoming = target + kIncomingSuffix;
        if (!os.copy_file(source, incoming, false)) {
            os.delete_file(incoming);
            return;
        }
        os.delete_file(target);
        if (!os.move_file(incoming, target)) os.delete_file(incoming);
    } catch (const std::exception& failure) {
        ShowProblemBox("HaveNewVersion", failure.what(), "CopyFile");
    }
}

}  // namespace kalv::launcher
