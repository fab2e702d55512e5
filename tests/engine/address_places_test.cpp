#include "engine/address_places.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "engine/ip_address.h"
#include "run_fixture.h"

namespace tallowick::engine {
namespace {

TEST(IpAddress, ParsesClientAddressesAndKnowsLocalRanges) {
    struct Case {
        std::string_view client;
        bool address, v6, local;
    };
    const Case cases[] = {
        {"8.8.8.8", true, false, false},
        {"8.8.8.8/extra", true, false, false},
        {"10.1.2.3", true, false, true},
        {"172.16.0.1", true, false, true},
        {"172.32.0.1", true, false, false},
        {"192.168.5.5", true, false, true},
        {"127.0.0.1", true, false, true},
        {"169.254.1.1", true, false, true},
        {"100.64.0.1", true, false, true},
        {"100.128.0.1", true, false, false},
        {"::1", true, true, true},
        {"[2001:4860:4860::8888]", true, true, false},
        {"fe80::1%eth0", true, true, true},
        {"fd00::7", true, true, true},
        {"::ffff:192.168.1.1", true, false, true},  // IPv4 written as IPv6
        {"1.2.3", false, false, false},
        {"256.1.1.1", false, false, false},
        {"3com.example.org", false, false, false},
        {"2001:db8::1::2", false, false, false},
        {"", false, false, false},
    };
    for (const Case& c : cases) {
        const auto a = parse_ip_address(c.client);
        ASSERT_EQ(a.has_value(), c.address) << c.client;
        if (!a) continue;
        EXPECT_EQ(a->v6, c.v6) << c.client;
        EXPECT_EQ(is_local_address(*a), c.local) << c.client;
    }
    EXPECT_EQ(parse_ip_address("::ffff:8.8.4.4"), parse_ip_address("8.8.4.4"));
}

class InstalledDatabases : public ::testing::Test {
protected:
    void SetUp() override {
        country_ = find_ip_data_file(kCountryDatabaseFile);
        as_ = find_ip_data_file(kAsTableFile);
        if (country_.empty() || as_.empty())
            GTEST_SKIP() << "address databases not installed (scripts/install-deps.sh)";
    }
    std::filesystem::path country_, as_;
};

TEST_F(InstalledDatabases, WellKnownAddressesGiveTheirCountryAndAsName) {
    auto places = AddressPlaces::ForFiles(country_, as_);
    struct Case {
        std::string_view client, country, organisation;
    };
    const Case cases[] = {
        {"8.8.8.8", "United States", "Google LLC"},
        {"2001:4860:4860::8888", "United States", "Google LLC"},
        {"[2001:4860:4860::8844]", "United States", "Google LLC"},
        {"1.1.1.1", {}, "Cloudflare, Inc."},
        {"192.168.1.1", kLocalNet, ""},
        {"::1", kLocalNet, ""},
        {"www.example.com", kUnresolvedIp, ""},  // not an address: not looked up
    };
    for (int pass = 0; pass < 2; ++pass)  // looked up, then remembered
        for (const Case& c : cases) {
            const AddressPlace p = places->Find(c.client);
            if (!c.country.empty()) {
                EXPECT_EQ(p.country.name, c.country) << c.client;
            }
            EXPECT_EQ(p.organisation, c.organisation) << c.client;
        }
    EXPECT_EQ(places->Find("8.8.8.8").country.region, kRegionNorthAmerica);
    EXPECT_NE(places->Find("1.1.1.1").country.name, kUnresolvedIp);
}

TEST_F(InstalledDatabases, AFileThatCannotBeOpenedIsReportedAndPlacesNothing) {
    test::RecordingSink sink;
    tallowick::test::TempDir dir;
    tallowick::test::write_file(dir / "bad.mmdb", "not a database");
    tallowick::test::write_file(dir / "bad.tbl", "TWASTBL1\x05");  // cut short
    auto places = AddressPlaces::ForFiles(dir / "bad.mmdb", dir / "bad.tbl");
    EXPECT_FALSE(places->available());
    EXPECT_EQ(places->Find("8.8.8.8").country.name, kUnresolvedIp);
    EXPECT_EQ(sink.errors.size(), 2u) << ::testing::PrintToString(sink.errors);

    // Another country database named by the settings takes the installed one's place.
    Settings s;
    s.analysis.geoipdb = (dir / "missing.mmdb").string();
    EXPECT_FALSE(AddressPlaces::ForSettings(s.analysis)->Find("8.8.8.8").organisation.empty());
    EXPECT_EQ(AddressPlaces::ForSettings(s.analysis)->Find("8.8.8.8").country.name, kUnresolvedIp);
    s.analysis.geoip = 0;
    EXPECT_EQ(AddressPlaces::ForSettings(s.analysis), nullptr);
}

TEST_F(InstalledDatabases, GroupingPlacesAddressesAfterNamesAndTheOrganisationMap) {
    auto places = AddressPlaces::ForFiles(country_, as_);
    test::RunOnText t;
    std::string log;
    for (std::string_view client : {"8.8.8.8", "1.1.1.1", "192.168.1.9", "host.example.de"})
        log += test::CombinedLine(client, "10/Oct/2026:13:55:36 +0000", "GET / HTTP/1.1", 200, 10);
    t.AddLog("access.log", log);
    SettingsList orgmap;
    orgmap.add("8.8.*=Resolver");
    t.hooks().group_clients = [&](ReportStats& r) {
        return group_report_clients(r, orgmap, places.get());
    };
    t.Process();
    const ReportStats& r = t.report();
    EXPECT_EQ(test::ReqOf(r.org, "Resolver"), 1);  // the map comes first
    EXPECT_EQ(test::ReqOf(r.org, "Cloudflare, Inc."), 1);
    EXPECT_EQ(r.org->Count(), 2);
    EXPECT_EQ(test::ReqOf(r.domain, "United States"), 1);
    EXPECT_EQ(test::ReqOf(r.domain, kLocalNet), 1);
    EXPECT_EQ(test::ReqOf(r.domain, "Germany"), 1);
    EXPECT_EQ(test::ReqOf(r.domain, kUnresolvedIp), 0);
    EXPECT_EQ(test::ReqOf(r.region, "North America"), 1);
    EXPECT_TRUE(r.as_data_used);
}

// With two threads the clients' groups are worked out on both, a block at a
// time; the derived lists must come out as on one thread, across blocks.
TEST_F(InstalledDatabases, GroupingOnTwoThreadsGivesTheListsOfOne) {
    std::string log;
    for (int i = 0; i < 20000; ++i) {
        const int a = i * 7919 % 251 + 1, b = i / 251 % 256, c = i % 251;
        std::string client = std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c) +
                             "." + std::to_string(i % 200 + 1);
        if (i % 10 == 1) client = "10." + client.substr(client.find('.') + 1);  // a local address
        if (i % 10 == 2) client = "host" + std::to_string(i) + (i % 3 ? ".agency.gov" : ".proxy.de");
        log += test::CombinedLine(client, "10/Oct/2026:13:55:36 +0000", "GET / HTTP/1.1", 200, i);
    }
    SettingsList orgmap;
    orgmap.add("*proxy*=Proxies");
    orgmap.add("8.*=Eight");
    using Rows = std::vector<std::tuple<std::string, int, int, int>>;
    auto lists_with = [&](int threads, bool* credited) {
        auto places = AddressPlaces::ForFiles(country_, as_);
        test::RunOnText t;
        t.AddLog("access.log", log);
        t.hooks().group_clients = [&](ReportStats& r) {
            return group_report_clients(r, orgmap, places.get(), threads);
        };
        t.Process();
        const ReportStats& r = t.report();
        *credited = r.as_data_used;
        std::vector<Rows> lists;
        for (const auto* list : {&r.org, &r.domain, &r.region, &r.government, &r.second_domain}) {
            Rows& rows = lists.emplace_back();
            for (const StatItem& item : (*list)->Items())
                rows.emplace_back(std::string(item.name), item.req, item.visits, item.misc1);
        }
        return lists;
    };
    bool credited_one = false, credited_two = false;
    const auto one = lists_with(1, &credited_one);
    EXPECT_GT(one[0].size(), 100u);  // AS names
    EXPECT_TRUE(credited_one);
    EXPECT_EQ(lists_with(2, &credited_two), one);
    EXPECT_TRUE(credited_two);
}

// A real log of numeric clients: without the databases every hit is an
// unresolved address; with them nearly every hit has a country.
TEST_F(InstalledDatabases, RealNumericLogGetsCountriesAndOrganisations) {
    const auto shared = tallowick::test::shared_logs_dir();
    if (!shared) GTEST_SKIP() << "no real logs beside the checkout";
    const auto log = *shared / "combined" / "basjes_nl_2015-10_hackers_combined.log";
    if (!std::filesystem::exists(log)) GTEST_SKIP() << "log missing";

    auto unresolved_share = [&](AddressPlaces* places, bool* credited) {
        Settings settings = test::AllTablesOn();
        RunHooks hooks;
        hooks.group_clients = [places](ReportStats& r) {
            return group_report_clients(r, {}, places);
        };
        AnalysisRun run(settings, {log.string()}, hooks);
        EXPECT_EQ(run.Process(), 0);
        const ReportStats& r = *run.reports()[0];
        *credited = r.as_data_used;
        EXPECT_GT(r.accepted_hits, 3000);
        if (places) {
            EXPECT_GT(r.org->Count(), 10);
        }
        return static_cast<double>(test::ReqOf(r.domain, kUnresolvedIp)) / r.client->TotalReq();
    };
    bool credited = true;
    EXPECT_DOUBLE_EQ(unresolved_share(nullptr, &credited), 1.0);
    EXPECT_FALSE(credited);
    auto places = AddressPlaces::ForFiles(country_, as_);
    EXPECT_LT(unresolved_share(places.get(), &credited), 0.05);
    EXPECT_TRUE(credited);
}

}  // namespace
}  // namespace tallowick::engine
