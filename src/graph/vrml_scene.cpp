#include "graph/vrml_scene.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <numeric>

#include "base/julian_date.h"
#include "engine/report_stats.h"
#include "engine/stat_list.h"
#include "engine/visitor_measures.h"

namespace tallowick::graph {

namespace {

// The colours pies and legends give their items, in item order.
constexpr std::array<PackedColor, 10> kItemColours = {
    0xFF0033, 0xFF8C00, 0xFFCC33, 0x00CC33, 0x339999,
    0x00FFFF, 0x008CFF, 0x9999FF, 0xCC66CC, 0xFF99CC,
};

// Box sizes must be positive in VRML 2.0: the stage's walls and back plane get
// this thickness where a flat plane is meant.
constexpr double kThin = 0.001;
// The row of boxes spans the stage between its walls; the highest is this tall.
constexpr double kRowWidth = 3.6;
constexpr double kTallest = 3.0;

// Charts whose items each take a colour of their own.
bool many_coloured(int kind) {
    return kind == kPie || kind == kHistory || kind == kStackedHistory || kind == kComparison ||
           kind == kBrowserVsOs;
}

bool ranked(const ChartSpec& s) {
    return (s.kind == kHorizontalBars || s.kind == kPie || s.kind == kBrowserVsOs ||
            s.kind == kHistory || s.kind == kStackedHistory) &&
           s.subject != kSubjectRanges;
}

// The Julian day of "MM/DD/YYYY"; 0 when the text is not a date.
double day_of(std::string_view name) {
    if (name.size() < 10 || name[2] != '/' || name[5] != '/') return 0;
    int v[3] = {0, 0, 0};
    const std::size_t at[3] = {0, 3, 6}, len[3] = {2, 2, 4};
    for (int k = 0; k < 3; ++k)
        for (std::size_t i = at[k]; i < at[k] + len[k]; ++i) {
            if (name[i] < '0' || name[i] > '9') return 0;
            v[k] = v[k] * 10 + (name[i] - '0');
        }
    if (v[0] < 1 || v[0] > 12 || v[1] < 1 || v[1] > 31 || v[2] < 1900) return 0;
    return JulianDate(v[2], v[0], v[1]);
}

std::vector<int> list_items(const ChartSpec& s) {
    const engine::StatList& list = *s.list;
    std::vector<int> order(static_cast<std::size_t>(list.Count()));
    std::iota(order.begin(), order.end(), 0);
    if (ranked(s))
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            return chart_item_value(list, a, s.value_kind) > chart_item_value(list, b, s.value_kind);
        });
    if (s.kind == kTimeLine && s.subject == kSubjectDays && s.first_day > 0) {
        // A daily chart shows the days of its axis only (recent days: the last few).
        const double last = s.first_day + s.x_divisions;
        std::erase_if(order, [&](int i) {
            const double day = day_of(list.Name(i));
            return day == 0 || day < s.first_day - 0.01 || day > last + 0.01;
        });
    }
    const std::size_t first = std::min(order.size(), std::size_t(std::max(0, s.skip_first)));
    std::size_t end = order.size();
    if (s.max_items > 0) end = std::min(end, first + std::size_t(s.max_items));
    return {order.begin() + static_cast<std::ptrdiff_t>(first),
            order.begin() + static_cast<std::ptrdiff_t>(end)};
}

double report_total(const engine::ReportStats& r, int value_kind) {
    double total = 0;
    if (!r.date) return total;
    for (int i = 0; i < r.date->Count(); ++i) total += chart_item_value(*r.date, i, value_kind);
    return total;
}

std::string number(double v) {
    char text[48];
    std::snprintf(text, sizeof text, "%f", v);
    return text;
}

std::string triple(double a, double b, double c) {
    return number(a) + " " + number(b) + " " + number(c);
}

std::string colour_text(PackedColor c) {
    return triple(((c >> 16) & 0xFF) / 256.0, ((c >> 8) & 0xFF) / 256.0, (c & 0xFF) / 256.0);
}

// One solid: a shape in a Transform at (x, y, z).
void solid(std::string& out, double x, double y, double z, const std::string& geometry,
           PackedColor colour) {
    out += "Transform {\n";
    out += " translation " + triple(x, y, z) + "\n";
    out += "  children [\n";
    out += "   Shape {\n";
    out += "    geometry " + geometry + "\n";
    out += "    appearance Appearance {";
    out += "     material Material { diffuseColor " + colour_text(colour) + " } }\n";
    out += "  }]\n";
    out += " }\n\n";
}

std::string box(double w, double h, double d) { return "Box { size " + triple(w, h, d) + " }"; }

}  // namespace

bool writes_scenes(const ImageOutput& output) {
    return forced_image_format(output.report_format, output.image_format) == kImageVrml;
}

std::vector<SceneBar> scene_bars(const ChartSpec& spec) {
    std::vector<SceneBar> bars;
    const bool coloured = many_coloured(spec.kind);
    const PackedColor face = spec.color2 != 0 ? spec.color2 : spec.color1;
    auto colour_of = [&](std::size_t n) { return coloured ? kItemColours[n % kItemColours.size()] : face; };
    if (spec.kind == kComparison) {
        for (const engine::ReportStats* r : spec.reports)
            if (r) bars.push_back({report_total(*r, spec.value_kind), colour_of(bars.size())});
    } else if (spec.kind == kSessionDepth && spec.depth_chart) {
        for (const auto& minute : spec.depth_chart->minutes)
            if (minute.visits > 0)
                bars.push_back({static_cast<double>(minute.pages) / static_cast<double>(minute.visits),
                                face});
    } else if (spec.list) {
        for (const int i : list_items(spec))
            bars.push_back({chart_item_value(*spec.list, i, spec.value_kind), colour_of(bars.size())});
    }
    return bars;
}

std::string vrml_scene_text(const ChartSpec& spec) {
    std::string out;
    out += "#VRML V2.0 utf8\nTransform {\n";
    out += "children [\n";
    out += "\t\tNavigationInfo { headlight FALSE }\n";
    out += "\t\tDirectionalLight {\n\t\t direction 0 -5 1 }\n\n";
    out += "Transform {\n";
    out += " translation " + triple(0, 0, 0) + "\n";
    out += "  children [\n";
    out += "   Shape {\n";
    out += "    geometry Cylinder { height " + number(0.001) + " radius " + number(5) + " }\n";
    out += "    appearance Appearance {";
    out += "     material Material { diffuseColor " + triple(204 / 256.0, 204 / 256.0, 204 / 256.0) +
           " } }\n";
    out += "  }]\n";
    out += " }\n\n";
    solid(out, -2, -2, 0, box(kThin, 4, 4), 0xDDDDDD);
    solid(out, 2, -2, 0, box(kThin, 4, 4), 0xDDDDDD);
    solid(out, 0, -2, -2, box(4, 4, kThin), 0x00FFFF);

    const std::vector<SceneBar> bars = scene_bars(spec);
    double maximum = 0;
    for (const SceneBar& b : bars) maximum = std::max(maximum, b.value);
    const double slot = kRowWidth / static_cast<double>(std::max<std::size_t>(1, bars.size()));
    const double width = slot * 0.7;
    const double depth = std::min(0.6, std::max(width, 0.05));
    for (std::size_t n = 0; n < bars.size(); ++n) {
        const double v = std::isfinite(bars[n].value) ? bars[n].value : 0;
        const double h = maximum > 0 ? std::max(kThin, kTallest * v / maximum) : kThin;
        const double x = -kRowWidth / 2 + slot * (static_cast<double>(n) + 0.5);
        solid(out, x, h / 2, 0, box(width, h, depth), bars[n].colour);
    }
    out += "\t] # end\n}\n";
    return out;
}

bool vrml_scene_write(const ImageOutput& output, const ChartSpec& spec) {
    ImageOutput scene = output;
    scene.image_format = kImageVrml;
    auto file = image_open(scene, spec.base_name);
    if (!file) return false;
    const std::string text = vrml_scene_text(spec);
    file->write({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    return file->close();
}

}  // namespace tallowick::graph
