// The splash window frmSplash: the launcher's only window, with the program icon,
// the prompt, the bold status label and the gradient progress bar. On Windows it
// is a real top-level window; elsewhere the same layout is painted on the software
// raster (saved as a picture when KALV3_SPLASH_PNG names a file, .png or .ppm) and
// each status change is written to stderr as one line "splash: <status>".
#pragma once

#include "platform/user_interface.h"
#include "splash/gradient_bar.h"
#include "splash/splash_view.h"

#include <memory>
#include <string>

namespace kalv::splash {

class SplashWindow : public SplashView {
public:
    // Shows the window (not modally) and paints it completely before returning.
    virtual void show_and_update() = 0;
    // The status label's text as last set ("..." until the first status).
    virtual std::string status() const = 0;
    // The window's ProgressBar1.
    virtual const GradientBar& progress_bar() const = 0;
    virtual GradientBar& progress_bar() = 0;
};

// Creates frmSplash, hidden, after its FormCreate: caption string 65313, prompt
// string 65318 from `ui`'s string table, the program icon in place.
std::unique_ptr<SplashWindow> create_splash_window(platform::UserInterface& ui);

}  // namespace kalv::splash
