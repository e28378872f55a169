#include "splash/raster_splash.h"

#include "core/errors.h"
#include "platform/user_interface.h"
#include "splash/splash_layout.h"

#include <cstdio>

namespace kalv::splash {

namespace {
#include "splash/icon_pixels.inc"
}  // namespace

Bitmap program_icon() {
    Bitmap icon(kIconSize, kIconSize);
    for (int y = 0; y < kIconSize; ++y)
        for (int x = 0; x < kIconSize; ++x) icon.set_pixel(x, y, kIconPixels[y * kIconSize + x]);
    icon.set_transparent(true);
    return icon;
}

RasterSplashWindow::RasterSplashWindow(platform::UserInterface& ui, std::string image_path)
    : image_path_(std::move(image_path)), status_(layout::kInitialStatus), bar_window_(bar_) {
    layout::configure_progress_bar(bar_);
    // FormCreate: the window's own texts from the program's string table.
    caption_ = ui.load_string(layout::kCaptionStringId);
    prompt_ = ui.load_string(layout::kPromptStringId);
}

void RasterSplashWindow::set_caption(const std::string& text) {
    caption_ = text;
    save_if_asked();
}

void RasterSplashWindow::set_status(const std::string& text) {
    status_ = text;
    std::fprintf(stderr, "splash: %s\n", text.c_str());
    std::fflush(stderr);
}

void RasterSplashWindow::set_progress_max(int max) { bar_.set_max(max); }

void RasterSplashWindow::set_progress_position(int position) {
    int before = bar_.position();
    bar_.set_position(position);
    if (bar_.position() != before) save_if_asked();
}

void RasterSplashWindow::show_and_update() {
    shown_ = true;
    save_if_asked();
}

RasterCanvas RasterSplashWindow::picture() {
    using namespace layout;
    RasterCanvas window(kOuterWidth, kOuterHeight, clBtnFace);
    // Sizeable frame: a raised outer edge; the caption bar in the active title colours.
    window.draw_edge({0, 0, kOuterWidth, kOuterHeight}, kBdrRaisedInner, kBfTopLeft);
    window.draw_edge({0, 0, kOuterWidth, kOuterHeight}, kBdrRaisedInner, kBfBottomRight);
    Rect title{kFrameWidth, kFrameWidth, kOuterWidth - kFrameWidth, kFrameWidth + kCaptionHeight - 1};
    for (int x = title.left; x < title.right; ++x) {
        window.set_pen_color(gradient_color(clNavy, rgb(16, 132, 208), x - title.left, title.width()));
        window.move_to(x, title.top);
        window.line_to(x, title.bottom);
    }
    Font title_font = status_font();
    title_font.color = clWhite;
    window.set_font(title_font);
    window.text_out(title.left + 4, title.top + (title.height() - RasterCanvas::kGlyphHeight) / 2, caption_);

    RasterCanvas client(kClientWidth, kClientHeight, clBtnFace);
    paint_client(client, prompt_, status_);
    client.draw_bitmap(kIconLeft, kIconTop, program_icon(), true);
    bar_window_.process_messages();
    client.compose(bar_window_.surface(), kProgressBar.left, kProgressBar.top);
    window.compose(client, kClientLeft, kClientTop);
    return window;
}

void RasterSplashWindow::save_if_asked() {
    if (!shown_ || image_path_.empty()) return;
    try {
        picture().save(image_path_);
    } catch (const Error& failure) {
        // The picture is a convenience: the startup sequence goes on without it.
        std::fprintf(stderr, "splash: %s\n", failure.what());
        image_path_.clear();
    }
}

}  // namespace kalv::splash
