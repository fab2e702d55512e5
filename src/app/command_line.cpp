#include "app/command_line.h"

#include <cerrno>
#include <cstdio>
#include <memory>
#include <optional>

#include "app/console_status.h"
#include "app/host_mode.h"
#include "app/options.h"
#include "app/settings_store.h"
#include "base/status.h"
#include "platform/system.h"
#include "run/processing.h"
#include "run/run_job.h"

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
        // An option word after the program name (" -" on the raw command line).
        if (!a.empty() && a.front() == '-') sw.command_line = true;
    }
    if (!args.empty()) {
        std::string_view first = args[0];
        for (std::string_view s : {"-i", "-u", "-nt", "-ntservice"})
            if (equals_ci(first, s)) sw.service = true;
    }
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

    if (sw.service) {
        std::fprintf(stderr, "Tallowick: service mode is not available in this build.\n");
        return kExitUnavailable;
    }
    if (!sw.command_line) {
        std::fprintf(stderr,
                     "Tallowick: no options and no terminal; the background host is not "
                     "available in this build. Run with options, e.g. tallowick -l access.log\n");
        return kExitUnavailable;
    }

    if (!run::run_steps().analyse) run::register_run_job();

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
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        std::string_view t = tokens[i];
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
            if (run::run_steps().check_schedule) run::run_steps().check_schedule();
            continue;
        }
        if (apply_option(tokens, i)) continue;
        if (mode.quiet != 0 && (t.front() == '-' || t.front() == '+')) {
            std::printf("please try %s -h for a command syntax overview\n", program.c_str());
            std::printf("unknown option (%.*s)\n", static_cast<int>(t.size()), t.data());
        }
    }
    // A settings file that failed to load or a refused option leaves the run
    // without the settings the user asked for: do not report on the wrong data.
    if (error_count() != errors_before) return kExitNotStarted;

    if (connect_to) return run_remote_client(*connect_to, remote_commands);
    if (sw.report_server || settings().run.remoteloginon) return run_host_mode(sw.report_server);

    prepare_run();
    ShowStatus("Ok.");
    int rc = run::StartProcessing(false);
    console.progress_done();
    return rc;
}

}  // namespace tallowick::app
