#include "engine/sessions.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <numeric>
#include <string>
#include <string_view>
#include <vector>

#include "base/settings.h"
#include "engine/analysis_run.h"
#include "engine/clients.h"
#include "engine/visitor_measures.h"
#include "support/test_support.h"

namespace tallowick::engine {
namespace {

constexpr double kMinute = 1.0 / 1440;

// One combined-format line on 1 November 2026 (or `day`) at hh:mm:ss.
std::string Hit(std::string_view client, std::string_view hms, std::string_view url,
                std::string_view day = "01/Nov/2026", long bytes = 100) {
    std::string line(client);
    line += " - - [";
    line += day;
    line += ':';
    line += hms;
    line += " +0000] \"GET ";
    line += url;
    line += " HTTP/1.0\" 200 " + std::to_string(bytes) +
            " \"-\" \"Mozilla/5.0 (X11; Linux x86_64)\"\n";
    return line;
}

Settings SessionSettings(int sessiontime = 30) {
    Settings s;
    s.report.stat.set_all(true);
    s.report.graph.set_all(true);
    s.analysis.ignoreusernames = true;
    s.analysis.session_tracking = true;
    s.analysis.sessiontime = sessiontime;
    return s;
}

// A run over one log whose clients are grouped as the program groups them.
class SessionRun {
public:
    explicit SessionRun(Settings settings = SessionSettings()) : settings_(std::move(settings)) {}

    ReportStats& Process(const std::string& log) {
        const auto path = dir_ / "access.log";
        tallowick::test::write_file(path, log);
        ProcessFiles({path.string()});
        EXPECT_EQ(run_->reports().size(), 1u);
        return *run_->reports().front();
    }

    AnalysisRun& ProcessFiles(std::vector<std::string> logs) {
        RunHooks hooks;
        const SettingsList* orgmap = &settings_.analysis.orgmap;
        hooks.group_clients = [orgmap](ReportStats& r) { return group_report_clients(r, *orgmap); };
        hooks.group_dropped_client = [orgmap](ReportStats& r, StatList& clients, int i) {
            group_dropped_client(r, clients, i, *orgmap);
        };
        run_ = std::make_unique<AnalysisRun>(settings_, std::move(logs), hooks);
        EXPECT_EQ(run_->Process(), 0);
        return *run_;
    }
    Settings& settings() { return settings_; }

private:
    tallowick::test::TempDir dir_;
    Settings settings_;
    std::unique_ptr<AnalysisRun> run_;
};

const StatItem* Named(const std::unique_ptr<StatList>& list, std::string_view name) {
    if (!list) return nullptr;
    for (const StatItem& item : list->Items())
        if (item.name == name) return &item;
    return nullptr;
}

// The members (misc1) of each range of a measure list, in list order.
std::vector<int> Members(const std::unique_ptr<StatList>& list) {
    std::vector<int> members;
    if (list)
        for (const StatItem& item : list->Items()) members.push_back(item.misc1);
    return members;
}

TEST(Sessions, VisitsAndTimeOnlineOfTheIssuesCases) {
    SessionRun run;
    ReportStats& r = run.Process(
        // Two visits: 10:00 to 10:20, then 11:00.
        Hit("a.example.com", "10:00:00", "/a.html") + Hit("a.example.com", "10:20:00", "/b.html") +
        Hit("single.example.com", "10:30:00", "/a.html") +
        Hit("a.example.com", "11:00:00", "/c.html") +
        // A gap of exactly the session time continues the visit.
        Hit("exact.example.com", "12:00:00", "/a.html") +
        Hit("exact.example.com", "12:30:00", "/a.html"));
    const StatItem* a = Named(r.client, "a.example.com");
    const StatItem* single = Named(r.client, "single.example.com");
    const StatItem* exact = Named(r.client, "exact.example.com");
    ASSERT_TRUE(a && single && exact);
    EXPECT_EQ(a->visits, 2);
    EXPECT_NEAR(a->timetot / kMinute, 21, 1e-3) << "the 20-minute span plus one minute";
    EXPECT_EQ(single->visits, 1);
    EXPECT_NEAR(single->timetot / kMinute, 0.5, 1e-3);
    EXPECT_EQ(exact->visits, 1);
    EXPECT_NEAR(exact->timetot / kMinute, 30.5, 1e-3);
    EXPECT_EQ(r.client->TotalVisits(), 4);
    // The list total is the sum of its clients' time.
    EXPECT_NEAR(r.client->TotalTime() / kMinute, 21 + 0.5 + 30.5, 1e-3);

    // Entry pages: a.html began three visits (the first of a, single and exact),
    // c.html one (a's second), b.html none.
    EXPECT_EQ(Named(r.pages, "/a.html")->pages, 3);
    EXPECT_EQ(Named(r.pages, "/b.html")->pages, 0);
    EXPECT_EQ(Named(r.pages, "/c.html")->pages, 1);
}

TEST(Sessions, SessionRecordsHoldVisitStartsAndPagesInOrder) {
    SessionRun run;
    ReportStats& r = run.Process(Hit("a.example.com", "10:00:00", "/a.html") +
                                 Hit("a.example.com", "10:01:00", "/logo.gif") +
                                 Hit("a.example.com", "10:02:00", "/b.html") +
                                 Hit("a.example.com", "11:00:00", "/a.html"));
    const int a = r.client->FindByHash(r.client->HashOf("a.example.com"));
    const SessionRecList* recs = r.client->SessionRecs(a);
    ASSERT_NE(recs, nullptr);
    const auto records = recs->Records();
    ASSERT_EQ(records.size(), 5u) << "start, a, b, start, a: images are not pages";
    const auto kind_of = [&](std::string_view url) {
        return page_record_kind(r.url->HashOf(url));
    };
    EXPECT_EQ(records[0].kind, 1);
    EXPECT_EQ(records[1].kind, kind_of("/a.html"));
    EXPECT_EQ(records[2].kind, kind_of("/b.html"));
    EXPECT_EQ(records[3].kind, 1);
    EXPECT_EQ(records[4].kind, kind_of("/a.html"));
    EXPECT_NEAR((records[3].value - records[0].value) / kMinute, 60, 1e-3);
    EXPECT_NEAR((records[2].value - records[0].value) / kMinute, 2, 1e-3);
    EXPECT_EQ(recs->VisitStart(), 4);
    EXPECT_EQ(recs->hash(), r.client->Hash(a));
}

TEST(Sessions, PageKindsNeverFallAmongTheSmallKinds) {
    EXPECT_EQ(page_record_kind(0), 0);
    EXPECT_EQ(page_record_kind(10), 0);
    EXPECT_EQ(page_record_kind(11), 11);
    EXPECT_EQ(page_record_kind(0xFFFFFFFFu), -1);  // negative kinds are pages too
}

TEST(Sessions, MeanPathsCountTheSequencesVisitsBeginWith) {
    SessionRun run;
    std::string log;
    // Two visits over A, B, C; one over X, B, C; one of a single page.
    for (const char* client : {"one.example.com", "two.example.com"}) {
        log += Hit(client, "10:00:00", "/A.html");
        log += Hit(client, "10:01:00", "/B.html");
        log += Hit(client, "10:02:00", "/C.html");
    }
    log += Hit("three.example.com", "10:00:00", "/X.html");
    log += Hit("three.example.com", "10:01:00", "/B.html");
    log += Hit("three.example.com", "10:02:00", "/C.html");
    log += Hit("four.example.com", "10:00:00", "/A.html");
    ReportStats& r = run.Process(log);

    // Paths are told apart by their pages, not only by their hash.
    ASSERT_EQ(r.mean_path.size(), 4u);
    struct Expected {
        std::vector<std::string_view> pages;
        int occurrences;
    };
    const Expected expected[] = {
        {{"/A.html", "/B.html"}, 2},
        {{"/A.html", "/B.html", "/C.html"}, 2},
        {{"/X.html", "/B.html"}, 1},
        {{"/X.html", "/B.html", "/C.html"}, 1},
    };
    for (std::size_t i = 0; i < r.mean_path.size(); ++i) {
        const MeanPath& path = r.mean_path[i];
        EXPECT_EQ(mean_path_pages(r, path), expected[i].pages) << i;
        EXPECT_EQ(path.occurrences, expected[i].occurrences) << i;
        EXPECT_EQ(path.steps, static_cast<int>(expected[i].pages.size()));
        EXPECT_EQ(path.start, 1) << "the first page follows the visit's start record";
    }
    // Every page counts in the hash, the first too.
    EXPECT_NE(r.mean_path[0].path_hash, r.mean_path[2].path_hash);
    EXPECT_NE(r.mean_path[1].path_hash, r.mean_path[3].path_hash);
    EXPECT_EQ(r.mean_path[0].client_hash, r.client->HashOf("one.example.com"));
    // Sorted by occurrences, most first.
    for (std::size_t i = 1; i < r.mean_path.size(); ++i)
        EXPECT_GE(r.mean_path[i - 1].occurrences, r.mean_path[i].occurrences);
}

TEST(Sessions, MeanPathsFollowAtMostEightPagesAndOnlyWhenAskedFor) {
    std::string log;
    for (int page = 0; page < 12; ++page) {
        char hms[24];
        std::snprintf(hms, sizeof hms, "10:%02d:00", page);
        log += Hit("deep.example.com", hms, "/p" + std::to_string(page) + ".html");
    }
    SessionRun run;
    ReportStats& r = run.Process(log);
    ASSERT_EQ(r.mean_path.size(), 7u) << "paths of 2 to 8 pages";
    int longest = 0;
    for (const MeanPath& path : r.mean_path) longest = std::max<int>(longest, path.steps);
    EXPECT_EQ(longest, kMeanPathSteps);

    Settings off = SessionSettings();
    off.report.stat.set(StatWord::meanpath, false);
    SessionRun without(off);
    EXPECT_TRUE(without.Process(log).mean_path.empty());

    // Streaming keeps no session records: no paths, no session depth.
    Settings streaming = SessionSettings();
    streaming.run.streaming = true;
    SessionRun streamed(streaming);
    ReportStats& s = streamed.Process(log);
    EXPECT_TRUE(s.mean_path.empty());
    EXPECT_FALSE(s.client->HasSessionRecs());
    EXPECT_EQ(s.session_depth, nullptr);
    ASSERT_NE(s.loyalty, nullptr) << "the client measures need no session records";
    EXPECT_EQ(Members(s.loyalty)[0], 1);
}

// Members (misc1) and requests of every item of a grouped list, by name.
std::map<std::string, std::pair<int, int>> MembersByName(const std::unique_ptr<StatList>& list) {
    std::map<std::string, std::pair<int, int>> by_name;
    if (list)
        for (const StatItem& item : list->Items())
            by_name[std::string(item.name)] = {item.misc1, item.req};
    return by_name;
}

TEST(VisitorMeasures, StreamingBoundsTheClientListAndCountsAReturningClientOnce) {
    // 12,000 clients in the morning, all of them again in the afternoon: pruning
    // drops most morning clients before they come back.
    constexpr int kClients = 12000;
    constexpr std::string_view kTops[] = {"com", "de", "gov", "co.uk", "org"};
    std::string log;
    for (int pass = 0; pass < 2; ++pass)
        for (int c = 0; c < kClients; ++c) {
            const int s = c + (pass ? 12 * 3600 : 0);
            char hms[16];
            std::snprintf(hms, sizeof hms, "%02d:%02d:%02d", s / 3600, s / 60 % 60, s % 60);
            log += Hit("h" + std::to_string(c) + ".site" + std::to_string(c % 7) + "." +
                           std::string(kTops[c % 5]),
                       hms, "/a.html");
        }
    Settings streaming = SessionSettings();
    streaming.analysis.orgmap.add("*.site1.com=One");
    streaming.analysis.orgmap.add("*.de=German");
    Settings plain = streaming;
    streaming.run.streaming = true;
    SessionRun run(streaming);
    const ReportStats& r = run.Process(log);
    EXPECT_LE(r.client->Count(), 5001) << "pruning leaves 3000 clients, 2001 more start the next";
    const std::vector<int> loyalty = Members(r.loyalty);
    ASSERT_GE(loyalty.size(), 2u);
    EXPECT_EQ(loyalty[0], 0) << "nobody came once";
    EXPECT_EQ(loyalty[1], kClients) << "every client came twice";
    EXPECT_EQ(r.loyalty->TotalReq(), 2 * kClients);

    // A returning client is one member of its country, organisation, second
    // domain, region and government item, as without streaming.
    SessionRun whole(plain);
    const ReportStats& w = whole.Process(log);
    for (auto list : {&ReportStats::domain, &ReportStats::org, &ReportStats::second_domain,
                      &ReportStats::region, &ReportStats::government}) {
        ASSERT_NE(r.*list, nullptr);
        EXPECT_GT((r.*list)->Count(), 0);
        EXPECT_EQ(MembersByName(r.*list), MembersByName(w.*list)) << (r.*list)->Count();
    }
    EXPECT_EQ(MembersByName(r.org)["German"], (std::pair{kClients / 5, 2 * kClients / 5}));
}

TEST(VisitorMeasures, RangesAndTheirBounds) {
    struct Case {
        Measure measure;
        double value;
        int visits;  // circulation only
        std::string_view range;
    };
    const Case cases[] = {
        {Measure::loyalty, 1, 0, "1"},          {Measure::loyalty, 2, 0, "2"},
        {Measure::loyalty, 3, 0, "3-5"},        {Measure::loyalty, 5, 0, "3-5"},
        {Measure::loyalty, 6, 0, "6-10"},       {Measure::loyalty, 20, 0, "11-20"},
        {Measure::loyalty, 50, 0, "21-50"},     {Measure::loyalty, 51, 0, "51+"},
        {Measure::timeon, 0.5, 0, "0-1 min"},   {Measure::timeon, 1, 0, "1-5 min"},
        {Measure::timeon, 21, 0, "10-30 min"},  {Measure::timeon, 59.9, 0, "30-60 min"},
        {Measure::timeon, 300, 0, "300+ min"},  {Measure::timeon, -3, 0, "0-1 min"},
        {Measure::circulation, 5, 1, "one visit"},
        {Measure::circulation, 0.2, 2, "under 1 day"},
        {Measure::circulation, 1, 2, "1-2 days"},
        {Measure::circulation, 2, 3, "2-7 days"},
        {Measure::circulation, 13.9, 3, "7-14 days"},
        {Measure::circulation, 90, 9, "90+ days"},
        {Measure::session_depth, 0, 0, "0 pages"},
        {Measure::session_depth, 1, 0, "1 page"},
        {Measure::session_depth, 5, 0, "5 pages"},
        {Measure::session_depth, 6, 0, "6-10 pages"},
        {Measure::session_depth, 10, 0, "6-10 pages"},
        {Measure::session_depth, 11, 0, "11-20 pages"},
        {Measure::session_depth, 51, 0, "51+ pages"},
    };
    for (const Case& c : cases) {
        int index = -1;
        switch (c.measure) {
            case Measure::loyalty: index = loyalty_range(static_cast<int>(c.value)); break;
            case Measure::timeon: index = timeon_range(c.value); break;
            case Measure::circulation: index = circulation_range(c.visits, c.value); break;
            case Measure::session_depth: index = session_depth_range(static_cast<int>(c.value)); break;
        }
        const auto ranges = measure_ranges(c.measure);
        ASSERT_GE(index, 0);
        ASSERT_LT(static_cast<std::size_t>(index), ranges.size());
        EXPECT_EQ(ranges[static_cast<std::size_t>(index)], c.range) << c.value;
    }
}

TEST(VisitorMeasures, ClientsByVisitsRegularityAndTimeOnline) {
    SessionRun run;
    std::string log;
    // Three visits two days apart, each of 10 minutes.
    for (const char* day : {"01/Nov/2026", "03/Nov/2026", "05/Nov/2026"}) {
        log += Hit("regular.example.com", "08:00:00", "/a.html", day);
        log += Hit("regular.example.com", "08:10:00", "/b.html", day);
    }
    log += Hit("once.example.com", "09:00:00", "/a.html");
    // Two visits on one day; the second is still open at the end of the log.
    log += Hit("twice.example.com", "09:00:00", "/a.html");
    log += Hit("twice.example.com", "12:00:00", "/a.html");
    log += Hit("twice.example.com", "12:20:00", "/b.html", "01/Nov/2026", 500);
    ReportStats& r = run.Process(log);

    // Loyalty: 1, 2, 3-5, ...
    EXPECT_EQ(Members(r.loyalty), (std::vector<int>{1, 1, 1, 0, 0, 0, 0}));
    const StatItem* three = Named(r.loyalty, "3-5");
    ASSERT_NE(three, nullptr);
    EXPECT_EQ(three->req, 6);
    EXPECT_EQ(three->visits, 3);
    EXPECT_DOUBLE_EQ(three->bytes, 600);
    // Time online counts the open visit too: regular 11 + 11 + 11 minutes;
    // once half a minute; twice 1 + 21.
    EXPECT_EQ(Members(r.timeon), (std::vector<int>{1, 0, 0, 1, 1, 0, 0, 0}));
    EXPECT_NEAR(Named(r.timeon, "10-30 min")->timetot / kMinute, 22, 1e-3);
    EXPECT_NEAR(Named(r.timeon, "30-60 min")->timetot / kMinute, 33, 1e-3);
    EXPECT_NEAR(Named(r.timeon, "0-1 min")->timetot / kMinute, 0.5, 1e-3);
    EXPECT_EQ(Named(r.timeon, "10-30 min")->misc1, 1);
    // Circulation: once has one visit, twice's visits are 3 hours apart,
    // regular's 2 days.
    EXPECT_EQ(Members(r.circulation), (std::vector<int>{1, 1, 0, 1, 0, 0, 0, 0}));
    // Every hit of the report belongs to one client of each measure.
    EXPECT_EQ(r.loyalty->TotalReq(), 10);
    EXPECT_EQ(r.timeon->TotalReq(), 10);
    EXPECT_EQ(r.circulation->TotalMisc1(), 3) << "the Visitors total: every client once";

    // Session depth: visits by pages (every hit here is a page).
    ASSERT_NE(r.session_depth, nullptr);
    EXPECT_EQ(Members(r.session_depth), (std::vector<int>{0, 2, 4, 0, 0, 0, 0, 0, 0, 0}));
    const StatItem* two = Named(r.session_depth, "2 pages");
    EXPECT_EQ(two->req, 8);
    EXPECT_EQ(two->pages, 8);
    EXPECT_DOUBLE_EQ(two->bytes, 3 * 200 + 600);
    EXPECT_NEAR(two->timetot / kMinute, 10 + 10 + 10 + 20, 1e-3);
    const SessionDepthChart& chart = r.session_depth_chart;
    EXPECT_EQ(chart.visits, 6);
    EXPECT_EQ(chart.pages, 10);
    ASSERT_EQ(chart.minutes.size(), SessionDepthChart::kLastMinute + 1u);
    EXPECT_EQ(chart.minutes[0].visits, 2);
    EXPECT_EQ(chart.minutes[10].visits, 3);
    EXPECT_EQ(chart.minutes[10].pages, 6);
    EXPECT_EQ(chart.minutes[20].visits, 1);
    EXPECT_EQ(chart.minutes[20].max_pages, 2);
    EXPECT_EQ(chart.longest, 20);
}

TEST(VisitorMeasures, RegroupingCountsEveryClientOnceAndKeepsDroppedOnes) {
    SessionRun run;
    ReportStats& r = run.Process(Hit("a.example.com", "10:00:00", "/a.html") +
                                 Hit("b.example.com", "10:00:00", "/a.html") +
                                 Hit("b.example.com", "11:00:00", "/a.html"));
    ASSERT_EQ(Members(r.loyalty)[0] + Members(r.loyalty)[1], 2);
    // A daemon cycle groups again: the measures are made afresh, not doubled.
    ASSERT_EQ(group_report_clients(r, SettingsList{}), 0);
    EXPECT_EQ(Members(r.loyalty), (std::vector<int>{1, 1, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Members(r.session_depth)[1], 3);

    // A client that pruning drops stays counted once it is gone from the list.
    const int a = r.client->FindByHash(r.client->HashOf("a.example.com"));
    group_dropped_client(r, *r.client, a, SettingsList{});
    auto fresh = StatList::Create(&r, 10, r.client->Options());
    fresh->SetHasSessionRecs(true);
    fresh->Merge(*r.client, r.client->FindByHash(r.client->HashOf("b.example.com")));
    r.client = std::move(fresh);
    ASSERT_EQ(group_report_clients(r, SettingsList{}), 0);
    EXPECT_EQ(Members(r.loyalty), (std::vector<int>{1, 1, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Members(r.session_depth)[1], 3);
}

// Every log of the real-log folder: each hit of a client belongs to exactly one
// visit, each client to one range of each measure, and no path began more
// visits than there were.
TEST(VisitorMeasures, RealLogsAddUp) {
    const auto dir = tallowick::test::shared_logs_dir();
    if (!dir) GTEST_SKIP() << "no shared logs folder";
    std::vector<std::string> logs;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(*dir))
        if (entry.is_regular_file() && entry.path().extension() != ".md")
            logs.push_back(entry.path().string());
    ASSERT_FALSE(logs.empty());
    Settings settings = SessionSettings(10);
    settings.run.multidomains = 1;  // one report per log
    SessionRun run(settings);
    const AnalysisRun& analysed = run.ProcessFiles(logs);
    ASSERT_EQ(analysed.reports().size(), logs.size());
    std::int64_t visits_seen = 0;
    for (const auto& r : analysed.reports()) {
        SCOPED_TRACE(r->name);
        ASSERT_TRUE(r->client && r->loyalty && r->timeon && r->circulation && r->session_depth);
        const StatList& clients = *r->client;
        auto sum = [](const std::unique_ptr<StatList>& list, auto field) {
            std::int64_t total = 0;
            for (const StatItem& item : list->Items()) total += field(item);
            return total;
        };
        const auto members = [](const StatItem& i) { return std::int64_t{i.misc1}; };
        const auto requests = [](const StatItem& i) { return std::int64_t{i.req}; };
        for (const auto* measure : {&r->loyalty, &r->timeon, &r->circulation}) {
            EXPECT_EQ(sum(*measure, members), clients.Count());
            EXPECT_EQ(sum(*measure, requests), clients.TotalReq());
        }
        EXPECT_EQ(sum(r->session_depth, members), clients.TotalVisits());
        EXPECT_EQ(sum(r->session_depth, requests), clients.TotalReq());
        EXPECT_EQ(sum(r->session_depth, [](const StatItem& i) { return std::int64_t{i.pages}; }),
                  clients.TotalPages());
        EXPECT_EQ(r->session_depth_chart.visits, clients.TotalVisits());
        std::int64_t began = 0;
        for (const MeanPath& path : r->mean_path) {
            EXPECT_GE(path.steps, 2);
            EXPECT_LE(path.steps, kMeanPathSteps);
            if (path.steps == 2) began += path.occurrences;
            for (std::string_view page : mean_path_pages(*r, path)) EXPECT_FALSE(page.empty());
        }
        EXPECT_LE(began, clients.TotalVisits());
        visits_seen += clients.TotalVisits();
    }
    EXPECT_GT(visits_seen, 100);
}

TEST(Sessions, VisitColumnsOfDaysMonthsPagesAndCountries) {
    SessionRun run;
    ReportStats& r = run.Process(
        Hit("a.example.com", "23:50:00", "/a.html") + Hit("b.example.de", "23:55:00", "/a.html") +
        // a's first visit goes on past midnight; its second starts at 03:00.
        Hit("a.example.com", "00:05:00", "/b.html", "02/Nov/2026") +
        Hit("a.example.com", "03:00:00", "/a.html", "02/Nov/2026"));
    const StatItem* first = Named(r.date, "11/01/2026");
    const StatItem* second = Named(r.date, "11/02/2026");
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->visits, 2);
    EXPECT_EQ(first->misc1, 2);
    EXPECT_EQ(second->visits, 1) << "a visit counts on the day it starts";
    EXPECT_EQ(second->misc1, 1);
    EXPECT_EQ(Named(r.month, "11/2026")->visits, 3);
    EXPECT_EQ(Named(r.month, "11/2026")->misc1, 2);
    EXPECT_EQ(Named(r.wday, "Monday")->visits, 1);

    const StatItem* a = Named(r.pages, "/a.html");
    const StatItem* b = Named(r.pages, "/b.html");
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->visits, 3);
    EXPECT_EQ(a->misc1, 2);
    EXPECT_NEAR(a->timetot / kMinute, 15, 1e-3) << "until b.html in the same visit";
    EXPECT_EQ(b->visits, 1);
    EXPECT_EQ(b->misc1, 1);
    EXPECT_NEAR(b->timetot, 0, 1e-9);
    EXPECT_NEAR(r.pages->TotalTime() / kMinute, 15, 1e-3);

    ASSERT_TRUE(r.domain && r.region);
    EXPECT_EQ(r.domain->TotalMisc1(), 2);
    EXPECT_EQ(Named(r.region, "Europe")->misc1, 1);

    // Grouping again (a daemon's next cycle) gives the same page figures.
    ASSERT_EQ(group_report_clients(r, run.settings().analysis.orgmap), 0);
    EXPECT_EQ(Named(r.pages, "/a.html")->visits, 3);
    EXPECT_EQ(Named(r.pages, "/a.html")->misc1, 2);
}

// Visits and visitors per day, counted from the raw lines of a sorted real log
// by the session rule (a gap above the session time starts a visit).
TEST(Sessions, DailyVisitsOfARealLogMatchTheLines) {
    const auto dir = tallowick::test::shared_logs_dir();
    if (!dir) GTEST_SKIP() << "no shared logs folder";
    const auto path = *dir / "combined" / "basjes_nl_2015-10_hackers_combined.log";
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "log missing";
    std::map<std::string, int> visits, visitors;
    std::map<std::string, long> last_seen;             // client -> seconds
    std::set<std::pair<std::string, std::string>> seen_on;  // (day, client)
    std::ifstream in(path);
    int lines = 0;
    for (std::string line; std::getline(in, line);) {
        const std::size_t open = line.find('[');
        ASSERT_NE(open, std::string::npos);
        const std::string client = line.substr(0, line.find(' '));
        const std::string when = line.substr(open + 1, 20);  // 25/Oct/2015:04:11:25
        const std::string day = "10/" + when.substr(0, 2) + "/2015";
        const long seconds = std::stol(when.substr(0, 2)) * 86400 +
                             std::stol(when.substr(12, 2)) * 3600 +
                             std::stol(when.substr(15, 2)) * 60 + std::stol(when.substr(18, 2));
        const auto last = last_seen.find(client);
        if (last == last_seen.end() || seconds - last->second > 10 * 60) ++visits[day];
        last_seen[client] = seconds;
        if (seen_on.emplace(day, client).second) ++visitors[day];
        ++lines;
    }
    SessionRun run(SessionSettings(10));
    const AnalysisRun& analysed = run.ProcessFiles({path.string()});
    ASSERT_EQ(analysed.reports().size(), 1u);
    const ReportStats& r = *analysed.reports().front();
    ASSERT_EQ(r.date->TotalReq(), lines) << "every line is a hit";
    int day_visits = 0;
    for (const auto& [day, count] : visits) {
        SCOPED_TRACE(day);
        const StatItem* item = Named(r.date, day);
        ASSERT_TRUE(item);
        EXPECT_EQ(item->visits, count);
        EXPECT_EQ(item->misc1, visitors[day]);
        day_visits += item->visits;
    }
    EXPECT_EQ(day_visits, r.client->TotalVisits());
    EXPECT_EQ(r.domain->TotalMisc1(), r.client->Count()) << "country visitors are the clients";
}

// Country visitors of a real log of host names: the distinct hosts of each
// country, counted from the raw lines.
TEST(Sessions, CountryVisitorsOfARealLogMatchTheLines) {
    const auto dir = tallowick::test::shared_logs_dir();
    if (!dir) GTEST_SKIP() << "no shared logs folder";
    const auto path = *dir / "clf" / "nasa_ksc_1995-07_random1000_UNSORTED.log";
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "log missing";
    std::map<std::string, std::set<std::string>> hosts;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        // A request of other than three words ("GET /  HTTP/1.0") is malformed.
        const std::size_t open = line.find('"'), close = line.find('"', open + 1);
        const std::string request = line.substr(open + 1, close - open - 1);
        if (request.find("  ") != std::string::npos || request.back() == ' ') continue;
        const std::string host = line.substr(0, line.find(' '));
        hosts[std::string(country_of(host).name)].insert(host);
    }
    SessionRun run(SessionSettings(10));
    const ReportStats& r = *run.ProcessFiles({path.string()}).reports().front();
    ASSERT_GT(hosts.size(), 5u);
    for (const auto& [country, members] : hosts) {
        SCOPED_TRACE(country);
        const StatItem* item = Named(r.domain, country);
        ASSERT_TRUE(item);
        EXPECT_EQ(item->misc1, static_cast<int>(members.size()));
    }
    EXPECT_EQ(r.domain->TotalMisc1(), r.client->Count());
}

}  // namespace
}  // namespace tallowick::engine
