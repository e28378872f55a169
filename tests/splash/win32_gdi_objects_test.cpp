// The GDI canvas when the process has used up its GDI objects: an operation whose
// pen, brush, font, bitmap or device context cannot be made skips its drawing,
// nothing crashes, nothing leaks, and the canvas draws again once objects are free.
#include "splash/win32/gdi_canvas.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

namespace kalv::splash {
namespace {

using platform::win32::GdiCanvas;

// Holds every GDI object the process may still make (a brush each); gives them back
// when it goes.
class GdiHoard {
public:
    GdiHoard() { take_all(); }
    ~GdiHoard() { give_back(held_.size()); }
    GdiHoard(const GdiHoard&) = delete;
    GdiHoard& operator=(const GdiHoard&) = delete;

    void take_all() {
        // Windows allows a process 10,000 GDI objects by default, Wine about 65,000.
        constexpr size_t kFarBeyondAnyQuota = 1'000'000;
        while (held_.size() < kFarBeyondAnyQuota) {
            HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
            if (!brush) return;
            held_.push_back(brush);
        }
    }
    void give_back(size_t count) {
        for (; count > 0 && !held_.empty(); --count) {
            DeleteObject(held_.back());
            held_.pop_back();
        }
    }
    size_t size() const { return held_.size(); }

private:
    std::vector<HBRUSH> held_;
};

// Every canvas operation that makes a GDI object, each drawing red on its own spot
// of a white 64 x 32 canvas.
struct Spot {
    int x, y;
};
constexpr Spot kFilled{4, 4}, kLined{15, 10}, kBitmapped{41, 1};

void draw_everything(GdiCanvas& canvas) {
    canvas.fill_rect({0, 0, 8, 8}, clRed);
    canvas.set_pen_color(clRed);
    canvas.move_to(0, kLined.y);
    canvas.line_to(30, kLined.y);
    canvas.draw_bitmap(40, 0, Bitmap(4, 4, clRed), false);
    Font font;
    font.color = clRed;
    canvas.text_metrics(font);
    canvas.set_font(font);
    canvas.text_out(48, 16, "x");
    auto picture = canvas.create_bitmap(8, 8);
    picture->fill_rect({0, 0, 8, 8}, clRed);
    canvas.block_transfer(*picture, 8, 8);
}

TEST(GdiCanvasOutOfObjects, SkipsItsDrawingAndLeaksNothing) {
    // Once on the side first: GDI's own caches (fonts) are made now, not counted below.
    draw_everything(*GdiCanvas::create_memory(64, 32, clWhite));

    auto canvas = GdiCanvas::create_memory(64, 32, clWhite);
    GdiHoard hoard;
    const size_t quota_left = hoard.size();
    ASSERT_GT(quota_left, 0u);

    draw_everything(*canvas);
    EXPECT_EQ(canvas->pixel(kFilled.x, kFilled.y), clWhite) << "no brush: no fill";
    EXPECT_EQ(canvas->pixel(kLined.x, kLined.y), clWhite) << "no pen of the colour: the line is skipped, not drawn "
                                                              "with the pen the DC held";
    EXPECT_EQ(canvas->pixel(kBitmapped.x, kBitmapped.y), clWhite) << "no memory DC: no picture";

    // With one, two, ... objects to spare, each operation gets part of what it needs;
    // whatever it made is given back, and the quota is whole again afterwards.
    for (size_t spare = 1; spare <= 8; ++spare) {
        hoard.give_back(spare);
        {
            auto partial = GdiCanvas::create_memory(64, 32, clWhite);
            draw_everything(*partial);
        }
        hoard.take_all();
        EXPECT_EQ(hoard.size(), quota_left) << spare << " objects to spare";
    }

    hoard.give_back(hoard.size());
    draw_everything(*canvas);
    EXPECT_EQ(canvas->pixel(kFilled.x, kFilled.y), clRed);
    EXPECT_EQ(canvas->pixel(kLined.x, kLined.y), clRed);
    EXPECT_EQ(canvas->pixel(kBitmapped.x, kBitmapped.y), clRed);
}

}  // namespace
}  // namespace kalv::splash
