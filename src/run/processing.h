// Starting a run: the steps a run is made of, the output-folder check, the
// processing thread and the run-in-progress flag.
#pragma once

#include <functional>

namespace tallowick::run {

// What StartProcessing returns; the batch run exits with the same numbers.
enum StartResult : int {
    kRunSucceeded = 0,
    kRunFailed = 1,      // the run started but failed or reported errors
    kRunNotStarted = 2,  // the output folder is missing
};

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
// returns when the run ends.
StartResult StartProcessing(bool synchronous);

// Starts the run on the processing thread and returns at once (the servers of the
// host keep answering meanwhile). kRunNotStarted when a run is already active or
// the output folder is missing (said through ShowError).
StartResult StartProcessingInBackground();
// Waits until a run started in the background has ended; returns at once when none.
void WaitForBackgroundRun();

// Set while a run is active.
bool run_in_progress();

}  // namespace tallowick::run
