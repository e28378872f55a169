// The program entry and its instance guard.
#include <cstdio>
#include <exception>

#include "core/crc32.h"
#include "core/text.h"
#include "launcher/boxes.h"
#include "launcher/launcher.h"
#include "platform/retrying_platform.h"

namespace kalv::launcher {

// The mutex is only probed: the launcher neither creates nor waits on it, so it tells
// that the application runs, not that another launcher does.
bool CheckSingleInstance(platform::Processes& processes, platform::UserInterface& ui) {
    if (!processes.mutex_exists(kApplicationMutexName)) return true;
    ShowErrorBox(ui, Text(ui, kTextOnlyOneInstance), "Kalv");
    return false;
}

// One name per installation (letter case ignored, as Windows paths are): launchers of
// two installations on one PC never wait for each other. Mutex names take no
// backslash, so the directory is named by its CRC-32.
std::string InstallationLockName(const std::string& folder) {
    const std::string dir = lower_ascii(folder);
    char hex[9];
    const uint32_t crc = crc32_of(reinterpret_cast<const uint8_t*>(dir.data()), dir.size());
    std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(crc));
    return std::string("Kalv3Launcher-") + hex;
}

namespace {

constexpr std::chrono::milliseconds kPollInterval{50};

// Waits, handling window messages, until `ready` holds or `limit` has passed.
template <typename Ready>
bool WaitUntil(const LauncherOs& os, Ready ready, std::chrono::milliseconds limit) {
    const std::chrono::milliseconds deadline = os.processes.monotonic_time() + limit;
    for (;;) {
        if (ready()) return true;
        if (os.processes.monotonic_time() >= deadline) return false;
        os.ui.process_messages();
        os.processes.sleep(kPollInterval);
    }
}

// A launcher started while another one works on the same installation (a double
// click) waits its turn, so that it never deletes or unpacks the program under the
// other's feet. A turn that does not come within the bound is taken anyway: a hung
// launcher must not keep the shop from working.
std::unique_ptr<platform::SystemLock> WaitForOurTurn(const LauncherOs& os, const Installation& installation) {
    platform::Processes& processes = os.processes;
    const std::string name = InstallationLockName(installation.Folder);
    std::unique_ptr<platform::SystemLock> lock = processes.try_lock(name);
    if (lock) return lock;
    const std::chrono::milliseconds since = processes.monotonic_time();
    WaitUntil(os, [&] { return (lock = processes.try_lock(name)) != nullptr; }, kOtherLauncherWait);
    runlog::Note(std::string(lock ? "waited " : "gave up waiting after ") +
                 std::to_string((processes.monotonic_time() - since).count()) + " ms for another launcher");
    // The launcher before us has most likely just started the application, which
    // may need a moment to hold its mutex: the guard below must see it running.
    WaitUntil(os, [&] { return processes.mutex_exists(kApplicationMutexName); }, kApplicationStartWait);
    return lock;
}

}  // namespace

int RunLauncher(platform::Platform& os, const std::function<std::unique_ptr<splash::SplashView>()>& open_splash,
                platform::WebClient* web) {
    Installation installation;
    installation.Folder = LauncherDir(os);
    // Every file the launcher deletes, creates, renames, copies or starts may be held
    // for a moment by a virus scanner or a backup: such a moment never fails a start.
    platform::RetryingPlatform patient(os, [](const std::string& operation, const std::string& path,
                                              std::chrono::milliseconds wait) {
        runlog::Note("retry: " + operation + " " + path + " was held by another program; waiting " +
                     std::to_string(wait.count()) + " ms");
    });
    // The run's block of the log is written however the run ends.
    runlog::Begin(patient, installation.Folder);
    struct WriteLogAtTheEnd {
        ~WriteLogAtTheEnd() { runlog::Write(); }
    } write_log;
    const LauncherOs patient_os{patient, patient, patient, web};
    try {
        runlog::Note("launcher: " + os.module_path());
        const std::unique_ptr<platform::SystemLock> turn = WaitForOurTurn(patient_os, installation);
        runlog::StartWriting();
        if (!CheckSingleInstance(patient, patient)) return 0;
        const std::unique_ptr<splash::SplashView> frmSplash = open_splash();
        RunStartup(patient_os, installation, *frmSplash);
    } catch (const std::exception& failure) {
        // The sequence reports its own failures; this catches what lies outside it
        // (the window's creation, the first steps), so the exit code stays 0.
        try {
            ShowProblemBox(patient, "Kalv3.exe", failure.what(), "Kalv");
        } catch (...) {
        }
    } catch (...) {
    }
    return 0;
}

}  // namespace kalv::launcher
