// Notification rules: after a report, every item of a counting table that meets
// a rule gives one line in "notify_msg.txt"; the user is then shown the lines or
// mailed a notice, as the notification action says.
//
// A rule is one `notifyrules` entry of four words: table, field, operator and
// value, e.g. "Client Urls/Files >= 1000" or "ErrorURL Name >= *.php". The value
// is the rest of the entry; one that begins with a digit is a number, any other
// a wildcard pattern matched against the item's name. The search strings table
// is written "Search String" (with its blank) or "SearchString".
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "base/settings.h"
#include "engine/report_stats.h"

namespace tallowick::report {

// Values of `notify_type`.
enum NotifyAction : int { kNotifyOff = 0, kNotifyScreen = 1, kNotifyMail = 2 };

inline constexpr std::string_view kNotifyFileName = "notify_msg.txt";
inline constexpr std::string_view kNotifySubject = "Tallowick Notification";

// One rule taken apart. The field is kept as written (the message lines show it).
struct NotifyRule {
    std::string table;          // the table's word as listed ("Client", "Search String")
    int field = 0;              // index into the field words
    std::string field_word;     // as written in the rule
    int op = 0;                 // 0 ">=", 1 "<=", 2 "==", 3 "!="
    std::string value;          // the rest of the rule
    std::optional<double> number;   // when the value begins with a digit
};

// Parses a rule; on failure returns nothing and sets `error` to a message that
// names the unknown table, field or operator, or says what is missing.
std::optional<NotifyRule> parseNotifyRule(std::string_view text, std::string& error);

// What a check needs besides the report and the rules.
struct NotifyOptions {
    int action = kNotifyOff;            // `notify_type`
    std::string destination;            // `notify_dest`: the address of the eMail action
    std::filesystem::path folder;       // where "notify_msg.txt" goes
    // The eMail action: sends subject and body to a recipient spec; empty: no
    // mail can be sent (reported).
    std::function<void(std::string_view recipient, std::string_view subject,
                       std::string_view body)> send_mail;
    // The Screen action: shows the message file and the lines this check found
    // (empty when nothing matched).
    std::function<void(const std::filesystem::path& file, std::string_view lines)> show;
};

// The Julian date and time as the message lines show it: "MM/DD/YYYY HH:MM:SS".
std::string notifyTimeText(double julian);

// checkNotifyRules(report, now): applies every rule in order, writes
// "notify_msg.txt" (replacing it, atomically) when anything matched, then
// performs the action. A rule that cannot be read, or whose table this report
// does not have, is reported and skipped; the later rules still run. Returns
// the number of matches; 0 when the action is Off (nothing is done) or the file
// cannot be written (reported).
int checkNotifyRules(const engine::ReportStats& report, double now, const SettingsList& rules,
                     const NotifyOptions& options);

}  // namespace tallowick::report
