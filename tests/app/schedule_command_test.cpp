// Editing the schedule from the command line, through the real executable.
#include "app/schedule_command.h"

#include <gtest/gtest.h>

#include "base/julian_date.h"
#include "platform/folders.h"
#include "support/test_support.h"
#include "unattended/schedule_file.h"

namespace tallowick::app {
namespace {

test::ProcessResult schedule(std::vector<std::string> args) {
    args.insert(args.begin(), "-schedule");
    return test::run_process(test::tallowick_binary(), args);
}

unattended::ScheduleList saved() {
    unattended::ScheduleList list;
    unattended::readSchedule(platform::program_folder() / "def_sched.txt", list);
    return list;
}

TEST(ScheduleCommand, AddEnableDisableAndRemoveJobs) {
    EXPECT_EQ(schedule({"list"}).out, "The schedule has no jobs.\n");
    auto added = schedule({"add", "/logs/a.log, b.log", "site.tkp", "start", "2027-03-31", "06:30",
                           "every", "1", "months", "sendto", "ftp://host/reports/", "on"});
    ASSERT_EQ(added.exit_code, 0) << added.err;
    EXPECT_EQ(schedule({"add", "c.log", "other.tkp"}).exit_code, 0);

    auto list = saved();
    ASSERT_EQ(list.count(), 2);
    const unattended::ScheduleEntry& a = *list.get(1);
    EXPECT_TRUE(a.enabled);
    EXPECT_FALSE(list.get(2)->enabled);
    // Local names are made absolute, because the service works in the program folder.
    const std::string cwd = std::filesystem::current_path().string();
    EXPECT_EQ(a.logs, "/logs/a.log," + cwd + "/b.log");
    EXPECT_EQ(a.settings_file, cwd + "/site.tkp");
    EXPECT_EQ(a.repeat_count, 1);
    EXPECT_EQ(a.repeat_unit, unattended::kMonths);
    EXPECT_EQ(unattended::schedule_date_text(a.start), "31/03/2027 06:30:00");
    EXPECT_EQ(a.upload, "ftp://host/reports/");
    EXPECT_NE(schedule({"list"}).out.find("1 On  every 1 months, start 31/03/2027 06:30:00"),
              std::string::npos);

    EXPECT_EQ(schedule({"off", "1"}).exit_code, 0);
    EXPECT_EQ(schedule({"on", "2"}).exit_code, 0);
    EXPECT_FALSE(saved().get(1)->enabled);
    EXPECT_TRUE(saved().get(2)->enabled);
    EXPECT_EQ(schedule({"remove", "1"}).exit_code, 0);
    ASSERT_EQ(saved().count(), 1);
    EXPECT_EQ(saved().get(1)->settings_file, cwd + "/other.tkp");

    // Bad requests change nothing.
    for (std::vector<std::string> bad :
         {std::vector<std::string>{"on", "5"}, {"remove", "x"}, {"add", "only-logs"},
          {"add", "a.log", "s.tkp", "every", "0", "days"}, {"add", "a.log", "s.tkp", "every", "2", "weeks"},
          {"add", "a.log", "s.tkp", "start", "2027-13-01"}, {"frobnicate"}}) {
        auto r = schedule(bad);
        EXPECT_EQ(r.exit_code, 2) << bad[0];
        EXPECT_FALSE(r.err.empty());
    }
    EXPECT_EQ(saved().count(), 1);
    EXPECT_EQ(schedule({"remove", "0"}).exit_code, 0);
    EXPECT_EQ(saved().count(), 0);
}

TEST(ScheduleCommand, CheckScheduleRunsADueJobAndKeepsTheNextRuns) {
    auto logs = test::shared_logs_dir();
    test::TempDir dir;
    test::write_file(dir / "job.tkp", "#Tallowick3.6 preferences file\nout " +
                                          (dir / "report/index.html").string() + "\n");
    unattended::ScheduleList list;
    unattended::ScheduleEntry& due = list.create(JulianNow() - 2.5);
    due.enabled = true;
    due.next = JulianNow() - 60 / 86400.0;
    due.logs = (logs ? *logs / "combined/awstats_testsmall_2001_3lines.log" : test::sample_log())
                   .string();
    due.settings_file = (dir / "job.tkp").string();
    unattended::ScheduleEntry& later = list.create(JulianNow() - 2.5);   // next not worked out yet
    later.enabled = true;
    const auto file = platform::program_folder() / "def_sched.txt";
    ASSERT_TRUE(unattended::saveSchedule(file, list));

    auto r = test::run_process(test::tallowick_binary(), {"-checkschedule"});
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_TRUE(std::filesystem::exists(dir / "report/index.html")) << r.out;
    // Both next runs lie ahead now, in the file.
    const unattended::ScheduleList after = saved();
    ASSERT_EQ(after.count(), 2);
    for (const auto& e : after.entries()) EXPECT_GT(e.next, JulianNow()) << e.number;
}

}  // namespace
}  // namespace tallowick::app
