#include "run/processing.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>

#include "base/status.h"
#include "platform/folders.h"
#include "platform/system.h"
#include "run/live_settings.h"

namespace tallowick::run {

namespace {

std::atomic<bool> g_running{false};
std::atomic<bool> g_scheduled{false};

// The processing thread and what the run left behind. The thread is joined by the
// next start, by wait_for_run, or at exit.
struct Worker {
    std::thread thread;
    std::atomic<StartResult> result{kRunSucceeded};
    ~Worker() {
        if (thread.joinable()) thread.join();
    }
};

Worker& worker() {
    static Worker w;
    return w;
}

struct Kept {
    Settings settings;
    logs::LogList logs;
};

// Written only while no run is active (keep) or by the run's own thread (restore).
std::optional<Kept>& kept() {
    static std::optional<Kept> k;
    return k;
}

struct Cancel {
    std::mutex mutex;
    bool requested = false;
    std::function<void()> handler;
};

Cancel& cancel_state() {
    static Cancel c;
    return c;
}

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

constexpr std::string_view kRunEnded = "Report Completed.";

// The steps of one run. Its end ("Report Completed.") is announced by the caller
// once the run-in-progress flag is down, so that whoever hears it (a remote
// client) may start the next run at once.
StartResult run_steps_now() {
    auto& steps = run_steps();
    long errors_before = error_count();
    int rc = 0;
    if (steps.prepare_post_processing) rc = steps.prepare_post_processing();
    if (rc == 0 && steps.analyse) rc = steps.analyse();
    if (rc == 0 && !out_of_memory() && steps.post_process) rc = steps.post_process();
    restore_kept_settings();
    if (rc != 0 || out_of_memory() || error_count() != errors_before) return kRunFailed;
    return kRunSucceeded;
}

}  // namespace

RunSteps& run_steps() {
    static RunSteps steps;
    return steps;
}

bool run_in_progress() { return g_running; }
bool scheduled_run_in_progress() { return g_scheduled; }

void keep_settings_for_run() {
    kept() = Kept{settings(), log_list()};
    g_scheduled = true;
}

void restore_kept_settings() {
    if (!kept()) return;
    settings() = std::move(kept()->settings);
    log_list() = std::move(kept()->logs);
    kept().reset();
    g_scheduled = false;
}

void cancel_run() {
    Cancel& c = cancel_state();
    std::lock_guard lock(c.mutex);
    c.requested = true;
    if (c.handler) c.handler();
}

CancelRegistration::CancelRegistration(std::function<void()> cancel) {
    Cancel& c = cancel_state();
    std::lock_guard lock(c.mutex);
    c.handler = std::move(cancel);
    if (c.requested) c.handler();
}

CancelRegistration::~CancelRegistration() {
    Cancel& c = cancel_state();
    std::lock_guard lock(c.mutex);
    c.handler = nullptr;
}

StartResult StartProcessing(bool synchronous) {
    if (g_running) return kRunNotStarted;
    const std::string out = settings().run.out;
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
            restore_kept_settings();
            return kRunNotStarted;
        }
    }
    {
        std::lock_guard lock(cancel_state().mutex);
        cancel_state().requested = false;
    }

    if (synchronous) {
        const StartResult result = run_steps_now();
        ShowProgress(0, kRunEnded);
        return result;
    }

    Worker& w = worker();
    if (w.thread.joinable()) w.thread.join();
    g_running = true;
    try {
        w.thread = std::thread([&w] {
            lower_thread_priority();
            w.result = run_steps_now();
            g_running = false;
            ShowProgress(0, kRunEnded);
        });
    } catch (const std::system_error&) {
        g_running = false;
        restore_kept_settings();
        ShowError("cannot create processing thread!!!");
        return kRunFailed;
    }
    return kRunSucceeded;
}

StartResult wait_for_run() {
    // Blocked in the join, not polling: a waiter that wakes every millisecond
    // keeps a second core busy, and each block the run hands back to the system
    // then has to interrupt that core.
    Worker& w = worker();
    if (w.thread.joinable()) w.thread.join();
    return w.result;
}

}  // namespace tallowick::run
