#include "engine/string_lookup.h"

#include <gtest/gtest.h>

#include <string>
#include <unordered_map>

#include "engine/name_hash.h"
#include "support/test_support.h"

namespace tallowick::engine {
namespace {

std::string Address(int i) {
    return std::to_string(10 + i % 200) + "." + std::to_string(i / 200 % 256) + "." +
           std::to_string(i / 51200 % 256) + "." + std::to_string(i % 251);
}

TEST(StringLookup, FindsNamesByAddressWithoutFoldingCase) {
    auto table = StringLookup::Create();
    ASSERT_NE(table, nullptr);
    EXPECT_FALSE(table->Lookup("10.0.0.1").has_value());
    ASSERT_TRUE(table->Add("10.0.0.1", "gw.example.net"));
    ASSERT_TRUE(table->Add("host-A", "upper"));
    ASSERT_TRUE(table->Add("host-a", "lower"));
    EXPECT_EQ(table->Lookup("10.0.0.1"), "gw.example.net");
    EXPECT_EQ(table->Lookup("host-A"), "upper");
    EXPECT_EQ(table->Lookup("host-a"), "lower");
    EXPECT_FALSE(table->Lookup("10.0.0.10").has_value());

    // A second answer for an address replaces the first; the entry stays one.
    ASSERT_TRUE(table->Add("10.0.0.1", "10.0.0.1"));
    EXPECT_EQ(table->Lookup("10.0.0.1"), "10.0.0.1");
    EXPECT_EQ(table->Count(), 3);
    EXPECT_EQ(table->Address(0), "10.0.0.1");
    EXPECT_EQ(table->Name(2), "lower");
    EXPECT_EQ(table->Name(3), "");
}

TEST(StringLookup, CollidingAddressesKeepTheirOwnNames) {
    std::unordered_map<std::uint32_t, std::string> seen;
    std::string first, second;
    for (int i = 0; first.empty(); ++i) {
        std::string a = Address(i) + "/" + std::to_string(i);
        auto [it, fresh] = seen.emplace(NameHash(a), a);
        if (!fresh) {
            first = it->second;
            second = a;
        }
    }
    auto table = StringLookup::Create();
    ASSERT_TRUE(table->Add(first, "first.example"));
    ASSERT_TRUE(table->Add(second, "second.example"));
    EXPECT_EQ(table->Lookup(first), "first.example");
    EXPECT_EQ(table->Lookup(second), "second.example");
}

TEST(StringLookup, GrowsByItsIncrementAndKeepsEveryEntry) {
    auto table = StringLookup::Create();
    EXPECT_EQ(table->Increment(), kDNSListIncr);
    for (int i = 0; i < 2500; ++i) {
        ASSERT_TRUE(table->Add(Address(i), "h" + std::to_string(i)));
        if (i == 0 || i == 999) {
            EXPECT_EQ(table->Capacity(), 1000);
        } else if (i == 1000) {
            EXPECT_EQ(table->Capacity(), 2000);
        }
    }
    EXPECT_EQ(table->Capacity(), 3000);
    for (int i = 0; i < 2500; ++i) ASSERT_EQ(table->Lookup(Address(i)), "h" + std::to_string(i));
}

TEST(StringLookup, SaveWritesTheCacheFile) {
    test::TempDir dir;
    auto table = StringLookup::Create();
    table->Add("192.0.2.7", "mail.example.org");
    table->Add("192.0.2.8", "192.0.2.8");
    ASSERT_TRUE(table->Save(dir / "dnscache.dat"));
    EXPECT_EQ(test::read_file(dir / "dnscache.dat"),
              "###############################################\n"
              "# DNS Cache data file\n"
              "# format: ipaddress  resolved_address\n"
              "# total addresses = 2\n"
              "###############################################\n"
              "192.0.2.7,mail.example.org\n"
              "192.0.2.8,192.0.2.8\n");
    std::string error;
    EXPECT_FALSE(table->Save(dir / "missing-folder" / "dnscache.dat", &error));
    EXPECT_NE(error.find("missing-folder"), std::string::npos) << error;

    // Read back: the header's words and words without both halves are passed over.
    test::write_file(dir / "extra.dat", test::read_file(dir / "dnscache.dat") +
                                            "10.0.0.1,a,b  ,x.example 10.0.0.2, \t10.0.0.3,c.example\r\n");
    auto loaded = StringLookup::Create();
    ASSERT_TRUE(loaded->Load(dir / "extra.dat"));
    EXPECT_EQ(loaded->Count(), 4);
    EXPECT_EQ(loaded->Lookup("192.0.2.7"), "mail.example.org");
    EXPECT_EQ(loaded->Lookup("10.0.0.1"), "a,b");
    EXPECT_EQ(loaded->Lookup("10.0.0.3"), "c.example");
    EXPECT_FALSE(loaded->Load(dir / "absent.dat"));
}

}  // namespace
}  // namespace tallowick::engine
