#include <gtest/gtest.h>

#include <string>

#include "engine/report_stats.h"
#include "report/stat_tables.h"
#include "report/translate.h"
#include "support/test_support.h"

namespace tallowick::report {
namespace {

int occurrences(const std::string& text, const std::string& word) {
    int n = 0;
    for (std::size_t p = text.find(word); p != std::string::npos; p = text.find(word, p + 1)) ++n;
    return n;
}

// A report whose file list holds `items` files; file i has i + 1 requests of 100 bytes.
struct Fixture {
    explicit Fixture(int items, int format = Html) {
        style.format = format;
        style.colours = {0x999999, 0xcccccc, 0xf4f4f4, 0xcccccc, 0x99cccc, 0x99cccc};
        report.url = engine::StatList::Create(&report, 50);
        for (int i = 0; i < items; ++i)
            for (int k = 0; k <= i; ++k) {
                report.url->AddHit(100, 0, "/f" + std::to_string(i) + ".html", 2461000.5, 0);
                report.accepted_hits += 1;
                report.bytes += 100;
            }
        report.url->SortBy(kSortReqs);
        file.openInMemory();
    }
    const std::string& write(int kind, const std::string& label = "File") {
        writeStatTable(out, report, *report.url, {kind, "URLs", label}, options);
        return file.contents();
    }
    engine::ReportStats report;
    WriterStyle style;
    ReportFile file;
    OutputWriter out{style, &file};
    TableOptions options;
};

TEST(StatTables, OthersRowOnlyWhenRowsWereCut) {
    Fixture cut(25);
    cut.options.statdepth = 3;   // ten rows
    const std::string& page = cut.write(kFiles);
    EXPECT_NE(page.find("<H3>(10) URLs</H3>"), std::string::npos);
    EXPECT_EQ(occurrences(page, "<TH>Others</TH>"), 1);
    // The Others row carries what the ten largest left: 325 - (25 + ... + 16) = 120.
    EXPECT_NE(page.find("<TD align=right>120</TD>"), std::string::npos);
    EXPECT_EQ(occurrences(page, "<TH>Average</TH>"), 1);
    EXPECT_EQ(occurrences(page, "<TH>Totals</TH>"), 1);

    Fixture all(25);
    all.options.statdepth = 2;
    const std::string& every = all.write(kFiles);
    EXPECT_NE(every.find("<H3>(25) URLs</H3>"), std::string::npos);
    EXPECT_EQ(occurrences(every, "Others"), 0);

    Fixture few(5);
    few.options.statdepth = 3;
    EXPECT_EQ(occurrences(few.write(kFiles), "Others"), 0);
}

TEST(StatTables, TimeTablesIgnoreTheRowLimit) {
    Fixture days(25);
    days.options.statdepth = 3;
    const std::string& page = days.write(kDays, "Date");
    EXPECT_NE(page.find("(25) URLs"), std::string::npos);
    EXPECT_EQ(occurrences(page, "Others"), 0);
}

TEST(StatTables, EntryPagesHaveNeitherOthersNorAverage) {
    Fixture entry(25);
    entry.options.statdepth = 3;
    const std::string& page = entry.write(kEntryPages, "Page");
    EXPECT_NE(page.find("<TH>First count</TH>"), std::string::npos);
    EXPECT_EQ(occurrences(page, "Others"), 0);
    EXPECT_EQ(occurrences(page, "Average"), 0);
    EXPECT_EQ(occurrences(page, "<TH>Totals</TH>"), 1);
}

TEST(StatTables, CostColumnOnlyWithACost) {
    Fixture free(3);
    EXPECT_EQ(occurrences(free.write(kFiles), "Cost"), 0);
    Fixture paid(3);
    paid.style.dollar = 1000;   // $1 per megabyte
    const std::string& page = paid.write(kFiles);
    EXPECT_EQ(occurrences(page, "<TH>$ Cost</TH>"), 1);
    EXPECT_NE(page.find(">$0.00</TD>"), std::string::npos);
}

TEST(StatTables, ItemCells) {
    Fixture files(1);
    files.options.siteurl = "http://example.org/";
    EXPECT_NE(files.write(kFiles).find("<A HREF=\"http://example.org/f0.html\">/f0.html</A>"),
              std::string::npos);
    EXPECT_EQ(siteLink("http://a/", "/b"), "http://a/b");
    EXPECT_EQ(siteLink("", "/b"), "/b");

    // Weekday names link to their hourly page only when it exists.
    engine::ReportStats report;
    report.wday = engine::StatList::Create(&report, 8);
    report.wday->AddHit(1, 0, "Tuesday", 2461000.5, 0);
    report.wday->AddHit(1, 0, "Friday", 2461000.5, 0);
    report.accepted_hits = 2;
    WriterStyle style;
    style.html_extension = ".htm";
    ReportFile file;
    file.openInMemory();
    OutputWriter out(style, &file);
    TableOptions options;
    options.weekday_pages[2] = true;
    writeStatTable(out, report, *report.wday, {kWeekdays, "Weekly", "Day"}, options);
    EXPECT_NE(file.contents().find("<A HREF=\"Tueday.htm\">Tuesday</A>"), std::string::npos);
    EXPECT_EQ(file.contents().find("Friday.htm"), std::string::npos);
    EXPECT_NE(file.contents().find(">Friday</TD>"), std::string::npos);

    EXPECT_TRUE(countryReference("Austria").has_value());
    EXPECT_FALSE(countryReference("[LOCAL NET]").has_value());
}

TEST(StatTables, DelimitedLinesBeginWithAComma) {
    Fixture csv(12, Delimited);
    csv.options.statdepth = 3;
    const std::string& page = csv.write(kFiles);
    std::size_t start = 0;
    int data_lines = 0;
    int heading_lines = 0;
    while (start < page.size()) {
        std::size_t end = page.find('\n', start);
        if (end == std::string::npos) end = page.size();
        const std::string line = page.substr(start, end - start);
        start = end + 1;
        if (line.empty()) continue;
        // The unit comment, then the title on a line of its own.
        if (heading_lines == 0) {
            EXPECT_EQ(line.rfind("# Total Units = 12 ", 0), 0u) << line;
            ++heading_lines;
            continue;
        }
        if (heading_lines == 1) {
            EXPECT_EQ(line, "(10) URLs");
            ++heading_lines;
            continue;
        }
        EXPECT_EQ(line[0], ',') << line;
        EXPECT_EQ(occurrences(line, ","), 6) << line;   // five columns and the item
        ++data_lines;
    }
    EXPECT_EQ(data_lines, 1 + 10 + 3);   // header, rows, Others, Average, Totals
    EXPECT_EQ(page.substr(page.size() - 2), "\n\n");
}

TEST(StatTables, SearchEnginesLinkTheirPhraseTables) {
    engine::ReportStats report;
    report.searchstr = engine::StatList::Create(&report, 10);
    report.searchsite = engine::StatList::Create(&report, 10);
    report.searchsite->SetHasTimeRecs(true);
    auto hit = [&](std::string_view engine, std::string_view phrase, int bytes) {
        report.searchstr->AddHit(bytes, 0, phrase, 2461000.5, 0);
        report.searchsite->AddHit(bytes, 0, engine, 2461000.5, engine::kAddKeyRecord,
                                  static_cast<int>(report.searchstr->HashOf(phrase)));
        report.accepted_hits += 1;
        report.bytes += bytes;
    };
    hit("www.google.com", "tallow candles", 100);
    hit("www.google.com", "tallow candles", 100);
    hit("www.google.com", "wick", 50);
    hit("duckduckgo.com", "wick", 10);
    report.searchsite->SortBy(kSortReqs);
    WriterStyle style;
    ReportFile file;
    file.openInMemory();
    OutputWriter out(style, &file);
    TableOptions options;
    options.statdepth = 2;
    writeStatTable(out, report, *report.searchsite, {kSearchEngines, "Search Engines", "Engine"},
                   options);
    const std::string& page = file.contents();
    EXPECT_NE(page.find("<A HREF=\"#0\">www.google.com</A>"), std::string::npos);
    EXPECT_NE(page.find("<A HREF=\"#1\">duckduckgo.com</A>"), std::string::npos);
    const std::size_t anchor = page.find("<A NAME=0><BR></A>");
    ASSERT_NE(anchor, std::string::npos);
    const std::string google = page.substr(anchor, page.find("<A NAME=1>") - anchor);
    EXPECT_NE(google.find("<H3>(2) www.google.com</H3>"), std::string::npos);
    EXPECT_NE(google.find("<TH>% Requests</TH>"), std::string::npos);
    // The most frequent phrase first, its share of the engine's requests.
    EXPECT_LT(google.find(">tallow candles<"), google.find(">wick<"));
    EXPECT_NE(google.find("<TD align=right>2</TD><TD align=right colspan=1>  66.7%</TD>"),
              std::string::npos);
    EXPECT_EQ(google.find("Others"), std::string::npos);
}

TEST(StatTables, LogDataIsNotTranslated) {
    test::TempDir dir;
    std::filesystem::create_directories(dir / "lang");
    test::write_file(dir / "lang/German.lang", "German\nDaily,Täglich\nTuesday,Dienstag\n");
    LanguageTable languages(dir.path());
    engine::ReportStats report;
    report.url = engine::StatList::Create(&report, 8);
    report.url->AddHit(10, 0, "/reports/Daily", 2461000.5, 0);
    report.wday = engine::StatList::Create(&report, 8);
    report.wday->AddHit(10, 0, "Tuesday", 2461000.5, 0);
    report.accepted_hits = 1;
    WriterStyle style;
    style.language = 1;
    style.languages = &languages;
    ReportFile file;
    file.openInMemory();
    OutputWriter out(style, &file);
    TableOptions options;
    options.siteurl = "http://example.org";
    writeStatTable(out, report, *report.url, {kFiles, "Daily files", "File"}, options);
    writeStatTable(out, report, *report.wday, {kWeekdays, "Weekly", "Day"}, options);
    const std::string& page = file.contents();
    // The path and its link stay as the log has them; the title and day names change.
    EXPECT_NE(page.find("<A HREF=\"http://example.org/reports/Daily\">/reports/Daily</A>"),
              std::string::npos);
    EXPECT_NE(page.find("(1) Täglich files"), std::string::npos);
    EXPECT_NE(page.find(">Dienstag</TD>"), std::string::npos);
}

TEST(StatTables, RowLimits) {
    EXPECT_EQ(rowLimit(2), 0);
    EXPECT_EQ(rowLimit(3), 10);
    EXPECT_EQ(rowLimit(7), 50);
    EXPECT_EQ(rowLimit(8), 100);
    EXPECT_EQ(rowLimit(12), 500);
    EXPECT_EQ(rowLimit(13), 13);
}

}  // namespace
}  // namespace tallowick::report
