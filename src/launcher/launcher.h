// The launcher core: the program entry with its instance guard, the startup sequence,
// the package refresh and the start of the application. Every operation here catches
// failures at its own top and reports them in an error box; none of them lets a failure
// reach the process's end, whose exit code is 0 on every path.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "splash/splash_view.h"

namespace kalv::launcher {

// --- process-wide state ----------------------------------------------------------
// The splash window while the entry owns it; empty before and after.
extern splash::SplashView* frmSplash;
// Read from NET.INF by ReadNetInf; empty before.
extern std::string UpgradePath;
// LauncherDir + "KALVO3.IB", set by the startup sequence once the program is unpacked.
extern std::string DatabasePath;

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

// --- startup sequence ----------------------------------------------------------------
void RunStartup();

// Extracts the one entry `entryName` of the package into `destDir`; true when a file
// was extracted. Failures are shown in a "Problem in UnCompress : " box.
bool UnCompress(const std::string& packagePath, const std::string& destDir, const std::string& password,
                const std::string& entryName);

uint32_t GetPlatformId();

// The characters at indices 0 to highIndex, in order; empty for a negative highIndex.
std::string CharsToText(const char* chars, int highIndex);

// --- installation and package refresh -------------------------------------------------
void ReadNetInf();

// Replaces the local package `target` by the upgrade copy `source` when that is newer.
void HaveNewVersion(const std::string& target, const std::string& source);

// --- start token and launch -------------------------------------------------------------
// The start token's plain text for `databasePath`: an in-memory INI document named
// "DummyFile" with [SECTION] DBpath=databasePath, rendered as comma text.
std::string BuildStartToken(const std::string& databasePath);

// Starts `programPath` with `commandLine` as its whole command line; a failure to start
// is shown in a "Can not start this program " box, and a failure raised while starting
// is shown and passed on.
void RunProgram(const std::string& commandLine, const std::string& programPath);

}  // namespace kalv::launcher
