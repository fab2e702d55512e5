#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "base/status.h"
#include "engine/analysis_run.h"
#include "engine/clients.h"
#include "report/number_format.h"
#include "report/output_writer.h"
#include "report/report_assembly.h"
#include "report/translate.h"
#include "support/test_support.h"

namespace tallowick::report {
namespace {

namespace fs = std::filesystem;

// Keeps the status reports of the test away from the console.
struct QuietSink : StatusSink {
    QuietSink() : previous(set_status_sink(this)) {}
    ~QuietSink() override { set_status_sink(previous); }
    void error(std::string_view text) override { errors.emplace_back(text); }
    std::vector<std::string> errors;
    StatusSink* previous;
};

Settings ReportSettingsFor(const fs::path& out, int format) {
    Settings s;
    s.report.stat.set_all(true);
    s.report.graph.set_all(true);
    s.analysis.ignoreusernames = true;
    s.report.colours = {0x999999, 0xcccccc, 0xf4f4f4, 0xcccccc, 0x99cccc, 0x99cccc};
    s.report.htmlhead = "<BODY BGCOLOR=\"#ffffff\">\n<CENTER><A HREF=\"https://example.org/\">"
                        "<IMG SRC=\"Tallowick.gif\" border=0></A></CENTER>\n";
    s.report.htmlfoot = "</BODY></HTML>\n";
    s.report.reportformat = format;
    s.run.out = out.string();
    // File and page cells link into the site itself.
    s.run.siteurl = "http://howto.basjes.nl/";
    return s;
}

// Runs the analysis of `logs` and writes its report; the chart driver of the
// test only records the image names the pages asked for.
struct RunResult {
    int written = -1;
    std::vector<std::string> images;
    int chart_calls = 0;
};

RunResult AnalyseAndReport(const Settings& settings, std::vector<std::string> logs) {
    RunResult result;
    engine::RunHooks hooks;
    hooks.write_all = [&](std::span<const std::unique_ptr<engine::ReportStats>> reports) {
        AssemblyOptions options;
        options.settings = &settings;
        options.charts = [&](const ChartRequest& request) {
            ++result.chart_calls;
            result.images.assign(request.images.begin(), request.images.end());
            return 1;
        };
        result.written = writeReports(reports, options);
        return result.written;
    };
    // Countries and regions come from client grouping.
    hooks.group_clients = [&settings](engine::ReportStats& r) {
        if (r.client)
            engine::group_clients(*r.client,
                                  {r.user.get(), nullptr, r.org.get(), r.domain.get(), r.region.get()},
                                  settings.analysis.orgmap);
        return 0;
    };
    engine::AnalysisRun run(settings, std::move(logs), std::move(hooks));
    run.Process();
    return result;
}

std::set<std::string> FilesIn(const fs::path& folder) {
    std::set<std::string> names;
    if (!fs::exists(folder)) return names;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.is_regular_file()) names.insert(e.path().filename().string());
    return names;
}

// Independent totals of a combined log, from the raw lines.
struct RawTotals {
    long requests = 0;
    double bytes = 0;
    std::set<std::string> clients;
    long not_found = 0;
    std::array<long, 24> hours{};
};

RawTotals CountRaw(const fs::path& log) {
    RawTotals t;
    std::ifstream in(log);
    std::string line;
    const std::regex combined(R"(^(\S+) \S+ \S+ \[(\d\d)/\w{3}/\d{4}:(\d\d):\d\d:\d\d [^\]]*\] "(.)[^"]*" (\d{3}) (\d+|-)(?: .*)?$)");
    std::smatch m;
    while (std::getline(in, line)) {
        if (!std::regex_match(line, m, combined)) continue;
        ++t.requests;
        t.clients.insert(m[1]);
        // What a client sends (POST, PUT) counts as bytes in.
        if (m[6] != "-" && m[4] != "P") t.bytes += std::stod(m[6]);
        if (m[5] == "404") ++t.not_found;
        ++t.hours[static_cast<std::size_t>(std::stoi(m[3]))];
    }
    return t;
}

std::optional<fs::path> RealLog() {
    const auto shared = test::shared_logs_dir();
    if (!shared) return std::nullopt;
    const fs::path log = *shared / "combined" / "basjes_nl_2015-10_hackers_combined.log";
    if (!fs::exists(log)) return std::nullopt;
    return log;
}

// The pages every report of a combined log has, by key.
const std::vector<std::string> kCorePages = {
    "Daily", "Hourly", "Weekly", "Monthly", "Country", "Client", "Files", "Browser",
    "OperSys", "Refer", "Errors", "ErrorURL", "Pages", "Directory", "freport", "findex",
};

TEST(ReportAssembly, RealLogHtmlPagesAndTheirLinks) {
    const auto log = RealLog();
    if (!log) GTEST_SKIP() << "no real logs beside the checkout";
    QuietSink quiet;
    test::TempDir dir;
    const Settings settings = ReportSettingsFor(dir / "site" / "index.html", Html);
    const RunResult run = AnalyseAndReport(settings, {log->string()});
    ASSERT_EQ(run.written, 0);
    EXPECT_EQ(run.chart_calls, 1);
    const fs::path folder = dir / "site";
    const std::set<std::string> files = FilesIn(folder);
    ASSERT_TRUE(files.count("index.html"));
    EXPECT_TRUE(files.count("Tallowick.gif"));
    for (const std::string& key : kCorePages) EXPECT_TRUE(files.count(key + ".html")) << key;

    // Every link of every page: an external address, an anchor, a page that was
    // written, or an image the chart driver was asked for.
    const std::regex link(R"re((?:HREF|href|SRC|src)="([^"]*)")re");
    const std::set<std::string> images(run.images.begin(), run.images.end());
    int links = 0, image_links = 0;
    for (const std::string& name : files) {
        if (name.size() < 5 || name.substr(name.size() - 5) != ".html") continue;
        const std::string page = test::read_file(folder / name);
        EXPECT_NE(page.find("charset=utf-8"), std::string::npos) << name;
        for (auto it = std::sregex_iterator(page.begin(), page.end(), link);
             it != std::sregex_iterator(); ++it) {
            const std::string target = (*it)[1];
            if (target.rfind("http://", 0) == 0 || target.rfind("https://", 0) == 0 ||
                target.rfind("#", 0) == 0)
                continue;
            ++links;
            const bool image = target.find(".gif") != std::string::npos && target != "Tallowick.gif";
            if (image) {
                ++image_links;
                EXPECT_TRUE(images.count(target)) << name << " shows " << target;
            } else {
                EXPECT_TRUE(files.count(target)) << name << " links " << target;
            }
        }
    }
    EXPECT_GT(links, 100);
    EXPECT_GT(image_links, 10);
    // Names as the pages give them: prefix by the chart order, then the graph key.
    EXPECT_TRUE(images.count("ReqDaily.gif"));
    EXPECT_TRUE(images.count("rshad.gif"));
}

TEST(ReportAssembly, RealLogFiguresAgreeWithTheRawLines) {
    const auto log = RealLog();
    if (!log) GTEST_SKIP() << "no real logs beside the checkout";
    QuietSink quiet;
    test::TempDir dir;
    Settings settings = ReportSettingsFor(dir / "index.html", Html);
    settings.report.statdepth = 2;   // every row, so every figure is on the pages
    ASSERT_EQ(AnalyseAndReport(settings, {log->string()}).written, 0);
    const RawTotals raw = CountRaw(*log);
    ASSERT_GT(raw.requests, 1000);

    const std::string main = test::read_file(dir / "index.html");
    auto line_value = [&](const std::string& label) {
        const std::string head = ">" + label + "</FONT></TD><TD BGCOLOR=";
        const std::size_t at = main.find(head);
        if (at == std::string::npos) return std::string("(missing)");
        const std::size_t open = main.find("<FONT SIZE=3>", at + head.size());
        const std::size_t close = main.find("</FONT>", open);
        return main.substr(open + 13, close - open - 13);
    };
    EXPECT_EQ(line_value("Total Requests"), formatCount(raw.requests));
    EXPECT_EQ(line_value("Total Unique Visitors"), formatCount(static_cast<long>(raw.clients.size())));
    const double mb = raw.bytes / 1048576;
    if (mb >= 10)
        EXPECT_EQ(line_value("Total Megabytes"), formatDecimal(mb, 2));
    else
        EXPECT_EQ(line_value("Total Kilobytes"), formatDecimal(raw.bytes / 1024, 2));

    // The 404 row of the error page.
    const std::string errors = test::read_file(dir / "Errors.html");
    const std::regex not_found(R"(<TD align=right>([\d,]+)</TD>.*?File Not Found \(404\))");
    std::smatch m;
    const std::string rows = errors.substr(errors.find("<TR BGCOLOR"));
    bool found = false;
    std::size_t start = 0;
    while (start < rows.size()) {
        const std::size_t end = rows.find("</TR>", start);
        const std::string row = rows.substr(start, end - start);
        if (std::regex_search(row, m, not_found)) {
            EXPECT_EQ(m[1].str(), formatCount(raw.not_found));
            found = true;
        }
        if (end == std::string::npos) break;
        start = end + 5;
    }
    EXPECT_TRUE(found || raw.not_found == 0);

    // The busiest hour: the hourly page's row with the most requests.
    const std::string hourly = test::read_file(dir / "Hourly.html");
    const std::regex hour_row(R"(<TD align=right>([\d,]+)</TD><TD[^>]*>[^<]*</TD>.*?>(\d\d)\s*:00</TD>)");
    long best = -1;
    int best_hour = -1;
    for (auto it = std::sregex_iterator(hourly.begin(), hourly.end(), hour_row);
         it != std::sregex_iterator(); ++it) {
        std::string digits = (*it)[1];
        digits.erase(std::remove(digits.begin(), digits.end(), ','), digits.end());
        const long n = std::stol(digits);
        if (n > best) {
            best = n;
            best_hour = std::stoi((*it)[2]);
        }
    }
    const auto busiest = std::max_element(raw.hours.begin(), raw.hours.end());
    EXPECT_EQ(best, *busiest);
    EXPECT_EQ(best_hour, static_cast<int>(busiest - raw.hours.begin()));

    // The Totals row of the daily table counts every request.
    const std::string daily = test::read_file(dir / "Daily.html");
    EXPECT_NE(daily.find("<TD align=right>" + formatCount(raw.requests) + "</TD><TD align=right "
                         "colspan=1> 100.0%</TD>"),
              std::string::npos);
}

TEST(ReportAssembly, RealLogRtfIsReadByAnRtfReader) {
    const auto log = RealLog();
    if (!log) GTEST_SKIP() << "no real logs beside the checkout";
    if (!fs::exists("/usr/bin/unrtf")) GTEST_SKIP() << "unrtf is not installed";
    QuietSink quiet;
    test::TempDir dir;
    const Settings settings = ReportSettingsFor(dir / "index.html", Rtf);
    ASSERT_EQ(AnalyseAndReport(settings, {log->string()}).written, 0);
    const std::set<std::string> files = FilesIn(dir.path());
    EXPECT_TRUE(files.count("index.rtf"));
    for (const std::string& key : kCorePages) EXPECT_TRUE(files.count(key + ".rtf")) << key;
    EXPECT_FALSE(files.count("Tallowick.gif"));
    for (const std::string& name : files) {
        const std::string text = test::read_file(dir / name);
        EXPECT_EQ(text.rfind("{\\rtf1\\ansi", 0), 0u) << name;
        const auto result = test::run_process("/usr/bin/unrtf", {"--text", (dir / name).string()});
        EXPECT_EQ(result.exit_code, 0) << name << ": " << result.err;
        EXPECT_EQ(result.err.find("rror"), std::string::npos) << name << ": " << result.err;
    }
    const auto daily = test::run_process("/usr/bin/unrtf", {"--text", (dir / "Daily.rtf").string()});
    EXPECT_NE(daily.out.find("Daily Transmission Statistics"), std::string::npos);
}

TEST(ReportAssembly, RealLogDelimitedLineShapes) {
    const auto log = RealLog();
    if (!log) GTEST_SKIP() << "no real logs beside the checkout";
    QuietSink quiet;
    test::TempDir dir;
    const Settings settings = ReportSettingsFor(dir / "index.html", Delimited);
    ASSERT_EQ(AnalyseAndReport(settings, {log->string()}).written, 0);
    const std::set<std::string> files = FilesIn(dir.path());
    for (const std::string& key : kCorePages) EXPECT_TRUE(files.count(key + ".txt")) << key;
    // In a table: the title line "(n) title" and an empty line (the end of the
    // title row), then lines that each begin with a comma and have the header's
    // number of fields, then an empty line.
    const std::regex title(R"(^(?:# .*)?\((\d+)\) .+$)");
    for (const std::string key : {"Daily", "Files", "Client", "Errors", "Browser"}) {
        SCOPED_TRACE(key);
        std::ifstream in(dir / (key + std::string(".txt")));
        std::string line;
        int tables = 0, header_fields = -1, rows = 0;
        bool in_table = false;
        while (std::getline(in, line)) {
            if (!in_table) {
                std::smatch m;
                if (std::regex_match(line, m, title)) {
                    in_table = true;
                    header_fields = -1;
                    rows = 0;
                    ++tables;
                    ASSERT_TRUE(std::getline(in, line));
                    EXPECT_EQ(line, "");
                }
                continue;
            }
            if (line.empty()) {
                EXPECT_GT(rows, 1);
                in_table = false;
                continue;
            }
            ASSERT_EQ(line[0], ',') << line;
            // Quoted fields may hold commas: count fields outside quotes.
            int fields = 0;
            bool quoted = false;
            for (char c : line) {
                if (c == '"') quoted = !quoted;
                if (c == ',' && !quoted) ++fields;
            }
            if (header_fields < 0) header_fields = fields;
            EXPECT_EQ(fields, header_fields) << line;
            ++rows;
        }
        EXPECT_GE(tables, 1);
    }
}

// A small log of our own for the path and empty-report cases.
std::string SmallLog(const test::TempDir& dir) {
    const fs::path log = dir / "small.log";
    test::write_file(log,
                     "10.0.0.1 - - [08/Dec/2026:10:00:00 +0000] \"GET /index.html HTTP/1.1\" 200 "
                     "1000 \"-\" \"Mozilla/5.0 (X11; Linux x86_64)\"\n"
                     "10.0.0.2 - - [08/Dec/2026:11:00:00 +0000] \"GET /a/b.html HTTP/1.1\" 404 "
                     "200 \"-\" \"Mozilla/5.0 (X11; Linux x86_64)\"\n");
    return log.string();
}

TEST(ReportAssembly, ReportPathRules) {
    EXPECT_EQ(completeReportPath("", Html).main, "index.html");
    EXPECT_EQ(completeReportPath("out/", Html).main, "out/index.html");
    EXPECT_EQ(completeReportPath("out\\", Html).main, "out/index.html");
    EXPECT_EQ(completeReportPath("out/stats", Html).main, "out/stats.html");
    const ReportPath htm = completeReportPath("out/stats.htm", Html);
    EXPECT_EQ(htm.main, "out/stats.htm");
    EXPECT_EQ(htm.extension, ".htm");
    EXPECT_EQ(completeReportPath("out/stats.htm", Rtf).main, "out/stats.rtf");
    EXPECT_EQ(completeReportPath("out/stats.htm", Delimited).extension, ".txt");
    EXPECT_EQ(safeFolderName("www.example.org:80/x"), "www.example.org_80_x");
    EXPECT_EQ(safeFolderName(".."), "report");
}

TEST(ReportAssembly, HtmExtensionReachesEveryPage) {
    QuietSink quiet;
    test::TempDir dir;
    const std::string log = SmallLog(dir);
    const Settings settings = ReportSettingsFor(dir / "out" / "stats.htm", Html);
    ASSERT_EQ(AnalyseAndReport(settings, {log}).written, 0);
    const std::set<std::string> files = FilesIn(dir / "out");
    ASSERT_TRUE(files.count("stats.htm"));
    for (const std::string& name : files) {
        if (name == "Tallowick.gif") continue;
        EXPECT_EQ(fs::path(name).extension(), ".htm") << name;
        // Links to pages of the report (not into the site or elsewhere) end in .htm.
        const std::string page = test::read_file(dir / "out" / name);
        for (const std::string attribute : {"HREF=\"", "href=\"", "SRC=\""}) {
            for (std::size_t at = page.find(attribute); at != std::string::npos;
                 at = page.find(attribute, at + 1)) {
                const std::size_t start = at + attribute.size();
                const std::string target = page.substr(start, page.find('"', start) - start);
                if (target.find("://") != std::string::npos || target.rfind("/", 0) == 0 ||
                    target.rfind("#", 0) == 0 || target.find(".gif") != std::string::npos)
                    continue;
                EXPECT_EQ(fs::path(target).extension(), ".htm") << name << ": " << target;
            }
        }
    }
    EXPECT_TRUE(files.count("Daily.htm"));
    EXPECT_TRUE(files.count("freport.htm"));
    EXPECT_NE(test::read_file(dir / "out" / "freport.htm").find("SRC=\"findex.htm\""),
              std::string::npos);
}

TEST(ReportAssembly, FolderAsReportPath) {
    QuietSink quiet;
    test::TempDir dir;
    const std::string log = SmallLog(dir);
    Settings settings = ReportSettingsFor(dir / "x", Html);
    settings.run.out = (dir / "report").string() + "/";
    ASSERT_EQ(AnalyseAndReport(settings, {log}).written, 0);
    const std::set<std::string> files = FilesIn(dir / "report");
    EXPECT_TRUE(files.count("index.html"));
    EXPECT_TRUE(files.count("Daily.html"));
    EXPECT_TRUE(files.count("findex.html"));
}

TEST(ReportAssembly, NoFilesForAReportWithoutRequests) {
    QuietSink quiet;
    test::TempDir dir;
    const fs::path log = dir / "empty.log";
    test::write_file(log, "");
    const Settings settings = ReportSettingsFor(dir / "out" / "index.html", Html);
    const RunResult run = AnalyseAndReport(settings, {log.string()});
    EXPECT_EQ(run.chart_calls, 0);
    EXPECT_FALSE(fs::exists(dir / "out"));
}

TEST(ReportAssembly, OneFolderPerReportAndAnOverview) {
    QuietSink quiet;
    test::TempDir dir;
    const std::string first = SmallLog(dir);
    const fs::path second = dir / "second.log";
    fs::copy_file(first, second);
    Settings settings = ReportSettingsFor(dir / "out" / "index.html", Html);
    settings.run.multidomains = 1;
    ASSERT_EQ(AnalyseAndReport(settings, {first, second.string()}).written, 0);
    EXPECT_TRUE(fs::exists(dir / "out" / "small.log" / "index.html"));
    EXPECT_TRUE(fs::exists(dir / "out" / "second.log" / "Daily.html"));
    const std::string overview = test::read_file(dir / "out" / "index.html");
    EXPECT_NE(overview.find("<A HREF=\"small.log/index.html\">small.log</A>"), std::string::npos);
    EXPECT_NE(overview.find("<A HREF=\"second.log/index.html\">second.log</A>"), std::string::npos);
    EXPECT_NE(overview.find("<H3>(2) Reports</H3>"), std::string::npos);
}

TEST(ReportAssembly, JapaneseReportFromTheShippedLanguageFile) {
    const fs::path lang = test::source_dir() / "lang" / "Japanese.lang";
    if (!fs::exists(lang)) GTEST_SKIP() << "no Japanese language file in this checkout";
    QuietSink quiet;
    test::TempDir dir;
    const std::string log = SmallLog(dir);
    Settings settings = ReportSettingsFor(dir / "out" / "index.html", Html);
    settings.run.language = 9;
    LanguageTable languages(test::source_dir());
    engine::RunHooks hooks;
    hooks.write_all = [&](std::span<const std::unique_ptr<engine::ReportStats>> reports) {
        AssemblyOptions options;
        options.settings = &settings;
        options.languages = &languages;
        return writeReports(reports, options);
    };
    engine::AnalysisRun run(settings, {log}, std::move(hooks));
    run.Process();
    const std::string daily = test::read_file(dir / "out" / "Daily.html");
    // Translated words, but links and file names untouched.
    EXPECT_EQ(daily.find("<TH>Requests</TH>"), std::string::npos);
    EXPECT_NE(daily.find("HREF=\"index.html\""), std::string::npos);
    EXPECT_TRUE(quiet.errors.empty());
}

}  // namespace
}  // namespace tallowick::report
