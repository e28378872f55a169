#include "splash/splash_layout.h"

namespace kalv::splash::layout {

Font window_font() {
    Font font;
    font.face = "MS Sans Serif";
    font.height = -11;
    font.color = clWindowText;
    return font;
}

Font status_font() {
    Font font = window_font();
    font.bold = true;
    return font;
}

void configure_progress_bar(GradientBar& bar) {
    bar.set_bounds(kProgressBar);
    bar.set_bevel_outer(BarBevel::bvNone);
    bar.set_bar_bevel_outer(BarBevel::bvLowered);
    bar.set_style(BarStyle::sExSolid);
    bar.set_begin_color(clNavy);
    bar.set_end_color(clRed);
    bar.set_orientation(BarOrientation::orHorizontal);
    bar.set_min(0);
    bar.set_max(100);
    bar.set_position(0);
    bar.set_show_text(false);
    bar.set_show_text_style(BarTextStyle::stsPercent);
    bar.set_step(1);
    bar.set_transparent_glyph(true);
    bar.set_color(clBtnFace);
    bar.set_font(window_font());
}

Rect label_rect(Canvas& canvas, const Font& font, int top, const std::string& text) {
    canvas.set_font(font);
    Size extent = canvas.text_extent(text);
    return {kLabelLeft, top, kLabelLeft + extent.cx, top + kLabelHeight};
}

namespace {

void paint_label(Canvas& canvas, const Font& font, int top, const std::string& text) {
    Rect r = label_rect(canvas, font, top, text);
    canvas.fill_rect(r, clBtnFace);
    canvas.text_out(r.left, r.top, text);
}

}  // namespace

void paint_client(Canvas& canvas, const std::string& prompt, const std::string& status) {
    canvas.fill_rect({0, 0, kClientWidth, kClientHeight}, clBtnFace);
    paint_label(canvas, window_font(), kPromptTop, prompt);
    paint_label(canvas, status_font(), kStatusTop, status);

    // The raised box: highlight up the left side and along the top, shadow down the
    // right side and back along the bottom; each line leaves out its end point.
    int x = kBevelBox.left, y = kBevelBox.top;
    int right = kBevelBox.width() - 1, bottom = kBevelBox.height() - 1;  // 40, 35
    canvas.set_pen_color(clBtnHighlight);
    canvas.move_to(x, y + bottom);
    canvas.line_to(x, y);
    canvas.line_to(x + right - 1, y);
    canvas.set_pen_color(clBtnShadow);
    canvas.move_to(x + right, y);
    canvas.line_to(x + right, y + bottom);
    canvas.line_to(x + 1, y + bottom);
}

}  // namespace kalv::splash::layout
