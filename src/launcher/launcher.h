// The launcher core: the program entry with its instance guard, the startup sequence,
// the package refresh and the start of the application. Every operation here catches
// failures at its own top and reports them in an error box; none of them lets a failure
// reach the process's end, whose exit code is 0 on every path.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "launcher/package_trust.h"
#include "platform/platform.h"
#include "platform/web.h"
#include "splash/splash_view.h"

namespace kalv::launcher {

// --- the installation --------------------------------------------------------------
// The installation this launcher serves, made by the entry and handed down.
struct Installation {
    // LauncherDir: where the packages, NET.INF and the unpacked files lie.
    std::string Folder;
    // Read from NET.INF by ReadNetInf; empty before, and when NET.INF names none.
    std::string UpgradePath;
    // NET.INF names an upgrade location (an empty value too): only then is there a refresh.
    bool UpgradeConfigured = false;
    // Folder + "KALVO3.IB", set by the startup sequence once the program is unpacked.
    std::string DatabasePath;
    // The publisher keys NET.INF names (PublicKey, PublicKey2): once there is one, only
    // an upgrade copy signed by one of them is installed.
    std::vector<NamedKey> TrustedKeys;
};

// The OS by job, as the steps that need more than one job are given it.
struct LauncherOs {
    platform::FileSystem& files;
    platform::Processes& processes;
    platform::UserInterface& ui;
    // The HTTP client, for an upgrade location named by a URL; none: such a location
    // is not fetched (noted in the run log).
    platform::WebClient* web = nullptr;
};

// How long a launcher waits for another one working on the same installation, how
// long it then gives the application that one started to hold its mutex, and how
// long a copy from the upgrade location may deliver nothing before it is given up.
inline constexpr std::chrono::milliseconds kOtherLauncherWait{60000};
inline constexpr std::chrono::milliseconds kApplicationStartWait{10000};
inline constexpr std::chrono::milliseconds kCopyStallTimeout{30000};

// A download from a URL ends past this many bytes (a hostile or broken server cannot
// fill the disk) and past this time, though bytes keep trickling in.
inline constexpr int64_t kWebDownloadCap = int64_t{1} << 30;
inline constexpr std::chrono::milliseconds kWebDownloadLimit{30 * 60 * 1000};

// The directory part of the launcher's own full path, up to and including the last
// path delimiter (on Windows a backslash or the drive's colon).
std::string LauncherDir(platform::Processes& processes);

// --- entry -------------------------------------------------------------------------
// The whole run of the launcher process on `os` (the native platform, or a test's
// fake): the guard, then a splash window from `open_splash` (created, shown and
// painted), which the entry owns for the run, the startup sequence, the window freed.
// Returns the exit code, 0 on every path.
// `web`: the HTTP client for an upgrade location named by a URL (none: not fetched).
int RunLauncher(platform::Platform& os, const std::function<std::unique_ptr<splash::SplashView>()>& open_splash,
                platform::WebClient* web = nullptr);

// True when the application is not running; otherwise tells the user so and is false.
bool CheckSingleInstance(platform::Processes& processes, platform::UserInterface& ui);

// The name of the lock that keeps two launchers of the installation in `folder` apart.
std::string InstallationLockName(const std::string& folder);

// --- startup sequence ----------------------------------------------------------------
// The sequence in the installation's folder, shown in `frmSplash`; fills the
// installation's upgrade and database paths.
void RunStartup(const LauncherOs& os, Installation& installation, splash::SplashView& frmSplash);

// Extracts the one entry `entry_name` of the package into `dest_dir`; true when a file
// was extracted. Failures are shown in a "Problem in UnCompress : " box.
bool UnCompress(const LauncherOs& os, const std::string& package_path, const std::string& dest_dir,
                const std::string& password, const std::string& entry_name);

uint32_t GetPlatformId(platform::Processes& processes);

// The password of both packages.
std::string PackagePassword();

// The characters at indices 0 to high_index, in order; empty for a negative high_index.
std::string CharsToText(const char* chars, int high_index);

// --- installation and package refresh -------------------------------------------------
// Reads the installation's NET.INF: its upgrade path, and whether it names one.
void ReadNetInf(platform::FileSystem& files, Installation& installation);

// Why NET.INF at `net_inf` gives no [DB] Upgrade value: no file, UTF-16 text, no [DB]
// section, or no such key in it (with the keys it has, a typo shows there).
std::string WhyNoUpgradePath(platform::FileSystem& files, const std::string& net_inf);

// Replaces the local package `target` by the upgrade copy `source` when that is newer
// and, once copied beside the target, proves a sound program package. Every look at
// `source` and the copy answer within `bound`, or the refresh is given up. With
// `trusted` keys, the copy must also carry a signature by one of them.
void HaveNewVersion(platform::FileSystem& files, platform::UserInterface& ui, const std::string& target,
                    const std::string& source, std::chrono::milliseconds bound = kCopyStallTimeout,
                    const std::vector<NamedKey>& trusted = {});

// HaveNewVersion for an upgrade location named by a URL (platform::IsWebLocation),
// fetched through `os.web`: a conditional request (the package's last-write time, the
// ETag it came with), a download cut short resumed, the server's Last-Modified taken as
// the copy's age. A 404 shows the "File not found" box; a network failure or another
// status is noted in the run log only.
void HaveNewVersionFromWeb(const LauncherOs& os, const std::string& target, const std::string& url,
                           const std::vector<NamedKey>& trusted = {});

// A download cut short, kept beside the package for the next start to resume: its
// length and the validator it was fetched under (a strong ETag, else Last-Modified).
struct PendingDownload {
    int64_t size = 0;
    std::string validator;
};
// The pending download beside `target` that the next start would resume; none when no
// usable one is kept. Reads only; changes nothing.
std::optional<PendingDownload> PendingWebDownload(platform::FileSystem& files, const std::string& target);
// Whether the server's copy, as `head` describes it, is the one `pending` was cut from
// (If-Range would let the rest come as a 206).
bool ResumesFrom(const PendingDownload& pending, const platform::WebAnswerHead& head);

// Whether an upgrade copy of age `source_age` replaces a local package of age
// `target_age` (file ages; -1 for none).
bool UpgradeIsNewer(bool target_exists, int32_t target_age, int32_t source_age);

// Puts the launcher's own copy `incoming` of an upgrade copy in the place of the local
// package `target` in one step, once it proves fit: signed by a `trusted` key and no
// older than the installed program (when keys are trusted), and a sound program
// package. "" when it took the place; otherwise why not, and the copy is the caller's
// to delete.
std::string InstallCheckedCopy(platform::FileSystem& files, platform::UserInterface& ui,
                               const std::vector<NamedKey>& trusted, const std::string& incoming,
                               const std::string& target);

// The package at `path` is a readable archive whose entry "Kalvo3main" decrypts with
// the package password and passes its CRC. Writes nothing.
bool IsSoundProgramPackage(platform::FileSystem& files, platform::UserInterface& ui, const std::string& path);

// --- start token and launch -------------------------------------------------------------
// The start token's plain text for `database_path`: an in-memory INI document named
// "DummyFile" with [SECTION] DBpath=database_path, rendered as comma text.
std::string BuildStartToken(platform::FileSystem& files, const std::string& database_path);

// Starts `program_path` with `command_line` as its whole command line; a failure to start
// is shown in a "Can not start this program " box, and a failure raised while starting
// is shown and passed on.
void RunProgram(platform::Processes& processes, platform::UserInterface& ui, const std::string& command_line,
                const std::string& program_path);

}  // namespace kalv::launcher
