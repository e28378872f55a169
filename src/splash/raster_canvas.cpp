#include "splash/raster_canvas.h"

#include "core/crc32.h"
#include "core/errors.h"
#include "core/text.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>

namespace kalv::splash {

namespace {

#include "splash/builtin_font.inc"

constexpr int kFirstGlyph = 32;
constexpr int kLastGlyph = 126;

const unsigned char* glyph_rows(unsigned char c, bool bold) {
    int code = (c < kFirstGlyph || c > kLastGlyph) ? '?' : c;
    return bold ? kFont6x13Bold[code - kFirstGlyph] : kFont6x13Regular[code - kFirstGlyph];
}

// Faces that Windows ships as raster (.fon) fonts: they cannot be turned, and
// TEXTMETRIC says so by leaving out the TrueType flag.
bool is_raster_face(const std::string& face) {
    static const char* const kRasterFaces[] = {"MS Sans Serif", "MS Serif", "System", "Terminal",
                                               "Small Fonts", "Courier", "Fixedsys", "Modern"};
    return std::any_of(std::begin(kRasterFaces), std::end(kRasterFaces),
                       [&](const char* name) { return same_name(face, name); });
}

}  // namespace

Bitmap::Bitmap(int width, int height, Color fill)
    : width_(std::max(width, 0)), height_(std::max(height, 0)),
      pixels_(static_cast<size_t>(width_) * static_cast<size_t>(height_), fill) {}

RasterCanvas::RasterCanvas(int width, int height, Color fill)
    : width_(std::max(width, 0)), height_(std::max(height, 0)),
      pixels_(static_cast<size_t>(width_) * static_cast<size_t>(height_), resolve_color(fill)) {}

Color RasterCanvas::resolve_color(Color color) const {
    if (!is_system_color(color)) return color & 0xFFFFFF;
    switch (system_color_index(color)) {
        case kColorWindow: return rgb(255, 255, 255);
        case kColorWindowText: return rgb(0, 0, 0);
        case kColorBtnFace: return rgb(192, 192, 192);
        case kColorBtnShadow: return rgb(128, 128, 128);
        case kColorBtnText: return rgb(0, 0, 0);
        case kColorBtnHighlight: return rgb(255, 255, 255);
        default: return rgb(0, 0, 0);
    }
}

void RasterCanvas::put(int x, int y, Color c) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
    if (clip_ && (x < clip_->left || x >= clip_->right || y < clip_->top || y >= clip_->bottom)) return;
    pixels_[pixel_index(x, y, width_)] = c;
}

std::unique_ptr<Canvas> RasterCanvas::create_bitmap(int width, int height) {
    // A fresh GDI bitmap is black until painted.
    return std::make_unique<RasterCanvas>(width, height, clBlack);
}

void RasterCanvas::fill_rect(const Rect& r, Color color) {
    Color c = resolve_color(color);
    int left = std::max(r.left, 0), right = std::min(r.right, width_);
    int top = std::max(r.top, 0), bottom = std::min(r.bottom, height_);
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x) put(x, y, c);
}

void RasterCanvas::draw_edge(const Rect& r, unsigned edge_kind, unsigned sides) {
    // A one-pixel edge: its top-left sides in one colour, its bottom-right sides in
    // the other, each a pen line along the rectangle's outermost pixels.
    Color top_left, bottom_right;
    if (edge_kind == kBdrSunkenOuter) {
        top_left = clBtnShadow;
        bottom_right = clBtnHighlight;
    } else if (edge_kind == kBdrRaisedInner) {
        top_left = clBtnHighlight;
        bottom_right = clBtnShadow;
    } else {
        return;
    }
    Color saved_pen = pen_;
    int saved_x = pen_x_, saved_y = pen_y_;
    set_pen_color(top_left);
    if (sides & kBfLeft) {
        move_to(r.left, r.top);
        line_to(r.left, r.bottom);
    }
    if (sides & kBfTop) {
        move_to(r.left, r.top);
        line_to(r.right, r.top);
    }
    set_pen_color(bottom_right);
    if (sides & kBfRight) {
        move_to(r.right - 1, r.top);
        line_to(r.right - 1, r.bottom);
    }
    if (sides & kBfBottom) {
        move_to(r.left, r.bottom - 1);
        line_to(r.right, r.bottom - 1);
    }
    pen_ = saved_pen;
    pen_x_ = saved_x;
    pen_y_ = saved_y;
}

void RasterCanvas::move_to(int x, int y) {
    pen_x_ = x;
    pen_y_ = y;
}

void RasterCanvas::line_to(int x, int y) {
    // Bresenham from the current point, leaving out the end point as LineTo does.
    int x0 = pen_x_, y0 = pen_y_;
    int dx = std::abs(x - x0), dy = -std::abs(y - y0);
    int sx = x0 < x ? 1 : -1, sy = y0 < y ? 1 : -1;
    int err = dx + dy;
    while (x0 != x || y0 != y) {
        put(x0, y0, pen_);
        int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y0 += sy;
        }
    }
    pen_x_ = x;
    pen_y_ = y;
}

void RasterCanvas::draw_bitmap(int x, int y, const Bitmap& picture, bool transparent) {
    if (picture.empty()) return;
    Color key = picture.transparent_color();
    for (int py = 0; py < picture.height(); ++py)
        for (int px = 0; px < picture.width(); ++px) {
            Color c = picture.pixel(px, py);
            if (transparent && c == key) continue;
            put(x + px, y + py, c & 0xFFFFFF);
        }
}

Size RasterCanvas::text_extent(const std::string& text) {
    return {static_cast<int>(text.size()) * kGlyphWidth, kGlyphHeight};
}

void RasterCanvas::text_out(int x, int y, const std::string& text) {
    Color ink = resolve_color(font_.color);
    // Quarter turns counter-clockwise, as GDI's escapement turns the text.
    int turns = (((font_.escapement + 450) / 900) % 4 + 4) % 4;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char* rows = glyph_rows(static_cast<unsigned char>(text[i]), font_.bold);
        for (int v = 0; v < kGlyphHeight; ++v)
            for (int g = 0; g < kGlyphWidth; ++g) {
                if (!(rows[v] & (0x20 >> g))) continue;
                int u = static_cast<int>(i) * kGlyphWidth + g;
                switch (turns) {
                    case 0: put(x + u, y + v, ink); break;
                    case 1: put(x + v, y - 1 - u, ink); break;
                    case 2: put(x - 1 - u, y - 1 - v, ink); break;
                    default: put(x - 1 - v, y + u, ink); break;
                }
            }
    }
}

TextMetrics RasterCanvas::text_metrics(const Font& font) {
    return {kGlyphHeight, static_cast<uint8_t>(is_raster_face(font.face) ? 0 : kPitchTrueType)};
}

void RasterCanvas::block_transfer(const Canvas& source, int width, int height) {
    const auto* raster = dynamic_cast<const RasterCanvas*>(&source);
    if (!raster) return;
    int w = std::min(width, raster->width_), h = std::min(height, raster->height_);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) put(x, y, raster->pixel(x, y));
}

void RasterCanvas::compose(const RasterCanvas& child, int x, int y) {
    for (int cy = 0; cy < child.height_; ++cy)
        for (int cx = 0; cx < child.width_; ++cx) put(x + cx, y + cy, child.pixel(cx, cy));
}

namespace {

void put_be32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void put_chunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    put_be32(out, static_cast<uint32_t>(data.size()));
    size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    put_be32(out, crc32_of(out.data() + start, out.size() - start));
}

}  // namespace

std::vector<uint8_t> encode_png(int width, int height, const std::vector<Color>& pixels) {
    // Scanlines with filter type 0, each: filter byte + RGB triples.
    std::vector<uint8_t> raw;
    raw.reserve(static_cast<size_t>(height) * (1 + 3 * static_cast<size_t>(width)));
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);
        for (int x = 0; x < width; ++x) {
            Color c = pixels[pixel_index(x, y, width)];
            raw.push_back(static_cast<uint8_t>(red_of(c)));
            raw.push_back(static_cast<uint8_t>(green_of(c)));
            raw.push_back(static_cast<uint8_t>(blue_of(c)));
        }
    }
    // zlib stream (RFC 1950) of stored deflate blocks (RFC 1951 3.2.4), each at most 65535 bytes.
    std::vector<uint8_t> z = {0x78, 0x01};
    size_t pos = 0;
    do {
        size_t n = std::min<size_t>(raw.size() - pos, 65535);
        bool last = pos + n == raw.size();
        z.push_back(last ? 1 : 0);
        z.push_back(static_cast<uint8_t>(n));
        z.push_back(static_cast<uint8_t>(n >> 8));
        z.push_back(static_cast<uint8_t>(~n));
        z.push_back(static_cast<uint8_t>(~n >> 8));
        z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(pos),
                 raw.begin() + static_cast<std::ptrdiff_t>(pos + n));
        pos += n;
    } while (pos < raw.size());
    uint32_t a = 1, b = 0;  // Adler-32
    for (uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    put_be32(z, (b << 16) | a);

    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    put_be32(header, static_cast<uint32_t>(width));
    put_be32(header, static_cast<uint32_t>(height));
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit, truecolour, deflate, filter 0, no interlace
    put_chunk(png, "IHDR", header);
    put_chunk(png, "IDAT", z);
    put_chunk(png, "IEND", {});
    return png;
}

void RasterCanvas::save(const std::string& path) const {
    std::vector<uint8_t> bytes;
    bool ppm = path.size() >= 4 && (path.compare(path.size() - 4, 4, ".ppm") == 0 ||
                                    path.compare(path.size() - 4, 4, ".PPM") == 0);
    if (ppm) {
        std::string head = "P6\n" + std::to_string(width_) + " " + std::to_string(height_) + "\n255\n";
        bytes.assign(head.begin(), head.end());
        for (Color c : pixels_) {
            bytes.push_back(static_cast<uint8_t>(red_of(c)));
            bytes.push_back(static_cast<uint8_t>(green_of(c)));
            bytes.push_back(static_cast<uint8_t>(blue_of(c)));
        }
    } else {
        bytes = encode_png(width_, height_, pixels_);
    }
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
    if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size())
        throw FileStreamError("Cannot create file " + path);
}

}  // namespace kalv::splash
