#include "unattended/scheduler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "base/julian_date.h"
#include "run/live_settings.h"
#include "run/processing.h"
#include "support/test_support.h"

namespace tallowick::unattended {
namespace {

ScheduleEntry entry_from(double start, int count, int unit) {
    ScheduleEntry e;
    e.start = start;
    e.repeat_count = count;
    e.repeat_unit = unit;
    return e;
}

TEST(ComputeNextRun, StepsFromTheStartToTheFirstTimeAfterNow) {
    struct Case {
        const char* what;
        double start;
        int count, unit;
        double now, next;
    } cases[] = {
        {"daily, started in the past", JulianDate(2026, 1, 1, 6, 0, 0), 1, kDays,
         JulianDate(2026, 1, 10, 12, 0, 0), JulianDate(2026, 1, 11, 6, 0, 0)},
        {"every 15 minutes", JulianDate(2026, 1, 1, 6, 0, 0), 15, kMins,
         JulianDate(2026, 1, 1, 6, 50, 0), JulianDate(2026, 1, 1, 7, 0, 0)},
        {"count 0 counts as 1", JulianDate(2026, 1, 1, 6, 0, 0), 0, kHrs,
         JulianDate(2026, 1, 1, 9, 30, 0), JulianDate(2026, 1, 1, 10, 0, 0)},
        {"exactly on a step: the next one", JulianDate(2026, 1, 1, 6, 0, 0), 2, kHrs,
         JulianDate(2026, 1, 1, 8, 0, 0), JulianDate(2026, 1, 1, 10, 0, 0)},
        {"start still ahead is the first run", JulianDate(2026, 3, 1, 6, 0, 0), 1, kDays,
         JulianDate(2026, 2, 27, 6, 0, 0), JulianDate(2026, 3, 1, 6, 0, 0)},
        {"monthly from the 31st runs into the next month", JulianDate(2026, 1, 31, 8, 30, 0), 1,
         kMonths, JulianDate(2026, 4, 15, 0, 0, 0), JulianDate(2026, 5, 1, 8, 30, 0)},
        {"... and keeps its day", JulianDate(2026, 1, 31, 8, 30, 0), 1, kMonths,
         JulianDate(2026, 5, 10, 0, 0, 0), JulianDate(2026, 5, 31, 8, 30, 0)},
        {"every 2 years", JulianDate(2020, 6, 1, 0, 0, 0), 2, kYears,
         JulianDate(2025, 1, 1, 0, 0, 0), JulianDate(2026, 6, 1, 0, 0, 0)},
    };
    for (const Case& c : cases) {
        ScheduleEntry e = entry_from(c.start, c.count, c.unit);
        EXPECT_NEAR(computeNextRun(e, c.now), c.next, 1e-6) << c.what;
        EXPECT_EQ(e.next, computeNextRun(e, c.now)) << c.what;
        EXPECT_EQ(e.start, c.start) << c.what;
    }
}

// A run held open by its analysis step until the test lets it go.
struct HeldRun {
    std::atomic<bool> release{false};
    HeldRun() {
        run::run_steps().analyse = [this] {
            while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return 0;
        };
    }
};

TEST(Scheduler, DueEntryWaitsForTheActiveRunThenRunsWithItsOwnSettings) {
    test::TempDir dir;
    test::write_file(dir / "a.log", "x\n");
    test::write_file(dir / "b1.log", "x\n");
    run::settings().run.out = (dir / "batch.html").string();
    const Settings before = run::settings();

    const double now = JulianDate(2026, 6, 1, 12, 0, 0);
    std::vector<std::string> loaded;
    SchedulerHooks hooks;
    hooks.now = [now] { return now; };
    hooks.load_settings = [&](const std::string& path) {
        loaded.push_back(path);
        if (path != "site.tkp") return false;
        run::settings().run.out = (dir / "out/{YYYY}/index.html").string();
        return true;
    };
    Scheduler scheduler(dir / "def_sched.txt", hooks);
    ScheduleEntry& e = scheduler.list().create(JulianDate(2026, 6, 1, 11, 0, 0));
    e.enabled = true;
    e.repeat_unit = kHrs;
    e.settings_file = "site.tkp";
    e.logs = (dir / "a.log").string() + ", " + (dir / "b*.log").string() + "," +
             (dir / "none*.log").string();
    e.next = JulianDate(2026, 6, 1, 11, 30, 0);

    HeldRun held;
    ASSERT_EQ(run::StartProcessing(false), run::kRunSucceeded);
    scheduler.tickScheduler();
    EXPECT_TRUE(loaded.empty());
    EXPECT_DOUBLE_EQ(e.next, JulianDate(2026, 6, 1, 11, 30, 0));
    held.release = true;
    run::wait_for_run();

    std::vector<std::string> seen_logs;
    std::string seen_out;
    run::run_steps().analyse = [&] {
        seen_logs = run::log_list().names();
        seen_out = run::settings().run.out;
        return 0;
    };
    scheduler.tickScheduler();
    EXPECT_EQ(run::wait_for_run(), run::kRunSucceeded);
    run::run_steps().analyse = nullptr;

    EXPECT_EQ(loaded, std::vector<std::string>{"site.tkp"});
    EXPECT_EQ(seen_logs, (std::vector<std::string>{(dir / "a.log").string(), (dir / "b1.log").string()}));
    EXPECT_EQ(seen_out, (dir / "out/{YYYY}/index.html").string());
    EXPECT_TRUE(std::filesystem::is_directory(dir / "out/2026"));
    EXPECT_TRUE(run::settings() == before) << "the settings in force come back after the run";
    EXPECT_FALSE(run::scheduled_run_in_progress());

    // The next run advanced by one step and was saved before the run started.
    EXPECT_NEAR(e.next, JulianDate(2026, 6, 1, 13, 0, 0), 1e-6);
    ScheduleList saved;
    ASSERT_TRUE(readSchedule(dir / "def_sched.txt", saved));
    EXPECT_NEAR(saved.get(1)->next, e.next, 1e-6);

    const std::string log = test::read_file(schedule_log_path());
    for (std::string line :
         {"No files matched wildcard '" + (dir / "none*.log").string() + "'",
          "Output path not found (" + (dir / "out/{YYYY}/index.html").string() + ")",
          "Making dir (" + (dir / "out/2026").string() + ")",
          "(1) Processing log (" + e.logs + ")", std::string("Repeat = 1 hrs"),
          "Log to process - '" + (dir / "b1.log").string() + "'"})
        EXPECT_NE(log.find(line), std::string::npos) << line;
}

TEST(Scheduler, FileEditedSinceItWasReadIsReadAgainBeforeTheSave) {
    test::TempDir dir;
    run::settings().run.out = (dir / "r.html").string();
    int runs = 0;
    run::run_steps().analyse = [&runs] { return ++runs, 0; };
    SchedulerHooks hooks;
    hooks.load_settings = [](const std::string&) { return true; };
    Scheduler scheduler(dir / "def_sched.txt", hooks);
    ScheduleList list;
    ScheduleEntry& due = list.create(JulianDate(2020, 1, 1));
    due.enabled = true;
    due.next = JulianDate(2020, 1, 2);
    ASSERT_TRUE(saveSchedule(dir / "def_sched.txt", list));
    scheduler.initSchedule(false);

    // Another process adds a job (a second later, so the time stamp differs).
    std::filesystem::last_write_time(dir / "def_sched.txt",
                                     scheduler.remembered_stamp() - std::chrono::seconds(1));
    list.create(JulianDate(2030, 1, 1));
    ASSERT_TRUE(saveSchedule(dir / "def_sched.txt", list));

    scheduler.tickScheduler();
    EXPECT_EQ(scheduler.list().count(), 2);
    EXPECT_EQ(runs, 0);
    scheduler.tickScheduler();
    run::wait_for_run();
    run::run_steps().analyse = nullptr;
    EXPECT_EQ(runs, 1);
    ScheduleList saved;
    readSchedule(dir / "def_sched.txt", saved);
    EXPECT_EQ(saved.count(), 2);
}

TEST(Scheduler, UnreadableSettingsKeepTheSettingsInForceAndStartNothing) {
    test::TempDir dir;
    run::settings().run.out = (dir / "kept.html").string();
    SchedulerHooks hooks;
    hooks.load_settings = [](const std::string&) {
        run::settings().run.out = "half loaded";
        return false;
    };
    Scheduler scheduler(dir / "def_sched.txt", hooks);
    ScheduleEntry& e = scheduler.list().create(JulianDate(2020, 1, 1));
    e.settings_file = "gone.tkp";
    EXPECT_FALSE(scheduler.runScheduleEntry(e));
    EXPECT_FALSE(run::run_in_progress());
    EXPECT_EQ(run::settings().run.out, (dir / "kept.html").string());
    EXPECT_NE(test::read_file(schedule_log_path()).find("failed to open settings gone.tkp"),
              std::string::npos);
}

}  // namespace
}  // namespace tallowick::unattended
