// What the real splash window shows on the screen at this moment, copied into
// memory canvases: how the Windows tests see when a change reaches the screen.
#pragma once

#include "splash/canvas.h"
#include "splash/splash.h"

#include <memory>

namespace kalv::platform::win32 {

// The frame's client area (335 x 102) and the progress bar's child window, as
// painted so far; nullptr when `window` is not the Windows splash window.
std::unique_ptr<splash::PixelCanvas> capture_client(const splash::SplashWindow& window);
std::unique_ptr<splash::PixelCanvas> capture_progress_bar(const splash::SplashWindow& window);

// The progress bar's child window and its tooltip control (HWNDs; nullptr when
// there is none), for tests that read the window's state back through Win32.
void* progress_bar_window(const splash::SplashWindow& window);
void* progress_bar_tooltip(const splash::SplashWindow& window);

}  // namespace kalv::platform::win32
