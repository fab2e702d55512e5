// The schedule: the list of reporting jobs, its file "def_sched.txt" and the
// transcript "schedlog.txt", both in the program folder.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tallowick::unattended {

enum RepeatUnit : int { kMins = 0, kHrs = 1, kDays = 2, kMonths = 3, kYears = 4 };

// "mins", "hrs", "days", "months", "years"; "mins" for a value out of range.
std::string_view unit_word(int unit);

// The longest logs text and settings-file or destination path an entry keeps.
inline constexpr std::size_t kMaxScheduleLogs = 2000;
inline constexpr std::size_t kMaxSchedulePath = 255;

struct ScheduleEntry {
    int number = 0;          // 1-based position in the list
    bool enabled = false;
    double start = 0;        // Julian date of the first run
    double interval = 0;     // repeat in days, only read from old files
    double next = 0;         // Julian date of the next run; 0 until computed
    int repeat_count = 1;    // 1..10000
    int repeat_unit = kDays;
    std::string logs = "webserver.log";   // comma-separated log sources
    std::string settings_file = "default.tkp";
    std::string upload;                   // "sendto" destination, empty for none
};

// A new job: disabled, starting now, daily, over "webserver.log" with "default.tkp".
ScheduleEntry new_schedule_entry(int number, double now);

// The jobs in file order; numbers follow positions.
class ScheduleList {
public:
    ScheduleEntry& create(double now);   // appends a new entry
    // Removes the entry at a 1-based position (0 removes all); false when there is none.
    bool remove(int position);
    ScheduleEntry* get(int position);    // nullptr when out of range
    int count() const { return static_cast<int>(entries_.size()); }
    void reset_next_runs();

    std::vector<ScheduleEntry>& entries() { return entries_; }
    const std::vector<ScheduleEntry>& entries() const { return entries_; }

private:
    std::vector<ScheduleEntry> entries_;
};

// Reads the schedule file into list (emptied first); unreadable lines and numbers
// read as in older files. Returns false when the file cannot be opened, after the
// transcript line "Cannot read schedule file %s".
bool readSchedule(const std::filesystem::path& path, ScheduleList& list);
// Replaces the schedule file atomically; false (and a transcript line) on failure.
bool saveSchedule(const std::filesystem::path& path, const ScheduleList& list);

// The file's text, as saveSchedule writes it.
std::string schedule_text(const ScheduleList& list);

// A Julian date as "DD/MM/YYYY HH:MM:SS" for people; "N/A" for 0.
std::string schedule_date_text(double julian);

// The schedule file and the transcript in the program folder.
std::filesystem::path schedule_file_path();
std::filesystem::path schedule_log_path();
// The lock of the one scheduler that may tick over this program folder.
std::filesystem::path scheduler_lock_path();

// Appends a line to the transcript and shows it on the status line; service_tag
// writes it (and every later line of the process) in the service form.
void transcript(std::string_view line, bool service_tag = false);

}  // namespace tallowick::unattended
