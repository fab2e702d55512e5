#include <gtest/gtest.h>

#include <map>
#include <random>

#include "engine/session_rec.h"
#include "engine/time_rec.h"

namespace tallowick::engine {
namespace {

TEST(TimeRecList, GrowsByEightAndReadsMinusOneBeyondItsCapacity) {
    TimeRecList list;
    EXPECT_EQ(list.Key(0), -1);
    for (int day = 0; day < 9; ++day) {
        EXPECT_EQ(list.Add(100 + day, day * 10), day);
        EXPECT_EQ(list.Capacity(), day < 8 ? 8 : 16);
    }
    EXPECT_EQ(list.Add(104, 5), 4);  // existing key: summed, counted
    EXPECT_EQ(list.Count(), 9);
    EXPECT_EQ(list.SumFor(104), 45);
    EXPECT_EQ(list.CountFor(104), 2);
    EXPECT_EQ(list.SumFor(99), -1);
    EXPECT_EQ(list.CountFor(99), -1);
    // Allocated but unused records read as zero; beyond the capacity, -1.
    EXPECT_EQ(list.Key(15), 0);
    EXPECT_EQ(list.Sum(15), 0);
    EXPECT_EQ(list.Key(16), -1);
    EXPECT_EQ(list.CountAt(16), -1);
    EXPECT_EQ(list.Key(-1), -1);

    // Sums beyond 32 bits stay exact.
    list.Add(500, 3'000'000'000LL);
    list.Add(500, 3'000'000'000LL);
    EXPECT_EQ(list.SumFor(500), 6'000'000'000LL);

    list.SetCountAt(0, 42);
    list.Sort(0);
    EXPECT_EQ(list.Key(0), 100);
    EXPECT_EQ(list.CountAt(0), 42);
    list.Sort(1);
    EXPECT_EQ(list.Key(0), 500);
    for (int i = 1; i < list.Count(); ++i) EXPECT_GE(list.Sum(i - 1), list.Sum(i));
}

// A list of thousands of keys (a search engine's phrases) finds them through its
// index: every key keeps one record, across growth and a sort, as a plain map says.
TEST(TimeRecList, ManyKeysKeepOneRecordEachThroughGrowthAndSorting) {
    TimeRecList list;
    std::map<int, std::pair<std::int64_t, int>> expected;  // key -> sum, count
    std::mt19937 rng(7);
    auto add = [&](int key, std::int64_t value) {
        ASSERT_GE(list.Add(key, value), 0);
        expected[key].first += value;
        expected[key].second += 1;
    };
    for (int i = 0; i < 20000; ++i) {
        add(static_cast<int>(rng() % 5000) * 7919 - 1000000, i % 97);
        if (i == 12000) list.Sort(1);
    }
    ASSERT_EQ(list.Count(), static_cast<int>(expected.size()));
    for (const auto& [key, sum_count] : expected) {
        EXPECT_EQ(list.SumFor(key), sum_count.first) << key;
        EXPECT_EQ(list.CountFor(key), sum_count.second) << key;
    }
    EXPECT_EQ(list.SumFor(1), -1);
}

TEST(SessionRecList, GrowsByTenAndTracksTheVisitStart) {
    SessionRecList list(0xABCD1234u, nullptr);
    EXPECT_EQ(list.hash(), 0xABCD1234u);
    EXPECT_EQ(list.Append(1, 2460000.25), 0);
    EXPECT_EQ(list.Capacity(), 10);
    EXPECT_EQ(list.VisitStart(), 1);
    list.SetPathHash(77);
    for (int i = 0; i < 10; ++i) list.Append(11 + i, 0);
    EXPECT_EQ(list.Capacity(), 20);
    EXPECT_EQ(list.PathHash(), 77u) << "only a visit start resets the path";
    EXPECT_EQ(list.Append(1, 2460001.0), 11);
    EXPECT_EQ(list.VisitStart(), 12);
    EXPECT_EQ(list.PathHash(), 0u);
    ASSERT_EQ(list.Records().size(), 12u);
    EXPECT_EQ(list.Records()[5].kind, 15);
    EXPECT_EQ(list.Records()[11].value, 2460001.0);
}

}  // namespace
}  // namespace tallowick::engine
