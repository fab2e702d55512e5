#include "engine/stat_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <fstream>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/julian_date.h"
#include "base/status.h"
#include "engine/name_hash.h"

// The allocation-failure tests need a refused allocation to come back as null
// instead of aborting the sanitized test process.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }
#elif defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_options() { return "allocator_may_return_null=1"; }
#endif

namespace tallowick::engine {
namespace {

constexpr double kMinute = 1.0 / 1440.0;

std::unique_ptr<StatList> MakeList(int capacity, bool ignorecase = false, int sessiontime = 10) {
    auto list = StatList::Create(nullptr, capacity, CountingOptions{ignorecase, sessiontime});
    EXPECT_NE(list, nullptr);
    return list;
}

// Two different names with the same hash, found by brute force among random
// names (a few ten thousand suffice: the hash is linear over same-length names).
std::pair<std::string, std::string> CollidingNames(bool fold) {
    static constexpr std::string_view kChars = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::mt19937 rng(7);
    std::unordered_map<std::uint32_t, std::string> seen;
    for (;;) {
        std::string name = "/docs/";
        for (int k = 0; k < 10; ++k) name += kChars[rng() % kChars.size()];
        name += ".html";
        auto [it, fresh] = seen.emplace(NameHash(name, fold), name);
        if (!fresh && !SameName(it->second, name, fold)) return {it->second, name};
    }
}

std::vector<std::string> NamesInOrder(const StatList& list) {
    std::vector<std::string> out;
    for (const StatItem& item : list.Items()) out.emplace_back(item.name);
    return out;
}

TEST(StatList, AddHitCountsTheHitAndEachFlag) {
    auto list = MakeList(10);
    const int a = list->AddHit(100, 7, "/a", 0, kAddMisc1 | kAddPage);
    const int b = list->AddHit(50, 0, "/b", 0, kAddError);
    EXPECT_EQ(list->AddHit(25, 3, "/a", 0, kAddPage), a);
    ASSERT_NE(a, b);

    EXPECT_EQ(list->Req(a), 2);
    EXPECT_EQ(list->Bytes(a), 125);
    EXPECT_EQ(list->BytesIn(a), 10);
    EXPECT_EQ(list->Misc1(a), 1);
    EXPECT_EQ(list->Pages(a), 2);
    EXPECT_EQ(list->Errors(a), 0);
    EXPECT_EQ(list->Errors(b), 1);
    EXPECT_EQ(list->TotalReq(), 3);
    EXPECT_EQ(list->TotalBytes(), 175);
    EXPECT_EQ(list->TotalBytesIn(), 10);
    EXPECT_EQ(list->TotalMisc1(), 1);
    EXPECT_EQ(list->TotalPages(), 2);
    // Failed requests are totalled by the hit accounting, not by AddHit.
    EXPECT_EQ(list->TotalErrors(), 0);

    // Add finds or inserts without counting; an empty name is no item.
    EXPECT_EQ(list->Add("/a"), a);
    EXPECT_EQ(list->Add("/c"), 2);
    EXPECT_EQ(list->Req(2), 0);
    EXPECT_EQ(list->TotalReq(), 3);
    EXPECT_EQ(list->Add(""), -1);
    EXPECT_EQ(list->AddHit(1, 1, "", 0, 0), -1);
    EXPECT_EQ(list->Count(), 3);
}

TEST(StatList, CollidingNamesAreSeparateItems) {
    for (bool fold : {false, true}) {
        const auto [first, second] = CollidingNames(fold);
        ASSERT_NE(first, second);
        auto list = MakeList(10, fold);
        const std::uint32_t hash = list->HashOf(first);
        ASSERT_EQ(hash, list->HashOf(second));

        const int a = list->AddHit(10, 0, first, 0, 0);
        const int b = list->AddHit(20, 0, second, 0, 0);
        EXPECT_EQ(list->AddHit(30, 0, first, 0, 0), a);
        EXPECT_EQ(list->AddHit(40, 0, second, 0, 0), b);
        ASSERT_NE(a, b);
        EXPECT_EQ(list->Name(a), first);
        EXPECT_EQ(list->Name(b), second);
        EXPECT_EQ(list->Req(a), 2);
        EXPECT_EQ(list->Bytes(a), 40);
        EXPECT_EQ(list->Bytes(b), 60);
        EXPECT_EQ(list->Hash(a), hash);
        EXPECT_EQ(list->Hash(b), hash);
        // By hash alone the first item in array order answers.
        EXPECT_EQ(list->FindByHash(hash), a);
        list->SortBy(kSortSize);  // b now first
        EXPECT_EQ(list->FindByHash(hash), 0);
        EXPECT_EQ(list->Name(0), second);
    }
}

TEST(StatList, IgnorecaseMakesNamesOneItemUnderTheFirstSpelling) {
    auto folded = MakeList(10, /*ignorecase=*/true);
    const int i = folded->AddHit(1, 0, "Index.HTML", 0, 0);
    EXPECT_EQ(folded->AddHit(1, 0, "index.html", 0, 0), i);
    EXPECT_EQ(folded->Add("[x]"), folded->Add("{x}"));
    EXPECT_EQ(folded->Count(), 2);
    EXPECT_EQ(folded->Name(i), "Index.HTML");
    EXPECT_EQ(folded->Req(i), 2);

    auto exact = MakeList(10, /*ignorecase=*/false);
    EXPECT_NE(exact->AddHit(1, 0, "Index.HTML", 0, 0), exact->AddHit(1, 0, "index.html", 0, 0));
    EXPECT_NE(exact->Add("[x]"), exact->Add("{x}"));
    EXPECT_EQ(exact->Count(), 4);
}

TEST(StatList, GrowsByTheInitialCapacityOrTenTimesItBelowEight) {
    struct Case { int initial, increment; };
    for (Case c : {Case{100, 100}, Case{5, 50}, Case{7, 70}, Case{8, 8}, Case{0, 10}}) {
        auto list = MakeList(c.initial);
        const int start = std::max(c.initial, 1);
        EXPECT_EQ(list->Capacity(), start);
        EXPECT_EQ(list->Increment(), c.increment);
        for (int i = 0; i < start; ++i) list->AddHit(i, 0, "/n" + std::to_string(i), 0, 0);
        EXPECT_EQ(list->Capacity(), start) << "full is not yet grown";
        list->AddHit(1, 0, "/one-more", 0, 0);
        EXPECT_EQ(list->Capacity(), start + c.increment) << c.initial;
        for (int i = 1; i < c.increment; ++i) list->Add("/m" + std::to_string(i));
        EXPECT_EQ(list->Count(), start + c.increment);
        EXPECT_EQ(list->Capacity(), start + c.increment) << c.initial;
        list->Add("/beyond");
        EXPECT_EQ(list->Capacity(), start + 2 * c.increment) << c.initial;
    }
}

TEST(StatList, ItemsAreFoundAgainAfterGrowth) {
    auto list = MakeList(5);
    // Long names around the old 511-byte bucket cap, sharing a prefix.
    const std::string long511(511, 'x'), long600 = long511 + std::string(89, 'y');
    std::vector<std::string> names{long511, long600};
    for (int i = 0; i < 1000; ++i) names.push_back("/dir" + std::to_string(i % 7) + "/f" + std::to_string(i));
    for (std::size_t i = 0; i < names.size(); ++i)
        ASSERT_EQ(list->AddHit(1, 0, names[i], 0, 0), static_cast<int>(i));
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(list->AddHit(1, 0, names[i], 0, 0), static_cast<int>(i));
        EXPECT_EQ(list->FindByHash(NameHash(names[i])), static_cast<int>(i));
        EXPECT_EQ(list->Name(static_cast<int>(i)), names[i]);
        EXPECT_EQ(list->Req(static_cast<int>(i)), 2);
    }
    EXPECT_EQ(list->FindByHash(NameHash("/not-there")), -1);
}

TEST(StatList, SortOrdersByNameBytesRequestsAndPages) {
    auto list = MakeList(10);
    list->AddHit(300, 0, "banana", 0, 0);
    list->AddHit(100, 0, "Apple", 0, 0);
    list->AddHit(100, 0, "apple pie", 0, 0);
    list->AddHit(200, 0, "cherry", 0, 0);
    list->AddHit(200, 0, "cherry", 0, 0);
    list->AddHit(1, 0, "Banana split", 0, 0);

    list->Sort(kSortName, 4);
    auto names = NamesInOrder(*list);
    // "Apple" is the start of "apple pie": they rank alike, either may be first.
    EXPECT_EQ(std::set<std::string>(names.begin(), names.begin() + 2),
              (std::set<std::string>{"Apple", "apple pie"}));
    EXPECT_EQ(std::set<std::string>(names.begin() + 2, names.begin() + 4),
              (std::set<std::string>{"banana", "Banana split"}));
    EXPECT_EQ(names[4], "cherry");

    list->Sort(kSortSize, 4);
    EXPECT_EQ(list->Name(0), "cherry");  // 400 bytes
    EXPECT_EQ(list->Name(1), "banana");
    EXPECT_EQ(list->Name(4), "Banana split");

    list->AddHit(0, 0, "banana", 0, 0);
    list->AddHit(0, 0, "banana", 0, 0);
    list->Sort(kSortReqs, 4);
    EXPECT_EQ(list->Name(0), "banana");  // 3 requests
    EXPECT_EQ(list->Name(1), "cherry");

    // No page was counted: the pages order falls back to requests.
    ASSERT_EQ(list->TotalPages(), 0);
    list->SortBy(kSortName);
    list->Sort(kSortPage, 4);
    EXPECT_EQ(list->Name(0), "banana");
    EXPECT_EQ(list->Name(1), "cherry");

    list->AddHit(0, 0, "Apple", 0, kAddPage);
    list->Sort(kSortPage, 4);
    EXPECT_EQ(list->Name(0), "Apple");

    // A caller's comparator: shortest name first.
    list->SortBy([](const StatItem& a, const StatItem& b) {
        return static_cast<int>(a.name.size()) - static_cast<int>(b.name.size());
    });
    EXPECT_EQ(list->Name(0), "Apple");
    EXPECT_EQ(list->Name(4), "Banana split");
}

TEST(StatList, DepthCodesGiveReportRows) {
    EXPECT_EQ(DepthRows(3), 10);
    EXPECT_EQ(DepthRows(7), 50);
    EXPECT_EQ(DepthRows(8), 100);
    EXPECT_EQ(DepthRows(12), 500);
    EXPECT_EQ(DepthRows(13), 13);
    EXPECT_EQ(DepthRows(2), 0);
}

// A list of n items with distinct request counts, except that x (added fourth)
// and y (added 21st) tie for the top.
std::unique_ptr<StatList> TieList(int n) {
    auto list = MakeList(100);
    for (int i = 0; i < n; ++i) {
        const std::string name = i == 3 ? "x" : i == 20 ? "y" : "n" + std::to_string(i);
        const int req = (i == 3 || i == 20) ? 1000 : 1 + (i * 37) % 97;
        for (int r = 0; r < req; ++r) list->AddHit(1, 0, name, 0, 0);
    }
    return list;
}

TEST(StatList, SortOrdersOnlyTwiceTheDepthAndTiesGoToTheLaterItem) {
    // statdepth 3: 10 rows, at least 15, so 30 positions.
    auto full = TieList(29);
    full->Sort(kSortReqs, 3);
    EXPECT_EQ(full->Name(0), "x");  // whole sort: equal items keep their order
    EXPECT_EQ(full->Name(1), "y");
    for (int i = 1; i < full->Count(); ++i) EXPECT_GE(full->Req(i - 1), full->Req(i));

    auto partial = TieList(30);
    partial->Sort(kSortReqs, 3);
    EXPECT_EQ(partial->Name(0), "y");  // selection: the later of equal items wins
    EXPECT_EQ(partial->Name(1), "x");
    for (int i = 1; i < partial->Count(); ++i) EXPECT_GE(partial->Req(i - 1), partial->Req(i));

    auto large = TieList(60);
    std::vector<int> reqs;
    for (const StatItem& item : large->Items()) reqs.push_back(item.req);
    std::sort(reqs.rbegin(), reqs.rend());
    large->Sort(kSortReqs, 3);
    for (int i = 0; i < 30; ++i) EXPECT_EQ(large->Req(i), reqs[static_cast<std::size_t>(i)]) << i;
    // The rest are the 30 smallest, in no particular order.
    std::multiset<int> rest, expected(reqs.begin() + 30, reqs.end());
    for (int i = 30; i < 60; ++i) rest.insert(large->Req(i));
    EXPECT_EQ(rest, expected);
    std::vector<int> tail;
    for (int i = 30; i < 60; ++i) tail.push_back(large->Req(i));
    EXPECT_FALSE(std::is_sorted(tail.rbegin(), tail.rend())) << "the tail was sorted too";
}

TEST(StatList, PartialSortMatchesPlainSelectionSwapForSwap) {
    // The selection written out as described, on (requests, name) pairs.
    auto select = [](std::vector<std::pair<int, std::string>> v, std::size_t c) {
        for (std::size_t p = 0; p < c; ++p) {
            std::size_t best = p;
            for (std::size_t q = p + 1; q < v.size(); ++q)
                if (v[q].first >= v[best].first) best = q;
            std::swap(v[p], v[best]);
        }
        return v;
    };
    std::mt19937 rng(5);
    for (int round = 0; round < 40; ++round) {
        const int n = 30 + static_cast<int>(rng() % 400);
        const int spread = 1 + static_cast<int>(rng() % 6);  // few values: many ties
        const int statdepth = round % 2 ? 3 : 8;              // 30 or 200 positions
        auto list = MakeList(50);
        std::vector<std::pair<int, std::string>> pairs;
        for (int i = 0; i < n; ++i) {
            const std::string name = "/r" + std::to_string(i);
            const int req = 1 + static_cast<int>(rng() % static_cast<unsigned>(spread));
            for (int r = 0; r < req; ++r) list->AddHit(1, 0, name, 0, 0);
            pairs.emplace_back(req, name);
        }
        const std::size_t c = statdepth == 3 ? 30 : 200;
        if (pairs.size() < c) continue;
        const auto expected = select(pairs, c);
        list->Sort(kSortReqs, statdepth);
        for (int i = 0; i < n; ++i)
            ASSERT_EQ(list->Name(i), expected[static_cast<std::size_t>(i)].second)
                << "round " << round << " position " << i;
    }
}

TEST(StatList, RelinkAfterSortAndAddingAgain) {
    auto list = MakeList(20);
    std::vector<std::string> names;
    for (int i = 0; i < 80; ++i) {
        names.push_back("/page" + std::to_string(i));
        for (int r = 0; r <= (i * 13) % 29; ++r) list->AddHit(10, 0, names.back(), 0, 0);
    }
    list->Sort(kSortReqs, 3);
    EXPECT_NE(list->Item(0)->pos, 0) << "pos keeps the old index until Relink";
    list->Relink();
    for (int i = 0; i < list->Count(); ++i) EXPECT_EQ(list->Item(i)->pos, i);

    for (const std::string& name : names) {
        const int at = list->FindByHash(NameHash(name));
        ASSERT_GE(at, 0);
        EXPECT_EQ(list->Name(at), name);
        const int before = list->Req(at);
        EXPECT_EQ(list->AddHit(1, 0, name, 0, 0), at);
        EXPECT_EQ(list->Req(at), before + 1);
    }
    EXPECT_EQ(list->Count(), 80);
    // New items after the sort go to the end and grow the list as usual.
    for (int i = 0; i < 30; ++i) EXPECT_EQ(list->Add("/new" + std::to_string(i)), 80 + i);
    EXPECT_EQ(list->Capacity(), 120);
    EXPECT_EQ(list->FindByHash(NameHash(names[5])), list->Add(names[5]));
}

TEST(StatList, SubstituteReplacesNamesWithOwnedCopies) {
    auto list = MakeList(10);
    list->SetNameKind(kStaticNames);
    static const char* const kCodes[] = {"uk", "fr", "de"};
    for (const char* code : kCodes) list->AddHit(1, 0, code, 0, 0);
    list->Substitute([](std::string_view name) -> std::optional<std::string_view> {
        if (name == "de") return std::nullopt;
        // A temporary: the list must keep its own copy.
        thread_local std::string text;
        text = "Country " + std::string(name);
        return text;
    });
    EXPECT_EQ(list->Name(0), "Country uk");
    EXPECT_EQ(list->Name(1), "Country fr");
    EXPECT_EQ(list->Name(2), "de");
    EXPECT_EQ(list->Name(2).data(), kCodes[2]) << "a borrowed name stays borrowed";
    // The item is still found under its original name.
    EXPECT_EQ(list->AddHit(1, 0, "fr", 0, 0), 1);
    EXPECT_EQ(list->Req(1), 2);
    list->Substitute(nullptr);
    EXPECT_EQ(list->Name(0), "Country uk");
}

TEST(StatList, MergeTakesOverItemsOfAnotherList) {
    auto source = MakeList(10);
    source->SetHasTimeRecs(true);
    const double day = JulianDate(2024, 3, 5, 12);
    const int a = source->AddValues("host-a", 1000.75, 20.5, day);
    source->AddHit(500, 0, "host-a", day, kAddDayRecord | kAddMisc1 | kAddPage | kAddVisit);
    source->SetMisc2(a, 4);
    source->SetMisc3(a, 2);
    const int b = source->AddHit(300, 0, "host-b", day + 1, kAddDayRecord | kAddVisit);

    auto target = MakeList(10);
    target->SetHasTimeRecs(true);
    target->AddHit(7, 1, "host-b", day, 0);  // already there: bytes add up

    const int ta = target->Merge(*source, a);
    const int tb = target->Merge(*source, b);
    ASSERT_GE(ta, 0);
    ASSERT_EQ(tb, 0);
    EXPECT_EQ(target->Bytes(ta), 1500);  // 1500.75 truncated
    EXPECT_EQ(target->BytesIn(ta), 20);
    EXPECT_EQ(target->Req(ta), 2);       // overwritten with the source's
    EXPECT_EQ(target->Misc1(ta), 0);     // the visit reset it, as in the source
    EXPECT_EQ(target->Misc2(ta), 4);
    EXPECT_EQ(target->Misc3(ta), 2);
    EXPECT_EQ(target->Pages(ta), 1);
    EXPECT_EQ(target->Visits(ta), 1);
    EXPECT_EQ(target->TimeLast(ta), day);
    EXPECT_EQ(target->Bytes(tb), 307);
    EXPECT_EQ(target->Req(tb), 1);

    EXPECT_EQ(target->TotalReq(), 3);  // one for the existing hit, one per merge
    EXPECT_EQ(target->TotalBytes(), 7 + 1500.75 + 300);
    EXPECT_EQ(target->TotalPages(), 1);
    EXPECT_EQ(target->TotalVisits(), 2);
    EXPECT_DOUBLE_EQ(target->TotalTime(), source->TimeTot(a) + source->TimeTot(b));

    // The day records moved with the item.
    EXPECT_EQ(target->TimeRecSumFor(ta, static_cast<int>(day + 0.5)), 500);
    EXPECT_EQ(source->TimeRecCount(a), 0);

    EXPECT_EQ(target->Merge(*target, 0), -1);
    EXPECT_EQ(target->Merge(*source, 5), -1);
}

TEST(StatList, RecreateKeepsTheKindOfAUsedList) {
    auto fresh = StatList::Recreate(nullptr, nullptr, 40);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->Capacity(), 40);

    fresh->SetHasTimeRecs(true);
    fresh->SetNameKind(kFileNames);
    const StatList* same = fresh.get();
    fresh = StatList::Recreate(nullptr, std::move(fresh), 80);
    EXPECT_EQ(fresh.get(), same) << "an empty list is kept as it is";
    EXPECT_EQ(fresh->Capacity(), 40);

    static const std::string kName = "/f";
    fresh->AddHit(1, 0, kName, 0, 0);
    fresh = StatList::Recreate(nullptr, std::move(fresh), 80);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->Count(), 0);
    EXPECT_EQ(fresh->TotalReq(), 0);
    EXPECT_EQ(fresh->Capacity(), 80);
    EXPECT_TRUE(fresh->HasTimeRecs());
    EXPECT_FALSE(fresh->HasSessionRecs());
    EXPECT_EQ(fresh->GetNameKind(), kFileNames);
}

TEST(StatList, CopyIsIndependentAndEmptyLikeKeepsTheKind) {
    auto list = MakeList(3, /*ignorecase=*/true);
    list->SetHasTimeRecs(true);
    const double day = 2461000.25;
    list->AddHit(100, 5, "/a", day, kAddDayRecord | kAddPage | kAddError);
    list->AddHit(50, 0, "/A", day + 1, kAddDayRecord | kAddPage);
    list->AddHit(7, 0, "/b", day, kAddDayRecord | kAddVisit);
    list->AddHit(1, 0, "/c", day, kAddDayRecord);
    list->AddHit(1, 0, "/d", day, kAddDayRecord);  // grown past 3, by 30
    list->Substitute([](std::string_view name) -> std::optional<std::string_view> {
        if (name == "/b") return std::string_view("shown b");
        return std::nullopt;
    });

    auto copy = list->Copy();
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(NamesInOrder(*copy), NamesInOrder(*list));
    EXPECT_EQ(copy->Capacity(), list->Capacity());
    EXPECT_EQ(copy->Increment(), 30);
    EXPECT_EQ(copy->TotalReq(), 5);
    EXPECT_DOUBLE_EQ(copy->TotalBytes(), 159);
    EXPECT_TRUE(copy->HasTimeRecs());
    const int a = copy->FindByHash(copy->HashOf("/a"));
    ASSERT_GE(a, 0);
    EXPECT_EQ(copy->Req(a), 2);
    EXPECT_EQ(copy->Pages(a), 2);
    EXPECT_EQ(copy->Errors(a), 1);
    EXPECT_DOUBLE_EQ(copy->BytesIn(a), 5);
    EXPECT_EQ(copy->TimeRecCount(a), 2);
    EXPECT_EQ(copy->TimeRecSumFor(a, static_cast<int>(day + 0.5)), 100);
    EXPECT_EQ(copy->Add("/A"), a) << "the copy folds case as the list does";

    // Adding to the copy leaves the original alone, and the other way round.
    copy->AddHit(1000, 0, "/a", day, kAddDayRecord);
    copy->AddHit(1, 0, "/new", day, 0);
    list.reset();  // the copy owns its names and records
    EXPECT_EQ(copy->Req(a), 3);
    EXPECT_EQ(copy->TimeRecSumFor(a, static_cast<int>(day + 0.5)), 1100);
    EXPECT_EQ(copy->Name(copy->FindByHash(copy->HashOf("/b"))), "shown b");
    EXPECT_EQ(copy->Count(), 5);

    auto empty = copy->EmptyLike();
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->Count(), 0);
    EXPECT_EQ(empty->TotalReq(), 0);
    EXPECT_EQ(empty->Increment(), 30);
    EXPECT_TRUE(empty->HasTimeRecs());
    EXPECT_EQ(empty->Add("/X"), 0);
    EXPECT_EQ(empty->Add("/x"), 0);
}

TEST(StatList, VisitTrackingSplitsVisitsAtTheSessionTime) {
    const double ten = JulianDate(2024, 3, 5, 10, 0, 0);
    auto list = MakeList(10, false, /*sessiontime=*/30);

    const int c = list->AddHit(1, 0, "client", ten, kAddVisit | kAddMisc1);
    EXPECT_TRUE(list->NewVisit());
    EXPECT_EQ(list->Visits(c), 1);
    EXPECT_DOUBLE_EQ(list->TimeTot(c), 0.5 * kMinute);  // a single hit: half a minute
    EXPECT_EQ(list->Misc1(c), 0);  // reset as the visit starts

    list->AddHit(1, 0, "client", ten + 20 * kMinute, kAddVisit | kAddMisc1);
    EXPECT_FALSE(list->NewVisit());
    EXPECT_EQ(list->Misc1(c), 1);
    EXPECT_NEAR(list->TimeTot(c), 20.5 * kMinute, 1e-9);  // the first visit runs on

    // An add without visit tracking leaves the flag alone.
    list->AddHit(1, 0, "other", ten, 0);
    EXPECT_FALSE(list->NewVisit());

    list->AddHit(1, 0, "client", ten + 60 * kMinute, kAddVisit);
    EXPECT_TRUE(list->NewVisit());
    EXPECT_EQ(list->Visits(c), 2);
    EXPECT_EQ(list->Misc1(c), 0);
    // The first visit closes as its span plus a minute.
    EXPECT_NEAR(list->TimeTot(c), 21 * kMinute, 1e-9);
    EXPECT_EQ(list->TimeIn(c), ten + 60 * kMinute);
    EXPECT_EQ(list->TimeLast(c), ten + 60 * kMinute);
    EXPECT_EQ(list->TotalVisits(), 2);
    // The list total replaces the first visit's running credit as the item does.
    EXPECT_NEAR(list->TotalTime(), 21 * kMinute, 1e-9);

    // A later visit is credited only when it closes, added to the total.
    list->AddHit(1, 0, "client", ten + 70 * kMinute, kAddVisit);
    EXPECT_NEAR(list->TimeTot(c), 21 * kMinute, 1e-9);
    list->AddHit(1, 0, "client", ten + 200 * kMinute, kAddVisit);
    EXPECT_EQ(list->Visits(c), 3);
    EXPECT_NEAR(list->TimeTot(c), (21 + 11) * kMinute, 1e-9);
    EXPECT_NEAR(list->TotalTime(), (21 + 11) * kMinute, 1e-9);

    // A gap of exactly the session time continues the visit.
    auto exact = MakeList(10, false, 30);
    const double t0 = JulianDate(2024, 3, 5, 23, 45, 10);
    exact->AddHit(1, 0, "c", t0, kAddVisit);
    exact->AddHit(1, 0, "c", JulianDate(2024, 3, 6, 0, 15, 10), kAddVisit);
    EXPECT_EQ(exact->Visits(0), 1);
    EXPECT_FALSE(exact->NewVisit());
    exact->AddHit(1, 0, "c", JulianDate(2024, 3, 6, 0, 45, 11), kAddVisit);
    EXPECT_EQ(exact->Visits(0), 2);
}

TEST(StatList, TimeRecordsByDayOrByKey) {
    auto list = MakeList(10);
    list->SetHasTimeRecs(true);
    const double d1 = JulianDate(2024, 3, 5, 9), d1late = JulianDate(2024, 3, 5, 23, 59, 59);
    const double d2 = JulianDate(2024, 3, 6, 0, 0, 1);
    const int i = list->AddHit(100, 0, "c", d1, kAddDayRecord);
    list->AddHit(50, 0, "c", d1late, kAddDayRecord);
    list->AddHit(7, 0, "c", d2, kAddDayRecord);
    // Day and key both given: the day wins.
    list->AddHit(1, 0, "c", d2, kAddDayRecord | kAddKeyRecord, 3);
    list->AddHit(9, 0, "c", d2, kAddKeyRecord, 3);

    const int day1 = static_cast<int>(d1 + 0.5), day2 = static_cast<int>(d2 + 0.5);
    ASSERT_EQ(day2, day1 + 1);
    EXPECT_EQ(list->TimeRecCount(i), 3);
    EXPECT_EQ(list->TimeRecSumFor(i, day1), 150);
    EXPECT_EQ(list->TimeRecCountFor(i, day1), 2);
    EXPECT_EQ(list->TimeRecSumFor(i, day2), 8);
    EXPECT_EQ(list->TimeRecSumFor(i, 3), 9);
    EXPECT_EQ(list->TimeRecCountFor(i, 4), -1);

    list->SortTimeRecs(i, 1);  // by sum
    EXPECT_EQ(list->TimeRecKey(i, 0), day1);
    EXPECT_EQ(list->TimeRecSum(i, 2), 8);
    list->SortTimeRecs(i, 0);  // by count
    EXPECT_EQ(list->TimeRecCountAt(i, 0), 2);

    // Lists without the flag keep no records.
    auto plain = MakeList(10);
    const int p = plain->AddHit(1, 0, "c", d1, kAddDayRecord);
    EXPECT_EQ(plain->TimeRecCount(p), 0);
    EXPECT_EQ(plain->TimeRecSumFor(p, day1), -1);
}

struct RecordingSink : StatusSink {
    std::vector<std::string> errors;
    void error(std::string_view text) override { errors.emplace_back(text); }
};

bool OvercommitRefusesHugeAllocations() {
    std::ifstream in("/proc/sys/vm/overcommit_memory");
    int mode = 0;
    return !(in >> mode) || mode != 1;
}

TEST(StatList, AllocationFailureIsReportedAndCreatesNoList) {
    if (!OvercommitRefusesHugeAllocations()) GTEST_SKIP() << "the system never refuses memory";
    RecordingSink sink;
    StatusSink* previous = set_status_sink(&sink);
    clear_out_of_memory();

    auto list = StatList::Create(nullptr, INT_MAX);
    EXPECT_EQ(list, nullptr);
    ASSERT_EQ(sink.errors.size(), 1u);
    EXPECT_EQ(sink.errors[0], "Failed alloc stat, needed " +
                                  std::to_string(static_cast<long>(INT_MAX) * sizeof(StatItem)));
    EXPECT_TRUE(out_of_memory());

    clear_out_of_memory();
    set_status_sink(previous);
}

TEST(StatList, MillionSkewedHitsMatchAPlainMap) {
    constexpr int kHits = 1'000'000;
    constexpr int kDistinct = 150'000;
    auto list = MakeList(500);
    std::unordered_map<std::string, std::pair<int, double>> expected;
    std::mt19937 rng(12345);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::string name;
    for (int i = 0; i < kHits; ++i) {
        // u^4 crowds the hits onto few names, as real logs do, with a long tail.
        const double u = unit(rng);
        const int k = static_cast<int>(kDistinct * u * u * u * u);
        name = "/s" + std::to_string(k % 40) + "/page" + std::to_string(k) + ".html";
        const int bytes = static_cast<int>(rng() % 5000);
        ASSERT_GE(list->AddHit(bytes, 0, name, 0, 0), 0);
        auto& e = expected[name];
        e.first += 1;
        e.second += bytes;
    }
    ASSERT_EQ(list->Count(), static_cast<int>(expected.size()));
    EXPECT_EQ(list->TotalReq(), kHits);
    for (const StatItem& item : list->Items()) {
        auto it = expected.find(std::string(item.name));
        ASSERT_NE(it, expected.end()) << item.name;
        ASSERT_EQ(item.req, it->second.first) << item.name;
        ASSERT_EQ(item.bytes, it->second.second) << item.name;
    }
    list->Sort(kSortReqs, 4);
    int top = 0;
    for (const auto& [n, e] : expected) top = std::max(top, e.first);
    EXPECT_EQ(list->Req(0), top);
}

}  // namespace
}  // namespace tallowick::engine
