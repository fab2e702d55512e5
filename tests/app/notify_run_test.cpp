// Whole runs of the program with notification rules: the matches of a real log
// against counts taken from its raw lines, shown on standard output; the notice
// through a real SMTP server.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "support/loopback_server.h"
#include "support/test_support.h"

namespace tallowick::app {
namespace {

namespace fs = std::filesystem;
using tallowick::test::read_file;
using tallowick::test::run_process;
using tallowick::test::tallowick_binary;
using tallowick::test::TempDir;

class NotifyRun : public ::testing::Test {
protected:
    void SetUp() override {
        const auto logs = tallowick::test::shared_logs_dir();
        const fs::path source = logs ? *logs / "combined/basjes_nl_2015-10_hackers_combined.log" : "";
        if (!logs || !fs::exists(source)) GTEST_SKIP() << "no real logs here";
        // Fourteen times the log: a few clients pass 1000 requests (the busiest
        // 2100, then 1036 and 1008), the next one stays at 672.
        const std::string text = read_file(source);
        std::string log;
        for (int i = 0; i < 14; ++i) log += text;
        tallowick::test::write_file(dir_ / "access.log", log);
        fs::create_directories(dir_ / "report");
        for (std::size_t at = 0; at < log.size();) {
            const std::size_t eol = log.find('\n', at);
            const std::string line = log.substr(at, eol - at);
            if (!line.empty()) ++raw_counts_[line.substr(0, line.find(' '))];
            at = eol == std::string::npos ? log.size() : eol + 1;
        }
    }
    std::vector<std::string> args(std::initializer_list<std::string> more) const {
        std::vector<std::string> a = {"-l", (dir_ / "access.log").string(), "-o",
                                      (dir_ / "report/index.html").string(), "-notifyrules",
                                      "Client Urls/Files >= 1000", "-notify_folder",
                                      (dir_ / "notes").string()};
        a.insert(a.end(), more);
        return a;
    }
    TempDir dir_;
    std::map<std::string, int> raw_counts_;
};

TEST_F(NotifyRun, ScreenListsEveryBusyClientOnceAndKeepsTheFileWithoutMatches) {
    const auto run = run_process(tallowick_binary(), args({"-notify_type", "1"}));
    ASSERT_EQ(run.exit_code, 0) << run.out << run.err;
    const std::string notes = read_file(dir_ / "notes/notify_msg.txt");
    std::set<std::string> expected, listed;
    for (const auto& [client, count] : raw_counts_)
        if (count >= 1000) expected.insert(client + " = '" + std::to_string(count) + "'");
    ASSERT_EQ(expected.size(), 3u);
    int lines = 0;
    for (std::size_t at = 0; at < notes.size(); at = notes.find('\n', at) + 1) {
        const std::string line = notes.substr(at, notes.find('\n', at) - at);
        ++lines;
        // "MM/DD/YYYY HH:MM:SS : (client) Client->Urls/Files = 'n' last MM/DD/YYYY HH:MM:SS"
        ASSERT_EQ(line.substr(19, 4), " : (") << line;
        const std::size_t close = line.find(") Client->Urls/Files = '");
        ASSERT_NE(close, std::string::npos) << line;
        const std::size_t value_end = line.find('\'', close + 24);
        listed.insert(line.substr(23, close - 23) + " = '" + line.substr(close + 24, value_end - close - 24) + "'");
        EXPECT_EQ(line.size(), value_end + 7 + 19) << line;
    }
    EXPECT_EQ(lines, 3);
    EXPECT_EQ(listed, expected);
    // The Screen action prints the lines after the run.
    EXPECT_NE(run.out.find(notes), std::string::npos) << run.out;

    // A run without a match leaves the file as it was.
    auto quiet = args({"-notify_type", "1"});
    quiet[5] = "Client Urls/Files >= 5000";
    ASSERT_EQ(run_process(tallowick_binary(), quiet).exit_code, 0);
    EXPECT_EQ(read_file(dir_ / "notes/notify_msg.txt"), notes);
}

TEST_F(NotifyRun, EmailActionSendsOneNotice) {
    auto smtp = tallowick::test::start_smtp_server(dir_ / "mail");
    fs::create_directories(dir_ / "mail");
    ASSERT_TRUE(smtp->ready()) << smtp->output();
    const auto run = run_process(
        tallowick_binary(),
        args({"-notify_type", "2", "-notify_dest",
              "mailto:ops@example.org,127.0.0.1:" + std::to_string(smtp->port())}));
    ASSERT_EQ(run.exit_code, 0) << run.out << run.err;
    ASSERT_TRUE(fs::exists(dir_ / "mail/1.eml")) << run.out << smtp->output();
    EXPECT_FALSE(fs::exists(dir_ / "mail/2.eml"));
    const std::string mail = read_file(dir_ / "mail/1.eml");
    EXPECT_NE(mail.find("SUBJECT: Tallowick Notification\r\n"), std::string::npos) << mail;
    EXPECT_NE(read_file(dir_ / "mail/1.env").find("ops@example.org"), std::string::npos);
    EXPECT_TRUE(fs::exists(dir_ / "notes/notify_msg.txt"));
}

}  // namespace
}  // namespace tallowick::app
