// One table of pixel expectations for the progress bar, run on every canvas: the
// software raster natively, and GDI as well in the Windows build under Wine.
#include "splash/gradient_bar.h"
#include "canvas_kinds.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace kalv::splash {
namespace {

using testing::CanvasKind;
using testing::canvas_kinds;
using testing::describe;

constexpr Color kGreen = rgb(0, 160, 0);
constexpr Color kBack = clBtnFace;
constexpr Color kShadow = clBtnShadow;
constexpr Color kLight = clBtnHighlight;

Color ramp(int step, int steps) { return gradient_color(clNavy, clRed, step, steps); }

// The splash window's ProgressBar1: 313 x 25, no outer bevel, lowered bar bevel,
// continuous ramp from navy to red, filling from the left, Max 3.
void splash_bar(GradientBar& bar, int position) {
    bar.set_size(313, 25);
    bar.set_color(clBtnFace);
    bar.set_bevel_outer(BarBevel::bvNone);
    bar.set_bar_bevel_outer(BarBevel::bvLowered);
    bar.set_style(BarStyle::sExSolid);
    bar.set_begin_color(clNavy);
    bar.set_end_color(clRed);
    bar.set_orientation(BarOrientation::orHorizontal);
    bar.set_max(3);
    bar.set_position(position);
}

// A plain horizontal 313 x 25 bar without bevels, 0..313, so Position = filled columns.
void plain_bar(GradientBar& bar, BarStyle style, int filled) {
    bar.set_size(313, 25);
    bar.set_color(clBtnFace);
    bar.set_bevel_outer(BarBevel::bvNone);
    bar.set_style(style);
    bar.set_begin_color(clNavy);
    bar.set_end_color(clRed);
    bar.set_orientation(BarOrientation::orHorizontal);
    bar.set_max(313);
    bar.set_position(filled);
}

void vertical_bar(GradientBar& bar, BarStyle style) {
    bar.set_size(20, 100);
    bar.set_color(clBtnFace);
    bar.set_bevel_outer(BarBevel::bvNone);
    bar.set_style(style);
    bar.set_begin_color(clNavy);
    bar.set_end_color(clRed);
    bar.set_position(100);
}

// A 10 x 8 green tile whose left column is white, the colour of its bottom-left
// pixel and thus its transparent colour.
Bitmap tile() {
    Bitmap picture(10, 8, kGreen);
    for (int y = 0; y < 8; ++y) picture.set_pixel(0, y, clWhite);
    return picture;
}

void tiled_bar(GradientBar& bar, int position, bool transparent) {
    bar.set_orientation(BarOrientation::orHorizontal);
    bar.set_size(100, 12);
    bar.set_color(clBtnFace);
    bar.set_bevel_outer(BarBevel::bvNone);
    bar.set_style(BarStyle::sPictures);
    bar.set_transparent_glyph(transparent);
    bar.set_glyph(tile());
    bar.set_position(position);
}

struct Probe {
    int x;
    int y;
    Color expected;  // a system colour is looked up on the canvas under test
};

struct BarCase {
    const char* name;
    std::function<void(GradientBar&)> setup;
    std::vector<Probe> probes;
};

const std::vector<BarCase>& bar_cases() {
    static const std::vector<BarCase> cases = {
        {"SplashPosition0ShowsOnlyTheWindowColour", [](GradientBar& b) { splash_bar(b, 0); },
         {{0, 0, kBack}, {0, 12, kBack}, {156, 12, kBack}, {312, 24, kBack}, {312, 0, kBack}}},
        {"SplashPosition1Fills104ColumnsWithSunkenEdge", [](GradientBar& b) { splash_bar(b, 1); },
         {{0, 0, kShadow},      // top-left: the top and left sides are the shadow
          {50, 0, kShadow},     // top row
          {0, 12, kShadow},     // left column
          {103, 12, kLight},    // right column of the filled part: column 103
          {50, 24, kLight},     // bottom row
          {0, 24, kLight},      // bottom-left corner belongs to the bottom row
          {103, 0, kLight},     // top-right corner belongs to the right column
          {1, 12, ramp(1, 313)},
          {102, 12, ramp(102, 313)},
          {104, 12, kBack},     // first unfilled column
          {200, 12, kBack}}},
        {"SplashPosition2Fills208Columns", [](GradientBar& b) { splash_bar(b, 2); },
         {{103, 12, rgb(83, 0, 85)}, {206, 12, ramp(206, 313)}, {207, 12, kLight}, {208, 12, kBack}}},
        {"SplashPosition3FillsAll313Columns", [](GradientBar& b) { splash_bar(b, 3); },
         {{311, 12, ramp(311, 313)}, {312, 12, kLight}, {312, 0, kLight}, {200, 0, kShadow}}},
        {"HorizontalRampStopsShortOfEndColor",
         [](GradientBar& b) {
             splash_bar(b, 3);
             b.set_bar_bevel_outer(BarBevel::bvNone);
         },
         {{0, 12, clNavy}, {0, 0, clNavy}, {103, 24, rgb(83, 0, 85)}, {312, 12, rgb(254, 0, 0)}}},
        {"SolidFillsWithBeginColor", [](GradientBar& b) { plain_bar(b, BarStyle::sSolid, 100); },
         {{0, 12, clNavy}, {99, 0, clNavy}, {99, 24, clNavy}, {100, 12, kBack}}},
        {"BlocksEighteenPixelsFilledShowNoBlock", [](GradientBar& b) { plain_bar(b, BarStyle::sRectangles, 18); },
         {{0, 12, kBack}, {10, 12, kBack}, {17, 12, kBack}}},
        {"BlocksNineteenPixelsShowBlockOne", [](GradientBar& b) { plain_bar(b, BarStyle::sRectangles, 19); },
         {{0, 12, clNavy}, {15, 0, clNavy}, {15, 24, clNavy}, {16, 12, kBack}, {18, 12, kBack}}},
        {"BlocksFullBarSeventeenBlocksAndClosingPiece",
         [](GradientBar& b) { plain_bar(b, BarStyle::sRectangles, 313); },
         {{288, 12, clNavy}, {303, 12, clNavy}, {304, 12, kBack}, {305, 12, kBack},  // block 17 and its gap
          {306, 12, clNavy}, {312, 12, clNavy}, {312, 24, clNavy}}},                  // closing piece 306-312
        {"BlocksPartialBarHasNoClosingPiece", [](GradientBar& b) { plain_bar(b, BarStyle::sRectangles, 312); },
         {{303, 12, clNavy}, {306, 12, kBack}, {311, 12, kBack}}},
        {"RampBlocksTakeTheRampColourAtTheirBoundary",
         [](GradientBar& b) { plain_bar(b, BarStyle::sExRectangles, 313); },
         {{0, 12, ramp(18, 313)}, {15, 12, ramp(18, 313)}, {18, 12, ramp(36, 313)}, {306, 12, ramp(306, 313)},
          {312, 12, ramp(306, 313)}, {16, 12, kBack}}},
        {"BlocksWithLoweredBarBevel",
         [](GradientBar& b) {
             plain_bar(b, BarStyle::sRectangles, 40);
             b.set_bar_bevel_outer(BarBevel::bvLowered);
         },
         {{0, 0, kShadow}, {15, 0, kLight}, {0, 24, kLight}, {15, 24, kLight}, {7, 12, clNavy}, {18, 0, kShadow},
          {33, 12, kLight}}},
        {"ShortFullBlockBarIsOneClosingPiece",
         [](GradientBar& b) {
             plain_bar(b, BarStyle::sRectangles, 313);
             b.set_size(10, 25);
         },
         {{0, 12, clNavy}, {9, 12, clNavy}}},
        {"VerticalRampReachesEndColorInItsTopRow", [](GradientBar& b) { vertical_bar(b, BarStyle::sExSolid); },
         {{10, 0, clRed}, {0, 0, clRed}, {10, 99, ramp(1, 100)}, {10, 50, ramp(50, 100)}}},
        {"VerticalHalfRampFillsFromTheBottom",
         [](GradientBar& b) {
             vertical_bar(b, BarStyle::sExSolid);
             b.set_position(50);
         },
         {{10, 49, kBack}, {10, 50, ramp(50, 100)}, {10, 99, ramp(1, 100)}}},
        {"VerticalBlocksLeaveTheBottomRowEmpty", [](GradientBar& b) { vertical_bar(b, BarStyle::sRectangles); },
         {{10, 99, kBack}, {10, 98, clNavy}, {10, 86, clNavy}, {10, 85, kBack}, {10, 84, kBack}, {10, 83, clNavy},
          {10, 71, clNavy}, {10, 70, kBack}}},
        {"DefaultLoweredOuterBevel",
         [](GradientBar& b) {
             b.set_color(clBtnFace);
             b.set_style(BarStyle::sSolid);
             b.set_orientation(BarOrientation::orHorizontal);
             b.set_position(50);
         },
         {{0, 0, kShadow}, {75, 0, kShadow}, {0, 8, kShadow}, {149, 0, kLight}, {149, 8, kLight},
          {0, 15, kLight}, {75, 15, kLight}, {1, 1, kBack}, {148, 14, kBack},  // the one-pixel gap
          {2, 2, clNavy}, {74, 13, clNavy}, {75, 8, kBack}}},                 // inner 146 wide: 73 columns
        {"RaisedOuterBevel",
         [](GradientBar& b) {
             b.set_color(clBtnFace);
             b.set_bevel_outer(BarBevel::bvRaised);
         },
         {{0, 0, kLight}, {0, 8, kLight}, {75, 0, kLight}, {149, 0, kShadow}, {149, 8, kShadow},
          {0, 15, kShadow}, {1, 1, kBack}}},
        {"RaisedBarBevel",
         [](GradientBar& b) {
             plain_bar(b, BarStyle::sSolid, 100);
             b.set_bar_bevel_outer(BarBevel::bvRaised);
         },
         {{0, 0, kLight}, {0, 12, kLight}, {99, 12, kShadow}, {50, 24, kShadow}, {50, 12, clNavy}}},
        {"TilesTransparentAndClosingTileAtMax", [](GradientBar& b) { tiled_bar(b, 100, true); },
         {{0, 3, kBack}, {1, 3, kGreen}, {9, 7, kGreen}, {10, 3, kBack}, {11, 3, kGreen}, {81, 3, kGreen},
          {91, 3, kGreen}, {99, 3, kGreen}, {5, 8, kBack}, {5, 11, kBack}}},
        {"TilesAboveMaxHaveNoClosingTile", [](GradientBar& b) { tiled_bar(b, 150, true); },
         {{81, 3, kGreen}, {91, 3, kBack}}},
        {"TilesOpaqueWhenTransparencyIsOff", [](GradientBar& b) { tiled_bar(b, 100, false); },
         {{0, 3, clWhite}, {1, 3, kGreen}, {10, 3, clWhite}}},
        {"PositionBelowMinShowsAnEmptyBar",
         [](GradientBar& b) {
             splash_bar(b, 3);
             b.set_position(-2);
         },
         {{0, 0, kBack}, {0, 12, kBack}, {100, 12, kBack}}},
        {"MaxEqualToMinFillsTheWholeBarAboveMin",
         [](GradientBar& b) {
             plain_bar(b, BarStyle::sSolid, 0);
             b.set_max(0);
             b.set_position(1);
         },
         {{0, 12, clNavy}, {312, 12, clNavy}}},
        {"HugeRangeNeitherWrapsNorOverflows",
         [](GradientBar& b) {
             plain_bar(b, BarStyle::sSolid, 0);
             b.set_min(INT32_MIN);
             b.set_max(INT32_MAX);
             b.set_position(0);  // exactly half way: 156 of 313 columns
         },
         {{155, 12, clNavy}, {156, 12, kBack}}},
    };
    return cases;
}

class BarPixels : public ::testing::TestWithParam<CanvasKind> {};

TEST_P(BarPixels, EveryCaseOfTheTable) {
    for (const BarCase& c : bar_cases()) {
        GradientBar bar;
        c.setup(bar);
        auto canvas = GetParam().make(bar.width(), bar.height(), clBlack);
        bar.paint(*canvas);
        for (const Probe& p : c.probes) {
            Color want = canvas->resolve_color(p.expected);
            EXPECT_EQ(describe(canvas->pixel(p.x, p.y)), describe(want))
                << c.name << " at (" << p.x << ", " << p.y << ")";
        }
    }
}

// The bounding box of the pixels in the text colour.
Rect ink_box(const PixelCanvas& canvas, Color ink) {
    Rect box{canvas.width(), canvas.height(), -1, -1};
    for (int y = 0; y < canvas.height(); ++y)
        for (int x = 0; x < canvas.width(); ++x)
            if (canvas.pixel(x, y) == ink) {
                box.left = std::min(box.left, x);
                box.top = std::min(box.top, y);
                box.right = std::max(box.right, x + 1);
                box.bottom = std::max(box.bottom, y + 1);
            }
    return box;
}

void text_bar(GradientBar& bar, BarOrientation orientation, const std::string& face) {
    bar.set_orientation(orientation);
    if (orientation == BarOrientation::orHorizontal)
        bar.set_size(200, 30);
    else
        bar.set_size(30, 200);
    bar.set_color(clWhite);
    Font font;
    font.face = face;
    font.height = -13;
    font.color = clRed;
    bar.set_font(font);
    bar.set_max(8);
    bar.set_position(0);
    bar.set_show_text(true);
}

TEST_P(BarPixels, HorizontalTextIsCentredOnTheWholeControl) {
    GradientBar bar;
    text_bar(bar, BarOrientation::orHorizontal, "Arial");
    auto canvas = GetParam().make(bar.width(), bar.height(), clBlack);
    bar.paint(*canvas);
    Rect ink = ink_box(*canvas, clRed);
    ASSERT_LT(ink.left, ink.right) << "no text drawn";
    EXPECT_NEAR((ink.left + ink.right) / 2.0, 100.0, 3.0);
    EXPECT_NEAR((ink.top + ink.bottom) / 2.0, 15.0, 4.0);
    EXPECT_GT(ink.right - ink.left, ink.bottom - ink.top);
}

TEST_P(BarPixels, VerticalTextRunsFromTopToBottom) {
    for (const char* face : {"Arial", "MS Sans Serif"}) {
        GradientBar bar;
        text_bar(bar, BarOrientation::orVertical, face);
        auto canvas = GetParam().make(bar.width(), bar.height(), clBlack);
        bar.paint(*canvas);
        Rect ink = ink_box(*canvas, clRed);
        ASSERT_LT(ink.left, ink.right) << face << ": no text drawn";
        EXPECT_NEAR((ink.top + ink.bottom) / 2.0, 100.0, 4.0) << face;
        EXPECT_NEAR((ink.left + ink.right) / 2.0, 15.0, 4.0) << face;
        EXPECT_GT(ink.bottom - ink.top, ink.right - ink.left) << face << ": not turned";
    }
}

// Records the fonts that the painting selects, drawing nothing.
class FontRecorder final : public Canvas {
public:
    explicit FontRecorder(PixelCanvas& real) : real_(real) {}
    std::vector<Font> fonts;

    std::unique_ptr<Canvas> create_bitmap(int, int) override {
        return std::unique_ptr<Canvas>(new FontRecorder(*this, 0));
    }
    void fill_rect(const Rect&, Color) override {}
    void draw_edge(const Rect&, unsigned, unsigned) override {}
    void set_pen_color(Color) override {}
    void move_to(int, int) override {}
    void line_to(int, int) override {}
    void draw_bitmap(int, int, const Bitmap&, bool) override {}
    void set_font(const Font& font) override { log().push_back(font); }
    Size text_extent(const std::string& text) override { return real_.text_extent(text); }
    void text_out(int, int, const std::string&) override {}
    TextMetrics text_metrics(const Font& font) override { return real_.text_metrics(font); }
    void block_transfer(const Canvas&, int, int) override {}
    Color resolve_color(Color c) const override { return real_.resolve_color(c); }

private:
    // The off-screen bitmap's recorder writes into its parent's log.
    FontRecorder(FontRecorder& parent, int) : real_(parent.real_), parent_(&parent) {}
    std::vector<Font>& log() { return parent_ ? parent_->fonts : fonts; }
    PixelCanvas& real_;
    FontRecorder* parent_ = nullptr;
};

TEST_P(BarPixels, VerticalTextOfARasterFontIsTurnedInArial) {
    auto canvas = GetParam().make(10, 10, clBlack);
    for (const char* face : {"MS Sans Serif", "Arial", "Courier New"}) {
        GradientBar bar;
        text_bar(bar, BarOrientation::orVertical, face);
        Font asked = bar.font();
        asked.bold = true;
        bar.set_font(asked);
        FontRecorder recorder(*canvas);
        bar.paint(recorder);
        ASSERT_EQ(recorder.fonts.size(), 2u) << face;
        EXPECT_EQ(recorder.fonts[0], asked) << face << ": the text is measured in the control's font";
        bool outline = canvas->text_metrics(asked).pitch_and_family & kPitchTrueType;
        Font turned = asked;
        turned.face = outline ? face : "Arial";
        turned.escapement = 2700;
        EXPECT_EQ(recorder.fonts[1], turned) << face;
    }
}

INSTANTIATE_TEST_SUITE_P(Canvases, BarPixels, ::testing::ValuesIn(canvas_kinds()),
                         [](const ::testing::TestParamInfo<CanvasKind>& test) { return test.param.name; });

TEST(RasterFont, RasterFacesAreNotTrueType) {
    RasterCanvas canvas(1, 1);
    Font font;
    font.face = "ms sans serif";
    EXPECT_FALSE(canvas.text_metrics(font).pitch_and_family & kPitchTrueType);
    font.face = "Arial";
    EXPECT_TRUE(canvas.text_metrics(font).pitch_and_family & kPitchTrueType);
}

}  // namespace
}  // namespace kalv::splash
