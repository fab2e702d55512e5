// The run's list of log sources, in the order they were added, and the brace
// macros that let one log name follow the date ("access-{YYYY}{MM}{DD}.log").
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/settings.h"

namespace tallowick::logs {

struct LogNameContext;

class LogList {
public:
    static constexpr std::size_t kMaxEntries = 2000;
    static constexpr std::size_t kTextArea = 300000;   // total bytes of all names
    // Folders are descended into this deep at most, so a looping link cannot hang.
    static constexpr int kMaxFolderDepth = 32;

    // AddLog: adds one source. A ".lnk" shortcut is replaced by its target; a
    // folder adds every file below it, sub-folders included, in natural name
    // order (see natural_less); anything else is added as it is (a name with
    // brace macros is expanded only when opened). Returns false when a name did
    // not fit or a shortcut could not be read (reported).
    bool AddLog(std::string_view name);
    // AddLogPattern: adds every entry of the pattern's folder whose name matches
    // the last part of the pattern ("*" any run, "?" one character, letters in
    // any case), in natural name order. Returns the number of entries matched.
    std::size_t AddLogPattern(std::string_view pattern);
    // The value of the `log` keyword or "-l": remote URLs from "ftp:"/"http:"/
    // "https:" on, wildcards through AddLogPattern (their brace macros expanded
    // first, from `names` or from now), anything else through AddLog. Returns
    // false for a wildcard that matched nothing.
    bool add_from_setting(std::string_view value, const LogNameContext* names = nullptr);

    void clear();
    const std::vector<std::string>& names() const { return names_; }
    std::size_t size() const { return names_.size(); }
    bool empty() const { return names_.empty(); }

private:
    bool add(std::string_view name, int depth);
    bool append(std::string_view name);

    std::vector<std::string> names_;
    std::size_t text_used_ = 0;
};

// What the brace macros of a log name are computed from.
struct LogNameContext {
    double today = 0;          // Julian date and time: the base of plain macros
    double range_start = 0;    // the report range: the base of "_BEG" macros
    double range_end = 0;      // ... and of "_END" macros
    std::string siteurl;       // for {SITENAME}

    // Now, with the range set to now as well and no site.
    static LogNameContext now();
    // Now, with the run's date range and site.
    static LogNameContext for_run(const DateSettings& dates, std::string_view siteurl);
};

// Whether a log name is a wildcard pattern ("*" or "?" in it).
bool is_log_pattern(std::string_view name);

// Name order for logs: runs of digits compare by their value, so that
// "access.log.2" comes before "access.log.10"; everything else byte by byte.
bool natural_less(std::string_view a, std::string_view b);

// ExpandLogName: replaces each brace group of a name, braces included:
//   {DD} {MM} {MMM} {YYYY} {YY}  day, month, month name ("Jan"), year, 2-digit year
//   {DAYN} {DAY}                  weekday number (0 Sunday) and name ("Sun")
//   {HH}                          hour
//   {SITENAME}                    the siteurl without "http://"
// "_BEG"/"_END" in a group take the date from the report range's start or end
// instead of today; "+n"/"-n" move it by n days (DD, DAY, DAYN), months (MM,
// MMM), years (YYYY, YY) or hours (HH). An unknown group is left as it is.
std::string ExpandLogName(std::string_view name, const LogNameContext& context);

// The target of a ".lnk" name, the name itself for any other; nothing (and the
// error reported) for a shortcut that cannot be read.
std::optional<std::string> resolve_log_shortcut(std::string_view name);

}  // namespace tallowick::logs
