// The bar's window on the software raster: the control's surface is a raster of
// the control's size, invalid areas gather until they are painted, and every
// invalidation and paint is recorded, so tests can tell what a change repainted
// and when. The POSIX splash composes this surface into its picture.
#pragma once

#include "splash/gradient_bar.h"
#include "splash/raster_canvas.h"

#include <optional>
#include <vector>

namespace kalv::splash {

class RasterBarWindow final : public BarWindow {
public:
    struct Invalidation {
        Rect area;
        bool erase;
        bool operator==(const Invalidation&) const = default;
    };

    // Attaches itself to the bar; the surface starts black, as a new window's
    // surface does before its first paint.
    explicit RasterBarWindow(GradientBar& bar);
    ~RasterBarWindow() override;
    RasterBarWindow(const RasterBarWindow&) = delete;
    RasterBarWindow& operator=(const RasterBarWindow&) = delete;

    void invalidate(const Rect& area, bool erase) override;
    void update() override;
    Size measure_text(const Font& font, const std::string& text) override;
    void resized(int width, int height) override;

    // The platform's message processing: paints whatever is invalid.
    void process_messages() { update(); }

    const RasterCanvas& surface() const { return surface_; }
    const std::vector<Invalidation>& invalidations() const { return invalidations_; }
    // The clip rectangle of every paint so far, in order.
    const std::vector<Rect>& paints() const { return paints_; }
    bool has_invalid_area() const { return invalid_.has_value(); }
    void clear_record();

private:
    GradientBar& bar_;
    RasterCanvas surface_;
    std::optional<Rect> invalid_;
    std::vector<Invalidation> invalidations_;
    std::vector<Rect> paints_;
};

}  // namespace kalv::splash
