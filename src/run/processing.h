// Starting a run: the steps a run is made of, the output-folder check, the
// processing thread, the run-in-progress flags and the settings a scheduled run
// keeps aside.
#pragma once

#include <functional>

namespace tallowick::run {

// What StartProcessing and wait_for_run return; the batch run exits with the same
// numbers.
enum StartResult : int {
    kRunSucceeded = 0,
    kRunFailed = 1,      // the run started but failed or reported errors
    kRunNotStarted = 2,  // the output folder is missing, or a run is active
};

// The work of one run, filled by the subsystems that do it. Each returns 0 for
// success. Empty members are skipped.
struct RunSteps {
    std::function<int()> prepare_post_processing;
    std::function<int()> analyse;
    std::function<int()> post_process;
    std::function<int()> check_schedule;   // "-checkschedule"
};
RunSteps& run_steps();

// Start processing: checks the output folder, then runs the steps. Synchronous:
// on the caller's thread, returning the run's result. Otherwise on a processing
// thread at below-normal priority: returns kRunSucceeded once the run has started
// (wait_for_run gives its result). Only one run exists at a time.
StartResult StartProcessing(bool synchronous);

// Polls the run-in-progress flag every millisecond until the run clears it; the
// result of the last run started on the processing thread.
StartResult wait_for_run();

// Set while a run is active.
bool run_in_progress();

// A scheduled run works on its job's settings. keep_settings_for_run copies the
// settings record and log list aside and sets the scheduled-run-in-progress flag;
// when the run ends (or fails to start), the run job copies them back and clears
// the flag.
void keep_settings_for_run();
void restore_kept_settings();
bool scheduled_run_in_progress();

// Asks the active run, if any, to stop (any thread).
void cancel_run();

// While it lives, cancel_run calls its function: the analysis step registers its
// run this way. A cancel that came earlier in the same run calls it at once.
class CancelRegistration {
public:
    explicit CancelRegistration(std::function<void()> cancel);
    ~CancelRegistration();
    CancelRegistration(const CancelRegistration&) = delete;
    CancelRegistration& operator=(const CancelRegistration&) = delete;
};

}  // namespace tallowick::run
