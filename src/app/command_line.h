// The program entry: the raw-command-line switches that pick the process mode, the
// usage text, and the batch run (reset, apply options, prepare, run, wait, exit).
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tallowick::app {

// Exit codes of the program.
enum ExitCode : int {
    kExitOk = 0,            // done, or -h / -ver
    kExitRunFailed = 1,     // the run started but failed or reported errors
    kExitNotStarted = 2,    // bad settings file or options, missing output folder
    kExitUnavailable = 3,   // a mode this build does not provide (yet)
};

// What the raw command line says about the whole process.
struct RawSwitches {
    bool report_server = false;  // "-http"
    bool second_instance = false;// "-clone"
    bool debug = false;          // "-debug": options end where it begins
    bool command_line = false;   // "-nogui", "-cli", or an option word ("-" after a space)
    bool console = false;        // "-cli"
    bool service = false;        // the first option is "-i", "-u", "-nt" or "-ntservice"
    std::vector<std::string> tokens;   // the options left to apply (at most 256)
};

RawSwitches inspect_command_line(std::span<const std::string_view> args);

// The usage text, exactly as "-h" prints it.
std::string_view usage_text();
// "Tallowick Version 3.6 (Linux)".
std::string version_line();

// The work of one run, filled by the subsystems that do it. Each returns 0 for
// success. Empty members are skipped.
struct RunSteps {
    std::function<int()> prepare_post_processing;
    std::function<int()> analyse;
    std::function<int()> post_process;
    std::function<void()> check_schedule;   // "-checkschedule"
};
RunSteps& run_steps();

// Start processing: checks the output folder, then runs on a processing thread
// at below-normal priority (or on the caller's thread when synchronous) and
// returns when the run ends. Returns 0 when the run succeeded, kExitNotStarted
// when it could not start, kExitRunFailed when it failed.
int StartProcessing(bool synchronous);

// The whole program: argv as main received it; returns the exit code.
int run_main(int argc, char** argv);

}  // namespace tallowick::app
