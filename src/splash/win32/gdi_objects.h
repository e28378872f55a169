// Owners for the GDI objects and device contexts of the Win32 splash code, after the
// Win32 rules: an object made here (pen, brush, font, bitmap) is deleted exactly once,
// and never while a device context still has it selected; a device context goes back
// the way it came (DeleteDC after CreateCompatibleDC, ReleaseDC after GetDC or
// GetWindowDC, EndPaint after BeginPaint). Creation can fail, for instance when the
// process has used up its GDI objects: an owner then holds nothing, says so when
// tested, and the drawing that needed it is skipped.
//
// Only the Win32 sources include this header: it brings <windows.h>.
#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

namespace kalv::platform::win32 {

struct GdiObjectDeleter {
    void operator()(HGDIOBJ object) const { DeleteObject(object); }
};

// A pen, brush, font or bitmap made by one of the Create functions.
template <typename Handle>
using GdiObject = std::unique_ptr<std::remove_pointer_t<Handle>, GdiObjectDeleter>;

struct MemoryDcDeleter {
    void operator()(HDC dc) const { DeleteDC(dc); }
};

// A memory device context made by CreateCompatibleDC.
using MemoryDc = std::unique_ptr<std::remove_pointer_t<HDC>, MemoryDcDeleter>;

// A window's device context: its client area (GetDC) or the whole window with the
// non-client area (GetWindowDC); given back with ReleaseDC.
class WindowDc {
public:
    enum class Area { Client, WholeWindow };

    explicit WindowDc(HWND window, Area area = Area::Client)
        : window_(window), dc_(area == Area::Client ? GetDC(window) : GetWindowDC(window)) {}
    ~WindowDc() {
        if (dc_) ReleaseDC(window_, dc_);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;

    HDC get() const { return dc_; }
    explicit operator bool() const { return dc_ != nullptr; }

private:
    HWND window_;
    HDC dc_;
};

// The device context of one WM_PAINT. EndPaint runs also when BeginPaint gave no
// context, as every BeginPaint must be matched.
class PaintDc {
public:
    explicit PaintDc(HWND window) : window_(window), dc_(BeginPaint(window, &paint_)) {}
    ~PaintDc() { EndPaint(window_, &paint_); }
    PaintDc(const PaintDc&) = delete;
    PaintDc& operator=(const PaintDc&) = delete;

    HDC get() const { return dc_; }
    explicit operator bool() const { return dc_ != nullptr; }

private:
    HWND window_;
    PAINTSTRUCT paint_{};
    HDC dc_;
};

// Selects objects of one kind (pens, fonts or bitmaps) into one device context and,
// at its end, selects back the object that the first of them replaced, so that the
// objects selected meanwhile are free to be deleted. Declared after the objects it
// selects, it is undone before they go.
class SelectionRestore {
public:
    SelectionRestore() = default;
    SelectionRestore(HDC dc, HGDIOBJ object) { select(dc, object); }
    ~SelectionRestore() {
        if (original_) SelectObject(dc_, original_);
    }
    SelectionRestore(const SelectionRestore&) = delete;
    SelectionRestore& operator=(const SelectionRestore&) = delete;

    // Selects `object` into `dc` (the same context at every call); false, with nothing
    // changed, when there is no context or object or the selection failed.
    bool select(HDC dc, HGDIOBJ object) {
        if (!dc || !object) return false;
        HGDIOBJ previous = SelectObject(dc, object);
        if (!previous || previous == HGDI_ERROR) return false;
        if (!original_) {
            dc_ = dc;
            original_ = previous;
        }
        return true;
    }
    // Whether an object of this restore is selected.
    explicit operator bool() const { return original_ != nullptr; }

private:
    HDC dc_ = nullptr;
    HGDIOBJ original_ = nullptr;
};

}  // namespace kalv::platform::win32
