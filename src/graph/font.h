// The three bitmap fonts of the charts and text drawing with proportional
// spacing: each character advances by its ink width and one pixel of gap.
// Texts are UTF-8; a byte that is not UTF-8 is drawn as its Latin-1 character
// (base/utf8.h), as the report pages show it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
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

    // codes: the characters drawn, ascending; rows: cell_height row masks per
    // code, column 0 in bit 15 (a glyph may be up to 16 columns wide).
    // cell_width is the nominal width of the font's Latin cells.
    BitmapFont(int cell_width, int cell_height, std::span<const char32_t> codes,
               std::span<const std::uint16_t> rows);

    int cell_width() const { return w_; }
    int cell_height() const { return h_; }
    // Every character the font draws, ascending.
    std::span<const char32_t> codes() const { return codes_; }
    bool has_glyph(char32_t code) const { return glyph_of(code) >= 0; }
    // Ink of glyph pixel (column 0..15, row) of a character the font draws.
    bool ink(char32_t code, int column, int row) const;
    Metric metric(char32_t code) const;
    // The glyph's row masks (cell_height of them, column 0 in bit 15), or none.
    std::span<const std::uint16_t> glyph_rows(char32_t code) const;

private:
    int glyph_of(char32_t code) const;
    int w_, h_;
    std::span<const char32_t> codes_;
    std::span<const std::uint16_t> rows_;
    std::vector<Metric> metrics_;   // per glyph
};

// Chart titles, 15 rows.
const BitmapFont& title_font();
// Axis labels, legends, values and axis titles, 12 rows.
const BitmapFont& label_font();
// Captions above vertical bars, 12 rows.
const BitmapFont& small_font();

// Draws the character's ink with the top-left of its cell at (x, y).
void font_char(Canvas& canvas, const BitmapFont& font, int x, int y, char32_t c, int colour);
void font_string(Canvas& canvas, const BitmapFont& font, int x, int y, std::string_view text,
                 int colour);
// The width font_string advances over the text, trailing gap pixel included.
int font_string_width(const BitmapFont& font, std::string_view text);
// The text, cut at its end and followed by "..." when it is wider than
// max_width pixels; empty when not even "..." fits.
std::string font_fit(const BitmapFont& font, std::string_view text, int max_width);
// Text rotated 90 degrees counter-clockwise, reading upward from (x, y).
void font_char_up(Canvas& canvas, const BitmapFont& font, int x, int y, char32_t c, int colour);
void font_string_up(Canvas& canvas, const BitmapFont& font, int x, int y, std::string_view text,
                    int colour);

}  // namespace tallowick::graph
