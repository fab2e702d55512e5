#include "graph/font.h"

#include <algorithm>

#include "graph/font_glyphs.h"

namespace tallowick::graph {

namespace {

constexpr int kFirstChar = 32;
constexpr int kGlyphs = 96;

int code_of(char c) { return static_cast<unsigned char>(c); }

}  // namespace

BitmapFont::BitmapFont(int first_char, int glyph_count, int cell_width, int cell_height,
                       std::span<const std::uint16_t> rows)
    : first_(first_char), count_(glyph_count), w_(cell_width), h_(cell_height),
      data_(static_cast<std::size_t>(glyph_count * cell_width * cell_height)) {
    for (int g = 0; g < count_; ++g) {
        for (int r = 0; r < h_; ++r) {
            const std::uint16_t mask = rows[static_cast<std::size_t>(g * h_ + r)];
            for (int c = 0; c < w_; ++c)
                data_[static_cast<std::size_t>(g * w_ * h_ + r * w_ + c)] = (mask >> (w_ - 1 - c)) & 1;
        }
    }
    // Proportional metrics, computed once: the glyph's ink columns. The space has
    // no ink and gets a fifth of the cell plus one.
    for (int code = first_; code < first_ + count_ && code < 128; ++code) {
        int lo = w_, hi = -1;
        for (int r = 0; r < h_; ++r) {
            for (int c = 0; c < w_; ++c) {
                if (ink(code, c, r)) {
                    lo = std::min(lo, c);
                    hi = std::max(hi, c);
                }
            }
        }
        metrics_[static_cast<std::size_t>(code)] = hi < 0 ? Metric{0, 0} : Metric{lo, hi - lo + 1};
    }
    if (has_glyph(' ')) metrics_[static_cast<std::size_t>(' ')] = {0, w_ / 5 + 1};
}

BitmapFont::Metric BitmapFont::metric(int code) const {
    if (code < 0 || code >= 128) return {};
    return metrics_[static_cast<std::size_t>(code)];
}

const BitmapFont& title_font() {
    static const BitmapFont font(kFirstChar, kGlyphs, 16, 15, detail::kTitleGlyphs);
    return font;
}

const BitmapFont& label_font() {
    static const BitmapFont font(kFirstChar, kGlyphs, 9, 12, detail::kLabelGlyphs);
    return font;
}

const BitmapFont& small_font() {
    static const BitmapFont font(kFirstChar, kGlyphs, 6, 12, detail::kSmallGlyphs);
    return font;
}

void font_char(Canvas& canvas, const BitmapFont& font, int x, int y, int c, int colour) {
    if (!font.has_glyph(c)) return;
    const BitmapFont::Metric m = font.metric(c);
    for (int r = 0; r < font.cell_height(); ++r) {
        for (int k = 0; k < m.width; ++k) {
            if (font.ink(c, m.left + k, r)) canvas.put(x + k, y + r, colour);
        }
    }
}

void font_string(Canvas& canvas, const BitmapFont& font, int x, int y, std::string_view text,
                 int colour) {
    for (char ch : text) {
        font_char(canvas, font, x, y, code_of(ch), colour);
        x += font.metric(code_of(ch)).width + 1;
    }
}

int font_string_width(const BitmapFont& font, std::string_view text) {
    int width = 0;
    for (char ch : text) width += font.metric(code_of(ch)).width + 1;
    return width;
}

void font_char_up(Canvas& canvas, const BitmapFont& font, int x, int y, int c, int colour) {
    if (!font.has_glyph(c)) return;
    for (int r = 0; r < font.cell_height(); ++r) {
        for (int col = 0; col < font.cell_width(); ++col) {
            if (font.ink(c, col, r)) canvas.put(x + r, y - col, colour);
        }
    }
}

void font_string_up(Canvas& canvas, const BitmapFont& font, int x, int y, std::string_view text,
                    int colour) {
    for (char ch : text) {
        font_char_up(canvas, font, x, y, code_of(ch), colour);
        y -= font.metric(code_of(ch)).width + 1;
    }
}

}  // namespace tallowick::graph
