// Uploads to a real FTP server (pyftpdlib) on 127.0.0.1: byte for byte, each
// remote folder made once, and the report kept whenever an upload fails.
#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "delivery/post_processing.h"
#include "delivery_fixture.h"
#include "support/loopback_server.h"
#include "support/test_support.h"

namespace tallowick::delivery {
namespace {

namespace fs = std::filesystem;
using tallowick::test::read_file;
using tallowick::test::TempDir;
using tallowick::test::write_file;

std::string binary_bytes(std::size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(rng());
    return bytes;
}

int occurrences(const std::string& text, const std::string& word) {
    int n = 0;
    for (auto p = text.find(word); p != std::string::npos; p = text.find(word, p + 1)) ++n;
    return n;
}

class FtpReport : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(local_ / "sub");
        fs::create_directories(served_ / "stats");
        const std::pair<const char*, std::size_t> files[] = {
            {"index.html", 3000}, {"sub/a.gif", 70000}, {"sub/b.png", 5000}, {"sub/c.html", 0}};
        unsigned seed = 1;
        for (const auto& [name, size] : files) {
            write_file(local_ / name, binary_bytes(size, seed++));
            files_.push_back(local_ / name);
        }
        post_.sendto = post_.delete_report = true;
        job_.post = &post_;
        job_.report_path = local_ / "index.html";
        job_.created = files_;
    }
    std::string location(const std::string& account) const {
        return "ftp://" + account + "127.0.0.1:" + std::to_string(server_->port()) + "/stats/";
    }

    TempDir local_, served_;
    std::vector<fs::path> files_;
    std::unique_ptr<tallowick::test::LoopbackServer> server_;
    PostSettings post_;
    PostJob job_;
};

TEST_F(FtpReport, UploadsByteForByteAndMakesEachFolderOnce) {
    server_ = tallowick::test::start_upload_ftp_server(served_.path(), "putter", "pa55");
    ASSERT_TRUE(server_->ready()) << server_->output();
    post_.postproclocation = location("putter:pa55@");
    std::vector<std::string> bytes;
    for (const auto& f : files_) bytes.push_back(read_file(f));

    test::StatusRecorder sink;
    ASSERT_TRUE(postprocess_run(job_).ok()) << sink.all() << server_->output();
    EXPECT_TRUE(sink.errors.empty());
    const char* names[] = {"index.html", "sub/a.gif", "sub/b.png", "sub/c.html"};
    for (std::size_t i = 0; i < files_.size(); ++i) {
        EXPECT_EQ(read_file(served_ / "stats" / names[i]), bytes[i]) << names[i];
        EXPECT_FALSE(fs::exists(files_[i])) << "deleted once it arrived: " << names[i];
    }
    EXPECT_EQ(occurrences(server_->output(), "MKD "), 1) << server_->output();
    EXPECT_EQ(sink.times_said("Making dir /stats/sub..."), 1) << sink.all();
    EXPECT_TRUE(sink.said("Ftping putter@127.0.0.1:" + std::to_string(server_->port()) + "/stats/"));
}

TEST_F(FtpReport, RefusedAccountsKeepTheReport) {
    server_ = tallowick::test::start_upload_ftp_server(served_.path(), "putter", "pa55");
    ASSERT_TRUE(server_->ready()) << server_->output();
    {
        post_.postproclocation = location("putter:wrongword@");
        test::StatusRecorder sink;
        EXPECT_FALSE(postprocess_run(job_).ok());
        ASSERT_EQ(sink.errors.size(), 1u) << sink.all();
        EXPECT_EQ(sink.errors[0].find("Error connecting to (putter@127.0.0.1:"), 0u) << sink.errors[0];
        EXPECT_EQ(sink.all().find("wrongword"), std::string::npos) << "no password in messages";
    }
    {
        // Anonymous users may only read: the first refused file ends the upload.
        post_.postproclocation = location("");
        test::StatusRecorder sink;
        EXPECT_FALSE(postprocess_run(job_).ok());
        ASSERT_EQ(sink.errors.size(), 1u) << sink.all();
        EXPECT_NE(sink.errors[0].find("Can't write to ftp file (/stats/index.html)"), std::string::npos)
            << sink.errors[0];
    }
    EXPECT_TRUE(test::all_exist(files_));
    EXPECT_FALSE(fs::exists(served_ / "stats/index.html"));
}

TEST_F(FtpReport, ServerStoppedMidUploadKeepsTheReport) {
    server_ = tallowick::test::start_upload_ftp_server(served_.path(), "putter", "pa55", true);
    ASSERT_TRUE(server_->ready()) << server_->output();
    post_.postproclocation = location("putter:pa55@");
    write_file(files_[0], binary_bytes(1 << 20, 9));   // 16 seconds at the server's pace
    // Stopped once the first bytes have arrived.
    std::thread stopper([this] {
        const fs::path arriving = served_ / "stats/index.html";
        std::error_code ec;
        for (int i = 0; i < 500 && !(fs::exists(arriving) && fs::file_size(arriving, ec) > 0); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        server_.reset();
    });
    test::StatusRecorder sink;
    const auto start = std::chrono::steady_clock::now();
    const PostResult result = postprocess_run(job_);
    stopper.join();
    EXPECT_FALSE(result.ok());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    ASSERT_EQ(sink.errors.size(), 1u) << sink.all();
    EXPECT_NE(sink.errors[0].find("/stats/index.html"), std::string::npos) << sink.errors[0];
    EXPECT_TRUE(test::all_exist(files_));
}

}  // namespace
}  // namespace tallowick::delivery
