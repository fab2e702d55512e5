#include "engine/clients.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>

#include "base/status.h"
#include "engine/report_stats.h"
#include "engine/stat_list.h"

namespace tallowick::engine {
namespace {

TEST(ClientClassification, CountryOfAClientName) {
    struct Case {
        std::string_view client;
        std::string_view country;
        Region region;
    };
    const Case cases[] = {
        {"192.168.1.20", kUnresolvedIp, kRegionNone},
        {"10.0.0.1", kUnresolvedIp, kRegionNone},
        {"2001:db8::1", kUnresolvedIp, kRegionNone},
        {"::1", kUnresolvedIp, kRegionNone},
        {"host.example.2com", kUnresolvedIp, kRegionNone},  // a digit first is enough
        {"printer.lan", kLocalNet, kRegionNone},
        {"box.local", kLocalNet, kRegionNone},
        {"localhost", kLocalNet, kRegionNone},
        {"", kLocalNet, kRegionNone},
        {"ends.with.dot.", kLocalNet, kRegionNone},
        {"www.example.de", "Germany", kRegionEurope},
        {"WWW.EXAMPLE.DE", "Germany", kRegionEurope},
        {"proxy.example.co.uk", "United Kingdom", kRegionEurope},
        {"mail.example.gb", "United Kingdom", kRegionEurope},
        {"dialup.example.com.au", "Australia", kRegionOceania},
        {"www.example.com.au.", "Australia", kRegionOceania},  // a full name's last dot
        {"a.b.jp", "Japan", kRegionAsia},
        {"x.y.br", "Brazil", kRegionLatinAmerica},
        {"x.y.za", "South Africa", kRegionAfrica},
        {"x.y.ae", "United Arab Emirates", kRegionMiddleEast},
        {"x.y.ca", "Canada", kRegionNorthAmerica},
        {"x.y.ac", "Ascension Island", kRegionAfrica},
        {"x.y.zw", "Zimbabwe", kRegionAfrica},
        {"cs.mit.edu", "US Educational", kRegionNorthAmerica},
        {"host.example.com", "Commercial", kRegionNone},
        {"host.example.io", "British Indian Ocean Territory", kRegionAsia},
        {"x.in-addr.arpa", "Adv Proj Res Agency", kRegionNone},
        {"shop.example.info", "Information", kRegionNone},
        {"x.y.mobi", "Mobile", kRegionNone},
        {"x.y.c", kLocalNet, kRegionNone},
        {"x.y.comm", kLocalNet, kRegionNone},
        {"x.y.zz", kLocalNet, kRegionNone},
    };
    for (const auto& c : cases) {
        const CountryOf got = country_of(c.client);
        EXPECT_EQ(got.name, c.country) << c.client;
        EXPECT_EQ(got.region, c.region) << c.client;
        EXPECT_EQ(region_of(got.name), c.region) << c.client;
    }
}

TEST(ClientClassification, CountryTable) {
    const auto codes = country_codes();
    std::set<std::string_view> seen;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        const Country& c = codes[i];
        EXPECT_EQ(c.code.size(), 2u) << c.code;
        if (i > 0) {
            EXPECT_LT(codes[i - 1].code, c.code) << "country codes out of order";
        }
        EXPECT_FALSE(c.name.empty()) << c.code;
        // Every country lies in one of the seven painted regions.
        EXPECT_GE(c.region, kRegionNorthAmerica) << c.code;
        EXPECT_LE(c.region, kRegionOceania) << c.code;
        EXPECT_FALSE(region_name(c.region).empty());
        seen.insert(c.code);
        // Each code is found again through a client name, in either case.
        const std::string upper = {char(c.code[0] - 'a' + 'A'), char(c.code[1] - 'a' + 'A')};
        EXPECT_EQ(country_of("h." + upper).name, c.name) << c.code;
        EXPECT_EQ(country_of("h." + std::string(c.code)).region, c.region) << c.code;
    }
    for (const Country& g : generic_domains()) {
        EXPECT_TRUE(seen.insert(g.code).second) << "twice in the table: " << g.code;
        EXPECT_EQ(country_of("h." + std::string(g.code)).name, g.name);
        EXPECT_GE(g.region, kRegionNone);
        EXPECT_LE(g.region, kRegionOceania);
    }
    for (const char* generic : {"com", "net", "org", "edu", "gov", "mil", "int", "arpa", "info", "biz",
                                "name", "mobi"})
        EXPECT_TRUE(seen.count(generic)) << generic;
    for (int r = 0; r < kRegionCount; ++r) EXPECT_FALSE(region_name(r).empty()) << r;
    EXPECT_TRUE(region_name(kRegionCount).empty());
    EXPECT_TRUE(region_name(-1).empty());
}

// The system's ISO 3166 list, when the machine has one: every code in it must be
// in the table.
TEST(ClientClassification, EveryIsoCodeIsInTheTable) {
    std::ifstream iso("/usr/share/zoneinfo/iso3166.tab");
    if (!iso) GTEST_SKIP() << "no iso3166.tab on this machine";
    std::set<std::string_view> codes;
    for (const Country& c : country_codes()) codes.insert(c.code);
    std::string line;
    int checked = 0;
    while (std::getline(iso, line)) {
        if (line.empty() || line[0] == '#' || line.size() < 2) continue;
        std::string code = line.substr(0, 2);
        for (char& ch : code) ch = static_cast<char>(ch - 'A' + 'a');
        EXPECT_TRUE(codes.count(code)) << "missing country code " << code;
        ++checked;
    }
    EXPECT_GE(checked, 249);
}

TEST(ClientClassification, UsersGovernmentAndOrganisations) {
    struct Case {
        std::string_view client;
        bool user;
        bool government;
    };
    const Case cases[] = {
        {"jsmith", true, false},
        {"localhost", true, false},
        {"www.example.com", false, false},
        {"whitehouse.gov", false, true},
        {"WWW.NASA.GOV", false, true},
        {"ministry.gov.uk", false, true},
        {"army.mil", false, true},
        {"base.mil.nz", false, true},
        {"gov", true, false},
        {"government.example.com", false, false},
        {"gov.example.com", false, false},   // "gov" must follow a dot
        {"www.govt.nz", false, false},
        {"x.milk.com", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(is_user_name(c.client), c.user) << c.client;
        EXPECT_EQ(is_government(c.client), c.government) << c.client;
    }

    SettingsList orgmap;
    ASSERT_EQ(orgmap.add("*.ibm.com=IBM"), SettingsList::AddResult::added);
    orgmap.add("no name here");
    orgmap.add("*.empty.com=");
    orgmap.add("*.com=Commercial sites");
    orgmap.add("#10.0.0.0/8=Intranet");
    EXPECT_EQ(organisation_of("www.ibm.com", orgmap), "IBM");
    EXPECT_EQ(organisation_of("WWW.IBM.COM", orgmap), "IBM");
    EXPECT_EQ(organisation_of("a.empty.com", orgmap), "Commercial sites");
    EXPECT_EQ(organisation_of("x.example.com", orgmap), "Commercial sites");
    EXPECT_EQ(organisation_of("10.1.2.3", orgmap), "Intranet");
    EXPECT_EQ(organisation_of("example.org", orgmap), std::nullopt);
    EXPECT_EQ(organisation_of("www.ibm.com", SettingsList{}), std::nullopt);
}

class RecordingSink : public StatusSink {
public:
    void status(std::string_view text) override { statuses.emplace_back(text); }
    void progress(int percent, std::string_view, std::string_view) override {
        percents.push_back(percent);
    }
    std::vector<std::string> statuses;
    std::vector<int> percents;
};

struct Lists {
    std::unique_ptr<StatList> clients = StatList::Create(nullptr, 16);
    std::unique_ptr<StatList> users = StatList::Create(nullptr, 16);
    std::unique_ptr<StatList> government = StatList::Create(nullptr, 16);
    std::unique_ptr<StatList> orgs = StatList::Create(nullptr, 16);
    std::unique_ptr<StatList> countries = StatList::Create(nullptr, 16);
    std::unique_ptr<StatList> regions = StatList::Create(nullptr, 16);
    ClientLists all() const {
        return {users.get(), government.get(), orgs.get(), countries.get(), regions.get()};
    }
};

TEST(ClientClassification, SecondLevelDomains) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"www.cs.example.com", "example.com"}, {"example.com", "example.com"},
        {"mail.example.co.uk", "example.co.uk"}, {"proxy.uni.ac.jp.", "uni.ac.jp"},
        {"host.example.de", "example.de"},     {"a.b.museum.de", "museum.de"},
        {"192.168.0.9", ""}, {"2001:db8::1", ""}, {"jsmith", ""}, {".com", ""},
    };
    for (const auto& [client, want] : cases)
        EXPECT_EQ(second_domain_of(client).value_or(""), want) << client;
}

TEST(ClientGrouping, RollsClientsUpIntoTheDerivedLists) {
    Lists l;
    // name, hits, bytes per hit, error hits
    struct Client {
        const char* name;
        int hits;
        int bytes;
        int errors;
    };
    const Client clients[] = {
        {"jsmith", 2, 100, 0},
        {"www.nasa.gov", 3, 10, 1},
        {"proxy.ibm.com", 1, 1000, 0},
        {"web.ibm.com", 4, 1, 2},
        {"host.example.de", 5, 7, 0},
        {"gate.example.fr", 1, 3, 1},
        {"192.168.0.9", 2, 50, 0},
        {"printer.lan", 1, 5, 0},
    };
    for (const Client& c : clients)
        for (int h = 0; h < c.hits; ++h)
            l.clients->AddHit(c.bytes, 1, c.name, 2451545.0 + h / 1440.0,
                              kAddVisit | kAddPage | (h < c.errors ? kAddError : 0));

    SettingsList orgmap;
    orgmap.add("*.ibm.com=IBM");

    RecordingSink sink;
    StatusSink* previous = set_status_sink(&sink);
    std::vector<int> visited;
    group_clients(*l.clients, l.all(), orgmap, [&](int i) { visited.push_back(i); });
    set_status_sink(previous);

    ASSERT_FALSE(sink.statuses.empty());
    EXPECT_EQ(sink.statuses.front(), "Processing clients...");
    EXPECT_EQ(sink.percents.size(), std::size(clients));  // 8 clients: every step changes it
    for (std::size_t i = 0; i < sink.percents.size(); ++i)
        EXPECT_EQ(sink.percents[i], static_cast<int>(i * 100 / std::size(clients)));
    EXPECT_EQ(visited.size(), std::size(clients));

    ASSERT_EQ(l.users->Count(), 1);
    EXPECT_EQ(l.users->Name(0), "jsmith");
    EXPECT_EQ(l.users->Req(0), 2);
    ASSERT_EQ(l.government->Count(), 1);
    EXPECT_EQ(l.government->Name(0), "www.nasa.gov");
    EXPECT_EQ(l.government->Errors(0), 1);

    // Two clients add up under one organisation.
    ASSERT_EQ(l.orgs->Count(), 1);
    EXPECT_EQ(l.orgs->Name(0), "IBM");
    EXPECT_EQ(l.orgs->Req(0), 5);
    EXPECT_DOUBLE_EQ(l.orgs->Bytes(0), 1004);
    EXPECT_DOUBLE_EQ(l.orgs->BytesIn(0), 5);
    EXPECT_EQ(l.orgs->Errors(0), 2);
    EXPECT_EQ(l.orgs->Pages(0), 5);
    EXPECT_EQ(l.orgs->Visits(0), 2);

    auto country = [&](std::string_view name) { return l.countries->FindByHash(l.countries->HashOf(name)); };
    const int germany = country("Germany");
    ASSERT_GE(germany, 0);
    EXPECT_EQ(l.countries->Req(germany), 5);
    EXPECT_DOUBLE_EQ(l.countries->Bytes(germany), 35);
    EXPECT_EQ(l.countries->Misc2(germany), kRegionEurope);
    const int commercial = country("Commercial");
    ASSERT_GE(commercial, 0);
    EXPECT_EQ(l.countries->Req(commercial), 5);
    EXPECT_EQ(l.countries->Errors(commercial), 2);
    EXPECT_GE(l.countries->TimeTot(commercial), l.clients->TimeTot(2));
    EXPECT_EQ(l.countries->Req(country(kUnresolvedIp)), 2);
    EXPECT_EQ(l.countries->Req(country(kLocalNet)), 3);  // jsmith and printer.lan
    EXPECT_EQ(l.countries->TotalReq(), l.clients->TotalReq());
    EXPECT_DOUBLE_EQ(l.countries->TotalBytes(), l.clients->TotalBytes());

    auto region = [&](Region r) { return l.regions->FindByHash(l.regions->HashOf(region_name(r))); };
    ASSERT_GE(region(kRegionEurope), 0);
    EXPECT_EQ(l.regions->Req(region(kRegionEurope)), 6);  // Germany and France
    EXPECT_EQ(l.regions->Errors(region(kRegionEurope)), 1);
    EXPECT_EQ(l.regions->Req(region(kRegionNorthAmerica)), 3);
    EXPECT_EQ(l.regions->TotalReq(), l.clients->TotalReq());
}

TEST(ClientGrouping, ListsThatAreOffAreLeftAlone) {
    Lists l;
    l.clients->AddHit(10, 0, "www.nasa.gov", 2451545.0, kAddVisit);
    l.clients->AddHit(10, 0, "jsmith", 2451545.0, kAddVisit);
    ClientLists only_countries;
    only_countries.countries = l.countries.get();
    group_clients(*l.clients, only_countries, SettingsList{});
    EXPECT_EQ(l.countries->Count(), 2);
    // A bad index and an empty list do nothing.
    group_client(*l.clients, 7, l.all(), SettingsList{});
    group_client(*l.clients, -1, l.all(), SettingsList{});
    Lists empty;
    group_clients(*empty.clients, empty.all(), SettingsList{});
    for (StatList* list : {l.users.get(), l.government.get(), l.orgs.get(), l.regions.get(),
                           empty.countries.get()})
        EXPECT_EQ(list->Count(), 0);
}

TEST(ClientGrouping, GovernmentClientsKeepTheirDaysInBothLists) {
    Settings settings;
    settings.report.stat.set(StatWord::govthistory, true);
    auto r = CreateReportStats(ReportOptions::From(settings), 1, "report", kWebMode);
    ASSERT_TRUE(r);
    ASSERT_TRUE(r->government);
    ASSERT_TRUE(r->government->HasTimeRecs());
    ASSERT_TRUE(r->client->HasTimeRecs());
    const double day = 2461000.0;
    auto hit = [&](std::string_view name, int bytes, double when) {
        r->client->AddHit(bytes, 0, name, when, kAddDayRecord | kAddVisit | kAddPage);
    };
    hit("www.nasa.gov", 100, day);
    hit("www.nasa.gov", 50, day);
    hit("www.nasa.gov", 7, day + 2);
    hit("ARMY.MIL", 30, day + 1);
    hit("www.example.com", 1000, day);
    hit("ministry.gov.uk", 5, day + 2);
    ASSERT_EQ(group_report_clients(*r, SettingsList{}), 0);

    const StatList& g = *r->government;
    ASSERT_EQ(g.Count(), 3);
    auto find = [&](const StatList& l, std::string_view name) { return l.FindByHash(l.HashOf(name)); };
    const int nasa = find(g, "www.nasa.gov");
    ASSERT_GE(nasa, 0);
    EXPECT_EQ(g.Req(nasa), 3);
    EXPECT_DOUBLE_EQ(g.Bytes(nasa), 157);
    EXPECT_EQ(g.Pages(nasa), 3);
    const int key = static_cast<int>(day + 0.5);
    EXPECT_EQ(g.TimeRecSumFor(nasa, key), 150);
    EXPECT_EQ(g.TimeRecCountFor(nasa, key), 2);
    EXPECT_EQ(g.TimeRecSumFor(nasa, key + 2), 7);
    EXPECT_EQ(g.TimeRecSumFor(find(g, "ARMY.MIL"), key + 1), 30);
    EXPECT_EQ(find(g, "www.example.com"), -1);
    EXPECT_EQ(g.TotalReq(), 5);
    EXPECT_DOUBLE_EQ(g.TotalBytes(), 192);
    // The clients keep their own records for the client history.
    const int client = find(*r->client, "www.nasa.gov");
    EXPECT_EQ(r->client->TimeRecSumFor(client, key), 150);
    EXPECT_EQ(r->client->TimeRecSumFor(client, key + 2), 7);

    // Off: no list, and grouping runs without one.
    Settings off;
    auto plain = CreateReportStats(ReportOptions::From(off), 1, "report", kWebMode);
    ASSERT_TRUE(plain);
    EXPECT_FALSE(plain->government);
    plain->client->AddHit(10, 0, "www.nasa.gov", day, kAddVisit);
    EXPECT_EQ(group_report_clients(*plain, SettingsList{}), 0);
}

// A daemon groups its clients after every cycle, and pruning groups the clients
// it drops in between: every client is counted once in the derived lists.
TEST(ClientGrouping, GroupingAgainCountsEveryClientOnce) {
    Settings settings;
    settings.report.stat.set(StatWord::govthistory, true);
    settings.report.stat.set(StatWord::region, true);
    auto r = CreateReportStats(ReportOptions::From(settings), 1, "report", kWebMode);
    ASSERT_TRUE(r && r->government && r->region && r->domain);
    const double day = 2461000.0;
    auto hit = [&](std::string_view name, int bytes, double when) {
        r->client->AddHit(bytes, 0, name, when, kAddDayRecord | kAddVisit | kAddPage);
    };
    auto find = [](const StatList& l, std::string_view name) { return l.FindByHash(l.HashOf(name)); };
    auto req = [&](const std::unique_ptr<StatList>& l, std::string_view name) {
        const int i = find(*l, name);
        return i < 0 ? 0 : l->Req(i);
    };
    hit("www.nasa.gov", 100, day);
    hit("host.example.de", 10, day);
    hit("host.example.de", 10, day);
    ASSERT_EQ(group_report_clients(*r, SettingsList{}), 0);
    EXPECT_EQ(req(r->domain, "Germany"), 2);

    // The next cycle: more hits, grouped again.
    hit("www.nasa.gov", 50, day + 1);
    hit("gate.example.fr", 1, day + 1);
    ASSERT_EQ(group_report_clients(*r, SettingsList{}), 0);
    EXPECT_EQ(req(r->domain, "Germany"), 2);
    EXPECT_EQ(req(r->domain, "France"), 1);
    EXPECT_EQ(req(r->domain, "US Government"), 2);
    EXPECT_EQ(req(r->region, region_name(kRegionEurope)), 3);
    EXPECT_EQ(r->domain->TotalReq(), 5);
    const int nasa = find(*r->government, "www.nasa.gov");
    ASSERT_GE(nasa, 0);
    EXPECT_EQ(r->government->Req(nasa), 2);
    EXPECT_EQ(r->government->TimeRecCount(nasa), 2);
    EXPECT_EQ(r->government->TotalReq(), 2);

    // Pruning drops the German client: grouped for good, it is not lost and not
    // counted twice by the groupings after it.
    auto kept = r->client->EmptyLike();
    ASSERT_TRUE(kept);
    for (int i = 0; i < r->client->Count(); ++i) {
        if (r->client->Name(i) == "host.example.de")
            group_dropped_client(*r, *r->client, i, SettingsList{});
        else
            kept->Merge(*r->client, i);
    }
    kept->CopyTotals(*r->client);
    r->client = std::move(kept);
    hit("host.example.de", 10, day + 2);  // back after it was dropped
    for (int cycle = 0; cycle < 2; ++cycle) {
        ASSERT_EQ(group_report_clients(*r, SettingsList{}), 0);
        EXPECT_EQ(req(r->domain, "Germany"), 3);
        EXPECT_EQ(req(r->domain, "France"), 1);
        EXPECT_EQ(req(r->region, region_name(kRegionEurope)), 4);
        EXPECT_EQ(r->domain->TotalReq(), 6);
        EXPECT_EQ(r->government->Req(find(*r->government, "www.nasa.gov")), 2);
    }
}

}  // namespace
}  // namespace tallowick::engine
