#include <gtest/gtest.h>

#include <string>

#include "engine/report_stats.h"
#include "report/summaries.h"

namespace tallowick::report {
namespace {

struct Fixture {
    explicit Fixture(int format = Html) {
        style.format = format;
        settings.report.bandwidth = true;
        options.settings = &settings;
        options.now = [] { return 2461005.75; };
        report.name = "access.log";
        report.first_time = 2461000.5;
        report.last_time = 2461001.5;   // one day
        report.accepted_hits = 48;
        report.client = engine::StatList::Create(&report, 10);
        // Two clients; the first comes back after an hour (a second visit).
        report.client->AddHit(100, 0, "a", 2461000.5, engine::kAddVisit);
        report.client->AddHit(100, 0, "b", 2461000.5, engine::kAddVisit);
        report.client->AddHit(100, 0, "a", 2461000.55, engine::kAddVisit);
        file.openInMemory();
    }
    const std::string& load() {
        writeServerLoad(report, out, 270, true, options);
        return file.contents();
    }
    Settings settings;
    SummaryOptions options;
    engine::ReportStats report;
    WriterStyle style;
    ReportFile file;
    OutputWriter out{style, &file};
};

TEST(Summaries, BandwidthUnitsAndLineRate) {
    Fixture small;
    small.report.bytes = 9.9 * 1048576;
    const std::string& a = small.load();
    EXPECT_NE(a.find(">Total Kilobytes</FONT>"), std::string::npos);
    EXPECT_EQ(a.find("Total Megabytes"), std::string::npos);
    EXPECT_NE(a.find(">10,137.60</FONT>"), std::string::npos);

    Fixture busy;
    busy.report.bytes = 96000.0 * 10800;   // 96,000 bits per second over the day
    const std::string& b = busy.load();
    EXPECT_NE(b.find(">Total Megabytes</FONT>"), std::string::npos);
    EXPECT_NE(b.find(">96,000.00</FONT>"), std::string::npos);
    EXPECT_NE(b.find(">Percent of 128Kbps</FONT>"), std::string::npos);
    EXPECT_NE(b.find(">75.00%</FONT>"), std::string::npos);
    EXPECT_EQ(b.find("Bandwidth In"), std::string::npos);

    EXPECT_EQ(lineRateFor(63999).name, "64Kbps");
    EXPECT_EQ(lineRateFor(64000).name, "128Kbps");
    EXPECT_EQ(lineRateFor(1e9).name, "T3");
}

TEST(Summaries, VisitorsAndTheirColours) {
    Fixture normal;
    const std::string& page = normal.load();
    EXPECT_NE(page.find(">Total Unique Visitors</FONT></TD><TD BGCOLOR=f0f0f0><P ALIGN=RIGHT>"
                        "<FONT SIZE=3>2</FONT>"),
              std::string::npos);
    EXPECT_NE(page.find(">Total Repeat Visitors</FONT></TD><TD BGCOLOR=e0e0e0><P ALIGN=RIGHT>"
                        "<FONT SIZE=3>1</FONT>"),
              std::string::npos);
    EXPECT_NE(page.find("BGCOLOR=f0f0f0><FONT SIZE=3>Average Visit Length"), std::string::npos);

    // Streaming: the two lines are gone and the alternation goes on without them.
    Fixture streaming;
    streaming.settings.run.streaming = true;
    const std::string& s = streaming.load();
    EXPECT_EQ(s.find("Unique Visitors"), std::string::npos);
    EXPECT_EQ(s.find("Repeat Visitors"), std::string::npos);
    EXPECT_NE(s.find("BGCOLOR=f0f0f0><FONT SIZE=3>Average Visit Length"), std::string::npos);
    EXPECT_NE(s.find("BGCOLOR=e0e0e0><FONT SIZE=3>Average Requests/Visit"), std::string::npos);
}

TEST(Summaries, RtfHasOnlyLinesAndDelimitedRows) {
    Fixture rtf(Rtf);
    const std::string& r = rtf.load();
    EXPECT_EQ(r.find("Server Load"), std::string::npos);
    EXPECT_EQ(r.find("Visits Info"), std::string::npos);
    EXPECT_NE(r.find("{\\fs17\\b Total Requests\t\t\t 48 \\par}\n"), std::string::npos);

    // Comma-delimited: the block's title, then a row of label and plain figure each.
    Fixture csv(Delimited);
    csv.report.bytes = 5000.0 * 1048576;
    const std::string& c = csv.load();
    EXPECT_EQ(c.rfind("\nServer Load\nTotal Requests,48\nTotal Cached Requests,0\n", 0), 0u) << c;
    EXPECT_NE(c.find("\nAverage Requests/Visit,16.0\n"), std::string::npos);
    EXPECT_NE(c.find("\nTotal Megabytes,5000.00\n"), std::string::npos);
    const std::size_t before = c.size();
    writeClientLinks(csv.report, csv.out, 180, false, csv.options);
    EXPECT_EQ(csv.file.contents().size(), before);
}

TEST(Summaries, LinkBlocksListOnlyWrittenPages) {
    Fixture f;
    f.style.html_extension = ".htm";
    f.options.page_written = [](std::string_view key) { return key == "Hourly" || key == "Daily"; };
    writeServerLinks(f.report, f.out, 180, false, f.options);
    const std::string& page = f.file.contents();
    EXPECT_NE(page.find("<a href=\"Hourly.htm\" target=reportstat>Hourly</a>"), std::string::npos);
    EXPECT_NE(page.find("<a href=\"Daily.htm\" target=reportstat>Daily</a>"), std::string::npos);
    EXPECT_EQ(page.find("Weekly"), std::string::npos);
    EXPECT_NE(page.find(">Server Statistics<"), std::string::npos);
}

TEST(Summaries, PeriodHeading) {
    Fixture f;
    writePeriodHeading(f.report, f.out, "Access Statistics", 1, f.options);
    const std::string& page = f.file.contents();
    EXPECT_NE(page.find("<H3 ALIGN=CENTER>Access Statistics for access.log during 1 Day Period<BR>\n"
                        "<FONT SIZE=-1>"),
              std::string::npos);
    EXPECT_NE(page.find("<CENTER><FONT SIZE=-2>"), std::string::npos);   // timestat is on

    Fixture quiet;
    quiet.settings.report.timestat = false;
    quiet.settings.report.headtitle = false;
    writePeriodHeading(quiet.report, quiet.out, "Daily", 3, quiet.options);
    EXPECT_EQ(quiet.file.contents().rfind("\n<!-- ", 0), 0u);
    EXPECT_NE(quiet.file.contents().find("<H3 ALIGN=CENTER>Daily for 3 Day Period<BR>"),
              std::string::npos);
}

// The value written on the line of a label in the Server Load block.
std::string value_of(const std::string& page, const std::string& label) {
    const std::size_t at = page.find(">" + label + "</FONT>");
    if (at == std::string::npos) return "(missing)";
    const std::size_t open = page.find("<FONT SIZE=3>", at + label.size()) + 13;
    return page.substr(open, page.find("</FONT>", open) - open);
}

TEST(Summaries, AveragesDivideByTheCalendarDaysOfTheHeading) {
    Fixture minutes;
    minutes.report.first_time = 2461000.6;
    minutes.report.last_time = 2461000.6 + 3.0 / 1440;
    minutes.report.accepted_hits = 1000;
    EXPECT_EQ(calendarDays(minutes.report), 1);
    const std::string& a = minutes.load();
    EXPECT_EQ(value_of(a, "Average Daily Request"), "1,000");
    EXPECT_EQ(value_of(a, "Average Request / Hour"), "42");
    EXPECT_EQ(value_of(a, "Average Daily Visits"), "3");

    Fixture days;   // from the morning of one day to the evening of the fourth
    days.report.first_time = 2461000.6;
    days.report.last_time = 2461003.9;
    days.report.accepted_hits = 10000;
    days.report.bytes = 40.0 * 1048576;
    EXPECT_EQ(calendarDays(days.report), 4);
    const std::string& b = days.load();
    EXPECT_EQ(value_of(b, "Average Daily Request"), "2,500");
    EXPECT_EQ(value_of(b, "Average Daily Megabytes"), "10.00");
    // The bit rate stays a rate over the logged span of 3.3 days.
    EXPECT_EQ(value_of(b, "Average Bits/Sec (bps)"), "1,176.85");
}

TEST(Summaries, ProcessingTimeKeepsItsTenths) {
    Fixture f;
    f.report.accepted_hits = 1000;
    f.report.bytes_read = 1048576;
    f.report.elapsed = 0.2;
    writeProcessingTime(f.report, f.out, f.options);
    EXPECT_NE(f.file.contents().find("Log Processing time: 00:00:00.2, 300000 Files/Min, "
                                     "300.0 Megs/Min"),
              std::string::npos)
        << f.file.contents();
}

}  // namespace
}  // namespace tallowick::report
