// The splash window's layout on the raster (the POSIX window).
#include "splash/raster_splash.h"
#include "splash/splash_layout.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "platform/platform.h"

namespace kalv::splash {
namespace {

using layout::kProgressBar;

constexpr int kLeft = RasterSplashWindow::kClientLeft;
constexpr int kTop = RasterSplashWindow::kClientTop;

Color at_client(RasterCanvas& picture, int x, int y) { return picture.pixel(kLeft + x, kTop + y); }

TEST(RasterSplash, FormCreateTextsAndInitialStatus) {
    RasterSplashWindow splash(platform::native(), "");
    EXPECT_EQ(splash.caption(), "Kalvo...");
    EXPECT_EQ(splash.status(), "...");
    const GradientBar& bar = splash.progress_bar();
    EXPECT_EQ(bar.width(), 313);
    EXPECT_EQ(bar.height(), 25);
    EXPECT_EQ(bar.style(), BarStyle::sExSolid);
    EXPECT_EQ(bar.orientation(), BarOrientation::orHorizontal);
    EXPECT_EQ(bar.bevel_outer(), BarBevel::bvNone);
    EXPECT_EQ(bar.bar_bevel_outer(), BarBevel::bvLowered);
    EXPECT_EQ(bar.end_color(), clRed);
    EXPECT_EQ(bar.step(), 1);
    EXPECT_EQ(bar.max(), 100);
    splash.set_caption(splash.caption() + " ( Setuping... )");
    EXPECT_EQ(splash.caption(), "Kalvo... ( Setuping... )");
}

TEST(RasterSplash, EachStatusIsOneLineOnStderr) {
    RasterSplashWindow splash(platform::native(), "");
    ::testing::internal::CaptureStderr();
    splash.set_status("Loading...");
    splash.set_status("Ready !");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "splash: Loading...\nsplash: Ready !\n");
    EXPECT_EQ(splash.status(), "Ready !");
}

TEST(RasterSplash, PictureOfTheLayout) {
    RasterSplashWindow splash(platform::native(), "");
    splash.set_progress_max(3);
    splash.set_progress_position(2);
    RasterCanvas picture = splash.picture();
    ASSERT_EQ(picture.width(), 343);
    ASSERT_EQ(picture.height(), 129);
    Color face = picture.resolve_color(clBtnFace);
    Color light = picture.resolve_color(clBtnHighlight);
    Color shadow = picture.resolve_color(clBtnShadow);
    // The bar at 2 of 3: 208 filled columns of the ramp inside a sunken edge.
    int bx = kProgressBar.left, by = kProgressBar.top;
    EXPECT_EQ(at_client(picture, bx + 0, by + 0), shadow);
    EXPECT_EQ(at_client(picture, bx + 103, by + 12), rgb(83, 0, 85));
    EXPECT_EQ(at_client(picture, bx + 207, by + 12), light);
    EXPECT_EQ(at_client(picture, bx + 208, by + 12), face);
    // Bevel2's raised box: bottom-left on the highlight side, top-right on the shadow side.
    EXPECT_EQ(at_client(picture, 12, 47), light);
    EXPECT_EQ(at_client(picture, 12, 30), light);
    EXPECT_EQ(at_client(picture, 30, 12), light);
    EXPECT_EQ(at_client(picture, 52, 12), shadow);
    EXPECT_EQ(at_client(picture, 52, 30), shadow);
    EXPECT_EQ(at_client(picture, 30, 47), shadow);
    // The icon's top-left corner is transparent, its middle is not the background.
    EXPECT_EQ(at_client(picture, 16, 15), face);
    EXPECT_NE(at_client(picture, 16 + 16, 15 + 4), face);
    // Prompt and status labels: ink only in their own rows, starting at column 80.
    auto ink_in = [&](int top) {
        int found = 0;
        for (int y = top; y < top + 13; ++y)
            for (int x = 80; x < 335; ++x) found += at_client(picture, x, y) == picture.resolve_color(clWindowText);
        return found;
    };
    EXPECT_GT(ink_in(layout::kPromptTop), 0);
    EXPECT_GT(ink_in(layout::kStatusTop), 0);
    for (int y = 0; y < 102; ++y)
        EXPECT_EQ(at_client(picture, 79, y) == picture.resolve_color(clWindowText), false) << y;
}

TEST(RasterSplash, StatusChangesWidenAndNarrowTheLabel) {
    RasterSplashWindow splash(platform::native(), "");
    splash.set_status("Checking...");
    RasterCanvas wide = splash.picture();
    splash.set_status("...");
    RasterCanvas narrow = splash.picture();
    Color ink = wide.resolve_color(clWindowText);
    auto rightmost = [&](RasterCanvas& p) {
        int right = 0;
        for (int y = layout::kStatusTop; y < layout::kStatusTop + 13; ++y)
            for (int x = 80; x < 335; ++x)
                if (p.pixel(kLeft + x, kTop + y) == ink) right = std::max(right, x);
        return right;
    };
    EXPECT_GT(rightmost(wide), rightmost(narrow));
}

TEST(RasterSplash, SavesItsPictureWhenShownAndOnEveryPosition) {
    std::string path = ::testing::TempDir() + "kalv3_splash_test.ppm";
    std::remove(path.c_str());
    {
        RasterSplashWindow splash(platform::native(), path);
        splash.set_progress_max(3);
        splash.set_progress_position(1);
        EXPECT_FALSE(std::ifstream(path)) << "nothing is saved before the window is shown";
        splash.show_and_update();
        std::ifstream saved(path, std::ios::binary);
        ASSERT_TRUE(saved);
        std::string head;
        std::getline(saved, head);
        EXPECT_EQ(head, "P6");
    }
    std::remove(path.c_str());
}

TEST(RasterSplash, UnwritablePictureIsReportedAndSplashGoesOn) {
    RasterSplashWindow splash(platform::native(), "/nonexistent-directory/splash.png");
    ::testing::internal::CaptureStderr();
    splash.show_and_update();
    splash.set_progress_max(3);
    splash.set_progress_position(1);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "splash: Cannot create file /nonexistent-directory/splash.png\n");
}

TEST(RasterCanvasPng, SignatureAndChunks) {
    std::vector<Color> pixels(3 * 2, clRed);
    std::vector<uint8_t> png = encode_png(3, 2, pixels);
    ASSERT_GT(png.size(), 8u + 25 + 12);
    EXPECT_EQ(std::string(png.begin() + 1, png.begin() + 4), "PNG");
    EXPECT_EQ(std::string(png.begin() + 12, png.begin() + 16), "IHDR");
    EXPECT_EQ(std::string(png.end() - 8, png.end() - 4), "IEND");
}

}  // namespace
}  // namespace kalv::splash
