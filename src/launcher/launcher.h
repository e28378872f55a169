// The launcher core: the program entry with its instance guard, the startup sequence,
// the package refresh and the start of the application. Every operation here catches
// failures at its own top and reports them in an error box; none of them lets a failure
// reach the process's end, whose exit code is 0 on every path.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "splash/splash_view.h"

namespace kalv::launcher {

// --- process-wide state ----------------------------------------------------------
// The splash window while the entry owns it; empty before and after.
extern splash::SplashView* frmSplash;
// Read from NET.INF by ReadNetInf; empty before, and when NET.INF names none.
extern std::string UpgradePath;
// NET.INF names an upgrade location (an empty value too): only then is there a refresh.
extern bool UpgradeConfigured;
// LauncherDir + "KALVO3.IB", set by the startup sequence once the program is unpacked.
extern std::string DatabasePath;
// How long a launcher waits for another one working on the same installation, how
// long it then gives the application that one started to hold its mutex, and how
// long a copy from the upgrade location may deliver nothing before it is given up.
inline constexpr std::chrono::milliseconds kOtherLauncherWait{60000};
inline constexpr std::chrono::milliseconds kApplicationStartWait{10000};
inline constexpr std::chrono::milliseconds kCopyStallTimeout{30000};

// The directory part of the launcher's own full path, up to and including the last
// path delimiter (on Windows a backslash or the drive's colon).
std::string LauncherDir();

// --- entry -------------------------------------------------------------------------
// The whole run of the launcher process: the guard, then a splash window from
// `open_splash` (created, shown and painted), the startup sequence, the window freed.
// Returns the exit code, 0 on every path.
int RunLauncher(const std::function<std::unique_ptr<splash::SplashView>()>& open_splash);

// True when the application is not running; otherwise tells the user so and is false.
bool CheckSingleInstance();

// The name of the lock that keeps two launchers of one installation apart.
std::string InstallationLockName();

// --- startup sequence ----------------------------------------------------------------
void RunStartup();

// Extracts the one entry `entry_name` of the package into `dest_dir`; true when a file
// was extracted. Failures are shown in a "Problem in UnCompress : " box.
bool UnCompress(const std::string& package_path, const std::string& dest_dir, const std::string& password,
                const std::string& entry_name);

uint32_t GetPlatformId();

// The password of both packages.
std::string PackagePassword();

// The characters at indices 0 to high_index, in order; empty for a negative high_index.
std::string CharsToText(const char* chars, int high_index);

// --- installation and package refresh -------------------------------------------------
void ReadNetInf();

// Why NET.INF at `net_inf` gives no [DB] Upgrade value: no file, UTF-16 text, no [DB]
// section, or no such key in it (with the keys it has, a typo shows there).
std::string WhyNoUpgradePath(const std::string& net_inf);

// Replaces the local package `target` by the upgrade copy `source` when that is newer
// and, once copied beside the target, proves a sound program package. Every look at
// `source` and the copy answer within `bound`, or the refresh is given up.
void HaveNewVersion(const std::string& target, const std::string& source,
                    std::chrono::milliseconds bound = kCopyStallTimeout);

// Whether an upgrade copy of age `source_age` replaces a local package of age
// `target_age` (file ages; -1 for none).
bool UpgradeIsNewer(bool target_exists, int32_t target_age, int32_t source_age);

// The package at `path` is a readable archive whose entry "Kalvo3main" decrypts with
// the package password and passes its CRC. Writes nothing.
bool IsSoundProgramPackage(const std::string& path);

// --- start token and launch -------------------------------------------------------------
// The start token's plain text for `database_path`: an in-memory INI document named
// "DummyFile" with [SECTION] DBpath=database_path, rendered as comma text.
std::string BuildStartToken(const std::string& database_path);

// Starts `program_path` with `command_line` as its whole command line; a failure to start
// is shown in a "Can not start this program " box, and a failure raised while starting
// is shown and passed on.
void RunProgram(const std::string& command_line, const std::string& program_path);

}  // namespace kalv::launcher
