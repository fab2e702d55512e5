// The accounting remembers where a URL, referrer or agent was counted, so that
// later hits with the same text count there directly. These tests check the
// memory itself and that what it remembers never outlives a change of the lists.
#include <gtest/gtest.h>

#include <string>

#include "engine/hit_accounting.h"
#include "engine/run_fixture.h"
#include "engine/stat_list.h"
#include "engine/text_memo.h"
#include "logs/hit_record.h"

namespace tallowick::engine {
namespace {

TEST(TextMemo, KeepsEachTextApartUpToItsLimit) {
    TextMemo<int, 16> memo(2);
    const auto hash_a = TextMemo<int, 16>::Hash("/a.html");
    EXPECT_EQ(memo.Find("/a.html", hash_a), nullptr);
    *memo.Store("/a.html", hash_a) = 7;
    ASSERT_NE(memo.Find("/a.html", hash_a), nullptr);
    EXPECT_EQ(*memo.Find("/a.html", hash_a), 7);

    // Another text with the same hash (forced) is not taken for it, and both stay.
    EXPECT_EQ(memo.Find("/b.html", hash_a), nullptr);
    *memo.Store("/b.html", hash_a) = 8;
    EXPECT_EQ(*memo.Find("/a.html", hash_a), 7);
    EXPECT_EQ(*memo.Find("/b.html", hash_a), 8);

    // Storing a known text starts it afresh; at its limit the memo keeps what it has,
    // and texts over the length limit are never kept.
    EXPECT_EQ(*memo.Store("/b.html", hash_a), 0);
    EXPECT_EQ(memo.Store("/c.html", TextMemo<int, 16>::Hash("/c.html")), nullptr);
    EXPECT_EQ(memo.Size(), 2u);
    TextMemo<int, 16> roomy(10);
    const std::string long_text(17, 'x');
    EXPECT_EQ(roomy.Store(long_text, TextMemo<int, 16>::Hash(long_text)), nullptr);
    EXPECT_EQ(roomy.Find(long_text, TextMemo<int, 16>::Hash(long_text)), nullptr);
}

TEST(StatListLayout, ChangesWhenItemsMayMoveAndOnlyThen) {
    auto list = StatList::Create(nullptr, 10);
    auto other = StatList::Create(nullptr, 10);
    ASSERT_TRUE(list && other);
    EXPECT_NE(list->Layout(), other->Layout());

    const std::uint64_t fresh = list->Layout();
    const int a = list->AddHit(10, 0, "a", 0, 0);
    const int b = list->AddHit(20, 0, "b", 0, 0);
    list->AddHit(20, 0, "b", 0, 0);
    list->AddHit(20, 0, "b", 0, 0);
    // Adding keeps every position: the layout stays.
    EXPECT_EQ(list->Layout(), fresh);
    EXPECT_EQ(list->AddHitAt(a, 5, 1, 0, kAddPage), a);
    EXPECT_EQ(list->Req(a), 2);
    EXPECT_EQ(list->Bytes(a), 15);
    EXPECT_EQ(list->BytesIn(a), 1);
    EXPECT_EQ(list->Pages(a), 1);
    EXPECT_EQ(list->TotalReq(), 5);
    EXPECT_EQ(list->AddHitAt(2, 1, 0, 0, 0), -1);
    EXPECT_EQ(list->AddHitAt(-1, 1, 0, 0, 0), -1);
    EXPECT_EQ(list->TotalReq(), 5);

    // A sort moves "b" (more requests) ahead: the layout changes.
    list->SortBy(kSortReqs);
    EXPECT_NE(list->Layout(), fresh);
    EXPECT_EQ(list->Name(0), "b");
    EXPECT_EQ(b, 1);

    const std::uint64_t sorted = list->Layout();
    list->Substitute([](std::string_view name) -> std::optional<std::string_view> {
        if (name == "a") return "A";
        return std::nullopt;
    });
    EXPECT_NE(list->Layout(), sorted);
}

using test::CombinedLine;
using test::Find;
using test::ReqOf;

// Drives HitAccounting directly, so that the test can reorder the lists between hits
// the way interim reports do.
class RememberedHits : public ::testing::Test {
protected:
    RememberedHits()
        : settings_(test::AllTablesOn()),
          options_(ReportOptions::From(settings_)),
          report_(CreateReportStats(options_, 1, "test", kWebMode)),
          accounting_(settings_, options_) {}

    void Hit(std::string_view url, std::string_view referrer, std::string_view agent,
             std::string_view client = "a.example.com", std::string_view status = "200") {
        logs::HitRecord record;
        record.url = url;
        record.referrer = referrer;
        record.agent = agent;
        record.client = client;
        record.status = status;
        record.method = "GET";
        record.time = "10:00:00";
        record.bytes = 100;
        PreparedHit hit;
        hit.record = &record;
        hit.client = client;
        hit.url = url;
        hit.date_text = "03/01/2024";
        hit.time = 2460371.0 + 10.0 / 24;
        hit.has_time = true;
        hit.format_code = 1;
        accounting_.Account(*report_, hit, totals_);
    }

    Settings settings_;
    ReportOptions options_;
    std::unique_ptr<ReportStats> report_;
    HitAccounting accounting_;
    RunTotals totals_;
};

constexpr std::string_view kFirefox = "Mozilla/5.0 (X11; Linux x86_64; rv:120.0) Gecko/20100101 Firefox/120.0";
constexpr std::string_view kBot = "Googlebot/2.1 (+http://www.google.com/bot.html)";
constexpr std::string_view kSearch = "http://www.google.com/search?q=blue+widgets";

TEST_F(RememberedHits, CountsFollowTheirItemsThroughSorts) {
    ASSERT_TRUE(report_);
    ReportStats& r = *report_;
    for (int i = 0; i < 3; ++i) Hit("/docs/a.html", kSearch, kFirefox);
    for (int i = 0; i < 5; ++i) Hit("/shop/b.zip", "http://other.example.org/x.html", kBot);

    // Reorder every list the way an interim report does, then count again.
    r.url->SortBy(kSortName);
    r.url->SortBy(kSortReqs);
    r.dir->SortBy(kSortReqs);
    r.topdir->SortBy(kSortReqs);
    r.type->SortBy(kSortReqs);
    r.pages->SortBy(kSortReqs);
    r.down->SortBy(kSortReqs);
    r.refer->SortBy(kSortReqs);
    r.rsite->SortBy(kSortReqs);
    r.searchstr->SortBy(kSortReqs);
    r.searchsite->SortBy(kSortReqs);
    r.browser->SortBy(kSortReqs);
    r.oper->SortBy(kSortReqs);
    r.robot->SortBy(kSortReqs);
    for (int i = 0; i < 4; ++i) Hit("/docs/a.html", kSearch, kFirefox);
    Hit("/shop/b.zip", "http://other.example.org/x.html", kBot);

    EXPECT_EQ(ReqOf(r.url, "/docs/a.html"), 7);
    EXPECT_EQ(ReqOf(r.url, "/shop/b.zip"), 6);
    EXPECT_EQ(ReqOf(r.pages, "/docs/a.html"), 7);
    EXPECT_EQ(ReqOf(r.down, "/shop/b.zip"), 6);
    EXPECT_EQ(Find(r.pages, "/shop/b.zip"), nullptr);
    EXPECT_EQ(ReqOf(r.dir, "/docs/"), 7);
    EXPECT_EQ(ReqOf(r.dir, "/shop/"), 6);
    EXPECT_EQ(ReqOf(r.type, ".html"), 7);
    EXPECT_EQ(ReqOf(r.type, ".zip"), 6);
    EXPECT_EQ(ReqOf(r.searchstr, "blue widgets"), 7);
    EXPECT_EQ(ReqOf(r.searchsite, "www.google.com"), 7);
    EXPECT_EQ(ReqOf(r.rsite, "http://other.example.org"), 6);
    EXPECT_EQ(r.robot->TotalReq(), 6);
    EXPECT_EQ(r.browser->TotalReq(), 13);
    EXPECT_EQ(r.browser->Count(), 2);
    EXPECT_EQ(r.oper->TotalReq(), 13);
    // Every list's total is the sum of its items.
    for (const auto* list : {&r.url, &r.dir, &r.type, &r.refer, &r.rsite, &r.oper}) {
        int sum = 0;
        for (const StatItem& item : (*list)->Items()) sum += item.req;
        EXPECT_EQ(sum, (*list)->TotalReq());
    }
}

TEST_F(RememberedHits, ListsMadeAfreshAreFilledAfresh) {
    ASSERT_TRUE(report_);
    ReportStats& r = *report_;
    Hit("/docs/a.html", kSearch, kFirefox);
    Hit("/docs/a.html", kSearch, kFirefox);
    // Pruning replaces lists with new ones: nothing remembered may point into them.
    // The page and download lists point at the file list's names: they go first.
    r.pages = StatList::Recreate(&r, std::move(r.pages), 10, options_.counting);
    r.down = StatList::Recreate(&r, std::move(r.down), 10, options_.counting);
    r.url = StatList::Recreate(&r, std::move(r.url), 10, options_.counting);
    r.refer = StatList::Recreate(&r, std::move(r.refer), 10, options_.counting);
    r.browser = StatList::Recreate(&r, std::move(r.browser), 10, options_.counting);
    ASSERT_TRUE(r.url && r.refer && r.browser);
    EXPECT_EQ(r.url->Count(), 0);
    Hit("/docs/a.html", kSearch, kFirefox);
    EXPECT_EQ(ReqOf(r.url, "/docs/a.html"), 1);
    EXPECT_EQ(r.url->Count(), 1);
    EXPECT_EQ(r.refer->TotalReq(), 1);
    EXPECT_EQ(r.browser->TotalReq(), 1);
    EXPECT_EQ(ReqOf(r.dir, "/docs/"), 3);
}

TEST_F(RememberedHits, TheReportStampFollowsEveryListThatMovesItsItems) {
    ASSERT_TRUE(report_);
    ReportStats& r = *report_;
    Hit("/b.html", "-", kFirefox);
    Hit("/a.html", "-", kFirefox);
    Hit("/a.html", "-", kFirefox);
    const std::uint64_t before = r.layouts;
    r.type->SortBy(kSortReqs);  // a list no URL fact names first
    EXPECT_NE(r.layouts, before);
    EXPECT_EQ(r.layouts, r.type->Layout());
    r.url->SortBy(kSortReqs);
    ASSERT_EQ(r.url->Name(0), "/a.html");
    const std::uint64_t sorted = r.layouts;
    r.oper = StatList::Recreate(&r, std::move(r.oper), 10, options_.counting);
    EXPECT_NE(r.layouts, sorted);
    Hit("/a.html", "-", kFirefox);
    Hit("/b.html", "-", kFirefox);
    EXPECT_EQ(ReqOf(r.url, "/a.html"), 3);
    EXPECT_EQ(ReqOf(r.url, "/b.html"), 2);
    EXPECT_EQ(r.oper->TotalReq(), 2);
}

TEST_F(RememberedHits, ClientsPerBrowserCountOnceForEveryRememberedAgent) {
    ASSERT_TRUE(report_);
    ReportStats& r = *report_;
    // Two clients and two agents: a browser's misc1 counts the hits on which a
    // client came with it after another one (or first), however often the
    // agents were seen before.
    Hit("/a.html", "-", kFirefox, "one.example.com");
    Hit("/a.html", "-", kFirefox, "one.example.com");
    Hit("/a.html", "-", kBot, "two.example.com");
    Hit("/a.html", "-", kFirefox, "one.example.com");
    Hit("/a.html", "-", kBot, "one.example.com");
    Hit("/a.html", "-", kFirefox, "one.example.com");
    Hit("/a.html", "-", kFirefox, "two.example.com");
    ASSERT_EQ(r.browser->Count(), 2);
    const int firefox = r.browser->Req(0) == 5 ? 0 : 1;
    EXPECT_EQ(r.browser->Req(firefox), 5);
    // one: first hit, back after the robot; two: its last hit.
    EXPECT_EQ(r.browser->Misc1(firefox), 3);
    EXPECT_EQ(r.browser->Misc1(1 - firefox), 2);
    EXPECT_EQ(r.robot->TotalReq(), 2);
}

}  // namespace
}  // namespace tallowick::engine
