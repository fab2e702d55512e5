#include "graph/charts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <set>

#include "base/julian_date.h"
#include "base/status.h"
#include "engine/analysis_run.h"
#include "engine/clients.h"
#include "engine/report_stats.h"
#include "engine/stat_list.h"
#include "graph/chart_spec.h"
#include "graph/encoders.h"
#include "graph/font.h"
#include "graph/region_map.h"
#include "graph_test_support.h"
#include "report/report_assembly.h"
#include "report/translate.h"
#include "support/test_support.h"

namespace tallowick::graph {
namespace {

namespace fs = std::filesystem;
using engine::StatList;

// A list of named items with the given requests (and 100 bytes each).
std::unique_ptr<StatList> list_of(std::initializer_list<std::pair<std::string_view, int>> items) {
    auto list = StatList::Create(nullptr, 16);
    for (const auto& [name, requests] : items)
        for (int i = 0; i < requests; ++i) list->AddHit(100, 0, name, 0, 0);
    return list;
}

ChartTarget flat_target() {
    ChartTarget t;
    t.three_d = false;   // flat bars: one inner colour to measure
    return t;
}

int colour_index(const Canvas& c, PackedColor packed) {
    for (int i = 0; i < c.color_count; ++i)
        if (!c.open[std::size_t(i)] && canvas_get_entry(c, i) == packed) return i;
    return -1;
}

// Pixels of the colour along column x.
int run_in_column(const Canvas& c, int x, int colour) {
    int n = 0;
    for (int y = 0; y < c.height(); ++y) n += c.pixel(x, y) == colour;
    return n;
}
// Pixels of the colour inside a rectangle.
int count_in(const Canvas& c, int x0, int y0, int x1, int y1, int colour) {
    int n = 0;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) n += c.pixel(x, y) == colour;
    return n;
}

TEST(ChartText, ScaleUnitsAndAxisTitlesFollowTheMaximum) {
    // The bytes title switches at 10240 while the labels switch to K at 1024.
    EXPECT_EQ(chart_axis_title(kValueBytes, kHorizontalBars, 5000), "Bytes Delivered (bytes)");
    EXPECT_EQ(chart_value_text(kValueBytes, 5000, 2500), "2.4K");
    EXPECT_EQ(chart_value_text(kValueBytes, 1000, 999), "999");
    EXPECT_EQ(chart_axis_title(kValueBytes, kTimeLine, 2e9), "Bytes Delivered (Gb)");
    EXPECT_EQ(chart_value_text(kValueBytes, 2e9, 1073741824.0 * 1.5), "1.5G");
    EXPECT_EQ(chart_axis_title(kValueRequests, kVerticalBars, 2500000), "Requests (X million)");
    EXPECT_EQ(chart_value_text(kValueRequests, 2500000, 1250000), "1.2M");
    EXPECT_EQ(chart_value_text(kValueRequests, 999999, 5000), "5000");
}

TEST(ChartText, EntitiesOfTranslationsBecomeCharacters) {
    const ChartTarget t;
    EXPECT_EQ(chart_translate(t, "Caf&#101;s &#38; more"), "Cafes & more");
    EXPECT_EQ(chart_translate(t, "a &#; b &#12x"), "a &#; b &#12x");
}

TEST(ChartText, LabelsKeepApartAndTellItemsApart) {
    // Range names under narrow bars: whole, or without their unit, never run together.
    for (const std::string name : {"0-1 min", "1-5 min", "120-300 min", "300+ min"}) {
        const SlotLabel label = chart_slot_label(name, 40);
        ASSERT_TRUE(label.font);
        EXPECT_LE(font_string_width(*label.font, label.text), 37) << name;
        EXPECT_EQ(name.rfind(label.text, 0), 0u) << name;
    }
    EXPECT_EQ(chart_slot_label("120-300 min", 40).text, "120-300");

    auto list = StatList::Create(nullptr, 8);
    for (const char* path : {"/a/img/logo.gif", "/b/img/logo.gif", "/shop/logo.gif", "/index.html"})
        list->AddHit(10, 0, path, 0, 0);
    const std::vector<int> items = {0, 1, 2, 3};
    const std::vector<std::string> names = chart_item_names(*list, items, kSubjectFiles);
    EXPECT_EQ(names, (std::vector<std::string>{"a/img/logo.gif", "b/img/logo.gif", "shop/logo.gif",
                                               "index.html"}));
}

TEST(Charts, TopListBarsAreProportionalAndNamed) {
    auto list = list_of({{"alpha", 40}, {"beta", 20}, {"gamma", 10}});
    ChartTarget t = flat_target();
    ChartSpec spec = top_list_preset(false);
    spec.list = list.get();
    spec.value_kind = kValueRequests;
    spec.title = "Clients";
    auto c = chart_render(t, spec);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->width(), 420);
    // Slots of 18 pixels from the plot top. A flat bar's right edge is its outer
    // colour; the value text may cover its middle.
    const int slot = (350 - 2 * 35) / 15;
    const int plot_w = 420 - 120 - 10;
    auto length = [&](const Canvas& canvas, int place) {
        const int outer = colour_index(canvas, spec.color3);
        const int y = 35 + place * slot + 2 + slot / 2;
        int right = -1;
        for (int x = 120; x < 420; ++x)
            if (canvas.pixel(x, y) == outer) right = x;
        return right < 0 ? 0 : right - 120;
    };
    const int a = length(*c, 0);
    EXPECT_NEAR(a, plot_w, 2);   // the largest fills the plot
    EXPECT_NEAR(length(*c, 1), a / 2, 2);
    EXPECT_NEAR(length(*c, 2), a / 4, 2);
    EXPECT_EQ(length(*c, 3), 0);
    // Names right-aligned left of the plot, the title at the top.
    const int black = colour_index(*c, 0x000000);
    EXPECT_GT(count_in(*c, 20, 35, 115, 35 + slot, black), 10);
    EXPECT_GT(count_in(*c, 100, 3, 320, 30, black), 30);
    spec.title.clear();
    auto untitled = chart_render(t, spec);
    EXPECT_EQ(count_in(*untitled, 100, 3, 320, 30, colour_index(*untitled, 0x000000)), 0);

    // Ranked by the chart's own value: by bytes, the item with the most bytes leads.
    auto by_bytes = StatList::Create(nullptr, 4);
    by_bytes->AddHit(10, 0, "many-small", 0, 0);
    by_bytes->AddHit(10, 0, "many-small", 0, 0);
    by_bytes->AddHit(5000, 0, "one-large", 0, 0);
    spec.list = by_bytes.get();
    spec.value_kind = kValueBytes;
    auto ranked = chart_render(t, spec);
    // The scale runs to 5.0K in steps of 1.0K: 5000 bytes fall just short of its end.
    EXPECT_NEAR(length(*ranked, 0), plot_w * 5000 / 5120, 2);
    EXPECT_NEAR(length(*ranked, 1), plot_w / 250, 2);
}

TEST(Charts, TitlesAreTranslatedWithTheirEntities) {
    tallowick::test::TempDir dir;
    fs::create_directories(dir / "lang");
    tallowick::test::write_file(dir / "lang" / std::string(report::languageFileName(1)),
                                "heading\nClients,W&#105;de Kunden\n");
    report::LanguageTable languages(dir.path());
    auto list = list_of({{"alpha", 4}});
    ChartTarget t = flat_target();
    ChartSpec spec = top_list_preset(false);
    spec.list = list.get();
    spec.title = "Clients";
    auto ink_width = [&](const ChartTarget& target) {
        auto c = chart_render(target, spec);
        const int black = colour_index(*c, 0x000000);
        int left = c->width(), right = -1;
        for (int y = 8; y < 8 + 15; ++y)
            for (int x = 3; x < c->width() - 3; ++x)
                if (c->pixel(x, y) == black) left = std::min(left, x), right = std::max(right, x);
        return right - left + 1;
    };
    const int english = ink_width(t);
    t.language = &languages;
    t.language_index = 1;
    EXPECT_EQ(chart_translate(t, "Clients"), "Wide Kunden");
    // The title drawn is the translation: its ink spans the translated text.
    EXPECT_NEAR(ink_width(t), font_string_width(title_font(), "Wide Kunden") - 1, 3);
    EXPECT_GT(ink_width(t), english + 20);
}

TEST(Charts, WebPaletteChartsKeepToTheFixedColours) {
    auto list = list_of({{"alpha", 40}, {"beta", 20}});
    ChartTarget t;
    t.web_palette = true;
    for (ChartSpec spec : {top_list_preset(false), vertical_bars_preset(false, true),
                           time_line_preset(false), pie_preset(false)}) {
        spec.list = list.get();
        spec.value_kind = kValueRequests;
        spec.subject = spec.kind == kVerticalBars ? kSubjectNames : spec.subject;
        auto c = chart_render(t, spec);
        ASSERT_TRUE(c);
        std::set<int> used;
        for (int y = 0; y < c->height(); ++y)
            for (std::uint8_t p : c->row(y)) used.insert(p);
        for (int p : used) {
            EXPECT_LT(p, kWebPaletteColors) << "kind " << spec.kind;
            const PackedColor rgb = canvas_get_entry(*c, p);
            EXPECT_EQ((rgb >> 16 & 0xFF) % 51 + (rgb >> 8 & 0xFF) % 51 + (rgb & 0xFF) % 51, 0u);
        }
        EXPECT_GT(used.size(), 4u) << "kind " << spec.kind;
    }
}

TEST(Charts, VerticalBarsStandInTheirWeekdaySlots) {
    auto list = list_of({{"Monday", 30}, {"Sunday", 10}, {"Saturday", 15}});
    ChartTarget t = flat_target();
    ChartSpec spec = vertical_bars_preset(false, false);
    spec.list = list.get();
    spec.subject = kSubjectWeekdays;
    spec.value_kind = kValueRequests;
    auto c = chart_render(t, spec);
    ASSERT_TRUE(c);
    const int inner = colour_index(*c, spec.color2);
    const int plot_w = 420 - 66 - 10, plot_h = 350 - 100;
    auto height_in_slot = [&](int slot) {
        return run_in_column(*c, 66 + slot * plot_w / 7 + 1 + 10, inner);
    };
    EXPECT_NEAR(height_in_slot(1), plot_h - 2, 2);          // Monday, the maximum
    EXPECT_NEAR(height_in_slot(0), plot_h / 3, 2);          // Sunday
    EXPECT_NEAR(height_in_slot(6), plot_h / 2, 2);          // Saturday
    EXPECT_EQ(height_in_slot(3), 0);
}

TEST(Charts, DailyTimeLineFollowsTheDays) {
    auto list = StatList::Create(nullptr, 8);
    const double first = JulianDate(2026, 3, 30);
    auto add = [&](std::string_view day, int requests, int errors) {
        for (int i = 0; i < requests; ++i)
            list->AddHit(1, 0, day, first, i < errors ? engine::kAddError : 0);
    };
    add("03/30/2026", 100, 0);
    add("03/31/2026", 0, 0);
    add("04/01/2026", 200, 50);
    add("04/02/2026", 50, 0);
    ChartTarget t;
    ChartSpec spec = time_line_preset(false);
    spec.list = list.get();
    spec.subject = kSubjectDays;
    spec.value_kind = kValueRequests;
    spec.first_day = first;
    spec.x_divisions = 3;
    spec.title = "Daily Traffic";
    auto c = chart_render(t, spec);
    ASSERT_TRUE(c);
    const int black = colour_index(*c, 0x000000), blue = colour_index(*c, 0x0000FF);
    const int red = colour_index(*c, 0xFF0000), yellow = colour_index(*c, 0xFFFF00);
    const int plot_w = 420 - 66 - 10, bottom = 300, plot_h = 250;
    // The top of the traffic line in the middle of the third day's segment.
    auto topmost = [&](int x, int colour) {
        for (int y = 50; y <= bottom; ++y)
            if (c->pixel(x, y) == colour) return y;
        return -1;
    };
    const int x2 = 66 + 2 * plot_w / 3, x3 = 66 + plot_w;
    EXPECT_NEAR(topmost(x2, black), bottom - plot_h, 2);        // 200 is the maximum
    EXPECT_NEAR(topmost(x3 - 1, black), bottom - plot_h / 4, 3);  // 50
    // The blue band fills beneath the line; none stands on the empty day.
    EXPECT_NEAR(run_in_column(*c, 66 + plot_w / 6, blue), plot_h / 4, 4);
    const int over_empty_day = topmost(66 + plot_w / 3, blue);
    EXPECT_TRUE(over_empty_day < 0 || over_empty_day >= bottom - 3) << over_empty_day;
    // Errors (50 of 200) and the running average (300 / 3 on the third day).
    EXPECT_NEAR(topmost(x2, red), bottom - plot_h / 4, 3);
    EXPECT_NEAR(topmost(x2, yellow), bottom - plot_h / 2, 3);
    // The month changes on the axis: "Apr" below the plot, left of the third day.
    EXPECT_GT(count_in(*c, x2 - 2, bottom + 16, x2 + 20, bottom + 28, black), 5);
    // Legend swatches at the top right.
    EXPECT_EQ(c->pixel(420 - 80, 10 + 13 + 6), yellow);
}

TEST(Charts, PieSlicesFollowTheShares) {
    auto list = list_of({{"html", 60}, {"gif", 20}, {"css", 20}});
    ChartTarget t;
    ChartSpec spec = pie_preset(false);
    spec.list = list.get();
    spec.value_kind = kValueRequests;
    auto c = chart_render(t, spec);
    ASSERT_TRUE(c);
    const int cx = 420 - 175, cy = 350 - 155;
    auto top_face = [&](int degrees) {
        const double a = degrees * M_PI / 180;
        return canvas_get_entry(*c, c->pixel(cx + static_cast<int>(65 * std::cos(a)),
                                             cy + static_cast<int>(32 * std::sin(a))));
    };
    EXPECT_EQ(top_face(108), 0xFF0033u);   // html: 0..216
    EXPECT_EQ(top_face(252), 0xFF8C00u);   // gif: 216..288
    EXPECT_EQ(top_face(324), 0xFFCC33u);   // css: 288..360
    // The front wall below the rim is the first slice's darker side.
    EXPECT_EQ(canvas_get_entry(*c, c->pixel(cx, cy + 65 + 10)), color_scale(50, 0xFF0033));

    // Items of 1% or less leave the whole pie to "Other", grey with a black wall.
    auto small = StatList::Create(nullptr, 128);
    for (int i = 0; i < 120; ++i) small->AddHit(1, 0, "t" + std::to_string(i), 0, 0);
    spec.list = small.get();
    auto other = chart_render(t, spec);
    for (int degrees : {10, 100, 200, 300})
        EXPECT_EQ(canvas_get_entry(*other, other->pixel(cx + static_cast<int>(65 * std::cos(degrees * M_PI / 180)),
                                                      cy + static_cast<int>(32 * std::sin(degrees * M_PI / 180)))),
                  0x555555u)
            << degrees;
    EXPECT_EQ(canvas_get_entry(*other, other->pixel(cx, cy + 65 + 10)), 0x000000u);
}

TEST(Charts, BrowserAgainstSystemsDrawsABarPerFamily) {
    auto browsers = StatList::Create(nullptr, 8);
    browsers->SetHasTimeRecs(true);
    for (int i = 0; i < 30; ++i) browsers->AddHit(1, 0, "Firefox", 0, engine::kAddKeyRecord, 1);
    for (int i = 0; i < 10; ++i) browsers->AddHit(1, 0, "Firefox", 0, engine::kAddKeyRecord, 3);
    ChartTarget t = flat_target();
    ChartSpec spec = vertical_bars_preset(false, false);
    spec.kind = kBrowserVsOs;
    spec.list = browsers.get();
    spec.value_kind = kValueRequests;
    spec.x_divisions = 1;
    auto c = chart_render(t, spec);
    ASSERT_TRUE(c);
    // Windows (family 1) and Unix (family 3) in item colours 0 and 4.
    const int windows = colour_index(*c, 0xFF0033), unix = colour_index(*c, 0x339999);
    int windows_h = 0, unix_h = 0;
    for (int x = 66; x < 420 - 90; ++x) {
        windows_h = std::max(windows_h, run_in_column(*c, x, windows));
        unix_h = std::max(unix_h, run_in_column(*c, x, unix));
    }
    EXPECT_NEAR(windows_h, 250 - 2, 3);
    EXPECT_NEAR(unix_h, 250 / 3, 3);
    // The legend at the right: four framed swatches.
    EXPECT_EQ(c->pixel(420 - 80 + 4, 50 + 13 + 4), windows);
}

TEST(RegionMap, StoredMapHasEveryRegionAndTheScale) {
    auto map = gif_read_memory(region_map_gif());
    ASSERT_TRUE(map);
    EXPECT_EQ(map->width(), 640);
    EXPECT_EQ(map->height(), 310);
    for (int region = 1; region <= 7; ++region) {
        const int group = region_map_group(region);
        long pixels = 0;
        for (int k = 0; k < kRegionGroupSize; ++k)
            pixels += test::count_pixels(*map, kRegionGroupSize * group + k);
        EXPECT_GT(pixels, 300) << engine::region_name(region);
    }
    for (int i = 0; i < kRegionScaleColours; ++i)
        EXPECT_GT(test::count_pixels(*map, kRegionScaleSlot + i), 100) << i;
}

TEST(RegionMap, RegionsTakeTheScaleColourOfTheirRank) {
    auto regions = list_of({{engine::region_name(engine::kRegionAsia), 5},
                            {engine::region_name(engine::kRegionEurope), 20},
                            {engine::region_name(engine::kRegionNone), 50}});
    auto c = region_map_canvas(*regions, kValueRequests);
    ASSERT_TRUE(c);
    const auto slot = [&](int region, int k) {
        return canvas_get_entry(*c, kRegionGroupSize * region_map_group(region) + k);
    };
    const PackedColor first = canvas_get_entry(*c, kRegionScaleSlot);
    const PackedColor second = canvas_get_entry(*c, kRegionScaleSlot + 1);
    EXPECT_EQ(slot(engine::kRegionEurope, 0), first);
    EXPECT_EQ(slot(engine::kRegionAsia, 0), second);
    EXPECT_EQ(slot(engine::kRegionAsia, 15), color_scale(40, second));
    EXPECT_EQ(slot(engine::kRegionNorthAmerica, 0), 0xFFFFFFu);
    // Written out, an independent decoder sees the painted map.
    tallowick::test::TempDir dir;
    ImageOutput out{dir.path()};
    ASSERT_TRUE(image_save(out, std::move(c), "ReqRegion"));
    const auto decoded = test::decode_with_pil({dir / "ReqRegion.gif"});
    ASSERT_EQ(decoded.size(), 1u);
    EXPECT_EQ(decoded[0].width, 640);
    auto again = region_map_canvas(*regions, kValueRequests);
    EXPECT_EQ(decoded[0].rgb, test::canvas_rgb(*again));
}

// ---- the driver on real logs --------------------------------------------------

Settings every_graph() {
    Settings s;
    s.report.stat.set_all(true);
    s.report.graph.set_all(true);
    s.analysis.ignoreusernames = true;
    s.report.graphsort = 2;
    return s;
}

class Progress : public StatusSink {
public:
    Progress() : previous_(set_status_sink(this)) {}
    ~Progress() override { set_status_sink(previous_); }
    void progress(int percent, std::string_view text, std::string_view) override {
        texts.emplace_back(text);
        percents.push_back(percent);
    }
    std::vector<std::string> texts;
    std::vector<int> percents;

private:
    StatusSink* previous_;
};

// The images the statistic pages of a report refer to, by the lists that have items.
std::vector<std::string> referred_images(const engine::ReportStats& r) {
    std::vector<std::string> keys;
    auto has = [](const std::unique_ptr<StatList>& l) { return l && l->Count() > 0; };
    auto want = [&](const std::unique_ptr<StatList>& l, const char* key) {
        if (has(l)) keys.push_back(key);
    };
    want(r.date, "Daily");
    want(r.hour, "Hourly");
    want(r.wday, "Weekly");
    const char* days[] = {"Sunday", "Monday", "Tueday", "Wedday", "Thuday", "Friday", "Satday"};
    for (int d = 0; d < 7; ++d) want(r.wdays[std::size_t(d)], days[d]);
    want(r.month, "Monthly");
    want(r.domain, "Country");
    want(r.region, "Region");
    want(r.org, "Orgs");
    want(r.second_domain, "2nddomain");
    want(r.client, "Client");
    want(r.dir, "Dirs");
    want(r.topdir, "TopDirs");
    want(r.groupdir, "GroupDirs");
    want(r.type, "Filetype");
    want(r.url, "Files");
    want(r.browser, "Browser");
    if (has(r.browser) && has(r.oper)) keys.push_back("BrowserOS");
    want(r.oper, "OperSys");
    want(r.err, "Errors");
    want(r.errurl, "ErrorURL");
    want(r.pages, "Pages");
    want(r.searchsite, "SearchSite");
    want(r.searchstr, "SearchStr");
    want(r.down, "Download");
    want(r.robot, "Robot");
    auto history = [&](const std::unique_ptr<StatList>& l, const char* key) {
        if (has(l) && l->HasTimeRecs()) keys.push_back(key);
    };
    history(r.client, "ClientHist");
    history(r.topdir, "TopDirsHist");
    history(r.errurl, "ErrorURLHist");
    history(r.rsite, "ReferSiteHist");
    history(r.pages, "PageHist");
    history(r.down, "DownloadHist");
    history(r.government, "GovtHist");
    std::vector<std::string> files;
    for (const std::string& k : keys) {
        files.push_back("Byte" + k + ".gif");
        files.push_back("Req" + k + ".gif");
    }
    // Charts of one measure keep the plain name.
    if (has(r.circulation)) files.push_back("Circulation.gif");
    if (has(r.loyalty)) files.push_back("Loyalty.gif");
    if (has(r.timeon)) files.push_back("Timeon.gif");
    if (r.session_depth_chart.visits > 0) files.push_back("Sessions.gif");
    return files;
}

class RealLogCharts : public ::testing::TestWithParam<const char*> {};

TEST_P(RealLogCharts, EveryChartThePagesReferToIsWrittenAndDecodes) {
    const auto logs = tallowick::test::shared_logs_dir();
    if (!logs || !fs::exists(*logs / GetParam())) GTEST_SKIP() << "no real logs here";
    const Settings settings = every_graph();
    engine::RunHooks hooks;
    hooks.group_clients = [&](engine::ReportStats& r) {
        return engine::group_report_clients(r, settings.analysis.orgmap);
    };
    engine::AnalysisRun run(settings, {(*logs / GetParam()).string()}, hooks);
    ASSERT_EQ(run.Process(), 0);
    ASSERT_EQ(run.reports().size(), 1u);
    const engine::ReportStats& report = *run.reports()[0];

    // Where the charts go: a temporary folder, or TALLOWICK_CHART_DIR to look at them.
    tallowick::test::TempDir temp;
    fs::path folder = temp.path();
    if (const char* keep = std::getenv("TALLOWICK_CHART_DIR")) {
        folder = fs::path(keep) / fs::path(GetParam()).stem();
        fs::create_directories(folder);
    }
    CreatedFiles created;
    report::ChartRequest request;
    request.report = &report;
    request.settings = &settings;
    request.folder = folder;
    request.days = static_cast<int>(report.last_time - 0.5) - static_cast<int>(report.first_time - 0.5) + 1;
    request.created = &created;
    Progress progress;
    EXPECT_EQ(draw_report_charts(request), 1);

    std::vector<std::string> expected = referred_images(report);
    ASSERT_GT(expected.size(), 20u);
    expected.push_back("rshad.gif");
    expected.push_back("bshad.gif");
    std::vector<fs::path> paths;
    for (const std::string& name : expected) {
        EXPECT_TRUE(fs::exists(folder / name)) << name;
        EXPECT_TRUE(created.contains(folder / name)) << name;
        paths.push_back(folder / name);
    }
    const auto decoded = test::decode_with_pil(paths);
    ASSERT_EQ(decoded.size(), paths.size());
    for (std::size_t i = 0; i < decoded.size(); ++i) {
        EXPECT_EQ(decoded[i].error, "") << expected[i];
        EXPECT_EQ(decoded[i].format, "GIF") << expected[i];
    }
    // Progress runs up to "Drawing Graphs Complete." at 100.
    ASSERT_FALSE(progress.texts.empty());
    EXPECT_EQ(progress.texts.front(), "Drawing Daily graph...");
    EXPECT_EQ(progress.texts.back(), "Drawing Graphs Complete.");
    EXPECT_EQ(progress.percents.back(), 100);
    EXPECT_TRUE(std::is_sorted(progress.percents.begin(), progress.percents.end()));
}

// The whole road: pages written by report assembly, charts by the driver; every
// image any page refers to must be there and decode.
TEST_P(RealLogCharts, EveryImageTheWrittenPagesReferToExists) {
    const auto logs = tallowick::test::shared_logs_dir();
    if (!logs || !fs::exists(*logs / GetParam())) GTEST_SKIP() << "no real logs here";
    tallowick::test::TempDir dir;
    Settings settings = every_graph();
    settings.run.out = (dir / "index.html").string();
    engine::RunHooks hooks;
    hooks.group_clients = [&](engine::ReportStats& r) {
        return engine::group_report_clients(r, settings.analysis.orgmap);
    };
    engine::AnalysisRun run(settings, {(*logs / GetParam()).string()}, hooks);
    ASSERT_EQ(run.Process(), 0);
    report::AssemblyOptions options;
    options.settings = &settings;
    options.charts = draw_report_charts;
    Progress progress;
    EXPECT_EQ(report::writeReports(run.reports(), options), 0);

    std::set<std::string> referred;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        if (entry.path().extension() != ".html") continue;
        const std::string page = tallowick::test::read_file(entry.path());
        for (std::size_t at = page.find("SRC=\""); at != std::string::npos;
             at = page.find("SRC=\"", at + 1)) {
            const std::size_t end = page.find('"', at + 5);
            if (end == std::string::npos) continue;
            const std::string name = page.substr(at + 5, end - at - 5);
            if (fs::path(name).extension() == ".gif") referred.insert(name);   // not the frames
        }
    }
    referred.erase("Tallowick.gif");   // the logo, only with a head text naming it
    EXPECT_GT(referred.size(), 40u);
    std::vector<fs::path> paths;
    for (const std::string& name : referred) {
        EXPECT_TRUE(fs::exists(dir / name)) << name;
        if (fs::exists(dir / name)) paths.push_back(dir / name);
    }
    const auto decoded = test::decode_with_pil(paths);
    ASSERT_EQ(decoded.size(), paths.size());
    for (std::size_t i = 0; i < decoded.size(); ++i)
        EXPECT_EQ(decoded[i].error, "") << paths[i];
}

INSTANTIATE_TEST_SUITE_P(Logs, RealLogCharts,
                         ::testing::Values("combined/basjes_nl_2015-10_hackers_combined.log",
                                           "clf/nasa_ksc_1995-07_random1000_UNSORTED.log"));

// On a small log every chart's value scale counts up in distinct, exact steps.
TEST(ChartDriver, ScalesOfASmallLogAreDistinctAndIncreasing) {
    tallowick::test::TempDir dir;
    std::string log;
    const char* pages[] = {"/index.html", "/a/one.html", "/b/two.html", "/logo.gif", "/c/three.pdf"};
    for (int i = 0; i < 20; ++i) {
        char line[400];
        std::snprintf(line, sizeof line,
                      "10.0.0.%d - - [%02d/May/2026:%02d:%02d:00 +0000] \"GET %s HTTP/1.1\" %d %d "
                      "\"http://www.google.com/search?q=word%d\" \"Mozilla/5.0 (Windows NT 10.0) "
                      "Firefox/%d.0\"\n",
                      i % 3 + 1, 4 + i / 10, 9 + i % 10, i * 7 % 60, pages[i % 5],
                      i % 7 == 0 ? 404 : 200, 700 + 37 * i, i % 2, 100 + i % 2);
        log += line;
    }
    tallowick::test::write_file(dir / "small.log", log);
    Settings settings = every_graph();
    settings.report.graphsort = 2;   // bytes and requests
    settings.analysis.session_tracking = true;
    engine::RunHooks hooks;
    hooks.group_clients = [&](engine::ReportStats& r) {
        return engine::group_report_clients(r, settings.analysis.orgmap);
    };
    engine::AnalysisRun run(settings, {(dir / "small.log").string()}, hooks);
    ASSERT_EQ(run.Process(), 0);
    const engine::ReportStats& report = *run.reports()[0];
    ASSERT_EQ(report.accepted_hits, 20);

    std::map<std::string, std::vector<std::string>> scales;
    const std::vector<std::string> images = referred_images(report);
    report::ChartRequest request;
    request.report = &report;
    request.settings = &settings;
    request.folder = dir.path();
    request.days = 2;
    request.images = images;
    request.scale_drawn = [&](std::string_view chart, std::span<const std::string> labels) {
        scales[std::string(chart)].assign(labels.begin(), labels.end());
    };
    Progress progress;
    EXPECT_EQ(draw_report_charts(request), 1);
    EXPECT_GT(scales.size(), 20u);
    for (const auto& [chart, labels] : scales) {
        SCOPED_TRACE(chart);
        ASSERT_FALSE(labels.empty());
        double previous = 0;
        for (const std::string& label : labels) {
            char* end = nullptr;
            const double value = std::strtod(label.c_str(), &end);
            EXPECT_TRUE(*end == '\0' || ((*end == 'K' || *end == 'M' || *end == 'G') && end[1] == '\0'))
                << label;
            EXPECT_GT(value, previous) << label;
            previous = value;
        }
    }
    // Requests of the busiest client (7 of 20) on a top list of five steps.
    EXPECT_EQ(scales["ReqClient"], (std::vector<std::string>{"2", "4", "6", "8"}));
}

// The charts of a real log in English and every report language decode, and a
// translated chart differs from the English one (each character of the
// language files has its glyph: font_test).
TEST(ChartDriver, ChartsInEveryLanguageDecode) {
    const auto logs = tallowick::test::shared_logs_dir();
    const fs::path log = logs ? *logs / "combined" / "basjes_nl_2015-10_hackers_combined.log" : fs::path();
    if (!logs || !fs::exists(log)) GTEST_SKIP() << "no real logs here";
    Settings settings = every_graph();
    settings.report.graphsort = 1;
    engine::AnalysisRun run(settings, {log.string()}, {});
    ASSERT_EQ(run.Process(), 0);
    const engine::ReportStats& report = *run.reports()[0];
    report::LanguageTable languages(tallowick::test::source_dir());
    const std::vector<std::string> images = {"ReqDaily.gif", "ReqBrowser.gif", "ReqWeekly.gif"};
    std::string english_daily;
    for (int language = 0; language <= 9; ++language) {
        SCOPED_TRACE(language);
        tallowick::test::TempDir dir;
        settings.run.language = language;
        report::ChartRequest request;
        request.report = &report;
        request.settings = &settings;
        request.folder = dir.path();
        request.days = 6;
        request.language = language > 0 ? &languages : nullptr;
        request.images = images;
        Progress progress;
        EXPECT_EQ(draw_report_charts(request), 1);
        std::vector<fs::path> paths;
        for (const std::string& name : images) paths.push_back(dir / name);
        const auto decoded = test::decode_with_pil(paths);
        ASSERT_EQ(decoded.size(), images.size());
        for (const auto& image : decoded) EXPECT_EQ(image.width, 420);
        const std::string daily = tallowick::test::read_file(dir / "ReqDaily.gif");
        if (language == 0)
            english_daily = daily;
        else
            EXPECT_NE(daily, english_daily);
    }
}

TEST(ChartDriver, DrawsExactlyTheImagesThePagesName) {
    auto run_settings = every_graph();
    engine::ReportOptions options = engine::ReportOptions::From(run_settings);
    auto report = engine::CreateReportStats(options, 1, "test", engine::kWebMode);
    ASSERT_TRUE(report);
    const double day = JulianDate(2026, 5, 4);
    report->first_time = report->last_time = day + 0.25;
    report->date->AddHit(500, 0, "05/04/2026", day + 0.25, 0);
    report->client->AddHit(500, 0, "host.example.org", day + 0.25, 0);
    report->hour->AddHit(500, 0, "06", day + 0.25, 0);
    tallowick::test::TempDir dir;
    const std::vector<std::string> images = {"ReqClient.gif", "ByteDaily.gif", "Hourly.gif",
                                             "rshad.gif", "bshad.gif", "Circulation.gif"};
    report::ChartRequest request;
    request.report = report.get();
    request.settings = &run_settings;
    request.folder = dir.path();
    request.images = images;
    Progress progress;
    EXPECT_EQ(draw_report_charts(request), 1);
    std::set<std::string> written;
    for (const auto& entry : fs::directory_iterator(dir.path()))
        written.insert(entry.path().filename().string());
    // No circulation was counted, so its chart is not drawn.
    EXPECT_EQ(written, (std::set<std::string>{"ReqClient.gif", "ByteDaily.gif", "Hourly.gif",
                                              "rshad.gif", "bshad.gif"}));
    const auto decoded = test::decode_with_pil({dir / "Hourly.gif"});
    ASSERT_EQ(decoded.size(), 1u);
    EXPECT_EQ(decoded[0].width, 420);
}

TEST(ChartDriver, AbsurdPeriodsAreDrawnInBoundedTime) {
    auto run_settings = every_graph();
    run_settings.report.graphsort = 1;
    engine::ReportOptions options = engine::ReportOptions::From(run_settings);
    auto report = engine::CreateReportStats(options, 1, "test", engine::kWebMode);
    ASSERT_TRUE(report);
    ASSERT_TRUE(report->client->HasTimeRecs());
    const double first = JulianDate(1901, 1, 1) + 0.25, last = JulianDate(9990, 12, 31) + 0.25;
    report->first_time = first;
    report->last_time = last;
    report->date->AddHit(500, 0, "01/01/1901", first, 0);
    report->date->AddHit(500, 0, "12/31/9990", last, 0);
    report->client->AddHit(500, 0, "a.example.org", first, engine::kAddDayRecord);
    report->client->AddHit(500, 0, "a.example.org", last, engine::kAddDayRecord);
    tallowick::test::TempDir dir;
    report::ChartRequest request;
    request.report = report.get();
    request.settings = &run_settings;
    request.folder = dir.path();
    request.days = static_cast<int>(last - first) + 1;
    Progress progress;
    const double start = now_seconds();
    EXPECT_EQ(draw_report_charts(request), 1);
    EXPECT_LT(now_seconds() - start, 60);
    EXPECT_TRUE(fs::exists(dir / "ReqDaily.gif"));
    EXPECT_TRUE(fs::exists(dir / "ReqRecentDays.gif"));   // the last 30 days of many
    EXPECT_TRUE(fs::exists(dir / "ReqClientHist.gif"));
}

TEST(ChartDriver, WiderChartsAndTheForcedFormatOfRtfReports) {
    auto run_settings = every_graph();
    run_settings.report.wider = true;
    run_settings.report.reportformat = 1;   // RTF: BMP images
    run_settings.report.imageformat = 2;
    run_settings.report.graphsort = 1;
    engine::ReportOptions options = engine::ReportOptions::From(run_settings);
    auto report = engine::CreateReportStats(options, 1, "test", engine::kWebMode);
    ASSERT_TRUE(report);
    const double day = JulianDate(2026, 5, 4);
    report->first_time = report->last_time = day + 0.25;
    report->date->AddHit(500, 0, "05/04/2026", day + 0.25, 0);
    report->client->AddHit(500, 0, "host.example.org", day + 0.25, 0);
    tallowick::test::TempDir dir;
    report::ChartRequest request;
    request.report = report.get();
    request.settings = &run_settings;
    request.folder = dir.path();
    Progress progress;
    EXPECT_EQ(draw_report_charts(request), 1);
    const auto decoded = test::decode_with_pil(
        {dir / "ReqClient.bmp", dir / "ReqDaily.bmp", dir / "bshad.bmp"});
    ASSERT_EQ(decoded.size(), 3u);
    EXPECT_EQ(decoded[0].width, 630);
    EXPECT_EQ(decoded[1].width, 630);
    EXPECT_EQ(decoded[2].width, 630 + 14);
    EXPECT_FALSE(fs::exists(dir / "ByteClient.bmp"));
    EXPECT_FALSE(fs::exists(dir / "ReqHourly.bmp"));   // no hours counted
}

}  // namespace
}  // namespace tallowick::graph
