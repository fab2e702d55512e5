// The service as systemd would run it: the real executable in the foreground,
// driven by signals, over a schedule in the test's program folder.
#include "unattended/service.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "base/julian_date.h"
#include "platform/folders.h"
#include "support/test_support.h"

extern char** environ;

namespace tallowick::unattended {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// "tallowick -ntservice" as a child process, killed if a test leaves it running.
class ServiceProcess {
public:
    explicit ServiceProcess(const fs::path& output) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        std::string program = test::tallowick_binary().string(), word = "-ntservice";
        char* argv[] = {program.data(), word.data(), nullptr};
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv, environ) != 0) pid_ = 0;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ServiceProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool started() const { return pid_ > 0; }
    void signal(int sig) const { kill(pid_, sig); }
    // The exit code, or nothing when the process is still running after the time.
    std::optional<int> wait_exit(std::chrono::milliseconds limit) {
        for (auto end = Clock::now() + limit; Clock::now() < end;) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = 0;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return std::nullopt;
    }

private:
    pid_t pid_ = 0;
};

bool wait_for(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    for (auto end = Clock::now() + limit; Clock::now() < end;) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return done();
}

fs::path settings_for(const fs::path& dir, const std::string& name, const fs::path& report) {
    test::write_file(dir / name, "#Tallowick3.6 preferences file\nout " + report.string() + "\n");
    return dir / name;
}

ScheduleEntry& due_entry(ScheduleList& list, const fs::path& log, const fs::path& settings,
                         double seconds_ahead) {
    ScheduleEntry& e = list.create(JulianNow() + seconds_ahead / 86400.0);
    // Worked out as the editor does, so that a busy service still runs it when due.
    e.next = e.start;
    e.enabled = true;
    e.logs = log.string();
    e.settings_file = settings.string();
    e.repeat_unit = kDays;
    return e;
}

TEST(Service, RunsDueJobsPicksUpScheduleChangesAndStopsOnSigterm) {
    auto logs = test::shared_logs_dir();
    const fs::path log =
        logs ? *logs / "combined/awstats_testsmall_2001_3lines.log" : test::sample_log();
    test::TempDir dir;
    const fs::path program = platform::program_folder();
    const fs::path first_report = dir / "first/index.html";
    const fs::path second_report = dir / "second/index.html";
    ScheduleList list;
    due_entry(list, log, settings_for(dir.path(), "first.tkp", first_report), 2);
    ASSERT_TRUE(saveSchedule(program / "def_sched.txt", list));
    const double first_start = list.get(1)->start;

    setenv("TALLOWICK_SCHEDULE_CHECK_SECONDS", "1", 1);
    ServiceProcess service(dir / "service.out");
    ASSERT_TRUE(service.started());
    // The limits only matter on a loaded machine; a quiet one takes about a second a step.
    ASSERT_TRUE(wait_for([&] { return fs::exists(first_report); }, std::chrono::seconds(15)))
        << test::read_file(dir / "service.out") << test::read_file(program / "schedlog.txt");

    // Only one scheduler per program folder.
    auto second = test::run_process(test::tallowick_binary(), {"-ntservice"});
    EXPECT_EQ(second.exit_code, 1);
    EXPECT_NE(second.err.find("is already running"), std::string::npos) << second.err;
    EXPECT_EQ(test::run_process(test::tallowick_binary(), {"-checkschedule"}).exit_code, 0);
    EXPECT_NE(test::read_file(program / "schedlog.txt").find("Schedule left to the running service"),
              std::string::npos);

    // The run ended and the next run is a day on, saved before the run started.
    ASSERT_TRUE(wait_for([&] {
        ScheduleList saved;
        readSchedule(program / "def_sched.txt", saved);
        return saved.count() == 1 && saved.get(1)->next > first_start + 0.5;
    }, std::chrono::seconds(2)));

    // A job added to the file while the service runs is read within the check interval.
    ScheduleList changed;
    readSchedule(program / "def_sched.txt", changed);
    due_entry(changed, log, settings_for(dir.path(), "second.tkp", second_report), 1);
    ASSERT_TRUE(saveSchedule(program / "def_sched.txt", changed));
    EXPECT_TRUE(wait_for([&] { return fs::exists(second_report); }, std::chrono::seconds(20)));
    EXPECT_TRUE(wait_for([&] {
        return test::read_file(program / "schedlog.txt").find("(2) Run ended") != std::string::npos;
    }, std::chrono::seconds(20)));

    service.signal(SIGUSR1);
    const fs::path registry = platform::user_data_folder() / "registry.txt";
    EXPECT_TRUE(wait_for([&] {
        return test::read_file(registry).find("Scheduler\\Status\\Current=") != std::string::npos;
    }, std::chrono::seconds(2)));

    const auto stop_sent = Clock::now();
    service.signal(SIGTERM);
    EXPECT_EQ(service.wait_exit(std::chrono::seconds(2)), 0);
    EXPECT_LT(Clock::now() - stop_sent, std::chrono::seconds(2));

    const std::string transcript = test::read_file(program / "schedlog.txt");
    for (std::string line :
         {std::string("NTSERVICE:    Initializing Schedule for NT Service"),
          std::string("(1) Processing log (") + log.string() + ")",
          "Log to process - '" + log.string() + "'", std::string("Repeat = 1 days"),
          std::string("(2) Processing log ("), std::string("Read 2 schedules from config file"),
          std::string("Saving 'Current' as "), std::string("CNTService::Handler(1)"),
          std::string("Leaving CNTService::ServiceMain()")})
        EXPECT_NE(transcript.find(line), std::string::npos) << line << "\n" << transcript;
}

TEST(Service, InstallAndRemoveTheUnitFile) {
    test::TempDir units;
    setenv("TALLOWICK_UNIT_DIR", units.path().c_str(), 1);
    auto tallowick = [](const char* word) { return test::run_process(test::tallowick_binary(), {word}); };

    EXPECT_EQ(tallowick("-ntv").out, "Tallowick - Scheduler Version 2.0\nThe service is not installed\n");
    auto installed = tallowick("-i");
    EXPECT_EQ(installed.exit_code, 0);
    EXPECT_EQ(installed.out, "Tallowick - Scheduler installed\n");
    const std::string unit = test::read_file(units / "tallowick-scheduler.service");
    EXPECT_NE(unit.find("\nType=simple\n"), std::string::npos) << unit;
    EXPECT_NE(unit.find("\nExecStart=" + fs::canonical(test::tallowick_binary()).string() +
                        " -ntservice\n"),
              std::string::npos)
        << unit;
    EXPECT_EQ(tallowick("-NTI").out, "Tallowick - Scheduler is already installed\n");
    EXPECT_EQ(tallowick("-ntv").out,
              "Tallowick - Scheduler Version 2.0\nThe service is currently installed\n");

    auto removed = tallowick("-u");
    EXPECT_EQ(removed.exit_code, 0);
    EXPECT_EQ(removed.out.rfind("Tallowick - Scheduler removed. (You must delete the file (", 0), 0u)
        << removed.out;
    EXPECT_FALSE(fs::exists(units / "tallowick-scheduler.service"));
    EXPECT_EQ(tallowick("-ntu").out, "Tallowick - Scheduler is not installed\n");

    if (!fs::is_directory("/run/systemd/system")) {
        auto start = tallowick("-nts");
        EXPECT_EQ(start.exit_code, 3);
        EXPECT_NE(start.out.find("systemd is not running"), std::string::npos) << start.out;
    }
}

TEST(Service, OnlyWholeServiceWordsSelectTheServicePath) {
    for (const char* word : {"-i", "-NTI", "-u", "-ntu", "-nts", "-nte", "-ntv", "-nt", "-ntservice"})
        EXPECT_TRUE(is_service_switch(word)) << word;
    for (const char* word : {"-ignorecase", "-indexfile", "-usecgi", "-ntx", "-l", "i"})
        EXPECT_FALSE(is_service_switch(word)) << word;
}

}  // namespace
}  // namespace tallowick::unattended
