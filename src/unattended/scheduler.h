// The scheduler: once a second it looks for a due job of the schedule, and starts
// it as a normal run over the job's logs with the job's settings file, the settings
// in force being kept aside until the run ends.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "unattended/schedule_file.h"

namespace tallowick::unattended {

// computeNextRun: the first run time of the entry's repeat that lies after now
// (the start itself while it is still ahead); stored in entry.next and returned.
double computeNextRun(ScheduleEntry& entry, double now);

struct SchedulerHooks {
    // The current local time as a Julian date; JulianNow when empty.
    std::function<double()> now;
    // Loads a settings file into the live settings record (the program entry's
    // settings-file loader); returns whether it was loaded. Jobs cannot run without it.
    std::function<bool(const std::string& path)> load_settings;
};

class Scheduler {
public:
    explicit Scheduler(std::filesystem::path file = schedule_file_path(), SchedulerHooks hooks = {});

    // initSchedule: the transcript line ("Initializing Schedule", or "... for NT
    // Service" in the service form), then the file's time stamp is remembered and
    // the file read.
    void initSchedule(bool for_service);

    // tickScheduler: the once-a-second check. Computes missing next runs; a due,
    // enabled entry gets its next run advanced, the schedule saved, and is run.
    // Nothing starts while a run is in progress. A schedule file changed since it
    // was read is read again before a save could undo the change. The first tick
    // after a job's run writes "(%d) Run ended" to the transcript.
    void tickScheduler();

    double computeNextRun(ScheduleEntry& entry) const { return unattended::computeNextRun(entry, now()); }

    // runScheduleEntry: loads the job's settings over the kept ones, builds the log
    // list, makes the output folder and starts the run on the processing thread.
    // Returns whether the run started; on failure the kept settings are back.
    bool runScheduleEntry(const ScheduleEntry& entry);

    // Last-write time of the schedule file (the clock's minimum when absent), and
    // the one remembered by the last initSchedule. Finer than seconds, so that an
    // edit in the second of the scheduler's own save is still seen.
    std::filesystem::file_time_type scheduleFileStamp() const;
    std::filesystem::file_time_type remembered_stamp() const { return stamp_; }

    ScheduleList& list() { return list_; }
    const std::filesystem::path& file() const { return file_; }
    bool save() const { return saveSchedule(file_, list_); }

private:
    double now() const;
    void add_logs(const std::string& logs_text);
    void prepare_output_path();

    std::filesystem::path file_;
    SchedulerHooks hooks_;
    ScheduleList list_;
    std::filesystem::file_time_type stamp_ = std::filesystem::file_time_type::min();
    int started_entry_ = 0;
    bool service_form_ = false;   // as the last initSchedule was called   // the number of the job whose run was started last
};

}  // namespace tallowick::unattended
