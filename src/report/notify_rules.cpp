#include "report/notify_rules.h"

#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "base/atomic_file.h"
#include "base/julian_date.h"
#include "base/status.h"
#include "engine/stat_list.h"
#include "logs/pattern.h"
#include "platform/system.h"

namespace tallowick::report {

namespace {

using engine::ReportStats;
using engine::StatList;

struct TableWord {
    std::string_view word;
    std::unique_ptr<StatList> ReportStats::*list;
};

// The tables a rule may name, by their words.
constexpr std::array<TableWord, 27> kTables = {{
    {"Hour", &ReportStats::hour},
    {"Weekday", &ReportStats::wday},
    {"Month", &ReportStats::month},
    {"Date", &ReportStats::date},
    {"User", &ReportStats::user},
    {"Client", &ReportStats::client},
    {"SourceAddress", &ReportStats::src},
    {"SecondDomain", &ReportStats::second_domain},
    {"Country", &ReportStats::domain},
    {"Organization", &ReportStats::org},
    {"Region", &ReportStats::region},
    {"File", &ReportStats::url},
    {"Browser", &ReportStats::browser},
    {"OperatingSystem", &ReportStats::oper},
    {"Referal", &ReportStats::refer},
    {"ReferalSite", &ReportStats::rsite},
    {"Directory", &ReportStats::dir},
    {"TopDirectory", &ReportStats::topdir},
    {"FileType", &ReportStats::type},
    {"Error", &ReportStats::err},
    {"ErrorURL", &ReportStats::errurl},
    {"Page", &ReportStats::pages},
    {"Search String", &ReportStats::searchstr},
    {"SearchEngine", &ReportStats::searchsite},
    {"Download", &ReportStats::down},
    {"AddHit", &ReportStats::addhit},
    {"AddClick", &ReportStats::addclick},
}};
// The search strings table may also be written without its blank.
constexpr std::string_view kSearchStringWord = "SearchString";

enum Field : int { kName, kRequests, kBytes, kBytesIn, kVisits, kErrors, kVisitsTotal };
constexpr std::array<std::string_view, 7> kFields = {
    "Name", "Urls/Files", "Bytes", "Bytes-In", "Visits", "Errors", "VisitsTotal"};
constexpr std::array<std::string_view, 4> kOperators = {">=", "<=", "==", "!="};

bool same_word(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// The next word of text (up to a blank), removed from text with its blank.
std::string_view take_word(std::string_view& text) {
    const std::size_t blank = text.find(' ');
    const std::string_view word = text.substr(0, blank);
    text.remove_prefix(blank == std::string_view::npos ? text.size() : blank + 1);
    return word;
}

const TableWord* find_table(std::string_view word) {
    for (const TableWord& t : kTables)
        if (same_word(t.word, word)) return &t;
    return nullptr;
}

double field_value(const engine::StatItem& item, int field) {
    switch (field) {
        case kRequests: return item.req;
        case kBytes: return item.bytes;
        case kBytesIn: return item.bytesin;
        case kVisits: return item.visits;
        case kErrors: return item.errors;
        // Time online is kept in days; rules and messages speak minutes.
        case kVisitsTotal: return item.timetot * 24 * 60;
        default: return 0;
    }
}

bool compare(double field, int op, double value) {
    switch (op) {
        case 0: return field >= value;
        case 1: return field <= value;
        case 2: return field == value;
        default: return field != value;
    }
}

std::string format_line(const char* format, const std::string& now, std::string_view name,
                        std::string_view table, std::string_view field, const std::string& shown,
                        const std::string& last) {
    const int n = std::snprintf(nullptr, 0, format, now.c_str(), static_cast<int>(name.size()),
                                name.data(), static_cast<int>(table.size()), table.data(),
                                static_cast<int>(field.size()), field.data(), shown.c_str(),
                                last.c_str());
    std::string line(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    std::snprintf(line.data(), line.size() + 1, format, now.c_str(), static_cast<int>(name.size()),
                  name.data(), static_cast<int>(table.size()), table.data(),
                  static_cast<int>(field.size()), field.data(), shown.c_str(), last.c_str());
    return line;
}

}  // namespace

std::optional<NotifyRule> parseNotifyRule(std::string_view text, std::string& error) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' '))
        text.remove_suffix(1);
    NotifyRule rule;
    std::string_view rest = text;
    std::string_view word = take_word(rest);
    const TableWord* table = nullptr;
    if (same_word(word, kSearchStringWord)) {
        table = find_table("Search String");
    } else if (same_word(word, "Search") && same_word(rest.substr(0, rest.find(' ')), "String")) {
        take_word(rest);
        table = find_table("Search String");
    } else {
        table = find_table(word);
    }
    if (!table) {
        error = "Notification rule '" + std::string(text) + "': unknown table '" + std::string(word) + "'";
        return std::nullopt;
    }
    rule.table = std::string(table->word);

    const std::string_view field = take_word(rest);
    std::size_t f = 0;
    while (f < kFields.size() && !same_word(kFields[f], field)) ++f;
    if (f == kFields.size()) {
        error = "Notification rule '" + std::string(text) + "': unknown field '" + std::string(field) + "'";
        return std::nullopt;
    }
    rule.field = static_cast<int>(f);
    rule.field_word = std::string(field);

    const std::string_view op = take_word(rest);
    std::size_t o = 0;
    while (o < kOperators.size() && kOperators[o] != op) ++o;
    if (o == kOperators.size()) {
        error = "Notification rule '" + std::string(text) + "': unknown operator '" + std::string(op) + "'";
        return std::nullopt;
    }
    rule.op = static_cast<int>(o);

    if (rest.empty()) {
        error = "Notification rule '" + std::string(text) + "': no value";
        return std::nullopt;
    }
    rule.value = std::string(rest);
    // A name is text even when it is written with digits ("Hour Name == 09").
    if (rule.field != kName && std::isdigit(static_cast<unsigned char>(rest.front())))
        rule.number = std::strtod(rule.value.c_str(), nullptr);
    return rule;
}

std::string notifyTimeText(double julian) {
    const CalendarTime t = CalendarFromJulian(julian);
    char text[48];
    std::snprintf(text, sizeof text, "%02d/%02d/%04d %02d:%02d:%02d", t.month, t.day, t.year,
                  t.hour, t.minute, t.second);
    return text;
}

int checkNotifyRules(const ReportStats& report, double now, const SettingsList& rules,
                     const NotifyOptions& options) {
    if (options.action == kNotifyOff) return 0;
    const std::string now_text = notifyTimeText(now);
    std::string lines, last_line;
    int matches = 0;
    for (const std::string& text : rules.entries()) {
        std::string error;
        const std::optional<NotifyRule> rule = parseNotifyRule(text, error);
        if (!rule) {
            ShowError(error);
            continue;
        }
        const StatList* list = (report.*(find_table(rule->table)->list)).get();
        if (!list) {
            ShowStatus("Notification rule '" + text + "' skipped: this report has no " +
                       rule->table + " table");
            continue;
        }
        for (const engine::StatItem& item : list->Items()) {
            std::string shown;
            if (rule->number) {
                const double value = field_value(item, rule->field);
                if (!compare(value, rule->op, *rule->number)) continue;
                char number[64];
                std::snprintf(number, sizeof number, "%.0f", value);
                shown = number;
            } else {
                // ">=" and "<=" and "==" ask for names the pattern matches, "!=" for
                // the others.
                const bool matched = logs::MatchPattern(item.name, rule->value, true);
                if (matched == (rule->op == 3)) continue;
                shown = std::string(item.name);
            }
            ++matches;
            const std::string last = item.timelast > 0 ? notifyTimeText(item.timelast) : "-";
            std::string line = format_line("%s : (%.*s) %.*s->%.*s = '%s' last %s\n", now_text,
                                           item.name, rule->table, rule->field_word, shown, last);
            if (line == last_line) continue;
            lines += line;
            last_line = std::move(line);
        }
    }

    const std::filesystem::path file = options.folder / kNotifyFileName;
    if (matches > 0) {
        std::error_code ec;
        std::filesystem::create_directories(options.folder, ec);
        std::string reason;
        if (!write_file_atomically(file, lines, reason)) {
            ShowError("Can't write notification file " + reason);
            return 0;
        }
    }
    // Without a match the file keeps what an earlier check wrote; the action is
    // performed all the same.
    if (options.action == kNotifyScreen) {
        platform::beep();
        if (options.show) options.show(file, lines);
    } else if (options.action == kNotifyMail) {
        if (options.destination.empty())
            ShowError("Notification by e-mail: no destination address is set");
        else if (options.send_mail)
            options.send_mail(options.destination, kNotifySubject,
                              "Tallowick notification rules matched " + std::to_string(matches) +
                                  " item(s) at " + now_text + ".\nThe matches are listed in " +
                                  file.string() + ".\n");
    }
    return matches;
}

}  // namespace tallowick::report
