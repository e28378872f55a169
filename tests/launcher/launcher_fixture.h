// A launcher installation on the recording fake: the fake stands in for the platform
// and the splash window for the whole test, and is handed to the launcher's steps.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/errors.h"
#include "launcher/launcher.h"
#include "recording_platform.h"

namespace kalv::testing {

#ifdef _WIN32
inline const std::string kInstallDir = "C:\\Shop\\";
inline const std::string kOtherDir = "C:\\Elsewhere";
#else
inline const std::string kInstallDir = "/srv/shop/";
inline const std::string kOtherDir = "/home/elsewhere";
#endif

class LauncherFixture : public ::testing::Test {
protected:
    LauncherFixture() : os(kInstallDir) { installation.Folder = kInstallDir; }

    RecordingPlatform os;
    // The launcher is given the fake; the extraction component still finds it here.
    launcher::Installation installation;
    const launcher::LauncherOs launcher_os{os, os, os};
};

using Transcript = std::vector<std::string>;

// Packages made by Info-ZIP zip at build time (make_test_packages.sh).
inline std::string package(const std::string& name) { return std::string(KALV_LAUNCHER_PACKAGES) + "/" + name; }

}  // namespace kalv::testing
