#include "graph/text_graph.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "engine/stat_list.h"
#include "graph_test_support.h"
#include "report/report_assembly.h"
#include "report/report_file.h"
#include "report/stat_tables.h"
#include "support/test_support.h"

namespace tallowick::graph {
namespace {

namespace fs = std::filesystem;

struct Row {
    std::string name;   // as written, padding removed
    std::string bar;
};

// The rows of every text graph of a page, in order; fails on a block that is
// not closed.
std::vector<std::vector<Row>> text_graphs(const std::string& page) {
    std::vector<std::vector<Row>> graphs;
    const std::string ruler = "---+----+----+----+----+----+----+----+----+----+----+----\n";
    for (std::size_t at = page.find("<NOSCRIPT><PRE>\n"); at != std::string::npos;
         at = page.find("<NOSCRIPT><PRE>\n", at + 1)) {
        const std::size_t first = page.find(ruler, at) + ruler.size();
        const std::size_t last = page.find(ruler, first);
        const std::size_t close = page.find("</PRE></NOSCRIPT>\n", last);
        EXPECT_NE(close, std::string::npos);
        if (close == std::string::npos) break;
        std::vector<Row> rows;
        std::size_t line = first;
        // The rows end where the closing ruler's leading blanks begin.
        const std::size_t end = page.rfind('\n', last) + 1;
        while (line < end) {
            const std::size_t eol = page.find('\n', line);
            const std::string text = page.substr(line, eol - line);
            const std::size_t bar = text.find(" |");
            EXPECT_NE(bar, std::string::npos) << text;
            std::string name = text.substr(0, bar);
            name.erase(name.find_last_not_of(' ') + 1);
            rows.push_back({name, text.substr(bar + 2)});
            line = eol + 1;
        }
        graphs.push_back(std::move(rows));
    }
    return graphs;
}

std::string write_graph(const engine::StatList& list, int subject, int statdepth, bool wider) {
    report::WriterStyle style;
    style.wider = wider;
    report::ReportFile file;
    file.openInMemory();
    report::OutputWriter out{style, &file};
    text_graph_write(out, list, subject, statdepth);
    return file.contents();
}

TEST(TextGraph, BarsFollowTheRequestMaximumOfTheListedItems) {
    // Sorted by bytes: the first item is also the request maximum, and the items
    // after it still get bars of their own share.
    auto list = engine::StatList::Create(nullptr, 8);
    struct Item {
        std::string name;
        int requests, bytes_each;
    };
    const Item items[] = {{"big", 40, 100}, {"<b>&", 20, 150},
                          {"very.long.client.name.example.org", 3, 500}, {"10.1.2.3", 1, 1000}};
    for (const Item& item : items)
        for (int n = 0; n < item.requests; ++n) list->AddHit(item.bytes_each, 0, item.name, 0, 0);
    list->Sort(kSortSize, 4);
    ASSERT_EQ(list->Name(0), "big");
    const auto graphs = text_graphs(write_graph(*list, report::kClients, 4, true));
    ASSERT_EQ(graphs.size(), 1u);
    const std::vector<Row>& rows = graphs[0];
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].bar, "====+====+====+====+====+====+====+====+====+====+====+====+====+====+"
                           "====+====+==");
    EXPECT_EQ(rows[0].bar.size(), 82u);
    EXPECT_EQ(rows[1].bar.size(), 41u);   // 20 of 40
    EXPECT_EQ(rows[2].bar.size(), 6u);    // 3 * 82 / 40 = 6.15
    EXPECT_EQ(rows[3].bar.size(), 2u);
    // Log data is escaped; a long host name keeps its end, an address its start.
    EXPECT_EQ(rows[1].name, "&lt;b&gt;&amp;");
    EXPECT_EQ(rows[2].name, "..ent.name.example.org");
    EXPECT_EQ(rows[3].name, "10.1.2.3");

    // Without wider the maximum is 55 characters.
    EXPECT_EQ(text_graphs(write_graph(*list, report::kClients, 4, false))[0][0].bar.size(), 55u);
}

TEST(TextGraph, StatdepthLimitsTheItemsOfListsOnly) {
    EXPECT_EQ(text_graph_items(4, report::kClients, 500), 20);
    EXPECT_EQ(text_graph_items(9, report::kClients, 500), 200);
    EXPECT_EQ(text_graph_items(30, report::kClients, 500), 30);
    EXPECT_EQ(text_graph_items(30, report::kClients, 12), 12);    // fewer items than the limit
    EXPECT_EQ(text_graph_items(4, report::kHours, 24), 24);       // hours are never cut
    EXPECT_EQ(text_graph_items(2, report::kClients, 500), 500);   // a limit of 0 shows all
}

// A real report with text graphs: each page with a chart also has its text
// graph, with one bar per listed row, and the page's tags still pair up.
TEST(TextGraph, RealReportPagesCarryTheirTextGraphs) {
    tallowick::test::TempDir dir;
    Settings settings;
    settings.report.stat.set_all(true);
    settings.report.graph.set_all(true);
    settings.report.wider = true;
    settings.run.out = (dir / "index.html").string();
    report::AssemblyOptions options;
    options.text_graphs = text_graph_write;
    const auto run =
        test::written_real_report("clf/nasa_ksc_1995-07_random1000_UNSORTED.log", settings, options);
    if (!run) GTEST_SKIP() << "no real logs here";

    const std::string client_page = tallowick::test::read_file(dir / "Client.html");
    const auto graphs = text_graphs(client_page);
    ASSERT_EQ(graphs.size(), 1u);
    const engine::StatList& clients = *run->reports()[0]->client;
    const int listed = std::min(clients.Count(), 20);   // statdepth 4
    ASSERT_EQ(graphs[0].size(), std::size_t(listed));
    int maximum = 0;
    for (int i = 0; i < listed; ++i) maximum = std::max(maximum, clients.Req(i));
    for (int i = 0; i < listed; ++i)
        EXPECT_EQ(graphs[0][std::size_t(i)].bar.size(), std::size_t(clients.Req(i) * 82 / maximum))
            << clients.Name(i);
    auto count = [&](const std::string& text) {
        std::size_t n = 0;
        for (std::size_t at = client_page.find(text); at != std::string::npos;
             at = client_page.find(text, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(count("<PRE>"), count("</PRE>"));
    EXPECT_EQ(count("<NOSCRIPT>"), count("</NOSCRIPT>"));
    // Hours are listed whole, and pages without text graphs have none.
    EXPECT_EQ(text_graphs(tallowick::test::read_file(dir / "Hourly.html"))[0].size(),
              std::size_t(run->reports()[0]->hour->Count()));
    settings.report.graph.set(StatWord::ascii, false);
    options.settings = &settings;
    ASSERT_EQ(report::writeReports(run->reports(), options), 0);
    EXPECT_TRUE(text_graphs(tallowick::test::read_file(dir / "Client.html")).empty());
}

}  // namespace
}  // namespace tallowick::graph
