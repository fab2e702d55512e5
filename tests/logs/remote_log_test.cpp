// Remote logs read from real servers on 127.0.0.1: python's HTTP server and a
// pyftpdlib FTP server, started for each test and stopped by the fixture.
#include <gtest/gtest.h>

#include <random>

#include "logs/log_source.h"
#include "logs/reader_helpers.h"
#include "support/loopback_server.h"
#include "support/test_support.h"

namespace tallowick::logs {
namespace {

using tallowick::test::TempDir;
using tallowick::test::write_file;
using namespace tallowick::logs::test;

// Enough text for many network blocks, with CR LF lines mixed in.
std::string sample_log() {
    std::mt19937 rng(11);
    std::string text;
    for (int i = 0; i < 20000; ++i) {
        text += "10.0." + std::to_string(rng() % 256) + "." + std::to_string(i % 256) +
                " - - [10/Oct/2000:13:55:36 -0700] \"GET /page" + std::to_string(rng() % 1000) +
                ".html HTTP/1.0\" 200 " + std::to_string(rng() % 100000);
        text += (i % 7 == 0) ? "\r\n" : "\n";
    }
    return text;
}

class RemoteLog : public ::testing::Test {
protected:
    void SetUp() override {
        text_ = sample_log();
        write_file(dir_ / "access.log", text_);
        write_gzip(dir_ / "access.log.gz", text_);
    }
    TempDir dir_;
    std::string text_;
};

TEST_F(RemoteLog, ReadsPlainAndGzipLogsOverHttp) {
    auto server = tallowick::test::start_http_server(dir_.path());
    ASSERT_TRUE(server->ready()) << server->output();
    const std::string base = "http://127.0.0.1:" + std::to_string(server->port());
    RecordingSink sink;

    ReadResult plain = read_log(base + "/access.log");
    ASSERT_TRUE(plain.opened);
    EXPECT_FALSE(plain.failed);
    EXPECT_EQ(plain.lines, expected_lines(text_));
    EXPECT_EQ(plain.bytes_read, text_.size());
    EXPECT_NE(std::find(sink.statuses.begin(), sink.statuses.end(), "Downloading log /access.log"),
              sink.statuses.end());

    // The server sends the gzip file as it is stored; the reader unpacks it.
    ReadResult packed = read_log(base + "/access.log.gz");
    ASSERT_TRUE(packed.opened);
    EXPECT_FALSE(packed.failed);
    EXPECT_EQ(packed.lines, expected_lines(text_));
    EXPECT_TRUE(sink.errors.empty()) << sink.errors.front();

    // Cut short half-way: the lines before the cut, then the failure reported.
    const std::string whole = tallowick::test::read_file(dir_ / "access.log.gz");
    write_file(dir_ / "cut.log.gz", whole.substr(0, whole.size() / 2));
    ReadResult cut = read_log(base + "/cut.log.gz");
    ASSERT_TRUE(cut.opened);
    EXPECT_TRUE(cut.failed);
    const auto all = expected_lines(text_);
    ASSERT_GT(cut.lines.size(), all.size() / 4);
    ASSERT_LT(cut.lines.size(), all.size());
    for (std::size_t i = 0; i + 1 < cut.lines.size(); ++i) ASSERT_EQ(cut.lines[i], all[i]) << i;
    ASSERT_EQ(sink.errors.size(), 1u);
    EXPECT_NE(sink.errors[0].find(base + "/cut.log.gz"), std::string::npos) << sink.errors[0];
    EXPECT_NE(std::find(sink.statuses.begin(), sink.statuses.end(), "failed reading bytes..."),
              sink.statuses.end());
}

TEST_F(RemoteLog, MissingRemoteFileIsAClearError) {
    auto server = tallowick::test::start_http_server(dir_.path());
    ASSERT_TRUE(server->ready()) << server->output();
    RecordingSink sink;
    const std::string url = "http://127.0.0.1:" + std::to_string(server->port()) + "/absent.log";
    EXPECT_FALSE(OpenLog(url));
    ASSERT_EQ(sink.errors.size(), 1u);
    EXPECT_NE(sink.errors[0].find("Cannot open log file '" + url + "'"), std::string::npos) << sink.errors[0];
    EXPECT_NE(sink.errors[0].find("404"), std::string::npos) << sink.errors[0];
}

TEST_F(RemoteLog, ReadsOverFtpWithPasswordAndAnonymously) {
    auto server = tallowick::test::start_ftp_server(dir_.path(), "loguser", "s3cret");
    ASSERT_TRUE(server->ready()) << server->output();
    const std::string host = "127.0.0.1:" + std::to_string(server->port());
    RecordingSink sink;

    ReadResult with_user = read_log("ftp://loguser:s3cret@" + host + "/access.log");
    ASSERT_TRUE(with_user.opened) << (sink.errors.empty() ? "" : sink.errors.front());
    EXPECT_FALSE(with_user.failed);
    EXPECT_EQ(with_user.lines, expected_lines(text_));

    ReadResult anonymous = read_log("ftp://" + host + "/access.log");
    ASSERT_TRUE(anonymous.opened);
    EXPECT_EQ(anonymous.lines, with_user.lines);

    EXPECT_TRUE(sink.errors.empty());
    RecordingSink failures;
    EXPECT_FALSE(OpenLog("ftp://loguser:wrong@" + host + "/access.log"));
    ASSERT_EQ(failures.errors.size(), 1u);
    EXPECT_EQ(failures.errors[0].find("wrong"), std::string::npos) << "no password in messages";
}

}  // namespace
}  // namespace tallowick::logs
