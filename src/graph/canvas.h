// The canvas every graph image is drawn on: a palette-indexed raster of 8-bit
// pixels with a 256-entry palette, and the drawing primitives the chart code
// builds its images from. Writing a canvas to a file is image_file.h.
//
// Colours are palette indices. Two negative values are special when passed to
// canvas_set_pixel, canvas_dotted_line and canvas_fill: STYLED draws the next
// value of the style pattern, and a pattern value of STYLE_SKIP leaves the pixel
// alone. Every other primitive writes the colour's low byte, so a failed
// allocation (-1) lands as index 255. Every primitive clips silently.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace tallowick::graph {

// A colour as 0xRRGGBB; chart code keeps its configured colours in this form.
using PackedColor = std::uint32_t;

inline constexpr int STYLED = -2;
inline constexpr int STYLE_SKIP = -6;
inline constexpr int kPaletteSize = 256;
inline constexpr int kWebPaletteColors = 216;

struct Point {
    int x = 0;
    int y = 0;
};

class Canvas {
public:
    // Prefer canvas_create, which reports a failed allocation as no canvas.
    Canvas(int width, int height);

    int width() const { return width_; }
    int height() const { return height_; }
    bool inside(int x, int y) const { return x >= 0 && y >= 0 && x < width_ && y < height_; }

    // Row y, width() palette indices; y must be inside.
    std::span<std::uint8_t> row(int y) {
        return {pixels_.data() + static_cast<std::size_t>(y) * width_, static_cast<std::size_t>(width_)};
    }
    std::span<const std::uint8_t> row(int y) const {
        return {pixels_.data() + static_cast<std::size_t>(y) * width_, static_cast<std::size_t>(width_)};
    }
    // The pixel at (x, y), which must be inside.
    std::uint8_t pixel(int x, int y) const { return row(y)[x]; }
    // Writes the colour's low byte at (x, y) when inside; no style.
    void put(int x, int y, int colour) {
        if (inside(x, y)) row(y)[x] = static_cast<std::uint8_t>(colour & 0xFF);
    }

    // The palette: slots 0..color_count-1 are allocated unless marked open.
    int color_count = 0;
    std::array<int, kPaletteSize> red{}, green{}, blue{};
    std::array<bool, kPaletteSize> open{};
    int transparent = -1;       // index the GIF encoder writes as transparent; -1 none
    bool interlace = false;     // encoders write interlaced images
    bool web_palette = false;   // fixed web palette: allocation only maps to it

    std::vector<int> style;     // pattern of the STYLED pseudo-colour
    std::size_t style_pos = 0;
    std::vector<int> poly_ints; // scratch of canvas_filled_polygon

private:
    int width_;
    int height_;
    std::vector<std::uint8_t> pixels_;
};

// A new canvas of width x height pixels (1..65535 each); pixels start at index 0.
// With web_palette, the 216-colour web palette fills slots 0..215 and black the
// rest, all in use. Returns nothing for a bad size or when memory runs out.
std::unique_ptr<Canvas> canvas_create(int width, int height, bool web_palette);

// The palette index for the colour: an exact match among the used slots, else the
// first open slot, else a new slot; -1 when all 256 are in use. A web-palette
// canvas only maps to its closest entry.
int canvas_color_allocate(Canvas& canvas, int r, int g, int b);
int canvas_color_allocate_packed(Canvas& canvas, PackedColor packed);
// The used slot nearest to the colour by the largest channel difference; ties go
// to the lower index; 0 with no slot in use.
int canvas_color_closest(const Canvas& canvas, int r, int g, int b);
// Overwrites slot index and marks it in use (color_count is not changed).
void canvas_set_entry(Canvas& canvas, int index, PackedColor packed);
PackedColor canvas_get_entry(const Canvas& canvas, int index);
// Each channel multiplied by percent / 100, truncated and clamped to 0..255.
PackedColor color_scale(double percent, PackedColor packed);

void canvas_set_pixel(Canvas& canvas, int x, int y, int colour);
// Bresenham line, both end points drawn.
void canvas_line(Canvas& canvas, int x1, int y1, int x2, int y2, int colour);
// Every second pixel of the line, the start point not drawn; honours STYLED.
void canvas_dotted_line(Canvas& canvas, int x1, int y1, int x2, int y2, int colour);
void canvas_rectangle(Canvas& canvas, int x1, int y1, int x2, int y2, int colour);
// Every pixel with x1 <= x <= x2 and y1 <= y <= y2 (nothing when reversed).
void canvas_filled_rectangle(Canvas& canvas, int x1, int y1, int x2, int y2, int colour);
void canvas_polygon(Canvas& canvas, std::span<const Point> points, int colour);
// Scan-line fill; the row of the largest vertex y is not scanned.
void canvas_filled_polygon(Canvas& canvas, std::span<const Point> points, int colour);
// Elliptical arc of width w and height h about (cx, cy), whole degrees clockwise
// from the positive x axis.
void canvas_arc(Canvas& canvas, int cx, int cy, int w, int h, int start, int end, int colour);
// Fills the 4-connected region of the seed's colour; honours STYLED.
void canvas_fill(Canvas& canvas, int x, int y, int colour);
void canvas_set_style(Canvas& canvas, std::span<const int> style);
void canvas_set_interlace(Canvas& canvas, bool interlace);

// 1024 * cos and 1024 * sin of whole degrees 0..359, truncated toward zero.
int cos1024(int degree);
int sin1024(int degree);

// Chart shapes (canvas_shapes.cpp).

// Flat framed bar: light top and left edge, outer bottom and right edge.
void canvas_bar_flat(Canvas& canvas, int x, int y, int w, int h, int light, int inner,
                     int outer);
// 3D bars: a face with a top and a side leaning up and right by depth pixels.
void canvas_bar_3d_vertical(Canvas& canvas, int x, int y, int w, int h, int top, int face,
                            int side, int depth);
void canvas_bar_3d_horizontal(Canvas& canvas, int x, int y, int w, int h, int top, int face,
                              int side, int depth);
// As the 3D bars, with the face painted as a brightness gradient of the face colour.
void canvas_bar_shaded_vertical(Canvas& canvas, int x, int y, int w, int h, int top, int face,
                                int side, int depth);
void canvas_bar_shaded_horizontal(Canvas& canvas, int x, int y, int w, int h, int top,
                                  int face, int side, int depth);
// One slice of a tilted pie; the front half (angles below 180) gets a side wall.
void canvas_pie_slice_3d(Canvas& canvas, int cx, int cy, int radius, int start, int end,
                         int face, int side);

}  // namespace tallowick::graph
