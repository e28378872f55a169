// The fixed layout of frmSplash, in client pixels at 96 dots per inch, and the
// painting of its fixed parts (background, labels, the raised box around the
// icon), written once on the Canvas for the Windows window and the raster picture.
#pragma once

#include "splash/canvas.h"
#include "splash/gradient_bar.h"

#include <string>

namespace kalv::splash::layout {

constexpr int kOuterWidth = 343;
constexpr int kOuterHeight = 129;
// What a 4-pixel sizeable frame and a 19-pixel caption bar leave of the outer size.
constexpr int kFrameWidth = 4;
constexpr int kCaptionHeight = 19;
constexpr int kClientWidth = kOuterWidth - 2 * kFrameWidth;                   // 335
constexpr int kClientHeight = kOuterHeight - 2 * kFrameWidth - kCaptionHeight;  // 102

constexpr int kLabelLeft = 80;
constexpr int kPromptTop = 8;
constexpr int kStatusTop = 32;
constexpr int kLabelHeight = 13;
// Bevel2: a one-pixel raised box from (12, 12) to (52, 47) inclusive.
constexpr Rect kBevelBox{12, 12, 53, 48};
constexpr int kIconLeft = 16;
constexpr int kIconTop = 15;
constexpr Rect kProgressBar{8, 64, 8 + 313, 64 + 25};

constexpr unsigned kCaptionStringId = 65313;  // "Kalvo..."
constexpr unsigned kPromptStringId = 65318;   // "Please, wait now ..."
constexpr const char* kInitialStatus = "...";

Font window_font();
Font status_font();  // the window font made bold

// ProgressBar1's settings over the control's defaults.
void configure_progress_bar(GradientBar& bar);

// The rectangle a label of that text occupies (it sizes itself to the text).
Rect label_rect(Canvas& canvas, const Font& font, int top, const std::string& text);

// Background, both labels and the raised box; not the icon, not the bar.
void paint_client(Canvas& canvas, const std::string& prompt, const std::string& status);

}  // namespace kalv::splash::layout
