// The status sink: how every subsystem tells the user what it is doing. Status
// text, progress with time left, errors, debug output and the timestamped message
// log. Where each report ends up depends on the process mode; the reports go to
// the installed sinks (console, remote-control client, a recorder in tests).
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>

namespace tallowick {

// Process-wide mode flags, set once at start-up from the raw command line.
struct ProcessMode {
    bool command_line = false;   // no desktop: errors go to standard error
    bool console = false;        // "-cli"
    bool debug = false;          // "-debug": progress words go to the debug output
    bool service = false;        // running as the scheduler service
    int quiet = 0;               // "-q" 0, "-q1" 1, "-q2" 2
    bool quiet_given = false;    // any "-q" form: no live progress line
    std::string service_log;     // service mode: errors are appended here
};

// A receiver of status reports. Every method has an empty default so that a sink
// implements only what it shows.
class StatusSink {
public:
    virtual ~StatusSink() = default;
    virtual void status(std::string_view /*text*/) {}
    // percent 0..100; time_left may be empty.
    virtual void progress(int /*percent*/, std::string_view /*text*/,
                          std::string_view /*time_left*/) {}
    virtual void error(std::string_view /*text*/) {}
    virtual void debug(std::string_view /*text*/) {}
    // The run has ended: a sink that draws a live progress line clears it here.
    virtual void progress_done() {}
};

ProcessMode& process_mode();

// Installs the sink that receives reports (one at a time; nullptr for none).
// Returns the previous one so that tests can restore it.
StatusSink* set_status_sink(StatusSink* sink);
// Adds a second receiver, such as a connected remote-control client (nullptr removes it).
void set_remote_status_sink(StatusSink* sink);

void ShowStatus(std::string_view text);
// Writes text and a newline to the debug output in debug mode; returns whether
// debug mode is on (an empty text only asks).
bool DebugText(std::string_view text = {});
void ShowProgress(int percent, std::string_view text);
// The progress report of a run: percent < 0 resets. start_seconds is the run's
// start on the monotonic clock (see now_seconds()); 0 for none.
void ReportProgress(int percent, bool force, std::string_view text, double start_seconds);
void ShowError(std::string_view text);
// A warning: something the user asked for is not done, but the run goes on and
// the error count is left alone. In command-line mode it goes to standard error
// as "Warning: <text>", elsewhere to the status line.
void ShowWarning(std::string_view text);
// Appends one timestamped line to path; code != 0 gives the error form, -1 the
// service form (and every later line of the process uses it too).
void AppendMessageLog(const std::string& path, std::string_view text, long code);
// One message-log line for the local time tm, newline included.
std::string message_log_line(const std::tm& tm, std::string_view text, long code,
                             bool service_form);
// Reports "what, needed N" (or "Not enough memory!!!") and raises the
// out-of-memory flag that the run checks.
void OutOfMemory(std::string_view what, long needed);
bool out_of_memory();
void clear_out_of_memory();

// Counts the errors shown since the last reset; the batch run's exit code uses it.
long error_count();
void reset_error_count();

// The lines-processed counter and current log name used when ReportProgress has no text.
void set_progress_lines(std::uint64_t lines, std::string_view log_name);

// Seconds on the monotonic clock, with millisecond precision.
double now_seconds();

// Text helpers shared with the report code.
std::string with_thousands(std::uint64_t n);          // 1234567 -> "1,234,567"
std::string time_left_text(double elapsed, int percent); // "      %2d sec left" / "    %2d:%02d left"

}  // namespace tallowick
