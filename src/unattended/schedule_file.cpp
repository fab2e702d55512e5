#include "unattended/schedule_file.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "base/atomic_file.h"
#include "base/case_compare.h"
#include "base/julian_date.h"
#include "base/status.h"
#include "platform/folders.h"

namespace tallowick::unattended {

namespace {

constexpr std::size_t kMaxLine = 2048;
constexpr int kMaxRepeatCount = 10000;

std::string clipped(std::string_view text, std::size_t limit) {
    return std::string(text.substr(0, limit));
}

// The file's lines without their ends, each cut at kMaxLine characters.
bool read_lines(const std::filesystem::path& path, std::vector<std::string>& lines) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::string text;
    char block[8192];
    std::size_t got;
    while ((got = std::fread(block, 1, sizeof block, f)) > 0) text.append(block, got);
    std::fclose(f);
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string_view line(text.data() + pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(clipped(line, kMaxLine));
        pos = end + 1;
    }
    return true;
}

// An older file's repeat: an interval in days, turned into whole minutes and then
// into the largest unit that holds it exactly.
void repeat_from_interval(ScheduleEntry& e) {
    const double minutes = e.interval * 1440.0;
    double whole = std::floor(minutes);
    if (minutes - whole > 0.5) whole += 1;
    // Garbage intervals must not overflow the conversion.
    const long m = std::isfinite(whole) && std::fabs(whole) < 1e9 ? static_cast<long>(whole) : 0;
    const long h = m / 60;
    if (h >= 1 && h % 24 == 0) {
        e.repeat_count = static_cast<int>(m / 1440);
        e.repeat_unit = kDays;
    } else if (m % 60 != 0) {
        e.repeat_count = static_cast<int>(m);
        e.repeat_unit = kMins;
    } else {
        e.repeat_count = static_cast<int>(h);
        e.repeat_unit = kHrs;
    }
}

void read_repeat(std::string_view line, ScheduleEntry& e) {
    const std::string text(line);
    const std::size_t comma = text.find(',');
    if (comma != std::string::npos) {
        e.repeat_count = std::atoi(text.c_str());
        e.repeat_unit = std::atoi(text.c_str() + comma + 1);
    } else {
        e.interval = std::strtod(text.c_str(), nullptr);
        repeat_from_interval(e);
    }
    // Units 5 to 7 are never written; they run as minutes, like the larger ones.
    if (e.repeat_unit < kMins || e.repeat_unit > kYears) e.repeat_unit = kMins;
    if (e.repeat_count > kMaxRepeatCount || e.repeat_count < 1) e.repeat_count = 1;
}

void read_dates(std::string_view line, ScheduleEntry& e) {
    const std::string text(line);
    e.start = std::strtod(text.c_str(), nullptr);
    const std::size_t comma = text.find(',');
    if (comma != std::string::npos) e.next = std::strtod(text.c_str() + comma + 1, nullptr);
    if (!std::isfinite(e.start)) e.start = 0;
    if (!std::isfinite(e.next)) e.next = 0;
}

std::string entry_summary(const ScheduleEntry& e) {
    return "Schedule " + std::to_string(e.number) + ": Repeat=" + std::to_string(e.repeat_count) +
           " " + std::string(unit_word(e.repeat_unit)) + ", Start=" +
           schedule_date_text(e.start) + ", Next=" + schedule_date_text(e.next) +
           ", Log=" + e.logs;
}

}  // namespace

std::string_view unit_word(int unit) {
    static constexpr std::string_view kWords[] = {"mins", "hrs", "days", "months", "years"};
    return unit >= kMins && unit <= kYears ? kWords[unit] : kWords[kMins];
}

ScheduleEntry new_schedule_entry(int number, double now) {
    ScheduleEntry e;
    e.number = number;
    e.start = now;
    return e;
}

ScheduleEntry& ScheduleList::create(double now) {
    return entries_.emplace_back(new_schedule_entry(count() + 1, now));
}

bool ScheduleList::remove(int position) {
    if (position == 0) {
        entries_.clear();
        return true;
    }
    if (position < 1 || position > count()) return false;
    entries_.erase(entries_.begin() + (position - 1));
    for (int i = 0; i < count(); ++i) entries_[static_cast<std::size_t>(i)].number = i + 1;
    return true;
}

ScheduleEntry* ScheduleList::get(int position) {
    if (position < 1 || position > count()) return nullptr;
    return &entries_[static_cast<std::size_t>(position - 1)];
}

void ScheduleList::reset_next_runs() {
    for (ScheduleEntry& e : entries_) e.next = 0;
}

bool readSchedule(const std::filesystem::path& path, ScheduleList& list) {
    list.remove(0);
    std::vector<std::string> lines;
    if (!read_lines(path, lines)) {
        transcript("Cannot read schedule file " + path.string());
        return false;
    }
    ScheduleEntry* current = nullptr;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string_view line = lines[i];
        if (!line.empty() && line.front() == '#') {
            current = &list.create(0);
            current->next = 0;
            auto field = [&](std::size_t k) -> std::string_view {
                return i + k < lines.size() ? std::string_view(lines[i + k]) : std::string_view();
            };
            current->enabled = field(1).size() > 1 && field(1)[1] == 'n';
            current->logs = clipped(field(2), kMaxScheduleLogs);
            current->settings_file = clipped(field(3), kMaxSchedulePath);
            read_dates(field(4), *current);
            read_repeat(field(5), *current);
            i = std::min(i + 5, lines.size());
            transcript(entry_summary(*current));
        } else if (current && starts_with_ci(line, "sendto: ")) {
            current->upload = clipped(line.substr(8), kMaxSchedulePath);
        }
    }
    transcript("Read " + std::to_string(list.count()) + " schedules from config file " +
               path.string());
    return true;
}

std::string schedule_text(const ScheduleList& list) {
    std::string text;
    char numbers[160];
    for (std::size_t i = 0; i < list.entries().size(); ++i) {
        const ScheduleEntry& e = list.entries()[i];
        text += "#-- Schedule " + std::to_string(i + 1) + "\n";
        text += e.enabled ? "On\n" : "Off\n";
        text += e.logs + "\n";
        text += e.settings_file + "\n";
        std::snprintf(numbers, sizeof numbers, "%.6lf,%.6lf", e.start, e.next);
        text += std::string(numbers) + " # StartDate=" + schedule_date_text(e.start) +
                ", NextRun=" + schedule_date_text(e.next) + "\n";
        std::snprintf(numbers, sizeof numbers, "%d,%d # Repeat every %d ", e.repeat_count,
                      e.repeat_unit, e.repeat_count);
        text += std::string(numbers) + std::string(unit_word(e.repeat_unit)) + "\n";
        if (e.upload.size() > 2) text += "sendto: " + e.upload + "\n";
    }
    return text;
}

bool saveSchedule(const std::filesystem::path& path, const ScheduleList& list) {
    std::string error;
    if (!write_file_atomically(path, schedule_text(list), error)) {
        transcript("Cannot write schedule file " + error);
        return false;
    }
    transcript("Saved " + std::to_string(list.count()) + " schedules to " + path.string());
    return true;
}

std::string schedule_date_text(double julian) {
    if (julian == 0) return "N/A";
    const CalendarTime t = CalendarFromJulian(julian);
    char text[64];
    std::snprintf(text, sizeof text, "%02d/%02d/%04d %02d:%02d:%02d", t.day, t.month, t.year,
                  t.hour, t.minute, t.second);
    return text;
}

std::filesystem::path schedule_file_path() { return platform::program_folder() / "def_sched.txt"; }
std::filesystem::path schedule_log_path() { return platform::program_folder() / "schedlog.txt"; }
std::filesystem::path scheduler_lock_path() {
    return platform::program_folder() / "tallowick-scheduler.lock";
}

void transcript(std::string_view line, bool service_tag) {
    AppendMessageLog(schedule_log_path().string(), line, service_tag ? -1 : 0);
    ShowStatus(line);
}

}  // namespace tallowick::unattended
