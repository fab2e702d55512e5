#include "app/schedule_command.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "base/case_compare.h"
#include "base/julian_date.h"
#include "unattended/schedule_file.h"
#include "unattended/scheduler.h"

namespace tallowick::app {

namespace fs = std::filesystem;
using unattended::ScheduleEntry;
using unattended::ScheduleList;

namespace {

constexpr int kBadArguments = 2;

int fail(const std::string& text) {
    std::fprintf(stderr, "Tallowick: %s (see -h)\n", text.c_str());
    return kBadArguments;
}

// A local name made absolute, so that the service, which works in the program
// folder, finds it; remote locations stay as they are.
std::string absolute_name(std::string_view name) {
    if (name.find("://") != std::string_view::npos || name.empty()) return std::string(name);
    std::error_code ec;
    fs::path p = fs::absolute(fs::path(std::string(name)), ec);
    return ec ? std::string(name) : p.string();
}

std::string absolute_logs(std::string_view logs) {
    std::string out;
    std::size_t pos = 0;
    while (pos <= logs.size()) {
        std::size_t comma = logs.find(',', pos);
        if (comma == std::string_view::npos) comma = logs.size();
        std::string_view item = logs.substr(pos, comma - pos);
        while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
        if (!item.empty()) out += (out.empty() ? "" : ",") + absolute_name(item);
        pos = comma + 1;
    }
    return out;
}

// "YYYY-MM-DD" with an optional "HH:MM[:SS]" as the next argument, or "now".
std::optional<double> parse_start(std::span<const std::string_view> args, std::size_t& i) {
    const std::string date(args[i]);
    if (equals_ci(date, "now")) return JulianNow();
    int y = 0, m = 0, d = 0, hh = 0, mm = 0, ss = 0;
    char tail = 0;
    if (std::sscanf(date.c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &tail) != 3) return std::nullopt;
    if (i + 1 < args.size() && args[i + 1].find(':') != std::string_view::npos) {
        const std::string time(args[++i]);
        const int got = std::sscanf(time.c_str(), "%2d:%2d:%2d%c", &hh, &mm, &ss, &tail);
        if (got < 2 || got > 3) return std::nullopt;
    }
    if (y < 1900 || m < 1 || m > 12 || d < 1 || d > 31 || hh > 23 || mm > 59 || ss > 59 || hh < 0 ||
        mm < 0 || ss < 0)
        return std::nullopt;
    return JulianDate(y, m, d, hh, mm, ss);
}

std::optional<int> unit_of(std::string_view word) {
    for (int unit = unattended::kMins; unit <= unattended::kYears; ++unit)
        if (equals_ci(word, unattended::unit_word(unit))) return unit;
    return std::nullopt;
}

int add(ScheduleList& list, std::span<const std::string_view> args) {
    if (args.size() < 2) return fail("-schedule add needs the logs and a settings file");
    ScheduleEntry& e = list.create(JulianNow());
    e.logs = absolute_logs(args[0]).substr(0, unattended::kMaxScheduleLogs);
    e.settings_file = absolute_name(args[1]).substr(0, unattended::kMaxSchedulePath);
    for (std::size_t i = 2; i < args.size(); ++i) {
        std::string_view word = args[i];
        const bool has_value = i + 1 < args.size();
        if (equals_ci(word, "on")) {
            e.enabled = true;
        } else if (equals_ci(word, "start") && has_value) {
            auto start = parse_start(args, ++i);
            if (!start) return fail("-schedule add: start wants YYYY-MM-DD [HH:MM[:SS]] or now");
            e.start = *start;
        } else if (equals_ci(word, "every") && i + 2 < args.size()) {
            const std::string count(args[i + 1]);
            char* end = nullptr;
            const long n = std::strtol(count.c_str(), &end, 10);
            auto unit = unit_of(args[i + 2]);
            if (*end != 0 || n < 1 || n > 10000 || !unit)
                return fail("-schedule add: every wants a count of 1 to 10000 and "
                            "mins, hrs, days, months or years");
            e.repeat_count = static_cast<int>(n);
            e.repeat_unit = *unit;
            i += 2;
        } else if (equals_ci(word, "sendto") && has_value) {
            e.upload = std::string(args[++i]).substr(0, unattended::kMaxSchedulePath);
        } else {
            return fail("-schedule add: unknown word '" + std::string(word) + "'");
        }
    }
    // Worked out now, so that a start still ahead is kept even when the service is
    // busy with another run at that moment.
    unattended::computeNextRun(e, JulianNow());
    return 0;
}

void print_list(const ScheduleList& list) {
    if (list.count() == 0) std::printf("The schedule has no jobs.\n");
    for (const ScheduleEntry& e : list.entries()) {
        std::printf("%d %s every %d %.*s, start %s, next run %s\n", e.number,
                    e.enabled ? "On " : "Off", e.repeat_count,
                    static_cast<int>(unattended::unit_word(e.repeat_unit).size()),
                    unattended::unit_word(e.repeat_unit).data(),
                    unattended::schedule_date_text(e.start).c_str(),
                    unattended::schedule_date_text(e.next).c_str());
        std::printf("    logs: %s\n    settings: %s\n", e.logs.c_str(), e.settings_file.c_str());
        if (e.upload.size() > 2) std::printf("    sendto: %s\n", e.upload.c_str());
    }
}

}  // namespace

bool is_schedule_command(std::string_view first) { return equals_ci(first, "-schedule"); }

int schedule_command(std::span<const std::string_view> args) {
    if (args.empty()) return fail("-schedule wants list, add, on, off or remove");
    const fs::path file = unattended::schedule_file_path();
    ScheduleList list;
    std::error_code ec;
    if (fs::exists(file, ec)) unattended::readSchedule(file, list);
    const std::string_view verb = args[0];
    if (equals_ci(verb, "list")) {
        print_list(list);
        return 0;
    }
    if (equals_ci(verb, "add")) {
        if (int rc = add(list, args.subspan(1)); rc != 0) return rc;
    } else if (equals_ci(verb, "on") || equals_ci(verb, "off") || equals_ci(verb, "remove")) {
        const std::string number = args.size() == 2 ? std::string(args[1]) : std::string();
        char* end = nullptr;
        const long n = std::strtol(number.c_str(), &end, 10);
        const bool remove = equals_ci(verb, "remove");
        if (number.empty() || *end != 0 || n < (remove ? 0 : 1) || n > list.count())
            return fail("-schedule " + std::string(verb) + ": no job number " + number);
        if (remove) {
            list.remove(static_cast<int>(n));
        } else {
            ScheduleEntry& e = *list.get(static_cast<int>(n));
            e.enabled = equals_ci(verb, "on");
            unattended::computeNextRun(e, JulianNow());
        }
    } else {
        return fail("-schedule wants list, add, on, off or remove");
    }
    if (!unattended::saveSchedule(file, list)) {
        std::fprintf(stderr, "Tallowick: cannot write %s\n", file.c_str());
        return 1;
    }
    print_list(list);
    return 0;
}

}  // namespace tallowick::app
