#include <gtest/gtest.h>

#include "graph/canvas.h"
#include "graph_test_support.h"

namespace tallowick::graph {
namespace {

using test::count_pixels;

// Background 0, then light/top 1, inner/face 2, outer/side 3.
std::unique_ptr<Canvas> bar_canvas(int w = 800, int h = 800) {
    auto c = canvas_create(w, h, false);
    canvas_color_allocate_packed(*c, 0xFFFFFF);
    canvas_color_allocate_packed(*c, 0xFF9999);
    canvas_color_allocate_packed(*c, 0xCC6666);
    canvas_color_allocate_packed(*c, 0x990000);
    canvas_filled_rectangle(*c, 0, 0, w - 1, h - 1, 0);
    return c;
}

// Rows and columns holding anything but the background.
struct Extent {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
};
Extent extent(const Canvas& c) {
    Extent e;
    for (int y = 0; y < c.height(); ++y)
        for (int x = 0; x < c.width(); ++x)
            if (c.pixel(x, y) != 0) {
                e.left = std::min(e.left, x);
                e.right = std::max(e.right, x);
                e.top = std::min(e.top, y);
                e.bottom = std::max(e.bottom, y);
            }
    return e;
}

TEST(FlatBar, LightTopLeftOuterBottomRightInnerBetween) {
    auto c = bar_canvas();
    canvas_bar_flat(*c, 10, 20, 30, 10, 1, 2, 3);
    const Extent e = extent(*c);
    EXPECT_EQ(e.left, 10);
    EXPECT_EQ(e.right, 39);
    EXPECT_EQ(e.top, 20);
    EXPECT_EQ(e.bottom, 29);
    EXPECT_EQ(c->pixel(10, 20), 1);
    EXPECT_EQ(c->pixel(38, 20), 1);
    EXPECT_EQ(c->pixel(10, 28), 1);
    EXPECT_EQ(c->pixel(39, 20), 3);
    EXPECT_EQ(c->pixel(10, 29), 3);
    EXPECT_EQ(c->pixel(11, 21), 2);
    EXPECT_EQ(c->pixel(38, 28), 2);
    EXPECT_EQ(count_pixels(*c, 2), 28 * 8);

    auto big = bar_canvas();
    canvas_bar_flat(*big, 0, 0, 700, 500, 1, 2, 3);
    const Extent b = extent(*big);
    EXPECT_EQ(b.right, 639);    // width capped at 640
    EXPECT_EQ(b.bottom, 399);   // height capped at 400
}

TEST(Bar3dVertical, FaceTopAndSideLeanUpAndRight) {
    auto c = bar_canvas();
    canvas_bar_3d_vertical(*c, 10, 10, 20, 50, 1, 2, 3, 5);
    const Extent e = extent(*c);
    EXPECT_EQ(e.left, 10);
    EXPECT_EQ(e.right, 34);    // the side reaches x + w + depth - 1
    EXPECT_EQ(e.top, 11);      // y + depth - (depth - 1)
    EXPECT_EQ(e.bottom, 59);   // y + h - 1
    EXPECT_EQ(count_pixels(*c, 2), 20 * (59 - 16 + 1));   // face rows y+d+1 .. bottom-1
    EXPECT_EQ(c->pixel(10, 15), 1);   // front edge of the top
    EXPECT_EQ(c->pixel(14, 11), 1);   // back edge of the top, shifted by depth - 1
    EXPECT_EQ(c->pixel(13, 11), 0);
    EXPECT_EQ(c->pixel(30, 59), 3);   // side, front column, to the bottom
    EXPECT_EQ(c->pixel(34, 11), 3);   // side, back column, starts at the top's back edge
    EXPECT_EQ(c->pixel(34, 55), 3);
    EXPECT_EQ(c->pixel(34, 56), 0);   // and ends depth - 1 rows higher
}

TEST(Bar3dVertical, RejectsAbsurdHeightsAndCapsLargeOnes) {
    auto c = bar_canvas();
    canvas_bar_3d_vertical(*c, 10, 10, 20, 1001, 1, 2, 3, 5);
    canvas_bar_3d_vertical(*c, 10, 10, 20, -1, 1, 2, 3, 5);
    canvas_bar_3d_vertical(*c, 10, -1, 20, 50, 1, 2, 3, 5);
    canvas_bar_shaded_vertical(*c, 10, 10, 20, 1001, 1, 2, 3, 5);
    canvas_bar_3d_horizontal(*c, 10, 10, 20, 1001, 1, 2, 3, 5);
    EXPECT_EQ(extent(*c).right, -1);

    canvas_bar_3d_vertical(*c, 10, 10, 700, 600, 1, 2, 3, 5);
    const Extent e = extent(*c);
    EXPECT_EQ(e.bottom, 10 + 400 - 1);          // drawn 400 high
    EXPECT_EQ(e.right, 10 + 640 + 5 - 1);       // and 640 wide
}

TEST(Bar3dHorizontal, FaceTopAndSide) {
    auto c = bar_canvas();
    canvas_bar_3d_horizontal(*c, 10, 50, 40, 12, 1, 2, 3, 3);
    const Extent e = extent(*c);
    EXPECT_EQ(e.left, 10);
    EXPECT_EQ(e.top, 48);
    EXPECT_EQ(e.right, 52);    // x + w + depth - 1
    EXPECT_EQ(e.bottom, 62);   // the front side line runs to y + h
    EXPECT_EQ(count_pixels(*c, 2), 40 * 11);
    EXPECT_EQ(c->pixel(10, 50), 1);
    EXPECT_EQ(c->pixel(12, 48), 1);
    EXPECT_EQ(c->pixel(50, 62), 3);
    EXPECT_EQ(c->pixel(52, 48), 3);
}

TEST(ShadedBars, FaceRunsFromBrighterToDarkerThanTheFaceColour) {
    auto c = bar_canvas();
    canvas_bar_shaded_vertical(*c, 10, 10, 20, 105, 1, 2, 3, 5);
    // 20 bands over the 100 rows below the top, 5 rows each.
    EXPECT_EQ(canvas_get_entry(*c, c->pixel(15, 16)), color_scale(115, 0xCC6666));
    EXPECT_EQ(canvas_get_entry(*c, c->pixel(15, 21)), color_scale(113.5, 0xCC6666));
    EXPECT_EQ(canvas_get_entry(*c, c->pixel(15, 114)), color_scale(86.5, 0xCC6666));
    EXPECT_EQ(canvas_get_entry(*c, c->pixel(15, 115)), color_scale(86.5, 0xCC6666));
    EXPECT_EQ(c->pixel(15, 15), 1);   // the top overdraws the first row
    EXPECT_EQ(c->color_count, 4 + 19);   // the 100% band is the face colour itself

    auto h = bar_canvas();
    canvas_bar_shaded_horizontal(*h, 10, 50, 60, 64, 1, 2, 3, 3);
    EXPECT_EQ(canvas_get_entry(*h, h->pixel(20, 51)), color_scale(115, 0xCC6666));
    EXPECT_EQ(canvas_get_entry(*h, h->pixel(20, 113)), color_scale(100 - (31 / 32.0 - 0.5) * 30, 0xCC6666));

    // A face shorter than the bands: bands starting on the same row are skipped.
    auto thin = bar_canvas();
    canvas_bar_shaded_horizontal(*thin, 10, 50, 60, 4, 1, 2, 3, 3);
    EXPECT_LE(thin->color_count, 4 + 5);
}

TEST(ShadedBars, WebPaletteShadesMapToFixedColours) {
    auto c = canvas_create(100, 100, true);
    const int face = canvas_color_allocate_packed(*c, 0xCC6666);
    canvas_bar_shaded_vertical(*c, 10, 10, 20, 60, face, face, face, 3);
    EXPECT_EQ(c->color_count, 256);
    for (int y = 14; y < 70; ++y) {
        const PackedColor p = canvas_get_entry(*c, c->pixel(15, y));
        for (int shift : {0, 8, 16}) EXPECT_EQ(((p >> shift) & 0xFF) % 51, 0u);
    }
}

TEST(PieSlice3d, OnlyTheFrontHalfHasAWall) {
    const int cx = 150, cy = 100, r = 80;
    auto back = bar_canvas(300, 220);
    canvas_pie_slice_3d(*back, cx, cy, r, 200, 300, 2, 3);
    EXPECT_EQ(count_pixels(*back, 3), 0);
    EXPECT_GT(count_pixels(*back, 2), 500);
    EXPECT_EQ(back->pixel(cx + r / 4, cy - r / 8 * 3), 2);   // at 288 degrees, inside
    EXPECT_EQ(back->pixel(cx + r / 2, cy - r / 8), 0) << "the fill leaked out of the slice";

    auto front = bar_canvas(300, 220);
    canvas_pie_slice_3d(*front, cx, cy, r, 90, 270, 2, 3);
    long wall = 0;
    for (int y = 0; y < front->height(); ++y) {
        for (int x = 0; x < front->width(); ++x) {
            if (front->pixel(x, y) != 3) continue;
            ++wall;
            EXPECT_LE(x, cx) << "wall beyond 179 degrees at " << x << "," << y;
            EXPECT_GE(y, cy);
            EXPECT_LE(y, cy + r / 2 + 20);
        }
    }
    // A strip 20 high under the quarter ellipse, about r wide.
    EXPECT_GT(wall, 20 * r * 8 / 10);
    // The top: the whole half ellipse (area pi r (r/2) / 2, about 5000) in the face colour.
    EXPECT_GT(count_pixels(*front, 2), 4700);
    EXPECT_EQ(front->pixel(cx + 10, cy + 10), 0);   // the right half is not this slice's
}

TEST(PieSlice3d, FrontSliceWallFillsBetweenTheArcs) {
    const int cx = 150, cy = 100, r = 80;
    auto c = bar_canvas(300, 220);
    canvas_pie_slice_3d(*c, cx, cy, r, 20, 160, 2, 3);
    // Straight below the centre the rim is at cy + r/2; the wall takes the next 20 rows.
    EXPECT_EQ(c->pixel(cx, cy + r / 2 - 5), 2);
    EXPECT_EQ(c->pixel(cx, cy + r / 2 + 10), 3);
    EXPECT_EQ(c->pixel(cx, cy + r / 2 + 25), 0);
    EXPECT_EQ(c->pixel(5, 5), 0);

    // A slice ending at exactly 180 degrees (half a pie) has its wall as well.
    auto half = bar_canvas(300, 220);
    canvas_pie_slice_3d(*half, cx, cy, r, 0, 180, 2, 3);
    EXPECT_EQ(half->pixel(cx, cy + r / 2 + 10), 3);
    EXPECT_EQ(half->pixel(cx - r / 2, cy + r / 2 + 5), 3);
}

}  // namespace
}  // namespace tallowick::graph
