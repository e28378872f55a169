// The canvases every pixel expectation runs on: the software raster everywhere,
// and in the Windows build also GDI over a memory device context.
#pragma once

#include "splash/raster_canvas.h"
#ifdef _WIN32
#include "splash/win32/gdi_canvas.h"
#endif

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kalv::splash::testing {

struct CanvasKind {
    std::string name;
    std::function<std::unique_ptr<PixelCanvas>(int width, int height, Color fill)> make;
};

inline std::vector<CanvasKind> canvas_kinds() {
    std::vector<CanvasKind> kinds;
    kinds.push_back({"Raster", [](int w, int h, Color fill) -> std::unique_ptr<PixelCanvas> {
                         return std::make_unique<RasterCanvas>(w, h, fill);
                     }});
#ifdef _WIN32
    kinds.push_back({"Gdi", [](int w, int h, Color fill) -> std::unique_ptr<PixelCanvas> {
                         return platform::win32::GdiCanvas::create_memory(w, h, fill);
                     }});
#endif
    return kinds;
}

inline std::string describe(Color c) {
    return "rgb(" + std::to_string(red_of(c)) + "," + std::to_string(green_of(c)) + "," +
           std::to_string(blue_of(c)) + ")";
}

}  // namespace kalv::splash::testing
