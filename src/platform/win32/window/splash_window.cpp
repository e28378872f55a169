// frmSplash on Windows: a top-level window with a caption bar and a sizeable
// frame but no system menu or buttons, centred on the screen; its client area is
// painted from the shared layout on a GDI canvas, and ProgressBar1 is a child
// window that paints the GradientBar. The status label is painted by the frame,
// so a new status shows at the next message processing; a caption is redrawn by
// SetWindowTextA at once; a Position change repaints the bar's band at once.
#include "platform/platform.h"
#include "platform/win32/window/gdi_canvas.h"
#include "platform/win32/window/splash_capture.h"
#include "splash/splash.h"
#include "splash/splash_layout.h"

#include <windows.h>

namespace kalv::splash {

namespace {

using platform::win32::GdiCanvas;

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
        bar.lpfnWndProc = bar_procedure;
        bar.hInstance = instance;
        bar.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        bar.lpszClassName = kBarClass;
        RegisterClassExA(&bar);
    }
}

// The bar's child window, as the GradientBar sees it.
class BarChild final : public BarWindow {
public:
    explicit BarChild(GradientBar& bar) : bar_(bar) {}
    void set_handle(HWND handle) { handle_ = handle; }

    void invalidate(const Rect& area, bool erase) override {
        RECT r{area.left, area.top, area.right, area.bottom};
        InvalidateRect(handle_, &r, erase);
    }
    void update() override { UpdateWindow(handle_); }
    Size measure_text(const Font& font, const std::string& text) override {
        HDC dc = GetDC(handle_);
        Size extent;
        {
            GdiCanvas canvas(dc, bar_.width(), bar_.height());
            canvas.set_font(font);
            extent = canvas.text_extent(text);
        }
        ReleaseDC(handle_, dc);
        return extent;
    }
    void resized(int width, int height) override {
        SetWindowPos(handle_, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

    void paint() {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(handle_, &ps);
        {
            GdiCanvas canvas(dc, bar_.width(), bar_.height());
            bar_.paint(canvas);
        }
        EndPaint(handle_, &ps);
    }

private:
    GradientBar& bar_;
    HWND handle_ = nullptr;
};

class Win32SplashWindow final : public SplashWindow {
public:
    Win32SplashWindow() : bar_child_(bar_) {
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

        // FormCreate: the icon, then the caption and the prompt from the string table.
        icon_ = static_cast<HICON>(
            LoadImageA(instance, MAKEINTRESOURCEA(kProgramIconId), IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR));
        SetWindowTextA(frame_, platform::current().load_string(layout::kCaptionStringId).c_str());
        prompt_ = platform::current().load_string(layout::kPromptStringId);
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

    void paint_frame() {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(frame_, &ps);
        {
            GdiCanvas canvas(dc, layout::kClientWidth, layout::kClientHeight);
            layout::paint_client(canvas, prompt_, status_);
        }
        if (icon_) DrawIconEx(dc, layout::kIconLeft, layout::kIconTop, icon_, 32, 32, 0, nullptr, DI_NORMAL);
        EndPaint(frame_, &ps);
    }

    void set_frame(HWND handle) { frame_ = handle; }
    HWND frame() const { return frame_; }
    HWND bar() const { return bar_handle_; }

private:
    void invalidate_status_label() {
        HDC dc = GetDC(frame_);
        Rect area;
        {
            GdiCanvas canvas(dc, layout::kClientWidth, layout::kClientHeight);
            area = layout::label_rect(canvas, layout::status_font(), layout::kStatusTop, status_);
        }
        ReleaseDC(frame_, dc);
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
        default:
            break;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

LRESULT CALLBACK bar_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lparam);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* bar = reinterpret_cast<BarChild*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    switch (message) {
        case WM_ERASEBKGND:
            // Every paint covers the whole control from its off-screen picture.
            return 1;
        case WM_PAINT:
            if (bar) {
                bar->paint();
                return 0;
            }
            break;
        default:
            break;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

}  // namespace

std::unique_ptr<SplashWindow> create_splash_window() { return std::make_unique<Win32SplashWindow>(); }

}  // namespace kalv::splash

namespace kalv::platform::win32 {

namespace {

std::unique_ptr<splash::PixelCanvas> capture(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    auto copy = GdiCanvas::create_memory(client.right, client.bottom);
    HDC screen = GetDC(window);
    GdiCanvas source(screen, client.right, client.bottom);
    copy->block_transfer(source, client.right, client.bottom);
    ReleaseDC(window, screen);
    return copy;
}

}  // namespace

std::unique_ptr<splash::PixelCanvas> capture_client(const splash::SplashWindow& window) {
    const auto* real = dynamic_cast<const splash::Win32SplashWindow*>(&window);
    return real ? capture(real->frame()) : nullptr;
}

std::unique_ptr<splash::PixelCanvas> capture_progress_bar(const splash::SplashWindow& window) {
    const auto* real = dynamic_cast<const splash::Win32SplashWindow*>(&window);
    return real ? capture(real->bar()) : nullptr;
}

}  // namespace kalv::platform::win32
