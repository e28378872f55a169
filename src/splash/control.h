// Control: the standard properties and events of a windowed control, as the
// gradient bar publishes them. The rules live here, once, for every window system:
// where an aligned or anchored control goes when its parent resizes, how size
// constraints clamp it, which hint it shows, and which events one press, move and
// release of the mouse deliver (click, double click, drag and drop, dock). The window
// that shows the control (ControlWindow) only carries them out and reports input.
//
// What each property means on the Win32 child window:
//   Align, Anchors      place the window in its parent's client area, at once and
//                       again whenever the parent (the sizeable splash frame) resizes
//   Constraints         bound the window's width and height (0: no bound)
//   BorderWidth         a border of that many pixels around the client area, in the
//                       control's colour; the bar paints the client area inside it
//   Enabled, Visible    EnableWindow, ShowWindow; a disabled control gets no mouse input
//   Hint, ShowHint,     a tooltip with the hint's short part (the text before "|"),
//   ParentShowHint      present while the hint is shown: ShowHint, or the parent's
//                       setting while ParentShowHint is on (the splash frame shows none)
//   Font, ParentFont    (GradientBar) the font of the bar's text, or the parent's
//   DragCursor          the cursor over a target that accepts the drag (crNoDrop over
//                       any other place); Windows has no drag cursor of its own, so
//                       crDrag shows as the arrow
//   DragKind, DragMode  dmAutomatic: a left press that moves kDragThreshold pixels
//                       starts a drag (dkDrag) or a dock drag (dkDock)
//   TabStop             the WS_TABSTOP style
// Properties without a meaning for this control on Win32, kept as stored values:
//   TabOrder            the splash frame has no keyboard navigation between controls
//                       (no dialog manager runs its messages), so no order is followed
//   PopupMenu           the program has no menus; a right click still delivers
//                       OnContextPopup, and nothing pops up
//   DragKind dkDock     there is no dock site in the program: a dock drag starts and
//                       ends (OnStartDock, OnEndDock with no target) and the control
//                       stays where it is; no floating window is made
// On POSIX the control is painted on the raster picture: the properties are kept and
// the geometry computed, and no events come, as there is no input.
#pragma once

#include "splash/canvas.h"

#include <cstdint>
#include <functional>
#include <string>

namespace kalv::splash {

struct Point {
    int x = 0;
    int y = 0;
    bool operator==(const Point&) const = default;
};

enum class Align : uint8_t { alNone, alTop, alBottom, alLeft, alRight, alClient };

enum Anchor : uint8_t { akLeft = 1, akTop = 2, akRight = 4, akBottom = 8 };
using Anchors = uint8_t;

struct SizeConstraints {
    int min_width = 0, min_height = 0, max_width = 0, max_height = 0;  // 0: no bound
    bool operator==(const SizeConstraints&) const = default;
};

enum class DragKind : uint8_t { dkDrag, dkDock };
enum class DragMode : uint8_t { dmManual, dmAutomatic };
enum class DragState : uint8_t { dsDragEnter, dsDragLeave, dsDragMove };
enum class MouseButton : uint8_t { mbLeft, mbRight, mbMiddle };

enum Shift : uint8_t { ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16, ssMiddle = 32, ssDouble = 64 };
using ShiftState = uint8_t;

// Cursor numbers of the framework's cursor list.
constexpr int crDefault = 0, crArrow = -2, crDrag = -12, crNoDrop = -13;

class Control;

// What a control asks of the window that shows it. Every operation has a default
// that does nothing, for windows without a screen (the raster picture).
class ControlWindow {
public:
    virtual ~ControlWindow() = default;
    // Bounds in the parent's client coordinates.
    virtual void place(const Rect& /*bounds*/) {}
    virtual void show(bool /*visible*/) {}
    virtual void enable(bool /*enabled*/) {}
    // The tooltip's text; "" removes the tooltip.
    virtual void set_tooltip(const std::string& /*text*/) {}
    virtual void set_border_width(int /*pixels*/) {}
    virtual void set_tab_stop(bool /*on*/) {}
    virtual void capture_mouse(bool /*on*/) {}
    virtual void show_cursor(int /*cursor*/) {}
    // The parent's client size; {0, 0} when there is none.
    virtual Size parent_client_size() { return {}; }
    virtual bool parent_show_hint() { return false; }
    // The control shown at a point of the screen, and the point in its client
    // coordinates; nullptr over any other place.
    virtual Control* control_at(Point /*screen*/, Point& /*client*/) { return nullptr; }
};

class Control {
public:
    // A left press must move this far (in either direction) to become a drag.
    static constexpr int kDragThreshold = 5;

    Control() = default;
    virtual ~Control() = default;
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    void attach_window(ControlWindow* window) { control_window_ = window; }

    // ---- geometry -----------------------------------------------------------
    Rect bounds() const { return bounds_; }
    int width() const { return bounds_.width(); }
    int height() const { return bounds_.height(); }
    // Clamped by the constraints; an aligned control keeps its alignment.
    void set_bounds(const Rect& bounds);
    Align align() const { return align_; }
    void set_align(Align value);
    Anchors anchors() const { return anchors_; }
    void set_anchors(Anchors value);
    const SizeConstraints& constraints() const { return constraints_; }
    void set_constraints(const SizeConstraints& value);
    int border_width() const { return border_width_; }
    void set_border_width(int value);
    // The parent's client area changed to `size`: aligned controls fill their side
    // again, anchored ones keep their distances to the anchored edges (an axis
    // anchored on neither side keeps the control's centre where it was).
    void parent_resized(Size size);

    // ---- state ------------------------------------------------------------------
    bool enabled() const { return enabled_; }
    void set_enabled(bool value);
    bool visible() const { return visible_; }
    void set_visible(bool value);
    const std::string& hint() const { return hint_; }
    void set_hint(const std::string& value);
    bool show_hint() const { return show_hint_; }
    void set_show_hint(bool value);  // also turns ParentShowHint off
    bool parent_show_hint() const { return parent_show_hint_; }
    void set_parent_show_hint(bool value);
    // Whether the tooltip is there, and its text (the hint's short part).
    bool hint_shown();
    static std::string short_hint(const std::string& hint);

    int drag_cursor() const { return drag_cursor_; }
    void set_drag_cursor(int value) { drag_cursor_ = value; }
    DragKind drag_kind() const { return drag_kind_; }
    void set_drag_kind(DragKind value) { drag_kind_ = value; }
    DragMode drag_mode() const { return drag_mode_; }
    void set_drag_mode(DragMode value) { drag_mode_ = value; }
    int tab_order() const { return tab_order_; }
    void set_tab_order(int value) { tab_order_ = value; }
    bool tab_stop() const { return tab_stop_; }
    void set_tab_stop(bool value);
    // No menus exist in the program: the value is kept, nothing pops up.
    void* popup_menu() const { return popup_menu_; }
    void set_popup_menu(void* value) { popup_menu_ = value; }
    bool dragging() const { return dragging_; }

    // ---- events (each optional; Sender first) -------------------------------------
    std::function<void(Control& sender)> OnClick;
    std::function<void(Control& sender)> OnDblClick;
    std::function<void(Control& sender, MouseButton button, ShiftState shift, int x, int y)> OnMouseDown;
    std::function<void(Control& sender, MouseButton button, ShiftState shift, int x, int y)> OnMouseUp;
    std::function<void(Control& sender, ShiftState shift, int x, int y)> OnMouseMove;
    // The mouse position in client coordinates, or (-1, -1) from the keyboard.
    std::function<void(Control& sender, Point mouse_pos, bool& handled)> OnContextPopup;
    std::function<void(Control& sender)> OnEnter;
    std::function<void(Control& sender)> OnExit;
    std::function<void(Control& sender)> OnStartDrag;
    // Accept starts true; a target without a handler accepts nothing.
    std::function<void(Control& sender, Control& source, int x, int y, DragState state, bool& accept)> OnDragOver;
    std::function<void(Control& sender, Control& source, int x, int y)> OnDragDrop;
    // The target that took the drop (nullptr when none did), at the drop point in
    // its client coordinates.
    std::function<void(Control& sender, Control* target, int x, int y)> OnEndDrag;
    std::function<void(Control& sender)> OnStartDock;
    std::function<void(Control& sender, Control* target, int x, int y)> OnEndDock;

    // ---- input, as the window reports it (client point, and the same on the screen) --
    void mouse_down(MouseButton button, ShiftState shift, Point at, Point screen);
    void double_click(MouseButton button, ShiftState shift, Point at, Point screen);
    void mouse_move(ShiftState shift, Point at, Point screen);
    void mouse_up(MouseButton button, ShiftState shift, Point at, Point screen);
    void focus_changed(bool focused);
    // Returns whether a handler took it.
    bool context_popup(Point at);
    // The mouse capture went elsewhere: a drag in progress ends without a drop.
    void capture_lost();

protected:
    // The size changed (after the window was told the new bounds).
    virtual void size_changed() {}

private:
    void apply_bounds(Rect bounds);
    Rect clamped(Rect bounds) const;
    void realign();
    void remember_anchor_origin();
    void update_tooltip();
    void drag_to(Point screen);
    void end_drag(bool drop);
    bool drag_over(Control& source, Point at, DragState state);

    ControlWindow* control_window_ = nullptr;
    Rect bounds_{0, 0, 150, 16};
    Align align_ = Align::alNone;
    Anchors anchors_ = akLeft | akTop;
    SizeConstraints constraints_;
    int border_width_ = 0;
    // Where the bounds and the parent's size stood when the bounds were last set.
    Rect anchor_bounds_{0, 0, 150, 16};
    Size anchor_parent_{};
    bool enabled_ = true;
    bool visible_ = true;
    std::string hint_;
    bool show_hint_ = false;
    bool parent_show_hint_ = true;
    int drag_cursor_ = crDrag;
    DragKind drag_kind_ = DragKind::dkDrag;
    DragMode drag_mode_ = DragMode::dmManual;
    int tab_order_ = -1;
    bool tab_stop_ = false;
    void* popup_menu_ = nullptr;

    // One press of the left button: where it began, and what it became.
    bool left_pressed_ = false;
    bool click_armed_ = false;
    Point press_screen_;
    bool dragging_ = false;
    Control* drag_target_ = nullptr;
    Point drag_point_;
    bool drag_accepted_ = false;
};

}  // namespace kalv::splash
