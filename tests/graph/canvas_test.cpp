#include "graph/canvas.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>

#include "graph_test_support.h"

namespace tallowick::graph {
namespace {

using test::count_pixels;

std::unique_ptr<Canvas> blank(int w, int h) {
    auto c = canvas_create(w, h, false);
    canvas_color_allocate(*c, 255, 255, 255);   // index 0, the background
    canvas_color_allocate(*c, 0, 0, 0);         // index 1, ink
    return c;
}

std::set<std::pair<int, int>> inked(const Canvas& c, int colour = 1) {
    std::set<std::pair<int, int>> points;
    for (int y = 0; y < c.height(); ++y)
        for (int x = 0; x < c.width(); ++x)
            if (c.pixel(x, y) == colour) points.insert({x, y});
    return points;
}

TEST(CanvasPalette, AllocationReusesMatchesAndOpenSlotsAndStopsAt256) {
    auto c = canvas_create(4, 4, false);
    EXPECT_EQ(canvas_color_allocate(*c, 10, 20, 30), 0);
    EXPECT_EQ(canvas_color_allocate(*c, 40, 50, 60), 1);
    EXPECT_EQ(canvas_color_allocate(*c, 10, 20, 30), 0);
    EXPECT_EQ(canvas_color_allocate_packed(*c, 0x28323C), 1);
    EXPECT_EQ(c->color_count, 2);

    for (int i = 2; i < 256; ++i) ASSERT_EQ(canvas_color_allocate(*c, i, 0, 1), i);
    EXPECT_EQ(c->color_count, 256);
    EXPECT_EQ(canvas_color_allocate(*c, 1, 2, 3), -1);
    EXPECT_EQ(canvas_color_allocate(*c, 40, 50, 60), 1);   // existing colours still found

    // A freed slot is taken before the (full) end, and its old colour no longer matches.
    c->open[7] = true;
    c->open[9] = true;
    EXPECT_EQ(canvas_color_allocate(*c, 7, 0, 1), 7);
    EXPECT_EQ(canvas_color_allocate(*c, 1, 2, 3), 9);
    EXPECT_EQ(canvas_get_entry(*c, 9), 0x010203u);
    EXPECT_FALSE(c->open[9]);
}

TEST(CanvasPalette, ClosestUsesTheLargestChannelDifferenceAndPrefersLowIndices) {
    auto c = canvas_create(4, 4, false);
    EXPECT_EQ(canvas_color_closest(*c, 1, 2, 3), 0);   // no colour at all
    canvas_color_allocate(*c, 200, 0, 0);
    canvas_color_allocate(*c, 0, 0, 200);
    EXPECT_EQ(canvas_color_closest(*c, 100, 0, 100), 0);   // equally far: the lower index
    EXPECT_EQ(canvas_color_closest(*c, 0, 0, 200), 1);
    // One large difference (50) against three middling ones (40): a sum of squares
    // or of differences would choose the first, the largest difference the second.
    canvas_color_allocate(*c, 100, 100, 150);
    canvas_color_allocate(*c, 140, 140, 140);
    EXPECT_EQ(canvas_color_closest(*c, 100, 100, 100), 3);
    c->open[3] = true;   // open slots are not candidates
    EXPECT_EQ(canvas_color_closest(*c, 100, 100, 100), 2);
}

TEST(CanvasPalette, WebPaletteIsFixedAndAllocationMapsToIt) {
    auto c = canvas_create(4, 4, true);
    EXPECT_EQ(c->color_count, 256);
    EXPECT_EQ(canvas_get_entry(*c, 0), 0xFFFFFFu);
    EXPECT_EQ(canvas_get_entry(*c, 35), 0xFF0000u);
    EXPECT_EQ(canvas_get_entry(*c, 1), 0xFFFFCCu);
    EXPECT_EQ(canvas_get_entry(*c, 6), 0xFFCCFFu);
    EXPECT_EQ(canvas_get_entry(*c, 36), 0xCCFFFFu);
    EXPECT_EQ(canvas_get_entry(*c, 215), 0x000000u);
    EXPECT_EQ(canvas_get_entry(*c, 255), 0x000000u);
    std::set<PackedColor> distinct;
    for (int i = 0; i < 216; ++i) distinct.insert(canvas_get_entry(*c, i));
    EXPECT_EQ(distinct.size(), 216u);

    EXPECT_EQ(canvas_color_allocate(*c, 250, 10, 10), 35);
    EXPECT_EQ(canvas_color_allocate_packed(*c, 0x6699FF), 36 * 3 + 6 * 2 + 0);
    // Slots 216..255 are black too: the tie goes to the lowest, 215.
    EXPECT_EQ(canvas_color_allocate(*c, 10, 10, 10), 215);
    EXPECT_EQ(c->color_count, 256);
}

TEST(CanvasPalette, ColorScaleTruncatesAndClamps) {
    EXPECT_EQ(color_scale(115, 0x646464), 0x737373u);   // 100 * 115 / 100, exactly 115
    EXPECT_EQ(color_scale(115, 0xCC6666), 0xEA7575u);   // 234.6 and 117.3 truncated
    EXPECT_EQ(color_scale(130, 0xFFEE10), 0xFFFF14u);   // clamped at 255
    EXPECT_EQ(color_scale(50, 0x818181), 0x404040u);
    EXPECT_EQ(color_scale(86.5, 0x010203), 0x000102u);
    EXPECT_EQ(color_scale(-20, 0xFFFFFF), 0x000000u);
}

TEST(CanvasCreate, RejectsBadSizesAndStartsWithoutColours) {
    EXPECT_EQ(canvas_create(0, 10, false), nullptr);
    EXPECT_EQ(canvas_create(10, -1, false), nullptr);
    EXPECT_EQ(canvas_create(70000, 1, false), nullptr);
    auto c = canvas_create(3, 2, false);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->color_count, 0);
    EXPECT_EQ(c->transparent, -1);
    EXPECT_FALSE(c->interlace);
}

TEST(CanvasLine, BresenhamWalkIsSymmetricAndInclusive) {
    auto c = blank(10, 10);
    canvas_line(*c, 0, 0, 5, 2, 1);
    const std::set<std::pair<int, int>> expected{{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 2}, {5, 2}};
    EXPECT_EQ(inked(*c), expected);
    auto r = blank(10, 10);
    canvas_line(*r, 5, 2, 0, 0, 1);
    EXPECT_EQ(inked(*r), expected);

    auto steep = blank(10, 10);
    canvas_line(*steep, 3, 9, 1, 0, 1);
    const auto points = inked(*steep);
    EXPECT_EQ(points.size(), 10u);   // one pixel per row of the major axis
    EXPECT_TRUE(points.count({3, 9}) && points.count({1, 0}));

    auto dot = blank(3, 3);
    canvas_line(*dot, 1, 1, 1, 1, 1);
    EXPECT_EQ(inked(*dot), (std::set<std::pair<int, int>>{{1, 1}}));
}

TEST(CanvasLine, ClipsAndWritesTheLowByte) {
    auto c = blank(10, 10);
    canvas_line(*c, -5, 5, 20, 5, 1);
    EXPECT_EQ(count_pixels(*c, 1), 10);
    canvas_line(*c, 0, 0, 9, 0, -1);   // a failed allocation lands as 255
    EXPECT_EQ(c->pixel(4, 0), 255);
    canvas_set_pixel(*c, 100, 100, 1);
    canvas_set_pixel(*c, -1, 0, 1);
    EXPECT_EQ(count_pixels(*c, 1), 10);
}

TEST(CanvasDottedLine, SkipsTheStartAndDrawsEverySecondPixel) {
    auto c = blank(10, 10);
    canvas_dotted_line(*c, 2, 2, 2, 2, 1);
    EXPECT_EQ(count_pixels(*c, 1), 0);
    canvas_dotted_line(*c, 0, 0, 3, 0, 1);
    EXPECT_EQ(inked(*c), (std::set<std::pair<int, int>>{{1, 0}, {3, 0}}));
    // Drawn from the end with the smaller major coordinate whichever way it is given.
    auto r = blank(10, 10);
    canvas_dotted_line(*r, 3, 0, 0, 0, 1);
    EXPECT_EQ(inked(*r), inked(*c));

    auto v = blank(10, 10);
    canvas_dotted_line(*v, 5, 0, 5, 9, 1);
    EXPECT_EQ(count_pixels(*v, 1), 5);   // rows 1, 3, 5, 7, 9
    EXPECT_EQ(v->pixel(5, 9), 1);
    EXPECT_EQ(v->pixel(5, 0), 0);
}

TEST(CanvasStyle, StyledPixelsFollowThePatternAndSkip) {
    auto c = blank(10, 2);
    canvas_color_allocate(*c, 255, 0, 0);   // 2
    canvas_set_pixel(*c, 0, 0, STYLED);     // no style yet: nothing
    EXPECT_EQ(c->pixel(0, 0), 0);
    const int style[] = {1, STYLE_SKIP, 2};
    canvas_set_style(*c, style);
    for (int x = 0; x < 10; ++x) canvas_set_pixel(*c, x, 0, STYLED);
    const int expected[] = {1, 0, 2, 1, 0, 2, 1, 0, 2, 1};
    for (int x = 0; x < 10; ++x) EXPECT_EQ(c->pixel(x, 0), expected[x]) << x;
    // The dotted line goes through the pattern only on the pixels it draws.
    canvas_set_style(*c, style);
    canvas_dotted_line(*c, 0, 1, 9, 1, STYLED);
    EXPECT_EQ(c->pixel(1, 1), 1);
    EXPECT_EQ(c->pixel(3, 1), 0);
    EXPECT_EQ(c->pixel(5, 1), 2);
    EXPECT_EQ(c->pixel(2, 1), 0);
}

TEST(CanvasRectangle, OutlineAndInclusiveFill) {
    auto c = blank(10, 10);
    canvas_rectangle(*c, 1, 1, 5, 4, 1);
    EXPECT_EQ(count_pixels(*c, 1), 2 * 5 + 2 * 2);
    EXPECT_EQ(c->pixel(3, 2), 0);
    auto f = blank(10, 10);
    canvas_filled_rectangle(*f, 1, 1, 5, 4, 1);
    EXPECT_EQ(count_pixels(*f, 1), 5 * 4);
    canvas_filled_rectangle(*f, 5, 5, 4, 9, 1);   // reversed: nothing
    EXPECT_EQ(count_pixels(*f, 1), 20);
    canvas_filled_rectangle(*f, -100, 8, 100, 200, 1);
    EXPECT_EQ(count_pixels(*f, 1), 20 + 20);
}

TEST(CanvasPolygon, OutlineIsClosed) {
    auto c = blank(10, 10);
    const Point square[] = {{1, 1}, {6, 1}, {6, 6}, {1, 6}};
    canvas_polygon(*c, square, 1);
    EXPECT_EQ(count_pixels(*c, 1), 20);
    EXPECT_EQ(c->pixel(1, 3), 1);   // the closing edge, last point to first
}

TEST(CanvasFilledPolygon, LeavesTheLowestRowOfATriangleUnfilled) {
    auto c = blank(30, 30);
    const Point down[] = {{0, 0}, {20, 0}, {10, 10}};
    canvas_filled_polygon(*c, down, 1);
    for (int y = 0; y < 10; ++y) EXPECT_EQ(c->pixel(10, y), 1) << y;
    for (int x = 0; x < 30; ++x) EXPECT_EQ(c->pixel(x, 10), 0) << x;
    EXPECT_EQ(c->pixel(0, 0), 1);
    EXPECT_EQ(c->pixel(20, 0), 1);
    EXPECT_EQ(c->pixel(5, 6), 0);   // outside the left edge
    EXPECT_EQ(c->pixel(10, 9), 1);
}

TEST(CanvasFilledPolygon, VerticesAndHorizontalRunsCountOnce) {
    // A diamond: the side vertices are passed straight through, not extrema.
    auto d = blank(30, 30);
    const Point diamond[] = {{10, 0}, {20, 10}, {10, 20}, {0, 10}};
    canvas_filled_polygon(*d, diamond, 1);
    for (int x = 0; x <= 20; ++x) EXPECT_EQ(d->pixel(x, 10), 1) << x;

    // A step on the left side: the row of the horizontal run must pair its one
    // crossing with the right edge.
    auto s = blank(40, 30);
    const Point step[] = {{10, 0}, {30, 0}, {30, 20}, {0, 20}, {0, 10}, {10, 10}};
    canvas_filled_polygon(*s, step, 1);
    for (int x = 0; x <= 30; ++x) EXPECT_EQ(s->pixel(x, 10), 1) << x;
    EXPECT_EQ(s->pixel(5, 5), 0);
    EXPECT_EQ(s->pixel(20, 5), 1);
    EXPECT_EQ(s->pixel(5, 15), 1);

    // A notch whose lowest point is an extremum: both crossings stay.
    auto w = blank(30, 30);
    const Point notch[] = {{0, 0}, {10, 10}, {20, 0}, {20, 20}, {0, 20}};
    canvas_filled_polygon(*w, notch, 1);
    EXPECT_EQ(w->pixel(3, 5), 1);
    EXPECT_EQ(w->pixel(10, 5), 0);
    EXPECT_EQ(w->pixel(17, 5), 1);
    for (int x = 0; x <= 20; ++x) EXPECT_EQ(w->pixel(x, 12), 1) << x;
}

TEST(CanvasFilledPolygon, ScratchGrowsForLargerPolygons) {
    auto c = blank(200, 200);
    const Point tri[] = {{0, 0}, {50, 0}, {0, 50}};
    canvas_filled_polygon(*c, tri, 1);
    std::vector<Point> star;
    for (int i = 0; i < 40; ++i) {
        const int r = i % 2 ? 40 : 90;
        star.push_back({100 + r * cos1024(i * 9) / 1024, 100 + r * sin1024(i * 9) / 1024});
    }
    canvas_filled_polygon(*c, star, 1);
    EXPECT_GE(c->poly_ints.capacity(), 40u);
    EXPECT_EQ(c->pixel(100, 100), 1);
    EXPECT_EQ(c->pixel(100 + 60 * cos1024(9) / 1024, 100 + 60 * sin1024(9) / 1024), 0);   // between two points
}

TEST(CanvasArc, TablesAndEndPoints) {
    EXPECT_EQ(cos1024(0), 1024);
    EXPECT_EQ(cos1024(45), 724);
    EXPECT_EQ(sin1024(1), 17);
    EXPECT_EQ(sin1024(30), 512);
    EXPECT_EQ(cos1024(90), 0);
    EXPECT_EQ(cos1024(180), -1024);
    EXPECT_EQ(sin1024(270), -1024);
    EXPECT_EQ(cos1024(-90), 0);
    EXPECT_EQ(sin1024(450), 1024);

    auto c = blank(100, 100);
    canvas_arc(*c, 50, 50, 40, 20, 0, 90, 1);
    EXPECT_EQ(c->pixel(70, 50), 1);
    EXPECT_EQ(c->pixel(50, 60), 1);
    for (const auto& [x, y] : inked(*c)) {
        EXPECT_GE(x, 50);
        EXPECT_GE(y, 50);
    }
    // End below start wraps through 0.
    auto w = blank(100, 100);
    canvas_arc(*w, 50, 50, 40, 40, 350, 10, 1);
    bool above = false, below = false;
    for (const auto& [x, y] : inked(*w)) {
        EXPECT_GE(x, 68);
        above |= y < 50;
        below |= y > 50;
    }
    EXPECT_TRUE(above && below);
    auto one = blank(100, 100);
    canvas_arc(*one, 50, 50, 40, 40, 30, 30, 1);
    EXPECT_EQ(count_pixels(*one, 1), 0);
}

TEST(CanvasFill, FillsTheFourConnectedRegionOnly) {
    auto c = blank(20, 20);
    canvas_rectangle(*c, 2, 2, 12, 12, 1);
    canvas_color_allocate(*c, 255, 0, 0);   // 2
    canvas_fill(*c, 5, 5, 2);
    EXPECT_EQ(count_pixels(*c, 2), 9 * 9);
    EXPECT_EQ(c->pixel(0, 0), 0);
    canvas_fill(*c, 5, 5, 2);   // already that colour: nothing changes
    EXPECT_EQ(count_pixels(*c, 2), 81);

    // A diagonal gap does not let the fill through.
    auto d = blank(10, 10);
    for (int i = 0; i < 10; ++i) d->put(i, 9 - i, 1);
    canvas_fill(*d, 0, 0, 1);
    EXPECT_EQ(count_pixels(*d, 0), 45);
}

TEST(CanvasFill, DeepSerpentineRegionNeedsNoCallStack) {
    // Walls with alternating gaps make one corridor winding through the whole
    // canvas; a recursive fill would nest once per turn and per row.
    const int n = 1200;
    auto c = blank(n, n);
    for (int y = 1; y < n; y += 2) {
        canvas_line(*c, 0, y, n - 1, y, 1);
        c->put((y / 2) % 2 ? 0 : n - 1, y, 0);
    }
    const long open = count_pixels(*c, 0);
    canvas_color_allocate(*c, 255, 0, 0);
    canvas_fill(*c, 0, 0, 2);
    EXPECT_EQ(count_pixels(*c, 2), open);
}

TEST(CanvasFill, StyledFillEndsEvenWhenPixelsKeepTheirColour) {
    auto c = blank(30, 30);
    canvas_rectangle(*c, 0, 0, 29, 29, 1);
    const int skip[] = {STYLE_SKIP};
    canvas_set_style(*c, skip);
    canvas_fill(*c, 10, 10, STYLED);
    EXPECT_EQ(count_pixels(*c, 0), 28 * 28);
    canvas_color_allocate(*c, 255, 0, 0);   // 2
    const int half[] = {2, 0};
    canvas_set_style(*c, half);
    canvas_fill(*c, 10, 10, STYLED);
    EXPECT_EQ(count_pixels(*c, 2), 28 * 28 / 2);
}

}  // namespace
}  // namespace tallowick::graph
