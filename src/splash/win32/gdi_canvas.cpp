#include "splash/win32/gdi_canvas.h"

#include <windows.h>

#include <vector>

namespace kalv::platform::win32 {

using splash::Color;

namespace {

HDC as_dc(void* p) { return static_cast<HDC>(p); }

// A 32-bit top-down DIB section: its pixels are plain memory, so pictures can be
// filled in and read back without a screen.
HBITMAP create_dib(HDC reference, int width, int height, uint32_t** bits) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width > 0 ? width : 1;
    info.bmiHeader.biHeight = -(height > 0 ? height : 1);
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* memory = nullptr;
    HBITMAP bitmap = CreateDIBSection(reference, &info, DIB_RGB_COLORS, &memory, nullptr, 0);
    *bits = static_cast<uint32_t*>(memory);
    return bitmap;
}

// DIB pixels are 0x00RRGGBB; GDI colours are 0x00BBGGRR.
uint32_t to_dib(Color c) { return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF); }

LOGFONTA logical_font(const splash::Font& font) {
    LOGFONTA lf{};
    lf.lfHeight = font.height;
    lf.lfEscapement = font.escapement;
    lf.lfOrientation = font.escapement;
    lf.lfWeight = font.bold ? FW_BOLD : FW_NORMAL;
    lf.lfItalic = font.italic;
    lf.lfUnderline = font.underline;
    lf.lfStrikeOut = font.strike_out;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfOutPrecision = OUT_DEFAULT_PRECIS;
    lf.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    lf.lfQuality = DEFAULT_QUALITY;
    lf.lfPitchAndFamily = DEFAULT_PITCH;
    lstrcpynA(lf.lfFaceName, font.face.c_str(), LF_FACESIZE);
    return lf;
}

}  // namespace

GdiCanvas::GdiCanvas(void* device_context, int width, int height)
    : dc_(device_context), width_(width), height_(height) {}

std::unique_ptr<GdiCanvas> GdiCanvas::create_memory(int width, int height, Color fill) {
    std::unique_ptr<GdiCanvas> canvas(new GdiCanvas());
    HDC dc = CreateCompatibleDC(nullptr);
    uint32_t* bits = nullptr;
    HBITMAP bitmap = create_dib(dc, width, height, &bits);
    canvas->dc_ = dc;
    canvas->owns_dc_ = true;
    canvas->bitmap_ = bitmap;
    canvas->old_bitmap_ = SelectObject(dc, bitmap);
    canvas->width_ = width;
    canvas->height_ = height;
    if (bits) {
        uint32_t value = to_dib(canvas->resolve_color(fill));
        for (size_t i = 0, n = static_cast<size_t>(width) * height; i < n; ++i) bits[i] = value;
    }
    return canvas;
}

GdiCanvas::~GdiCanvas() {
    HDC dc = as_dc(dc_);
    if (font_) {
        SelectObject(dc, old_font_);
        DeleteObject(font_);
    }
    if (pen_) {
        SelectObject(dc, old_pen_);
        DeleteObject(pen_);
    }
    if (bitmap_) {
        SelectObject(dc, old_bitmap_);
        DeleteObject(bitmap_);
    }
    if (owns_dc_) DeleteDC(dc);
}

Color GdiCanvas::pixel(int x, int y) const { return GetPixel(as_dc(dc_), x, y) & 0xFFFFFF; }

Color GdiCanvas::resolve_color(Color color) const {
    if (splash::is_system_color(color)) return GetSysColor(splash::system_color_index(color)) & 0xFFFFFF;
    return color & 0xFFFFFF;
}

std::unique_ptr<splash::Canvas> GdiCanvas::create_bitmap(int width, int height) {
    std::unique_ptr<GdiCanvas> canvas(new GdiCanvas());
    HDC dc = CreateCompatibleDC(as_dc(dc_));
    HBITMAP bitmap = CreateCompatibleBitmap(as_dc(dc_), width > 0 ? width : 1, height > 0 ? height : 1);
    canvas->dc_ = dc;
    canvas->owns_dc_ = true;
    canvas->bitmap_ = bitmap;
    canvas->old_bitmap_ = SelectObject(dc, bitmap);
    canvas->width_ = width;
    canvas->height_ = height;
    return canvas;
}

void GdiCanvas::fill_rect(const splash::Rect& r, Color color) {
    RECT rect{r.left, r.top, r.right, r.bottom};
    HBRUSH brush = CreateSolidBrush(resolve_color(color));
    FillRect(as_dc(dc_), &rect, brush);
    DeleteObject(brush);
}

void GdiCanvas::draw_edge(const splash::Rect& r, unsigned edge_kind, unsigned sides) {
    RECT rect{r.left, r.top, r.right, r.bottom};
    DrawEdge(as_dc(dc_), &rect, edge_kind, sides);
}

void GdiCanvas::set_pen_color(Color color) {
    HDC dc = as_dc(dc_);
    HPEN pen = CreatePen(PS_SOLID, 1, resolve_color(color));
    HGDIOBJ previous = SelectObject(dc, pen);
    if (pen_)
        DeleteObject(pen_);
    else
        old_pen_ = previous;
    pen_ = pen;
}

void GdiCanvas::move_to(int x, int y) { MoveToEx(as_dc(dc_), x, y, nullptr); }

void GdiCanvas::line_to(int x, int y) { LineTo(as_dc(dc_), x, y); }

void GdiCanvas::draw_bitmap(int x, int y, const splash::Bitmap& picture, bool transparent) {
    if (picture.empty()) return;
    HDC source = CreateCompatibleDC(as_dc(dc_));
    uint32_t* bits = nullptr;
    HBITMAP bitmap = create_dib(source, picture.width(), picture.height(), &bits);
    HGDIOBJ old = SelectObject(source, bitmap);
    if (bits)
        for (int py = 0; py < picture.height(); ++py)
            for (int px = 0; px < picture.width(); ++px)
                bits[static_cast<size_t>(py) * picture.width() + px] = to_dib(picture.pixel(px, py));
    if (transparent)
        GdiTransparentBlt(as_dc(dc_), x, y, picture.width(), picture.height(), source, 0, 0, picture.width(),
                          picture.height(), picture.transparent_color() & 0xFFFFFF);
    else
        BitBlt(as_dc(dc_), x, y, picture.width(), picture.height(), source, 0, 0, SRCCOPY);
    SelectObject(source, old);
    DeleteObject(bitmap);
    DeleteDC(source);
}

void GdiCanvas::set_font(const splash::Font& font) {
    HDC dc = as_dc(dc_);
    LOGFONTA lf = logical_font(font);
    HFONT handle = CreateFontIndirectA(&lf);
    HGDIOBJ previous = SelectObject(dc, handle);
    if (font_)
        DeleteObject(font_);
    else
        old_font_ = previous;
    font_ = handle;
    SetTextColor(dc, resolve_color(font.color));
}

splash::Size GdiCanvas::text_extent(const std::string& text) {
    SIZE size{};
    GetTextExtentPoint32A(as_dc(dc_), text.data(), static_cast<int>(text.size()), &size);
    return {size.cx, size.cy};
}

void GdiCanvas::text_out(int x, int y, const std::string& text) {
    HDC dc = as_dc(dc_);
    int mode = SetBkMode(dc, TRANSPARENT);
    TextOutA(dc, x, y, text.data(), static_cast<int>(text.size()));
    SetBkMode(dc, mode);
}

splash::TextMetrics GdiCanvas::text_metrics(const splash::Font& font) {
    HDC dc = as_dc(dc_);
    LOGFONTA lf = logical_font(font);
    HFONT handle = CreateFontIndirectA(&lf);
    HGDIOBJ previous = SelectObject(dc, handle);
    TEXTMETRICA metrics{};
    GetTextMetricsA(dc, &metrics);
    SelectObject(dc, previous);
    DeleteObject(handle);
    return {static_cast<int>(metrics.tmHeight), metrics.tmPitchAndFamily};
}

void GdiCanvas::block_transfer(const splash::Canvas& source, int width, int height) {
    const auto* gdi = dynamic_cast<const GdiCanvas*>(&source);
    if (!gdi) return;
    BitBlt(as_dc(dc_), 0, 0, width, height, as_dc(gdi->dc_), 0, 0, SRCCOPY);
}

}  // namespace kalv::platform::win32
