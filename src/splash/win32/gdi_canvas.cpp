#include "splash/win32/gdi_canvas.h"

#include "splash/win32/gdi_objects.h"

#include <algorithm>
#include <utility>

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

// A DC's background mode for one text output.
class BackgroundMode {
public:
    BackgroundMode(HDC dc, int mode) : dc_(dc), previous_(SetBkMode(dc, mode)) {}
    ~BackgroundMode() {
        if (previous_) SetBkMode(dc_, previous_);
    }
    BackgroundMode(const BackgroundMode&) = delete;
    BackgroundMode& operator=(const BackgroundMode&) = delete;

private:
    HDC dc_;
    int previous_;
};

}  // namespace

// Declared in the order of making; destroyed backwards, so each selection is undone
// before its object is deleted, and a memory canvas's own DC goes last.
struct GdiCanvas::Owned {
    MemoryDc memory_dc;  // a memory canvas's own DC; empty on a caller's DC
    GdiObject<HBITMAP> bitmap;
    SelectionRestore bitmap_selection;
    GdiObject<HPEN> pen;
    SelectionRestore pen_selection;
    GdiObject<HFONT> font;
    SelectionRestore font_selection;
};

GdiCanvas::GdiCanvas(void* device_context, int width, int height)
    : GdiCanvas(device_context, width, height, std::make_unique<Owned>()) {}

GdiCanvas::GdiCanvas(void* device_context, int width, int height, std::unique_ptr<Owned> owned)
    : dc_(device_context), owned_(std::move(owned)), width_(width), height_(height) {}

GdiCanvas::~GdiCanvas() = default;

std::unique_ptr<GdiCanvas> GdiCanvas::create_memory(int width, int height, Color fill) {
    auto owned = std::make_unique<Owned>();
    owned->memory_dc.reset(CreateCompatibleDC(nullptr));
    HDC dc = owned->memory_dc.get();
    uint32_t* bits = nullptr;
    if (dc) {
        owned->bitmap.reset(create_dib(dc, width, height, &bits));
        owned->bitmap_selection.select(dc, owned->bitmap.get());
    }
    std::unique_ptr<GdiCanvas> canvas(new GdiCanvas(dc, width, height, std::move(owned)));
    if (canvas->drawable() && bits) {
        const uint32_t value = to_dib(canvas->resolve_color(fill));
        std::fill_n(bits, static_cast<size_t>(std::max(width, 0)) * static_cast<size_t>(std::max(height, 0)), value);
    }
    return canvas;
}

bool GdiCanvas::drawable() const { return dc_ && (!owned_->memory_dc || owned_->bitmap_selection); }

Color GdiCanvas::pixel(int x, int y) const { return GetPixel(as_dc(dc_), x, y) & 0xFFFFFF; }

Color GdiCanvas::resolve_color(Color color) const {
    if (splash::is_system_color(color)) return GetSysColor(splash::system_color_index(color)) & 0xFFFFFF;
    return color & 0xFFFFFF;
}

std::unique_ptr<splash::Canvas> GdiCanvas::create_bitmap(int width, int height) {
    auto owned = std::make_unique<Owned>();
    owned->memory_dc.reset(CreateCompatibleDC(as_dc(dc_)));
    HDC dc = owned->memory_dc.get();
    if (dc) {
        owned->bitmap.reset(CreateCompatibleBitmap(as_dc(dc_), std::max(width, 1), std::max(height, 1)));
        owned->bitmap_selection.select(dc, owned->bitmap.get());
    }
    return std::unique_ptr<GdiCanvas>(new GdiCanvas(dc, width, height, std::move(owned)));
}

void GdiCanvas::fill_rect(const splash::Rect& r, Color color) {
    const GdiObject<HBRUSH> brush(CreateSolidBrush(resolve_color(color)));
    if (!brush) return;
    RECT rect{r.left, r.top, r.right, r.bottom};
    FillRect(as_dc(dc_), &rect, brush.get());
}

void GdiCanvas::draw_edge(const splash::Rect& r, unsigned edge_kind, unsigned sides) {
    RECT rect{r.left, r.top, r.right, r.bottom};
    DrawEdge(as_dc(dc_), &rect, edge_kind, sides);
}

void GdiCanvas::set_pen_color(Color color) {
    GdiObject<HPEN> pen(CreatePen(PS_SOLID, 1, resolve_color(color)));
    // Without a pen of this colour the lines up to the next colour are skipped: the
    // stock null pen (never deleted) draws them invisibly.
    HGDIOBJ chosen = pen ? static_cast<HGDIOBJ>(pen.get()) : GetStockObject(NULL_PEN);
    if (!owned_->pen_selection.select(as_dc(dc_), chosen)) return;
    owned_->pen = std::move(pen);  // the pen it replaced, now out of the DC, is deleted
}

void GdiCanvas::move_to(int x, int y) { MoveToEx(as_dc(dc_), x, y, nullptr); }

void GdiCanvas::line_to(int x, int y) { LineTo(as_dc(dc_), x, y); }

void GdiCanvas::draw_bitmap(int x, int y, const splash::Bitmap& picture, bool transparent) {
    if (picture.empty()) return;
    const MemoryDc source(CreateCompatibleDC(as_dc(dc_)));
    if (!source) return;
    uint32_t* bits = nullptr;
    const GdiObject<HBITMAP> bitmap(create_dib(source.get(), picture.width(), picture.height(), &bits));
    if (!bitmap || !bits) return;
    const SelectionRestore selected(source.get(), bitmap.get());
    if (!selected) return;
    for (int py = 0; py < picture.height(); ++py)
        for (int px = 0; px < picture.width(); ++px)
            bits[splash::pixel_index(px, py, picture.width())] = to_dib(picture.pixel(px, py));
    if (transparent)
        GdiTransparentBlt(as_dc(dc_), x, y, picture.width(), picture.height(), source.get(), 0, 0, picture.width(),
                          picture.height(), picture.transparent_color() & 0xFFFFFF);
    else
        BitBlt(as_dc(dc_), x, y, picture.width(), picture.height(), source.get(), 0, 0, SRCCOPY);
}

void GdiCanvas::set_font(const splash::Font& font) {
    HDC dc = as_dc(dc_);
    LOGFONTA lf = logical_font(font);
    // Without the font, text keeps the one the DC holds.
    GdiObject<HFONT> handle(CreateFontIndirectA(&lf));
    if (owned_->font_selection.select(dc, handle.get())) owned_->font = std::move(handle);
    SetTextColor(dc, resolve_color(font.color));
}

splash::Size GdiCanvas::text_extent(const std::string& text) {
    SIZE size{};
    GetTextExtentPoint32A(as_dc(dc_), text.data(), static_cast<int>(text.size()), &size);
    return {size.cx, size.cy};
}

void GdiCanvas::text_out(int x, int y, const std::string& text) {
    HDC dc = as_dc(dc_);
    const BackgroundMode transparent(dc, TRANSPARENT);
    TextOutA(dc, x, y, text.data(), static_cast<int>(text.size()));
}

splash::TextMetrics GdiCanvas::text_metrics(const splash::Font& font) {
    HDC dc = as_dc(dc_);
    LOGFONTA lf = logical_font(font);
    const GdiObject<HFONT> handle(CreateFontIndirectA(&lf));
    const SelectionRestore selected(dc, handle.get());
    if (!selected) return {};  // a font that cannot be made has no metrics
    TEXTMETRICA metrics{};
    GetTextMetricsA(dc, &metrics);
    return {static_cast<int>(metrics.tmHeight), metrics.tmPitchAndFamily};
}

void GdiCanvas::block_transfer(const splash::Canvas& source, int width, int height) {
    const auto* gdi = dynamic_cast<const GdiCanvas*>(&source);
    if (!gdi || !gdi->drawable() || !drawable()) return;
    BitBlt(as_dc(dc_), 0, 0, width, height, as_dc(gdi->dc_), 0, 0, SRCCOPY);
}

}  // namespace kalv::platform::win32
