// The program entry and its instance guard.
#include <exception>

#include "launcher/boxes.h"
#include "launcher/launcher.h"

namespace kalv::launcher {

splash::SplashView* frmSplash = nullptr;

// The mutex is only probed: the launcher neither creates nor waits on it, so it tells
// that the application runs, not that another launcher does.
bool CheckSingleInstance() {
    if (!platform::current().mutex_exists(kApplicationMutexName)) return true;
    ShowErrorBox(Text(kTextOnlyOneInstance), "Kalv");
    return false;
}

int RunLauncher(const std::function<std::unique_ptr<splash::SplashView>()>& open_splash) {
    try {
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
