// Runs of equal names: a list finds the item of the last lookup again without
// hashing, and must forget it when a sort moves the items.
#include <gtest/gtest.h>

#include <string>

#include "engine/stat_list.h"

namespace tallowick::engine {
namespace {

TEST(StatList, RepeatedNameAfterASortCountsToItsItemsNewPlace) {
    auto list = StatList::Create(nullptr, 10);
    ASSERT_NE(list, nullptr);
    list->AddHit(1, 0, "/rare", 0, 0);
    for (int i = 0; i < 5; ++i) list->AddHit(1, 0, "/busy", 0, 0);
    list->AddHit(1, 0, "/rare", 0, 0);  // the last lookup: "/rare" at 0
    list->SortBy(kSortReqs);
    ASSERT_EQ(list->Name(0), "/busy");
    EXPECT_EQ(list->AddHit(1, 0, "/rare", 0, 0), 1);
    EXPECT_EQ(list->Req(1), 3);
    EXPECT_EQ(list->Req(0), 5);

    // A name that only begins like the last one, or equals it but for case, is
    // not taken for it.
    EXPECT_EQ(list->Add("/rar"), 2);
    EXPECT_EQ(list->Add("/RARE"), 3);
    EXPECT_EQ(list->Add("/rare"), 1);

    auto folded = StatList::Create(nullptr, 10, CountingOptions{true, 10});
    ASSERT_NE(folded, nullptr);
    EXPECT_EQ(folded->Add("/Index.html"), 0);
    EXPECT_EQ(folded->Add("/index.HTML"), 0);
    EXPECT_EQ(folded->Add("/index.HTML"), 0);
    EXPECT_EQ(folded->Count(), 1);
}

}  // namespace
}  // namespace tallowick::engine
