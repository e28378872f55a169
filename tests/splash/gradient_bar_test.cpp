// The progress bar's properties, ramp, texts and repaint reactions; the repaints
// are watched through the raster window, which records what was invalidated and
// painted when.
#include "splash/gradient_bar.h"
#include "splash/raster_bar_window.h"

#include <gtest/gtest.h>

#include <climits>

namespace kalv::splash {
namespace {

using Invalidation = RasterBarWindow::Invalidation;

TEST(GradientColor, SplashRampOver313Steps) {
    EXPECT_EQ(gradient_color(clNavy, clRed, 0, 313), rgb(0, 0, 128));
    EXPECT_EQ(gradient_color(clNavy, clRed, 103, 313), rgb(83, 0, 85));
    EXPECT_EQ(gradient_color(clNavy, clRed, 312, 313), rgb(254, 0, 0));  // never pure red
    EXPECT_EQ(gradient_color(clNavy, clRed, 313, 313), clRed);
}

TEST(GradientColor, ChannelsTruncateIndependently) {
    // white -> black over 3 steps: 255 - 85 = 170 exactly, then 255 - 170 = 85.
    EXPECT_EQ(gradient_color(clWhite, clBlack, 1, 3), rgb(170, 170, 170));
    // 0 -> 255 over 2 steps: 127.5 truncates to 127, not rounded to 128.
    EXPECT_EQ(gradient_color(clBlack, rgb(255, 10, 1), 1, 2), rgb(127, 5, 0));
    // A system colour's top byte is ignored: the low three bytes are taken as they stand.
    EXPECT_EQ(gradient_color(0x80000005u, 0x80000005u, 1, 2), rgb(5, 0, 0));
    EXPECT_EQ(gradient_color(clNavy, clRed, 7, 0), clNavy);  // no steps: no division
}

TEST(GradientBarDefaults, AsConstructed) {
    GradientBar bar;
    EXPECT_EQ(bar.bevel_outer(), BarBevel::bvLowered);
    EXPECT_EQ(bar.bar_bevel_outer(), BarBevel::bvNone);
    EXPECT_EQ(bar.orientation(), BarOrientation::orVertical);
    EXPECT_EQ(bar.max(), 100);
    EXPECT_EQ(bar.min(), 0);
    EXPECT_EQ(bar.position(), 0);
    EXPECT_FALSE(bar.show_text());
    EXPECT_EQ(bar.show_text_style(), BarTextStyle::stsPercent);
    EXPECT_EQ(bar.begin_color(), clNavy);
    EXPECT_EQ(bar.end_color(), clWhite);
    EXPECT_EQ(bar.style(), BarStyle::sRectangles);
    EXPECT_TRUE(bar.glyph().empty());
    EXPECT_EQ(bar.step(), 10);
    EXPECT_TRUE(bar.transparent_glyph());
    EXPECT_EQ(bar.width(), 150);
    EXPECT_EQ(bar.height(), 16);
    EXPECT_EQ(bar.color(), clWindow);
}

TEST(GradientBarRange, RefusedMaxAndMinAreDroppedSilently) {
    GradientBar bar;
    RasterBarWindow window(bar);
    window.clear_record();
    bar.set_max(-5);
    EXPECT_EQ(bar.max(), 100);
    bar.set_min(200);
    EXPECT_EQ(bar.min(), 0);
    EXPECT_TRUE(window.invalidations().empty()) << "a refused value repaints nothing";
    bar.set_min(100);  // equal to Max is allowed
    EXPECT_EQ(bar.min(), 100);
    bar.set_max(100);
    bar.set_max(99);
    EXPECT_EQ(bar.max(), 100);
    bar.set_position(-7);  // Position is never checked
    EXPECT_EQ(bar.position(), -7);
}

TEST(GradientBarText, PercentRoundsHalvesToEven) {
    GradientBar bar;
    bar.set_max(8);
    struct {
        int position;
        const char* text;
    } cases[] = {{0, "0 %"}, {1, "12 %"}, {3, "38 %"}, {4, "50 %"}, {5, "62 %"}, {7, "88 %"}, {8, "100 %"},
                 {-1, "-12 %"}, {-3, "-38 %"}, {12, "150 %"}};
    for (const auto& c : cases) {
        bar.set_position(c.position);
        EXPECT_EQ(bar.text(), c.text) << "position " << c.position;
    }
    bar.set_show_text_style(BarTextStyle::stsPosition);
    bar.set_position(5);
    EXPECT_EQ(bar.text(), "5");
}

TEST(GradientBarText, PercentIsMeasuredFromMinLikeTheFill) {
    GradientBar bar;
    bar.set_min(50);
    bar.set_max(150);
    bar.set_position(50);
    EXPECT_EQ(bar.text(), "0 %");
    bar.set_position(150);
    EXPECT_EQ(bar.text(), "100 %");
}

TEST(GradientBarText, MaxEqualToMinNeitherDividesByZeroNorFails) {
    GradientBar bar;
    bar.set_max(0);
    EXPECT_EQ(bar.text(), "0 %");
    bar.set_position(1);
    EXPECT_EQ(bar.text(), "100 %");
    bar.set_position(-1);
    EXPECT_EQ(bar.text(), "0 %");
}

TEST(GradientBarText, ExtremeValuesDoNotOverflow) {
    GradientBar bar;
    bar.set_min(INT_MIN);
    bar.set_max(INT_MAX);
    bar.set_position(INT_MAX);
    EXPECT_EQ(bar.text(), "100 %");
    bar.set_position(INT_MIN);
    EXPECT_EQ(bar.text(), "0 %");
}

// The splash bar: 313 x 25, horizontal continuous ramp, Max 3.
struct SplashBar {
    GradientBar bar;
    RasterBarWindow window{bar};
    SplashBar() {
        bar.set_size(313, 25);
        bar.set_bevel_outer(BarBevel::bvNone);
        bar.set_bar_bevel_outer(BarBevel::bvLowered);
        bar.set_style(BarStyle::sExSolid);
        bar.set_orientation(BarOrientation::orHorizontal);
        bar.set_end_color(clRed);
        bar.set_max(3);
        window.process_messages();
        window.clear_record();
    }
};

TEST(GradientBarRepaint, PositionRepaintsItsBandAtOnceWithoutErasing) {
    SplashBar s;
    s.bar.set_position(1);
    // off(1) = Trunc(1 x 313 / 3) = 104 on the client length; two pixels either side.
    ASSERT_EQ(s.window.invalidations(), (std::vector<Invalidation>{{{-2, 0, 106, 25}, false}}));
    ASSERT_EQ(s.window.paints().size(), 1u) << "painted before the assignment returned";
    EXPECT_FALSE(s.window.has_invalid_area());
    s.window.clear_record();
    s.bar.set_position(3);
    EXPECT_EQ(s.window.invalidations(), (std::vector<Invalidation>{{{102, 0, 315, 25}, false}}));
    s.window.clear_record();
    s.bar.set_position(2);  // going back: the same band rule with old and new swapped
    EXPECT_EQ(s.window.invalidations(), (std::vector<Invalidation>{{{206, 0, 315, 25}, false}}));
}

TEST(GradientBarRepaint, UnchangedPositionAndStepRepaintNothing) {
    SplashBar s;
    s.bar.set_position(0);
    s.bar.set_step(5);
    EXPECT_EQ(s.bar.step(), 5);
    s.bar.set_position(2);
    s.window.clear_record();
    s.bar.set_position(2);
    s.bar.set_step(1);
    EXPECT_TRUE(s.window.invalidations().empty());
    EXPECT_TRUE(s.window.paints().empty());
}

TEST(GradientBarRepaint, BlockAndPictureStylesWidenTheBand) {
    SplashBar s;
    s.bar.set_style(BarStyle::sRectangles);
    s.window.clear_record();
    s.bar.set_position(1);
    // Pc = Trunc(2 x 25 / 3) + 2 = 18 at both ends.
    EXPECT_EQ(s.window.invalidations(), (std::vector<Invalidation>{{{-20, 0, 124, 25}, false}}));

    s.bar.set_style(BarStyle::sPictures);
    s.bar.set_glyph(Bitmap(7, 21, clRed));
    s.window.process_messages();
    s.window.clear_record();
    s.bar.set_position(2);
    EXPECT_EQ(s.window.invalidations(), (std::vector<Invalidation>{{{102 - 7, 0, 210 + 7, 25}, false}}));
}

TEST(GradientBarRepaint, VerticalBandCountsFromTheBottom) {
    GradientBar bar;  // vertical, 150 x 16, rectangles
    bar.set_style(BarStyle::sSolid);
    RasterBarWindow window(bar);
    window.process_messages();
    window.clear_record();
    bar.set_position(50);  // off = Trunc(50 x 16 / 100) = 8
    EXPECT_EQ(window.invalidations(), (std::vector<Invalidation>{{{0, 16 - 8 - 2, 150, 16 + 2}, false}}));
}

TEST(GradientBarRepaint, TextAreaIsMarkedButPaintedOnlyAtMessageProcessing) {
    SplashBar s;
    s.bar.set_show_text(true);
    s.window.process_messages();
    s.window.clear_record();
    s.bar.set_position(1);
    ASSERT_EQ(s.window.invalidations().size(), 2u);
    Size widest = s.window.measure_text(s.bar.font(), "100 %");
    Rect text{(313 - widest.cx) / 2, (25 - widest.cy) / 2, (313 - widest.cx) / 2 + widest.cx,
              (25 - widest.cy) / 2 + widest.cy};
    EXPECT_EQ(s.window.invalidations()[1], (Invalidation{text, false}));
    EXPECT_EQ(s.window.paints().size(), 1u);
    EXPECT_TRUE(s.window.has_invalid_area()) << "the text area waits for message processing";
    s.window.process_messages();
    EXPECT_EQ(s.window.paints().size(), 2u);
}

TEST(GradientBarRepaint, TextAreaCoversATextWiderThanTheWidestRegularOne) {
    SplashBar s;
    s.bar.set_show_text(true);
    s.bar.set_position(30);  // "1000 %": wider than "100 %"
    s.window.clear_record();
    s.bar.set_position(1);
    ASSERT_EQ(s.window.invalidations().size(), 2u);
    EXPECT_EQ(s.window.invalidations()[1].area.width(), s.window.measure_text(s.bar.font(), "1000 %").cx);
}

// Each setter's reaction: full repaint (erasing) or nothing.
TEST(GradientBarRepaint, SetterReactions) {
    struct Case {
        const char* name;
        std::function<void(GradientBar&)> prepare;
        std::function<void(GradientBar&)> change;
        bool repaints;
    };
    const Case cases[] = {
        {"BevelOuter", nullptr, [](GradientBar& b) { b.set_bevel_outer(BarBevel::bvRaised); }, true},
        {"BarBevelOuter", nullptr, [](GradientBar& b) { b.set_bar_bevel_outer(BarBevel::bvLowered); }, true},
        {"Orientation", nullptr, [](GradientBar& b) { b.set_orientation(BarOrientation::orHorizontal); }, true},
        {"Style", nullptr, [](GradientBar& b) { b.set_style(BarStyle::sSolid); }, true},
        {"ShowText", nullptr, [](GradientBar& b) { b.set_show_text(true); }, true},
        {"Max", nullptr, [](GradientBar& b) { b.set_max(3); }, true},
        {"Min", nullptr, [](GradientBar& b) { b.set_min(-3); }, true},
        {"ShowTextStyleWithoutText", nullptr,
         [](GradientBar& b) { b.set_show_text_style(BarTextStyle::stsPosition); }, false},
        {"ShowTextStyleWithText", [](GradientBar& b) { b.set_show_text(true); },
         [](GradientBar& b) { b.set_show_text_style(BarTextStyle::stsPosition); }, true},
        {"BeginColor", nullptr, [](GradientBar& b) { b.set_begin_color(clRed); }, true},
        {"BeginColorOfPictures", [](GradientBar& b) { b.set_style(BarStyle::sPictures); },
         [](GradientBar& b) { b.set_begin_color(clRed); }, false},
        {"EndColorOfBlocks", nullptr, [](GradientBar& b) { b.set_end_color(clRed); }, false},
        {"EndColorOfRampBlocks", [](GradientBar& b) { b.set_style(BarStyle::sExRectangles); },
         [](GradientBar& b) { b.set_end_color(clRed); }, true},
        {"EndColorOfRamp", [](GradientBar& b) { b.set_style(BarStyle::sExSolid); },
         [](GradientBar& b) { b.set_end_color(clRed); }, true},
        {"TransparentGlyph", nullptr, [](GradientBar& b) { b.set_transparent_glyph(false); }, true},
        {"GlyphOfBlocks", nullptr, [](GradientBar& b) { b.set_glyph(Bitmap()); }, false},
        {"GlyphOfPictures", [](GradientBar& b) { b.set_style(BarStyle::sPictures); },
         [](GradientBar& b) { b.set_glyph(Bitmap()); }, true},  // runs even for an equal glyph
        {"Step", nullptr, [](GradientBar& b) { b.set_step(3); }, false},
        {"SameMax", nullptr, [](GradientBar& b) { b.set_max(100); }, false},
        {"SameStyle", nullptr, [](GradientBar& b) { b.set_style(BarStyle::sRectangles); }, false},
    };
    for (const Case& c : cases) {
        GradientBar bar;
        RasterBarWindow window(bar);
        if (c.prepare) c.prepare(bar);
        window.process_messages();
        window.clear_record();
        c.change(bar);
        if (c.repaints) {
            EXPECT_EQ(window.invalidations(), (std::vector<Invalidation>{{{0, 0, 150, 16}, true}})) << c.name;
            EXPECT_TRUE(window.paints().empty()) << c.name << ": a full repaint waits for message processing";
        } else {
            EXPECT_TRUE(window.invalidations().empty()) << c.name;
        }
    }
}

TEST(GradientBarGlyph, ThicknessFollowsTheGlyph) {
    GradientBar bar;
    bar.set_glyph(Bitmap(9, 5));
    EXPECT_EQ(bar.width(), 13);  // vertical: Width = glyph width + 4
    EXPECT_EQ(bar.height(), 16);
    EXPECT_TRUE(bar.glyph().transparent());
    bar.set_orientation(BarOrientation::orHorizontal);
    bar.set_transparent_glyph(false);
    bar.set_glyph(Bitmap(9, 5));
    EXPECT_EQ(bar.height(), 9);  // horizontal: Height = glyph height + 4
    EXPECT_EQ(bar.width(), 13);
    EXPECT_FALSE(bar.glyph().transparent());
    bar.set_glyph(Bitmap());  // an empty glyph changes no size
    EXPECT_EQ(bar.height(), 9);
}

TEST(GradientBarGlyph, LoadedAppliesTransparencyAndRepaints) {
    GradientBar bar;
    bar.set_glyph(Bitmap(4, 4));
    RasterBarWindow window(bar);
    window.process_messages();
    window.clear_record();
    bar.loaded();
    EXPECT_TRUE(bar.glyph().transparent());
    EXPECT_EQ(window.invalidations().size(), 1u);
}

// After any sequence of Position changes, what the partial repaints left on the
// surface equals a fresh paint of the final state: the band covers every change.
TEST(GradientBarRepaint, PartialRepaintsMatchAFullPaint) {
    const BarStyle styles[] = {BarStyle::sSolid, BarStyle::sRectangles, BarStyle::sExSolid,
                               BarStyle::sExRectangles, BarStyle::sPictures};
    const int positions[] = {1, 7, 3, 12, 12, 0, 9, 20, 11, -4, 5};
    for (BarStyle style : styles)
        for (BarOrientation orientation : {BarOrientation::orHorizontal, BarOrientation::orVertical})
            for (BarBevel bevel : {BarBevel::bvNone, BarBevel::bvLowered})
                for (BarBevel outer : {BarBevel::bvNone, BarBevel::bvRaised}) {
                    GradientBar bar;
                    RasterBarWindow window(bar);
                    bar.set_orientation(orientation);
                    bar.set_size(orientation == BarOrientation::orHorizontal ? 97 : 19,
                                 orientation == BarOrientation::orHorizontal ? 19 : 97);
                    bar.set_style(style);
                    bar.set_bevel_outer(outer);
                    bar.set_bar_bevel_outer(bevel);
                    bar.set_end_color(clRed);
                    bar.set_max(12);
                    Bitmap glyph(5, 5, clRed);
                    glyph.set_pixel(2, 2, clWhite);
                    bar.set_glyph(glyph);
                    window.process_messages();
                    for (int p : positions) {
                        bar.set_position(p);
                        RasterCanvas fresh(bar.width(), bar.height(), clBlack);
                        bar.paint(fresh);
                        for (int y = 0; y < bar.height(); ++y)
                            for (int x = 0; x < bar.width(); ++x)
                                ASSERT_EQ(window.surface().pixel(x, y), fresh.pixel(x, y))
                                    << "style " << int(style) << " orientation " << int(orientation) << " position "
                                    << p << " at " << x << "," << y;
                    }
                }
}

TEST(GradientBarGeometry, FilledRectangleCases) {
    GradientBar bar;
    bar.set_orientation(BarOrientation::orHorizontal);
    bar.set_size(313, 25);
    bar.set_bevel_outer(BarBevel::bvNone);
    bar.set_max(3);
    const struct {
        int position;
        int right;
    } cases[] = {{0, 0}, {1, 104}, {2, 208}, {3, 313}, {4, 313}, {-1, 0}};
    for (const auto& c : cases) {
        bar.set_position(c.position);
        EXPECT_EQ(bar.filled_rect(), (Rect{0, 0, c.right, 25})) << c.position;
    }
}

TEST(GradientBarGeometry, TinyAndEmptyControlsPaintWithoutFailing) {
    for (int size : {0, 1, 2, 3, 4, 5}) {
        for (BarStyle style : {BarStyle::sSolid, BarStyle::sRectangles, BarStyle::sExSolid,
                               BarStyle::sExRectangles, BarStyle::sPictures}) {
            GradientBar bar;
            bar.set_size(size, size);
            bar.set_style(style);
            bar.set_show_text(true);
            bar.set_glyph(Bitmap(1, 1));
            bar.set_size(size, size);
            bar.set_position(100);
            RasterCanvas canvas(std::max(size, 1), std::max(size, 1));
            bar.paint(canvas);
            bar.set_max(0);
            bar.set_min(0);
            bar.paint(canvas);
        }
    }
}

}  // namespace
}  // namespace kalv::splash
