// The chart shapes: flat, 3D and shaded bars and 3D pie slices.
#include <algorithm>

#include "graph/canvas.h"

namespace tallowick::graph {

namespace {

// Bars never grow past these, whatever the data says.
constexpr int kMaxBarHeight = 400;
constexpr int kMaxBarWidth = 640;
// A 3D bar beyond this height is taken as a computing error and not drawn at all.
constexpr int kRejectedBarHeight = 1000;

bool rejected(int y, int h) { return h < 0 || h > kRejectedBarHeight || y < 0; }

// The top and side parallelograms of a vertical 3D bar.
void vertical_top_and_side(Canvas& canvas, int x, int y, int right, int bottom, int top,
                           int side, int depth) {
    for (int j = 0; j < depth; ++j) {
        const int t = y + depth - j;
        const int s = std::max(right + j, x);
        canvas_line(canvas, x + j, t, s, t, top);
        canvas_line(canvas, s, t, s, bottom - j - 1, side);
    }
}

void horizontal_top_and_side(Canvas& canvas, int x, int y, int h, int right, int top, int side,
                             int depth) {
    for (int j = 0; j < depth; ++j) {
        const int t = y - j;
        canvas_line(canvas, x + j, t, right + j, t, top);
        canvas_line(canvas, right + j, t, right + j, t + h, side);
    }
}

// Paints rows first..last of columns x..right-1 in `bands` bands whose colour runs
// from percent(0) to percent(bands - 1) of the face colour; rows below the last
// band down to `last` keep its colour.
template <class Percent>
void shaded_face(Canvas& canvas, int x, int right, int first, int span, int last, int bands,
                 int face, Percent percent) {
    const PackedColor base = canvas_get_entry(canvas, face);
    int previous_start = first - 1;
    int band_end = first - 1;
    int colour = face;
    for (int k = 0; k < bands; ++k) {
        const int start = first + k * span / bands;
        if (start <= previous_start) continue;
        previous_start = start;
        band_end = first + (k + 1) * span / bands;
        colour = canvas_color_allocate_packed(canvas, color_scale(percent(k), base));
        canvas_filled_rectangle(canvas, x, start, right - 1, band_end, colour);
    }
    if (band_end < last) canvas_filled_rectangle(canvas, x, band_end, right - 1, last, colour);
}

}  // namespace

void canvas_bar_flat(Canvas& canvas, int x, int y, int w, int h, int light, int inner, int outer) {
    h = std::min(h, kMaxBarHeight);
    w = std::min(w, kMaxBarWidth);
    const int right = x + w - 1;
    canvas_filled_rectangle(canvas, x, y, right, y + h - 1, outer);
    canvas_filled_rectangle(canvas, x, y, right - 1, y + h - 2, light);
    canvas_filled_rectangle(canvas, x + 1, y + 1, right - 1, y + h - 2, inner);
}

void canvas_bar_3d_vertical(Canvas& canvas, int x, int y, int w, int h, int top, int face,
                            int side, int depth) {
    if (rejected(y, h)) return;
    w = std::min(w, kMaxBarWidth);
    h = std::min(h, kMaxBarHeight);
    const int right = w < 0 ? x : x + w;
    const int bottom = y + h;
    canvas_filled_rectangle(canvas, x, y + depth + 1, right - 1, bottom - 1, face);
    vertical_top_and_side(canvas, x, y, right, bottom, top, side, depth);
}

void canvas_bar_3d_horizontal(Canvas& canvas, int x, int y, int w, int h, int top, int face,
                              int side, int depth) {
    if (rejected(y, h)) return;
    h = std::min(h, kMaxBarHeight);
    w = std::min(w, kMaxBarWidth);
    const int right = x + w;
    canvas_filled_rectangle(canvas, x, y + 1, right - 1, y + h - 1, face);
    horizontal_top_and_side(canvas, x, y, h, right, top, side, depth);
}

void canvas_bar_shaded_vertical(Canvas& canvas, int x, int y, int w, int h, int top, int face,
                                int side, int depth) {
    if (rejected(y, h)) return;
    w = std::min(w, kMaxBarWidth);
    h = std::min(h, kMaxBarHeight);
    const int right = w < 0 ? x : x + w;
    // 115% at the top down to 86.5% at the bottom.
    shaded_face(canvas, x, right, y + depth, h - depth, y + h, 20, face,
                [](int k) { return 100 - (k * 0.05 - 0.5) * 30; });
    vertical_top_and_side(canvas, x, y, right, y + h, top, side, depth);
}

void canvas_bar_shaded_horizontal(Canvas& canvas, int x, int y, int w, int h, int top,
                                  int face, int side, int depth) {
    if (rejected(y, h)) return;
    h = std::min(h, kMaxBarHeight);
    w = std::min(w, kMaxBarWidth);
    const int right = x + w;
    shaded_face(canvas, x, right, y, h, y + h, 32, face,
                [](int k) { return 100 - (k / 32.0 - 0.5) * 30; });
    horizontal_top_and_side(canvas, x, y, h, right, top, side, depth);
}

void canvas_pie_slice_3d(Canvas& canvas, int cx, int cy, int radius, int start, int end,
                         int face, int side) {
    // The pie is tilted: the ellipse is half as high as it is wide.
    const int width = 2 * radius;
    const int height = (radius / 2) * 2;
    auto point_at = [&](int degree, int y_centre) {
        return Point{cx + radius * cos1024(degree) / 1024,
                     y_centre + (height / 2) * sin1024(degree) / 1024};
    };
    canvas_arc(canvas, cx, cy, width, height, start, end, face);
    const Point a = point_at(start, cy);
    const Point b = point_at(end, cy);
    canvas_line(canvas, cx, cy, a.x, a.y, face);
    canvas_line(canvas, cx, cy, b.x, b.y, face);

    // Only the front half (angles below 180, y below the centre) shows a wall. A
    // slice that ends at 180 exactly keeps its wall too (up to 179), or the front
    // of a half-and-half pie would be missing.
    bool wall = true;
    if (end >= 180) {
        if (start >= 180)
            wall = false;
        else
            end = 179;
    }
    if (start >= 180 || end >= 180) wall = false;
    if (wall) {
        constexpr int kWall = 20;
        canvas_arc(canvas, cx, cy + kWall, width, height, start, end, side);
        const Point e = point_at(end, cy);
        canvas_line(canvas, a.x, a.y, a.x, a.y + kWall, side);
        canvas_line(canvas, e.x, e.y, e.x, e.y + kWall, side);
        canvas_fill(canvas, e.x + 1, e.y + 16, side);
    }

    const int mid = start + (end - start) / 2;
    canvas_fill(canvas, cx + cos1024(mid) * (width / 4) / 1024,
                cy + (height / 4) * sin1024(mid) / 1024, face);
}

}  // namespace tallowick::graph
