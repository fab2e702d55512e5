#include "unattended/schedule_file.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace tallowick::unattended {
namespace {

ScheduleList read_text(const std::string& text) {
    test::TempDir dir;
    test::write_file(dir / "def_sched.txt", text);
    ScheduleList list;
    EXPECT_TRUE(readSchedule(dir / "def_sched.txt", list));
    return list;
}

std::string entry_with_repeat(const std::string& repeat_line) {
    return "#-- Schedule 1\nOn\naccess.log\nsite.tkp\n2460000.500000,0\n" + repeat_line + "\n";
}

TEST(ScheduleFile, OlderIntervalsAndOutOfRangeRepeatsRead) {
    struct Case {
        const char* line;
        int count;
        int unit;
    } cases[] = {
        {"1.0", 1, kDays},      {"0.041667", 1, kHrs}, {"0.01", 14, kMins},
        {"7", 7, kDays},        {"0.5", 12, kHrs},     {"20000,2", 1, kDays},
        {"3,9", 3, kMins},      {"2,-1", 2, kMins},    {"garbage", 1, kHrs},
    };
    for (const Case& c : cases) {
        ScheduleList list = read_text(entry_with_repeat(c.line));
        ASSERT_EQ(list.count(), 1) << c.line;
        EXPECT_EQ(list.get(1)->repeat_count, c.count) << c.line;
        EXPECT_EQ(list.get(1)->repeat_unit, c.unit) << c.line;
    }
}

TEST(ScheduleFile, SavedListReadsBackToSixDecimals) {
    ScheduleList list;
    ScheduleEntry& a = list.create(2460123.456789123);
    a.enabled = true;
    a.next = 2460124.000001499;
    a.repeat_count = 3;
    a.repeat_unit = kMonths;
    a.logs = "/var/log/a.log, ftp://host/logs/*.log";
    a.upload = "ftp://user:pw@host/reports/";
    const ScheduleEntry first = a;
    list.create(0).upload = "ab";   // two characters are no destination

    test::TempDir dir;
    ASSERT_TRUE(saveSchedule(dir / "def_sched.txt", list));
    const std::string text = test::read_file(dir / "def_sched.txt");
    EXPECT_NE(text.find("2460123.456789,2460124.000001 # StartDate="), std::string::npos) << text;
    EXPECT_NE(text.find("3,3 # Repeat every 3 months\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("sendto: ab"), std::string::npos);

    ScheduleList back;
    ASSERT_TRUE(readSchedule(dir / "def_sched.txt", back));
    ASSERT_EQ(back.count(), 2);
    const ScheduleEntry& r = *back.get(1);
    EXPECT_TRUE(r.enabled);
    EXPECT_FALSE(back.get(2)->enabled);
    EXPECT_DOUBLE_EQ(r.start, 2460123.456789);
    EXPECT_DOUBLE_EQ(r.next, 2460124.000001);
    EXPECT_EQ(r.logs, first.logs);
    EXPECT_EQ(r.settings_file, "default.tkp");
    EXPECT_EQ(r.upload, first.upload);
    EXPECT_EQ(schedule_text(back), text);
}

TEST(ScheduleFile, MissingFileLeavesAnEmptyListAndSaysSo) {
    ScheduleList list;
    list.create(1);
    test::TempDir dir;
    EXPECT_FALSE(readSchedule(dir / "absent.txt", list));
    EXPECT_EQ(list.count(), 0);
    const std::string log = test::read_file(schedule_log_path());
    EXPECT_NE(log.find("Cannot read schedule file " + (dir / "absent.txt").string()),
              std::string::npos);
}

TEST(ScheduleList, RemoveRenumbersAndZeroRemovesAll) {
    ScheduleList list;
    for (int i = 0; i < 3; ++i) list.create(0).logs = "log" + std::to_string(i);
    EXPECT_FALSE(list.remove(4));
    EXPECT_TRUE(list.remove(2));
    ASSERT_EQ(list.count(), 2);
    EXPECT_EQ(list.get(2)->logs, "log2");
    EXPECT_EQ(list.get(2)->number, 2);
    EXPECT_TRUE(list.remove(0));
    EXPECT_EQ(list.count(), 0);
}

}  // namespace
}  // namespace tallowick::unattended
