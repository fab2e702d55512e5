#include <gtest/gtest.h>

#include "report/number_format.h"
#include "report/output_writer.h"
#include "report/translate.h"
#include "support/test_support.h"

namespace tallowick::report {
namespace {

// A page kept in memory, written in one format.
struct MemoryPage {
    explicit MemoryPage(int format) {
        style.format = format;
        style.colours = {0x999999, 0xcccccc, 0xf4f4f4, 0xcccccc, 0x99cccc, 0x99cccc};
        file.openInMemory();
    }
    const std::string& text() const { return file.contents(); }
    WriterStyle style;
    ReportFile file;
    OutputWriter out{style, &file};
};

TEST(NumberFormat, CountsBytesAndDurationsAtTheirBoundaries) {
    EXPECT_EQ(formatCount(0), "0");
    EXPECT_EQ(formatCount(999), "999");
    EXPECT_EQ(formatCount(1000), "1,000");
    EXPECT_EQ(formatCount(1234567), "1,234,567");
    EXPECT_EQ(formatCount(-1234), "-1,234");

    EXPECT_EQ(formatBytes(1023), "1023");
    EXPECT_EQ(formatBytes(1024), "1.0K");
    EXPECT_EQ(formatBytes(1048575), "1024.0K");
    EXPECT_EQ(formatBytes(1048576), "1.0M");
    EXPECT_EQ(formatBytes(1073741824.0), "1.0G");

    EXPECT_EQ(formatDuration(90.0 / 86400), "01:30");
    EXPECT_EQ(formatDuration((2 * 3600 + 5 * 60 + 3) / 86400.0), "02:05:03");
    EXPECT_EQ(formatDuration(1 + 3600 / 86400.0), "25:00:00");   // whole days count as hours
    EXPECT_EQ(formatDuration(0), "00:00");
    // A calendar day number shows its time of day.
    EXPECT_EQ(formatDuration(2461000.5 + (13 * 3600 + 7) / 86400.0), "13:00:07");

    EXPECT_EQ(formatCost(1048576, 150), "$0.15");
    EXPECT_EQ(formatPercent(12.345), "  12.3%");
}

TEST(OutputWriter, RtfCellBoundsShareTheWidth) {
    const std::string line =
        "\\clbrdrt\\brdrs\\clbrdrb\\brdrs\\clbrdrl\\brdrs\\clbrdrr\\brdrs\\brdrw0\\cellx";
    EXPECT_EQ(rtfCellBounds(0), "");
    EXPECT_EQ(rtfCellBounds(1), line + "8500\n");
    EXPECT_EQ(rtfCellBounds(3), line + "2333\n" + line + "4666\n" + line + "8500\n");
    // Four digits at least: 7000 / 8 = 875.
    EXPECT_EQ(rtfCellBounds(8).substr(0, line.size() + 5), line + "0875\n");
}

TEST(OutputWriter, MessagesAndExtensions) {
    EXPECT_EQ(reportMessage(Html, 0), ".html");
    EXPECT_EQ(reportMessage(Rtf, 0), ".rtf");
    EXPECT_EQ(reportMessage(Delimited, 0), ".txt");
    EXPECT_EQ(reportMessage(Rtf, 11), " ");
    EXPECT_EQ(reportMessage(Html, 14), "<!-- NONE -->");
    EXPECT_EQ(reportMessage(Html, 101), ".html");
    EXPECT_EQ(reportMessage(7, 11), ".html");

    MemoryPage html(Html);
    html.style.html_extension = ".htm";
    html.out.writeMessage(0);
    html.out.writeMessage(11, "index.htm");
    html.out.writeMessage(10, 60L, "index.htm");
    EXPECT_EQ(html.text(),
              ".htm<CENTER>[<A HREF=\"index.htm\">Index</A>]</CENTER><P>"
              "<HEAD><META HTTP-EQUIV=\"refresh\" CONTENT=\"60; URL=index.htm\"></HEAD>");
}

TEST(OutputWriter, OneTableInEachFormat) {
    auto table = [](OutputWriter& out) {
        out.beginTable(2, "Daily", 3, 420);
        out.beginRow(0xcccccc, 3);
        out.headerCell("Requests");
        out.headerCell("%");
        out.headerCell("Date", 2);
        out.endRow();
        out.beginRow(0xf4f4f4, 3);
        out.countPercentCells(1234, 50.0);
        out.linkCell(1, "http://x/a.html", "a.html");
        out.endRow();
        out.endTable();
    };
    MemoryPage html(Html);
    table(html.out);
    EXPECT_EQ(html.text(),
              "<CENTER>\n<TABLE border=1 cellspacing=0 cellpadding=1 width=95% (420)>\n"
              "<TR BGCOLOR=\"#999999\"><TH colspan=3><H3>(2) Daily</H3></TH>\n</TR>\n"
              "<TR BGCOLOR=\"#cccccc\"><TH>Requests</TH><TH>%</TH><TH colspan=2>Date</TH></TR>\n"
              "<TR BGCOLOR=\"#f4f4f4\"><TD align=right>1,234</TD>"
              "<TD align=right colspan=1>  50.0%</TD>"
              "<TD align=left><A HREF=\"http://x/a.html\">a.html</A></TD></TR>\n"
              "</TABLE></CENTER></B><BR><BR>\n");

    MemoryPage csv(Delimited);
    table(csv.out);
    // The title line has no leading comma, every data line has one, an empty line ends.
    EXPECT_EQ(csv.text(), "\n(2) Daily\n\n,Requests,%,Date\n,1234,  50.0%,a.html\n\n");

    MemoryPage rtf(Rtf);
    table(rtf.out);
    const std::string& r = rtf.text();
    EXPECT_EQ(r.rfind("\n\\par{\\pard \\trowd\\trgaph0\\trleft0\n{ ", 0), 0u);
    EXPECT_NE(r.find("\\intbl \\sb0\\sl\\sa0 \\plain\\f0\\fs16\\cf0  {\\fs18\\qc\\b (2) Daily\\par}"
                     "\\cell\n\\row}\n\n"),
              std::string::npos);
    EXPECT_NE(r.find("\\cf0  \\fs18\\b Requests\\cell\n"), std::string::npos);
    EXPECT_NE(r.find("\\cf0  {\\uldb a.html }\\cell\n"), std::string::npos);
    EXPECT_EQ(r.substr(r.size() - 3), "}\n\n");
}

TEST(OutputWriter, ShadedCellsAndComments) {
    MemoryPage html(Html);
    html.out.shadedRightCell(1, kNoShade, "x");
    html.out.shadedRightCell(2, 0xff0000, "y");
    html.out.commentLine("a -- b");
    EXPECT_EQ(html.text(),
              "<TD align=right colspan=1>x</TD><TD align=right bgcolor=ff0000 colspan=2>y</TD>"
              "\n<!-- a -= b -->");
    MemoryPage csv(Delimited);
    csv.out.commentLine("Total Units = 3");
    EXPECT_EQ(csv.text(), "\n# Total Units = 3");
}

TEST(OutputWriter, NothingWithoutAnOpenPage) {
    WriterStyle style;
    OutputWriter none(style, nullptr);
    EXPECT_EQ(none.writeText("x"), 0);
    EXPECT_EQ(none.countCell(3), 0);
    EXPECT_EQ(none.beginTable(1, "t", 2, 420), 0);
    ReportFile closed;
    OutputWriter shut(style, &closed);
    EXPECT_EQ(shut.headerCell("x"), 0);
}

TEST(OutputWriter, LogDataCannotBreakThePage) {
    MemoryPage html(Html);
    EXPECT_EQ(html.out.data("<script>\"&"), "&lt;script&gt;&quot;&amp;");
    MemoryPage rtf(Rtf);
    EXPECT_EQ(rtf.out.data("a{b}\\c"), "a\\{b\\}\\\\c");
    // Non-ASCII text becomes \u escapes in RTF.
    rtf.out.writeText("\xc3\xa9\xe6\x97\xa5");
    EXPECT_EQ(rtf.text(), "\\u233\\'e9\\u26085?");
    MemoryPage csv(Delimited);
    EXPECT_EQ(csv.out.data("a,b\"c"), "\"a,b\"\"c\"");
    EXPECT_EQ(csv.out.data("plain"), "plain");
    // Cells a spreadsheet would run as formulas stay text.
    EXPECT_EQ(csv.out.data("=HYPERLINK(\"x\")"), "\"'=HYPERLINK(\"\"x\"\")\"");
    for (std::string cell : {"+1", "-1", "@SUM(A1)", "\tx"}) EXPECT_EQ(csv.out.data(cell), "'" + cell);
    EXPECT_EQ(csv.out.data("\r=1"), "\"' =1\"");
    EXPECT_EQ(csv.out.data("a=1"), "a=1");
    // The link buffer is separate from the text buffer.
    std::string_view link = html.out.dataLink("/a?b&c");
    std::string_view text = html.out.data("<x>");
    EXPECT_EQ(link, "/a?b&amp;c");
    EXPECT_EQ(text, "&lt;x&gt;");
}

TEST(Translate, WholeWordsOnlyAndNotInQuotesOrFileNames) {
    test::TempDir dir;
    std::filesystem::create_directories(dir / "lang");
    test::write_file(dir / "lang/German.lang",
                     "Tallowick German\n# comment\nRequests,Anfragen\nDaily,Täglich\n"
                     "Total Requests,Anfragen gesamt\n");
    LanguageTable languages(dir.path());
    MemoryPage page(Html);
    page.style.language = 1;
    page.style.languages = &languages;
    page.out.headerCell("Requests");
    page.out.writeText("<A HREF=\"Requests.html\">x</A>");
    page.out.writeText("<A HREF=\"Daily.html\">Daily</A>");
    EXPECT_EQ(page.text(),
              "<TH>Anfragen</TH><A HREF=\"Requests.html\">x</A>"
              "<A HREF=\"Daily.html\">Täglich</A>");

    // A pair as long as the whole fragment is not applied to it.
    std::string out;
    EXPECT_FALSE(languages.translate(1, "Daily", out));
    EXPECT_TRUE(languages.translate(1, " Daily", out));
    EXPECT_EQ(out, " Täglich");
    // Earlier pairs change the text later pairs see: "Requests" went first.
    EXPECT_TRUE(languages.translate(1, "<TD>Total Requests</TD>", out));
    EXPECT_EQ(out, "<TD>Total Anfragen</TD>");
}

TEST(Translate, MissingFileLeavesTheTextAlone) {
    test::TempDir dir;
    // Run from an empty folder, so that no "lang" folder below it is found either.
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    struct Restore {
        std::filesystem::path path;
        ~Restore() { std::filesystem::current_path(path); }
    } restore{previous};
    LanguageTable languages(dir.path() / "nowhere");
    MemoryPage page(Html);
    page.style.language = 3;
    page.style.languages = &languages;
    page.out.headerCell("Requests");
    EXPECT_EQ(page.text(), "<TH>Requests</TH>");
}

}  // namespace
}  // namespace tallowick::report
