// frmSplash painted on the software raster: the POSIX build's splash window and
// the tests' view of the layout. The picture is the whole window (frame, caption
// bar, client area), as a person would see it on Windows.
#pragma once

#include "splash/raster_bar_window.h"
#include "splash/raster_canvas.h"
#include "splash/splash.h"

#include <string>

namespace kalv::splash {

// The program icon as a picture (32 x 32; its transparent colour is magenta).
Bitmap program_icon();

class RasterSplashWindow final : public SplashWindow {
public:
    // image_path: where every new state of the picture is saved ("" = nowhere).
    // The texts come from `ui`'s string table.
    RasterSplashWindow(platform::UserInterface& ui, std::string image_path);

    std::string caption() const override { return caption_; }
    void set_caption(const std::string& text) override;
    void set_status(const std::string& text) override;
    void set_progress_max(int max) override;
    void set_progress_position(int position) override;
    void show_and_update() override;
    std::string status() const override { return status_; }
    const GradientBar& progress_bar() const override { return bar_; }
    GradientBar& progress_bar() override { return bar_; }

    // The whole window as it stands now. There is no message loop here: the
    // picture shows the state after the next message processing (pending status
    // and full bar repaints included).
    RasterCanvas picture();
    // Where the client area lies in the picture.
    static constexpr int kClientLeft = 4;
    static constexpr int kClientTop = 4 + 19;

private:
    void save_if_asked();

    std::string image_path_;
    std::string caption_;
    std::string prompt_;
    std::string status_;
    GradientBar bar_;
    RasterBarWindow bar_window_;
    bool shown_ = false;
};

}  // namespace kalv::splash
