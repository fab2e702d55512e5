#include "base/status.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace tallowick {

namespace {

// Reports arrive from the processing thread and the main thread; the mutex keeps
// sink calls and the progress state consistent. Reports are rare next to log
// lines, so the lock costs nothing measurable.
struct StatusState {
    std::mutex mutex;
    ProcessMode mode;
    StatusSink* sink = nullptr;
    StatusSink* remote = nullptr;
    bool progress_started = false;
    int last_percent = -1;
    std::uint64_t lines = 0;
    std::string log_name;
    bool service_log_form = false;
};

StatusState& state() {
    static StatusState s;
    return s;
}

std::atomic<bool> g_out_of_memory{false};
std::atomic<long> g_error_count{0};

void write_debug(std::string_view text) {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
}

void show_status_locked(StatusState& s, std::string_view text) {
    if (s.mode.debug) write_debug(text);
    if (s.sink) s.sink->status(text);
}

void show_progress_locked(StatusState& s, int percent, std::string_view text,
                          std::string_view time_left) {
    if (!text.empty()) show_status_locked(s, text);
    if (s.sink) s.sink->progress(percent, text, time_left);
    if (s.remote) s.remote->progress(percent, text, time_left);
}

}  // namespace

ProcessMode& process_mode() { return state().mode; }

StatusSink* set_status_sink(StatusSink* sink) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    StatusSink* previous = s.sink;
    s.sink = sink;
    return previous;
}

void set_remote_status_sink(StatusSink* sink) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.remote = sink;
}

void ShowStatus(std::string_view text) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    show_status_locked(s, text);
}

bool DebugText(std::string_view text) {
    auto& s = state();
    if (!s.mode.debug) return false;
    if (!text.empty()) {
        std::lock_guard lock(s.mutex);
        write_debug(text);
        if (s.sink) s.sink->debug(text);
    }
    return true;
}

void ShowProgress(int percent, std::string_view text) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    show_progress_locked(s, percent, text, {});
}

void set_progress_lines(std::uint64_t lines, std::string_view log_name) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.lines = lines;
    s.log_name.assign(log_name);
}

double now_seconds() {
    using namespace std::chrono;
    auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<double>(ms / 1000) + static_cast<double>(ms % 1000) * 1000 * 0.000001;
}

std::string with_thousands(std::uint64_t n) {
    std::string digits = std::to_string(n);
    std::string out;
    out.reserve(digits.size() + digits.size() / 3);
    std::size_t lead = digits.size() % 3;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && i % 3 == lead) out += ',';
        out += digits[i];
    }
    return out;
}

std::string time_left_text(double elapsed, int percent) {
    if (percent <= 0) return {};
    long left = static_cast<long>(elapsed * 100.0 / percent - elapsed);
    if (left <= 0) return {};
    char buf[64];
    // Under two minutes the estimate reads better in seconds.
    if (left >= 120)
        std::snprintf(buf, sizeof buf, "    %2ld:%02ld left", (left / 60) % 60, left % 60);
    else
        std::snprintf(buf, sizeof buf, "      %2ld sec left", left);
    return buf;
}

void ReportProgress(int percent, bool force, std::string_view text, double start_seconds) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (percent < 0) {
        s.progress_started = false;
        s.last_percent = -1;
        return;
    }
    if (!s.progress_started) {
        s.progress_started = true;
        show_status_locked(s, "Generating Report...Please Wait...");
    }
    if (percent == s.last_percent && !force) return;

    std::string left;
    if (percent > 0 && start_seconds > 0)
        left = time_left_text(now_seconds() - start_seconds, percent);

    std::string line;
    if (!text.empty()) {
        line.assign(text);
    } else {
        line = with_thousands(s.lines) + " lines processed... " + s.log_name;
    }
    show_progress_locked(s, percent, line, left);
    s.last_percent = percent;
}

void ShowError(std::string_view text) {
    if (text.empty()) return;
    ++g_error_count;
    auto& s = state();
    std::string service_log;
    {
        std::lock_guard lock(s.mutex);
        if (s.mode.command_line) {
            // Standard output keeps the summary line and the report's path for
            // scripts; errors go beside the live progress line, which the sink
            // clears first.
            if (s.sink) s.sink->error(text);
            std::fwrite(text.data(), 1, text.size(), stderr);
            if (text.back() != '\n') std::fputc('\n', stderr);
            std::fflush(stderr);
        } else {
            if (s.sink) s.sink->error(text);
            if (s.remote) {
                s.remote->error(text);
            } else if (!s.mode.service) {
                std::fprintf(stderr, "Tallowick: %.*s", static_cast<int>(text.size()), text.data());
                if (text.back() != '\n') std::fputc('\n', stderr);
            }
        }
        if (s.mode.debug) write_debug(text);
        if (s.mode.service) service_log = s.mode.service_log;
    }
    if (!service_log.empty()) AppendMessageLog(service_log, text, 0);
}

void ShowWarning(std::string_view text) {
    if (text.empty()) return;
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (s.mode.command_line) {
        if (s.sink) s.sink->progress_done();
        std::fprintf(stderr, "Warning: %.*s\n", static_cast<int>(text.size()), text.data());
        std::fflush(stderr);
    } else {
        show_status_locked(s, text);
    }
    if (s.mode.debug) write_debug(text);
}

std::string message_log_line(const std::tm& tm, std::string_view text, long code,
                             bool service_form) {
    char head[96];
    if (service_form || code == -1)
        std::snprintf(head, sizeof head, "%02d:%02d:%02d %d/%d - NTSERVICE:    ", tm.tm_hour,
                      tm.tm_min, tm.tm_sec, tm.tm_mday, tm.tm_mon + 1);
    else if (code != 0)
        std::snprintf(head, sizeof head, "%02d:%02d:%02d %d/%d - err=(%ld):    ", tm.tm_hour,
                      tm.tm_min, tm.tm_sec, tm.tm_mday, tm.tm_mon + 1, code);
    else
        std::snprintf(head, sizeof head, "%02d:%02d:%02d %d/%d :    ", tm.tm_hour, tm.tm_min,
                      tm.tm_sec, tm.tm_mday, tm.tm_mon + 1);
    std::string line = head;
    line.append(text);
    line += '\n';
    return line;
}

void AppendMessageLog(const std::string& path, std::string_view text, long code) {
    auto& s = state();
    std::tm tm{};
    std::time_t now = std::time(nullptr);
    localtime_r(&now, &tm);
    bool service_form;
    {
        std::lock_guard lock(s.mutex);
        if (code == -1) s.service_log_form = true;
        service_form = s.service_log_form;
    }
    std::string line = message_log_line(tm, text, code, service_form);
    std::FILE* f = std::fopen(path.c_str(), "a+");
    if (!f) {
        DebugText("cannot open log " + path);
        return;
    }
    std::fwrite(line.data(), 1, line.size(), f);
    std::fclose(f);
}

void OutOfMemory(std::string_view what, long needed) {
    if (what.empty())
        ShowError("Not enough memory!!!");
    else
        ShowError(std::string(what) + ", needed " + std::to_string(needed));
    g_out_of_memory = true;
}

bool out_of_memory() { return g_out_of_memory; }
void clear_out_of_memory() { g_out_of_memory = false; }

long error_count() { return g_error_count; }
void reset_error_count() { g_error_count = 0; }

}  // namespace tallowick
