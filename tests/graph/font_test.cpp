#include "graph/font.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/utf8.h"
#include "support/test_support.h"

#include "graph_test_support.h"

namespace tallowick::graph {
namespace {

std::unique_ptr<Canvas> text_canvas(int w = 200, int h = 60) {
    auto c = canvas_create(w, h, false);
    canvas_color_allocate(*c, 255, 255, 255);
    canvas_color_allocate(*c, 0, 0, 0);
    canvas_filled_rectangle(*c, 0, 0, w - 1, h - 1, 0);
    return c;
}

// Columns [first, last] holding ink, or {-1, -1}.
std::pair<int, int> ink_columns(const Canvas& c) {
    int first = -1, last = -1;
    for (int x = 0; x < c.width(); ++x)
        for (int y = 0; y < c.height(); ++y)
            if (c.pixel(x, y) == 1) {
                if (first < 0) first = x;
                last = x;
            }
    return {first, last};
}

TEST(Fonts, EveryPrintableGlyphHasInkInsideItsCell) {
    for (const BitmapFont* font : {&title_font(), &label_font(), &small_font()}) {
        SCOPED_TRACE(font->cell_width());
        for (char32_t code = 33; code < 127; ++code) {
            const auto m = font->metric(code);
            EXPECT_GT(m.width, 0) << char(code);
            EXPECT_LE(m.left + m.width, font->cell_width()) << char(code);
        }
        // Proportional, not fixed: a narrow letter takes less room than a wide one.
        EXPECT_LT(font->metric('i').width, font->metric('W').width);
    }
    EXPECT_EQ(title_font().cell_height(), 15);
    EXPECT_EQ(label_font().cell_width(), 9);
    EXPECT_EQ(small_font().cell_width(), 6);
}

TEST(Fonts, StringWidthIsInkWidthPlusOneGapPerCharacter) {
    const BitmapFont& label = label_font();
    // Measured on the canvas: the drawn ink of "A" is as wide as its metric says.
    auto c = text_canvas();
    font_string(*c, label, 10, 5, "A", 1);
    const auto [first, last] = ink_columns(*c);
    EXPECT_EQ(first, 10);
    EXPECT_EQ(font_string_width(label, "A"), last - first + 1 + 1);

    EXPECT_EQ(font_string_width(label, " "), 3);
    EXPECT_EQ(font_string_width(small_font(), " "), 3);
    EXPECT_EQ(font_string_width(title_font(), " "), 5);
    EXPECT_EQ(font_string_width(label, ""), 0);
    EXPECT_EQ(font_string_width(label, "AB"),
              font_string_width(label, "A") + font_string_width(label, "B"));
    // Codes the fonts do not draw measure as a bare gap; a byte that is not
    // UTF-8 is its Latin-1 character.
    EXPECT_EQ(font_string_width(label, "\x01"), 1);
    EXPECT_EQ(font_string_width(label, "\xE9"), font_string_width(label, "\xC3\xA9"));
    EXPECT_GT(font_string_width(label, "\xE9"), 1);
}

TEST(Fonts, StringsAdvanceByProportionalWidths) {
    const BitmapFont& label = label_font();
    auto ab = text_canvas();
    font_string(*ab, label, 10, 5, "AB", 1);
    auto b = text_canvas();
    font_char(*b, label, 10 + font_string_width(label, "A"), 5, 'B', 1);
    for (int y = 0; y < ab->height(); ++y)
        for (int x = 10 + font_string_width(label, "A"); x < ab->width(); ++x)
            ASSERT_EQ(ab->pixel(x, y), b->pixel(x, y)) << x << "," << y;

    auto none = text_canvas();
    font_string(*none, label, 10, 5, "\x01\x7F", 1);
    EXPECT_EQ(test::count_pixels(*none, 1), 0);
    font_string(*none, label, 10, 5, "", 1);
    EXPECT_EQ(test::count_pixels(*none, 1), 0);
}

TEST(Fonts, UpwardTextIsTheCellRotatedCounterClockwise) {
    const BitmapFont& label = label_font();
    auto flat = text_canvas(40, 40);
    font_char(*flat, label, 0, 0, 'F', 1);
    auto up = text_canvas(40, 40);
    font_char_up(*up, label, 5, 30, 'F', 1);
    const int left = label.metric('F').left;
    long inked = 0;
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 40; ++x) {
            if (flat->pixel(x, y) != 1) continue;
            ++inked;
            // Glyph column c = x + left, row r = y lands at (5 + r, 30 - c).
            EXPECT_EQ(up->pixel(5 + y, 30 - (x + left)), 1) << x << "," << y;
        }
    }
    EXPECT_EQ(test::count_pixels(*up, 1), inked);

    // Upward strings step up by the proportional width of each character.
    auto two = text_canvas(40, 80);
    font_string_up(*two, label, 5, 70, "FF", 1);
    auto second = text_canvas(40, 80);
    font_char_up(*second, label, 5, 70 - font_string_width(label, "F"), 'F', 1);
    EXPECT_EQ(test::count_pixels(*two, 1), 2 * inked);
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 40; ++x)
            if (second->pixel(x, y) == 1) {
                ASSERT_EQ(two->pixel(x, y), 1) << x << "," << y;
            }
}

TEST(Fonts, TextClipsAtTheCanvasEdges) {
    auto c = text_canvas(20, 10);
    font_string(*c, title_font(), 12, 3, "WWW", 1);
    font_string_up(*c, title_font(), 15, 2, "WWW", 1);
    font_string(*c, label_font(), -30, -5, "clipped", 1);
    EXPECT_GT(test::count_pixels(*c, 1), 0);
}

// Every character of every report language file is drawn by every chart font,
// so that no translated chart text loses a letter.
TEST(Fonts, EveryLanguageCharacterHasAGlyph) {
    const auto lang = tallowick::test::source_dir() / "lang";
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(lang)) {
        if (entry.path().extension() != ".lang") continue;
        ++files;
        const std::string text = tallowick::test::read_file(entry.path());
        for (std::size_t at = 0; at < text.size();) {
            const char32_t c = next_code_point(text, at);
            if (c < 0x20 || c == 0x7F) continue;
            for (const BitmapFont* font : {&title_font(), &label_font(), &small_font()}) {
                ASSERT_TRUE(font->has_glyph(c)) << entry.path().filename() << " U+" << std::hex
                                                << static_cast<unsigned>(c);
            }
        }
    }
    EXPECT_EQ(files, 9);

    // Known titles are drawn whole: each character leaves its own ink.
    for (const std::string title : {"T\xC3\xA4glicher Verkehr", "\xE6\x97\xA5\xE5\x88\xA5",
                                    "Fr\xC3\xA9quentation", "S\xC3\xB8ndag"}) {
        SCOPED_TRACE(title);
        auto whole = text_canvas(300, 20);
        font_string(*whole, title_font(), 0, 0, title, 1);
        int inked = 0, x = 0;
        for (std::size_t at = 0; at < title.size();) {
            const char32_t c = next_code_point(title, at);
            auto one = text_canvas(40, 20);
            font_char(*one, title_font(), 0, 0, c, 1);
            if (c != U' ') {
                EXPECT_GT(test::count_pixels(*one, 1), 0) << static_cast<unsigned>(c);
            }
            inked += test::count_pixels(*one, 1);
            x += title_font().metric(c).width + 1;
        }
        EXPECT_EQ(test::count_pixels(*whole, 1), inked);
        EXPECT_EQ(font_string_width(title_font(), title), x);
    }
}

TEST(Fonts, FittingCutsWholeCharactersAndAddsAnEllipsis) {
    const BitmapFont& label = label_font();
    const std::string text = "Pr\xC3\xBC" "fungsergebnisse";
    EXPECT_EQ(font_fit(label, text, 1000), text);
    const std::string cut = font_fit(label, text, 40);
    EXPECT_LE(font_string_width(label, cut), 40);
    ASSERT_GT(cut.size(), 3u);
    EXPECT_EQ(cut.substr(cut.size() - 3), "...");
    EXPECT_EQ(text.rfind(cut.substr(0, cut.size() - 3), 0), 0u);
    std::string buffer;
    EXPECT_EQ(valid_utf8(font_fit(label, text, 30), buffer).size(), font_fit(label, text, 30).size());
    EXPECT_EQ(font_fit(label, text, 3), "");
}

}  // namespace
}  // namespace tallowick::graph
