// frmSplash on Windows: a top-level window with a caption bar and a sizeable
// frame but no system menu or buttons, centred on the screen; its client area is
// painted from the shared layout on a GDI canvas, and ProgressBar1 is a child
// window that paints the GradientBar. The status label is painted by the frame,
// so a new status shows at the next message processing; a caption is redrawn by
// SetWindowTextA at once; a Position change repaints the bar's band at once.
#include "platform/platform.h"
#include "splash/win32/gdi_canvas.h"
#include "splash/win32/gdi_objects.h"
#include "splash/win32/splash_capture.h"
#include "splash/splash.h"
#include "splash/splash_layout.h"

#include <windows.h>

#include <commctrl.h>
#include <windowsx.h>

namespace kalv::splash {

namespace {

using platform::win32::GdiCanvas;
using platform::win32::GdiObject;
using platform::win32::PaintDc;
using platform::win32::WindowDc;

constexpr const char* kFrameClass = "Kalv3Splash";
constexpr const char* kBarClass = "Kalv3GradientBar";
constexpr int kProgramIconId = 1;  // resources/icon.rc

LRESULT CALLBACK frame_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
LRESULT CALLBACK bar_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

void register_classes(HINSTANCE instance) {
    WNDCLASSEXA frame{};
    if (!GetClassInfoExA(instance, kFrameClass, &frame)) {
        frame = WNDCLASSEXA{};
        frame.cbSize = sizeof frame;
        frame.lpfnWndProc = frame_procedure;
        frame.hInstance = instance;
        frame.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        frame.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        frame.lpszClassName = kFrameClass;
        frame.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(kProgramIconId));
        RegisterClassExA(&frame);
    }
    WNDCLASSEXA bar{};
    if (!GetClassInfoExA(instance, kBarClass, &bar)) {
        bar = WNDCLASSEXA{};
        bar.cbSize = sizeof bar;
        // Double clicks arrive as such (OnDblClick).
        bar.style = CS_DBLCLKS;
        bar.lpfnWndProc = bar_procedure;
        bar.hInstance = instance;
        bar.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        bar.lpszClassName = kBarClass;
        RegisterClassExA(&bar);
    }
}

COLORREF native_color(Color c) {
    return is_system_color(c) ? GetSysColor(system_color_index(c)) : static_cast<COLORREF>(c);
}

LPCSTR cursor_shape(int cursor) {
    switch (cursor) {
        case crNoDrop: return IDC_NO;
        default: return IDC_ARROW;  // crDrag: Windows has no drag cursor of its own
    }
}

// The bar's child window, as the GradientBar sees it: it carries out the control's
// properties (placement, visibility, tooltip, border) and reports the mouse and the
// focus to it.
class BarChild final : public BarWindow {
public:
    explicit BarChild(GradientBar& bar) : bar_(bar) {}
    ~BarChild() override {
        if (tooltip_) DestroyWindow(tooltip_);
    }
    BarChild(const BarChild&) = delete;
    BarChild& operator=(const BarChild&) = delete;

    void set_handle(HWND handle) { handle_ = handle; }
    GradientBar& bar() { return bar_; }

    void invalidate(const Rect& area, bool erase) override {
        RECT r{area.left, area.top, area.right, area.bottom};
        InvalidateRect(handle_, &r, erase);
    }
    void update() override { UpdateWindow(handle_); }
    Size measure_text(const Font& font, const std::string& text) override {
        const WindowDc dc(handle_);
        if (!dc) return {};
        GdiCanvas canvas(dc.get(), bar_.client_width(), bar_.client_height());
        canvas.set_font(font);
        return canvas.text_extent(text);
    }
    // The window's size follows the bounds (place); the client area, whatever is left
    // of it inside the border, is painted anew, since Windows keeps the old picture
    // of a resized window where it still fits.
    void resized(int, int) override { InvalidateRect(handle_, nullptr, FALSE); }

    void place(const Rect& b) override {
        SetWindowPos(handle_, nullptr, b.left, b.top, b.width(), b.height(), SWP_NOZORDER | SWP_NOACTIVATE);
    }
    void show(bool visible) override { ShowWindow(handle_, visible ? SW_SHOWNA : SW_HIDE); }
    void enable(bool enabled) override { EnableWindow(handle_, enabled); }
    void set_border_width(int pixels) override {
        border_ = pixels;
        SetWindowPos(handle_, nullptr, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    }
    void set_tab_stop(bool on) override {
        LONG_PTR style = GetWindowLongPtrA(handle_, GWL_STYLE);
        SetWindowLongPtrA(handle_, GWL_STYLE, on ? style | WS_TABSTOP : style & ~static_cast<LONG_PTR>(WS_TABSTOP));
    }
    void capture_mouse(bool on) override {
        if (on)
            SetCapture(handle_);
        else if (GetCapture() == handle_)
            ReleaseCapture();
    }
    void show_cursor(int cursor) override { SetCursor(LoadCursorA(nullptr, cursor_shape(cursor))); }
    Size parent_client_size() override {
        RECT r{};
        GetClientRect(GetParent(handle_), &r);
        return {r.right, r.bottom};
    }
    Font parent_font() override { return layout::window_font(); }
    Control* control_at(Point screen, Point& client) override {
        POINT p{screen.x, screen.y};
        HWND under = WindowFromPoint(p);
        char name[64] = {};
        if (!under || !GetClassNameA(under, name, sizeof name) || lstrcmpA(name, kBarClass) != 0) return nullptr;
        auto* other = reinterpret_cast<BarChild*>(GetWindowLongPtrA(under, GWLP_USERDATA));
        ScreenToClient(under, &p);
        client = {p.x, p.y};
        return other ? &other->bar_ : nullptr;
    }

    // The tooltip: one tool, the whole child window, shown by the tooltip control
    // while the mouse rests on it (TTF_SUBCLASS lets it see the mouse itself).
    void set_tooltip(const std::string& text) override {
        if (!tooltip_) {
            if (text.empty()) return;
            INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
            InitCommonControlsEx(&controls);
            tooltip_ = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                       CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, GetParent(handle_), nullptr,
                                       GetModuleHandleA(nullptr), nullptr);
        }
        TTTOOLINFOA tool{};
        tool.cbSize = sizeof tool;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = GetParent(handle_);
        tool.uId = reinterpret_cast<UINT_PTR>(handle_);
        std::string shown = text;
        tool.lpszText = shown.data();
        const bool present = SendMessageA(tooltip_, TTM_GETTOOLCOUNT, 0, 0) > 0;
        if (text.empty())
            SendMessageA(tooltip_, TTM_DELTOOLA, 0, LPARAM(&tool));
        else if (present)
            SendMessageA(tooltip_, TTM_UPDATETIPTEXTA, 0, LPARAM(&tool));
        else
            SendMessageA(tooltip_, TTM_ADDTOOLA, 0, LPARAM(&tool));
    }
    HWND tooltip() const { return tooltip_; }

    void paint() {
        const PaintDc dc(handle_);
        if (!dc) return;
        GdiCanvas canvas(dc.get(), bar_.client_width(), bar_.client_height());
        bar_.paint(canvas);
    }

    // The border is non-client area, in the control's colour.
    void calculate_client(RECT& r) const { InflateRect(&r, -border_, -border_); }
    void paint_border() {
        if (border_ <= 0) return;
        const WindowDc dc(handle_, WindowDc::Area::WholeWindow);
        const GdiObject<HBRUSH> brush(CreateSolidBrush(native_color(bar_.color())));
        if (!dc || !brush) return;
        RECT outer{};
        GetWindowRect(handle_, &outer);
        OffsetRect(&outer, -outer.left, -outer.top);
        RECT inner = outer;
        InflateRect(&inner, -border_, -border_);
        ExcludeClipRect(dc.get(), inner.left, inner.top, inner.right, inner.bottom);
        FillRect(dc.get(), &outer, brush.get());
    }

private:
    GradientBar& bar_;
    HWND handle_ = nullptr;
    HWND tooltip_ = nullptr;
    int border_ = 0;
};

class Win32SplashWindow final : public SplashWindow {
public:
    explicit Win32SplashWindow(platform::UserInterface& ui) : bar_child_(bar_) {
        HINSTANCE instance = GetModuleHandleA(nullptr);
        register_classes(instance);
        layout::configure_progress_bar(bar_);

        // Centred on the screen, at the layout's outer size.
        int left = (GetSystemMetrics(SM_CXSCREEN) - layout::kOuterWidth) / 2;
        int top = (GetSystemMetrics(SM_CYSCREEN) - layout::kOuterHeight) / 2;
        frame_ = CreateWindowExA(0, kFrameClass, "", WS_OVERLAPPED | WS_CAPTION | WS_THICKFRAME, left, top,
                                 layout::kOuterWidth, layout::kOuterHeight, nullptr, nullptr, instance, this);
        const Rect& b = layout::kProgressBar;
        HWND bar = CreateWindowExA(0, kBarClass, "", WS_CHILD | WS_VISIBLE, b.left, b.top, b.width(), b.height(),
                                   frame_, nullptr, instance, &bar_child_);
        bar_child_.set_handle(bar);
        bar_handle_ = bar;
        bar_.attach(&bar_child_);
        // The client size the bar's anchors keep their distances in.
        RECT client{};
        GetClientRect(frame_, &client);
        bar_.parent_resized({client.right, client.bottom});

        // FormCreate: the icon, then the caption and the prompt from the string table.
        icon_ = static_cast<HICON>(
            LoadImageA(instance, MAKEINTRESOURCEA(kProgramIconId), IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR));
        SetWindowTextA(frame_, ui.load_string(layout::kCaptionStringId).c_str());
        prompt_ = ui.load_string(layout::kPromptStringId);
    }

    ~Win32SplashWindow() override {
        bar_.attach(nullptr);
        DestroyWindow(frame_);
        if (icon_) DestroyIcon(icon_);
    }

    Win32SplashWindow(const Win32SplashWindow&) = delete;
    Win32SplashWindow& operator=(const Win32SplashWindow&) = delete;

    std::string caption() const override {
        int length = GetWindowTextLengthA(frame_);
        std::string text(static_cast<size_t>(length) + 1, '\0');
        int got = GetWindowTextA(frame_, text.data(), length + 1);
        text.resize(got > 0 ? static_cast<size_t>(got) : 0);
        return text;
    }

    void set_caption(const std::string& text) override { SetWindowTextA(frame_, text.c_str()); }

    void set_status(const std::string& text) override {
        if (text == status_) return;
        // The label's old and new extents are marked; the frame paints them when
        // messages are next processed.
        invalidate_status_label();
        status_ = text;
        invalidate_status_label();
    }

    void set_progress_max(int max) override { bar_.set_max(max); }
    void set_progress_position(int position) override { bar_.set_position(position); }

    void show_and_update() override {
        ShowWindow(frame_, SW_SHOW);
        RedrawWindow(frame_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    }

    std::string status() const override { return status_; }
    const GradientBar& progress_bar() const override { return bar_; }
    GradientBar& progress_bar() override { return bar_; }

    void paint_frame() {
        const PaintDc dc(frame_);
        if (!dc) return;
        {
            GdiCanvas canvas(dc.get(), layout::kClientWidth, layout::kClientHeight);
            layout::paint_client(canvas, prompt_, status_);
        }
        if (icon_) DrawIconEx(dc.get(), layout::kIconLeft, layout::kIconTop, icon_, 32, 32, 0, nullptr, DI_NORMAL);
    }

    void set_frame(HWND handle) { frame_ = handle; }
    HWND frame() const { return frame_; }
    HWND bar() const { return bar_handle_; }
    HWND bar_tooltip() const { return bar_child_.tooltip(); }
    // The frame is sizeable: an aligned or anchored bar follows its client area.
    void client_resized(int width, int height) {
        if (bar_handle_) bar_.parent_resized({width, height});
    }

private:
    void invalidate_status_label() {
        // Without a DC to measure the text on, the label's whole row is marked.
        using namespace layout;
        Rect area{kLabelLeft, kStatusTop, kClientWidth, kStatusTop + kLabelHeight};
        if (const WindowDc dc(frame_); dc) {
            GdiCanvas canvas(dc.get(), kClientWidth, kClientHeight);
            area = label_rect(canvas, status_font(), kStatusTop, status_);
        }
        RECT r{area.left, area.top, area.right, area.bottom};
        InvalidateRect(frame_, &r, TRUE);
    }

    GradientBar bar_;
    BarChild bar_child_;
    HWND frame_ = nullptr;
    HWND bar_handle_ = nullptr;
    HICON icon_ = nullptr;
    std::string prompt_;
    std::string status_ = layout::kInitialStatus;
};

LRESULT CALLBACK frame_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lparam);
        auto* splash = static_cast<Win32SplashWindow*>(create->lpCreateParams);
        splash->set_frame(window);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(splash));
    }
    auto* splash = reinterpret_cast<Win32SplashWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    switch (message) {
        case WM_PAINT:
            if (splash) {
                splash->paint_frame();
                return 0;
            }
            break;
        case WM_CLOSE:
            // The window asks nothing of the user and is closed only by its owner.
            return 0;
        case WM_SIZE:
            if (splash) splash->client_resized(LOWORD(lparam), HIWORD(lparam));
            break;
        default:
            break;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

ShiftState shift_state(WPARAM keys) {
    ShiftState shift = 0;
    if (keys & MK_SHIFT) shift |= ssShift;
    if (keys & MK_CONTROL) shift |= ssCtrl;
    if (keys & MK_LBUTTON) shift |= ssLeft;
    if (keys & MK_RBUTTON) shift |= ssRight;
    if (keys & MK_MBUTTON) shift |= ssMiddle;
    if (GetKeyState(VK_MENU) < 0) shift |= ssAlt;
    return shift;
}

// A mouse message's point in client coordinates, and on the screen. Under capture
// it may lie outside the client area, with negative coordinates.
void mouse_points(HWND window, LPARAM lparam, Point& client, Point& screen) {
    POINT p{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
    client = {p.x, p.y};
    ClientToScreen(window, &p);
    screen = {p.x, p.y};
}

LRESULT CALLBACK bar_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lparam);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* child = reinterpret_cast<BarChild*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!child) return DefWindowProcA(window, message, wparam, lparam);
    Control& control = child->bar();
    Point at, screen;
    switch (message) {
        case WM_ERASEBKGND:
            // Every paint covers the whole control from its off-screen picture.
            return 1;
        case WM_PAINT:
            child->paint();
            return 0;
        case WM_NCCALCSIZE:
            if (wparam) {
                child->calculate_client(reinterpret_cast<NCCALCSIZE_PARAMS*>(lparam)->rgrc[0]);
                return 0;
            }
            break;
        case WM_NCPAINT:
            child->paint_border();
            return 0;
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
        case WM_RBUTTONDBLCLK:
        case WM_MBUTTONDBLCLK: {
            mouse_points(window, lparam, at, screen);
            const MouseButton button = message == WM_LBUTTONDOWN || message == WM_LBUTTONDBLCLK   ? MouseButton::mbLeft
                                       : message == WM_RBUTTONDOWN || message == WM_RBUTTONDBLCLK ? MouseButton::mbRight
                                                                                                  : MouseButton::mbMiddle;
            if (message == WM_LBUTTONDBLCLK || message == WM_RBUTTONDBLCLK || message == WM_MBUTTONDBLCLK)
                control.double_click(button, shift_state(wparam), at, screen);
            else
                control.mouse_down(button, shift_state(wparam), at, screen);
            return 0;
        }
        case WM_LBUTTONUP:
        case WM_RBUTTONUP:
        case WM_MBUTTONUP: {
            mouse_points(window, lparam, at, screen);
            const MouseButton button = message == WM_LBUTTONUP   ? MouseButton::mbLeft
                                       : message == WM_RBUTTONUP ? MouseButton::mbRight
                                                                 : MouseButton::mbMiddle;
            control.mouse_up(button, shift_state(wparam), at, screen);
            // The right button's release asks for the context menu (WM_CONTEXTMENU).
            break;
        }
        case WM_MOUSEMOVE:
            mouse_points(window, lparam, at, screen);
            control.mouse_move(shift_state(wparam), at, screen);
            return 0;
        case WM_CAPTURECHANGED:
            if (reinterpret_cast<HWND>(lparam) != window) control.capture_lost();
            return 0;
        case WM_SETCURSOR:
            // During a drag the cursor is the drag's, not the class's.
            if (control.dragging()) return TRUE;
            break;
        case WM_SETFOCUS:
            control.focus_changed(true);
            return 0;
        case WM_KILLFOCUS:
            control.focus_changed(false);
            return 0;
        case WM_CONTEXTMENU: {
            // From the keyboard the position is (-1, -1) and stays so.
            POINT p{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
            if (p.x != -1 || p.y != -1) ScreenToClient(window, &p);
            if (control.context_popup({p.x, p.y})) return 0;
            break;
        }
        default:
            break;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

}  // namespace

std::unique_ptr<SplashWindow> create_splash_window(platform::UserInterface& ui) {
    return std::make_unique<Win32SplashWindow>(ui);
}

}  // namespace kalv::splash

namespace kalv::platform::win32 {

namespace {

std::unique_ptr<splash::PixelCanvas> capture(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    auto copy = GdiCanvas::create_memory(client.right, client.bottom);
    if (const WindowDc screen(window); screen) {
        const GdiCanvas source(screen.get(), client.right, client.bottom);
        copy->block_transfer(source, client.right, client.bottom);
    }
    return copy;
}

}  // namespace

std::unique_ptr<splash::PixelCanvas> capture_client(const splash::SplashWindow& window) {
    const auto* real = dynamic_cast<const splash::Win32SplashWindow*>(&window);
    return real ? capture(real->frame()) : nullptr;
}

void* progress_bar_window(const splash::SplashWindow& window) {
    const auto* real = dynamic_cast<const splash::Win32SplashWindow*>(&window);
    return real ? real->bar() : nullptr;
}

void* progress_bar_tooltip(const splash::SplashWindow& window) {
    const auto* real = dynamic_cast<const splash::Win32SplashWindow*>(&window);
    return real ? real->bar_tooltip() : nullptr;
}

std::unique_ptr<splash::PixelCanvas> capture_progress_bar(const splash::SplashWindow& window) {
    const auto* real = dynamic_cast<const splash::Win32SplashWindow*>(&window);
    return real ? capture(real->bar()) : nullptr;
}

}  // namespace kalv::platform::win32
