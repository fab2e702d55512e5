#include "app/command_line.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "app/console_status.h"
#include "app/options.h"
#include "app/run_job.h"
#include "app/settings_keywords.h"
#include "app/settings_store.h"
#include "base/status.h"
#include "logs/log_list.h"
#include "platform/folders.h"
#include "platform/system.h"
#include "report/report_assembly.h"

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

std::atomic<bool> g_running{false};

void lower_thread_priority() {
    // Linux keeps a nice value per thread; the analysis should not slow the desktop
    // or the server it runs on.
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 5);
}

// The folder that must exist before a run: the output path itself when it names a
// folder, else the folder part of the file name.
std::string output_folder(const std::string& out) {
    std::string path = platform::normalise_path(out);
    struct stat st{};
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return path;
    if (!path.empty() && path.back() == '/') return path;
    return platform::folder_of(path);
}

int run_steps_now() {
    auto& steps = run_steps();
    long errors_before = error_count();
    int rc = 0;
    if (steps.prepare_post_processing) rc = steps.prepare_post_processing();
    if (rc == 0 && steps.analyse) rc = steps.analyse();
    if (rc == 0 && !out_of_memory() && steps.post_process) rc = steps.post_process();
    ShowProgress(0, "Report Completed.");
    if (rc != 0 || out_of_memory() || error_count() != errors_before) return kExitRunFailed;
    return kExitOk;
}

}  // namespace

RunSteps& run_steps() {
    static RunSteps steps;
    return steps;
}

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
    if (!args.empty()) {
        std::string_view first = args[0];
        for (std::string_view s : {"-i", "-u", "-nt", "-ntservice"})
            if (equals_ci(first, s)) sw.service = true;
    }
    if (sw.report_server || sw.second_instance) end = 0;
    for (std::size_t i = 0; i < end && sw.tokens.size() < kMaxTokens; ++i) {
        if (equals_ci(args[i], "-nogui") || equals_ci(args[i], "-cli")) continue;
        sw.tokens.emplace_back(args[i]);
    }
    return sw;
}

int StartProcessing(bool synchronous) {
    const std::string out = current_output_path();
    if (out.find('{') == std::string::npos) {
        std::string folder = output_folder(out);
        // The default folder is the program's to make; one the user names must exist.
        if (out == platform::default_output_path()) {
            std::error_code ec;
            std::filesystem::create_directories(folder, ec);
        }
        struct stat st{};
        if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            int err = errno != 0 ? errno : ENOTDIR;
            ShowError("Cannot find output path (" + out + ")\nbecause " +
                      platform::system_error_text(err) + "\n");
            return kExitNotStarted;
        }
    }

    if (synchronous) return run_steps_now();

    int result = kExitOk;
    g_running = true;
    try {
        std::thread worker([&result] {
            lower_thread_priority();
            result = run_steps_now();
            g_running = false;
        });
        // The run clears the flag as its last step; poll it as the batch start does.
        while (g_running) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        worker.join();
    } catch (const std::system_error&) {
        g_running = false;
        ShowError("cannot create processing thread!!!");
        return kExitRunFailed;
    }
    return result;
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

    if (sw.service) {
        std::fprintf(stderr, "Tallowick: service mode is not available in this build.\n");
        return kExitUnavailable;
    }
    if (sw.report_server) {
        std::fprintf(stderr, "Tallowick: the report server is not available in this build.\n");
        return kExitUnavailable;
    }
    if (!sw.command_line) {
        std::fprintf(stderr,
                     "Tallowick: no options and no terminal; the background host is not "
                     "available in this build. Run with options, e.g. tallowick -l access.log\n");
        return kExitUnavailable;
    }

    if (!run_steps().analyse) register_run_job();

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
    bool schedule_checked = false;
    std::size_t values_left = 0;   // tokens still to come that are the last option's values
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        std::string_view t = tokens[i];
        const bool is_value = values_left > 0;
        if (is_value) --values_left;
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
            if (run_steps().check_schedule) run_steps().check_schedule();
            schedule_checked = true;
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
    if (error_count() != errors_before) return kExitNotStarted;
    if (log_list().empty() && !schedule_checked) {
        ShowError("No log file to analyse: name one with -l <file>, or give its name, "
                  "folder or wildcard as an argument");
        return kExitNotStarted;
    }

    prepare_run();
    ShowStatus("Ok.");
    int rc = StartProcessing(false);
    console.progress_done();
    if (rc != kExitNotStarted && !(mode.quiet_given && mode.quiet == 0)) {
        if (const std::string report = written_report_path(); !report.empty()) {
            std::printf("Report: %s\n", report.c_str());
            std::fflush(stdout);
        }
    }
    return rc;
}

}  // namespace tallowick::app
