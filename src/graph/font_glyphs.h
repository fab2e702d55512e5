// The glyph bitmaps of the three chart fonts, generated from public-domain bitmap
// fonts by scripts/make_font_glyphs.py (see fonts/README.md). Internal to graph/.
#pragma once

#include <cstdint>

namespace tallowick::graph::detail {

// 96 glyphs (codes 32..127) of cell-height row masks each; within a row mask the
// leftmost column is bit (cell width - 1).
extern const std::uint16_t kTitleGlyphs[96 * 15];   // 16 x 15
extern const std::uint16_t kLabelGlyphs[96 * 12];   // 9 x 12
extern const std::uint16_t kSmallGlyphs[96 * 12];   // 6 x 12

}  // namespace tallowick::graph::detail
