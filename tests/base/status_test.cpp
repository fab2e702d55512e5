#include "base/status.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace tallowick {
namespace {

struct RecordingSink : StatusSink {
    std::vector<std::string> statuses, errors, progresses;
    void status(std::string_view t) override { statuses.emplace_back(t); }
    void error(std::string_view t) override { errors.emplace_back(t); }
    void progress(int percent, std::string_view text, std::string_view left) override {
        progresses.push_back(std::to_string(percent) + "|" + std::string(text) + "|" +
                           std::string(left));
    }
};

class StatusTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = set_status_sink(&sink_);
        ReportProgress(-1, false, {}, 0);
    }
    void TearDown() override { set_status_sink(previous_); }
    RecordingSink sink_;
    StatusSink* previous_ = nullptr;
};

TEST(StatusText, ThousandsSeparators) {
    const std::pair<std::uint64_t, const char*> cases[] = {
        {0, "0"}, {999, "999"}, {1000, "1,000"}, {12345, "12,345"},
        {1234567, "1,234,567"}, {100000000, "100,000,000"},
    };
    for (auto [n, text] : cases) EXPECT_EQ(with_thousands(n), text) << n;
}

TEST(StatusText, TimeLeftUsesSecondsUnderTwoMinutesAndMinutesAbove) {
    EXPECT_EQ(time_left_text(30, 25), "      90 sec left");
    EXPECT_EQ(time_left_text(60, 25), "     3:00 left");
    EXPECT_EQ(time_left_text(3, 50), "       3 sec left");
    // Minutes wrap at the hour, as the status field has room for mm:ss only.
    EXPECT_EQ(time_left_text(3700, 50), "     1:40 left");
    EXPECT_EQ(time_left_text(10, 100), "");   // nothing left: nothing shown
    EXPECT_EQ(time_left_text(10, 0), "");
}

TEST_F(StatusTest, ProgressAnnouncesTheReportOnceAndSkipsRepeatedPercentages) {
    set_progress_lines(1234567, "access.log");
    ReportProgress(10, false, {}, 0);
    ReportProgress(10, false, {}, 0);       // same percentage: nothing
    ReportProgress(10, true, "forced", 0);  // unless forced
    ReportProgress(20, false, {}, 0);
    ASSERT_FALSE(sink_.statuses.empty());
    EXPECT_EQ(sink_.statuses.front(), "Generating Report...Please Wait...");
    ASSERT_EQ(sink_.progresses.size(), 3u);
    EXPECT_EQ(sink_.progresses[0], "10|1,234,567 lines processed... access.log|");
    EXPECT_EQ(sink_.progresses[1], "10|forced|");
    EXPECT_EQ(sink_.progresses[2], "20|1,234,567 lines processed... access.log|");

    // After a reset the announcement comes again.
    ReportProgress(-1, false, {}, 0);
    sink_.statuses.clear();
    ReportProgress(20, false, "x", 0);
    EXPECT_EQ(sink_.statuses.front(), "Generating Report...Please Wait...");
}

TEST_F(StatusTest, ProgressEstimatesTimeLeftFromTheStart) {
    ReportProgress(25, false, "reading", now_seconds() - 30.0);
    ASSERT_EQ(sink_.progresses.size(), 1u);
    // 30 s for a quarter: about 90 s to go (the clock may have moved a little).
    EXPECT_NE(sink_.progresses[0].find("sec left"), std::string::npos) << sink_.progresses[0];
    EXPECT_NE(sink_.progresses[0].find("  9"), std::string::npos) << sink_.progresses[0];
}

TEST_F(StatusTest, ErrorsGoToStderrInCommandLineModeAndAreCounted) {
    // Standard output is left to the summary line and the report's path.
    process_mode().command_line = true;
    reset_error_count();
    testing::internal::CaptureStderr();
    ShowError("Cannot open log file 'x.log'\n");
    ShowError("");   // empty: nothing at all
    ShowWarning("VDsortby has no effect yet");   // said, not counted
    std::string out = testing::internal::GetCapturedStderr();
    process_mode().command_line = false;
    EXPECT_EQ(out, "Cannot open log file 'x.log'\nWarning: VDsortby has no effect yet\n");
    EXPECT_EQ(error_count(), 1);
    ASSERT_EQ(sink_.errors.size(), 1u);
}

TEST_F(StatusTest, ServiceModeAppendsErrorsToTheScheduleTranscript) {
    test::TempDir dir;
    process_mode().service = true;
    process_mode().service_log = (dir / "schedlog.txt").string();
    ShowError("cannot reach server");
    process_mode().service = false;
    std::string log = test::read_file(dir / "schedlog.txt");
    EXPECT_NE(log.find(":    cannot reach server\n"), std::string::npos) << log;
}

TEST_F(StatusTest, OutOfMemoryNamesTheNeedAndRaisesTheFlag) {
    process_mode().command_line = true;
    clear_out_of_memory();
    testing::internal::CaptureStderr();
    OutOfMemory("file list", 4096);
    OutOfMemory("", 0);
    std::string out = testing::internal::GetCapturedStderr();
    process_mode().command_line = false;
    EXPECT_EQ(out, "file list, needed 4096\nNot enough memory!!!\n");
    EXPECT_TRUE(out_of_memory());
    clear_out_of_memory();
}

TEST(MessageLog, LineForms) {
    std::tm tm{};
    tm.tm_hour = 9; tm.tm_min = 5; tm.tm_sec = 7; tm.tm_mday = 3; tm.tm_mon = 1;
    EXPECT_EQ(message_log_line(tm, "started", 0, false), "09:05:07 3/2 :    started\n");
    EXPECT_EQ(message_log_line(tm, "failed", 12, false), "09:05:07 3/2 - err=(12):    failed\n");
    EXPECT_EQ(message_log_line(tm, "tick", -1, false), "09:05:07 3/2 - NTSERVICE:    tick\n");
    EXPECT_EQ(message_log_line(tm, "x", 5, true), "09:05:07 3/2 - NTSERVICE:    x\n");
}

TEST(MessageLog, AppendsAndKeepsTheServiceFormOnceUsed) {
    test::TempDir dir;
    std::string path = (dir / "messages.txt").string();
    AppendMessageLog(path, "first", 0);
    AppendMessageLog(path, "service", -1);
    AppendMessageLog(path, "after", 0);
    std::string log = test::read_file(path);
    EXPECT_NE(log.find(" :    first\n"), std::string::npos) << log;
    EXPECT_NE(log.find(" - NTSERVICE:    service\n"), std::string::npos) << log;
    EXPECT_NE(log.find(" - NTSERVICE:    after\n"), std::string::npos) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 3);
}

TEST(MessageLog, UnwritablePathIsIgnored) {
    AppendMessageLog("/nonexistent-folder/x/messages.txt", "lost", 0);   // must not throw
    EXPECT_FALSE(std::filesystem::exists("/nonexistent-folder/x/messages.txt"));
}

}  // namespace
}  // namespace tallowick
