// The program entry: the raw-command-line switches that pick the process mode, the
// usage text, and the batch run (reset, apply options, prepare, run, wait, exit).
#pragma once

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

// The whole program: argv as main received it; returns the exit code.
int run_main(int argc, char** argv);

}  // namespace tallowick::app
