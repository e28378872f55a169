// The real splash window under Wine: what reaches the screen, and when. The
// status label waits for message processing; a Position change is on the screen
// before the assignment returns.
#include "platform/platform.h"
#include "splash/win32/splash_capture.h"
#include "splash/splash.h"
#include "splash/splash_layout.h"

#include <gtest/gtest.h>

namespace kalv::splash {
namespace {

using platform::win32::capture_client;
using platform::win32::capture_progress_bar;

// The pixels of the status label's row band, left to right, top to bottom.
std::vector<Color> status_band(const SplashWindow& window) {
    auto client = capture_client(window);
    std::vector<Color> band;
    for (int y = layout::kStatusTop; y < layout::kStatusTop + layout::kLabelHeight; ++y)
        for (int x = layout::kLabelLeft; x < layout::kLabelLeft + 150; ++x) band.push_back(client->pixel(x, y));
    return band;
}

class RealSplash : public ::testing::Test {
protected:
    void SetUp() override {
        window = create_splash_window(platform::native());
        window->show_and_update();
    }
    std::unique_ptr<SplashWindow> window;
};

TEST_F(RealSplash, LayoutIsOnTheScreenWithoutMessageProcessing) {
    EXPECT_EQ(window->caption(), "Kalvo...");
    auto client = capture_client(*window);
    ASSERT_TRUE(client);
    ASSERT_EQ(client->width(), layout::kClientWidth) << "outer 343 x 129 leaves 335 x 102 inside";
    ASSERT_EQ(client->height(), layout::kClientHeight);
    Color face = client->resolve_color(clBtnFace);
    EXPECT_EQ(client->pixel(8 + 150, 64 + 12), face) << "position 0: the bar shows only the window colour";
    EXPECT_EQ(client->pixel(8, 64), face) << "no edge at position 0";
    EXPECT_EQ(client->pixel(52, 12), client->resolve_color(clBtnShadow)) << "Bevel2's top-right corner";
    EXPECT_EQ(client->pixel(12, 47), client->resolve_color(clBtnHighlight)) << "Bevel2's bottom-left corner";
    EXPECT_NE(client->pixel(16 + 16, 15 + 16), face) << "the icon";
    auto bar = capture_progress_bar(*window);
    EXPECT_EQ(bar->width(), 313);
    EXPECT_EQ(bar->height(), 25);
}

TEST_F(RealSplash, PositionReachesTheScreenWithinTheAssignment) {
    window->set_progress_max(3);
    window->set_progress_position(1);
    auto bar = capture_progress_bar(*window);
    Color face = bar->resolve_color(clBtnFace);
    EXPECT_EQ(bar->pixel(0, 0), bar->resolve_color(clBtnShadow));
    EXPECT_EQ(bar->pixel(50, 12), gradient_color(clNavy, clRed, 50, 313));
    EXPECT_EQ(bar->pixel(103, 12), bar->resolve_color(clBtnHighlight));
    EXPECT_EQ(bar->pixel(104, 12), face);
    window->set_progress_position(2);
    bar = capture_progress_bar(*window);
    EXPECT_EQ(bar->pixel(103, 12), rgb(83, 0, 85));
    EXPECT_EQ(bar->pixel(207, 12), bar->resolve_color(clBtnHighlight));
    EXPECT_EQ(bar->pixel(208, 12), face);
    window->set_progress_position(3);
    bar = capture_progress_bar(*window);
    EXPECT_EQ(bar->pixel(311, 12), gradient_color(clNavy, clRed, 311, 313));
}

TEST_F(RealSplash, StatusWaitsForMessageProcessing) {
    platform::native().process_messages();
    std::vector<Color> before = status_band(*window);
    window->set_status("Checking...");
    EXPECT_EQ(status_band(*window), before) << "the old status stays until messages are processed";
    platform::native().process_messages();
    std::vector<Color> after = status_band(*window);
    EXPECT_NE(after, before);
    window->set_status("...");
    platform::native().process_messages();
    EXPECT_EQ(status_band(*window), before) << "the label narrows again with its text";
}

TEST_F(RealSplash, CaptionIsReadBackAsSet) {
    window->set_caption(window->caption() + " ( Setuping... )");
    EXPECT_EQ(window->caption(), "Kalvo... ( Setuping... )");
}

}  // namespace
}  // namespace kalv::splash
