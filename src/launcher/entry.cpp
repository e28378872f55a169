// The program entry and its instance guard.
#include <cstdio>
#include <exception>

#include "core/crc32.h"
#include "core/text.h"
#include "launcher/boxes.h"
#include "launcher/launcher.h"
#include "platform/retrying_platform.h"

namespace kalv::launcher {

splash::SplashView* frmSplash = nullptr;

// The mutex is only probed: the launcher neither creates nor waits on it, so it tells
// that the application runs, not that another launcher does.
bool CheckSingleInstance() {
    if (!platform::current().mutex_exists(kApplicationMutexName)) return true;
    ShowErrorBox(Text(kTextOnlyOneInstance), "Kalv");
    return false;
}

// One name per installation (letter case ignored, as Windows paths are): launchers of
// two installations on one PC never wait for each other. Mutex names take no
// backslash, so the directory is named by its CRC-32.
std::string InstallationLockName() {
    const std::string dir = lower_ascii(LauncherDir());
    char hex[9];
    const uint32_t crc = crc32_of(reinterpret_cast<const uint8_t*>(dir.data()), dir.size());
    std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(crc));
    return std::string("Kalv3Launcher-") + hex;
}

namespace {

constexpr std::chrono::milliseconds kPollInterval{50};

// Waits, handling window messages, until `ready` holds or `limit` has passed.
template <typename Ready>
bool WaitUntil(Ready ready, std::chrono::milliseconds limit) {
    platform::Platform& os = platform::current();
    const std::chrono::milliseconds deadline = os.monotonic_time() + limit;
    for (;;) {
        if (ready()) return true;
        if (os.monotonic_time() >= deadline) return false;
        os.process_messages();
        os.sleep(kPollInterval);
    }
}

// A launcher started while another one works on the same installation (a double
// click) waits its turn, so that it never deletes or unpacks the program under the
// other's feet. A turn that does not come within the bound is taken anyway: a hung
// launcher must not keep the shop from working.
std::unique_ptr<platform::SystemLock> WaitForOurTurn() {
    platform::Platform& os = platform::current();
    const std::string name = InstallationLockName();
    std::unique_ptr<platform::SystemLock> lock = os.try_lock(name);
    if (lock) return lock;
    const std::chrono::milliseconds since = os.monotonic_time();
    WaitUntil([&] { return (lock = os.try_lock(name)) != nullptr; }, kOtherLauncherWait);
    runlog::Note(std::string(lock ? "waited " : "gave up waiting after ") +
                 std::to_string((os.monotonic_time() - since).count()) + " ms for another launcher");
    // The launcher before us has most likely just started the application, which
    // may need a moment to hold its mutex: the guard below must see it running.
    WaitUntil([&] { return os.mutex_exists(kApplicationMutexName); }, kApplicationStartWait);
    return lock;
}

}  // namespace

int RunLauncher(const std::function<std::unique_ptr<splash::SplashView>()>& open_splash) {
    // The run's block of the log is written however the run ends.
    runlog::Begin();
    struct WriteLogAtTheEnd {
        ~WriteLogAtTheEnd() { runlog::Write(); }
    } write_log;
    // Every file the launcher deletes, creates, renames, copies or starts may be held
    // for a moment by a virus scanner or a backup: such a moment never fails a start.
    platform::RetryingPlatform patient(platform::current(), [](const std::string& operation, const std::string& path,
                                                                std::chrono::milliseconds wait) {
        runlog::Note("retry: " + operation + " " + path + " was held by another program; waiting " +
                     std::to_string(wait.count()) + " ms");
    });
    const platform::ScopedPlatform installed(patient);
    try {
        runlog::Note("launcher: " + platform::current().module_path());
        const std::unique_ptr<platform::SystemLock> turn = WaitForOurTurn();
        runlog::StartWriting();
        if (!CheckSingleInstance()) return 0;
        struct ForgetWindow {
            ~ForgetWindow() { frmSplash = nullptr; }
        } forget_after_free;
        const std::unique_ptr<splash::SplashView> window = open_splash();
        frmSplash = window.get();
        RunStartup();
    } catch (const std::exception& failure) {
        // The sequence reports its own failures; this catches what lies outside it
        // (the window's creation, the first steps), so the exit code stays 0.
        try {
            ShowProblemBox("Kalv3.exe", failure.what(), "Kalv");
        } catch (...) {
        }
    } catch (...) {
    }
    return 0;
}

}  // namespace kalv::launcher
