// Hostile clients of the remote-control server, each bounded in count and time.
// After each, a well-behaved client must still be served and the host must not
// have grown without bound.
#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "host_fixture.h"

namespace tallowick::test {
namespace {

using namespace std::chrono_literals;

// A well-behaved client logs in and gets its answer.
void expect_served(const Host& host) {
    LineClient c(host.port);
    ASSERT_TRUE(c.log_in()) << c.received();
    c.send("ver\r\n");
    EXPECT_TRUE(c.read_until("Tallowick Version 3.61")) << c.received();
}

// What the host holds once a hostile client has gone, against what it held before.
struct Footprint {
    explicit Footprint(const Host& h) : host(h), rss_kb(h.rss_kb()), fds(h.open_fds()) {}
    ~Footprint() {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));   // the last closes
        expect_served(host);
        EXPECT_LT(host.rss_kb(), rss_kb + 32 * 1024);
        EXPECT_LE(host.open_fds(), fds + 1);
    }
    const Host& host;
    long rss_kb, fds;
};

TEST(HostileClients, AThousandConnectionsOpenedAndDropped) {
    auto host = start_host({});
    ASSERT_TRUE(host->server->ready());
    expect_served(*host);
    Footprint footprint(*host);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 1000; ++i) LineClient dropped(host->port);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
}

TEST(HostileClients, AMegabyteLineClosesOnlyThatConnection) {
    auto host = start_host({});
    ASSERT_TRUE(host->server->ready());
    Footprint footprint(*host);
    for (bool logged_in : {false, true}) {
        LineClient c(host->port);
        if (logged_in) {
            ASSERT_TRUE(c.log_in());
        }
        c.send(std::string(1024 * 1024, 'A'));   // may fail half-way once the server closes
        EXPECT_TRUE(c.read_until("Line too long")) << logged_in;
        EXPECT_TRUE(c.wait_closed());
    }
}

TEST(HostileClients, ASlowClientTimesOutWithoutBlockingOthers) {
    auto host = start_host({"-remotelogin_timeout", "2"});
    ASSERT_TRUE(host->server->ready());
    Footprint footprint(*host);
    LineClient slow(host->port);
    ASSERT_TRUE(slow.read_until("Login:"));
    const auto start = std::chrono::steady_clock::now();
    // One byte every 200 ms, never a line end: the login deadline does not move.
    bool closed = false;
    for (int i = 0; i < 25 && !closed; ++i) {
        closed = !slow.send("x");
        if (i == 2) expect_served(*host);
        closed = closed || slow.wait_closed(200ms);
    }
    EXPECT_TRUE(closed);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);
    EXPECT_NE(slow.received().find("Timed out"), std::string::npos) << slow.received();
}

TEST(HostileClients, WrongPasswordsMakeTheAddressWait) {
    auto host = start_host({"-remotelogin_wait", "2"});
    ASSERT_TRUE(host->server->ready());
    for (int i = 0; i < 3; ++i) {
        LineClient c(host->port);
        ASSERT_TRUE(c.read_until("Login:"));
        c.send("guess" + std::to_string(i) + "\r\n");
        EXPECT_TRUE(c.read_until("Login incorrect"));
    }
    {   // Even the right password waits now.
        LineClient c(host->port);
        EXPECT_TRUE(c.read_until("Too many wrong passwords"));
        EXPECT_TRUE(c.wait_closed());
    }
    std::this_thread::sleep_for(2100ms);
    expect_served(*host);
}

TEST(HostileClients, RunningProgramsIsRefusedUnlessAllowedAndOnlyInsideTheFolder) {
    TempDir programs;
    const auto marker = programs / "ran";
    write_file(programs / "touch.sh", "#!/bin/sh\necho yes > \"$1\"\n");
    std::filesystem::permissions(programs / "touch.sh", std::filesystem::perms::owner_all);
    {
        auto host = start_host({});
        ASSERT_TRUE(host->server->ready());
        LineClient c(host->port);
        ASSERT_TRUE(c.log_in());
        c.send("!" + (programs / "touch.sh").string() + " " + marker.string() + "\r\n");
        EXPECT_TRUE(c.read_until("not allowed"));
    }
    auto host = start_host({"-remote_programs", programs.path().string()});
    ASSERT_TRUE(host->server->ready());
    LineClient c(host->port);
    ASSERT_TRUE(c.log_in());
    c.send("!/bin/sh -c id\r\n!../../bin/sh\r\nver\r\n");
    ASSERT_TRUE(c.read_until("3.61"));
    const std::string& r = c.received();
    EXPECT_NE(r.find("not in the allowed folder"), r.rfind("not in the allowed folder")) << r;
    c.send("!touch.sh " + marker.string() + "\r\n");
    for (int i = 0; i < 50 && !std::filesystem::exists(marker); ++i)
        std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(std::filesystem::exists(marker));
}

TEST(HostileClients, BinaryGarbageIsHarmless) {
    auto host = start_host({});
    ASSERT_TRUE(host->server->ready());
    Footprint footprint(*host);
    std::mt19937 random(24);
    std::string garbage(64 * 1024, '\0');
    for (char& ch : garbage) ch = static_cast<char>(random());
    {   // Before login: a wrong password at the first line end.
        LineClient c(host->port);
        c.send(garbage);
        EXPECT_TRUE(c.wait_closed());
    }
    {
        LineClient c(host->port);
        ASSERT_TRUE(c.log_in());
        c.send(garbage + "\r\nver\r\n");
        EXPECT_TRUE(c.read_until("Tallowick Version 3.61")) << host->server->output();
    }
}

}  // namespace
}  // namespace tallowick::test
