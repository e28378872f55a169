// The progress bar's standard control properties and events on the real Win32
// child window (under Wine): each property's effect is read back through Win32, and
// each user action, sent with SendInput, delivers its events once.
#include "platform/platform.h"
#include "splash/win32/splash_capture.h"
#include "splash/splash.h"
#include "splash/splash_layout.h"

#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace kalv::splash {

namespace {

class RealBar : public ::testing::Test {
protected:
    void SetUp() override {
        window = create_splash_window(platform::native());
        window->show_and_update();
        bar_window = static_cast<HWND>(platform::win32::progress_bar_window(*window));
        frame = GetParent(bar_window);
    }

    GradientBar& bar() { return window->progress_bar(); }

    // The bar's window rectangle in the frame's client coordinates.
    Rect placed() const {
        RECT r{};
        GetWindowRect(bar_window, &r);
        MapWindowPoints(nullptr, frame, reinterpret_cast<POINT*>(&r), 2);
        return {r.left, r.top, r.right, r.bottom};
    }

    std::unique_ptr<SplashWindow> window;
    HWND bar_window = nullptr;
    HWND frame = nullptr;
};

TEST_F(RealBar, VisibleEnabledAndTabStopReachTheWindow) {
    ASSERT_TRUE(IsWindowVisible(bar_window));
    bar().set_visible(false);
    EXPECT_FALSE(IsWindowVisible(bar_window));
    bar().set_visible(true);
    EXPECT_TRUE(IsWindowVisible(bar_window));
    bar().set_enabled(false);
    EXPECT_FALSE(IsWindowEnabled(bar_window));
    bar().set_enabled(true);
    EXPECT_TRUE(IsWindowEnabled(bar_window));
    bar().set_tab_stop(true);
    EXPECT_TRUE(GetWindowLongA(bar_window, GWL_STYLE) & WS_TABSTOP);
}

TEST_F(RealBar, AlignPlacesTheWindowAgainstTheFramesSide) {
    // The frame's client area is 335 x 102; the bar starts at (8, 64), 313 x 25.
    const struct {
        Align align;
        SizeConstraints constraints;
        Rect expected;
    } cases[] = {
        {Align::alNone, {}, {8, 64, 321, 89}},
        {Align::alTop, {}, {0, 0, 335, 25}},
        {Align::alBottom, {}, {0, 77, 335, 102}},
        {Align::alLeft, {}, {0, 0, 313, 102}},
        {Align::alRight, {0, 0, 100, 0}, {235, 0, 335, 102}},
        {Align::alClient, {0, 0, 0, 50}, {0, 0, 335, 50}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.align));
        bar().set_align(Align::alNone);
        bar().set_constraints({});
        bar().set_bounds(layout::kProgressBar);
        bar().set_constraints(c.constraints);
        bar().set_align(c.align);
        EXPECT_EQ(placed(), c.expected);
    }
}

TEST_F(RealBar, AnchorsFollowTheFrameWhenItGrows) {
    RECT outer{};
    GetWindowRect(frame, &outer);
    auto size_frame = [&](int grow_x, int grow_y) {
        SetWindowPos(frame, nullptr, 0, 0, outer.right - outer.left + grow_x, outer.bottom - outer.top + grow_y,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    };
    // The frame grows by 40 x 30 pixels.
    const struct {
        Anchors anchors;
        Rect expected;
    } cases[] = {
        {akLeft | akTop, {8, 64, 321, 89}},
        {akLeft | akTop | akRight, {8, 64, 361, 89}},
        {akRight | akBottom, {48, 94, 361, 119}},
        {akTop | akBottom, {28, 64, 341, 119}},  // neither side: the centre moves by half
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.anchors));
        bar().set_anchors(akLeft | akTop);
        size_frame(0, 0);
        bar().set_bounds(layout::kProgressBar);
        bar().set_anchors(c.anchors);
        size_frame(40, 30);
        EXPECT_EQ(placed(), c.expected);
    }
}

TEST_F(RealBar, BorderWidthShrinksTheClientAreaThatTheBarPaints) {
    bar().set_max(3);
    bar().set_position(3);
    bar().set_border_width(3);
    platform::native().process_messages();
    RECT client{};
    GetClientRect(bar_window, &client);
    EXPECT_EQ(client.right, 313 - 6);
    EXPECT_EQ(client.bottom, 25 - 6);
    EXPECT_EQ(placed(), (Rect{8, 64, 321, 89})) << "the window keeps its bounds";
    auto painted = platform::win32::capture_progress_bar(*window);
    EXPECT_EQ(painted->pixel(0, 0), painted->resolve_color(clBtnShadow)) << "the bar's bevel moved inside the border";
    EXPECT_EQ(painted->pixel(306, 18), painted->resolve_color(clBtnHighlight));
}

std::string tooltip_text(HWND tooltip, HWND bar) {
    if (!tooltip || SendMessageA(tooltip, TTM_GETTOOLCOUNT, 0, 0) == 0) return "(no tooltip)";
    char text[256] = {};
    TTTOOLINFOA tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = GetParent(bar);
    tool.uId = reinterpret_cast<UINT_PTR>(bar);
    tool.lpszText = text;
    SendMessageA(tooltip, TTM_GETTEXTA, sizeof text, LPARAM(&tool));
    return text;
}

TEST_F(RealBar, HintIsTheTooltipWhileHintsAreShown) {
    auto tip = [&] { return tooltip_text(static_cast<HWND>(platform::win32::progress_bar_tooltip(*window)), bar_window); };
    bar().set_hint("Progress|How far the start has come");
    EXPECT_EQ(tip(), "(no tooltip)") << "ParentShowHint: the frame shows no hints";
    bar().set_show_hint(true);
    EXPECT_EQ(tip(), "Progress") << "the hint's short part";
    bar().set_hint("Step");
    EXPECT_EQ(tip(), "Step");
    bar().set_show_hint(false);
    EXPECT_EQ(tip(), "(no tooltip)");
}

// ---- events ---------------------------------------------------------------------

class RealBarEvents : public RealBar {
protected:
    void SetUp() override {
        RealBar::SetUp();
        Control& c = bar();
        // Appended, not prefixed: GCC 12 flags `"literal" + std::string&&` at -O3 with a false
        // -Wrestrict (GCC bug 105329).
        auto at = [](int x, int y) { return std::string(" ") + std::to_string(x) + "," + std::to_string(y); };
        auto button = [](MouseButton b) { return b == MouseButton::mbLeft ? "Left" : b == MouseButton::mbRight ? "Right" : "Middle"; };
        c.OnClick = [this](Control&) { log.push_back("click"); };
        c.OnDblClick = [this](Control&) { log.push_back("double click"); };
        c.OnMouseDown = [=, this](Control&, MouseButton b, ShiftState s, int x, int y) {
            log.push_back(std::string("down ") + button(b) + (s & ssDouble ? " double" : "") + at(x, y));
        };
        c.OnMouseUp = [=, this](Control&, MouseButton b, ShiftState, int x, int y) {
            log.push_back(std::string("up ") + button(b) + at(x, y));
        };
        c.OnMouseMove = [this](Control&, ShiftState, int, int) { ++moves; };
        c.OnContextPopup = [=, this](Control&, Point p, bool& handled) {
            log.push_back("context popup" + at(p.x, p.y));
            handled = true;
        };
        c.OnEnter = [this](Control&) { log.push_back("enter"); };
        c.OnExit = [this](Control&) { log.push_back("exit"); };
        c.OnStartDrag = [this](Control&) { log.push_back("start drag"); };
        c.OnDragOver = [=, this](Control&, Control& source, int x, int y, DragState state, bool&) {
            if (state != DragState::dsDragMove || log.back().rfind("drag over move", 0) != 0)
                log.push_back(std::string("drag over ") +
                              (state == DragState::dsDragEnter ? "enter" : state == DragState::dsDragMove ? "move" : "leave") +
                              (&source == &bar() ? " self" : ""));
            (void)x, (void)y;
        };
        c.OnDragDrop = [=, this](Control&, Control&, int x, int y) { log.push_back("drag drop" + at(x, y)); };
        c.OnEndDrag = [=, this](Control&, Control* target, int x, int y) {
            log.push_back(std::string("end drag ") + (target ? "on bar" : "nowhere") + at(x, y));
        };
        c.OnStartDock = [this](Control&) { log.push_back("start dock"); };
        c.OnEndDock = [this](Control&, Control* target, int, int) {
            log.push_back(std::string("end dock ") + (target ? "on bar" : "nowhere"));
        };
        SetForegroundWindow(frame);
    }

    // Sends one mouse event at a point of the bar's client area, then lets the
    // window handle what arrives.
    void mouse(DWORD flags, int x, int y) {
        POINT p{x, y};
        ClientToScreen(bar_window, &p);
        SetCursorPos(p.x, p.y);
        pump();
        INPUT input{};
        input.type = INPUT_MOUSE;
        input.mi.dwFlags = flags;
        if (flags) SendInput(1, &input, sizeof input);
        pump();
    }
    void pump() {
        for (int i = 0; i < 10; ++i) {
            platform::native().process_messages();
            Sleep(10);
        }
    }
    void click(int x, int y) {
        mouse(MOUSEEVENTF_LEFTDOWN, x, y);
        mouse(MOUSEEVENTF_LEFTUP, x, y);
    }
    // Both clicks in one go, well within the double-click time even on a busy machine.
    void double_click(int x, int y) {
        mouse(0, x, y);
        INPUT inputs[4] = {};
        const DWORD flags[4] = {MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP};
        for (int i = 0; i < 4; ++i) {
            inputs[i].type = INPUT_MOUSE;
            inputs[i].mi.dwFlags = flags[i];
        }
        SendInput(4, inputs, sizeof inputs[0]);
        pump();
    }

    std::vector<std::string> log;
    int moves = 0;
};

using Log = std::vector<std::string>;

TEST_F(RealBarEvents, AClickIsDownClickUpOnce) {
    click(100, 12);
    EXPECT_EQ(log, (Log{"down Left 100,12", "click", "up Left 100,12"}));
}

TEST_F(RealBarEvents, ADoubleClickClicksOnceThenDoubleClicks) {
    double_click(100, 12);
    EXPECT_EQ(log, (Log{"down Left 100,12", "click", "up Left 100,12", "double click", "down Left double 100,12",
                        "up Left 100,12"}));
}

TEST_F(RealBarEvents, ARightClickAsksForTheContextPopup) {
    mouse(MOUSEEVENTF_RIGHTDOWN, 40, 10);
    mouse(MOUSEEVENTF_RIGHTUP, 40, 10);
    EXPECT_EQ(log, (Log{"down Right 40,10", "up Right 40,10", "context popup 40,10"}));
}

TEST_F(RealBarEvents, MovesAreReportedAndAPressReleasedOutsideIsNoClick) {
    mouse(0, 10, 10);
    moves = 0;
    mouse(0, 30, 10);
    EXPECT_GE(moves, 1);
    mouse(MOUSEEVENTF_LEFTDOWN, 30, 10);
    mouse(MOUSEEVENTF_LEFTUP, 30, 40);  // below the bar: the capture brings the release
    EXPECT_EQ(log, (Log{"down Left 30,10", "up Left 30,40"}));
}

TEST_F(RealBarEvents, FocusEntersAndExits) {
    SetFocus(bar_window);
    pump();
    SetFocus(frame);
    pump();
    EXPECT_EQ(log, (Log{"enter", "exit"}));
}

TEST_F(RealBarEvents, AnAutomaticDragDropsOnTheBarThatAccepts) {
    bar().set_drag_mode(DragMode::dmAutomatic);
    mouse(MOUSEEVENTF_LEFTDOWN, 50, 12);
    mouse(MOUSEEVENTF_MOVE, 52, 12);  // within the threshold: no drag yet
    mouse(MOUSEEVENTF_MOVE, 70, 12);
    mouse(MOUSEEVENTF_MOVE, 90, 12);
    mouse(MOUSEEVENTF_LEFTUP, 90, 12);
    EXPECT_EQ(log, (Log{"down Left 50,12", "start drag", "drag over enter self", "drag over move self",
                        "drag drop 90,12", "end drag on bar 90,12"}));
}

TEST_F(RealBarEvents, ADragOffTheBarEndsNowhere) {
    bar().set_drag_mode(DragMode::dmAutomatic);
    mouse(MOUSEEVENTF_LEFTDOWN, 50, 12);
    mouse(MOUSEEVENTF_MOVE, 70, 12);
    EXPECT_EQ(GetCursor(), LoadCursorA(nullptr, IDC_ARROW)) << "DragCursor over the accepting bar";
    mouse(MOUSEEVENTF_MOVE, 70, -20);  // onto the frame above the bar
    EXPECT_EQ(GetCursor(), LoadCursorA(nullptr, IDC_NO)) << "crNoDrop where nothing accepts";
    mouse(MOUSEEVENTF_LEFTUP, 70, -20);
    EXPECT_EQ(log, (Log{"down Left 50,12", "start drag", "drag over enter self", "drag over leave self",
                        "end drag nowhere 0,0"}));
}

TEST_F(RealBarEvents, ADockDragStartsAndEndsWithoutADockSite) {
    bar().set_drag_mode(DragMode::dmAutomatic);
    bar().set_drag_kind(DragKind::dkDock);
    mouse(MOUSEEVENTF_LEFTDOWN, 50, 12);
    mouse(MOUSEEVENTF_MOVE, 80, 12);
    mouse(MOUSEEVENTF_LEFTUP, 80, 12);
    EXPECT_EQ(log, (Log{"down Left 50,12", "start dock", "end dock nowhere"}));
    EXPECT_EQ(placed(), (Rect{8, 64, 321, 89})) << "the bar stays where it was";
}

TEST_F(RealBarEvents, ADisabledBarHearsNothing) {
    bar().set_enabled(false);
    click(100, 12);
    mouse(MOUSEEVENTF_RIGHTDOWN, 100, 12);
    mouse(MOUSEEVENTF_RIGHTUP, 100, 12);
    EXPECT_EQ(log, Log{});
    EXPECT_EQ(moves, 0);
}

}  // namespace
}  // namespace kalv::splash
