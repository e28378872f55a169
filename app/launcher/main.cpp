// Kalv3: the launcher's program entry. On Windows a GUI-subsystem program (no console),
// whose resources carry the string table, the icon, the version information and the
// manifest; on Linux the same run with the boxes on stderr.
#include <memory>

#include "launcher/launcher.h"
#include "splash/splash.h"

int main() {
    return kalv::launcher::RunLauncher([]() -> std::unique_ptr<kalv::splash::SplashView> {
        std::unique_ptr<kalv::splash::SplashWindow> window = kalv::splash::create_splash_window();
        // Complete on the screen before the long steps begin.
        window->show_and_update();
        return window;
    });
}
