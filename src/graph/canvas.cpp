#include "graph/canvas.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <new>
#include <numbers>

namespace tallowick::graph {

namespace {

constexpr int kMaxSide = 65535;   // GIF and BMP headers hold 16-bit sizes

int channel(PackedColor packed, int shift) { return static_cast<int>((packed >> shift) & 0xFF); }

// Walks the line from the end with the smaller major coordinate, calling
// plot(x, y, step) for every pixel, step 0 being the start point.
template <class Plot>
void walk_line(int x1, int y1, int x2, int y2, Plot plot) {
    const int dx = std::abs(x2 - x1);
    const int dy = std::abs(y2 - y1);
    if (dy <= dx) {
        if (x1 > x2) {
            std::swap(x1, x2);
            std::swap(y1, y2);
        }
        const int ystep = y2 >= y1 ? 1 : -1;
        int d = 2 * dy - dx;
        int x = x1, y = y1;
        plot(x, y, 0);
        for (int step = 1; x < x2; ++step) {
            ++x;
            if (d < 0) {
                d += 2 * dy;
            } else {
                y += ystep;
                d += 2 * (dy - dx);
            }
            plot(x, y, step);
        }
    } else {
        if (y1 > y2) {
            std::swap(x1, x2);
            std::swap(y1, y2);
        }
        const int xstep = x2 >= x1 ? 1 : -1;
        int d = 2 * dx - dy;
        int x = x1, y = y1;
        plot(x, y, 0);
        for (int step = 1; y < y2; ++step) {
            ++y;
            if (d < 0) {
                d += 2 * dx;
            } else {
                x += xstep;
                d += 2 * (dx - dy);
            }
            plot(x, y, step);
        }
    }
}

struct TrigTables {
    std::array<int, 360> cos{}, sin{};
    TrigTables() {
        // Truncated toward zero, so sin1024[1] is 17; the nudge keeps exact values
        // such as 1024 * sin 30 = 512 from falling to 511 through rounding error.
        auto scaled = [](double v) {
            const double s = 1024.0 * v;
            return static_cast<int>(std::trunc(s + std::copysign(1e-7, s)));
        };
        for (int d = 0; d < 360; ++d) {
            const double rad = d * std::numbers::pi / 180.0;
            cos[d] = scaled(std::cos(rad));
            sin[d] = scaled(std::sin(rad));
        }
    }
};

const TrigTables& trig() {
    static const TrigTables tables;
    return tables;
}

int wrap_degree(long long degree) { return static_cast<int>(((degree % 360) + 360) % 360); }

}  // namespace

Canvas::Canvas(int width, int height)
    : width_(width), height_(height),
      pixels_(static_cast<std::size_t>(width) * static_cast<std::size_t>(height)) {}

std::unique_ptr<Canvas> canvas_create(int width, int height, bool web_palette) {
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) return nullptr;
    std::unique_ptr<Canvas> canvas;
    try {
        canvas = std::make_unique<Canvas>(width, height);
    } catch (const std::bad_alloc&) {
        return nullptr;   // callers treat a missing canvas as "draw nothing"
    }
    if (web_palette) {
        canvas->web_palette = true;
        canvas->color_count = kPaletteSize;
        for (int i = 0; i < kWebPaletteColors; ++i) {
            canvas->red[i] = 255 - 51 * (i / 36);
            canvas->green[i] = 255 - 51 * (i / 6 % 6);
            canvas->blue[i] = 255 - 51 * (i % 6);
        }
    }
    return canvas;
}

int canvas_color_closest(const Canvas& canvas, int r, int g, int b) {
    int best = 0;
    int best_distance = INT_MAX;
    for (int i = 0; i < canvas.color_count; ++i) {
        if (canvas.open[i]) continue;
        const int distance = std::max({std::abs(canvas.red[i] - r), std::abs(canvas.green[i] - g),
                                       std::abs(canvas.blue[i] - b)});
        if (distance < best_distance) {
            best = i;
            best_distance = distance;
            if (distance == 0) break;
        }
    }
    return best;
}

int canvas_color_allocate(Canvas& canvas, int r, int g, int b) {
    if (canvas.web_palette) return canvas_color_closest(canvas, r, g, b);
    int slot = -1;
    for (int i = 0; i < canvas.color_count; ++i) {
        if (!canvas.open[i] && canvas.red[i] == r && canvas.green[i] == g && canvas.blue[i] == b)
            return i;
    }
    for (int i = 0; i < canvas.color_count; ++i) {
        if (canvas.open[i]) {
            slot = i;
            break;
        }
    }
    if (slot < 0) {
        if (canvas.color_count >= kPaletteSize) return -1;
        slot = canvas.color_count++;
    }
    canvas.red[slot] = r;
    canvas.green[slot] = g;
    canvas.blue[slot] = b;
    canvas.open[slot] = false;
    return slot;
}

int canvas_color_allocate_packed(Canvas& canvas, PackedColor packed) {
    return canvas_color_allocate(canvas, channel(packed, 16), channel(packed, 8), channel(packed, 0));
}

void canvas_set_entry(Canvas& canvas, int index, PackedColor packed) {
    if (index < 0 || index >= kPaletteSize) return;
    canvas.red[index] = channel(packed, 16);
    canvas.green[index] = channel(packed, 8);
    canvas.blue[index] = channel(packed, 0);
    canvas.open[index] = false;
}

PackedColor canvas_get_entry(const Canvas& canvas, int index) {
    if (index < 0 || index >= kPaletteSize) return 0;
    return static_cast<PackedColor>(canvas.red[index] << 16 | canvas.green[index] << 8 |
                                    canvas.blue[index]);
}

PackedColor color_scale(double percent, PackedColor packed) {
    auto scale = [percent](int c) {
        // c * percent / 100 keeps whole percentages exact (100 * 115 / 100 is 115).
        const double v = std::trunc(c * percent / 100.0);
        return static_cast<PackedColor>(std::clamp(v, 0.0, 255.0));
    };
    return scale(channel(packed, 16)) << 16 | scale(channel(packed, 8)) << 8 |
           scale(channel(packed, 0));
}

void canvas_set_pixel(Canvas& canvas, int x, int y, int colour) {
    if (colour != STYLED) {
        canvas.put(x, y, colour);
        return;
    }
    if (canvas.style.empty()) return;
    const int value = canvas.style[canvas.style_pos];
    canvas.style_pos = (canvas.style_pos + 1) % canvas.style.size();
    if (value != STYLE_SKIP) canvas.put(x, y, value);
}

void canvas_line(Canvas& canvas, int x1, int y1, int x2, int y2, int colour) {
    walk_line(x1, y1, x2, y2, [&](int x, int y, int) { canvas.put(x, y, colour); });
}

void canvas_dotted_line(Canvas& canvas, int x1, int y1, int x2, int y2, int colour) {
    bool on = false;
    walk_line(x1, y1, x2, y2, [&](int x, int y, int step) {
        if (step == 0) return;
        on = !on;
        if (on) canvas_set_pixel(canvas, x, y, colour);
    });
}

void canvas_rectangle(Canvas& canvas, int x1, int y1, int x2, int y2, int colour) {
    canvas_line(canvas, x1, y1, x2, y1, colour);
    canvas_line(canvas, x1, y2, x2, y2, colour);
    canvas_line(canvas, x1, y1, x1, y2, colour);
    canvas_line(canvas, x2, y1, x2, y2, colour);
}

void canvas_filled_rectangle(Canvas& canvas, int x1, int y1, int x2, int y2, int colour) {
    // Clip first: bars and backgrounds may reach far outside the canvas.
    const int left = std::max(x1, 0), right = std::min(x2, canvas.width() - 1);
    const int top = std::max(y1, 0), bottom = std::min(y2, canvas.height() - 1);
    if (left > right) return;
    for (int y = top; y <= bottom; ++y) {
        auto row = canvas.row(y);
        std::fill(row.begin() + left, row.begin() + right + 1, static_cast<std::uint8_t>(colour & 0xFF));
    }
}

void canvas_polygon(Canvas& canvas, std::span<const Point> points, int colour) {
    if (points.empty()) return;
    const Point& last = points.back();
    canvas_line(canvas, last.x, last.y, points[0].x, points[0].y, colour);
    for (std::size_t i = 1; i < points.size(); ++i)
        canvas_line(canvas, points[i - 1].x, points[i - 1].y, points[i].x, points[i].y, colour);
}

void canvas_filled_polygon(Canvas& canvas, std::span<const Point> p, int colour) {
    const int n = static_cast<int>(p.size());
    if (n == 0) return;
    auto& ints = canvas.poly_ints;
    if (ints.capacity() < p.size()) {
        std::size_t capacity = std::max<std::size_t>(ints.capacity(), 1);
        while (capacity < p.size()) capacity *= 2;
        ints.reserve(capacity);
    }
    int miny = p[0].y, maxy = p[0].y;
    for (const Point& q : p) {
        miny = std::min(miny, q.y);
        maxy = std::max(maxy, q.y);
    }
    if (miny >= maxy) return;
    // Horizontal edges are drawn once; the scan below passes over them.
    for (int i = 1; i <= n; ++i) {
        const int a = i - 1, b = i == n ? 0 : i;
        if (p[a].y == p[b].y) canvas_line(canvas, p[a].x, p[a].y, p[b].x, p[b].y, colour);
    }
    for (int y = miny; y < maxy; ++y) {
        ints.clear();
        bool have_last = false;
        int last_inter = 0, last_dir = 0, last_end = 0;
        // The right end of a horizontal run that joins the first edge, which is
        // only added at the end of the round.
        int first_merge = INT_MIN;
        // Edge 0 (last point to first) is looked at twice: first only to be the
        // "previous" edge of edge 1, and at the end to be counted.
        for (int i = 0; i <= n; ++i) {
            const int a = (i == 0 || i == n) ? n - 1 : i - 1;
            const int b = (i == 0 || i == n) ? 0 : i;
            if (p[a].y == p[b].y) continue;
            const bool down = p[a].y < p[b].y;
            const Point& lo = down ? p[a] : p[b];
            const Point& hi = down ? p[b] : p[a];
            const int dir = down ? -1 : 1;
            if (y < lo.y || y > hi.y) continue;
            const int inter = static_cast<int>(lo.x + static_cast<long long>(y - lo.y) * (hi.x - lo.x) /
                                                           (hi.y - lo.y));
            if (have_last && dir == last_dir) {
                // Two crossings at the ends of a horizontal run that is no extremum
                // count once, at the run's right end.
                if (p[a].y == p[last_end].y && p[a].x != p[last_end].x) {
                    if (ints.empty())
                        first_merge = std::max(first_merge, inter);
                    else
                        ints.back() = std::max(ints.back(), inter);
                    last_inter = inter;
                    last_end = b;
                    continue;
                }
                // A vertex the outline passes straight through counts once.
                if (inter == last_inter) continue;
            }
            if (i > 0) ints.push_back(i == n ? std::max(inter, first_merge) : inter);
            have_last = true;
            last_inter = inter;
            last_dir = dir;
            last_end = b;
        }
        std::sort(ints.begin(), ints.end());
        for (std::size_t i = 0; i + 1 < ints.size(); i += 2) canvas_line(canvas, ints[i], y, ints[i + 1], y, colour);
    }
}

int cos1024(int degree) { return trig().cos[wrap_degree(degree)]; }
int sin1024(int degree) { return trig().sin[wrap_degree(degree)]; }

void canvas_arc(Canvas& canvas, int cx, int cy, int w, int h, int start, int end, int colour) {
    long long last = end;
    if (last < start) last += 360LL * ((static_cast<long long>(start) - last + 359) / 360);
    // Past a full turn the points only repeat.
    last = std::min<long long>(last, static_cast<long long>(start) + 360);
    const long long rx = w / 2, ry = h / 2;
    int lx = 0, ly = 0;
    for (long long i = start; i <= last; ++i) {
        const int x = static_cast<int>(cx + rx * cos1024(wrap_degree(i)) / 1024);
        const int y = static_cast<int>(cy + ry * sin1024(wrap_degree(i)) / 1024);
        if (i != start && (x != lx || y != ly)) canvas_line(canvas, lx, ly, x, y, colour);
        lx = x;
        ly = y;
    }
}

void canvas_fill(Canvas& canvas, int x, int y, int colour) {
    if (!canvas.inside(x, y)) return;
    const std::uint8_t old = canvas.pixel(x, y);
    const bool styled = colour == STYLED;
    if (styled ? canvas.style.empty() : old == (colour & 0xFF)) return;

    // A styled fill may leave pixels at the old colour (STYLE_SKIP, or a pattern
    // value equal to it), so painted pixels are also remembered; otherwise the
    // scan would find them again and never end.
    const int width = canvas.width();
    std::vector<bool> painted(styled ? static_cast<std::size_t>(width) * canvas.height() : 0);
    auto fillable = [&](int px, int py) {
        return canvas.pixel(px, py) == old &&
               !(styled && painted[static_cast<std::size_t>(py) * width + px]);
    };
    auto paint = [&](int px, int py) {
        if (styled) painted[static_cast<std::size_t>(py) * width + px] = true;
        canvas_set_pixel(canvas, px, py, colour);
    };

    // The scan-line fill as a recursion would do it (left from the seed, then
    // right, then the row above, then the row below, each new run as it is met),
    // with an explicit stack of frames so that no region can exhaust the call stack.
    struct Frame {
        int left, right, y;
        int side;          // 0: row above, 1: row below, 2: done
        int i;             // next column of the span to look at
        bool after_border; // the previous pixel looked at was not fillable
    };
    std::vector<Frame> frames;
    auto start_span = [&](int sx, int sy) {
        int left = sx, right = sx;
        for (int i = sx; i >= 0 && fillable(i, sy); --i) {
            paint(i, sy);
            left = i;
        }
        for (int i = sx + 1; i < width && fillable(i, sy); ++i) {
            paint(i, sy);
            right = i;
        }
        frames.push_back({left, right, sy, 0, left, true});
    };
    start_span(x, y);
    while (!frames.empty()) {
        Frame& f = frames.back();
        if (f.side == 2) {
            frames.pop_back();
            continue;
        }
        const int row = f.side == 0 ? f.y - 1 : f.y + 1;
        bool descended = false;
        if (row >= 0 && row < canvas.height()) {
            while (f.i <= f.right) {
                const int i = f.i++;
                const bool ok = fillable(i, row);
                if (f.after_border && ok) {
                    f.after_border = false;
                    start_span(i, row);   // invalidates f
                    descended = true;
                    break;
                }
                if (!ok) f.after_border = true;
            }
        }
        if (descended) continue;
        f.side += 1;
        f.i = f.left;
        f.after_border = true;
    }
}

void canvas_set_style(Canvas& canvas, std::span<const int> style) {
    canvas.style.assign(style.begin(), style.end());
    canvas.style_pos = 0;
}

void canvas_set_interlace(Canvas& canvas, bool interlace) { canvas.interlace = interlace; }

}  // namespace tallowick::graph
