// Kalv3: the launcher's program entry. On Windows a GUI-subsystem program (no console),
// whose resources carry the string table, the icon, the version information and the
// manifest; on Linux the same run with the boxes on stderr.
#include <cstdlib>
#include <memory>

#include "launcher/launcher.h"
#include "platform/library_search.h"
#include "platform/platform.h"
#include "platform/web.h"
#include "splash/splash.h"
#include "unzip/extract.h"

int main() {
    // Before anything can load a DLL: none from the launcher's own folder or elsewhere.
    kalv::platform::restrict_library_search();
    // KALV_THREADS=0|1 runs the extraction on one core or two (tests run both ways).
    if (const auto threading = kalv::unzip::threading_from_text(std::getenv("KALV_THREADS")))
        kalv::unzip::set_process_threading(*threading);
    kalv::platform::Platform& os = kalv::platform::native();
    return kalv::launcher::RunLauncher(os, [&os]() -> std::unique_ptr<kalv::splash::SplashView> {
        std::unique_ptr<kalv::splash::SplashWindow> window = kalv::splash::create_splash_window(os);
        // Complete on the screen before the long steps begin.
        window->show_and_update();
        return window;
    }, &kalv::platform::native_web());
}
