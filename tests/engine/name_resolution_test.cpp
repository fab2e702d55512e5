// Name look-ups of whole runs against a real DNS server (dnsmasq on 127.0.0.1),
// whose query log shows what the run asked.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "engine/clients.h"
#include "platform/folders.h"
#include "run_fixture.h"
#include "support/loopback_server.h"

namespace tallowick::engine {
namespace {

using test::CombinedLine;
using test::ReqOf;
using test::RunOnText;

const std::filesystem::path kDnsmasq = "/usr/sbin/dnsmasq";

// dnsmasq answering PTR queries from a hosts file, and nothing else: names it
// does not hold are "no such domain".
class DnsServer {
public:
    explicit DnsServer(const std::string& hosts) {
        tallowick::test::write_file(dir_ / "hosts", hosts);
        const std::uint16_t port = tallowick::test::free_port();
        std::vector<std::string> args = {
            "--no-resolv", "--no-hosts", "--addn-hosts=" + (dir_ / "hosts").string(),
            "--port=" + std::to_string(port), "--listen-address=127.0.0.1", "--bind-interfaces",
            "--keep-in-foreground", "--pid-file=", "--log-queries",
            "--log-facility=" + (dir_ / "queries.log").string(), "--local=/in-addr.arpa/",
            "--local=/ip6.arpa/"};
        if (geteuid() == 0) args.push_back("--user=root");
        server_ = std::make_unique<tallowick::test::LoopbackServer>(kDnsmasq, args, port);
    }
    ~DnsServer() {
        if (server_->pid() > 0) ::kill(server_->pid(), SIGCONT);
    }

    bool ready() const { return server_->ready(); }
    std::string address() const { return "127.0.0.1:" + std::to_string(server_->port()); }
    void Pause() { ::kill(server_->pid(), SIGSTOP); }

    // PTR queries received, all or for one reverse name.
    int Queries(std::string_view name = {}) const {
        const std::string log = tallowick::test::read_file(dir_ / "queries.log");
        const std::string key = "query[PTR] " + std::string(name);
        int n = 0;
        for (std::size_t at = log.find(key); at != std::string::npos; at = log.find(key, at + 1))
            ++n;
        return n;
    }

private:
    tallowick::test::TempDir dir_;
    std::unique_ptr<tallowick::test::LoopbackServer> server_;
};

std::filesystem::path CacheFile() { return platform::program_folder() / "dnscache.dat"; }

class NameResolutionRun : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(kDnsmasq)) GTEST_SKIP() << "no dnsmasq";
        std::filesystem::remove(CacheFile());
    }
    void TearDown() override { std::filesystem::remove(CacheFile()); }

    // A run with look-ups at `server`, grouping clients into countries.
    static void LookUpAt(RunOnText& t, const DnsServer& server, int mode = kDnsOn) {
        t.settings().analysis.dns_mode = static_cast<std::int16_t>(mode);
        t.settings().analysis.dns_server = server.address();
        t.settings().analysis.dns_wait = 5;
        t.hooks().group_clients = [](ReportStats& r) { return group_report_clients(r, {}); };
    }
};

std::string Hit(std::string_view client, long bytes = 100) {
    return CombinedLine(client, "10/Oct/2026:13:55:36 +0000", "GET /index.html HTTP/1.1", 200,
                        bytes);
}

TEST_F(NameResolutionRun, CacheAnswersFailuresAndOneQueryPerAddress) {
    DnsServer dns("203.0.113.5 host5.example.de\n"
                  "203.0.113.9 9.113.0.203.in-addr.arpa\n"
                  "2001:db8::5 v6.example.jp\n");
    ASSERT_TRUE(dns.ready());
    tallowick::test::write_file(CacheFile(), "# DNS Cache data file\n203.0.113.1,cached.example.fr\n");
    const std::string log = Hit("203.0.113.1") + Hit("203.0.113.5") + Hit("203.0.113.9") +
                            Hit("203.0.113.77") + Hit("203.0.113.5") + Hit("2001:db8::5") +
                            Hit("3com.example.org");

    for (int run = 0; run < 2; ++run) {
        RunOnText t;
        t.AddLog("access.log", log);
        LookUpAt(t, dns);
        t.Process();
        ASSERT_EQ(t.result(), 0);
        EXPECT_EQ(t.run().totals().accepted, 7) << "run " << run;
        const auto& clients = t.report().client;
        EXPECT_EQ(ReqOf(clients, "cached.example.fr"), 1);
        EXPECT_EQ(ReqOf(clients, "host5.example.de"), 2);  // both hits of one look-up
        EXPECT_EQ(ReqOf(clients, "203.0.113.9"), 1);       // a reverse name is no name
        EXPECT_EQ(ReqOf(clients, "203.0.113.77"), 1);      // not found
        EXPECT_EQ(ReqOf(clients, "v6.example.jp"), 1);
        EXPECT_EQ(ReqOf(clients, "3com.example.org"), 1);
        EXPECT_EQ(ReqOf(t.report().domain, "Germany"), 2);
        EXPECT_EQ(ReqOf(t.report().domain, "Japan"), 1);
        // The second run finds every answer, failures too, in the cache.
        EXPECT_EQ(dns.Queries(), 4) << "run " << run;
        EXPECT_EQ(dns.Queries("1.113.0.203.in-addr.arpa"), 0);
        EXPECT_EQ(dns.Queries("5.113.0.203.in-addr.arpa"), 1);
    }
    const std::string cache = tallowick::test::read_file(CacheFile());
    EXPECT_NE(cache.find("# total addresses = 5\n"), std::string::npos) << cache;
    for (std::string_view line : {"203.0.113.1,cached.example.fr\n", "203.0.113.5,host5.example.de\n",
                                  "203.0.113.9,203.0.113.9\n", "203.0.113.77,203.0.113.77\n",
                                  "2001:db8::5,v6.example.jp\n"})
        EXPECT_NE(cache.find(line), std::string::npos) << line;

    // Cache only: a new address stays as it is and is not asked for.
    RunOnText t;
    t.AddLog("access.log", Hit("203.0.113.5") + Hit("203.0.113.200"));
    LookUpAt(t, dns, kDnsCache);
    t.Process();
    EXPECT_EQ(ReqOf(t.report().client, "host5.example.de"), 1);
    EXPECT_EQ(ReqOf(t.report().client, "203.0.113.200"), 1);
    EXPECT_EQ(dns.Queries(), 4);
}

TEST_F(NameResolutionRun, TenThousandHitsFromAThousandAddressesCountOnceEach) {
    constexpr std::string_view kDomains[] = {"de", "fr", "jp", "br", "com"};
    constexpr std::string_view kCountries[] = {"Germany", "France", "Japan", "Brazil", "Commercial"};
    auto address = [](int i) {
        return "198.18." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
    };
    std::string hosts, log;
    for (int i = 0; i < 1000; ++i)
        hosts += address(i) + " h" + std::to_string(i) + ".example." + std::string(kDomains[i % 5]) + "\n";
    for (int k = 0; k < 10000; ++k) log += Hit(address(k % 1000), k % 97 + 1);
    DnsServer dns(hosts);
    ASSERT_TRUE(dns.ready());

    RunOnText plain;
    plain.AddLog("access.log", log);
    plain.Process();
    RunOnText named;
    named.AddLog("access.log", log);
    LookUpAt(named, dns);
    named.settings().analysis.dns_amount = 50;
    named.Process();
    ASSERT_EQ(named.result(), 0);

    EXPECT_EQ(named.run().totals().accepted, 10000);
    EXPECT_EQ(named.report().accepted_hits, plain.report().accepted_hits);
    EXPECT_EQ(named.report().client->TotalReq(), plain.report().client->TotalReq());
    EXPECT_DOUBLE_EQ(named.report().client->TotalBytes(), plain.report().client->TotalBytes());
    EXPECT_EQ(named.report().client->Count(), 1000);
    for (int i : {0, 1, 499, 999})
        EXPECT_EQ(ReqOf(named.report().client,
                        "h" + std::to_string(i) + ".example." + std::string(kDomains[i % 5])),
                  10);
    for (std::string_view country : kCountries)
        EXPECT_EQ(ReqOf(named.report().domain, country), 2000) << country;
    EXPECT_EQ(dns.Queries(), 1000);
}

TEST_F(NameResolutionRun, UnansweredLookUpsEndWithTheWaitAndCountUnderTheirAddresses) {
    DnsServer dns("203.0.113.20 never.example.de\n");
    ASSERT_TRUE(dns.ready());
    tallowick::test::write_file(CacheFile(), "203.0.113.5,host5.example.de\n");
    dns.Pause();

    test::RecordingSink sink;
    RunOnText t;
    t.AddLog("access.log", Hit("203.0.113.5") + Hit("203.0.113.20") + Hit("203.0.113.21") +
                               Hit("203.0.113.20") + Hit("203.0.113.5") + Hit("203.0.113.20"));
    LookUpAt(t, dns);
    t.settings().analysis.dns_wait = 1;
    const auto start = std::chrono::steady_clock::now();
    t.Process();
    ASSERT_EQ(t.result(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));

    EXPECT_TRUE(sink.said("Flushing Remainder...")) << ::testing::PrintToString(sink.statuses);
    EXPECT_TRUE(sink.said("Lines 6, DNR remaining 2, TTL 1"));
    EXPECT_EQ(t.run().totals().accepted, 6);
    EXPECT_EQ(ReqOf(t.report().client, "host5.example.de"), 2);
    EXPECT_EQ(ReqOf(t.report().client, "203.0.113.20"), 3);
    EXPECT_EQ(ReqOf(t.report().client, "203.0.113.21"), 1);
    // Nothing was learnt: the file stays as it was, and the next run asks again.
    EXPECT_EQ(tallowick::test::read_file(CacheFile()), "203.0.113.5,host5.example.de\n");
}

TEST_F(NameResolutionRun, ACacheThatCannotBeWrittenIsReported) {
    DnsServer dns("203.0.113.5 host5.example.de\n");
    ASSERT_TRUE(dns.ready());
    const std::string home = platform::program_folder().string();
    tallowick::test::TempDir dir;
    setenv("TALLOWICK_HOME", (dir / "gone").c_str(), 1);
    test::RecordingSink sink;
    RunOnText t;
    t.AddLog("access.log", Hit("203.0.113.5"));
    LookUpAt(t, dns);
    t.Process();
    setenv("TALLOWICK_HOME", home.c_str(), 1);
    EXPECT_EQ(ReqOf(t.report().client, "host5.example.de"), 1);
    ASSERT_EQ(sink.errors.size(), 1u);
    EXPECT_EQ(sink.errors[0].rfind("Couldn't write the DNS cache: ", 0), 0u) << sink.errors[0];
    EXPECT_NE(sink.errors[0].find("gone"), std::string::npos) << sink.errors[0];
}

}  // namespace
}  // namespace tallowick::engine
