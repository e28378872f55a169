#include "splash/control.h"

#include <algorithm>
#include <cstdlib>

namespace kalv::splash {

// ---- geometry -------------------------------------------------------------------

Rect Control::clamped(Rect r) const {
    auto bound = [](int value, int low, int high) {
        if (high > 0) value = std::min(value, high);
        if (low > 0) value = std::max(value, low);
        return value;
    };
    r.right = r.left + bound(r.width(), constraints_.min_width, constraints_.max_width);
    r.bottom = r.top + bound(r.height(), constraints_.min_height, constraints_.max_height);
    return r;
}

void Control::apply_bounds(Rect r) {
    r = clamped(r);
    if (r == bounds_) return;
    const bool resized = r.width() != bounds_.width() || r.height() != bounds_.height();
    bounds_ = r;
    if (control_window_) control_window_->place(bounds_);
    if (resized) size_changed();
}

void Control::remember_anchor_origin() {
    anchor_bounds_ = bounds_;
    anchor_parent_ = control_window_ ? control_window_->parent_client_size() : Size{};
}

void Control::set_bounds(const Rect& bounds) {
    apply_bounds(bounds);
    realign();
    remember_anchor_origin();
}

// An aligned control fills the whole length of its parent's side and keeps its own
// thickness; alClient fills the whole client area. The constraints have the last
// word, and a control on the right or bottom side stays against that side.
void Control::realign() {
    if (align_ == Align::alNone || !control_window_) return;
    const Size p = control_window_->parent_client_size();
    if (p.cx == 0 && p.cy == 0) return;  // no parent (the raster picture): nothing to fill
    Rect r = bounds_;
    switch (align_) {
        case Align::alTop: r = {0, 0, p.cx, r.height()}; break;
        case Align::alBottom: r = {0, p.cy - r.height(), p.cx, p.cy}; break;
        case Align::alLeft: r = {0, 0, r.width(), p.cy}; break;
        case Align::alRight: r = {p.cx - r.width(), 0, p.cx, p.cy}; break;
        case Align::alClient: r = {0, 0, p.cx, p.cy}; break;
        case Align::alNone: break;
    }
    r = clamped(r);
    if (align_ == Align::alRight) r = {p.cx - r.width(), r.top, p.cx, r.bottom};
    if (align_ == Align::alBottom) r = {r.left, p.cy - r.height(), r.right, p.cy};
    apply_bounds(r);
}

void Control::set_align(Align value) {
    if (value == align_) return;
    align_ = value;
    realign();
    remember_anchor_origin();
}

void Control::set_anchors(Anchors value) {
    if (value == anchors_) return;
    anchors_ = value;
    remember_anchor_origin();
}

void Control::set_constraints(const SizeConstraints& value) {
    if (value == constraints_) return;
    constraints_ = value;
    apply_bounds(bounds_);
    realign();
    remember_anchor_origin();
}

void Control::set_border_width(int value) {
    value = std::max(value, 0);
    if (value == border_width_) return;
    border_width_ = value;
    if (control_window_) control_window_->set_border_width(value);
    size_changed();
}

void Control::parent_resized(Size size) {
    if (align_ != Align::alNone) {
        realign();
        return;
    }
    if (anchor_parent_.cx == 0 && anchor_parent_.cy == 0) {
        // The parent's first size: nothing to keep distances from yet.
        anchor_parent_ = size;
        return;
    }
    // Measured from the bounds the control had when they were set, so that repeated
    // resizes do not pile up the halving of an unanchored axis.
    auto along = [](int low, int high, bool near, bool far, int grown) {
        if (near && far) return std::pair{low, high + grown};
        if (far) return std::pair{low + grown, high + grown};
        if (!near) return std::pair{low + grown / 2, high + grown / 2};
        return std::pair{low, high};
    };
    const Rect o = anchor_bounds_;
    const auto [left, right] =
        along(o.left, o.right, anchors_ & akLeft, anchors_ & akRight, size.cx - anchor_parent_.cx);
    const auto [top, bottom] =
        along(o.top, o.bottom, anchors_ & akTop, anchors_ & akBottom, size.cy - anchor_parent_.cy);
    apply_bounds({left, top, right, bottom});
}

// ---- state ----------------------------------------------------------------------

void Control::set_enabled(bool value) {
    if (value == enabled_) return;
    enabled_ = value;
    if (!enabled_ && dragging_) end_drag(false);
    left_pressed_ = click_armed_ = false;
    if (control_window_) control_window_->enable(value);
}

void Control::set_visible(bool value) {
    if (value == visible_) return;
    visible_ = value;
    if (control_window_) control_window_->show(value);
}

std::string Control::short_hint(const std::string& hint) { return hint.substr(0, hint.find('|')); }

bool Control::hint_shown() {
    const bool shown = parent_show_hint_ ? control_window_ && control_window_->parent_show_hint() : show_hint_;
    return shown && !short_hint(hint_).empty();
}

void Control::update_tooltip() {
    if (control_window_) control_window_->set_tooltip(hint_shown() ? short_hint(hint_) : std::string());
}

void Control::set_hint(const std::string& value) {
    if (value == hint_) return;
    hint_ = value;
    update_tooltip();
}

void Control::set_show_hint(bool value) {
    parent_show_hint_ = false;
    show_hint_ = value;
    update_tooltip();
}

void Control::set_parent_show_hint(bool value) {
    if (value == parent_show_hint_) return;
    parent_show_hint_ = value;
    update_tooltip();
}

void Control::set_tab_stop(bool value) {
    if (value == tab_stop_) return;
    tab_stop_ = value;
    if (control_window_) control_window_->set_tab_stop(value);
}

// ---- mouse and focus ------------------------------------------------------------
//
// One press of the left button, from down to up:
//
//   down ──(up inside)──────────────────────> OnMouseDown, OnClick, OnMouseUp
//     └──(dmAutomatic, moved kDragThreshold)─> OnStartDrag / OnStartDock,
//            moves: OnDragOver of the control below (enter, move, leave),
//            up: OnDragDrop of an accepting target, then OnEndDrag / OnEndDock
//
// The window captures the mouse from down to up, so the up arrives also outside.

void Control::mouse_down(MouseButton button, ShiftState shift, Point at, Point screen) {
    if (!enabled_) return;
    if (control_window_) control_window_->capture_mouse(true);
    if (button == MouseButton::mbLeft) {
        left_pressed_ = click_armed_ = true;
        press_screen_ = screen;
    }
    if (OnMouseDown) OnMouseDown(*this, button, shift, at.x, at.y);
}

// The second press of a double click: OnDblClick, then its OnMouseDown marked ssDouble.
// Its release is no further click.
void Control::double_click(MouseButton button, ShiftState shift, Point at, Point screen) {
    if (!enabled_) return;
    if (button == MouseButton::mbLeft && OnDblClick) OnDblClick(*this);
    mouse_down(button, ShiftState(shift | ssDouble), at, screen);
    click_armed_ = false;
}

void Control::mouse_move(ShiftState shift, Point at, Point screen) {
    if (!enabled_) return;
    if (dragging_) {
        drag_to(screen);
        return;
    }
    if (left_pressed_ && drag_mode_ == DragMode::dmAutomatic &&
        (std::abs(screen.x - press_screen_.x) >= kDragThreshold ||
         std::abs(screen.y - press_screen_.y) >= kDragThreshold)) {
        dragging_ = true;
        click_armed_ = false;
        drag_target_ = nullptr;
        drag_accepted_ = false;
        if (drag_kind_ == DragKind::dkDock) {
            if (OnStartDock) OnStartDock(*this);
        } else if (OnStartDrag) {
            OnStartDrag(*this);
        }
        drag_to(screen);
        return;
    }
    if (OnMouseMove) OnMouseMove(*this, shift, at.x, at.y);
}

void Control::mouse_up(MouseButton button, ShiftState shift, Point at, Point /*screen*/) {
    if (!enabled_) return;
    if (button == MouseButton::mbLeft && dragging_) {
        left_pressed_ = false;
        end_drag(true);
        if (control_window_) control_window_->capture_mouse(false);
        return;
    }
    const bool inside = at.x >= 0 && at.y >= 0 && at.x < width() - 2 * border_width_ &&
                        at.y < height() - 2 * border_width_;
    const bool click = button == MouseButton::mbLeft && click_armed_ && inside;
    if (button == MouseButton::mbLeft) left_pressed_ = click_armed_ = false;
    if (control_window_) control_window_->capture_mouse(false);
    if (click && OnClick) OnClick(*this);
    if (OnMouseUp) OnMouseUp(*this, button, shift, at.x, at.y);
}

void Control::focus_changed(bool focused) {
    if (focused && OnEnter) OnEnter(*this);
    if (!focused && OnExit) OnExit(*this);
}

bool Control::context_popup(Point at) {
    bool handled = false;
    if (OnContextPopup) OnContextPopup(*this, at, handled);
    return handled;
}

void Control::capture_lost() {
    left_pressed_ = click_armed_ = false;
    if (dragging_) end_drag(false);
}

// ---- drag and drop --------------------------------------------------------------

bool Control::drag_over(Control& source, Point at, DragState state) {
    if (!enabled_ || !OnDragOver) return false;
    bool accept = true;
    OnDragOver(*this, source, at.x, at.y, state, accept);
    return accept;
}

// A dock drag has no dock site to go to: only the cursor follows it.
void Control::drag_to(Point screen) {
    if (drag_kind_ == DragKind::dkDock) {
        if (control_window_) control_window_->show_cursor(drag_cursor_);
        return;
    }
    Point at;
    Control* target = control_window_ ? control_window_->control_at(screen, at) : nullptr;
    DragState state = DragState::dsDragMove;
    if (target != drag_target_) {
        if (drag_target_) drag_target_->drag_over(*this, drag_point_, DragState::dsDragLeave);
        drag_target_ = target;
        state = DragState::dsDragEnter;
    }
    drag_point_ = at;
    drag_accepted_ = target && target->drag_over(*this, at, state);
    if (control_window_) control_window_->show_cursor(drag_accepted_ ? drag_cursor_ : crNoDrop);
}

// The drop goes to the target under the last move, if it accepted there.
void Control::end_drag(bool drop) {
    dragging_ = false;
    if (drag_kind_ == DragKind::dkDock) {
        if (OnEndDock) OnEndDock(*this, nullptr, 0, 0);
        return;
    }
    Control* target = drop && drag_accepted_ ? drag_target_ : nullptr;
    const Point at = target ? drag_point_ : Point{};
    if (!target && drag_target_) drag_target_->drag_over(*this, drag_point_, DragState::dsDragLeave);
    drag_target_ = nullptr;
    drag_accepted_ = false;
    if (target && target->OnDragDrop) target->OnDragDrop(*target, *this, at.x, at.y);
    if (OnEndDrag) OnEndDrag(*this, target, at.x, at.y);
}

}  // namespace kalv::splash
