// The installation's configuration and the refresh of the program package from the
// upgrade location.
#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <vector>

#include "core/errors.h"

#include "launcher/boxes.h"
#include "launcher/launcher.h"
#include "launcher/package_trust.h"
#include "launcher/run_log.h"
#include "platform/profile_text.h"
#include "unzip/extract.h"

namespace kalv::launcher {

namespace {

// GetPrivateProfileStringA reads into a buffer of this size; longer values are cut.
constexpr size_t kProfileBufferSize = 2048;

// The copy of the upgrade package is made beside the target, under the target's name, a
// random tag and this suffix, and put in place only once complete, so a copy that
// breaks off never leaves a torn package. The name is created exclusively: nothing
// planted there is written through, and a read-only leftover of a crashed run blocks
// no upgrade.
constexpr const char* kIncomingSuffix = ".incoming";

// NET.INF is a few lines; what lies past this is not looked at for the log's reason.
constexpr size_t kNetInfReadLimit = 1 << 16;

std::string BoundText(std::chrono::milliseconds bound) {
    return bound.count() % 1000 == 0 ? std::to_string(bound.count() / 1000) + " s"
                                     : std::to_string(bound.count()) + " ms";
}

std::string NoAnswer(std::chrono::milliseconds bound) {
    return "the upgrade location did not answer within " + BoundText(bound) + "; the local package is used";
}

// Copies the upgrade copy to `incoming`; empty when it is complete, else why not. A
// copy is complete when the platform says so and it is as long as its source: a read
// that fails midway may end a copy as if the source ended there, and a source that is
// still being written has grown meanwhile.
std::string CopyCompletely(platform::FileSystem& files, const std::string& source, const std::string& incoming,
                           std::chrono::milliseconds bound) {
    // A copy that fails removes what it made, and only that.
    if (!files.copy_file(source, incoming, true, bound)) return "the copy failed or stalled";
    const std::optional<platform::FileLook> again = files.look_within(source, bound);
    if (!again) return NoAnswer(bound);
    if (again->size < 0 || files.file_size(incoming) != again->size) {
        files.delete_file(incoming);
        return "the copy failed or stalled";
    }
    return {};
}

constexpr int32_t kNoAge = -1;

std::string ReadHead(platform::FileSystem& files, const std::string& path) {
    const std::unique_ptr<platform::FileHandle> file = files.open_file(path, platform::OpenMode::ReadShared);
    std::string head(kNetInfReadLimit, '\0');
    head.resize(file->read(head.data(), head.size()));
    return head;
}

}  // namespace

std::string WhyNoUpgradePath(platform::FileSystem& files, const std::string& net_inf) {
    const std::string name = kNetInfName;
    if (!files.file_exists(net_inf)) return "there is no " + name;
    std::string content;
    try {
        content = ReadHead(files, net_inf);
    } catch (const std::exception&) {
        return name + " cannot be read";
    }
    if (content.rfind("\xFF\xFE", 0) == 0 || content.rfind("\xFE\xFF", 0) == 0)
        return name + " is UTF-16 text, which is not read (save it as ANSI or UTF-8)";
    const std::optional<std::vector<std::string>> keys = platform::profile_section_keys(content, "DB");
    if (!keys) return name + " has no [DB] section";
    std::string found;
    for (const std::string& key : *keys) found += (found.empty() ? "" : ", ") + key;
    return name + "'s [DB] section has no Upgrade key" + (found.empty() ? "" : " (it has: " + found + ")");
}

void ReadNetInf(platform::FileSystem& files, Installation& installation) {
    std::string& UpgradePath = installation.UpgradePath;
    const std::string file = installation.Folder + kNetInfName;
    // The profile API gives the default alike for a missing file, section and key: two
    // defaults that no value of a one-line key can be both tell those from a value.
    UpgradePath = files.profile_string(file, "DB", "Upgrade", "\x01", kProfileBufferSize);
    installation.UpgradeConfigured =
        UpgradePath != "\x01" || files.profile_string(file, "DB", "Upgrade", "\x02", kProfileBufferSize) != "\x02";
    if (installation.UpgradeConfigured) {
        runlog::Note("upgrade path: " + UpgradePath);
        installation.TrustedKeys = ReadTrustedKeys(files, file);
        return;
    }
    // Without a location of its own, a relative default would be looked up in whatever
    // folder the launcher was started from (a download folder): no refresh at all.
    UpgradePath.clear();
    runlog::Note("upgrade path: none, " + WhyNoUpgradePath(files, file) + "; no refresh");
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

namespace {

// The check runs under the splash window: it repaints between blocks, and a scan of
// local headers shows the hourglass, as an extraction does.
class SplashKeptAlive final : public unzip::Observer {
public:
    explicit SplashKeptAlive(platform::UserInterface& ui) : ui_(ui) {}
    void keep_alive() override { ui_.process_messages(); }
    void scanning(bool begins) override {
        ui_.set_cursor(begins ? platform::Cursor::HourGlass : platform::Cursor::Default);
    }

private:
    platform::UserInterface& ui_;
};

}  // namespace

bool IsSoundProgramPackage(platform::FileSystem& files, platform::UserInterface& ui, const std::string& path) {
    try {
        SplashKeptAlive observer(ui);
        unzip::Archive archive(files, path, {}, observer);
        unzip::ExtractOptions options;
        options.test_only = true;
        options.password = PackagePassword();
        options.patterns = {kProgramEntryName};
        return unzip::extract(files, archive, options, observer) > 0;
    } catch (const std::exception&) {
        return false;  // unreadable, truncated, not an archive: not a package to install
    }
}

std::string InstallCheckedCopy(platform::FileSystem& files, platform::UserInterface& ui,
                               const std::vector<NamedKey>& trusted, const std::string& incoming,
                               const std::string& target) {
    // The launcher's own copy is checked, never the share's or the server's file, which
    // can change between a check and the copy.
    std::string why_not = WhyNotTrusted(files, trusted, incoming);
    if (why_not.empty()) why_not = WhyRollback(files, trusted, incoming, target);
    if (why_not.empty() && !IsSoundProgramPackage(files, ui, incoming))
        why_not = "the copy is no sound package (its Kalvo3main does not decrypt or fails its CRC)";
    if (!why_not.empty()) return why_not;
    // A package copied from a CD or a read-only share must not block every later upgrade.
    files.clear_read_only(target);
    if (!files.replace_file(incoming, target)) return "the local package could not be replaced";
    return {};
}

void HaveNewVersion(platform::FileSystem& files, platform::UserInterface& ui, const std::string& target,
                    const std::string& source, std::chrono::milliseconds bound,
                    const std::vector<NamedKey>& trusted) {
    try {
        // The upgrade location is only ever looked at within the bound: a share that
        // hangs costs this start the bound once, and the run goes on without it.
        const std::optional<platform::FileLook> upgrade = files.look_within(source, bound);
        if (!upgrade) {
            runlog::Note("refresh: not fetched, " + NoAnswer(bound));
            return;
        }
        // Presence, not age: an upgrade copy dated 1979 is there all the same.
        if (!upgrade->exists) {
            ShowErrorBox(ui, Text(ui, kTextFileNotFound) + kBoxLineBreak + source, "CopyFile");
            return;
        }
        const bool target_exists = files.file_exists(target);
        const int32_t target_age = files.file_age(target);
        runlog::Note("local package: " + runlog::PackageText(target_exists, target_age, files.file_size(target)));
        runlog::Note("upgrade copy: " + runlog::PackageText(true, upgrade->age, upgrade->size));
        if (!UpgradeIsNewer(target_exists, target_age, upgrade->age)) {
            runlog::Note("refresh: not fetched, the upgrade copy is not newer");
            return;
        }
        // The copy keeps the source's last-write time, and so does the replacement, so
        // the refreshed package has the upgrade copy's age and is not copied again. It
        // takes the package's place in one step, and only once it proved sound: a copy
        // that is torn, damaged or still being published leaves the shop's package as
        // it was, and a later run fetches the finished one.
        const std::string incoming = target + "." + files.random_tag() + kIncomingSuffix;
        std::string why_not = CopyCompletely(files, source, incoming, bound);
        if (why_not.empty()) {
            why_not = InstallCheckedCopy(files, ui, trusted, incoming, target);
            if (!why_not.empty()) files.delete_file(incoming);
        }
        runlog::Note(why_not.empty() ? "refresh: fetched" : "refresh: not fetched, " + why_not);
    } catch (const std::exception& failure) {
        ShowProblemBox(ui, "HaveNewVersion", failure.what(), "CopyFile");
    }
}

}  // namespace kalv::launcher
