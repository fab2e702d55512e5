// Batch runs count every hit in two passes, on one thread or two: however the
// passes were shared out, every table must come out exactly the same.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>

#include "engine/run_fixture.h"

namespace tallowick::engine {
namespace {

using Row = std::tuple<int, double, int, int, int, int, double>;
using Tables = std::map<std::string, std::vector<std::pair<std::string, Row>>>;

// Every list of the run's reports, item by item in list order.
Tables TablesOf(int threads, const std::vector<std::string>& texts) {
    test::RunOnText run;
    run.settings().analysis.threads = threads;
    for (std::size_t i = 0; i < texts.size(); ++i) run.AddLog("part" + std::to_string(i) + ".log", texts[i]);
    run.Process();
    Tables tables;
    for (std::size_t r = 0; r < run.report_count(); ++r)
        run.report(r).ForEachList([&](std::string_view section, StatList& list) {
            auto& rows = tables[std::to_string(r) + "/" + std::string(section)];
            for (const StatItem& item : list.Items())
                rows.emplace_back(std::string(item.name),
                                  Row{item.req, item.bytes, item.pages, item.errors, item.visits,
                                      item.misc1, item.timetot});
        });
    return tables;
}

TEST(BatchedAccounting, OneThreadAndTwoThreadsGiveTheSameTables) {
    // Several batches' worth of hits: failed pages (counted back into the error
    // list), search phrases, referrers, clients returning across both logs. Each
    // log spans mapped windows, whose lines one thread counts in place; a run of
    // long lines puts a batch over three of them.
    constexpr int kLines = 30000;
    std::vector<std::string> texts(2);
    for (int i = 0; i < kLines; ++i) {
        const int client = (i * 7919) % 900;
        const std::string when = "0" + std::to_string(1 + i / (kLines / 2)) + "/Nov/2026:" +
                                 std::to_string(10 + (i / 1500) % 10) + ":" +
                                 std::to_string(10 + (i / 6) % 50) + ":" + std::to_string(10 + i % 50) +
                                 " +0000";
        const std::string url = i % 5 == 0 ? "/dir" + std::to_string(i % 37) + "/page.html"
                                            : "/img/" + std::to_string(i % 211) + ".gif";
        const int status = i % 13 == 0 ? 404 : (i % 17 == 0 ? 500 : 200);
        const std::string referrer = i % 3 == 0 ? "http://www.example.com/search?q=word" + std::to_string(i % 19)
                                                : "http://site" + std::to_string(i % 23) + ".org/from";
        texts[i / (kLines / 2)] += test::CombinedLine(
            "10.0." + std::to_string(client / 250) + "." + std::to_string(client % 250), when,
            "GET " + url + " HTTP/1.1", status, 100 + i % 997, referrer,
            "Agent/" + std::to_string(i % 29) + " " +
                std::string(i % 15000 >= 5000 && i % 15000 < 6100 ? 8500 : 100, 'p'));
    }
    ASSERT_GT(texts[0].size(), std::size_t{11} << 20) << "a batch over three windows";
    const Tables one = TablesOf(1, texts);
    const Tables two = TablesOf(2, texts);
    ASSERT_FALSE(one.empty());
    EXPECT_GT(one.at("0/err").size(), 1u);
    EXPECT_EQ(one, two);
}

}  // namespace
}  // namespace tallowick::engine
