// The remote-control protocol against the real executable in host mode.
#include <gtest/gtest.h>

#include <signal.h>

#include <ctime>
#include <sstream>
#include <thread>

#include "host_fixture.h"
#include "unattended/remote_client.h"

namespace tallowick::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A real log when the shared logs are here, else the generated sample.
std::optional<fs::path> real_log() {
    if (auto dir = shared_logs_dir()) {
        fs::path log = *dir / "combined" / "basjes_nl_2015-10_hackers_combined.log";
        if (fs::exists(log)) return log;
    }
    return tallowick::test::sample_log();
}

TEST(RemoteControl, LoginIsExactAndSurvivesSplitAndJoinedReads) {
    auto host = start_host({});
    ASSERT_TRUE(host->server->ready()) << host->server->output();

    {   // "logout" works before login.
        LineClient c(host->port);
        ASSERT_TRUE(c.read_until("Login:"));
        EXPECT_EQ(c.received(), "Welcome 127.0.0.1 to Tallowick 3.1 [Linux] \r\nLogin:");
        c.send("LOGOUT now\r\n");
        EXPECT_TRUE(c.read_until("Bye!\r\n"));
        EXPECT_TRUE(c.wait_closed());
    }
    // Neither other letter case nor extra characters after the password get in.
    for (const std::string& wrong : {std::string("SEKRET-42"), std::string(kPassword) + "xyz"}) {
        LineClient c(host->port);
        ASSERT_TRUE(c.read_until("Login:"));
        c.send(wrong + "\r\n");
        EXPECT_TRUE(c.read_until("Login incorrect\r\n")) << wrong;
        EXPECT_TRUE(c.wait_closed()) << wrong;
    }

    LineClient c(host->port);
    ASSERT_TRUE(c.read_until("Login:"));
    // The password in two reads: nothing happens until the line end arrives.
    c.send(std::string(kPassword).substr(0, 4));
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(c.read_until("Granted", 100ms));
    c.send(std::string(kPassword).substr(4) + "\r\n");
    ASSERT_TRUE(c.read_until("Granted!\r\n"));

    // Several commands in one read are answered in order; "verbose" is "ver".
    c.forget();
    c.send("verbose\r\nhost\r\nlog /tmp/a.log\r\nshowlogs\r\n?\r\n");
    ASSERT_TRUE(c.read_until("logout      exit session\r\n\r\n"));
    const std::string& r = c.received();
    const auto ver = r.find("Tallowick Version 3.61 (Linux)\r\n\r\n");
    const auto peer = r.find("Peer is 127.0.0.1\r\n\r\n");
    const auto log = r.find("addlog /tmp/a.log\r\n");
    const auto list = r.find("help        settings command list\r\n");
    EXPECT_EQ(ver, 0u) << r;
    EXPECT_LT(ver, peer);
    EXPECT_LT(peer, log);
    EXPECT_LT(log, list);

    // A second client is turned away while the first is in control.
    LineClient second(host->port);
    EXPECT_TRUE(second.read_until("busy"));
    EXPECT_TRUE(second.wait_closed());
    c.forget();
    c.send("clearlog\r\nshowlogs\r\nver\r\n");
    ASSERT_TRUE(c.read_until("3.61"));
    EXPECT_EQ(c.received().find("addlog"), std::string::npos) << c.received();
}

TEST(RemoteControl, ProclogReportsProgressToTheClientUpToAHundredPercent) {
    auto log = real_log();
    if (!log) GTEST_SKIP() << "real logs not available";
    auto host = start_host({});
    ASSERT_TRUE(host->server->ready()) << host->server->output();
    LineClient c(host->port);
    ASSERT_TRUE(c.log_in());
    c.send("log " + log->string() + "\r\nproclog\r\n");
    ASSERT_TRUE(c.read_until("Report Completed.", 60s)) << c.received();
    EXPECT_NE(c.received().find("Processing...\r\n"), std::string::npos);

    // Every line of the run is a status line; the last before the end says 100%.
    std::vector<std::string> status;
    std::istringstream lines(c.received());
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("status ", 0) == 0) status.push_back(line);
    ASSERT_GT(status.size(), 5u) << c.received();
    EXPECT_NE(status.back().find("Report Completed."), std::string::npos);
    EXPECT_EQ(status[status.size() - 2].rfind("status 100% ", 0), 0u) << status[status.size() - 2];
    EXPECT_TRUE(fs::exists(host->report() / "index.html"));

    // While a run is active a second proclog is refused, and after it a new one starts.
    c.forget();
    c.send("proclog\r\nproclog\r\n");
    ASSERT_TRUE(c.read_until("Busy processing", 10s)) << c.received();
    ASSERT_TRUE(c.read_until("Report Completed.", 60s));
}

// The client options of one copy drive another: settings read from copy A
// with "getconfig" and sent to copy B as a settings file make B's settings
// equal to A's; then B processes a log on command.
TEST(RemoteControl, ClientOptionsMirrorSettingsAndDriveARun) {
    auto a = start_host({"-filterurl", "!/images/*", "-sort", "byte", "+stat", "monthly",
                         "-orgmap", "*.edu*=Schools", "-sessiontime", "25"});
    auto b = start_host({});
    ASSERT_TRUE(a->server->ready() && b->server->ready()) << a->server->output();

    auto client = [](const Host& h, std::vector<std::string> args) {
        std::vector<std::string> all{"-connect", "127.0.0.1:" + std::to_string(h.port),
                                     "-remotelogin_pass", kPassword};
        all.insert(all.end(), args.begin(), args.end());
        return run_process(tallowick_binary(), all);
    };
    auto settings_of = [](const std::string& out) {
        const auto start = out.find("#Tal"), end = out.find("#END");
        return start == std::string::npos || end == std::string::npos
                   ? std::string()
                   : out.substr(start, end + 4 - start);
    };

    const ProcessResult from_a = client(*a, {"-send", "getconfig"});
    ASSERT_EQ(from_a.exit_code, 0) << from_a.out << from_a.err;
    const std::string config_a = settings_of(from_a.out);
    ASSERT_NE(config_a.find("filterurl !/images/*"), std::string::npos) << from_a.out;

    TempDir tmp;
    write_file(tmp / "a.tkp", config_a + "\n");
    const ProcessResult send = client(*b, {"-sendfile", (tmp / "a.tkp").string()});
    ASSERT_EQ(send.exit_code, 0) << send.out << send.err;
    const ProcessResult from_b = client(*b, {"-send", "getconfig"});
    EXPECT_EQ(settings_of(from_b.out), config_a);

    auto log = real_log();
    if (!log) return;
    const std::string out = (b->report() / "index.html").string();
    const ProcessResult run = client(*b, {"-send", "out " + out, "-send", "log " + log->string(),
                                          "-send", "proclog"});
    EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("status 100%"), std::string::npos) << run.out;
    EXPECT_TRUE(fs::exists(out));

    const ProcessResult wrong = run_process(
        tallowick_binary(), {"-connect", "127.0.0.1:" + std::to_string(b->port),
                             "-remotelogin_pass", "nope", "-send", "ver"});
    EXPECT_NE(wrong.exit_code, 0);
    EXPECT_NE(wrong.err.find("password is incorrect for login"), std::string::npos) << wrong.err;
}

TEST(RemoteControl, ConnectAddresses) {
    struct Case {
        std::string_view text;
        std::string host;
        int port;   // -1: refused
    };
    for (const Case& c : std::initializer_list<Case>{
             {"stats.example", "stats.example", 911}, {"10.0.0.1:2911", "10.0.0.1", 2911},
             {"[::1]:99", "::1", 99},                 {"::1", "::1", 911},
             {"host:", "", -1},                       {"host:65536", "", -1},
             {"host:12x", "", -1},                    {":911", "", -1}}) {
        const auto session = unattended::parse_remote_address(c.text, 911);
        ASSERT_EQ(session.has_value(), c.port >= 0) << c.text;
        if (!session) continue;
        EXPECT_EQ(session->host, c.host) << c.text;
        EXPECT_EQ(session->port, c.port) << c.text;
    }
}

TEST(RemoteControl, NoPasswordNoServer) {
    TempDir dir;
    const ProcessResult r = run_process(
        tallowick_binary(), {"-server", "-remotelogin_port", std::to_string(free_port()), "-o",
                             (dir / "index.html").string()});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_NE((r.out + r.err).find("needs a password"), std::string::npos) << r.out << r.err;
}

// The host ticks the schedule: a job due two seconds after the host starts runs,
// and the start page lists it.
TEST(RemoteControl, TheHostRunsDueScheduledJobsAndShowsThem) {
    auto log = real_log();
    if (!log) GTEST_SKIP() << "real logs not available";
    TempDir dir;
    const fs::path report = dir / "scheduled.html";
    write_file(dir / "job.tkp", "#Tallowick settings\nout " + report.string() + "\n");
    const std::time_t soon = std::time(nullptr) + 2;
    std::tm local{};
    localtime_r(&soon, &local);
    char date[16], time[16];
    std::strftime(date, sizeof date, "%Y-%m-%d", &local);
    std::strftime(time, sizeof time, "%H:%M:%S", &local);
    const ProcessResult add = run_process(
        tallowick_binary(), {"-schedule", "add", log->string(), (dir / "job.tkp").string(),
                             "start", date, time, "on"});
    ASSERT_EQ(add.exit_code, 0) << add.out << add.err;

    auto host = start_host({}, true);
    ASSERT_TRUE(host->server->ready()) << host->server->output();
    for (int i = 0; i < 100 && !fs::exists(report); ++i) std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(fs::exists(report)) << host->server->output();
    const ProcessResult page = run_process(
        "/usr/bin/curl", {"-s", "http://127.0.0.1:" + std::to_string(host->http_port) + "/"});
    EXPECT_NE(page.out.find("1. next "), std::string::npos) << page.out;
    EXPECT_NE(page.out.find("job.tkp"), std::string::npos) << page.out;
}

bool port_closes(std::uint16_t port) {
    for (int i = 0; i < 100; ++i) {
        if (!wait_for_port(port, 10ms)) return true;
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

TEST(RemoteControl, QuitappAndSigtermEndTheHost) {
    auto host = start_host({});
    ASSERT_TRUE(host->server->ready());
    LineClient c(host->port);
    ASSERT_TRUE(c.log_in());
    c.send("quitapp\r\n");
    EXPECT_TRUE(c.read_until("Quit...\r\n"));
    EXPECT_TRUE(c.wait_closed());
    EXPECT_TRUE(port_closes(host->port));

    auto other = start_host({});
    ASSERT_TRUE(other->server->ready());
    ::kill(other->server->pid(), SIGTERM);
    EXPECT_TRUE(port_closes(other->port));
}

}  // namespace
}  // namespace tallowick::test
