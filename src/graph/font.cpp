#include "graph/font.h"

#include <algorithm>

#include "base/utf8.h"
#include "graph/font_glyphs.h"

namespace tallowick::graph {

namespace {

constexpr int kColumns = 16;
constexpr std::string_view kEllipsis = "...";

}  // namespace

BitmapFont::BitmapFont(int cell_width, int cell_height, std::span<const char32_t> codes,
                       std::span<const std::uint16_t> rows)
    : w_(cell_width), h_(cell_height), codes_(codes), rows_(rows), metrics_(codes.size()) {
    // Proportional metrics, computed once: the glyph's ink columns. A glyph
    // without ink (the spaces) gets a fifth of the cell plus one.
    for (std::size_t g = 0; g < codes_.size(); ++g) {
        std::uint16_t all = 0;
        for (int r = 0; r < h_; ++r) all |= rows_[g * static_cast<std::size_t>(h_) + static_cast<std::size_t>(r)];
        if (all == 0) {
            metrics_[g] = {0, w_ / 5 + 1};
            continue;
        }
        int lo = 0, hi = kColumns - 1;
        while (!(all & (0x8000u >> lo))) ++lo;
        while (!(all & (0x8000u >> hi))) --hi;
        metrics_[g] = {lo, hi - lo + 1};
    }
}

int BitmapFont::glyph_of(char32_t code) const {
    const auto it = std::lower_bound(codes_.begin(), codes_.end(), code);
    return it != codes_.end() && *it == code ? static_cast<int>(it - codes_.begin()) : -1;
}

bool BitmapFont::ink(char32_t code, int column, int row) const {
    const int g = glyph_of(code);
    if (g < 0 || column < 0 || column >= kColumns || row < 0 || row >= h_) return false;
    return (rows_[static_cast<std::size_t>(g * h_ + row)] & (0x8000u >> column)) != 0;
}

std::span<const std::uint16_t> BitmapFont::glyph_rows(char32_t code) const {
    const int g = glyph_of(code);
    if (g < 0) return {};
    return rows_.subspan(static_cast<std::size_t>(g * h_), static_cast<std::size_t>(h_));
}

BitmapFont::Metric BitmapFont::metric(char32_t code) const {
    const int g = glyph_of(code);
    return g < 0 ? Metric{} : metrics_[static_cast<std::size_t>(g)];
}

const BitmapFont& title_font() {
    static const BitmapFont font(16, 15, detail::kTitleGlyphs.codes, detail::kTitleGlyphs.rows);
    return font;
}

const BitmapFont& label_font() {
    static const BitmapFont font(9, 12, detail::kLabelGlyphs.codes, detail::kLabelGlyphs.rows);
    return font;
}

const BitmapFont& small_font() {
    static const BitmapFont font(6, 12, detail::kSmallGlyphs.codes, detail::kSmallGlyphs.rows);
    return font;
}

void font_char(Canvas& canvas, const BitmapFont& font, int x, int y, char32_t c, int colour) {
    const BitmapFont::Metric m = font.metric(c);
    const auto rows = font.glyph_rows(c);  // found once, not for every pixel
    for (std::size_t r = 0; r < rows.size(); ++r) {
        for (int k = 0; k < m.width; ++k) {
            const int column = m.left + k;
            if (column >= 0 && column < kColumns && (rows[r] & (0x8000u >> column)))
                canvas.put(x + k, y + static_cast<int>(r), colour);
        }
    }
}

void font_string(Canvas& canvas, const BitmapFont& font, int x, int y, std::string_view text,
                 int colour) {
    for (std::size_t at = 0; at < text.size();) {
        const char32_t c = next_code_point(text, at);
        font_char(canvas, font, x, y, c, colour);
        x += font.metric(c).width + 1;
    }
}

int font_string_width(const BitmapFont& font, std::string_view text) {
    int width = 0;
    for (std::size_t at = 0; at < text.size();) width += font.metric(next_code_point(text, at)).width + 1;
    return width;
}

std::string font_fit(const BitmapFont& font, std::string_view text, int max_width) {
    if (font_string_width(font, text) <= max_width) return std::string(text);
    const int room = max_width - font_string_width(font, kEllipsis);
    if (room < 0) return {};
    std::string out;
    int width = 0;
    for (std::size_t at = 0; at < text.size();) {
        const char32_t c = next_code_point(text, at);
        width += font.metric(c).width + 1;
        if (width > room) break;
        append_utf8(out, c);
    }
    return out + std::string(kEllipsis);
}

void font_char_up(Canvas& canvas, const BitmapFont& font, int x, int y, char32_t c, int colour) {
    const auto rows = font.glyph_rows(c);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        for (int col = 0; col < kColumns; ++col) {
            if (rows[r] & (0x8000u >> col)) canvas.put(x + static_cast<int>(r), y - col, colour);
        }
    }
}

void font_string_up(Canvas& canvas, const BitmapFont& font, int x, int y, std::string_view text,
                    int colour) {
    for (std::size_t at = 0; at < text.size();) {
        const char32_t c = next_code_point(text, at);
        font_char_up(canvas, font, x, y, c, colour);
        y -= font.metric(c).width + 1;
    }
}

}  // namespace tallowick::graph
