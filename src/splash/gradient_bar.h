// GradientBar: the custom-drawn progress bar of the splash window. It shows how
// far Position lies between Min and Max as a filled part growing from one edge, in
// five fill styles, horizontally or vertically, with optional bevels and a centred
// text. Every paint renders the whole control off-screen and copies it in one
// block transfer; a Position change repaints only the band between the old and
// the new end, at once. No operation raises: refused values are dropped.
//
// The control draws on a Canvas (GDI or the software raster) and reaches its window
// through BarWindow (invalidate, paint now, measure text), so the same code runs on
// the Windows product and in the tests.
#pragma once

#include "splash/canvas.h"
#include "splash/control.h"

#include <cstdint>
#include <string>

namespace kalv::splash {

enum class BarBevel : uint8_t { bvNone = 0, bvLowered = 1, bvRaised = 2 };
enum class BarOrientation : uint8_t { orVertical = 0, orHorizontal = 1 };
enum class BarTextStyle : uint8_t { stsPercent = 0, stsPosition = 1 };
enum class BarStyle : uint8_t { sSolid = 0, sRectangles = 1, sExSolid = 2, sExRectangles = 3, sPictures = 4 };

// The colour at step `step` of a ramp of `steps` steps from `first` to `last`:
// each channel moves linearly and is truncated, never rounded, so step `steps`
// would give `last` but a ramp drawn over steps 0..steps-1 stays short of it.
// The three bytes of each colour are taken as they stand (no system colour lookup).
// A ramp of no steps gives `first`.
Color gradient_color(Color first, Color last, int step, int steps);

// What the bar needs of the window it lives in, beyond what every control needs.
class BarWindow : public ControlWindow {
public:
    // InvalidateRect: marks an area for the next paint, erasing the background first or not.
    virtual void invalidate(const Rect& area, bool erase) = 0;
    // UpdateWindow: paints the invalid area now, without message processing.
    virtual void update() = 0;
    // Width and height of a text in a font, measured on the control's own surface.
    virtual Size measure_text(const Font& font, const std::string& text) = 0;
    // The control's client size changed (a glyph, the bounds or the border width);
    // the window's surface follows.
    virtual void resized(int width, int height) = 0;
    // The font of the window that holds the bar (ParentFont).
    virtual Font parent_font() { return Font{}; }
};

// The bar is a Control: the standard properties and events (Align, Anchors,
// BorderWidth, Constraints, Enabled, Visible, Hint, ShowHint, the drag and dock
// properties, the mouse, click, focus and drag events) are Control's, with their
// meaning on Win32 written there. Font and ParentFont are the bar's own, as the
// font is its text's.
class GradientBar : public Control {
public:
    // The defaults of a new control: 150 x 16, lowered outer bevel, vertical,
    // 0..100 at 0, rectangles from navy to white, no text, an empty glyph.
    GradientBar();

    // Connects the control to its window (nullptr: none, nothing is invalidated).
    void attach(BarWindow* window) {
        window_ = window;
        attach_window(window);
    }

    // After the properties were read from a stored layout: gives a non-empty glyph
    // its transparency and repaints the whole control.
    void loaded();

    BarBevel bevel_outer() const { return bevel_outer_; }
    void set_bevel_outer(BarBevel value);
    BarBevel bar_bevel_outer() const { return bar_bevel_outer_; }
    void set_bar_bevel_outer(BarBevel value);
    BarOrientation orientation() const { return orientation_; }
    void set_orientation(BarOrientation value);
    int32_t max() const { return max_; }
    void set_max(int32_t value);  // dropped when below Min
    int32_t min() const { return min_; }
    void set_min(int32_t value);  // dropped when above Max
    int32_t position() const { return position_; }
    void set_position(int32_t value);  // repaints the changed band at once
    bool show_text() const { return show_text_; }
    void set_show_text(bool value);
    BarTextStyle show_text_style() const { return show_text_style_; }
    void set_show_text_style(BarTextStyle value);
    Color begin_color() const { return begin_color_; }
    void set_begin_color(Color value);
    Color end_color() const { return end_color_; }
    void set_end_color(Color value);
    BarStyle style() const { return style_; }
    void set_style(BarStyle value);
    const Bitmap& glyph() const { return glyph_; }
    void set_glyph(const Bitmap& value);
    int32_t step() const { return step_; }
    void set_step(int32_t value) { step_ = value; }  // stored only: nothing reads it
    bool transparent_glyph() const { return transparent_glyph_; }
    void set_transparent_glyph(bool value);

    // The inherited control properties the painting uses. Width and Height are the
    // control's own; the bar paints its client area, inside the border.
    void set_size(int width, int height);  // keeps Left and Top
    int client_width() const;
    int client_height() const;
    Color color() const { return color_; }
    void set_color(Color value);
    const Font& font() const { return font_; }
    void set_font(const Font& value);  // also turns ParentFont off
    // On: the font is the parent window's, now and whenever it changes.
    bool parent_font() const { return parent_font_; }
    void set_parent_font(bool value);
    void parent_font_changed(const Font& value);

    // The text that the bar shows (when ShowText is on) at the current Position.
    std::string text() const;
    // The filled rectangle of the current Position inside the inner rectangle;
    // empty (right == left or top == bottom) when nothing is filled.
    Rect filled_rect() const;
    // The client rectangle less the outer bevel and its one-pixel gap.
    Rect inner_rect() const;

    // Renders the whole control off-screen and copies it onto `surface` at (0, 0).
    void paint(Canvas& surface) const;

protected:
    void size_changed() override;

private:
    void full_repaint();
    void invalidate_bar(int32_t old_position);
    void invalidate_text(int32_t old_position);
    std::string text_at(int32_t position) const;
    int moving_length(int32_t position, int length) const;
    void paint_fill(Canvas& canvas, const Rect& filled, int inner_width, int inner_height) const;
    void paint_blocks(Canvas& canvas, const Rect& filled, int inner_width, int inner_height) const;
    void paint_tiles(Canvas& canvas, const Rect& filled) const;
    void paint_text(Canvas& canvas) const;
    void draw_bar_bevel(Canvas& canvas, const Rect& r) const;

    BarWindow* window_ = nullptr;
    BarBevel bevel_outer_ = BarBevel::bvLowered;
    BarBevel bar_bevel_outer_ = BarBevel::bvNone;
    BarOrientation orientation_ = BarOrientation::orVertical;
    int32_t max_ = 100;
    int32_t min_ = 0;
    int32_t position_ = 0;
    bool show_text_ = false;
    BarTextStyle show_text_style_ = BarTextStyle::stsPercent;
    Color begin_color_ = clNavy;
    Color end_color_ = clWhite;
    BarStyle style_ = BarStyle::sRectangles;
    Bitmap glyph_;
    int32_t step_ = 10;
    bool transparent_glyph_ = true;
    Color color_ = clWindow;
    Font font_;
    bool parent_font_ = true;
};

// The outer bevel's or a bar bevel's two DrawEdge calls (nothing for bvNone).
void draw_bevel(Canvas& canvas, const Rect& r, BarBevel bevel);

}  // namespace kalv::splash
