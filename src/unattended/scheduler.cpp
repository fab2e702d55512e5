#include "unattended/scheduler.h"

#include <algorithm>
#include <cmath>
#include <system_error>

#include "base/julian_date.h"
#include "base/status.h"
#include "logs/log_list.h"
#include "logs/remote_listing.h"
#include "platform/folders.h"
#include "run/live_settings.h"
#include "run/processing.h"

namespace tallowick::unattended {

namespace fs = std::filesystem;

namespace {

// A start far in the past must not keep the month loop going for ever.
constexpr int kMaxCalendarSteps = 1'000'000;

double next_by_calendar(const ScheduleEntry& entry, int count, double now) {
    const CalendarTime start = CalendarFromJulian(entry.start);
    const int months = entry.repeat_unit == kYears ? count * 12 : count;
    long long index = static_cast<long long>(start.year) * 12 + (start.month - 1);
    double next = entry.start;
    for (int step = 0; next < now && step < kMaxCalendarSteps; ++step) {
        index += months;
        next = JulianDate(static_cast<int>(index / 12), static_cast<int>(index % 12) + 1, start.day,
                          start.hour, start.minute, start.second);
    }
    return next;
}

std::string repeat_text(const ScheduleEntry& e) {
    return std::to_string(e.repeat_count) + " " + std::string(unit_word(e.repeat_unit));
}

}  // namespace

double computeNextRun(ScheduleEntry& entry, double now) {
    const int count = std::max(entry.repeat_count, 1);
    if (now <= entry.start) {
        // A start still ahead is the first run (a step from it would skip that run).
        entry.next = entry.start;
    } else if (entry.repeat_unit == kMonths || entry.repeat_unit == kYears) {
        entry.next = next_by_calendar(entry, count, now);
    } else {
        const double step = entry.repeat_unit == kMins ? count * 60.0
                            : entry.repeat_unit == kHrs ? count * 3600.0
                                                        : count * 86400.0;
        const double now_s = now * 86400.0;
        const double start_s = std::ceil(entry.start * 86400.0);
        const double k = std::trunc((now_s - start_s) / step) + 1;
        entry.next = (start_s + k * step) / 86400.0;
    }
    return entry.next;
}

Scheduler::Scheduler(fs::path file, SchedulerHooks hooks)
    : file_(std::move(file)), hooks_(std::move(hooks)) {}

double Scheduler::now() const { return hooks_.now ? hooks_.now() : JulianNow(); }

fs::file_time_type Scheduler::scheduleFileStamp() const {
    std::error_code ec;
    const fs::file_time_type stamp = fs::last_write_time(file_, ec);
    return ec ? fs::file_time_type::min() : stamp;
}

void Scheduler::initSchedule(bool for_service) {
    service_form_ = for_service;
    transcript(for_service ? "Initializing Schedule for NT Service" : "Initializing Schedule",
               for_service);
    stamp_ = scheduleFileStamp();
    readSchedule(file_, list_);
}

void Scheduler::tickScheduler() {
    if (run::run_in_progress()) return;
    if (started_entry_ != 0) {
        transcript("(" + std::to_string(started_entry_) + ") Run ended");
        started_entry_ = 0;
    }
    const double current = now();
    for (ScheduleEntry& entry : list_.entries()) {
        if (entry.next == 0) computeNextRun(entry);
        if (!entry.enabled || run::run_in_progress() || run::scheduled_run_in_progress()) continue;
        if (DebugText()) {
            ShowStatus("Schedule checking : (" + std::to_string(entry.number) + ") log (" +
                       entry.logs + ")");
            ShowStatus("Start=" + schedule_date_text(entry.start));
            ShowStatus("Repeat = " + repeat_text(entry));
            ShowStatus("Next Run=" + schedule_date_text(entry.next));
        }
        if (current > entry.next) {
            // The save below would undo an edit made since the last read: read the
            // file first; a job that is still due runs at the next tick.
            if (scheduleFileStamp() != stamp_) {
                initSchedule(service_form_);
                return;
            }
            computeNextRun(entry);
            save();
            stamp_ = scheduleFileStamp();   // our own save is no change to re-read
            runScheduleEntry(entry);
        }
    }
}

void Scheduler::add_logs(const std::string& logs_text) {
    logs::LogList& list = run::log_list();
    std::size_t pos = 0;
    while (pos <= logs_text.size()) {
        std::size_t comma = logs_text.find(',', pos);
        if (comma == std::string::npos) comma = logs_text.size();
        const std::string item = logs_text.substr(pos, comma - pos);
        pos = comma + 1;
        while (pos < logs_text.size() && logs_text[pos] == ' ') ++pos;
        if (item.empty()) continue;
        if (item.find('*') == std::string::npos) {
            list.AddLog(item);
        } else if (item.find("ftp:") != std::string::npos || item.find("http:") != std::string::npos) {
            std::string error;
            const std::vector<std::string> urls = logs::ListRemotePattern(item, error);
            if (!error.empty()) transcript("Cannot list '" + item + "': " + error);
            else if (urls.empty()) transcript("No files matched wildcard '" + item + "'");
            for (const std::string& url : urls) list.add_from_setting(url);
        } else {
            const std::size_t before = list.size();
            list.AddLogPattern(item);
            if (list.size() == before) transcript("No files matched wildcard '" + item + "'");
        }
    }
}

void Scheduler::prepare_output_path() {
    const Settings& s = run::settings();
    const std::string expanded = platform::normalise_path(
        logs::ExpandLogName(s.run.out, logs::LogNameContext::for_run(s.dates, s.run.siteurl)));
    std::error_code ec;
    if (fs::exists(expanded, ec)) {
        transcript("Output path (" + s.run.out + ")");
        return;
    }
    transcript("Output path not found (" + s.run.out + ")");
    transcript("Output path mapped to (" + expanded + ")");
    // A path ending in a separator names the folder itself; otherwise its last part is
    // the report's file name.
    const std::string folder =
        !expanded.empty() && expanded.back() == '/' ? expanded : platform::folder_of(expanded);
    transcript("Making dir (" + folder + ")");
    fs::create_directories(folder, ec);
}

bool Scheduler::runScheduleEntry(const ScheduleEntry& entry) {
    // The settings kept aside belong to the active run until it ends.
    if (run::run_in_progress()) return false;
    run::keep_settings_for_run();
    run::log_list().clear();
    if (!hooks_.load_settings || !hooks_.load_settings(entry.settings_file)) {
        transcript("failed to open settings " + entry.settings_file);
        run::restore_kept_settings();
        return false;
    }
    Settings& s = run::settings();
    if (entry.upload.size() > 2) {
        s.post.postproclocation = entry.upload;
        s.post.sendto = true;
    }
    add_logs(entry.logs);
    prepare_output_path();

    transcript("(" + std::to_string(entry.number) + ") Processing log (" + entry.logs + ")");
    transcript("Start=" + schedule_date_text(entry.start));
    transcript("Repeat = " + repeat_text(entry));
    transcript("Next Run=" + schedule_date_text(entry.next));
    if (entry.upload.size() > 2) transcript("Upload to (" + entry.upload + ")");
    for (const std::string& name : run::log_list().names())
        transcript("Log to process - '" + name + "'");

    if (run::StartProcessing(false) != run::kRunSucceeded) return false;
    started_entry_ = entry.number;
    return true;
}

}  // namespace tallowick::unattended
