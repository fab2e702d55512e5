// The glyph bitmaps of the three chart fonts, generated at build time from
// public-domain bitmap fonts by scripts/make_font_glyphs.py (see
// fonts/README.md). Internal to graph/.
#pragma once

#include <cstdint>
#include <span>

namespace tallowick::graph::detail {

// The characters one font draws, in ascending order, and their glyphs: for each
// code, cell-height row masks with column 0 in bit 15.
struct GlyphTable {
    std::span<const char32_t> codes;
    std::span<const std::uint16_t> rows;
};

extern const GlyphTable kTitleGlyphs;   // cell height 15
extern const GlyphTable kLabelGlyphs;   // cell height 12
extern const GlyphTable kSmallGlyphs;   // cell height 12

}  // namespace tallowick::graph::detail
