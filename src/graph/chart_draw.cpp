// Drawing one chart: the fixed palette, the frame and plot area, titles, the
// value scale and grid, and the items by chart kind.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "base/julian_date.h"
#include "base/utf8.h"
#include "engine/report_stats.h"
#include "engine/stat_list.h"
#include "engine/visitor_measures.h"
#include "graph/chart_spec.h"
#include "graph/font.h"
#include "graph/vrml_scene.h"
#include "report/chart_seam.h"
#include "report/translate.h"

namespace tallowick::graph {

namespace {

constexpr std::array<std::array<PackedColor, 2>, 9> kSeriesColours = {{
    {0xCC0033, 0xFF6666}, {0xFF6600, 0xFFCC99}, {0xCC9900, 0xFFCC00},
    {0x669900, 0xCCCC00}, {0x006633, 0x66CC33}, {0x000099, 0x99CCFF},
    {0x3333FF, 0x33CCFF}, {0x990099, 0xCC0099}, {0x000000, 0x222222},
}};
constexpr const auto& kItemColours = report::kChartItemColours;
constexpr std::string_view kMonthNames = "JanFebMarAprMayJunJulAugSepOctNovDec";
// System families of the browser records, in key order 1..4.
constexpr std::array<std::string_view, 4> kFamilyNames = {"Windows", "Macintosh", "Unix",
                                                          "Other"};

// The palette every chart canvas starts with, in allocation order.
struct Palette {
    int black, grey, light, white, red, green, blue, yellow;
    int plot_background, plot, c1, c2, c3;
    std::array<std::array<int, 2>, 9> series;
    std::array<std::array<int, 3>, 10> item;   // 150%, 100%, 50%
};

Palette allocate_palette(Canvas& c, const ChartSpec& spec) {
    Palette p{};
    auto a = [&](PackedColor packed) { return canvas_color_allocate_packed(c, packed); };
    p.black = a(0x000000);
    p.grey = a(0x555555);
    p.light = a(0xDDDDDD);
    p.white = a(0xFFFFFF);
    p.red = a(0xFF0000);
    p.green = a(0x00FF00);
    p.blue = a(0x0000FF);
    p.yellow = a(0xFFFF00);
    p.plot_background = a(spec.plot_background);
    p.plot = a(spec.color4);
    p.c1 = a(spec.color1);
    p.c2 = a(spec.color2);
    p.c3 = a(spec.color3);
    for (std::size_t i = 0; i < kSeriesColours.size(); ++i)
        for (std::size_t j = 0; j < 2; ++j) p.series[i][j] = a(kSeriesColours[i][j]);
    for (std::size_t i = 0; i < kItemColours.size(); ++i) {
        p.item[i][0] = a(color_scale(150, kItemColours[i]));
        p.item[i][1] = a(kItemColours[i]);
        p.item[i][2] = a(color_scale(50, kItemColours[i]));
    }
    return p;
}

std::string format(const char* fmt, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, fmt, value);
    return buffer;
}

std::string whole(double value) { return std::to_string(static_cast<long long>(value)); }

// The plot rectangle of a chart.
struct Plot {
    int x, y, w, h;
    int bottom() const { return y + h; }
};

Plot plot_of(const ChartSpec& spec) {
    return {spec.left, spec.top, std::max(1, spec.width - spec.left - 10),
            std::max(1, spec.height - 2 * spec.top)};
}

// Everything one drawing needs.
struct Drawing {
    const ChartTarget& target;
    const ChartSpec& spec;
    Canvas& canvas;
    Palette palette;
    Plot plot;
    // The items drawn, in drawing order, and the category slot of each.
    std::vector<int> items;
    std::vector<int> slots;
    double maximum = 1;        // largest value drawn, at least 1
    ChartScale scale;          // the value scale; values are drawn against its top
    double top = 1;
};

void text(Canvas& c, const BitmapFont& font, int x, int y, std::string_view s, int colour) {
    font_string(c, font, x, y, s, colour);
}
void text_right(Canvas& c, const BitmapFont& font, int right, int y, std::string_view s,
                int colour) {
    font_string(c, font, right - font_string_width(font, s), y, s, colour);
}
void text_centred(Canvas& c, const BitmapFont& font, int centre, int y, std::string_view s,
                  int colour) {
    font_string(c, font, centre - font_string_width(font, s) / 2, y, s, colour);
}

// The text cut (from the end, with "...") until it is at most max_width pixels wide.
std::string fit(const BitmapFont& font, std::string_view s, int max_width) {
    return font_fit(font, s, max_width);
}

// The characters of a text (UTF-8, other bytes read as Latin-1).
std::u32string characters(std::string_view text) {
    std::u32string out;
    for (std::size_t at = 0; at < text.size();) out += next_code_point(text, at);
    return out;
}

std::string utf8_of(std::u32string_view text) {
    std::string out;
    for (char32_t c : text) append_utf8(out, c);
    return out;
}

// The three-letter name of month 1..12 in the report language.
std::string month_name(const ChartTarget& target, int month) {
    if (month < 1 || month > 12) return {};
    return chart_translate(target, kMonthNames.substr(std::size_t(month - 1) * 3, 3));
}

// Names as the tables shorten them: a file by its last path part (a host name
// is cut at its start when too wide, see fit_name).
std::string short_name(std::string_view name, int subject) {
    if (name.substr(0, 7) == "http://") name.remove_prefix(7);
    const bool file_like = subject == kSubjectFiles || subject == kSubjectFailedUrls ||
                           subject == kSubjectNames;
    if (file_like && !name.empty() && name.back() != '/' && name.back() != '\\') {
        const std::size_t slash = name.find_last_of("/\\");
        if (slash != std::string_view::npos && slash + 1 < name.size())
            name.remove_prefix(slash + 1);
    }
    return std::string(name);
}

// A name cut to max_width pixels: host names lose their start (the domain at the
// end tells most), other names their end.
std::string fit_name(const BitmapFont& font, const std::string& name, int subject, int max_width) {
    const bool host_like = (subject == kSubjectHosts || subject == kSubjectDomains) &&
                           !name.empty() && !(name.front() >= '0' && name.front() <= '9');
    if (!host_like || font_string_width(font, name) <= max_width) return fit(font, name, max_width);
    std::u32string rest = characters(name);
    while (rest.size() > 1 && font_string_width(font, "..." + utf8_of(rest)) > max_width)
        rest.erase(0, 1);
    return "..." + utf8_of(rest);
}

// A category name under a vertical bar, with a gap to its neighbours: whole,
// then up to its first space (ranges lose their unit, which the axis title
// gives), each in the label font and then the small one; else its first three,
// two or one characters.
SlotLabel slot_name(std::string_view name, int slot) {
    const int room = slot - 3;
    const std::u32string all = characters(name);
    const std::u32string_view chars(all);
    const std::u32string_view first_word = chars.substr(0, chars.find(U' '));
    for (const std::u32string_view c : {chars, first_word}) {
        const std::string text = utf8_of(c);
        for (const BitmapFont* font : {&label_font(), &small_font()})
            if (font_string_width(*font, text) <= room) return {text, font};
    }
    for (const std::size_t n : {3, 2, 1}) {
        const std::string text = utf8_of(chars.substr(0, n));
        if (font_string_width(small_font(), text) <= room) return {text, &small_font()};
    }
    return {{}, &small_font()};
}

// The names of the drawn items as charts show them (see short_name). Files
// that share their last part show as much more of their path as tells them
// apart: "img/logo.gif" and "shop/logo.gif" rather than "logo.gif" twice.
std::vector<std::string> item_names(const engine::StatList& list, std::span<const int> items,
                                    int subject) {
    std::vector<std::string> names;
    std::vector<std::string_view> full;
    for (const int i : items) {
        std::string_view name = list.Name(i);
        if (name.substr(0, 7) == "http://") name.remove_prefix(7);
        full.push_back(name);
        names.push_back(short_name(name, subject));
    }
    for (bool changed = true; changed;) {
        changed = false;
        // Every name shared this round grows by a part, so that all stay alike in form.
        std::vector<bool> shared(names.size(), false);
        for (std::size_t a = 0; a < names.size(); ++a)
            for (std::size_t b = a + 1; b < names.size(); ++b)
                if (names[a] == names[b]) shared[a] = shared[b] = true;
        for (std::size_t a = 0; a < names.size(); ++a) {
            if (!shared[a] || names[a].size() >= full[a].size()) continue;
            // One more path part: back to the slash before the shown part.
            const std::string_view whole = full[a];
            const std::size_t shown_from = whole.size() - names[a].size();
            const std::size_t slash =
                shown_from >= 2 ? whole.find_last_of("/\\", shown_from - 2) : std::string_view::npos;
            names[a] = std::string(slash == std::string_view::npos ? whole : whole.substr(slash + 1));
            changed = true;
        }
    }
    return names;
}

// Slot index of a time-line item: the day since first_day, or the hour.
int hour_of(std::string_view name) {
    if (name.size() < 2 || name[0] < '0' || name[0] > '9' || name[1] < '0' || name[1] > '9')
        return -1;
    return (name[0] - '0') * 10 + (name[1] - '0');
}

// The Julian day of "MM/DD/YYYY"; 0 when the text is not a date.
double day_of(std::string_view name) {
    if (name.size() < 10) return 0;
    auto num = [&](std::size_t at, std::size_t n) {
        int v = 0;
        for (std::size_t i = at; i < at + n; ++i) {
            if (name[i] < '0' || name[i] > '9') return -1;
            v = v * 10 + (name[i] - '0');
        }
        return v;
    };
    const int m = num(0, 2), d = num(3, 2), y = num(6, 4);
    if (m < 1 || m > 12 || d < 1 || d > 31 || y < 1900) return 0;
    return JulianDate(y, m, d);
}

// The 3D day charts draw their own stage instead of the plot area and scale.
bool on_stage(int kind) { return kind == kStackedHistory || kind == kHistory || kind == kComparison; }

// ---- frame, plot area, titles, scale ------------------------------------------

void draw_frame(Drawing& d) {
    Canvas& c = d.canvas;
    const int w = c.width(), h = c.height();
    if (d.spec.kind == kHorizontalBars) {
        canvas_filled_rectangle(c, 0, 0, w - 1, h - 1, canvas_color_closest(c, 0xDD, 0xDD, 0xDD));
    } else if (on_stage(d.spec.kind)) {
        canvas_filled_rectangle(c, 0, 0, w - 1, h - 1, d.palette.plot_background);
    } else {
        for (int k = 0; k < 32; ++k) {
            const int colour = canvas_color_allocate_packed(
                c, color_scale(100 - (k / 32.0 - 0.5) * 15, 0xE0E0E0));
            canvas_filled_rectangle(c, 0, k * h / 32, w - 1, (k + 1) * h / 32, colour);
        }
    }
    const Palette& p = d.palette;
    canvas_rectangle(c, 0, 0, w - 1, h - 1, p.black);
    for (int i = 1; i <= 2; ++i) {
        canvas_line(c, i, i, w - 1 - i, i, p.white);
        canvas_line(c, i, i, i, h - 1 - i, p.white);
        canvas_line(c, i, h - 1 - i, w - 1 - i, h - 1 - i, p.grey);
        canvas_line(c, w - 1 - i, i, w - 1 - i, h - 1 - i, p.grey);
    }
}

void draw_plot_area(Drawing& d) {
    const ChartSpec& s = d.spec;
    Canvas& c = d.canvas;
    if (s.kind == kPie) {
        // The pie stands in a framed box; the value title goes on its bottom.
        canvas_bar_flat(c, 16, 51, s.width - 40, 285, d.palette.white, d.palette.light,
                        d.palette.grey);
        return;
    }
    if (on_stage(s.kind)) return;
    const Plot& p = d.plot;
    if (c.web_palette) {
        canvas_filled_rectangle(c, p.x, p.y, p.x + p.w, p.bottom(), d.palette.plot);
        return;
    }
    for (int k = 0; k < 64; ++k) {
        const int colour =
            canvas_color_allocate_packed(c, color_scale(100 - (k / 64.0 - 0.5) * 60, s.color4));
        canvas_filled_rectangle(c, p.x, p.y + k * p.h / 64, p.x + p.w, p.y + (k + 1) * p.h / 64,
                                colour);
    }
}

void draw_titles(Drawing& d) {
    const ChartSpec& s = d.spec;
    Canvas& c = d.canvas;
    const int black = d.palette.black;
    const std::string value_title =
        chart_translate(d.target, chart_axis_title(s.value_kind, s.kind, d.maximum));
    const std::string category = chart_translate(d.target, s.category_title);
    if (s.kind == kPie) {
        text_centred(c, label_font(), 16 + (s.width - 40) / 2, 51 + 285 - 16, value_title, black);
    } else if (on_stage(s.kind)) {
        // The wall carries the scale; the axes need no titles.
    } else {
        const std::string& under = s.kind == kHorizontalBars ? value_title : category;
        const std::string& upward = s.kind == kHorizontalBars ? category : value_title;
        const int centre = d.plot.x + d.plot.w / 2;
        text_centred(c, label_font(), centre, s.height - s.top / 2,
                     fit(label_font(), under, s.width - 8), black);
        const std::string up = fit(label_font(), upward, s.height - 8);
        font_string_up(c, label_font(), 5, s.height / 2 + font_string_width(label_font(), up) / 2,
                       up, black);
    }
    const int title_room = s.width - 8 - (s.title_x ? s.title_x - 4 : 0);
    const std::string title = fit(title_font(), chart_translate(d.target, s.title), title_room);
    const int tx = s.title_x ? s.title_x : (s.width - font_string_width(title_font(), title)) / 2;
    const int ty = s.title_y ? s.title_y : s.top / 4;
    text(c, title_font(), tx, ty, title, on_stage(s.kind) ? d.palette.white : black);
}

void set_dotted(Canvas& c, int colour) {
    const std::array<int, 2> on_off = {colour, STYLE_SKIP};
    canvas_set_style(c, on_off);
}

// Tells the target's observer the labels of a scale, lowest first.
void report_scale(const Drawing& d, const ChartScale& scale) {
    if (!d.target.scale_drawn) return;
    std::vector<std::string> labels;
    for (int k = 1; k <= scale.steps; ++k) labels.push_back(scale.label(k));
    d.target.scale_drawn(d.spec, labels);
}

void draw_scale(Drawing& d) {
    const ChartSpec& s = d.spec;
    if (s.kind == kPie || on_stage(s.kind)) return;
    Canvas& c = d.canvas;
    const Plot& p = d.plot;
    const Palette& pal = d.palette;
    set_dotted(c, pal.grey);
    const int steps = d.scale.steps;
    if (s.show_scale) report_scale(d, d.scale);
    if (s.kind == kHorizontalBars) {
        for (int k = steps; k >= 1; --k) {
            const int x = p.x + p.w * k / steps;
            if (s.show_scale)
                text_right(c, label_font(), x, p.bottom() + 4, d.scale.label(k), pal.black);
            if (s.ticks_x) canvas_line(c, x, p.bottom(), x, p.bottom() + 3, pal.black);
            if (s.grid_x) canvas_dotted_line(c, x, p.y, x, p.bottom(), STYLED);
        }
        return;
    }
    for (int k = steps; k >= 1; --k) {
        const int y = p.y + p.h * (steps - k) / steps;
        if (s.show_scale) text_right(c, label_font(), p.x - 5, y - 3, d.scale.label(k), pal.black);
        if (s.ticks_y) canvas_line(c, p.x - 4, y, p.x - 1, y, pal.black);
        if (s.grid_y) canvas_dotted_line(c, p.x, y, p.x + p.w, y, STYLED);
    }
    canvas_line(c, p.x, p.y, p.x, p.bottom(), pal.black);
    canvas_line(c, p.x, p.bottom(), p.x + p.w, p.bottom(), pal.black);
}

// Category ticks along the bottom of a vertical chart, `slots` slots wide (or
// points, for a time line), never closer than 4 pixels.
void draw_category_ticks(Drawing& d, int slots, bool points) {
    if (!d.spec.ticks_x || slots <= 0) return;
    const Plot& p = d.plot;
    int previous = -100;
    for (int i = 0; i <= slots; ++i) {
        const int x = p.x + p.w * i / slots;
        if (x - previous < 4) continue;
        previous = x;
        canvas_line(d.canvas, x, p.bottom(), x, p.bottom() + (points ? 2 : 4), d.palette.black);
    }
}

// ---- the kinds ----------------------------------------------------------------

// A 3D or flat vertical bar standing on `bottom`.
void vertical_bar(Drawing& d, int x, int bottom, int w, int h, int top, int face, int side) {
    Canvas& c = d.canvas;
    if (h <= 0) return;
    if (!d.target.three_d) {
        canvas_bar_flat(c, x, bottom - h, w, h, top, face, side);
    } else if (c.web_palette) {
        canvas_bar_3d_vertical(c, x, bottom - h, w, h, top, face, side, d.spec.depth);
    } else {
        canvas_bar_shaded_vertical(c, x, bottom - h, w, h, top, face, side, d.spec.depth);
    }
}

void draw_vertical_bars(Drawing& d) {
    const ChartSpec& s = d.spec;
    const engine::StatList& list = *s.list;
    const Plot& p = d.plot;
    const int slots = std::max(1, s.x_divisions);
    const int slot = p.w / slots;
    const int bar = (slot >= 7 ? slot - 4 : 3) - s.bar_gap;
    draw_category_ticks(d, slots, false);
    int previous_year = -1;
    for (std::size_t n = 0; n < d.items.size(); ++n) {
        const int i = d.items[n];
        const int place = d.slots[n];
        if (place >= slots) continue;
        const int x = p.x + place * p.w / slots + 1;
        const double v = chart_item_value(list, i, s.value_kind);
        const int h = static_cast<int>(p.h * (v / d.top));
        vertical_bar(d, x, p.bottom(), std::max(1, bar), h, d.palette.c1, d.palette.c2,
                     d.palette.c3);
        if (!s.show_categories) continue;
        const std::string_view name = list.Name(i);
        const int centre = x + std::max(1, bar) / 2;
        if (s.subject == kSubjectMonths && name.size() >= 7) {
            // "MM/YYYY": the month's name, and the year where it changes.
            const int month = (name[0] - '0') * 10 + (name[1] - '0');
            if (month >= 1 && month <= 12) {
                const SlotLabel label = slot_name(month_name(d.target, month), slot);
                text_centred(d.canvas, *label.font, centre, p.bottom() + 5, label.text,
                             d.palette.black);
            }
            const int year = std::atoi(std::string(name.substr(3, 4)).c_str());
            if (year != previous_year)
                text_centred(d.canvas, small_font(), centre, p.bottom() + 17,
                             std::to_string(year), d.palette.black);
            previous_year = year;
        } else {
            // Weekday names are the program's words, in the report language.
            const std::string shown = s.subject == kSubjectWeekdays
                                          ? chart_translate(d.target, name)
                                          : short_name(name, s.subject);
            const SlotLabel label = slot_name(shown, slot);
            text_centred(d.canvas, *label.font, centre, p.bottom() + 5, label.text, d.palette.black);
        }
    }
}

void draw_horizontal_bars(Drawing& d) {
    const ChartSpec& s = d.spec;
    const engine::StatList& list = *s.list;
    const Plot& p = d.plot;
    Canvas& c = d.canvas;
    const int slots = std::max(1, s.y_divisions);
    const int slot = p.h / slots;
    const int thickness = std::max(1, slot - 4);
    const int label = canvas_color_allocate_packed(c, s.label_color);
    const std::vector<std::string> names = item_names(list, d.items, s.subject);
    for (std::size_t n = 0; n < d.items.size(); ++n) {
        const int i = d.items[n];
        const int place = d.slots[n];
        if (place >= slots) break;
        const int y = p.y + place * slot + 2;
        const double v = chart_item_value(list, i, s.value_kind);
        const int length = static_cast<int>(p.w * (v / d.top));
        const int x = p.x + 1;
        if (length > 0) {
            if (!d.target.three_d) {
                canvas_bar_flat(c, x, y, length, thickness, d.palette.c1, d.palette.c2,
                                d.palette.c3);
            } else if (c.web_palette) {
                canvas_bar_3d_horizontal(c, x, y + s.depth, length, thickness - s.depth,
                                         d.palette.c1, d.palette.c2, d.palette.c3, s.depth);
            } else {
                canvas_bar_shaded_horizontal(c, x, y + s.depth, length, thickness - s.depth,
                                             d.palette.c1, d.palette.c2, d.palette.c3, s.depth);
            }
        }
        const int text_y = y + thickness / 2 - 6;
        if (s.show_categories) {
            const std::string name = fit_name(label_font(), names[n], s.subject, s.left - 30);
            if (s.labels_outside)
                text_right(c, label_font(), p.x - 4, text_y, name, d.palette.black);
            else
                text(c, label_font(), p.x + 4, text_y, name, label);
        }
        if (s.show_values) {
            const std::string value = chart_value_text(s.value_kind, d.maximum, v);
            if (length > p.w * 9 / 10)
                text_right(c, label_font(), x + length - 3, text_y, value, d.palette.black);
            else
                text(c, label_font(), x + length + s.depth + 3, text_y, value, d.palette.white);
        }
    }
}

// The time line's legend at the top right. Longer (translated) names move it
// left, as far as the title allows; what still does not fit is shortened.
void draw_time_line_legend(Drawing& d) {
    const std::array<std::pair<std::string_view, int>, 3> entries = {{
        {"Traffic", d.palette.black}, {"Average", d.palette.yellow}, {"Errors", d.palette.red}}};
    const ChartSpec& s = d.spec;
    std::array<std::string, 3> names;
    int widest = 0;
    for (std::size_t k = 0; k < entries.size(); ++k) {
        names[k] = chart_translate(d.target, entries[k].first);
        widest = std::max(widest, font_string_width(label_font(), names[k]));
    }
    const std::string title = chart_translate(d.target, s.title);
    const int title_right = s.title_x ? s.title_x + font_string_width(title_font(), title)
                                      : (s.width + font_string_width(title_font(), title)) / 2;
    const int x = std::clamp(s.width - 8 - 26 - widest, std::min(title_right + 6, s.width - 90),
                             s.width - 90);
    int y = 10;
    for (std::size_t k = 0; k < entries.size(); ++k) {
        canvas_filled_rectangle(d.canvas, x, y + 5, x + 22, y + 7, entries[k].second);
        text(d.canvas, label_font(), x + 26, y, fit(label_font(), names[k], s.width - 8 - (x + 26)),
             d.palette.black);
        y += 13;
    }
}

// Labels of a daily axis: day of the month, month and year where they change.
void draw_day_axis(Drawing& d, int slots) {
    const Plot& p = d.plot;
    const double width = static_cast<double>(p.w) / std::max(1, slots);
    int previous_month = -1, previous_year = -1;
    for (int i = 0; i <= slots; ++i) {
        const int x = p.x + static_cast<int>(i * width);
        const CalendarTime t = CalendarFromJulian(d.spec.first_day + i + 0.5);
        canvas_line(d.canvas, x, p.bottom(), x, p.bottom() + 1, d.palette.black);
        int row = p.bottom() + 4;
        if (width > 15) {
            text_centred(d.canvas, small_font(), x, row, std::to_string(t.day), d.palette.black);
        }
        row += 12;
        if (width > 0.58 && t.month != previous_month) {
            text(d.canvas, small_font(), x, row, month_name(d.target, t.month), d.palette.black);
        }
        row += 12;
        if (width > 0.066 && t.year != previous_year) {
            text(d.canvas, small_font(), x, row, std::to_string(t.year), d.palette.black);
        }
        previous_month = t.month;
        previous_year = t.year;
    }
}

void draw_time_line(Drawing& d) {
    const ChartSpec& s = d.spec;
    const engine::StatList& list = *s.list;
    const Plot& p = d.plot;
    Canvas& c = d.canvas;
    const bool daily = s.subject == kSubjectDays;
    const int slots = std::max(1, s.x_divisions);
    // Values and errors per point, zero where the list has no item.
    std::vector<double> values(static_cast<std::size_t>(slots) + 1, 0.0);
    std::vector<double> errors(values.size(), 0.0);
    double error_max = 1;
    for (int i = 0; i < list.Count(); ++i) {
        int at;
        if (daily) {
            const double day = day_of(list.Name(i));
            if (day < 2440000 || day > 3000000) continue;
            at = static_cast<int>(std::lround(day - s.first_day));
        } else {
            at = hour_of(list.Name(i));
        }
        if (at < 0 || at > slots) continue;
        values[std::size_t(at)] += chart_item_value(list, i, s.value_kind);
        errors[std::size_t(at)] += list.Errors(i);
        error_max = std::max(error_max, static_cast<double>(list.Req(i)));
    }
    // Errors are a count: on a bytes chart they are drawn against the requests.
    const double error_scale =
        s.value_kind == kValueRequests || s.value_kind == kValueErrors ? d.top : error_max;
    auto x_at = [&](int i) { return p.x + static_cast<int>(static_cast<long long>(p.w) * i / slots); };
    auto y_for = [&](double v, double max) {
        return p.bottom() - static_cast<int>(p.h * std::min(1.0, v / max));
    };
    // The blue band fills under the traffic line; the average runs over the days
    // (or hours) so far, empty ones included.
    double sum = 0;
    int counted = 0;
    int previous_x = 0, previous_y = 0, previous_avg = 0, previous_err = 0;
    bool have_previous = false;
    for (int i = 0; i <= slots; ++i) {
        sum += values[std::size_t(i)];
        ++counted;
        const int x = x_at(i);
        const int y = y_for(values[std::size_t(i)], d.top);
        const int avg = y_for(sum / counted, d.top);
        const int err = y_for(errors[std::size_t(i)], error_scale);
        if (have_previous) {
            const std::array<Point, 4> band = {
                Point{previous_x, previous_y}, Point{x, y}, Point{x, p.bottom()},
                Point{previous_x, p.bottom()}};
            canvas_filled_polygon(c, band, d.palette.blue);
            canvas_line(c, previous_x, previous_y, x, y, d.palette.black);
            canvas_line(c, previous_x, previous_avg, x, avg, d.palette.yellow);
            canvas_line(c, previous_x, previous_err, x, err, d.palette.red);
        } else if (slots == 0) {
            canvas_line(c, x, y, x, p.bottom(), d.palette.blue);
        }
        previous_x = x;
        previous_y = y;
        previous_avg = avg;
        previous_err = err;
        have_previous = true;
    }
    if (daily) {
        draw_day_axis(d, slots);
    } else {
        draw_category_ticks(d, slots, true);
        if (s.show_categories) {
            int previous = -100;
            for (int i = 0; i <= slots; ++i) {
                const int x = x_at(i);
                if (x - previous < 16) continue;
                previous = x;
                text_centred(c, small_font(), x, p.bottom() + 5, std::to_string(i),
                             d.palette.black);
            }
        }
    }
    if (s.show_legend) draw_time_line_legend(d);
}

void draw_pie(Drawing& d) {
    const ChartSpec& s = d.spec;
    const engine::StatList& list = *s.list;
    Canvas& c = d.canvas;
    const int cx = s.width - 175, cy = s.height - 155, radius = 130;
    double total = 0;
    for (int i = 0; i < list.Count(); ++i) total += chart_item_value(list, i, s.value_kind);
    if (total <= 0) return;
    const int name_x = 52;
    double angle = 0;
    int k = 0;
    auto legend = [&](int face, std::string_view name) {
        const int y = 15 * k + 58;
        canvas_filled_rectangle(c, 38, y + 2, 47, y + 10, face);
        canvas_rectangle(c, 38, y + 2, 47, y + 10, d.palette.black);
        // Entries above the pie's rim may run across the box; the others stop
        // short of the pie, in the small font when the label font does not fit.
        const bool above_pie = y + 12 < cy - radius / 2;
        const int room = std::max(10, (above_pie ? s.width - 30 : cx - radius - 6) - name_x);
        const std::string text_name(name);
        const BitmapFont& font =
            font_string_width(label_font(), text_name) <= room ? label_font() : small_font();
        text(c, font, name_x, &font == &label_font() ? y : y + 1, fit(font, text_name, room),
             d.palette.black);
    };
    for (std::size_t n = 0; n < d.items.size(); ++n) {
        const int i = d.items[n];
        const double share = chart_item_value(list, i, s.value_kind) * 100 / total;
        if (share <= 1) continue;
        const double end = std::min(360.0, angle + share * 3.6);
        // The colour of the item's place in the list: the table beside the
        // chart shades its rows in the same colours.
        const auto& colour = d.palette.item[n % 10];
        canvas_pie_slice_3d(c, cx, cy, radius, static_cast<int>(angle), static_cast<int>(end),
                            colour[1], colour[2]);
        legend(colour[1], short_name(list.Name(i), s.subject));
        angle = end;
        ++k;
    }
    if (angle < 359) {
        canvas_pie_slice_3d(c, cx, cy, radius, static_cast<int>(angle), 360, d.palette.grey,
                            d.palette.black);
        legend(d.palette.grey, chart_translate(d.target, "Other"));
    }
}

// A browser's bytes or requests from systems of a family (its records are keyed
// by family); 0 when it has none.
double family_value(const engine::StatList& list, int index, int family, int value_kind) {
    if (value_kind == kValueBytes)
        return static_cast<double>(std::max<std::int64_t>(0, list.TimeRecSumFor(index, family)));
    return std::max(0, list.TimeRecCountFor(index, family));
}

// Browsers along the axis, one bar per system family in each browser's slot.
void draw_browser_vs_os(Drawing& d) {
    const ChartSpec& s = d.spec;
    const engine::StatList& list = *s.list;
    Canvas& c = d.canvas;
    // The legend takes the plot's right end; the browsers share the rest.
    Plot p = d.plot;
    p.w = std::max(1, p.w - 80);
    const int slots = std::max(1, s.x_divisions);
    const int slot = p.w / slots;
    const int families = static_cast<int>(kFamilyNames.size());
    const int bar = std::max(2, (slot - 6) / families - 1);
    for (std::size_t n = 0; n < d.items.size(); ++n) {
        const int i = d.items[n];
        const int place = d.slots[n];
        if (place >= slots) break;
        const int x0 = p.x + place * p.w / slots + 2;
        for (int f = 0; f < families; ++f) {
            const double v = family_value(list, i, f + 1, s.value_kind);
            const int h = static_cast<int>(p.h * (v / d.top));
            const auto& colour = d.palette.item[std::size_t(f * 2 % 10)];
            if (h > 0)
                vertical_bar(d, x0 + f * (bar + 1), p.bottom(), bar, h, colour[0], colour[1],
                             colour[2]);
        }
        if (s.show_categories) {
            // The browser's name, and its version below in the small font.
            const std::string_view name = list.Name(i);
            const std::size_t space = name.find(' ');
            const int centre = x0 + slot / 2 - 2;
            text_centred(c, label_font(), centre, p.bottom() + 5,
                         fit(label_font(), std::string(name.substr(0, space)), slot - 2),
                         d.palette.black);
            if (space != std::string_view::npos)
                text_centred(c, small_font(), centre, p.bottom() + 17,
                             fit(small_font(), std::string(name.substr(space + 1)), slot - 2),
                             d.palette.black);
        }
    }
    draw_category_ticks(d, 0, false);
    const int lx = s.width - 80;
    for (int f = 0; f < families; ++f) {
        const int y = s.top + 13 + 13 * f;
        const auto& colour = d.palette.item[std::size_t(f * 2 % 10)];
        canvas_filled_rectangle(c, lx, y, lx + 8, y + 8, colour[1]);
        canvas_rectangle(c, lx, y, lx + 8, y + 8, d.palette.black);
        text(c, small_font(), s.width - 67, y - 2,
             fit(small_font(), chart_translate(d.target, kFamilyNames[std::size_t(f)]), 62),
             d.palette.white);
    }
}


// The history chart: one 3D band per item over the days, rows stepping back
// and up in oblique projection on a floor with a back wall.
constexpr int kHistoryHeight = 130;   // the tallest band
constexpr int kHistoryRowX = 10;      // each row further back moves right...
constexpr int kHistoryRowY = 14;      // ...and up

// The scale of a 3D chart's wall: up to four steps.
ChartScale wall_scale(double largest, int value_kind) { return chart_scale(value_kind, largest, 4); }

// Scale labels drawn over whatever stands in front of the wall, each on a patch
// of the background so that no band hides it.
void wall_label(Drawing& d, int right, int y, const std::string& label) {
    const int w = font_string_width(small_font(), label);
    canvas_filled_rectangle(d.canvas, right - w - 1, y, right, y + 11, d.palette.plot_background);
    text_right(d.canvas, small_font(), right, y, label, d.palette.white);
}

double day_value(const engine::StatList& list, int index, int key, int value_kind) {
    if (value_kind == kValueBytes)
        return static_cast<double>(std::max<std::int64_t>(0, list.TimeRecSumFor(index, key)));
    return std::max(0, list.TimeRecCountFor(index, key));
}

// The day key of the records (the day number of the hit's date).
int first_day_key(double first_day) { return static_cast<int>(first_day + 0.5); }

void draw_history(Drawing& d) {
    const ChartSpec& s = d.spec;
    const engine::StatList& list = *s.list;
    Canvas& c = d.canvas;
    const int rows = static_cast<int>(d.items.size());
    if (rows == 0) return;
    const std::vector<std::string> names = item_names(list, d.items, s.subject);
    const int days = std::max(1, s.x_divisions + 1);
    const int key0 = first_day_key(s.first_day);
    const int base = s.height - 40;
    const int back = rows - 1;
    // Room at the right for the names of the rows.
    const int span = std::max(20, s.width - s.left - 20 - back * kHistoryRowX - 110);
    const int floor_top = base - rows * kHistoryRowY;
    double maximum = 1;
    for (const int i : d.items)
        for (int day = 0; day < days; ++day)
            maximum = std::max(maximum, day_value(list, i, key0 + day, s.value_kind));
    // Floor and back wall.
    const std::array<Point, 4> floor = {
        Point{s.left, base + 4}, Point{s.left + span, base + 4},
        Point{s.left + span + rows * kHistoryRowX, floor_top},
        Point{s.left + rows * kHistoryRowX, floor_top}};
    canvas_filled_polygon(c, floor, d.palette.plot);
    canvas_polygon(c, floor, d.palette.c1);
    const int wall_x = s.left + rows * kHistoryRowX;
    canvas_filled_rectangle(c, wall_x, floor_top - kHistoryHeight, wall_x + span, floor_top,
                            d.palette.c1);
    set_dotted(c, d.palette.c2);
    const ChartScale scale = wall_scale(maximum, s.value_kind);
    report_scale(d, scale);
    maximum = scale.top();
    for (int k = 1; k <= scale.steps; ++k) {
        const int y = floor_top - kHistoryHeight * k / scale.steps;
        canvas_dotted_line(c, wall_x, y, wall_x + span, y, STYLED);
    }
    auto x_at = [&](int row, int day) {
        return s.left + row * kHistoryRowX + (days > 1 ? span * day / (days - 1) : span / 2);
    };
    // Back to front, so that nearer rows cover farther ones.
    // The largest item stands at the back, where the wall's scale is, and the
    // smaller ones in front of it stay visible.
    for (int row = back; row >= 0; --row) {
        const int i = d.items[std::size_t(back - row)];
        const auto& colour = d.palette.item[std::size_t(row % 10)];
        const int row_base = base - row * kHistoryRowY;
        std::vector<Point> band;
        band.reserve(static_cast<std::size_t>(days) + 2);
        for (int day = 0; day < days; ++day) {
            const double v = day_value(list, i, key0 + day, s.value_kind);
            band.push_back({x_at(row, day), row_base - static_cast<int>(kHistoryHeight * v / maximum)});
        }
        if (days == 1) band.push_back({band.back().x + 4, band.back().y});
        band.push_back({band.back().x, row_base});
        band.push_back({band.front().x, row_base});
        // A darker copy behind gives the band its thickness.
        std::vector<Point> behind = band;
        for (Point& pt : behind) {
            pt.x += kHistoryRowX / 2;
            pt.y -= kHistoryRowY / 2;
        }
        canvas_filled_polygon(c, behind, colour[2]);
        canvas_filled_polygon(c, band, colour[1]);
        for (std::size_t k = 0; k + 3 < band.size(); ++k)
            canvas_line(c, band[k].x, band[k].y, band[k + 1].x, band[k + 1].y, colour[0]);
        canvas_line(c, band.front().x, row_base, band[band.size() - 2].x, row_base, colour[2]);
        const std::string name = fit(small_font(), names[std::size_t(back - row)], 100);
        text(c, small_font(), x_at(row, days - 1) + 8, row_base - 10, name, d.palette.white);
    }
    for (int k = 1; k <= scale.steps; ++k)
        wall_label(d, wall_x - 2, floor_top - kHistoryHeight * k / scale.steps - 6, scale.label(k));
    // Days along the front edge: the first and the last.
    const CalendarTime first = CalendarFromJulian(s.first_day + 0.5);
    const CalendarTime last = CalendarFromJulian(s.first_day + days - 1 + 0.5);
    auto day_text = [&d](const CalendarTime& t) {
        return month_name(d.target, t.month) + " " + std::to_string(t.day);
    };
    text(c, small_font(), s.left, base + 8, day_text(first), d.palette.white);
    text_right(c, small_font(), s.left + span, base + 8, day_text(last), d.palette.white);
}


// ---- the 3D day charts: stacked history (kind 4) and report comparison (kind 7)
//
// Both stand on one stage in oblique projection: a floor `depth` pixels deep
// whose far edge lies `depth` pixels up and a quarter of that to the right, a
// back wall and a left wall 130 pixels high carrying the value scale, and the
// first and last day along the front edge. Series are bands standing on the
// floor at their depth, a darker copy behind each giving it its thickness.

constexpr int kStageHeight = 130;      // the wall, and the tallest band (1.5 times on
                                       // the taller canvas of wider charts)
constexpr int kStageRowDepth = 14;     // comparison: the floor depth of one report
constexpr int kStageNameRoom = 110;    // names or legend at the right
constexpr int kStageMinDepth = 48;     // so that the left wall stays visible
constexpr int kStackDepth = 48;        // stacked history: the floor depth
constexpr int kStackThickness = 14;    // ...and the thickness of the stack
// The most days a stage draws: every report or item keeps a value per day.
constexpr int kStageMaxDays = 366;

int stage_days(const ChartSpec& s) { return std::clamp(s.x_divisions, 0, kStageMaxDays - 1) + 1; }

struct Stage {
    int left = 0, base = 0, span = 1, depth = 0, days = 1;
    int height = kStageHeight;

    int skew(int z) const { return z / 4; }
    // The point of day slot `day` (0..days-1) at depth z, h pixels above the floor.
    // A single day spans the floor: slot 0 at its left, "slot 1" at its right.
    Point at(int day, int z, int h) const {
        const int along = days > 1 ? static_cast<int>(static_cast<long long>(span) * day / (days - 1))
                                   : (day > 0 ? span : 0);
        return {left + skew(z) + along, base - z - h};
    }
    int height_of(double value, double maximum) const {
        return static_cast<int>(height * std::clamp(value / maximum, 0.0, 1.0));
    }
};

std::string day_text(const ChartTarget& target, double julian_midnight) {
    const CalendarTime t = CalendarFromJulian(julian_midnight + 0.5);
    if (t.month < 1 || t.month > 12) return {};
    return month_name(target, t.month) + " " + std::to_string(t.day) + " " +
           std::to_string(t.year);
}

void draw_stage(Drawing& d, const Stage& st, const ChartScale& scale) {
    Canvas& c = d.canvas;
    const ChartSpec& s = d.spec;
    const Palette& p = d.palette;
    const int back = st.depth;
    const std::array<Point, 4> floor = {st.at(0, 0, 0), Point{st.left + st.span, st.base},
                                        Point{st.left + st.skew(back) + st.span, st.base - back},
                                        st.at(0, back, 0)};
    canvas_filled_polygon(c, floor, p.plot);
    canvas_polygon(c, floor, p.c1);
    const Point wall = st.at(0, back, 0);
    canvas_filled_rectangle(c, wall.x, wall.y - st.height, wall.x + st.span, wall.y, p.c1);
    const std::array<Point, 4> side = {st.at(0, 0, 0), st.at(0, 0, st.height),
                                       st.at(0, back, st.height), st.at(0, back, 0)};
    canvas_filled_polygon(c, side, canvas_color_allocate_packed(c, color_scale(80, s.color1)));
    canvas_polygon(c, side, p.grey);
    canvas_line(c, wall.x, wall.y - st.height, wall.x + st.span, wall.y - st.height, p.grey);
    canvas_line(c, wall.x + st.span, wall.y - st.height, wall.x + st.span, wall.y, p.grey);
    set_dotted(c, p.c2);
    report_scale(d, scale);
    for (int k = 1; k <= scale.steps; ++k) {
        const int h = st.height * k / scale.steps;
        const Point front = st.at(0, 0, h), corner = st.at(0, back, h);
        canvas_dotted_line(c, front.x, front.y, corner.x, corner.y, STYLED);
        canvas_dotted_line(c, corner.x, corner.y, corner.x + st.span, corner.y, STYLED);
        wall_label(d, front.x - 3, front.y - 4, scale.label(k));
    }
    text(c, small_font(), st.left, st.base + 8, day_text(d.target, s.first_day), p.white);
    if (st.days > 1)
        text_right(c, small_font(), st.left + st.span, st.base + 8,
                   day_text(d.target, s.first_day + st.days - 1), p.white);
}

// One band at depth z: the values of the days as its top edge.
void draw_band(Drawing& d, const Stage& st, int z, int thickness, std::span<const int> heights,
               int light, int face, int dark) {
    if (heights.empty()) return;
    Canvas& c = d.canvas;
    std::vector<Point> band;
    band.reserve(heights.size() + 3);
    for (std::size_t day = 0; day < heights.size(); ++day)
        band.push_back(st.at(static_cast<int>(day), z, heights[day]));
    if (st.days == 1) band.push_back(st.at(1, z, heights.empty() ? 0 : heights[0]));
    band.push_back({band.back().x, st.base - z});
    band.push_back({band.front().x, st.base - z});
    std::vector<Point> behind = band;
    for (Point& pt : behind) {
        pt.x += st.skew(thickness);
        pt.y -= thickness;
    }
    canvas_filled_polygon(c, behind, dark);
    canvas_filled_polygon(c, band, face);
    for (std::size_t k = 0; k + 3 < band.size(); ++k)
        canvas_line(c, band[k].x, band[k].y, band[k + 1].x, band[k + 1].y, light);
}

// A layer of the stack: the part of the band between the cumulative heights
// below and above it, front face and top.
void draw_layer(Drawing& d, const Stage& st, std::span<const int> below, std::span<const int> above,
                int light, int face, int dark) {
    Canvas& c = d.canvas;
    const int z = 10;
    auto edge = [&](std::span<const int> heights, int depth, std::vector<Point>& out, bool reverse) {
        const int n = static_cast<int>(heights.size());
        const int slots = st.days == 1 ? 2 : n;
        for (int k = 0; k < slots; ++k) {
            const int day = reverse ? slots - 1 - k : k;
            out.push_back(st.at(day, depth, heights[std::size_t(std::min(day, n - 1))]));
        }
    };
    // The right end, then the top (lit from above): the upper edge at the front
    // and at the back of the stack.
    const int last = st.days == 1 ? 1 : st.days - 1;
    const int low = below.back(), high = above.back();
    const std::array<Point, 4> side = {st.at(last, z, low), st.at(last, z, high),
                                       st.at(last, z + kStackThickness, high),
                                       st.at(last, z + kStackThickness, low)};
    canvas_filled_polygon(c, side, dark);
    std::vector<Point> top;
    edge(above, z, top, false);
    edge(above, z + kStackThickness, top, true);
    canvas_filled_polygon(c, top, light);
    std::vector<Point> front;
    edge(above, z, front, false);
    edge(below, z, front, true);
    canvas_filled_polygon(c, front, face);
    const std::size_t n = front.size() / 2;
    for (std::size_t k = 0; k + 1 < n; ++k)
        canvas_line(c, front[k].x, front[k].y, front[k + 1].x, front[k + 1].y, dark);
}

// Kind 4: the items' day values stacked one on the other, the largest item at
// the bottom, with a legend at the right.
void draw_stacked_history(Drawing& d) {
    const ChartSpec& s = d.spec;
    const engine::StatList& list = *s.list;
    const int days = stage_days(s);
    const int key0 = first_day_key(s.first_day);
    Stage st;
    st.left = s.left;
    st.base = s.height - 40;
    st.height = kStageHeight * std::max(350, s.height) / 350;
    st.depth = kStackDepth;
    st.days = days;
    st.span = std::max(20, s.width - s.left - 20 - st.skew(st.depth) - kStageNameRoom);
    std::vector<double> totals(std::size_t(days), 0.0);
    std::vector<std::vector<double>> values;
    values.reserve(d.items.size());
    for (const int i : d.items) {
        std::vector<double>& v = values.emplace_back(std::size_t(days));
        for (int day = 0; day < days; ++day) {
            v[std::size_t(day)] = day_value(list, i, key0 + day, s.value_kind);
            totals[std::size_t(day)] += v[std::size_t(day)];
        }
    }
    double largest = 0;
    for (const double t : totals) largest = std::max(largest, t);
    const ChartScale scale = wall_scale(largest, s.value_kind);
    const double maximum = scale.top();
    draw_stage(d, st, scale);
    std::vector<double> running(std::size_t(days), 0.0);
    std::vector<int> below(std::size_t(days), 0), above(std::size_t(days), 0);
    for (std::size_t n = 0; n < values.size(); ++n) {
        for (int day = 0; day < days; ++day) {
            running[std::size_t(day)] += values[n][std::size_t(day)];
            above[std::size_t(day)] = st.height_of(running[std::size_t(day)], maximum);
        }
        const auto& colour = d.palette.item[n % 10];
        draw_layer(d, st, below, above, colour[0], colour[1], colour[2]);
        below = above;
        // Legend, the bottom layer first.
        const int y = st.base - kStackDepth - st.height + 13 * static_cast<int>(n);
        const int x = s.width - kStageNameRoom + 4;
        canvas_filled_rectangle(d.canvas, x, y + 2, x + 8, y + 10, colour[1]);
        canvas_rectangle(d.canvas, x, y + 2, x + 8, y + 10, d.palette.black);
        text(d.canvas, small_font(), x + 13, y + 2,
             fit(small_font(), short_name(list.Name(d.items[n]), s.subject), kStageNameRoom - 20),
             d.palette.white);
    }
}

// The daily value of each report on the comparison's days, from its date list.
std::vector<double> report_days(const engine::ReportStats& r, double first_day, int days,
                                int value_kind) {
    std::vector<double> v(std::size_t(days), 0.0);
    if (!r.date) return v;
    const engine::StatList& dates = *r.date;
    for (int i = 0; i < dates.Count(); ++i) {
        const double day = day_of(dates.Name(i));
        if (day <= 0) continue;
        const double at = std::round(day - first_day);
        if (at < 0 || at >= days) continue;
        v[std::size_t(at)] += chart_item_value(dates, i, value_kind);
    }
    return v;
}

// Kind 7: one band per report (the largest max_items by their total over the
// days, the largest at the back), named at its right end.
void draw_comparison(Drawing& d) {
    const ChartSpec& s = d.spec;
    const int days = stage_days(s);
    struct Series {
        const engine::ReportStats* report;
        std::vector<double> values;
        double total = 0;
    };
    std::vector<Series> series;
    for (const engine::ReportStats* r : s.reports) {
        if (!r) continue;
        Series one{r, report_days(*r, s.first_day, days, s.value_kind), 0};
        for (const double v : one.values) one.total += v;
        series.push_back(std::move(one));
    }
    // Largest first; equal totals keep the reports' order.
    std::stable_sort(series.begin(), series.end(),
                     [](const Series& a, const Series& b) { return a.total > b.total; });
    const std::size_t rows =
        std::min(series.size(), s.max_items > 0 ? std::size_t(s.max_items) : series.size());
    series.resize(rows);
    double largest = 0;
    for (const Series& one : series)
        for (const double v : one.values) largest = std::max(largest, v);
    const ChartScale scale = wall_scale(largest, s.value_kind);
    const double maximum = scale.top();
    Stage st;
    st.left = s.left;
    st.base = s.height - 40;
    st.height = kStageHeight * std::max(350, s.height) / 350;
    st.depth = std::max(kStageMinDepth, static_cast<int>(rows) * kStageRowDepth);
    st.days = days;
    st.span = std::max(20, s.width - s.left - 20 - st.skew(st.depth) - kStageNameRoom);
    draw_stage(d, st, scale);
    const int thickness = kStageRowDepth * 3 / 5;
    std::vector<int> heights(static_cast<std::size_t>(days));
    // Back to front, so that nearer bands cover farther ones.
    for (std::size_t row = rows; row-- > 0;) {
        const Series& one = series[row];
        for (int day = 0; day < days; ++day)
            heights[std::size_t(day)] = st.height_of(one.values[std::size_t(day)], maximum);
        // The front row is the smallest; row 0 (the largest) stands at the back.
        const int place = static_cast<int>(rows - 1 - row);
        const int z = 2 + place * kStageRowDepth;
        const PackedColor face = kSeriesColours[row % 8][0];
        const int light = d.palette.series[row % 8][1];
        draw_band(d, st, z, thickness, heights, light, d.palette.series[row % 8][0],
                  canvas_color_allocate_packed(d.canvas, color_scale(55, face)));
        const Point end = st.at(days > 1 ? days - 1 : 1, z, 0);
        text(d.canvas, small_font(), end.x + 8, end.y - 10,
             fit(small_font(), one.report->name, kStageNameRoom - 12), d.palette.white);
    }
}


// Session depth: per minute of duration, a bar of the visits' mean pages and a
// mark at the deepest visit; minutes labelled every 1, 10 or 60.
void draw_session_depth(Drawing& d) {
    const ChartSpec& s = d.spec;
    if (!s.depth_chart || s.depth_chart->minutes.empty()) return;
    const auto& minutes = s.depth_chart->minutes;
    Canvas& c = d.canvas;
    const Plot& p = d.plot;
    const int slots = std::max(1, s.depth_chart->longest + 1);
    const double slot = static_cast<double>(p.w) / slots;
    for (int m = 0; m < slots && m < static_cast<int>(minutes.size()); ++m) {
        const auto& minute = minutes[std::size_t(m)];
        if (minute.visits <= 0) continue;
        const double mean = static_cast<double>(minute.pages) / static_cast<double>(minute.visits);
        const int x0 = p.x + static_cast<int>(m * slot) + 1;
        const int x1 = std::max(x0, p.x + static_cast<int>((m + 1) * slot) - 1);
        const int h = static_cast<int>(p.h * mean / d.top);
        if (h > 0) {
            canvas_filled_rectangle(c, x0, p.bottom() - h, x1, p.bottom() - 1, d.palette.c1);
            if (x1 - x0 >= 3) canvas_rectangle(c, x0, p.bottom() - h, x1, p.bottom() - 1, d.palette.c3);
        }
        const int deepest =
            p.bottom() - static_cast<int>(p.h * static_cast<double>(minute.max_pages) / d.top);
        canvas_line(c, x0, deepest, x1, deepest, d.palette.yellow);
    }
    const std::array<std::pair<std::string_view, int>, 2> legend = {
        {{"Mean pages", d.palette.c1}, {"Deepest", d.palette.yellow}}};
    for (std::size_t k = 0; k < legend.size(); ++k) {
        // Inside the plot's top right, clear of the title.
        const int y = p.y + 4 + 13 * static_cast<int>(k);
        canvas_filled_rectangle(c, s.width - 104, y + 4, s.width - 92, y + 8, legend[k].second);
        text(c, label_font(), s.width - 88, y,
             fit(label_font(), chart_translate(d.target, legend[k].first), 84), d.palette.white);
    }
    int step = 1;
    for (const int candidate : {1, 10, 60}) {
        step = candidate;
        if (slot * candidate >= 8 + font_string_width(small_font(), "120")) break;
    }
    for (int m = 0; m < slots; m += step) {
        const int x = p.x + static_cast<int>((m + 0.5) * slot);
        canvas_line(c, x, p.bottom(), x, p.bottom() + 3, d.palette.black);
        text_centred(c, small_font(), x, p.bottom() + 5, std::to_string(m), d.palette.black);
    }
}

// The value that ranks an item: for browser against system, its value over all
// families.
double ranking_value(const ChartSpec& s, int index) {
    if (s.kind != kBrowserVsOs) return chart_item_value(*s.list, index, s.value_kind);
    double v = 0;
    for (int family = 1; family <= static_cast<int>(kFamilyNames.size()); ++family)
        v += family_value(*s.list, index, family, s.value_kind);
    return v;
}

constexpr std::array<std::string_view, 7> kWeekdayNames = {
    "Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

// "MM/YYYY" as a month count, for putting months in order; -1 otherwise.
int month_number(std::string_view name) {
    if (name.size() < 7 || name[2] != '/') return -1;
    const int month = hour_of(name);
    const int year = std::atoi(std::string(name.substr(3, 4)).c_str());
    return month >= 1 && month <= 12 && year > 0 ? year * 12 + month - 1 : -1;
}

// Chooses the items a chart draws and their slots. Ranked charts take the items
// with the largest values of the chart's own value kind, so that a chart of bytes
// and one of requests each show their own top; weekdays go to their day's slot
// and months into calendar order.
void choose_items(Drawing& d) {
    const ChartSpec& s = d.spec;
    const int count = s.list->Count();
    std::vector<int> order(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) order[std::size_t(i)] = i;
    const bool ranked = (s.kind == kHorizontalBars || s.kind == kPie || s.kind == kBrowserVsOs ||
                         s.kind == kHistory || s.kind == kStackedHistory) &&
                        s.subject != kSubjectRanges;
    if (ranked) {
        std::vector<double> value(order.size());
        for (int i = 0; i < count; ++i) value[std::size_t(i)] = ranking_value(s, i);
        const std::size_t wanted =
            s.max_items > 0 ? std::min(order.size(), std::size_t(s.skip_first + s.max_items))
                            : order.size();
        std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(wanted),
                          order.end(), [&](int a, int b) {
                              const double va = value[std::size_t(a)], vb = value[std::size_t(b)];
                              return va != vb ? va > vb : a < b;
                          });
        order.resize(wanted);
    } else if (s.subject == kSubjectMonths) {
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            return month_number(s.list->Name(a)) < month_number(s.list->Name(b));
        });
    }
    const std::size_t first = std::min(order.size(), std::size_t(std::max(0, s.skip_first)));
    std::size_t last = order.size();
    if (s.max_items > 0) last = std::min(last, first + std::size_t(s.max_items));
    for (std::size_t n = first; n < last; ++n) {
        const int i = order[n];
        int slot = static_cast<int>(n - first);
        if (s.kind == kVerticalBars && s.subject == kSubjectWeekdays) {
            const auto day = std::find(kWeekdayNames.begin(), kWeekdayNames.end(), s.list->Name(i));
            if (day == kWeekdayNames.end()) continue;
            slot = static_cast<int>(day - kWeekdayNames.begin());
        }
        d.items.push_back(i);
        d.slots.push_back(slot);
    }
    double m = 0;
    if (s.kind == kSessionDepth) {
        if (s.depth_chart)
            for (const auto& minute : s.depth_chart->minutes)
                m = std::max(m, static_cast<double>(minute.max_pages));
    } else if (s.kind == kTimeLine) {
        for (int i = 0; i < count; ++i) m = std::max(m, chart_item_value(*s.list, i, s.value_kind));
    } else if (s.kind == kBrowserVsOs) {
        for (const int i : d.items)
            for (int family = 1; family <= static_cast<int>(kFamilyNames.size()); ++family)
                m = std::max(m, family_value(*s.list, i, family, s.value_kind));
    } else {
        for (const int i : d.items) m = std::max(m, chart_item_value(*s.list, i, s.value_kind));
    }
    d.maximum = std::max(1.0, m);
    d.scale = chart_scale(s.value_kind, d.maximum,
                          s.kind == kHorizontalBars ? s.x_divisions : s.y_divisions);
    d.top = d.scale.top();
}

}  // namespace

ChartSpec time_line_preset(bool wider) {
    ChartSpec s;
    s.width = wider ? 630 : 420;
    s.height = 350;
    s.left = 66;
    s.top = 50;
    s.x_divisions = 23;
    s.y_divisions = 10;
    s.kind = kTimeLine;
    s.depth = 0;
    s.bar_gap = 1;
    s.color4 = 0x6699FF;
    s.show_categories = s.show_scale = s.show_legend = true;
    s.grid_y = s.ticks_x = s.ticks_y = true;
    s.labels_outside = true;
    return s;
}

ChartSpec vertical_bars_preset(bool wider, bool three_d) {
    ChartSpec s;
    s.width = wider ? 630 : 420;
    s.height = 350;
    s.left = 66;
    s.top = 50;
    s.x_divisions = 7;
    s.y_divisions = 10;
    s.kind = kVerticalBars;
    s.depth = 5;
    s.bar_gap = three_d ? 8 : 3;
    s.color1 = 0xFF9999;
    s.color2 = 0xCC6666;
    s.color3 = 0x990000;
    s.color4 = 0x770000;
    s.show_categories = s.show_scale = true;
    s.grid_y = s.ticks_y = true;
    s.labels_outside = true;
    return s;
}

ChartSpec top_list_preset(bool wider) {
    ChartSpec s;
    s.width = wider ? 630 : 420;
    s.height = 350;
    s.left = wider ? 180 : 120;
    s.top = 35;
    s.x_divisions = 5;
    s.y_divisions = 15;
    s.kind = kHorizontalBars;
    s.depth = 3;
    s.bar_gap = 5;
    s.color1 = 0xFFFF66;
    s.color2 = 0xCCCC33;
    s.color3 = 0x999900;
    s.color4 = 0x666600;
    s.show_categories = s.show_scale = true;
    s.grid_x = s.ticks_x = true;
    s.labels_outside = s.show_values = true;
    s.max_items = 15;
    return s;
}

ChartSpec pie_preset(bool wider) {
    ChartSpec s;
    s.width = wider ? 630 : 420;
    s.height = 350;
    s.left = 130;
    s.top = 40;
    s.x_divisions = 6;
    s.y_divisions = 0;
    s.kind = kPie;
    s.depth = 3;
    s.bar_gap = 5;
    s.color1 = 0xCCCCFF;
    s.color2 = 0x9999FF;
    s.color3 = 0x333366;
    s.color4 = 0x000077;
    s.show_categories = true;
    s.grid_x = s.ticks_x = true;
    s.labels_outside = true;
    s.max_items = 15;
    return s;
}

ChartSpec history_preset(bool wider, int days) {
    ChartSpec s;
    s.width = wider ? 630 : 420;
    s.height = wider ? 525 : 350;
    s.left = 18;
    s.top = wider ? 210 : 140;
    s.x_divisions = std::max(0, days - 1);
    s.y_divisions = 4;
    s.kind = kHistory;
    s.color1 = 0x9B9B9B;
    s.color2 = 0xFFFFFF;
    s.color3 = 0x9B9B9B;
    s.color4 = 0xC6C6CC;
    s.plot_background = 0x6E6E6E;
    s.show_categories = s.show_scale = true;
    s.max_items = 8;
    return s;
}

ChartSpec stage_preset(bool wider, int days, int kind) {
    ChartSpec s = history_preset(wider, days);
    s.kind = kind;
    s.left = 52;
    return s;
}

double chart_item_value(const engine::StatList& list, int index, int value_kind) {
    switch (value_kind) {
    case kValueBytes: return list.Bytes(index);
    case kValuePages: return list.TotalPages() > 0 ? list.Pages(index) : list.Req(index);
    case kValueSessions: return list.Visits(index);
    case kValueVisitors: return list.Misc1(index);   // the clients of a measure's range
    case kValueErrors: return list.Errors(index);
    default: return list.Req(index);
    }
}

std::string chart_value_text(int value_kind, double scale_max, double value) {
    switch (value_kind) {
    case kValueBytes:
        if (scale_max < 1024) return whole(value);
        if (scale_max < 1048576) return format("%.1fK", value / 1024);
        if (scale_max >= 1073741824) return format("%.1fG", value / 1073741824.0);
        return format("%.1fM", value / 1048576);
    case kValueRequests:
    case kValuePages:
    case kValueErrors:
        if (scale_max >= 1000000) return format("%.1fM", value / 1000000);
        return whole(value);
    default: return whole(value);
    }
}

SlotLabel chart_slot_label(std::string_view name, int slot) { return slot_name(name, slot); }

std::vector<std::string> chart_item_names(const engine::StatList& list, std::span<const int> items,
                                          int subject) {
    return item_names(list, items, subject);
}

ChartScale chart_scale(int value_kind, double maximum, int most_steps) {
    ChartScale scale;
    scale.value_kind = value_kind;
    scale.maximum = maximum = std::max(maximum, 1.0);
    most_steps = std::max(1, most_steps);
    // The unit the labels are written in, as chart_value_text chooses it.
    double unit = 1;
    if (value_kind == kValueBytes) {
        unit = maximum < 1024 ? 1 : maximum < 1048576 ? 1024 : maximum >= 1073741824 ? 1073741824.0 : 1048576;
    } else if ((value_kind == kValueRequests || value_kind == kValuePages ||
                value_kind == kValueErrors) && maximum >= 1000000) {
        unit = 1000000;
    }
    // Labels in a larger unit carry one decimal; counts are whole numbers.
    const double smallest = unit > 1 ? 0.1 : 1;
    const double in_units = maximum / unit;
    double magnitude = std::pow(10.0, std::floor(std::log10(in_units / most_steps)));
    for (;; magnitude *= 10) {
        for (const double times : {1.0, 2.0, 5.0}) {
            const double step = times * magnitude;
            if (step < smallest - 1e-9) continue;
            const int steps = static_cast<int>(std::ceil(in_units / step - 1e-9));
            if (steps <= most_steps) {
                scale.step = step * unit;
                scale.steps = std::max(1, steps);
                return scale;
            }
        }
    }
}

std::string chart_axis_title(int value_kind, int kind, double scale_max) {
    if (kind == 8) return "Pages ";
    switch (value_kind) {
    case kValueBytes:
        if (scale_max < 10240) return "Bytes Delivered (bytes)";
        if (scale_max < 1048576) return "Bytes Delivered (Kb)";
        if (scale_max >= 1073741824) return "Bytes Delivered (Gb)";
        return "Bytes Delivered (Mb)";
    case kValueRequests: return scale_max >= 1000000 ? "Requests (X million)" : "Requests ";
    case kValuePages: return "Pages ";
    case kValueSessions: return "Sessions ";
    case kValueVisitors: return "Visitors ";
    case kValueErrors: return "Errors ";
    default: return "Requests ";
    }
}

std::string chart_translate(const ChartTarget& target, std::string_view source) {
    std::string translated;
    if (target.language && target.language_index > 0) {
        bool replaced = target.language->translate(target.language_index, source, translated);
        // A title is often a whole phrase of the file, which the word-wise
        // translation leaves alone (it replaces only inside longer texts).
        for (const report::LanguagePair& pair : target.language->pairs()) {
            if (pair.from == source && !pair.to.empty()) {
                translated = pair.to;
                replaced = true;
                break;
            }
        }
        if (replaced) source = translated;
    }
    // Numeric character entities become the character (UTF-8, as chart text is).
    std::string out;
    out.reserve(source.size());
    for (std::size_t i = 0; i < source.size(); ++i) {
        if (source[i] == '&' && i + 2 < source.size() && source[i + 1] == '#') {
            std::size_t j = i + 2;
            long n = 0;
            while (j < source.size() && source[j] >= '0' && source[j] <= '9' && n < 0x110000)
                n = n * 10 + (source[j++] - '0');
            if (j > i + 2 && j < source.size() && source[j] == ';') {
                if (n >= 32 && n < 0x110000 && !(n >= 0xD800 && n <= 0xDFFF))
                    append_utf8(out, static_cast<char32_t>(n));
                i = j;
                continue;
            }
        }
        out += source[i];
    }
    return out;
}

std::unique_ptr<Canvas> chart_render(const ChartTarget& target, const ChartSpec& spec) {
    auto canvas = canvas_create(spec.width, spec.height, target.web_palette);
    // The comparison charts reports, not a list.
    if (!canvas || (!spec.list && spec.kind != kComparison)) return nullptr;
    Drawing d{target, spec, *canvas, allocate_palette(*canvas, spec), plot_of(spec), {}, {}, 1, {}, 1};
    if (spec.list) choose_items(d);
    draw_frame(d);
    draw_plot_area(d);
    draw_titles(d);
    draw_scale(d);
    switch (spec.kind) {
    case kVerticalBars: draw_vertical_bars(d); break;
    case kHorizontalBars: draw_horizontal_bars(d); break;
    case kTimeLine: draw_time_line(d); break;
    case kPie: draw_pie(d); break;
    case kBrowserVsOs: draw_browser_vs_os(d); break;
    case kHistory: draw_history(d); break;
    case kStackedHistory: draw_stacked_history(d); break;
    case kComparison: draw_comparison(d); break;
    case kSessionDepth: draw_session_depth(d); break;
    default: break;
    }
    return canvas;
}

int chart_draw(ChartTarget& target, const ChartSpec& spec) {
    if (target.stop_requested && target.stop_requested()) return 0;
    if (writes_scenes(target.output)) {
        vrml_scene_write(target.output, spec);
        return 1;
    }
    auto canvas = chart_render(target, spec);
    if (canvas) image_save(target.output, std::move(canvas), spec.base_name);
    return 1;
}

}  // namespace tallowick::graph
