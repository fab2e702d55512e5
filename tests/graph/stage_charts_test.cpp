// The 3D day charts on a stage: the comparison of reports, the stacked history
// and the government history chart of the driver. Images are read back with the
// independent decoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <set>

#include "base/julian_date.h"
#include "base/status.h"
#include "engine/analysis_run.h"
#include "engine/clients.h"
#include "engine/report_stats.h"
#include "engine/stat_list.h"
#include "graph/chart_spec.h"
#include "graph/charts.h"
#include "graph_test_support.h"
#include "report/chart_seam.h"
#include "support/test_support.h"

namespace tallowick::graph {
namespace {

namespace fs = std::filesystem;
using engine::ReportStats;
using engine::StatList;

struct Rgb {
    std::uint8_t r, g, b;
    bool operator==(const Rgb&) const = default;
};
Rgb rgb_of(PackedColor c) {
    return {std::uint8_t(c >> 16), std::uint8_t((c >> 8) & 0xFF), std::uint8_t(c & 0xFF)};
}

// A decoded picture, asked by colour.
struct Picture {
    test::DecodedImage image;
    Rgb at(int x, int y) const {
        const std::size_t i = (std::size_t(y) * std::size_t(image.width) + std::size_t(x)) * 3;
        return {image.rgb[i], image.rgb[i + 1], image.rgb[i + 2]};
    }
    long count(PackedColor c) const {
        long n = 0;
        for (int y = 0; y < image.height; ++y)
            for (int x = 0; x < image.width; ++x) n += at(x, y) == rgb_of(c);
        return n;
    }
    // Leftmost, rightmost and topmost pixel of a colour; -1 when absent.
    int min_x(PackedColor c) const {
        for (int x = 0; x < image.width; ++x)
            for (int y = 0; y < image.height; ++y)
                if (at(x, y) == rgb_of(c)) return x;
        return -1;
    }
    int max_x(PackedColor c) const {
        for (int x = image.width - 1; x >= 0; --x)
            for (int y = 0; y < image.height; ++y)
                if (at(x, y) == rgb_of(c)) return x;
        return -1;
    }
    int min_y(PackedColor c) const {
        for (int y = 0; y < image.height; ++y)
            for (int x = 0; x < image.width; ++x)
                if (at(x, y) == rgb_of(c)) return y;
        return -1;
    }
    // The pixels of a colour in column x.
    int run(int x, PackedColor c) const {
        int n = 0;
        for (int y = 0; y < image.height; ++y) n += at(x, y) == rgb_of(c);
        return n;
    }
};

Picture decode(const fs::path& file) {
    // TALLOWICK_CHART_DIR keeps a copy of each image to look at.
    if (const char* keep = std::getenv("TALLOWICK_CHART_DIR")) {
        static int n = 0;
        std::error_code ec;
        fs::copy_file(file, fs::path(keep) / (std::to_string(++n) + "-" + file.filename().string()),
                      fs::copy_options::overwrite_existing, ec);
    }
    auto decoded = test::decode_with_pil({file});
    EXPECT_EQ(decoded.size(), 1u);
    if (decoded.empty()) return {};
    EXPECT_EQ(decoded[0].error, "");
    return {decoded[0]};
}

constexpr PackedColor kFloor = 0xC6C6CC, kBackWall = 0x9B9B9B;
const PackedColor kLeftWall = color_scale(80, 0x9B9B9B);
// The band faces of the comparison, by rank of the report's total.
constexpr std::array<PackedColor, 8> kSeriesFaces = {0xCC0033, 0xFF6600, 0xCC9900, 0x669900,
                                                     0x006633, 0x000099, 0x3333FF, 0x990099};

const double kFirstDay = JulianDate(2026, 3, 1);

// A report whose date list holds `requests[d]` requests on day d from kFirstDay.
std::unique_ptr<ReportStats> report_of(std::string name, const std::vector<int>& requests) {
    auto r = std::make_unique<ReportStats>();
    r->name = std::move(name);
    r->date = StatList::Create(r.get(), 16);
    for (std::size_t d = 0; d < requests.size(); ++d) {
        const CalendarTime t = CalendarFromJulian(kFirstDay + double(d) + 0.5);
        char label[16];
        std::snprintf(label, sizeof label, "%02d/%02d/%04d", t.month, t.day, t.year);
        for (int i = 0; i < requests[d]; ++i)
            r->date->AddHit(100, 0, label, kFirstDay + double(d) + 0.25, 0);
    }
    r->first_time = kFirstDay + 0.25;
    r->last_time = kFirstDay + double(std::max<std::size_t>(1, requests.size()) - 1) + 0.25;
    return r;
}

struct Drawn {
    tallowick::test::TempDir dir;
    bool written = false;
    Picture picture;
};

std::unique_ptr<Drawn> compare(const std::vector<const ReportStats*>& reports,
                               int value_kind = kValueRequests) {
    auto d = std::make_unique<Drawn>();
    ChartTarget target;
    target.output.out_dir = d->dir.path();
    d->written = draw_comparison_chart(reports, value_kind, target,
                                       comparison_image_name(value_kind));
    if (d->written) d->picture = decode(d->dir / (comparison_image_name(value_kind) + ".gif"));
    return d;
}

TEST(ComparisonChart, OneBandPerReportInProportionOnAFloorWithWalls) {
    // One report: its day heights follow its values.
    auto single = report_of("only", {40, 80, 20, 80});
    auto one = compare({single.get()});
    ASSERT_TRUE(one->written);
    const Picture& p = one->picture;
    EXPECT_EQ(p.image.width, 420);
    EXPECT_EQ(p.image.height, 350);
    // Floor, a back wall across the width and a narrow side wall at the left.
    EXPECT_GT(p.count(kFloor), 200);
    EXPECT_GT(p.count(kBackWall), 10000);
    EXPECT_GT(p.max_x(kBackWall) - p.min_x(kBackWall), 200);
    EXPECT_GT(p.count(kLeftWall), 100);
    EXPECT_LT(p.max_x(kLeftWall), 80);
    const PackedColor face = kSeriesFaces[0];
    const int x0 = p.min_x(face), x1 = p.max_x(face);
    ASSERT_GT(x1 - x0, 100);
    auto height_on = [&](int day) { return p.run(x0 + (x1 - x0) * day / 3, face); };
    const int tallest = std::max(height_on(1), p.run(x0 + (x1 - x0) / 3 - 1, face));
    EXPECT_NEAR(tallest, 130, 3);
    EXPECT_NEAR(height_on(0) * 2, tallest, 4);
    EXPECT_NEAR(height_on(2) * 4, tallest, 6);
    for (std::size_t k = 1; k < kSeriesFaces.size(); ++k) EXPECT_EQ(p.count(kSeriesFaces[k]), 0);

    // Three reports: a band each, the largest at the back (highest up), named.
    auto small = report_of("small", {5, 5, 5, 5});
    auto large = report_of("large", {50, 60, 70, 80});
    auto middle = report_of("middle", {20, 20, 20, 20});
    auto three = compare({small.get(), large.get(), middle.get()});
    ASSERT_TRUE(three->written);
    const Picture& q = three->picture;
    for (std::size_t k = 0; k < 3; ++k) EXPECT_GT(q.count(kSeriesFaces[k]), 50) << k;
    EXPECT_EQ(q.count(kSeriesFaces[3]), 0);
    EXPECT_LT(q.min_y(kSeriesFaces[0]), q.min_y(kSeriesFaces[1]));
    EXPECT_LT(q.min_y(kSeriesFaces[1]), q.min_y(kSeriesFaces[2]));
    // Back bands sit further right (a quarter of their depth).
    EXPECT_GT(q.min_x(kSeriesFaces[0]), q.min_x(kSeriesFaces[2]));
}

TEST(ComparisonChart, TheValueKindChoosesTheMeasureAndTheName) {
    // By bytes, the report with fewer but larger requests leads.
    auto many = report_of("many", {10, 10});
    auto big = std::make_unique<ReportStats>();
    big->name = "big";
    big->date = StatList::Create(big.get(), 4);
    const CalendarTime t = CalendarFromJulian(kFirstDay + 0.5);
    char label[16];
    std::snprintf(label, sizeof label, "%02d/%02d/%04d", t.month, t.day, t.year);
    big->date->AddHit(1000000, 0, label, kFirstDay + 0.25, 0);
    big->first_time = big->last_time = kFirstDay + 0.25;
    auto bytes = compare({many.get(), big.get()}, kValueBytes);
    ASSERT_TRUE(bytes->written);
    EXPECT_TRUE(fs::exists(bytes->dir / "ByteCompare.gif"));
    // "big" ranks first by bytes: its single day is the tallest band.
    auto requests = compare({many.get(), big.get()}, kValueRequests);
    ASSERT_TRUE(requests->written);
    EXPECT_TRUE(fs::exists(requests->dir / "ReqCompare.gif"));
    const int big_top_bytes = bytes->picture.min_y(kSeriesFaces[0]);
    const int big_top_requests = requests->picture.min_y(kSeriesFaces[1]);
    EXPECT_LT(big_top_bytes, big_top_requests);

    // Wider charts are 630 x 525.
    tallowick::test::TempDir dir;
    ChartTarget wide;
    wide.wider = true;
    wide.output.out_dir = dir.path();
    const std::vector<const ReportStats*> both = {many.get(), big.get()};
    ASSERT_TRUE(draw_comparison_chart(both, kValuePages, wide, comparison_image_name(kValuePages)));
    const Picture p = decode(dir / "Compare.gif");
    EXPECT_EQ(p.image.width, 630);
    EXPECT_EQ(p.image.height, 525);
    EXPECT_GT(p.count(kSeriesFaces[0]), 100);
    // A stop request draws nothing.
    wide.stop_requested = [] { return true; };
    EXPECT_FALSE(draw_comparison_chart(both, kValuePages, wide, "Stopped"));
    EXPECT_FALSE(fs::exists(dir / "Stopped.gif"));
}

TEST(ComparisonChart, NoneOneOrThousandsOfReportsAndHostileDates) {
    // No report at all, and only null entries: the empty stage.
    auto none = compare({});
    ASSERT_TRUE(none->written);
    EXPECT_GT(none->picture.count(kBackWall), 1000);
    for (const PackedColor face : kSeriesFaces) EXPECT_EQ(none->picture.count(face), 0);
    EXPECT_TRUE(compare({nullptr, nullptr})->written);

    // A report without a date list still counts as a (flat) series.
    auto bare = std::make_unique<ReportStats>();
    bare->name = "bare";
    EXPECT_TRUE(compare({bare.get()})->written);

    // Dates no log can have, over thousands of years: bounded work.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<std::unique_ptr<ReportStats>> hostile;
    for (const auto& [first, last] : std::vector<std::pair<double, double>>{
             {0, 0}, {-5, 1e300}, {nan, inf}, {JulianDate(1901, 1, 1), JulianDate(9990, 12, 31)},
             {JulianDate(2999, 1, 1), JulianDate(1970, 1, 1)}}) {
        auto r = report_of("hostile", {3, 4});
        r->first_time = first;
        r->last_time = last;
        hostile.push_back(std::move(r));
    }
    std::vector<const ReportStats*> views;
    for (const auto& r : hostile) views.push_back(r.get());
    double start = now_seconds();
    EXPECT_TRUE(compare(views)->written);
    EXPECT_LT(now_seconds() - start, 20);

    // A spec asking for any number of days draws at most a year of them.
    for (const int divisions : {std::numeric_limits<int>::max(), -7}) {
        ChartSpec spec = stage_preset(false, 1, kComparison);
        spec.reports = views;
        spec.x_divisions = divisions;
        start = now_seconds();
        EXPECT_TRUE(chart_render(ChartTarget{}, spec));
        spec.kind = kStackedHistory;
        auto empty = StatList::Create(nullptr, 4);
        spec.list = empty.get();
        EXPECT_TRUE(chart_render(ChartTarget{}, spec));
        EXPECT_LT(now_seconds() - start, 10);
    }

    // 2000 reports: the eight largest are drawn.
    std::vector<std::unique_ptr<ReportStats>> reports;
    std::vector<const ReportStats*> all;
    for (int i = 0; i < engine::kMaxReports; ++i) {
        reports.push_back(report_of("r" + std::to_string(i), {1 + i % 50, 2, 1 + i % 7}));
        all.push_back(reports.back().get());
    }
    start = now_seconds();
    auto many = compare(all);
    EXPECT_LT(now_seconds() - start, 30);
    ASSERT_TRUE(many->written);
    for (const PackedColor face : kSeriesFaces) EXPECT_GT(many->picture.count(face), 20);
}

// Two real logs twenty years apart: the axis is the last year, in which only the
// later log has days; both reports still get their band.
TEST(ComparisonChart, RealLogsOfDifferentYears) {
    const auto logs = tallowick::test::shared_logs_dir();
    const char* names[] = {"clf/nasa_ksc_1995-07_random1000_UNSORTED.log",
                           "combined/basjes_nl_2015-10_hackers_combined.log"};
    if (!logs || !fs::exists(*logs / names[0]) || !fs::exists(*logs / names[1]))
        GTEST_SKIP() << "no real logs here";
    Settings settings;
    std::vector<std::unique_ptr<engine::AnalysisRun>> runs;
    std::vector<const ReportStats*> reports;
    for (const char* name : names) {
        runs.push_back(std::make_unique<engine::AnalysisRun>(
            settings, std::vector<std::string>{(*logs / name).string()}));
        ASSERT_EQ(runs.back()->Process(), 0);
        ASSERT_EQ(runs.back()->reports().size(), 1u);
        reports.push_back(runs.back()->reports()[0].get());
    }
    auto drawn = compare(reports);
    ASSERT_TRUE(drawn->written);
    const Picture& p = drawn->picture;
    // The later log ranks first; the earlier one lies flat in front, its top
    // edge (the light colour of the second series) a line across the floor.
    EXPECT_GT(p.count(kSeriesFaces[0]), 200);
    EXPECT_LT(p.count(kSeriesFaces[1]), 50);
    EXPECT_GT(p.max_x(0xFFCC99) - p.min_x(0xFFCC99), 200);
}

// ---- stacked history ------------------------------------------------------------

TEST(StackedHistoryChart, LayersStackInProportionLargestAtTheBottom) {
    auto list = StatList::Create(nullptr, 8);
    list->SetHasTimeRecs(true);
    // Requests per day of three items over four days.
    const std::vector<std::pair<std::string_view, std::vector<int>>> items = {
        {"small", {4, 4, 4, 4}}, {"large", {16, 16, 16, 16}}, {"middle", {8, 8, 8, 8}}};
    for (const auto& [name, per_day] : items)
        for (std::size_t d = 0; d < per_day.size(); ++d)
            for (int i = 0; i < per_day[d]; ++i)
                list->AddHit(10, 0, name, kFirstDay + double(d) + 0.25, engine::kAddDayRecord);
    ChartTarget target;
    tallowick::test::TempDir dir;
    target.output.out_dir = dir.path();
    ChartSpec spec = stage_preset(false, 4, kStackedHistory);
    spec.list = list.get();
    spec.first_day = kFirstDay;
    spec.value_kind = kValueRequests;
    spec.base_name = "Stacked";
    spec.title = "Stacked";
    ASSERT_EQ(chart_draw(target, spec), 1);
    const Picture p = decode(dir / "Stacked.gif");
    ASSERT_EQ(p.image.width, 420);
    EXPECT_GT(p.count(kFloor), 500);
    EXPECT_GT(p.count(kLeftWall), 60);
    // Layer colours by rank: large, middle, small; 4 : 2 : 1 of a stack of 28
    // on a 130-pixel wall whose scale runs to 30.
    const std::array<PackedColor, 3> faces = {0xFF0033, 0xFF8C00, 0xFFCC33};
    const int x0 = p.min_x(faces[0]), x1 = p.max_x(faces[0]);
    ASSERT_GT(x1 - x0, 100);
    const int x = (x0 + x1) / 2;
    const int large = p.run(x, faces[0]), middle = p.run(x, faces[1]), small = p.run(x, faces[2]);
    EXPECT_NEAR(large + middle + small, 130 * 28 / 30, 5);
    EXPECT_NEAR(large, 2 * middle, 4);
    EXPECT_NEAR(middle, 2 * small, 4);
    // Bottom to top: large, then middle, then small.
    auto top_in_column = [&](PackedColor c) {
        for (int y = 0; y < p.image.height; ++y)
            if (p.at(x, y) == rgb_of(c)) return y;
        return -1;
    };
    EXPECT_GT(top_in_column(faces[0]), top_in_column(faces[1]));
    EXPECT_GT(top_in_column(faces[1]), top_in_column(faces[2]));

    // An empty list and a single day draw without failing.
    auto empty = StatList::Create(nullptr, 4);
    empty->SetHasTimeRecs(true);
    spec.list = empty.get();
    EXPECT_TRUE(chart_render(target, spec));
    spec.list = list.get();
    spec.x_divisions = 0;
    EXPECT_TRUE(chart_render(target, spec));
}

// ---- the government history of the driver ----------------------------------------

TEST(GovernmentHistoryChart, TheDriverDrawsTheGroupedGovernmentClients) {
    Settings settings;
    settings.report.graph.set_all(false);
    settings.report.graph.set(StatWord::govthistory, true);
    settings.report.graphsort = 1;
    auto report = engine::CreateReportStats(engine::ReportOptions::From(settings), 1, "test",
                                            engine::kWebMode);
    ASSERT_TRUE(report);
    for (int d = 0; d < 5; ++d) {
        const double when = kFirstDay + d + 0.25;
        for (int i = 0; i <= d; ++i)
            report->client->AddHit(100, 0, "www.nasa.gov", when, engine::kAddDayRecord);
        report->client->AddHit(100, 0, "army.mil", when, engine::kAddDayRecord);
        report->client->AddHit(100, 0, "www.example.com", when, engine::kAddDayRecord);
    }
    report->first_time = kFirstDay + 0.25;
    report->last_time = kFirstDay + 4.25;
    ASSERT_EQ(engine::group_report_clients(*report, SettingsList{}), 0);
    ASSERT_EQ(report->government->Count(), 2);

    tallowick::test::TempDir dir;
    report::ChartRequest request;
    request.report = report.get();
    request.settings = &settings;
    request.folder = dir.path();
    request.days = 5;
    EXPECT_EQ(draw_report_charts(request), 1);
    ASSERT_TRUE(fs::exists(dir / "ReqGovtHist.gif"));
    EXPECT_FALSE(fs::exists(dir / "ReqClientHist.gif"));   // clienthistory is off
    const Picture p = decode(dir / "ReqGovtHist.gif");
    EXPECT_EQ(p.image.width, 420);
    // Two bands, in the first two item colours; nothing for the third.
    EXPECT_GT(p.count(0xFF0033), 100);
    EXPECT_GT(p.count(0xFF8C00), 100);
    EXPECT_EQ(p.count(0xFFCC33), 0);
}

}  // namespace
}  // namespace tallowick::graph
