#include "run/processing.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#include "base/status.h"
#include "platform/folders.h"
#include "platform/system.h"
#include "run/live_settings.h"

namespace tallowick::run {

namespace {

std::atomic<bool> g_running{false};

constexpr std::string_view kRunEnded = "Report Completed.";

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

// The steps of one run. The end of the run ("Report Completed.") is announced by
// the caller, after the run-in-progress flag is down, so that whoever hears it
// may start the next run at once.
StartResult run_steps_now() {
    auto& steps = run_steps();
    long errors_before = error_count();
    int rc = 0;
    if (steps.prepare_post_processing) rc = steps.prepare_post_processing();
    if (rc == 0 && steps.analyse) rc = steps.analyse();
    if (rc == 0 && !out_of_memory() && steps.post_process) rc = steps.post_process();
    if (rc != 0 || out_of_memory() || error_count() != errors_before) return kRunFailed;
    return kRunSucceeded;
}

// Whether the output folder exists; says why not when it does not.
bool output_folder_exists() {
    const std::string out = settings().run.out;
    if (out.find('{') != std::string::npos) return true;
    std::string folder = output_folder(out);
    struct stat st{};
    if (stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
    int err = errno != 0 ? errno : ENOTDIR;
    ShowError("Cannot find output path (" + out + ")\nbecause " +
              platform::system_error_text(err) + "\n");
    return false;
}

// The thread of a run started in the background, joined by the next start or wait.
std::thread& background_worker() {
    static std::thread worker;
    return worker;
}

}  // namespace

RunSteps& run_steps() {
    static RunSteps steps;
    return steps;
}

bool run_in_progress() { return g_running; }

StartResult StartProcessing(bool synchronous) {
    if (!output_folder_exists()) return kRunNotStarted;
    if (synchronous) {
        const StartResult result = run_steps_now();
        ShowProgress(0, kRunEnded);
        return result;
    }

    StartResult result = kRunSucceeded;
    g_running = true;
    try {
        std::thread worker([&result] {
            lower_thread_priority();
            result = run_steps_now();
            g_running = false;
            ShowProgress(0, kRunEnded);
        });
        // The run clears the flag as its last step; poll it as the batch start does.
        while (g_running) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        worker.join();
    } catch (const std::system_error&) {
        g_running = false;
        ShowError("cannot create processing thread!!!");
        return kRunFailed;
    }
    return result;
}

StartResult StartProcessingInBackground() {
    if (g_running.exchange(true)) return kRunNotStarted;
    WaitForBackgroundRun();
    if (!output_folder_exists()) {
        g_running = false;
        return kRunNotStarted;
    }
    try {
        background_worker() = std::thread([] {
            lower_thread_priority();
            run_steps_now();
            g_running = false;
            ShowProgress(0, kRunEnded);
        });
    } catch (const std::system_error&) {
        g_running = false;
        ShowError("cannot create processing thread!!!");
        return kRunNotStarted;
    }
    return kRunSucceeded;
}

void WaitForBackgroundRun() {
    if (background_worker().joinable()) background_worker().join();
}

}  // namespace tallowick::run
