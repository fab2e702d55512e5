#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/file_transaction.h"
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

// report_settings, when given, is what report assembly reads instead (a daemon
// interval there only sets the refresh of the pages, with no daemon run).
RunResult AnalyseAndReport(const Settings& settings, std::vector<std::string> logs,
                           const Settings* report_settings = nullptr) {
    RunResult result;
    engine::RunHooks hooks;
    hooks.write_all = [&](std::span<const std::unique_ptr<engine::ReportStats>> reports) {
        AssemblyOptions options;
        options.settings = report_settings ? report_settings : &settings;
        options.charts = [&](const ChartRequest& request) {
            ++result.chart_calls;
            result.images.assign(request.images.begin(), request.images.end());
            return 1;
        };
        result.written = writeReports(reports, options);
        return result.written;
    };
    // Countries, regions and the visitor measures come from client grouping.
    hooks.group_clients = [&settings](engine::ReportStats& r) {
        return engine::group_report_clients(r, settings.analysis.orgmap);
    };
    engine::AnalysisRun run(settings, std::move(logs), std::move(hooks));
    run.Process();
    return result;
}

std::set<std::string> FilesIn(const fs::path& folder) {
    std::set<std::string> names;
    if (!fs::exists(folder)) return names;
    for (const auto& e : fs::directory_iterator(folder))
        // The folder's lock file is not part of the report.
        if (e.is_regular_file() && e.path().filename() != FolderLock::kFileName)
            names.insert(e.path().filename().string());
    return names;
}

// Cuts the text up to `stop` off the front of `rest`; all of it when absent.
std::string_view Cut(std::string_view& rest, std::string_view stop) {
    const std::size_t at = rest.find(stop);
    const std::string_view head = rest.substr(0, at);
    rest = at == std::string_view::npos ? std::string_view() : rest.substr(at + stop.size());
    return head;
}

bool AllDigits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The values of the <TD align=right>N</TD> cells of one table row, commas dropped.
std::vector<long> CountCells(std::string_view row) {
    std::vector<long> counts;
    constexpr std::string_view open = "<TD align=right>";
    for (std::size_t at = row.find(open); at != std::string_view::npos; at = row.find(open, at + 1)) {
        std::string digits;
        for (std::size_t i = at + open.size(); i < row.size() && row[i] != '<'; ++i)
            if (row[i] != ',') digits += row[i];
        if (AllDigits(digits)) counts.push_back(std::stol(digits));
    }
    return counts;
}

// The table rows of a page: the text of each "<TR ...>...</TR>".
std::vector<std::string_view> Rows(std::string_view page) {
    std::vector<std::string_view> rows;
    for (std::size_t at = page.find("<TR BGCOLOR"); at != std::string_view::npos;
         at = page.find("<TR BGCOLOR", at + 1)) {
        const std::size_t end = page.find("</TR>", at);
        rows.push_back(page.substr(at, end - at));
    }
    return rows;
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
    std::string text;
    while (std::getline(in, text)) {
        std::string_view rest = text;
        const std::string_view host = Cut(rest, " ");
        Cut(rest, " ");
        Cut(rest, " ");
        if (!rest.starts_with('[')) continue;
        rest.remove_prefix(1);
        const std::string_view date = Cut(rest, "] \"");   // 25/Oct/2015:04:11:25 +0100
        const std::string_view request = Cut(rest, "\" ");
        const std::string_view status = Cut(rest, " ");
        const std::string_view bytes = rest.substr(0, rest.find(' '));
        if (host.empty() || date.size() < 20 || date[11] != ':' || !AllDigits(date.substr(12, 2)) ||
            status.size() != 3 || !AllDigits(status) || (bytes != "-" && !AllDigits(bytes)) ||
            request.empty())
            continue;
        ++t.requests;
        t.clients.emplace(host);
        // The bytes field is what was sent, POST and PUT included.
        if (bytes != "-") t.bytes += std::stod(std::string(bytes));
        if (status == "404") ++t.not_found;
        ++t.hours[static_cast<std::size_t>(std::stoi(std::string(date.substr(12, 2))))];
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
    "Loyalty", "Circulation", "Timeon", "PageVSessions", "MeanPath",
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
    const std::set<std::string> images(run.images.begin(), run.images.end());
    int links = 0, image_links = 0;
    for (const std::string& name : files) {
        if (name.size() < 5 || name.substr(name.size() - 5) != ".html") continue;
        const std::string page = test::read_file(folder / name);
        EXPECT_NE(page.find("charset=utf-8"), std::string::npos) << name;
        for (const std::string attribute : {"HREF=\"", "href=\"", "SRC=\""}) {
            for (std::size_t at = page.find(attribute); at != std::string::npos;
                 at = page.find(attribute, at + 1)) {
                const std::size_t start = at + attribute.size();
                const std::string target = page.substr(start, page.find('"', start) - start);
                if (target.rfind("http://", 0) == 0 || target.rfind("https://", 0) == 0 ||
                    target.rfind("#", 0) == 0)
                    continue;
                ++links;
                const bool image =
                    target.find(".gif") != std::string::npos && target != "Tallowick.gif";
                if (image) {
                    ++image_links;
                    EXPECT_TRUE(images.count(target)) << name << " shows " << target;
                } else {
                    EXPECT_TRUE(files.count(target)) << name << " links " << target;
                }
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

    // The 404 row of the error page: its first count is the requests.
    const std::string errors = test::read_file(dir / "Errors.html");
    bool found = false;
    for (std::string_view row : Rows(errors)) {
        if (row.find("File Not Found (404)") == std::string_view::npos) continue;
        const std::vector<long> counts = CountCells(row);
        ASSERT_FALSE(counts.empty());
        EXPECT_EQ(counts.front(), raw.not_found);
        found = true;
    }
    EXPECT_TRUE(found || raw.not_found == 0);

    // The busiest hour: the hourly page's row with the most requests.
    const std::string hourly = test::read_file(dir / "Hourly.html");
    long best = -1;
    int best_hour = -1;
    for (std::string_view row : Rows(hourly)) {
        const std::size_t colon = row.find(":00</TD>");
        if (colon == std::string_view::npos) continue;   // titles, headers, closing rows
        const std::size_t cell = row.rfind('>', colon);
        const std::string_view hour = row.substr(cell + 1, 2);
        const std::vector<long> counts = CountCells(row);
        if (counts.empty() || !AllDigits(hour)) continue;
        if (counts.front() > best) {
            best = counts.front();
            best_hour = std::stoi(std::string(hour));
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
        // Groups balance, and nothing stands after the document's closing brace.
        int depth = 0, lowest = 0;
        std::size_t end = 0;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\\') {
                ++i;
            } else if (text[i] == '{') {
                ++depth;
            } else if (text[i] == '}') {
                lowest = std::min(lowest, --depth);
                if (depth == 0) end = i;
            }
        }
        EXPECT_EQ(depth, 0) << name;
        EXPECT_EQ(lowest, 0) << name;
        EXPECT_EQ(text.find_first_not_of("\n", end + 1), std::string::npos) << name;
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
    // "(n) title" on a line of its own.
    auto is_title = [](std::string_view line) {
        const std::size_t open = line.rfind('(');
        const std::size_t close = line.find(") ", open == std::string_view::npos ? 0 : open);
        return open != std::string_view::npos && close != std::string_view::npos &&
               open == 0 && AllDigits(line.substr(open + 1, close - open - 1));
    };
    for (const std::string key : {"Daily", "Files", "Client", "Errors", "Browser"}) {
        SCOPED_TRACE(key);
        std::ifstream in(dir / (key + std::string(".txt")));
        std::string line;
        int tables = 0, header_fields = -1, rows = 0;
        bool in_table = false;
        while (std::getline(in, line)) {
            if (!in_table) {
                if (is_title(line)) {
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
    // What a spreadsheet (python's csv module) reads: the title as a row of its
    // own, and the main page's figures in index.txt.
    const std::string check = R"(
import csv, sys
daily = list(csv.reader(open(sys.argv[1], encoding='utf-8')))
print([r[0] for r in daily if len(r) == 1 and r[0].startswith('(')][0])
figures = {r[0]: r[1] for r in csv.reader(open(sys.argv[2], encoding='utf-8')) if len(r) == 2}
print(figures['Total Requests'], figures['Total Unique Visitors'])
)";
    const auto read = test::run_process(
        "/usr/bin/python3", {"-c", check, (dir / "Daily.txt").string(), (dir / "index.txt").string()});
    const RawTotals raw = CountRaw(*log);
    EXPECT_EQ(read.out, "(6) Daily Transmission Statistics\n" + std::to_string(raw.requests) + " " +
                            std::to_string(raw.clients.size()) + "\n")
        << read.err;
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

TEST(ReportAssembly, RefreshAndBothChartOrders) {
    QuietSink quiet;
    test::TempDir dir;
    const std::string log = SmallLog(dir);
    Settings settings = ReportSettingsFor(dir / "index.html", Html);
    settings.report.graphsort = 2;
    Settings refreshing = settings;
    refreshing.run.daemontime = 2;   // 300 seconds
    const RunResult run = AnalyseAndReport(settings, {log}, &refreshing);
    ASSERT_EQ(run.written, 0);
    EXPECT_NE(test::read_file(dir / "index.html").find("CONTENT=\"300; URL=index.html\""),
              std::string::npos);
    EXPECT_NE(test::read_file(dir / "findex.html").find("CONTENT=\"300; URL=findex.html\""),
              std::string::npos);
    EXPECT_EQ(test::read_file(dir / "Daily.html").find("refresh"), std::string::npos);
    // Files: requests first, then the table again by bytes; days only once.
    const std::string files = test::read_file(dir / "Files.html");
    const std::size_t requests = files.find("<H4>Top Requests for URLs</H4>");
    const std::size_t traffic = files.find("<H4>Top Traffic for URLs</H4>");
    ASSERT_NE(requests, std::string::npos);
    ASSERT_NE(traffic, std::string::npos);
    EXPECT_LT(requests, traffic);
    EXPECT_NE(files.find("SRC=\"ReqFiles.gif\""), std::string::npos);
    EXPECT_NE(files.find("SRC=\"ByteFiles.gif\""), std::string::npos);
    const std::string daily = test::read_file(dir / "Daily.html");
    EXPECT_EQ(daily.find("Top Traffic"), std::string::npos);
    EXPECT_NE(std::find(run.images.begin(), run.images.end(), "ByteFiles.gif"), run.images.end());
    // Tables beside a pie shade their first names in the slices' colours.
    EXPECT_NE(test::read_file(dir / "Filetype.html").find("bgcolor=ff0033"), std::string::npos);
    EXPECT_NE(test::read_file(dir / "Errors.html").find("bgcolor=ff0033"), std::string::npos);
    EXPECT_EQ(files.find("bgcolor=ff0033"), std::string::npos);
    // Charts that are the same in both orders come once, with their table.
    auto count = [](const std::string& page, const std::string& text) {
        int n = 0;
        for (std::size_t at = page.find(text); at != std::string::npos; at = page.find(text, at + 1)) ++n;
        return n;
    };
    for (const auto& [page, image] : std::vector<std::pair<std::string, std::string>>{
             {"Browser.html", "BrowserOS.gif"}, {"Loyalty.html", "Loyalty.gif"},
             {"Regions.html", "Region.gif"}}) {
        SCOPED_TRACE(page);
        const std::string text = test::read_file(dir / page);
        EXPECT_EQ(count(text, "SRC=\"" + image), 1);
        if (page != "Browser.html") {
            EXPECT_EQ(count(text, "<H3>("), 1);
        }
    }
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

TEST(ReportAssembly, AnEmptyLogWritesAnEmptyReportAndSplitsWithoutRequestsNone) {
    // One report of an empty log is written empty, so that old pages do not
    // pass for this run's; a split report without requests gets no folder.
    QuietSink quiet;
    test::TempDir dir;
    const fs::path log = dir / "empty.log";
    test::write_file(log, "");
    Settings settings = ReportSettingsFor(dir / "out" / "index.html", Html);
    AnalyseAndReport(settings, {log.string()});
    EXPECT_TRUE(fs::exists(dir / "out" / "index.html"));
    settings.run.multidomains = 1;
    settings.run.out = (dir / "split" / "index.html").string();
    AnalyseAndReport(settings, {log.string(), SmallLog(dir)});
    EXPECT_FALSE(fs::exists(dir / "split" / "empty.log"));
    EXPECT_TRUE(fs::exists(dir / "split" / "small.log" / "index.html"));
    // editpath gives a report the folder the user chose.
    settings.run.editpath.push_back({"small.log", "mysite"});
    settings.run.out = (dir / "mapped" / "index.html").string();
    AnalyseAndReport(settings, {log.string(), SmallLog(dir)});
    EXPECT_TRUE(fs::exists(dir / "mapped" / "mysite" / "index.html"));
    EXPECT_NE(test::read_file(dir / "mapped" / "index.html").find("HREF=\"mysite/index.html\""),
              std::string::npos);
}

TEST(ReportAssembly, OneFolderPerReportAndAnOverview) {
    QuietSink quiet;
    test::TempDir dir;
    const std::string first = SmallLog(dir);
    // The second log holds the first one twice: more requests.
    const fs::path second = dir / "second.log";
    test::write_file(second, test::read_file(first) + test::read_file(first));
    Settings settings = ReportSettingsFor(dir / "out" / "index.html", Html);
    settings.run.multidomains = 1;
    ASSERT_EQ(AnalyseAndReport(settings, {first, second.string()}).written, 0);
    EXPECT_TRUE(fs::exists(dir / "out" / "small.log" / "index.html"));
    EXPECT_TRUE(fs::exists(dir / "out" / "second.log" / "Daily.html"));
    std::string overview = test::read_file(dir / "out" / "index.html");
    const std::string small_row = "<A HREF=\"small.log/index.html\">small.log</A>";
    const std::string second_row = "<A HREF=\"second.log/index.html\">second.log</A>";
    ASSERT_NE(overview.find(small_row), std::string::npos);
    ASSERT_NE(overview.find(second_row), std::string::npos);
    EXPECT_LT(overview.find(small_row), overview.find(second_row));   // the run's order
    EXPECT_NE(overview.find("<H3>(2) Reports</H3>"), std::string::npos);
    // VDsortby reqs: the busiest report first.
    settings.run.vd_sortby = 2;
    ASSERT_EQ(AnalyseAndReport(settings, {first, second.string()}).written, 0);
    overview = test::read_file(dir / "out" / "index.html");
    EXPECT_LT(overview.find(second_row), overview.find(small_row));
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

// A log written in Latin-1 gives pages that are valid UTF-8 in every format:
// each byte that is not UTF-8 is shown as its Latin-1 character.
TEST(ReportAssembly, Latin1LogGivesValidTextInEveryFormat) {
    QuietSink quiet;
    test::TempDir dir;
    const fs::path log = dir / "latin1.log";
    test::write_file(log,
                     "10.0.0.1 - - [08/Dec/2026:10:00:00 +0000] \"GET /caf\xE9.html HTTP/1.1\" 200 "
                     "1000 \"http://www.google.com/search?q=M\xFCller\" \"Pr\xFC" "fer/1.0\"\n"
                     "10.0.0.2 - - [08/Dec/2026:11:00:00 +0000] \"GET /na\xC3\xAFve.html HTTP/1.1\" "
                     "200 200 \"-\" \"Mozilla/5.0 (X11; Linux x86_64)\"\n");
    const std::string check = R"(
import csv, io, pathlib, sys
for path in sorted(pathlib.Path(sys.argv[1]).iterdir()):
    if path.suffix in ('.html', '.txt'):
        text = path.read_bytes().decode('utf-8')
    if path.suffix == '.txt':
        list(csv.reader(io.StringIO(text)))
print('checked')
)";
    for (const int format : {Html, Rtf, Delimited}) {
        SCOPED_TRACE(format);
        const fs::path out = dir / std::to_string(format);
        const Settings settings = ReportSettingsFor(out / "index.html", format);
        ASSERT_EQ(AnalyseAndReport(settings, {log.string()}).written, 0);
        if (format == Rtf) {
            if (!fs::exists("/usr/bin/unrtf")) continue;
            const auto files = test::run_process("/usr/bin/unrtf", {"--html", (out / "Files.rtf").string()});
            EXPECT_EQ(files.exit_code, 0) << files.err;
            EXPECT_NE(files.out.find("/caf&eacute;.html"), std::string::npos) << files.out;
            EXPECT_NE(files.out.find("/na&iuml;ve.html"), std::string::npos) << files.out;
            continue;
        }
        const auto result = test::run_process("/usr/bin/python3", {"-c", check, out.string()});
        EXPECT_EQ(result.out, "checked\n") << result.err;
        const std::string page = test::read_file(out / (format == Html ? "Files.html" : "Files.txt"));
        EXPECT_NE(page.find("/caf\xC3\xA9.html"), std::string::npos);
        EXPECT_NE(page.find("/na\xC3\xAFve.html"), std::string::npos);
    }
}

}  // namespace
}  // namespace tallowick::report
