#include "engine/history_db.h"

#include <gtest/gtest.h>

#include "engine/clients.h"
#include "run_fixture.h"

namespace tallowick::engine::test {
namespace {

// A log with what the tables keep: several days, clients that come back,
// pages, downloads, errors, search referrers and a few agents.
std::string MixedLog(int first_client = 0, int clients = 12) {
    static constexpr const char* kAgents[] = {
        "Mozilla/5.0 (Windows NT 10.0; Win64; x64) Firefox/120.0",
        "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15) Safari/605.1",
        "Googlebot/2.1 (+http://www.google.com/bot.html)"};
    static constexpr const char* kUrls[] = {"/", "/index.html", "/a/page.html", "/img/x.gif",
                                            "/files/tool.zip", "/missing.html"};
    std::string log;
    for (int day = 1; day <= 3; ++day)
        for (int c = first_client; c < first_client + clients; ++c)
            for (int k = 0; k < 3; ++k) {
                char when[40];
                std::snprintf(when, sizeof when, "%02d/Mar/2024:%02d:%02d:%02d +0000", day,
                              (c * 3 + k) % 24, (c * 7 + k * 11) % 60, k * 13);
                const int u = (c + k + day) % 6;
                const std::string client = c % 4 == 0 ? "10.0.0." + std::to_string(c)
                                                      : "host" + std::to_string(c) + ".example." +
                                                            (c % 2 ? "de" : "gov");
                log += CombinedLine(client, when, std::string("GET ") + kUrls[u] + " HTTP/1.0",
                                    u == 5 ? 404 : 200, 100 * (c + 1) + k,
                                    k == 1 ? "http://www.google.com/search?q=tallow+wick" : "-",
                                    kAgents[(c + day) % 3]);
            }
    return log;
}

RunHooks GroupingHooks() {
    RunHooks hooks;
    static const SettingsList kNoOrgs;
    hooks.group_clients = [](ReportStats& r) { return group_report_clients(r, kNoOrgs); };
    return hooks;
}

const StatList* List(const ReportStats& r, std::string_view section) {
    const StatList* found = nullptr;
    const_cast<ReportStats&>(r).ForEachList([&](std::string_view s, StatList& l) {
        if (s == section && !found) found = &l;
    });
    return found;
}

TEST(HistoryDatabase, EveryKeptValueReadsBackAsItWasWritten) {
    RecordingSink sink;
    RunOnText t;
    t.hooks() = GroupingHooks();
    t.AddLog("access.log", MixedLog());
    t.Process();
    ASSERT_EQ(t.report_count(), 1u);
    const std::string saved = HistoryText(t.run().reports());

    LoadedHistory loaded = ParseHistory(saved, t.run().options());
    ASSERT_TRUE(loaded.damage.empty()) << loaded.damage.front().what;
    ASSERT_EQ(loaded.reports.size(), 1u);
    // Written again, the loaded report gives the same file: names, counters,
    // times, day and session records and list totals all came back.
    EXPECT_EQ(HistoryText(loaded.reports), saved);
    EXPECT_EQ(loaded.reports[0]->format_code, kDatabaseFormat);
    // Visit times come back exactly, the first client's (the base itself) too.
    const StatList& was = *t.report().client;
    const StatList& is = *loaded.reports[0]->client;
    for (int i = 0; i < was.Count(); ++i) {
        EXPECT_EQ(is.Item(i)->timefirst, was.Item(i)->timefirst) << was.Name(i);
        EXPECT_EQ(is.TimeIn(i), was.TimeIn(i)) << was.Name(i);
    }
    // Lists saved as hashes get their names back from the file list and tables.
    for (std::string_view section : {"pages", "down", "oper", "err", "reg", "domain"}) {
        const StatList* was = List(t.report(), section);
        const StatList* is = List(*loaded.reports[0], section);
        ASSERT_TRUE(was && is && was->Count() > 0) << section;
        ASSERT_EQ(is->Count(), was->Count()) << section;
        for (int i = 0; i < was->Count(); ++i) EXPECT_EQ(is->Name(i), was->Name(i)) << section;
    }
}

TEST(HistoryDatabase, FormatRulesForTimesShortLinesAndEmptyLists) {
    RecordingSink sink;
    RunOnText t;
    t.AddLog("access.log", MixedLog(0, 2));
    t.Process();
    ASSERT_NE(t.report().month, nullptr);
    ASSERT_TRUE(t.report().addhit && t.report().addhit->Count() == 0);  // no advert pattern
    const std::string saved = HistoryText(t.run().reports());
    EXPECT_EQ(saved.find("statlist:,addhit,"), std::string::npos);
    EXPECT_NE(saved.find("statlist:,month,"), std::string::npos);

    const std::string text =
        "#Tallowick Database\n"
        "host:,2460370.5,2460372.5,0,15,0,1500,0,site, with a comma\n"
        "\nstatlist:,client,4,15,0,0,0\n"
        "0,a.example.com,5,500,0,1,0,0,0,0,0,0,0.25,0\n"  // 14 columns; timein 0
        "1,b.example.com,5,500,0,1,0,0,0,0,0,0.5,0.75\n"  // 13 columns
        "2,d.example.com,5,500,0,1,0,0,0,0,0,0.5\n"       // 12 columns: passed over
        "3,e,f.example.com,5,500,0,1,0,0,0,0,0,0,0,0\n"   // a comma in the name
        "#End of database\n";
    LoadedHistory loaded = ParseHistory(text, t.run().options());
    ASSERT_TRUE(loaded.damage.empty());
    ASSERT_EQ(loaded.reports.size(), 1u);
    const ReportStats& r = *loaded.reports[0];
    EXPECT_EQ(r.name, "site, with a comma");
    ASSERT_EQ(r.client->Count(), 3);
    EXPECT_DOUBLE_EQ(r.client->TimeIn(0), 2460370.5);  // 0 reads back as the base
    EXPECT_DOUBLE_EQ(r.client->TimeLast(0), 2460370.75);
    EXPECT_DOUBLE_EQ(r.client->TimeLast(1), 2460371.25);
    EXPECT_EQ(r.client->Name(2), "e,f.example.com");
    EXPECT_EQ(r.client->TotalReq(), 15);  // the file's total, not the items' sum
}

TEST(HistoryDatabase, DamageIsFoundWithItsLine) {
    const ReportOptions options;
    const std::string good = "#Tallowick Database\nhost:,2460370.5,2460370.5,0,1,0,1,0,s\n"
                             "statlist:,hour,1,1,0,0,1\n0,10,1,1,0,0,0,0,0,0,0,0,0,0\n";
    struct Case {
        std::string text;
        long line;
    } cases[] = {
        {good, 5},                                              // cut before its end line
        {good + "0,11,x,1,0,0,0,0,0,0,0,0,0,0\n#End of database\n", 5},  // a bad number
        {good + "garbage\n#End of database\n", 5},
        {"#Tallowick Database\nstatlist:,hour,1,1,0,0,1\n#End of database\n", 2},
        {good + "timehistory, 0,1,2\n#End of database\n", 5},   // a record cut short
        {good + "#End of database\nhost:,1,1,0,0,0,0,0,t\n", 6},
        {"#Tallowick Database\n" + [] {  // more reports than a run may hold
             std::string hosts;
             for (int i = 0; i <= kMaxReports; ++i) hosts += "host:,1,1,0,0,0,0,0,r\n";
             return hosts;
         }(), kMaxReports + 2},
    };
    for (const Case& c : cases) {
        const LoadedHistory h = ParseHistory(c.text, options);
        ASSERT_FALSE(h.damage.empty()) << c.text;
        EXPECT_EQ(h.damage.front().line, c.line) << c.text;
    }
    EXPECT_TRUE(ParseHistory(good + "#End of database\n", options).damage.empty());
}

TEST(HistoryDatabase, ServersSavedApartAndMergedMatchOneRunOverAllTheirLogs) {
    RecordingSink sink;
    const std::string logs[] = {MixedLog(0, 5), MixedLog(3, 5), MixedLog(6, 6)};
    RunOnText whole;
    whole.hooks() = GroupingHooks();
    for (int i = 0; i < 3; ++i) whole.AddLog("server" + std::to_string(i) + ".log", logs[i]);
    whole.Process();
    ASSERT_EQ(whole.report_count(), 1u);

    std::unique_ptr<ReportStats> merged;
    for (int i = 0; i < 3; ++i) {
        RunOnText server;
        server.hooks() = GroupingHooks();
        server.AddLog("server" + std::to_string(i) + ".log", logs[i]);
        server.Process();
        server.report().name = "site";
        LoadedHistory h = ParseHistory(HistoryText(server.run().reports()), whole.run().options());
        ASSERT_EQ(h.reports.size(), 1u);
        if (!merged)
            merged = std::move(h.reports[0]);
        else
            MergeReport(*merged, *h.reports[0]);
    }
    const ReportStats& a = whole.report();
    const ReportStats& b = *merged;
    EXPECT_EQ(b.accepted_hits, a.accepted_hits);
    EXPECT_EQ(b.failed_hits, a.failed_hits);
    EXPECT_DOUBLE_EQ(b.bytes, a.bytes);
    EXPECT_DOUBLE_EQ(b.first_time, a.first_time);
    EXPECT_DOUBLE_EQ(b.last_time, a.last_time);
    for (std::string_view section : {"client", "url", "date", "hour", "pages", "err", "oper"}) {
        const StatList* la = List(a, section);
        const StatList* lb = List(b, section);
        ASSERT_TRUE(la && lb) << section;
        EXPECT_EQ(lb->Count(), la->Count()) << section;
        EXPECT_EQ(lb->TotalReq(), la->TotalReq()) << section;
        EXPECT_DOUBLE_EQ(lb->TotalBytes(), la->TotalBytes()) << section;
        for (const StatItem& item : la->Items()) {
            const int i = lb->FindByHash(item.hash);
            ASSERT_GE(i, 0) << section << " " << item.key();
            EXPECT_EQ(lb->Req(i), item.req) << section << " " << item.key();
            EXPECT_DOUBLE_EQ(lb->Bytes(i), item.bytes) << section << " " << item.key();
        }
    }
    // Day records add up by day: the client history draws the same bands.
    for (const StatItem& item : a.client->Items()) {
        const int i = b.client->FindByHash(item.hash);
        for (const TimeRecord& day : item.timeRecs.Records())
            EXPECT_EQ(b.client->TimeRecSumFor(i, day.key), day.sum) << item.key();
    }
}

TEST(HistoryDatabase, APrunedReportLoadsWithWhatItsDroppedClientsGave) {
    RecordingSink sink;
    // Sixty clients of one hit on the first day, five busy ones three days later:
    // a daemon's pruning drops most of the sixty.
    std::string log;
    for (int c = 0; c < 60; ++c)
        log += CombinedLine("h" + std::to_string(c) + (c % 3 ? ".example.de" : ".example.fr"),
                            "01/Mar/2024:10:00:00 +0000", "GET /a.html HTTP/1.0", 200, 100);
    for (int k = 0; k < 40; ++k)
        log += CombinedLine("busy" + std::to_string(k % 5) + ".example.jp",
                            "04/Mar/2024:1" + std::to_string(k % 10) + ":00:00 +0000",
                            "GET /b.html HTTP/1.0", 200, 1000);
    RunOnText t;
    t.settings().run.daemontime = 16;
    t.hooks() = GroupingHooks();
    static const SettingsList kNoOrgs;
    t.hooks().group_dropped_client = [](ReportStats& r, StatList& clients, int i) {
        group_dropped_client(r, clients, i, kNoOrgs);
    };
    t.hooks().sleep_second = [] {};
    int written = 0;
    t.hooks().write_all = [&](auto) {
        if (++written == 2) t.run().Cancel();
        return 0;
    };
    t.AddLog("access.log", log);
    t.Process();
    const ReportStats& was = t.report();
    ASSERT_LT(was.client->Count(), 65);  // pruned

    LoadedHistory loaded = ParseHistory(HistoryText(t.run().reports()), t.run().options());
    ASSERT_EQ(loaded.reports.size(), 1u);
    ReportStats& is = *loaded.reports[0];
    ASSERT_EQ(group_report_clients(is, kNoOrgs), 0);
    for (std::string_view section : {"domain", "reg"}) {
        const StatList* a = List(was, section);
        const StatList* b = List(is, section);
        ASSERT_TRUE(a && b && a->Count() > 1) << section;
        ASSERT_EQ(b->Count(), a->Count()) << section;
        for (int i = 0; i < a->Count(); ++i) {
            EXPECT_EQ(b->Name(i), a->Name(i)) << section;
            EXPECT_EQ(b->Req(i), a->Req(i)) << section << " " << a->Name(i);
        }
    }
    for (auto measure : {&ReportStats::loyalty, &ReportStats::circulation, &ReportStats::timeon,
                         &ReportStats::session_depth}) {
        const StatList& a = *(was.*measure);
        const StatList& b = *(is.*measure);
        ASSERT_EQ(b.Count(), a.Count());
        for (int i = 0; i < a.Count(); ++i) {
            EXPECT_EQ(b.Misc1(i), a.Misc1(i)) << a.Name(i);
            EXPECT_EQ(b.Req(i), a.Req(i)) << a.Name(i);
        }
    }
}

TEST(HistoryDatabase, ADaemonLoadsItsDatabaseOnceAndAddsItsLogToIt) {
    RecordingSink sink;
    RunOnText day1;
    day1.AddLog("access.log", MixedLog(0, 3));
    day1.Process();
    const std::int64_t saved_hits = day1.report().accepted_hits;

    RunOnText t;
    t.settings().run.daemontime = 16;
    t.AddLog("site.tdb", HistoryText(day1.run().reports()));
    t.AddLog("access.log", CombinedLine("a.com", "05/Mar/2024:10:00:00 +0000", "GET / HTTP/1.0",
                                        200, 10));
    InstallHistoryHooks(t.hooks(), t.settings());
    t.hooks().sleep_second = [] {};
    int cycles = 0;
    t.hooks().write_all = [&](auto) {
        if (++cycles == 3) t.run().Cancel();
        return 0;
    };
    t.Process();
    ASSERT_EQ(t.report_count(), 1u);
    EXPECT_EQ(t.report().name, "access.log");
    EXPECT_EQ(t.report().accepted_hits, saved_hits + 1);
    EXPECT_EQ(t.run().totals().accepted, saved_hits + 1);
}

}  // namespace
}  // namespace tallowick::engine::test
