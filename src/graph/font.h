// The three bitmap fonts of the charts and text drawing with proportional
// spacing: each character advances by its ink width and one pixel of gap.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "graph/canvas.h"

namespace tallowick::graph {

class BitmapFont {
public:
    struct Metric {
        int left = 0;    // first column holding ink
        int width = 0;   // ink columns; 0 for codes the font does not draw
    };

    // rows: glyph_count * cell_height row masks, leftmost column in bit cell_width-1.
    BitmapFont(int first_char, int glyph_count, int cell_width, int cell_height,
               std::span<const std::uint16_t> rows);

    int first_char() const { return first_; }
    int glyph_count() const { return count_; }
    int cell_width() const { return w_; }
    int cell_height() const { return h_; }
    bool has_glyph(int code) const { return code >= first_ && code < first_ + count_; }
    // Ink of glyph pixel (column, row) of the character, which must have a glyph.
    bool ink(int code, int column, int row) const {
        return data_[static_cast<std::size_t>((code - first_) * w_ * h_ + row * w_ + column)] != 0;
    }
    // Codes 0..127; every other code measures as width 0.
    Metric metric(int code) const;

private:
    int first_, count_, w_, h_;
    std::vector<std::uint8_t> data_;   // one byte per pixel, glyph after glyph
    std::array<Metric, 128> metrics_{};
};

// Chart titles, 16 x 15 cells.
const BitmapFont& title_font();
// Axis labels, legends, values and axis titles, 9 x 12 cells.
const BitmapFont& label_font();
// Captions above vertical bars, 6 x 12 cells.
const BitmapFont& small_font();

// Draws the character's ink with the top-left of its cell at (x, y).
void font_char(Canvas& canvas, const BitmapFont& font, int x, int y, int c, int colour);
void font_string(Canvas& canvas, const BitmapFont& font, int x, int y, std::string_view text,
                 int colour);
// The width font_string advances over the text, trailing gap pixel included.
int font_string_width(const BitmapFont& font, std::string_view text);
// Text rotated 90 degrees counter-clockwise, reading upward from (x, y).
void font_char_up(Canvas& canvas, const BitmapFont& font, int x, int y, int c, int colour);
void font_string_up(Canvas& canvas, const BitmapFont& font, int x, int y, std::string_view text,
                    int colour);

}  // namespace tallowick::graph
