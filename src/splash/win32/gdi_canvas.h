// The Canvas over a GDI device context: the product's painting of the splash
// window and its progress bar, and, over a memory device context, the Windows
// tests' picture that is read back pixel by pixel. Handles are kept as void* so
// that this header does not bring <windows.h> to its users.
#pragma once

#include "splash/canvas.h"

#include <memory>

namespace kalv::platform::win32 {

class GdiCanvas final : public splash::PixelCanvas {
public:
    // Draws on a device context that the caller owns (a window's, during WM_PAINT).
    GdiCanvas(void* device_context, int width, int height);
    // A memory device context with its own 32-bit bitmap of the given size, filled
    // with `fill`; it belongs to the canvas.
    static std::unique_ptr<GdiCanvas> create_memory(int width, int height, splash::Color fill = splash::clWhite);
    ~GdiCanvas() override;
    GdiCanvas(const GdiCanvas&) = delete;
    GdiCanvas& operator=(const GdiCanvas&) = delete;

    int width() const override { return width_; }
    int height() const override { return height_; }
    splash::Color pixel(int x, int y) const override;

    std::unique_ptr<splash::Canvas> create_bitmap(int width, int height) override;
    void fill_rect(const splash::Rect& r, splash::Color color) override;
    void draw_edge(const splash::Rect& r, unsigned edge_kind, unsigned sides) override;
    void set_pen_color(splash::Color color) override;
    void move_to(int x, int y) override;
    void line_to(int x, int y) override;
    void draw_bitmap(int x, int y, const splash::Bitmap& picture, bool transparent) override;
    void set_font(const splash::Font& font) override;
    splash::Size text_extent(const std::string& text) override;
    void text_out(int x, int y, const std::string& text) override;
    splash::TextMetrics text_metrics(const splash::Font& font) override;
    void block_transfer(const splash::Canvas& source, int width, int height) override;
    splash::Color resolve_color(splash::Color color) const override;

private:
    // The GDI objects this canvas made and selected, with what they replaced
    // (gdi_canvas.cpp): each is put back and deleted when the canvas goes.
    struct Owned;

    GdiCanvas(void* device_context, int width, int height, std::unique_ptr<Owned> owned);
    // Whether drawing here reaches pixels: not without a device context, nor on a
    // memory canvas whose bitmap could not be made.
    bool drawable() const;

    void* dc_ = nullptr;
    std::unique_ptr<Owned> owned_;
    int width_ = 0;
    int height_ = 0;
};

}  // namespace kalv::platform::win32
