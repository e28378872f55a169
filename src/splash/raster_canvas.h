// The software canvas: an in-memory raster of plain colours that behaves like a
// GDI memory device context for the operations the controls use. It draws text
// with a built-in 6x13 bitmap font (the X11 misc-fixed faces, regular and bold,
// characters 32-126, others shown as '?'), whatever face a Font names, and turns
// it in quarter turns for an escapement. System colours are the Windows classic
// scheme (button face light grey, shadow mid grey, highlight white).
#pragma once

#include "splash/canvas.h"

#include <optional>
#include <string>
#include <vector>

namespace kalv::splash {

class RasterCanvas final : public PixelCanvas {
public:
    RasterCanvas(int width, int height, Color fill = clWhite);

    int width() const override { return width_; }
    int height() const override { return height_; }
    Color pixel(int x, int y) const override { return pixels_[pixel_index(x, y, width_)]; }

    // Limits every drawing operation to the rectangle (the invalid area of a repaint).
    void set_clip(const std::optional<Rect>& clip) { clip_ = clip; }

    // Copies another raster's pixels onto this one with its top-left corner at (x, y):
    // how a parent's picture takes in a child window.
    void compose(const RasterCanvas& child, int x, int y);

    // Writes the pixels as a PNG file, or as a binary PPM (P6) when the name ends in
    // ".ppm". Throws FileStreamError when the file cannot be written.
    void save(const std::string& path) const;

    std::unique_ptr<Canvas> create_bitmap(int width, int height) override;
    void fill_rect(const Rect& r, Color color) override;
    void draw_edge(const Rect& r, unsigned edge_kind, unsigned sides) override;
    void set_pen_color(Color color) override { pen_ = resolve_color(color); }
    void move_to(int x, int y) override;
    void line_to(int x, int y) override;
    void draw_bitmap(int x, int y, const Bitmap& picture, bool transparent) override;
    void set_font(const Font& font) override { font_ = font; }
    Size text_extent(const std::string& text) override;
    void text_out(int x, int y, const std::string& text) override;
    TextMetrics text_metrics(const Font& font) override;
    void block_transfer(const Canvas& source, int width, int height) override;
    Color resolve_color(Color color) const override;

    static constexpr int kGlyphWidth = 6;
    static constexpr int kGlyphHeight = 13;

private:
    void put(int x, int y, Color c);

    int width_;
    int height_;
    std::vector<Color> pixels_;
    std::optional<Rect> clip_;
    Color pen_ = clBlack;
    int pen_x_ = 0;
    int pen_y_ = 0;
    Font font_;
};

// Encodes a picture as PNG (8-bit RGB, stored deflate blocks): readable by every
// viewer, and needing no compression library.
std::vector<uint8_t> encode_png(int width, int height, const std::vector<Color>& pixels);

}  // namespace kalv::splash
