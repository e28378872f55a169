#include "splash/raster_bar_window.h"

#include <algorithm>

namespace kalv::splash {

RasterBarWindow::RasterBarWindow(GradientBar& bar)
    : bar_(bar), surface_(bar.client_width(), bar.client_height(), clBlack) {
    bar_.attach(this);
}

RasterBarWindow::~RasterBarWindow() { bar_.attach(nullptr); }

void RasterBarWindow::invalidate(const Rect& area, bool erase) {
    invalidations_.push_back({area, erase});
    // The invalid region is kept as its bounding box within the client area: a
    // paint renders the whole control anyway, the box only limits what is copied.
    Rect clipped{std::max(area.left, 0), std::max(area.top, 0), std::min(area.right, surface_.width()),
                 std::min(area.bottom, surface_.height())};
    if (clipped.width() <= 0 || clipped.height() <= 0) return;
    if (!invalid_) {
        invalid_ = clipped;
    } else {
        invalid_ = Rect{std::min(invalid_->left, clipped.left), std::min(invalid_->top, clipped.top),
                        std::max(invalid_->right, clipped.right), std::max(invalid_->bottom, clipped.bottom)};
    }
}

void RasterBarWindow::update() {
    if (!invalid_) return;
    Rect clip = *invalid_;
    invalid_.reset();
    paints_.push_back(clip);
    surface_.set_clip(clip);
    bar_.paint(surface_);
    surface_.set_clip(std::nullopt);
}

Size RasterBarWindow::measure_text(const Font& font, const std::string& text) {
    surface_.set_font(font);
    return surface_.text_extent(text);
}

void RasterBarWindow::resized(int width, int height) {
    surface_ = RasterCanvas(width, height, clBlack);
    invalid_.reset();
    invalidate({0, 0, width, height}, true);
}

void RasterBarWindow::clear_record() {
    invalidations_.clear();
    paints_.clear();
}

}  // namespace kalv::splash
