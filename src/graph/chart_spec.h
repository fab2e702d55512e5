// One chart: the description the builders fill (ChartSpec, from one of four
// presets), the place its image goes (ChartTarget) and the routine that draws any
// description onto a canvas and saves it (chart_draw). The report's set of charts
// is charts.h.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "graph/canvas.h"
#include "graph/font.h"
#include "graph/image_file.h"

namespace tallowick::engine {
class StatList;
struct ReportStats;
struct SessionDepthChart;
}  // namespace tallowick::engine
namespace tallowick::report { class LanguageTable; }

namespace tallowick::graph {

// What a chart's values are (`value_kind`).
enum ValueKind : int {
    kValueBytes = 0,
    kValueRequests = 1,
    kValueBoth = 2,      // a builder draws the bytes and then the requests chart
    kValuePages = 3,
    kValueSessions = 4,
    kValueVisitors = 5,
    kValueErrors = 11,
};

// Chart kinds (`kind`).
enum ChartKind : int {
    kVerticalBars = 0,
    kHorizontalBars = 1,   // top lists
    kTimeLine = 2,
    kPie = 3,
    kStackedHistory = 4,   // the items' 3D day values stacked, one layer per item
    kHistory = 5,          // one 3D series per item over the days of the report
    kBrowserVsOs = 6,
    kComparison = 7,       // one 3D series per report over the days (`reports`)
    kSessionDepth = 8,     // mean and deepest pages of the visits by duration
};

// What the categories are (`subject`).
enum ChartSubject : int {
    kSubjectDays = 0,
    kSubjectHours = 1,
    kSubjectWeekdays = 2,   // also months: names along a vertical-bar axis
    kSubjectCountries = 3,
    kSubjectFiles = 4,
    kSubjectBrowsers = 5,
    kSubjectSystems = 6,
    kSubjectFileTypes = 7,
    kSubjectDirectories = 8,
    kSubjectHosts = 9,
    kSubjectDomains = 10,
    kSubjectErrors = 11,
    kSubjectFailedUrls = 12,
    kSubjectNames = 13,     // pages, downloads, search engines, robots, ...
    kSubjectRegions = 14,
    kSubjectMonths = 15,
    kSubjectRanges = 16,    // ranges of a visitor measure, kept in range order
};

struct ChartSpec {
    // The data charted. For browser against operating system, the browser list:
    // its records keyed by system family give the bars.
    const engine::StatList* list = nullptr;
    // Session depth: the visits by minutes of duration.
    const engine::SessionDepthChart* depth_chart = nullptr;
    // Comparison: the reports, one series each from its date list (the list
    // may then be null).
    std::span<const engine::ReportStats* const> reports;
    std::string title;
    std::string category_title;   // empty: none
    std::string base_name;        // image base name, e.g. "ByteDaily"
    double first_day = 0;         // Julian day of the first slot of a daily axis
    int value_kind = kValueBytes;
    int depth = 0;
    int bar_gap = 0;
    int subject = 0;
    bool labels_outside = false;
    int title_x = 0, title_y = 0;  // 0: centred / a quarter of the top margin
    int width = 420, height = 350;
    int left = 0, top = 0;
    int x_divisions = 0, y_divisions = 0;
    bool show_values = false;
    bool show_categories = false, show_scale = false, show_legend = false;
    int kind = kVerticalBars;
    bool grid_x = false, grid_y = false, ticks_x = false, ticks_y = false;
    int skip_first = 0;
    int max_items = 0;             // 0: all
    PackedColor color1 = 0, color2 = 0, color3 = 0;   // top/light, face/inner, side/outer
    PackedColor color4 = 0;        // plot area
    PackedColor label_color = 0xFFFFFF;
    PackedColor plot_background = 0xDDDDDD;
};

// Where the charts of one report go and what every chart shares.
struct ChartTarget {
    ImageOutput output;
    bool web_palette = false;
    bool three_d = true;           // `style` 3d (else flat 2D bars)
    bool wider = false;
    report::LanguageTable* language = nullptr;
    int language_index = 0;        // 0: English, texts stay as they are
    // Asked before each chart is saved; true ends the drawing.
    std::function<bool()> stop_requested;
    // Told the value labels of each chart's scale, lowest first (may be empty).
    std::function<void(const ChartSpec& spec, std::span<const std::string> labels)> scale_drawn;
};

// The presets every builder starts from.
ChartSpec time_line_preset(bool wider);
ChartSpec vertical_bars_preset(bool wider, bool three_d);
ChartSpec top_list_preset(bool wider);
ChartSpec pie_preset(bool wider);
// One series per item over `days` days, from the items' day records.
ChartSpec history_preset(bool wider, int days);
// The 3D day charts on a stage with a left wall: stacked history (kind 4) or
// the comparison of reports (kind 7); history_preset with room for the scale.
ChartSpec stage_preset(bool wider, int days, int kind);

// The value of item `index` of the list for a value kind (pages fall back to
// requests in a list that counts no pages).
double chart_item_value(const engine::StatList& list, int index, int value_kind);
// The number text of a value on a scale whose maximum is scale_max.
std::string chart_value_text(int value_kind, double scale_max, double value);

// A category name under a vertical bar of a slot `slot` pixels wide, with a gap
// to its neighbours: whole, then up to its first space, each in the label font
// and then the small font; else its first three, two or one characters.
struct SlotLabel {
    std::string text;
    const BitmapFont* font = nullptr;
};
SlotLabel chart_slot_label(std::string_view name, int slot);

// The names of list items `items` as the charts show them: file-like subjects by
// their last path part, or as much more of the path as tells apart items that
// share it ("img/logo.gif" and "shop/logo.gif").
std::vector<std::string> chart_item_names(const engine::StatList& list, std::span<const int> items,
                                          int subject);

// A value scale from 0 to top(): `steps` equal steps of `step`. The step is 1, 2
// or 5 times a power of ten of the unit the labels are written in (K, M, G for
// bytes, millions for large counts), and a whole number of that unit unless the
// unit is written with a decimal; so no two labels are equal and each is exact.
struct ChartScale {
    double maximum = 1;   // the largest value drawn (it chooses the unit)
    double step = 1;
    int steps = 1;
    int value_kind = kValueRequests;

    double top() const { return step * steps; }
    // The label of step k (1..steps).
    std::string label(int k) const { return chart_value_text(value_kind, maximum, step * k); }
};
// The scale of at most most_steps steps (at least 1) on which `maximum` fits.
ChartScale chart_scale(int value_kind, double maximum, int most_steps);
// The title of the value axis.
std::string chart_axis_title(int value_kind, int kind, double scale_max);
// A chart text in the report language, numeric character entities ("&#233;")
// replaced by the character they name.
std::string chart_translate(const ChartTarget& target, std::string_view text);

// Draws the chart on a new canvas and saves it as spec.base_name. Returns 0 when
// a stop was requested, else 1 (also when the file could not be written).
int chart_draw(ChartTarget& target, const ChartSpec& spec);

// The canvas of a chart, drawn but not saved (chart_draw saves it); nothing when
// the canvas cannot be made.
std::unique_ptr<Canvas> chart_render(const ChartTarget& target, const ChartSpec& spec);

}  // namespace tallowick::graph
