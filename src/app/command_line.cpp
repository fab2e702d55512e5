#include "app/command_line.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>

#include "app/console_status.h"
#include "app/host_mode.h"
#include "app/options.h"
#include "app/schedule_command.h"
#include "app/settings_file.h"
#include "app/settings_keywords.h"
#include "app/settings_store.h"
#include "base/cancel.h"
#include "base/status.h"
#include "logs/log_list.h"
#include "platform/service_manager.h"
#include "platform/system.h"
#include "report/report_assembly.h"
#include "run/processing.h"
#include "run/run_job.h"
#include "unattended/service.h"

namespace tallowick::app {

namespace {

constexpr std::size_t kMaxTokens = 256;

bool starts_with_ci(std::string_view text, std::string_view word) {
    if (text.size() < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        auto up = [](char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; };
        if (up(text[i]) != up(word[i])) return false;
    }
    return true;
}

bool equals_ci(std::string_view a, std::string_view b) {
    return a.size() == b.size() && starts_with_ci(a, b);
}

bool is_help(std::string_view t) {
    for (std::string_view h : {"-h", "-help", "-?", "--h", "--?", "--help"})
        if (equals_ci(t, h)) return true;
    return false;
}

// "-sendfile": the file's lines, empty ones left out, each sent as a command.
void read_command_file(const std::string& path, std::vector<std::string>& commands) {
    std::unique_ptr<std::FILE, decltype(&std::fclose)> f(std::fopen(path.c_str(), "r"),
                                                         &std::fclose);
    if (!f) {
        ShowError("cannot open " + path + ": " + platform::system_error_text(errno));
        return;
    }
    std::string line;
    for (int c; (c = std::fgetc(f.get())) != EOF;) {
        if (c != '\n') {
            line += static_cast<char>(c);
            continue;
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) commands.push_back(std::move(line));
        line.clear();
    }
    if (!line.empty()) commands.push_back(std::move(line));
}

// A word without a sign that is not an option's value names a log when it is a
// wildcard or an existing file or folder, as other log tools take their logs.
bool names_log(std::string_view word) {
    if (word.empty() || word.front() == '-' || word.front() == '+') return false;
    if (logs::is_log_pattern(word)) return true;
    struct stat st{};
    return stat(std::string(word).c_str(), &st) == 0;
}

// The main page the run wrote, for the line that ends a batch run; empty when
// there is none.
std::string written_report_path() {
    const Settings& s = settings();
    std::filesystem::path main = report::completeReportPath(s.run.out, s.report.reportformat).main;
    if (s.run.out.find('{') != std::string::npos)
        main = logs::ExpandLogName(main.string(),
                                   logs::LogNameContext::for_run(s.dates, s.run.siteurl));
    std::error_code ec;
    if (!std::filesystem::is_regular_file(main, ec)) return {};
    const std::filesystem::path full = std::filesystem::absolute(main, ec);
    return (ec ? main : full).lexically_normal().string();
}

// A scheduled job loads its settings file as "-r" does.
unattended::SchedulerHooks scheduler_hooks() {
    unattended::SchedulerHooks hooks;
    hooks.load_settings = [](const std::string& path) { return LoadSettingsFile(path); };
    return hooks;
}

unattended::ServiceContext service_context(bool debug) {
    unattended::ServiceContext context;
    context.scheduler = scheduler_hooks();
    context.load_default_settings = [] { ResetSettings(true); };
    context.debug = debug;
    return context;
}

// "-checkschedule": the schedule is read and checked once; a job that is due runs
// to its end before the command line goes on.
int check_schedule() {
    // While the service runs it alone ticks this schedule, so that no job runs twice.
    long owner = 0;
    auto lock = platform::InstanceLock::acquire(unattended::scheduler_lock_path(), owner);
    if (!lock) {
        unattended::transcript("Schedule left to the running service (process " +
                               std::to_string(owner) + ")");
        return kExitOk;
    }
    unattended::Scheduler scheduler(unattended::schedule_file_path(), scheduler_hooks());
    scheduler.initSchedule(false);
    const auto& entries = scheduler.list().entries();
    const bool uncomputed = std::any_of(entries.begin(), entries.end(),
                                        [](const unattended::ScheduleEntry& e) { return e.next == 0; });
    scheduler.tickScheduler();
    // Each check is a process of its own: next runs worked out now are kept in the
    // file, or a job that starts in the past would be put off again at every check.
    if (uncomputed) scheduler.save();
    return run::wait_for_run();
}

}  // namespace

RawSwitches inspect_command_line(std::span<const std::string_view> args) {
    RawSwitches sw;
    std::size_t end = args.size();
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view a = args[i];
        if (equals_ci(a, "-http")) sw.report_server = true;
        if (equals_ci(a, "-clone")) sw.second_instance = true;
        if (equals_ci(a, "-debug") && !sw.debug) {
            sw.debug = true;
            end = i;
        }
        if (equals_ci(a, "-nogui")) sw.command_line = true;
        if (equals_ci(a, "-cli")) sw.command_line = sw.console = true;
        // An option word after the program name (" -" on the raw command line),
        // or a log named on its own.
        if (!a.empty() && a.front() == '-') sw.command_line = true;
        if (names_log(a)) sw.command_line = true;
    }
    // Whole words only: "-ignorecase" or "-usecgi" first is an ordinary option.
    if (!args.empty()) sw.service = unattended::is_service_switch(args[0]);
    if (sw.second_instance) end = 0;
    for (std::size_t i = 0; i < end && sw.tokens.size() < kMaxTokens; ++i) {
        if (equals_ci(args[i], "-nogui") || equals_ci(args[i], "-cli") ||
            equals_ci(args[i], "-http"))
            continue;
        sw.tokens.emplace_back(args[i]);
    }
    return sw;
}

int run_main(int argc, char** argv) {
    std::vector<std::string_view> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    RawSwitches sw = inspect_command_line(args);

    ProcessMode& mode = process_mode();
    mode.debug = sw.debug;
    mode.console = sw.console;
    if (!sw.command_line && !sw.service && !sw.report_server && !sw.second_instance &&
        platform::has_console())
        sw.command_line = true;
    mode.command_line = sw.command_line;

    if (!run::run_steps().analyse) run::register_run_job();
    if (sw.service) return unattended::service_command(args.front(), service_context(sw.debug));
    if (!sw.command_line) {
        std::fprintf(stderr,
                     "Tallowick: no options and no terminal; the background host is not "
                     "available in this build. Run with options, e.g. tallowick -l access.log\n");
        return kExitUnavailable;
    }

    if (!sw.tokens.empty() && is_schedule_command(sw.tokens.front())) {
        std::vector<std::string_view> rest(sw.tokens.begin() + 1, sw.tokens.end());
        return schedule_command(rest);
    }
    if (!run::run_steps().check_schedule) run::run_steps().check_schedule = check_schedule;

    ConsoleStatusSink console;
    StatusSink* previous = set_status_sink(&console);
    struct Restore {
        StatusSink* previous;
        ~Restore() { set_status_sink(previous); }
    } restore{previous};

    reset_for_command_line();
    const std::string program = argc > 0 ? argv[0] : "tallowick";
    std::vector<std::string_view> tokens(sw.tokens.begin(), sw.tokens.end());
    long errors_before = error_count();
    std::optional<std::string> connect_to;   // "-connect": drive a remote copy
    std::vector<std::string> remote_commands;
    std::optional<int> schedule_result;
    std::size_t values_left = 0;   // tokens still to come that are the last option's values
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        std::string_view t = tokens[i];
        const bool is_value = values_left > 0;
        if (is_value) --values_left;
        if (equals_ci(t, "-connect") || equals_ci(t, "-send") || equals_ci(t, "-sendfile")) {
            if (i + 1 == tokens.size()) continue;
            const std::string value(tokens[++i]);
            if (equals_ci(t, "-connect"))
                connect_to = value;
            else if (equals_ci(t, "-send"))
                remote_commands.push_back(value);
            else
                read_command_file(value, remote_commands);
            continue;
        }
        if (is_help(t)) {
            std::fwrite(usage_text().data(), 1, usage_text().size(), stdout);
            return kExitOk;
        }
        if (equals_ci(t, "-ver") || equals_ci(t, "--version")) {
            std::printf("%s\n", version_line().c_str());
            return kExitOk;
        }
        if (equals_ci(t, "-q") || equals_ci(t, "-q1") || equals_ci(t, "-q2")) {
            mode.quiet = t.size() == 2 ? 0 : t[2] - '0';
            mode.quiet_given = true;
            continue;
        }
        if (equals_ci(t, "-checkschedule") || equals_ci(t, "checkschedule")) {
            schedule_result = run::run_steps().check_schedule();
            continue;
        }
        if (apply_option(tokens, i)) {
            if (const KeywordRow* row = find_keyword(t)) values_left = keyword_value_count(*row);
            continue;
        }
        if (!is_value && names_log(t)) {
            const std::array<std::string_view, 2> as_option{"log", t};
            apply_option(as_option, 0);
            continue;
        }
        if (mode.quiet != 0 && (t.front() == '-' || t.front() == '+')) {
            std::printf("please try %s -h for a command syntax overview\n", program.c_str());
            std::printf("unknown option (%.*s)\n", static_cast<int>(t.size()), t.data());
        }
    }
    // A settings file that failed to load or a refused option leaves the run
    // without the settings the user asked for: do not report on the wrong data.
    // "-checkschedule" alone (as cron calls it) is no batch run of its own.
    if (schedule_result && log_list().empty()) return *schedule_result;
    if (error_count() != errors_before) return kExitNotStarted;

    if (connect_to) return run_remote_client(*connect_to, remote_commands);
    if (sw.report_server || settings().run.remoteloginon) return run_host_mode(sw.report_server, scheduler_hooks());
    if (log_list().empty()) {
        ShowError("No log file to analyse: name one with -l <file>, or give its name, "
                  "folder or wildcard as an argument");
        return kExitNotStarted;
    }

    prepare_run();
    ShowStatus("Ok.");
    // SIGINT and SIGTERM cancel the run; the exit code then tells which one came.
    install_cancel_signals();
    int rc = run::StartProcessing(false);
    if (rc == run::kRunSucceeded) rc = run::wait_for_run();
    console.progress_done();
    if (const int sig = cancel_signal(); sig != 0) return 128 + sig;
    if (rc != kExitNotStarted && !(mode.quiet_given && mode.quiet == 0)) {
        if (const std::string report = written_report_path(); !report.empty()) {
            std::printf("Report: %s\n", report.c_str());
            std::fflush(stdout);
        }
    }
    return rc;
}

}  // namespace tallowick::app
