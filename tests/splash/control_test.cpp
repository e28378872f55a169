// The control rules that every window system shares, on windows made of plain
// objects: drags between two controls, size constraints, the parent's hint and font.
#include "splash/control.h"
#include "splash/gradient_bar.h"
#include "splash/raster_bar_window.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kalv::splash {
namespace {

// Two controls side by side on a screen of plain numbers: `left` covers x 0..99,
// `right` x 100..199, both y 0..19; nothing lies elsewhere.
struct Desk : ControlWindow {
    Control* left = nullptr;
    Control* right = nullptr;
    std::vector<int> cursors;
    Control* control_at(Point screen, Point& client) override {
        if (screen.y < 0 || screen.y >= 20 || screen.x < 0 || screen.x >= 200) return nullptr;
        client = {screen.x % 100, screen.y};
        return screen.x < 100 ? left : right;
    }
    void show_cursor(int cursor) override { cursors.push_back(cursor); }
    Size parent_client_size() override { return {200, 20}; }
};

class Drag : public ::testing::Test {
protected:
    void SetUp() override {
        desk.left = &source;
        desk.right = &target;
        source.attach_window(&desk);
        target.attach_window(&desk);
        source.set_drag_mode(DragMode::dmAutomatic);
        source.OnStartDrag = [this](Control&) { log.push_back("start"); };
        source.OnEndDrag = [this](Control&, Control* to, int x, int y) {
            log.push_back(std::string("end ") + (to == &target ? "target " : to ? "? " : "none ") + std::to_string(x) +
                          "," + std::to_string(y));
        };
        target.OnDragDrop = [this](Control&, Control& from, int x, int y) {
            log.push_back(std::string("drop from ") + (&from == &source ? "source " : "? ") + std::to_string(x) + "," +
                          std::to_string(y));
        };
    }
    void drag_to(std::initializer_list<int> xs) {
        source.mouse_down(MouseButton::mbLeft, ssLeft, {10, 5}, {10, 5});
        for (int x : xs) source.mouse_move(ssLeft, {x, 5}, {x, 5});
    }
    void release(int x) { source.mouse_up(MouseButton::mbLeft, 0, {x, 5}, {x, 5}); }

    Desk desk;
    Control source, target;
    std::vector<std::string> log;
};

TEST_F(Drag, DropsOnAnotherControlThatAccepts) {
    target.OnDragOver = [this](Control&, Control&, int x, int, DragState state, bool&) {
        log.push_back((state == DragState::dsDragEnter ? "enter " : "move ") + std::to_string(x));
    };
    drag_to({12, 50, 130, 140});
    release(140);
    EXPECT_EQ(log, (std::vector<std::string>{"start", "enter 30", "move 40", "drop from source 40,5", "end target 40,5"}))
        << "no drag within the threshold; the source itself has no OnDragOver and accepts nothing";
    EXPECT_EQ(desk.cursors, (std::vector<int>{crNoDrop, crDrag, crDrag}));
}

TEST_F(Drag, ARefusingTargetGetsNoDropAndHearsTheLeave) {
    target.OnDragOver = [this](Control&, Control&, int, int, DragState state, bool& accept) {
        accept = false;
        if (state == DragState::dsDragLeave) log.push_back("leave");
    };
    drag_to({30, 150});
    release(150);
    EXPECT_EQ(log, (std::vector<std::string>{"start", "leave", "end none 0,0"}));
}

TEST_F(Drag, LosingTheCaptureEndsTheDragWithoutADrop) {
    target.OnDragOver = [](Control&, Control&, int, int, DragState, bool&) {};
    drag_to({150});
    source.capture_lost();
    release(150);
    EXPECT_EQ(log, (std::vector<std::string>{"start", "end none 0,0"}));
}

TEST(ControlGeometry, ConstraintsClampAndAlignmentNeedsAParent) {
    Desk desk;
    Control c;
    c.attach_window(&desk);
    c.set_constraints({20, 5, 80, 0});
    c.set_bounds({10, 0, 20, 8});
    EXPECT_EQ(c.bounds(), (Rect{10, 0, 30, 8})) << "min width 20";
    c.set_align(Align::alTop);
    EXPECT_EQ(c.bounds(), (Rect{0, 0, 80, 8})) << "the parent's width, up to max width 80";
    c.set_constraints({});
    EXPECT_EQ(c.bounds(), (Rect{0, 0, 200, 8}));

    GradientBar bar;  // on the raster picture there is no parent to fill
    RasterBarWindow raster(bar);
    bar.set_align(Align::alClient);
    EXPECT_EQ(bar.bounds(), (Rect{0, 0, 150, 16}));
}

TEST(ControlHint, ParentShowHintFollowsTheParentUntilShowHintIsSet) {
    struct ShowingParent : ControlWindow {
        std::string tip = "(none)";
        void set_tooltip(const std::string& text) override { tip = text; }
        bool parent_show_hint() override { return true; }
    } parent;
    Control c;
    c.attach_window(&parent);
    c.set_hint("Short|long");
    EXPECT_EQ(parent.tip, "Short") << "the parent shows hints";
    c.set_show_hint(false);
    EXPECT_FALSE(c.parent_show_hint());
    EXPECT_EQ(parent.tip, "");
}

TEST(BarFont, ParentFontUntilAFontIsSet) {
    GradientBar bar;
    RasterBarWindow raster(bar);
    Font parent;
    parent.face = "Arial";
    bar.parent_font_changed(parent);
    EXPECT_EQ(bar.font().face, "Arial");
    Font own;
    own.bold = true;
    bar.set_font(own);
    EXPECT_FALSE(bar.parent_font());
    bar.parent_font_changed(parent);
    EXPECT_TRUE(bar.font().bold) << "its own font stays";
    bar.set_parent_font(true);
    EXPECT_EQ(bar.font(), Font{}) << "the raster window's parent font, the default";
}

}  // namespace
}  // namespace kalv::splash
