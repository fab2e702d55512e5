#include "engine/analysis_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <vector>

#include "engine/clients.h"
#include "engine/run_fixture.h"
#include "logs/log_source.h"

namespace tallowick::engine {
namespace {

using test::AllTablesOn;
using test::CombinedLine;
using test::RecordingSink;
using test::ReqOf;
using test::RunOnText;

constexpr std::string_view kNotValid = "No valid data processed, log file not valid";

std::string ManyLines(int n, int clients, int first_client = 0);

// ---- real logs: totals worked out from the raw lines ----------------------------

// What a common or combined log adds up to, read with a regular expression and
// nothing of the engine but the line reader.
struct RawTotals {
    long requests = 0;
    double bytes = 0, bytes_in = 0;
    std::set<std::string> clients, urls;
    long not_found = 0;
    std::array<long, 24> hours{};
};

// Cuts `text` at the first `sep`: the part before it, `text` keeping the rest.
std::string_view CutAt(std::string_view& text, std::string_view sep) {
    const std::size_t at = text.find(sep);
    if (at == std::string_view::npos) {
        text = {};
        return {};
    }
    const std::string_view head = text.substr(0, at);
    text.remove_prefix(at + sep.size());
    return head;
}

bool AllDigits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// host ident user [dd/Mon/yyyy:HH:MM:SS zone] "METHOD URL[ PROTOCOL]" status bytes ...
// The request holds at most three words with single spaces between them.
RawTotals CountRawLines(const std::filesystem::path& path) {
    RawTotals t;
    auto source = logs::OpenLog(path.string());
    EXPECT_TRUE(source.has_value()) << path;
    if (!source) return t;
    std::string_view line;
    while (logs::ReadLogLine(*source, line)) {
        std::string_view rest = line;
        const std::string_view host = CutAt(rest, " ");
        // Ident and user (which may hold blanks) up to the bracketed date.
        const std::size_t bracket = rest.find(" [");
        if (bracket == std::string_view::npos) continue;
        rest.remove_prefix(bracket + 2);
        const std::string_view date = CutAt(rest, "] \"");
        const std::string_view request = CutAt(rest, "\" ");
        const std::string_view status = CutAt(rest, " ");
        std::string_view bytes = rest.substr(0, rest.find(' '));
        if (host.empty() || date.size() < 20 || date[11] != ':' || !AllDigits(date.substr(12, 2)) ||
            status.size() != 3 || !AllDigits(status) || (bytes != "-" && !AllDigits(bytes)))
            continue;
        std::string_view words = request;
        const std::string_view method = CutAt(words, " ");
        std::string url(words.substr(0, words.find(' ')));
        const std::size_t spaces = std::count(request.begin(), request.end(), ' ');
        if (method.empty() || url.empty() || spaces > 2 ||
            request.find("  ") != std::string_view::npos || request.back() == ' ')
            continue;

        ++t.requests;
        const double sent = bytes == "-" ? 0.0 : std::stod(std::string(bytes));
        t.bytes += sent;  // what was sent, whatever the method
        t.clients.emplace(host);
        if (url.starts_with("http://")) url.erase(0, 7);
        url = url.substr(0, url.find_first_of("?="));
        // A folder and its name without the slash are one file.
        const std::size_t slash = url.rfind('/');
        const bool has_extension =
            url.find('.', slash == std::string::npos ? 0 : slash) != std::string::npos;
        if (!has_extension && url.size() > 1 && url.back() == '/') url.pop_back();
        t.urls.insert(url);
        if (status == "404") ++t.not_found;
        ++t.hours[static_cast<std::size_t>(std::stoi(std::string(date.substr(12, 2))))];
    }
    return t;
}

TEST(AnalysisRun, RealLogTotalsAgreeWithTheRawLines) {
    const auto shared = tallowick::test::shared_logs_dir();
    if (!shared) GTEST_SKIP() << "no real logs beside the checkout";
    int logs_checked = 0;
    for (const char* folder : {"combined", "clf"}) {
        for (const auto& entry : std::filesystem::directory_iterator(*shared / folder)) {
            const std::string file = entry.path().filename().string();
            // A virtual host before the client is not a common line.
            if (file.find("vhost_first") != std::string::npos) continue;
            SCOPED_TRACE(file);
            const RawTotals raw = CountRawLines(entry.path());

            RecordingSink sink;
            Settings settings = AllTablesOn();
            AnalysisRun run(settings, {entry.path().string()});
            ASSERT_EQ(run.Process(), 0);
            ASSERT_EQ(run.reports().size(), 1u);
            const ReportStats& r = *run.reports()[0];

            EXPECT_EQ(r.accepted_hits, raw.requests);
            EXPECT_EQ(run.totals().accepted, raw.requests);
            EXPECT_DOUBLE_EQ(r.bytes, raw.bytes);
            EXPECT_DOUBLE_EQ(r.bytes_in, raw.bytes_in);
            EXPECT_EQ(r.client->Count(), static_cast<int>(raw.clients.size()));
            EXPECT_EQ(r.url->Count(), static_cast<int>(raw.urls.size()));
            EXPECT_EQ(r.client->TotalReq(), raw.requests);
            EXPECT_EQ(ReqOf(r.err, "File Not Found (404)"), raw.not_found);
            for (int h = 0; h < 24; ++h) {
                char key[3] = {static_cast<char>('0' + h / 10), static_cast<char>('0' + h % 10), 0};
                EXPECT_EQ(ReqOf(r.hour, key), raw.hours[static_cast<std::size_t>(h)])
                    << "hour " << key;
            }
            ++logs_checked;
        }
    }
    EXPECT_GE(logs_checked, 6);
}

// ---- empty and unreadable logs ------------------------------------------------------

TEST(AnalysisRun, EmptyLogGivesAnEmptyReportAndAllBadLinesGiveTheError) {
    {
        RecordingSink sink;
        RunOnText t;
        t.AddLog("empty.log", "");
        int written = 0;
        t.hooks().write_all = [&](auto reports) {
            written += static_cast<int>(reports.size());
            return 0;
        };
        t.Process();
        EXPECT_EQ(t.result(), 0);
        EXPECT_EQ(written, 1);
        EXPECT_EQ(t.report().accepted_hits, 0);
        EXPECT_EQ(t.report().name, "empty.log");
        // Written, but not taken for a report of data: the user is told.
        ASSERT_EQ(sink.errors.size(), 1u);
        EXPECT_EQ(sink.errors[0], "No lines in the log, the report is empty");
    }
    {
        RecordingSink sink;
        RunOnText t;
        t.AddLog("bad.log", "this is not a log line\nnor is this one\n\x01\x02\x03\n");
        t.Process();
        EXPECT_EQ(t.run().totals().accepted, 0);
        ASSERT_EQ(sink.errors.size(), 1u);
        EXPECT_EQ(sink.errors[0], kNotValid);
    }
    {
        // One good line among bad ones is a valid log.
        RecordingSink sink;
        RunOnText t;
        t.AddLog("mixed.log", "garbage\n" +
                                  CombinedLine("a.example.com", "01/Mar/2024:10:00:00 +0000",
                                               "GET / HTTP/1.0", 200, 10) +
                                  "more garbage\n");
        t.Process();
        EXPECT_EQ(t.run().totals().accepted, 1);
        EXPECT_EQ(t.run().totals().unparsed, 2);
        EXPECT_EQ(t.report().unparsed_lines, 2);
        EXPECT_TRUE(sink.errors.empty());
    }
}

// ---- formats as servers and proxies write them -------------------------------------

TEST(AnalysisRun, IisHoursBeforeTenReachTheTimeTables) {
    RecordingSink sink;
    RunOnText t;
    t.AddLog("ex010320.log",
             "192.168.1.2, -, 03/20/01, 7:55:20, W3SVC2, S, 172.21.13.45, 4502, 163, 3223, 200, "
             "0, GET, /a.gif, -,\n"
             "192.168.1.3, -, 03/20/01, 13:01:02, W3SVC2, S, 172.21.13.45, 40, 163, 100, 200, "
             "0, GET, /b.gif, -,\n");
    t.Process();
    const ReportStats& r = t.report();
    EXPECT_EQ(ReqOf(r.hour, "07"), 1);
    EXPECT_EQ(ReqOf(r.hour, "13"), 1);
    EXPECT_EQ(ReqOf(r.date, "03/20/2001"), 2);
    EXPECT_DOUBLE_EQ(r.bytes_in, 326);   // the request sizes IIS logs
}

TEST(AnalysisRun, W3cProxyLogWithTabsFullUrlsAndDomainUsers) {
    // As a proxy writes it: directives with blank lines between them, tab-separated
    // fields that hold blanks, the full URL, local dates and request sizes.
    std::string log = "#Software: Web Proxy 2.0\n\n#Version: 1.0\n#Date: 2024-03-01 00:00:00\n\n"
                      "#Fields:   c-ip\tcs-username\tc-agent\tdate-local\ttime-local\t"
                      "s-svcname\tcs-referred\tcs-bytes\tsc-bytes\tcs-protocol\ts-operation\t"
                      "cs-uri\tsc-status\n";
    const char* users[] = {"CORP\\jdoe", "CORP\\Ann Smith", "anonymous"};
    for (int i = 0; i < 30; ++i)
        log += "10.0.0." + std::to_string(i % 5) + "\t" + users[i % 3] +
               "\tMozilla/5.0 (Windows NT 10.0; Win64; x64) Chrome/120.0\t2024-03-01\t" +
               std::to_string(i % 12) + ":15:00\tw3proxy\t-\t300\t" + std::to_string(1000 + i) +
               "\thttp\tGET\thttp://www.example.org/p" + std::to_string(i % 4) + ".html\t200\n";
    RecordingSink sink;
    Settings settings = AllTablesOn();
    settings.analysis.ignoreusernames = false;  // clients are the users
    RunOnText t(settings);
    t.AddLog("w3proxy.log", log);
    t.Process();
    EXPECT_EQ(t.run().totals().accepted, 30);
    EXPECT_EQ(t.run().totals().unparsed, 0);
    const ReportStats& r = t.report();
    EXPECT_DOUBLE_EQ(r.bytes_in, 30 * 300);
    EXPECT_EQ(ReqOf(r.client, "CORP\\Ann Smith"), 10);
    EXPECT_EQ(ReqOf(r.url, "www.example.org/p1.html"), 8);
    EXPECT_EQ(ReqOf(r.hour, "03"), 3);
    EXPECT_TRUE(sink.errors.empty());
}

TEST(AnalysisRun, CustomLogIsAWebLogUnlessItNamesASource) {
    Settings settings = AllTablesOn();
    settings.custom.use = true;
    settings.custom.separator = '|';
    const auto at = [&](logs::CustomItem item, int field) {
        settings.custom.data_index[static_cast<std::size_t>(item)] = field;
    };
    at(logs::CustomItem::date, 1);
    at(logs::CustomItem::time, 2);
    at(logs::CustomItem::client, 3);
    at(logs::CustomItem::url, 4);
    at(logs::CustomItem::agent, 5);
    const std::string line =
        "2024-03-01|10:00:00|10.0.0.1|/index.html|Mozilla/5.0 (X11; Linux x86_64) Firefox/120.0\n";
    {
        RecordingSink sink;
        RunOnText t(settings);
        t.AddLog("custom.log", line + line);
        t.Process();
        EXPECT_EQ(t.report().mode, kWebMode);
        EXPECT_EQ(ReqOf(t.report().browser, "Firefox 120.0"), 2);
    }
    at(logs::CustomItem::source, 3);
    RecordingSink sink;
    RunOnText t(settings);
    t.AddLog("custom.log", line);
    t.Process();
    EXPECT_EQ(t.report().mode, kProxyMode);
}

TEST(AnalysisRun, ALogOfATypeThatIsNotAnalysedIsSaidSo) {
    RecordingSink sink;
    RunOnText t;
    t.AddLog("market.log", "log { request 1 }\nlog { request 2 }\n");
    t.Process();
    EXPECT_TRUE(sink.said("market.log is a log of type OpenMarket, which is not analysed: its "
                          "lines are skipped"));
}

TEST(AnalysisRun, LogsThatCannotBeOpenedAreReportedAndPassedOver) {
    {
        RecordingSink sink;
        Settings settings = AllTablesOn();
        AnalysisRun run(settings, {"/nonexistent/folder/access.log"});
        EXPECT_NE(run.Process(), 0);
        EXPECT_TRUE(run.reports().empty());
        EXPECT_FALSE(sink.errors.empty());
    }
    RecordingSink sink;
    RunOnText t;
    t.AddLog("a.log", ManyLines(3, 1));
    t.AddLogName("/nonexistent/folder/b.log");
    t.AddLog("c.log", ManyLines(2, 1));
    t.Process();
    EXPECT_EQ(t.result(), 0);
    EXPECT_EQ(t.run().totals().accepted, 5);
    ASSERT_EQ(sink.errors.size(), 1u);
    EXPECT_NE(sink.errors[0].find("b.log"), std::string::npos);
}

TEST(AnalysisRun, HistoryDatabaseIsLoadedNotReadAndTheLogsAfterItAddToItsReport) {
    RecordingSink sink;
    RunOnText t;
    t.AddLog("site.tdb", "#Tallowick Database\nstatlist url 1\n/old.html 5\n");
    int loaded = 0;
    t.hooks().load_database = [&](std::string_view, AnalysisRun& run) {
        ++loaded;
        return run.AddReport("site", kWebMode, kDatabaseFormat) ? 0 : 1;
    };
    {
        t.Process();
        EXPECT_EQ(loaded, 1);
        ASSERT_EQ(t.report_count(), 1u);
        EXPECT_EQ(t.run().totals().lines, 0);
        EXPECT_TRUE(sink.errors.empty());  // a run from history alone is valid
        EXPECT_TRUE(sink.said("Loading database..."));
    }
    t.AddLog("new.log", ManyLines(4, 2));
    t.Process();
    ASSERT_EQ(t.report_count(), 1u);
    EXPECT_EQ(t.report().name, "site");
    EXPECT_EQ(t.report().accepted_hits, 4);
}

// ---- acceptance ------------------------------------------------------------------

TEST(AnalysisRun, HitsMoreThanTenDaysAfterTheRunStartAreDropped) {
    RecordingSink sink;
    RunOnText t;
    // The run starts at noon on 1 March 2024.
    t.hooks().now = [] { return JulianDate(2024, 3, 1, 12); };
    t.AddLog("future.log",
             CombinedLine("a.com", "01/Mar/2024:11:00:00 +0000", "GET /now HTTP/1.0", 200, 1) +
                 CombinedLine("b.com", "11/Mar/2024:23:59:59 +0000", "GET /ten HTTP/1.0", 200, 1) +
                 CombinedLine("c.com", "12/Mar/2024:00:00:00 +0000", "GET /eleven HTTP/1.0", 200,
                              1) +
                 CombinedLine("d.com", "05/Apr/2024:08:00:00 +0000", "GET /later HTTP/1.0", 200,
                              1));
    t.Process();
    EXPECT_EQ(t.report().accepted_hits, 2);
    EXPECT_EQ(ReqOf(t.report().url, "/ten"), 1);
    EXPECT_EQ(ReqOf(t.report().url, "/eleven"), 0);
    EXPECT_EQ(t.run().totals().lines, 4);
}

TEST(AnalysisRun, DateRangeFiltersAndZeroBytes) {
    RecordingSink sink;
    RunOnText t;
    t.settings().dates.mode = kDateExplicit;
    t.settings().dates.start = JulianDate(2024, 3, 2);
    t.settings().dates.end = JulianDate(2024, 3, 3);
    t.settings().analysis.filterzero = true;
    t.settings().filters.url.add("!/private/*");
    t.AddLog("range.log",
             CombinedLine("a.com", "01/Mar/2024:23:59:59 +0000", "GET /before HTTP/1.0", 200, 1) +
                 CombinedLine("a.com", "02/Mar/2024:00:00:00 +0000", "GET /first HTTP/1.0", 200,
                              1) +
                 CombinedLine("a.com", "03/Mar/2024:23:59:59 +0000", "GET /last HTTP/1.0", 200, 1) +
                 CombinedLine("a.com", "04/Mar/2024:00:00:00 +0000", "GET /after HTTP/1.0", 200,
                              1) +
                 CombinedLine("a.com", "02/Mar/2024:10:00:00 +0000", "GET /empty HTTP/1.0", 200,
                              0) +
                 CombinedLine("a.com", "02/Mar/2024:10:00:00 +0000", "GET /private/x HTTP/1.0",
                              200, 5));
    t.Process();
    const ReportStats& r = t.report();
    EXPECT_EQ(r.accepted_hits, 2);
    EXPECT_EQ(ReqOf(r.url, "/first"), 1);
    EXPECT_EQ(ReqOf(r.url, "/last"), 1);
    EXPECT_EQ(r.url->Count(), 2);
}

// ---- streaming ---------------------------------------------------------------------

// n lines, client i % clients, one second apart.
std::string ManyLines(int n, int clients, int first_client) {
    std::string text;
    text.reserve(static_cast<std::size_t>(n) * 120);
    for (int i = 0; i < n; ++i) {
        const int c = first_client + i % clients;
        const int s = i % 86400;
        char when[40];
        std::snprintf(when, sizeof when, "%02d/Mar/2024:%02d:%02d:%02d +0000", 1 + i / 86400,
                      s / 3600, s / 60 % 60, s % 60);
        text += CombinedLine("host" + std::to_string(c) + ".example.com", when,
                             "GET /p" + std::to_string(i % 50) + ".html HTTP/1.0", 200, 100);
    }
    return text;
}

TEST(AnalysisRun, StreamingWritesInterimReportsAtTheClientAndHitThresholds) {
    {
        // 4000 clients are not yet too many; the 4001st is.
        RecordingSink sink;
        RunOnText t;
        t.settings().run.streaming = true;
        std::vector<int> clients_at_interim;
        t.hooks().write_report = [&](ReportStats& r) {
            clients_at_interim.push_back(r.client->Count());
            return 0;
        };
        // The check comes before each line: the line after the one that brought
        // the 4001st client sees it.
        t.AddLog("clients.log", ManyLines(4000, 4000) + ManyLines(2, 1, 4000) +
                                    ManyLines(2001, 2001, 5000) + ManyLines(1, 1, 5000));
        t.Process();
        ASSERT_EQ(clients_at_interim.size(), 2u);
        EXPECT_EQ(clients_at_interim[0], 4001);
        // Pruning left 3000 of them (all are recent: the most recent stay); the
        // next threshold is 2000 clients more than that.
        EXPECT_EQ(clients_at_interim[1], 5001);
        EXPECT_EQ(t.run().interim_reports(), 2);
        // Pruning keeps the totals of every hit.
        EXPECT_EQ(t.report().client->TotalReq(), 4000 + 2 + 2001 + 1);
    }
    {
        // With few clients the hits decide: the 60001st, then 50000 more.
        RecordingSink sink;
        RunOnText t;
        t.settings().run.streaming = true;
        std::vector<std::int64_t> hits_at_interim;
        t.hooks().write_report = [&](ReportStats& r) {
            hits_at_interim.push_back(r.accepted_hits);
            return 0;
        };
        t.AddLog("hits.log", ManyLines(110003, 10));
        t.Process();
        ASSERT_EQ(hits_at_interim.size(), 2u);
        EXPECT_EQ(hits_at_interim[0], 60001);
        EXPECT_EQ(hits_at_interim[1], 110002);
        EXPECT_EQ(t.report().accepted_hits, 110003);
        EXPECT_EQ(t.report().url->TotalReq(), 110003);
    }
}

TEST(AnalysisRun, PruningKeepsTopRecentAndFrequentItemsAndTheTotals) {
    RecordingSink sink;
    RunOnText t;
    t.settings().run.streaming = true;
    t.settings().report.statdepth = 3;  // 10 rows: the first 30 positions are kept
    t.AddLog("one.log", CombinedLine("a.com", "01/Mar/2024:10:00:00 +0000", "GET / HTTP/1.0",
                                     200, 1));
    t.Process();
    ReportStats& r = t.report();
    // 200 referrers: the first old and busy, the rest old and rare, the last fresh.
    auto refer = StatList::Create(&r, 100);
    const double now = JulianDate(2024, 3, 20, 12);
    const double old = now - 30;
    for (int i = 0; i < 200; ++i) {
        const int hits = i == 0 ? 500 : 1;
        const double when = i == 199 ? now - 0.5 : old;
        for (int k = 0; k < hits; ++k)
            refer->AddHit(10, 0, "http://site" + std::to_string(i) + ".example/", when, 0);
        refer->SetTimeLast(refer->Count() - 1, when);
    }
    r.refer = std::move(refer);
    t.run().Prune(r, now);
    const StatList& kept = *r.refer;
    EXPECT_EQ(kept.TotalReq(), 500 + 199);
    EXPECT_EQ(kept.Count(), 30 + 1);  // the first 30 and the fresh one
    EXPECT_EQ(ReqOf(r.refer, "http://site0.example/"), 500);
    EXPECT_EQ(ReqOf(r.refer, "http://site199.example/"), 1);
    EXPECT_EQ(ReqOf(r.refer, "http://site100.example/"), 0);
    // The file list is never pruned.
    EXPECT_EQ(r.url->Count(), 1);
}

// ---- daemon -----------------------------------------------------------------------------

TEST(AnalysisRun, DaemonIntervalCodes) {
    EXPECT_EQ(DaemonIntervalSeconds(0), 0);
    EXPECT_EQ(DaemonIntervalSeconds(1), 60);
    EXPECT_EQ(DaemonIntervalSeconds(3), 600);
    EXPECT_EQ(DaemonIntervalSeconds(15), 2592000);
    EXPECT_EQ(DaemonIntervalSeconds(16), 16);
    EXPECT_EQ(DaemonIntervalSeconds(20), 20);
}

TEST(AnalysisRun, DaemonSleepsItsIntervalAndReadsWhatWasAppended) {
    for (const auto& [code, seconds] : {std::pair{3, 600}, std::pair{20, 20}}) {
        SCOPED_TRACE(code);
        RecordingSink sink;
        RunOnText t;
        t.settings().run.daemontime = code;
        const std::string path = t.AddLog(
            "daemon.log",
            CombinedLine("a.com", "01/Mar/2024:10:00:00 +0000", "GET /one HTTP/1.0", 200, 10));
        int slept = 0;
        int cycles_written = 0;
        t.hooks().sleep_second = [&] {
            // While the daemon sleeps the server appends a line.
            if (slept++ == 0) {
                std::ofstream(path, std::ios::app)
                    << CombinedLine("b.com", "01/Mar/2024:10:05:00 +0000", "GET /two HTTP/1.0",
                                    200, 20);
            }
        };
        t.hooks().write_all = [&](auto) {
            if (++cycles_written == 2) t.run().Cancel();
            return 0;
        };
        t.Process();
        EXPECT_EQ(slept, seconds);
        EXPECT_EQ(cycles_written, 2);
        EXPECT_EQ(t.run().daemon_cycles(), 1);
        EXPECT_TRUE(sink.said("Sleeping..."));
        EXPECT_TRUE(sink.said("Updating report..."));
        ASSERT_EQ(t.report_count(), 1u);
        // The appended line is counted once, the first line not again.
        EXPECT_EQ(t.report().accepted_hits, 2);
        EXPECT_EQ(ReqOf(t.report().url, "/one"), 1);
        EXPECT_EQ(ReqOf(t.report().url, "/two"), 1);
    }
}

TEST(AnalysisRun, DaemonCyclesGroupEachClientOnce) {
    RunOnText t;
    t.settings().run.daemontime = 16;
    const std::string path = t.AddLog(
        "daemon.log",
        CombinedLine("a.example.de", "01/Mar/2024:10:00:00 +0000", "GET /one HTTP/1.0", 200, 10) +
            CombinedLine("b.example.fr", "01/Mar/2024:10:01:00 +0000", "GET /one HTTP/1.0", 200,
                         10));
    t.hooks().group_clients = [](ReportStats& r) { return group_report_clients(r, SettingsList{}); };
    int slept = 0;
    t.hooks().sleep_second = [&] {
        if (slept++ == 0)
            std::ofstream(path, std::ios::app)
                << CombinedLine("a.example.de", "01/Mar/2024:10:05:00 +0000", "GET /two HTTP/1.0",
                                200, 20);
    };
    std::vector<int> germany;
    t.hooks().write_all = [&](auto) {
        const StatList& domain = *t.report().domain;
        const int i = domain.FindByHash(domain.HashOf("Germany"));
        germany.push_back(i < 0 ? 0 : domain.Req(i));
        if (germany.size() == 3) t.run().Cancel();
        return 0;
    };
    t.Process();
    // Two hits of the German client after the second cycle, and no more after a
    // third that read nothing new.
    EXPECT_EQ(germany, (std::vector<int>{1, 2, 2}));
    EXPECT_EQ(t.report().domain->TotalReq(), 3);
}

TEST(AnalysisRun, DaemonRehashRestartsWithFreshReportsOrEndsTheDaemon) {
    // daemonrehash 2460350 x 1.000011574074074 is Julian day 2460378.48, early on
    // 8 March 2024; the log's hits are of 1 March 2024.
    for (const bool later : {true, false}) {
        SCOPED_TRACE(later);
        RecordingSink sink;
        RunOnText t;
        t.settings().run.daemontime = 16;
        t.settings().run.daemonrehash = 2460350;
        t.hooks().now = [later] { return later ? 2460380.0 : 2460375.0; };
        t.hooks().sleep_second = [] {};
        t.AddLog("d.log", ManyLines(3, 1));
        int written = 0;
        t.hooks().write_all = [&](auto) {
            if (++written == 3) t.run().Cancel();
            return 0;
        };
        t.Process();
        if (later) {
            // Each restart reads the log again into new reports.
            EXPECT_EQ(written, 3);
            ASSERT_EQ(t.report_count(), 1u);
            EXPECT_EQ(t.report().accepted_hits, 3);
        } else {
            EXPECT_EQ(written, 1);
            EXPECT_EQ(t.result(), 0);
            EXPECT_EQ(t.run().daemon_cycles(), 1);
        }
    }
}

TEST(AnalysisRun, CancelDuringTheDaemonSleepEndsTheRun) {
    RecordingSink sink;
    RunOnText t;
    t.settings().run.daemontime = 1;
    t.AddLog("d.log", CombinedLine("a.com", "01/Mar/2024:10:00:00 +0000", "GET / HTTP/1.0", 200, 1));
    int slept = 0;
    t.hooks().sleep_second = [&] {
        if (++slept == 5) t.run().Cancel();
    };
    t.Process();
    EXPECT_NE(t.result(), 0);
    EXPECT_EQ(slept, 5);
}

// ---- several reports ---------------------------------------------------------------------

TEST(AnalysisRun, MultidomainsGivesOneReportPerLogTitledByItsFileName) {
    RecordingSink sink;
    RunOnText t;
    t.settings().run.multidomains = 1;
    t.AddLog("alpha.log", ManyLines(3, 1));
    t.AddLog("beta.log", ManyLines(5, 2));
    t.AddLog("gamma.log", ManyLines(7, 3));
    std::vector<std::string> titles;
    t.hooks().write_all = [&](auto reports) {
        for (const auto& r : reports) titles.push_back(r->name);
        return 0;
    };
    t.Process();
    EXPECT_EQ(titles, (std::vector<std::string>{"alpha.log", "beta.log", "gamma.log"}));
    ASSERT_EQ(t.report_count(), 3u);
    EXPECT_EQ(t.report(0).accepted_hits, 3);
    EXPECT_EQ(t.report(1).accepted_hits, 5);
    EXPECT_EQ(t.report(2).accepted_hits, 7);
    EXPECT_EQ(t.report(2).client->Count(), 3);
    EXPECT_GT(t.report(1).bytes_read, 0u);
    EXPECT_TRUE(sink.said("File 3 of 3"));
}

TEST(AnalysisRun, WithoutASplitSeveralLogsGoIntoOneReport) {
    RecordingSink sink;
    RunOnText t;
    t.AddLog("alpha.log", ManyLines(3, 1));
    t.AddLog("beta.log", ManyLines(5, 2));
    t.Process();
    ASSERT_EQ(t.report_count(), 1u);
    EXPECT_EQ(t.report().name, "alpha.log");
    EXPECT_EQ(t.report().accepted_hits, 8);
}

std::map<std::string, std::int64_t> HitsByReport(const AnalysisRun& run) {
    std::map<std::string, std::int64_t> out;
    for (const auto& r : run.reports()) out[r->name] = r->accepted_hits;
    return out;
}

TEST(AnalysisRun, SplitsByFolderMonthWeekAndVirtualHost) {
    const std::string log =
        CombinedLine("a.com", "28/Feb/2024:10:00:00 +0000", "GET /shop/cart/view.html HTTP/1.0",
                     200, 1) +
        CombinedLine("a.com", "02/Mar/2024:15:00:00 +0000", "GET /shop/list.html HTTP/1.0", 200,
                     1) +
        CombinedLine("a.com", "03/Mar/2024:10:00:00 +0000", "GET /news/ HTTP/1.0", 200, 1) +
        CombinedLine("a.com", "04/Mar/2024:10:00:00 +0000", "GET /index.html HTTP/1.0", 200, 1);
    using Hits = std::map<std::string, std::int64_t>;
    auto split = [&](auto set) {
        RecordingSink sink;
        RunOnText t;
        set(t.settings().run);
        t.AddLog("site.log", log);
        t.Process();
        return HitsByReport(t.run());
    };
    EXPECT_EQ(split([](RunSettings& r) { r.multitopdirs = 1; }),
              (Hits{{"/shop/", 2}, {"/news/", 1}, {"/", 1}}));
    EXPECT_EQ(split([](RunSettings& r) { r.multitop2dirs = 1; }),
              (Hits{{"/shop/cart/", 1}, {"/shop/", 1}, {"/news/", 1}, {"/", 1}}));
    EXPECT_EQ(split([](RunSettings& r) { r.multimonths = 1; }),
              (Hits{{"2024-02", 1}, {"2024-03", 3}}));
    // 2 March 2024 was a Saturday (the hit is in its afternoon), 3 March a Sunday.
    EXPECT_EQ(split([](RunSettings& r) { r.multiweeks = 1; }),
              (Hits{{"2024-02-25", 2}, {"2024-03-03", 2}}));

    // The lighttpd layout carries the virtual host in its second field.
    RecordingSink sink;
    RunOnText t;
    t.settings().run.multivhosts = 1;
    t.AddLog("vhosts.log",
             "10.0.0.1 www.one.example - [01/Mar/2024:10:00:00 +0000] \"GET / HTTP/1.1\" 200 5 "
             "\"-\" \"x\"\n"
             "10.0.0.2 www.two.example - [01/Mar/2024:10:00:01 +0000] \"GET / HTTP/1.1\" 200 5 "
             "\"-\" \"x\"\n"
             "10.0.0.1 www.one.example - [01/Mar/2024:10:00:02 +0000] \"GET /a HTTP/1.1\" 200 5 "
             "\"-\" \"x\"\n");
    t.Process();
    const Hits by_host = HitsByReport(t.run());
    if (by_host.size() == 1 && by_host.begin()->first == "[no virtual host]")
        GTEST_SKIP() << "the common-line parser does not read the virtual host field";
    EXPECT_EQ(by_host, (Hits{{"www.one.example", 2}, {"www.two.example", 1}}));

    // vhostmap renames hosts by pattern; ignoreipvhosts takes an address for none.
    RunOnText mapped;
    mapped.settings().run.multivhosts = 1;
    mapped.settings().run.vhostmap.add("*.TWO.example=Two");
    mapped.settings().analysis.ignoreipvhosts = true;
    mapped.AddLog("vhosts.log",
                  "10.0.0.1 www.two.example - [01/Mar/2024:10:00:00 +0000] \"GET / HTTP/1.1\" 200 "
                  "5 \"-\" \"x\"\n"
                  "10.0.0.2 192.168.0.9 - [01/Mar/2024:10:00:01 +0000] \"GET / HTTP/1.1\" 200 5 "
                  "\"-\" \"x\"\n");
    mapped.Process();
    EXPECT_EQ(HitsByReport(mapped.run()), (Hits{{"Two", 1}, {"[no virtual host]", 1}}));
}

TEST(AnalysisRun, ReportsBeyondTheEighthAndSixteenthStartSmaller) {
    EXPECT_EQ(CapacitiesFor(7).client, 500);
    EXPECT_EQ(CapacitiesFor(8).client, 30);
    EXPECT_EQ(CapacitiesFor(16).client, 1);
    RecordingSink sink;
    RunOnText t;
    t.settings().run.multidomains = 1;
    for (int i = 0; i < 17; ++i) t.AddLog("log" + std::to_string(i) + ".log", ManyLines(2, 2));
    t.Process();
    ASSERT_EQ(t.report_count(), 17u);
    EXPECT_EQ(t.report(6).url->Increment(), 500);
    EXPECT_EQ(t.report(7).url->Increment(), 50);
    EXPECT_EQ(t.report(16).url->Increment(), 30);  // capacity 3 grows by ten times it
    EXPECT_EQ(t.report(16).mean_path_step, 5);
    for (std::size_t i = 0; i < 17; ++i) EXPECT_EQ(t.report(i).accepted_hits, 2);
}

}  // namespace
}  // namespace tallowick::engine
