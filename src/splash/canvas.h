// The drawing surface that the progress bar and the splash layout paint on. It
// offers exactly the drawing operations those controls need of the platform, so
// their painting is written once and runs on GDI (the product) and on a software
// raster (tests, POSIX). Coordinates are pixels; rectangles have their right and
// bottom edges exclusive, as in GDI.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kalv::splash {

// A colour in the Windows encoding: red in bits 0-7, green 8-15, blue 16-23.
// With the top bit set, the low byte names a system colour by its index.
using Color = uint32_t;

constexpr Color rgb(int red, int green, int blue) {
    return static_cast<Color>((red & 0xFF) | ((green & 0xFF) << 8) | ((blue & 0xFF) << 16));
}
constexpr int red_of(Color c) { return static_cast<int>(c & 0xFF); }
constexpr int green_of(Color c) { return static_cast<int>((c >> 8) & 0xFF); }
constexpr int blue_of(Color c) { return static_cast<int>((c >> 16) & 0xFF); }
constexpr bool is_system_color(Color c) { return (c & 0x80000000u) != 0; }
constexpr int system_color_index(Color c) { return static_cast<int>(c & 0xFF); }

// System colour indices of GetSysColor.
enum SystemColorIndex : int {
    kColorWindow = 5,
    kColorWindowText = 8,
    kColorBtnFace = 15,
    kColorBtnShadow = 16,
    kColorBtnText = 18,
    kColorBtnHighlight = 20,
};

constexpr Color system_color(int index) { return 0x80000000u | static_cast<Color>(index); }

constexpr Color clNavy = rgb(0, 0, 128);
constexpr Color clRed = rgb(255, 0, 0);
constexpr Color clWhite = rgb(255, 255, 255);
constexpr Color clBlack = rgb(0, 0, 0);
constexpr Color clWindow = system_color(kColorWindow);
constexpr Color clWindowText = system_color(kColorWindowText);
constexpr Color clBtnFace = system_color(kColorBtnFace);
constexpr Color clBtnShadow = system_color(kColorBtnShadow);
constexpr Color clBtnHighlight = system_color(kColorBtnHighlight);

struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool operator==(const Rect&) const = default;
};

// InflateRect: grows (or, with negative amounts, shrinks) on every side.
constexpr Rect inflate_rect(Rect r, int dx, int dy) { return {r.left - dx, r.top - dy, r.right + dx, r.bottom + dy}; }

struct Size {
    int cx = 0;
    int cy = 0;
    bool operator==(const Size&) const = default;
};

// A logical-font description: what GetObjectA reads out of a font and
// CreateFontIndirectA builds one from. Height < 0 is the character height in
// pixels, as in LOGFONT. Escapement is in tenths of a degree, counter-clockwise.
struct Font {
    std::string face = "MS Sans Serif";
    int height = -11;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike_out = false;
    int escapement = 0;
    Color color = clWindowText;
    bool operator==(const Font&) const = default;
};

// TEXTMETRIC's pitch-and-family byte flags an outline font with TMPF_TRUETYPE.
constexpr uint8_t kPitchTrueType = 4;

struct TextMetrics {
    int height = 0;
    uint8_t pitch_and_family = 0;
};

// Where pixel (x, y) lies in a buffer of rows `width` pixels long, top row first; the
// pixel lies inside the picture, so none of the three is negative.
constexpr size_t pixel_index(int x, int y, int width) {
    return static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x);
}

// A device-independent picture (the bar's glyph, the program icon): plain colours,
// rows top to bottom. Its transparent colour is that of its bottom-left pixel.
class Bitmap {
public:
    Bitmap() = default;
    Bitmap(int width, int height, Color fill = clWhite);

    int width() const { return width_; }
    int height() const { return height_; }
    bool empty() const { return width_ <= 0 || height_ <= 0; }
    Color pixel(int x, int y) const { return pixels_[pixel_index(x, y, width_)]; }
    void set_pixel(int x, int y, Color c) { pixels_[pixel_index(x, y, width_)] = c; }
    Color transparent_color() const { return empty() ? clWhite : pixel(0, height_ - 1); }

    // Whether the picture is drawn with its transparent colour left out.
    bool transparent() const { return transparent_; }
    void set_transparent(bool on) { transparent_ = on; }

    bool operator==(const Bitmap&) const = default;

private:
    int width_ = 0;
    int height_ = 0;
    std::vector<Color> pixels_;
    bool transparent_ = false;
};

// DrawEdge's edge kinds and sides.
enum EdgeKind : unsigned { kBdrSunkenOuter = 2, kBdrRaisedInner = 4 };
enum EdgeSide : unsigned { kBfLeft = 1, kBfTop = 2, kBfRight = 4, kBfBottom = 8 };
constexpr unsigned kBfTopLeft = kBfLeft | kBfTop;          // 3
constexpr unsigned kBfBottomRight = kBfRight | kBfBottom;  // 12

class Canvas {
public:
    virtual ~Canvas() = default;

    // An off-screen bitmap of the given size with its own drawing surface,
    // pen and brush at their defaults.
    virtual std::unique_ptr<Canvas> create_bitmap(int width, int height) = 0;

    // FillRect with a brush of the colour (a system colour is looked up).
    virtual void fill_rect(const Rect& r, Color color) = 0;
    // DrawEdge with one edge kind and a set of sides.
    virtual void draw_edge(const Rect& r, unsigned edge_kind, unsigned sides) = 0;

    // One-pixel solid pen; line_to leaves out its end point.
    virtual void set_pen_color(Color color) = 0;
    virtual void move_to(int x, int y) = 0;
    virtual void line_to(int x, int y) = 0;

    // The picture at its own size, top-left corner at (x, y), optionally without
    // the pixels of its transparent colour.
    virtual void draw_bitmap(int x, int y, const Bitmap& picture, bool transparent) = 0;

    // Selects a font (its colour becomes the text colour).
    virtual void set_font(const Font& font) = 0;
    // Width and height of a text in the selected font.
    virtual Size text_extent(const std::string& text) = 0;
    // Text with a transparent background, reference point (x, y) = the top-left
    // corner of the unrotated text.
    virtual void text_out(int x, int y, const std::string& text) = 0;
    // GetTextMetricsA of the font selected into a device context.
    virtual TextMetrics text_metrics(const Font& font) = 0;

    // BitBlt SRCCOPY of the source's top-left width x height pixels onto (0, 0).
    // The source comes from create_bitmap of the same kind of canvas.
    virtual void block_transfer(const Canvas& source, int width, int height) = 0;

    // GetSysColor for a system colour; a plain colour comes back as it is.
    virtual Color resolve_color(Color color) const = 0;
};

// A canvas whose pixels can be read back: the raster one, and the GDI one over a
// memory device context in the Windows tests.
class PixelCanvas : public Canvas {
public:
    virtual int width() const = 0;
    virtual int height() const = 0;
    virtual Color pixel(int x, int y) const = 0;
};

}  // namespace kalv::splash
