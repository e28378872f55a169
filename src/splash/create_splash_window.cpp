// The POSIX build's frmSplash: the raster picture, saved where KALV3_SPLASH_PNG says.
#include "splash/raster_splash.h"

#include <cstdlib>

namespace kalv::splash {

std::unique_ptr<SplashWindow> create_splash_window(platform::UserInterface& ui) {
    const char* path = std::getenv("KALV3_SPLASH_PNG");
    return std::make_unique<RasterSplashWindow>(ui, path ? path : "");
}

}  // namespace kalv::splash
