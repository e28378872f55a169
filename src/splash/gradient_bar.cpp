#include "splash/gradient_bar.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

namespace kalv::splash {

namespace {

// BeginColor and EndColor are plain colours: their three low bytes as they stand.
Color plain(Color c) { return c & 0xFFFFFF; }

int channel_at(int a, int b, int64_t step, int steps) {
    double d = static_cast<double>((static_cast<int64_t>(b) - a) * step);
    double v = d / steps + a;
    // Low 8 bits of the truncated value; the ramp's own steps keep v within 0..255.
    return static_cast<int>(static_cast<int64_t>(std::trunc(v)) & 0xFF);
}

// Round(numerator / denominator) with a half going to the even neighbour, in exact
// integer arithmetic so that 12.5 gives 12 and 37.5 gives 38 on every FPU setting.
int64_t round_half_even(int64_t numerator, int64_t denominator) {
    int64_t q = numerator / denominator, r = numerator % denominator;
    int64_t sign = (numerator < 0) != (denominator < 0) ? -1 : 1;
    int64_t twice = 2 * std::llabs(r), whole = std::llabs(denominator);
    if (twice > whole || (twice == whole && (q & 1) != 0)) q += sign;
    return q;
}

}  // namespace

Color gradient_color(Color first, Color last, int step, int steps) {
    if (steps == 0) return plain(first);
    return rgb(channel_at(red_of(first), red_of(last), step, steps),
               channel_at(green_of(first), green_of(last), step, steps),
               channel_at(blue_of(first), blue_of(last), step, steps));
}

void draw_bevel(Canvas& canvas, const Rect& r, BarBevel bevel) {
    unsigned kind;
    switch (bevel) {
        case BarBevel::bvLowered: kind = kBdrSunkenOuter; break;
        case BarBevel::bvRaised: kind = kBdrRaisedInner; break;
        default: return;
    }
    // Two calls: the bottom-right sides come last and own the two shared corners.
    canvas.draw_edge(r, kind, kBfTopLeft);
    canvas.draw_edge(r, kind, kBfBottomRight);
}

GradientBar::GradientBar() = default;

void GradientBar::loaded() {
    if (!glyph_.empty()) glyph_.set_transparent(transparent_glyph_);
    full_repaint();
}

void GradientBar::full_repaint() {
    if (window_) window_->invalidate({0, 0, client_width(), client_height()}, true);
}

void GradientBar::set_bevel_outer(BarBevel value) {
    if (value == bevel_outer_) return;
    bevel_outer_ = value;
    full_repaint();
}

void GradientBar::set_bar_bevel_outer(BarBevel value) {
    if (value == bar_bevel_outer_) return;
    bar_bevel_outer_ = value;
    full_repaint();
}

void GradientBar::set_orientation(BarOrientation value) {
    if (value == orientation_) return;
    orientation_ = value;
    full_repaint();
}

void GradientBar::set_max(int32_t value) {
    if (value == max_ || value < min_) return;
    max_ = value;
    full_repaint();
}

void GradientBar::set_min(int32_t value) {
    if (value == min_ || value > max_) return;
    min_ = value;
    full_repaint();
}

void GradientBar::set_position(int32_t value) {
    if (value == position_) return;
    int32_t old = position_;
    position_ = value;
    invalidate_bar(old);
    if (show_text_) invalidate_text(old);
}

void GradientBar::set_show_text(bool value) {
    if (value == show_text_) return;
    show_text_ = value;
    full_repaint();
}

void GradientBar::set_show_text_style(BarTextStyle value) {
    if (value == show_text_style_) return;
    show_text_style_ = value;
    if (show_text_) full_repaint();
}

void GradientBar::set_begin_color(Color value) {
    if (value == begin_color_) return;
    begin_color_ = value;
    if (style_ != BarStyle::sPictures) full_repaint();
}

void GradientBar::set_end_color(Color value) {
    if (value == end_color_) return;
    end_color_ = value;
    if (style_ == BarStyle::sExSolid || style_ == BarStyle::sExRectangles) full_repaint();
}

void GradientBar::set_style(BarStyle value) {
    if (value == style_) return;
    style_ = value;
    full_repaint();
}

void GradientBar::set_transparent_glyph(bool value) {
    if (value == transparent_glyph_) return;
    transparent_glyph_ = value;
    glyph_.set_transparent(value);
    full_repaint();
}

void GradientBar::set_glyph(const Bitmap& value) {
    glyph_ = value;
    if (!glyph_.empty()) {
        // The bar's thickness follows the tile picture, with room for the outer bevel.
        if (orientation_ == BarOrientation::orVertical)
            set_size(glyph_.width() + 4, height());
        else
            set_size(width(), glyph_.height() + 4);
        glyph_.set_transparent(transparent_glyph_);
    }
    if (style_ == BarStyle::sPictures) full_repaint();
}

void GradientBar::set_size(int width, int height) {
    const Rect b = bounds();
    set_bounds({b.left, b.top, b.left + width, b.top + height});
}

int GradientBar::client_width() const { return std::max(0, width() - 2 * border_width()); }
int GradientBar::client_height() const { return std::max(0, height() - 2 * border_width()); }

void GradientBar::size_changed() {
    if (window_) window_->resized(client_width(), client_height());
}

void GradientBar::set_color(Color value) {
    if (value == color_) return;
    color_ = value;
    full_repaint();
}

void GradientBar::set_font(const Font& value) {
    parent_font_ = false;
    if (value == font_) return;
    font_ = value;
    full_repaint();
}

void GradientBar::set_parent_font(bool value) {
    if (value == parent_font_) return;
    parent_font_ = value;
    if (parent_font_ && window_) parent_font_changed(window_->parent_font());
}

void GradientBar::parent_font_changed(const Font& value) {
    if (!parent_font_ || value == font_) return;
    font_ = value;
    full_repaint();
}

// How far along `length` pixels a value reaches: Trunc((v - Min) x length / (Max - Min)),
// kept within 0..length. The products are 64-bit, so large ranges cannot wrap
// around. A value at or below Min reaches nowhere; with Max equal to Min (no range to
// divide by) any value above Min fills the whole length.
int GradientBar::moving_length(int32_t position, int length) const {
    int64_t above = static_cast<int64_t>(position) - min_;
    int64_t span = static_cast<int64_t>(max_) - min_;
    if (above <= 0 || length <= 0) return 0;
    if (span <= 0) return length;
    double reach = static_cast<double>(above) * length / static_cast<double>(span);
    return reach >= length ? length : static_cast<int>(reach);
}

Rect GradientBar::inner_rect() const {
    Rect r{0, 0, client_width(), client_height()};
    if (bevel_outer_ != BarBevel::bvNone) r = inflate_rect(r, -2, -2);
    return r;
}

Rect GradientBar::filled_rect() const {
    Rect r = inner_rect();
    Rect f = r;
    if (orientation_ == BarOrientation::orHorizontal)
        f.right = r.left + moving_length(position_, r.width());
    else
        f.top = r.bottom - moving_length(position_, r.height());
    return f;
}

std::string GradientBar::text_at(int32_t position) const {
    if (show_text_style_ == BarTextStyle::stsPosition) return std::to_string(position);
    // Measured from Min like the fill, so that an empty bar reads 0 % and a full one
    // 100 % whatever the range; with Max equal to Min the bar is either empty or full.
    int64_t above = static_cast<int64_t>(position) - min_;
    int64_t span = static_cast<int64_t>(max_) - min_;
    int64_t percent = span > 0 ? round_half_even(above * 100, span) : (above > 0 ? 100 : 0);
    return std::to_string(percent) + " %";
}

std::string GradientBar::text() const { return text_at(position_); }

void GradientBar::paint(Canvas& surface) const {
    const int w = client_width(), h = client_height();
    if (w <= 0 || h <= 0) return;
    std::unique_ptr<Canvas> bitmap = surface.create_bitmap(w, h);
    Canvas& canvas = *bitmap;

    Rect client{0, 0, w, h};
    canvas.fill_rect(client, color_);
    draw_bevel(canvas, client, bevel_outer_);
    Rect inner = inner_rect();
    int inner_width = inner.width(), inner_height = inner.height();

    // A Position at or below Min leaves the bar empty: no fill and no bar bevel.
    if (position_ > min_ && inner_width > 0 && inner_height > 0)
        paint_fill(canvas, filled_rect(), inner_width, inner_height);

    if (show_text_) paint_text(canvas);
    surface.block_transfer(canvas, w, h);
}

void GradientBar::draw_bar_bevel(Canvas& canvas, const Rect& r) const { draw_bevel(canvas, r, bar_bevel_outer_); }

void GradientBar::paint_fill(Canvas& canvas, const Rect& f, int inner_width, int inner_height) const {
    bool horizontal = orientation_ == BarOrientation::orHorizontal;
    switch (style_) {
        case BarStyle::sSolid:
            canvas.fill_rect(f, plain(begin_color_));
            draw_bar_bevel(canvas, f);
            break;
        case BarStyle::sExSolid:
            // The ramp is laid over the whole inner rectangle; the fill uncovers its
            // beginning. Horizontal steps count from 0 at the left column, vertical
            // ones from 1 at the bottom row, so only a vertical bar reaches EndColor.
            if (horizontal) {
                for (int x = f.left; x < f.right; ++x) {
                    canvas.set_pen_color(gradient_color(begin_color_, end_color_, x - f.left, inner_width));
                    canvas.move_to(x, f.top);
                    canvas.line_to(x, f.bottom);
                }
            } else {
                for (int y = f.bottom - 1; y >= f.top; --y) {
                    canvas.set_pen_color(gradient_color(begin_color_, end_color_, f.bottom - y, inner_height));
                    canvas.move_to(f.left, y);
                    canvas.line_to(f.right, y);
                }
            }
            draw_bar_bevel(canvas, f);
            break;
        case BarStyle::sRectangles:
        case BarStyle::sExRectangles:
            paint_blocks(canvas, f, inner_width, inner_height);
            break;
        case BarStyle::sPictures:
            paint_tiles(canvas, f);
            break;
    }
}

void GradientBar::paint_blocks(Canvas& canvas, const Rect& f, int inner_width, int inner_height) const {
    bool horizontal = orientation_ == BarOrientation::orHorizontal;
    bool ramp = style_ == BarStyle::sExRectangles;
    // Blocks are two thirds of the bar's thickness long, two pixels apart.
    int pitch = (horizontal ? 2 * inner_height / 3 : 2 * inner_width / 3) + 2;
    int length = horizontal ? f.width() : f.height();
    auto colour_at = [&](int boundary) {
        if (!ramp) return plain(begin_color_);
        return horizontal ? gradient_color(begin_color_, end_color_, boundary - f.left, inner_width)
                          : gradient_color(begin_color_, end_color_, f.bottom - boundary, inner_height);
    };
    // Boundary of "block 0": where a closing piece starts when no block fits before it,
    // so that it covers the whole filled part.
    int boundary = horizontal ? f.left : f.bottom - 1;
    for (int64_t k = 1; k * pitch < length; ++k) {
        int kp = static_cast<int>(k * pitch);
        Rect block = horizontal ? Rect{f.left + kp - pitch, f.top, f.left + kp - 2, f.bottom}
                                : Rect{f.left, f.bottom + 1 - kp, f.right, f.bottom - 1 - (kp - pitch)};
        boundary = horizontal ? f.left + kp : f.bottom - 1 - kp;
        Color c = colour_at(boundary);
        canvas.set_pen_color(c);
        canvas.fill_rect(block, c);
        draw_bar_bevel(canvas, block);
    }
    if (position_ >= max_) {
        Rect closing = horizontal ? Rect{boundary, f.top, f.right, f.bottom} : Rect{f.left, f.top, f.right, boundary};
        Color c = colour_at(boundary);
        canvas.set_pen_color(c);
        canvas.fill_rect(closing, c);
        draw_bar_bevel(canvas, closing);
    }
}

void GradientBar::paint_tiles(Canvas& canvas, const Rect& f) const {
    if (glyph_.width() <= 0 || glyph_.height() <= 0) return;
    bool horizontal = orientation_ == BarOrientation::orHorizontal;
    int pitch = horizontal ? glyph_.width() : glyph_.height();
    int length = horizontal ? f.width() : f.height();
    int boundary = horizontal ? f.left : f.bottom - 1;
    for (int64_t k = 1; k * pitch < length; ++k) {
        int kp = static_cast<int>(k * pitch);
        if (horizontal) {
            canvas.draw_bitmap(f.left + kp - pitch, f.top, glyph_, transparent_glyph_);
            boundary = f.left + kp;
        } else {
            boundary = f.bottom - 1 - kp;
            canvas.draw_bitmap(f.left, boundary, glyph_, transparent_glyph_);
        }
    }
    if (position_ == max_) {
        if (horizontal)
            canvas.draw_bitmap(boundary, f.top, glyph_, transparent_glyph_);
        else
            canvas.draw_bitmap(f.left, boundary - pitch, glyph_, transparent_glyph_);
    }
}

void GradientBar::paint_text(Canvas& canvas) const {
    const int w = client_width(), h = client_height();
    std::string shown = text();
    canvas.set_font(font_);
    Size extent = canvas.text_extent(shown);
    int tw = extent.cx, th = extent.cy;
    if (orientation_ == BarOrientation::orHorizontal) {
        canvas.text_out((w - tw) / 2, (h - th) / 2, shown);
        return;
    }
    // Only outline fonts can be turned: a raster face is replaced by Arial of the
    // same size and style before the text is set to run from top to bottom.
    Font turned = font_;
    if (!(canvas.text_metrics(turned).pitch_and_family & kPitchTrueType)) turned.face = "Arial";
    turned.escapement = 2700;
    canvas.set_font(turned);
    canvas.text_out((w - th) / 2 + th, (h - tw) / 2, shown);
}

void GradientBar::invalidate_bar(int32_t old_position) {
    const int w = client_width(), h = client_height();
    if (!window_) return;
    bool horizontal = orientation_ == BarOrientation::orHorizontal;
    // The band is measured on the client rectangle, without the outer bevel's inset.
    int along = horizontal ? w : h;
    int lo_reach = moving_length(std::min(old_position, position_), along);
    int hi_reach = moving_length(std::max(old_position, position_), along);
    Rect band = horizontal ? Rect{lo_reach - 2, 0, hi_reach + 2, h}
                           : Rect{0, h - hi_reach - 2, w, h - lo_reach + 2};
    int widen = 0;
    if (style_ == BarStyle::sRectangles || style_ == BarStyle::sExRectangles)
        widen = (horizontal ? 2 * h / 3 : 2 * w / 3) + 2;
    else if (style_ == BarStyle::sPictures)
        widen = horizontal ? glyph_.width() : glyph_.height();
    if (horizontal) {
        band.left -= widen;
        band.right += widen;
    } else {
        band.top -= widen;
        band.bottom += widen;
    }
    if (band.width() != 0 && band.height() != 0) window_->invalidate(band, false);
    window_->update();
}

void GradientBar::invalidate_text(int32_t old_position) {
    const int w = client_width(), h = client_height();
    if (!window_) return;
    std::string widest = show_text_style_ == BarTextStyle::stsPosition ? std::to_string(max_) : "100 %";
    // A Position outside Min..Max can show a wider text than the widest regular one;
    // the area must also cover the old and the new text, or their edges would stay.
    Size extent = window_->measure_text(font_, widest);
    for (const std::string& shown : {text_at(old_position), text()}) {
        Size other = window_->measure_text(font_, shown);
        extent = {std::max(extent.cx, other.cx), std::max(extent.cy, other.cy)};
    }
    int tw = extent.cx, th = extent.cy;
    Rect area = orientation_ == BarOrientation::orHorizontal
                    ? Rect{(w - tw) / 2, (h - th) / 2, (w - tw) / 2 + tw, (h - th) / 2 + th}
                    : Rect{(w - th) / 2, (h - tw) / 2, (w - th) / 2 + th, (h - tw) / 2 + tw};
    if (area.width() != 0 && area.height() != 0) window_->invalidate(area, false);
}

}  // namespace kalv::splash
