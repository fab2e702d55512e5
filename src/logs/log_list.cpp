#include "logs/log_list.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "base/julian_date.h"
#include "base/status.h"
#include "platform/shell_link.h"

namespace tallowick::logs {

namespace fs = std::filesystem;

namespace {

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

bool starts_with_nocase(std::string_view text, std::string_view word) {
    if (text.size() < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (upper(text[i]) != upper(word[i])) return false;
    return true;
}

bool ends_with_nocase(std::string_view text, std::string_view word) {
    return text.size() >= word.size() && starts_with_nocase(text.substr(text.size() - word.size()), word);
}

bool contains_nocase(std::string_view text, std::string_view word) {
    for (std::size_t i = 0; i + word.size() <= text.size(); ++i)
        if (starts_with_nocase(text.substr(i), word)) return true;
    return false;
}

// File-name wildcards as the Windows file finder knows them: "*" and "?", letters
// in any case. Iterative with one backtrack point.
bool wildcard_match(std::string_view name, std::string_view pattern) {
    std::size_t n = 0, p = 0, star = std::string_view::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || upper(pattern[p]) == upper(name[n]))) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

std::size_t remote_at(std::string_view value) {
    std::size_t best = std::string_view::npos;
    for (std::string_view scheme : {"ftp:", "http:", "https:"})
        best = std::min(best, value.find(scheme));
    return best;
}

int days_in_month(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// The base date moved by whole months; a day that the target month lacks becomes
// its last day (31 March - 1 month = 28 or 29 February).
CalendarTime add_months(CalendarTime c, int months) {
    int total = c.year * 12 + (c.month - 1) + months;
    c.year = total / 12;
    c.month = total % 12 + 1;
    c.day = std::min(c.day, days_in_month(c.year, c.month));
    return c;
}

std::string two_digits(int v) {
    char text[4];
    std::snprintf(text, sizeof text, "%02d", ((v % 100) + 100) % 100);
    return text;
}

// The value of one brace group's contents, or nothing for an unknown macro.
std::optional<std::string> macro_value(std::string_view group, const LogNameContext& ctx) {
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

    double base = ctx.today;
    if (contains_nocase(group, "_BEG")) base = ctx.range_start;
    else if (contains_nocase(group, "_END")) base = ctx.range_end;

    int offset = 0;
    for (std::size_t i = 0; i + 1 < group.size(); ++i) {
        if ((group[i] == '+' || group[i] == '-') && group[i + 1] >= '0' && group[i + 1] <= '9') {
            for (std::size_t k = i + 1; k < group.size() && group[k] >= '0' && group[k] <= '9'; ++k)
                offset = std::min(offset * 10 + (group[k] - '0'), 100000);
            if (group[i] == '-') offset = -offset;
            break;
        }
    }

    auto on_day = [&](int days) { return CalendarFromJulian(base + days); };
    if (starts_with_nocase(group, "DD")) return two_digits(on_day(offset).day);
    if (starts_with_nocase(group, "MMM"))
        return std::string(kMonths[add_months(on_day(0), offset).month - 1]);
    if (starts_with_nocase(group, "MM")) return two_digits(add_months(on_day(0), offset).month);
    if (starts_with_nocase(group, "YYYY")) return std::to_string(on_day(0).year + offset);
    if (starts_with_nocase(group, "YY")) return two_digits(on_day(0).year + offset);
    if (starts_with_nocase(group, "DAYN"))
        return std::to_string(JulianWeekday(base + offset));
    if (starts_with_nocase(group, "DAY")) return std::string(kDays[JulianWeekday(base + offset)]);
    if (starts_with_nocase(group, "HH"))
        return two_digits(CalendarFromJulian(base + offset / 24.0).hour);
    if (starts_with_nocase(group, "SITENAME")) {
        std::string_view site = ctx.siteurl;
        for (std::string_view scheme : {"http://", "https://"})
            if (starts_with_nocase(site, scheme)) site.remove_prefix(scheme.size());
        return std::string(site);
    }
    return std::nullopt;
}

}  // namespace

bool is_log_pattern(std::string_view name) {
    return name.find_first_of("*?") != std::string_view::npos;
}

bool natural_less(std::string_view a, std::string_view b) {
    std::size_t i = 0, j = 0;
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    while (i < a.size() && j < b.size()) {
        if (digit(a[i]) && digit(b[j])) {
            // Compare the two numbers without converting them: leading zeros off,
            // then the longer run is larger, then the first differing digit decides.
            while (i < a.size() && a[i] == '0') ++i;
            while (j < b.size() && b[j] == '0') ++j;
            std::size_t ai = i, bj = j;
            while (ai < a.size() && digit(a[ai])) ++ai;
            while (bj < b.size() && digit(b[bj])) ++bj;
            if (ai - i != bj - j) return ai - i < bj - j;
            if (int c = a.substr(i, ai - i).compare(b.substr(j, bj - j)); c != 0) return c < 0;
            i = ai;
            j = bj;
            continue;
        }
        if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        ++i;
        ++j;
    }
    if (a.size() - i != b.size() - j) return a.size() - i < b.size() - j;
    return a < b;  // equal up to leading zeros: a fixed order all the same
}

LogNameContext LogNameContext::now() {
    LogNameContext ctx;
    ctx.today = ctx.range_start = ctx.range_end = JulianNow();
    return ctx;
}

LogNameContext LogNameContext::for_run(const DateSettings& dates, std::string_view siteurl) {
    LogNameContext ctx = now();
    ctx.range_start = dates.start;
    ctx.range_end = dates.end;
    ctx.siteurl = std::string(siteurl);
    return ctx;
}

std::string ExpandLogName(std::string_view name, const LogNameContext& context) {
    std::string out;
    out.reserve(name.size());
    std::size_t pos = 0;
    while (pos < name.size()) {
        std::size_t open = name.find('{', pos);
        std::size_t close = open == std::string_view::npos ? open : name.find('}', open + 1);
        if (close == std::string_view::npos) break;
        out.append(name.substr(pos, open - pos));
        std::string_view group = name.substr(open + 1, close - open - 1);
        if (auto value = macro_value(group, context))
            out += *value;
        else
            out.append(name.substr(open, close - open + 1));
        pos = close + 1;
    }
    out.append(name.substr(std::min(pos, name.size())));
    return out;
}

std::optional<std::string> resolve_log_shortcut(std::string_view name) {
    if (!ends_with_nocase(name, ".lnk")) return std::string(name);
    platform::ShellLinkTarget target = platform::read_shell_link(fs::path(std::string(name)));
    if (!target.ok()) {
        ShowError("Cannot read shortcut '" + std::string(name) + "': " + target.error + "\n");
        return std::nullopt;
    }
    // Links made on Windows write "\"; the rest of the program expects "/".
    std::replace(target.path.begin(), target.path.end(), '\\', '/');
    return target.path;
}

bool LogList::append(std::string_view name) {
    if (name.empty()) return false;
    if (names_.size() >= kMaxEntries || text_used_ + name.size() + 1 > kTextArea) return false;
    names_.emplace_back(name);
    text_used_ += name.size() + 1;
    return true;
}

bool LogList::AddLog(std::string_view name) { return add(name, 0); }

bool LogList::add(std::string_view name, int depth) {
    std::optional<std::string> path = resolve_log_shortcut(name);
    if (!path) return false;
    std::error_code ec;
    // A name that still holds macros is expanded when opened, never a folder now.
    if (path->find('{') != std::string::npos || remote_at(*path) != std::string::npos ||
        !fs::is_directory(*path, ec))
        return append(*path);
    if (depth >= kMaxFolderDepth) return false;
    // The file system lists entries in no useful order; rotated logs are read
    // oldest name first only when sorted.
    std::vector<std::string> entries;
    for (fs::directory_iterator it(*path, fs::directory_options::skip_permission_denied, ec), end;
         !ec && it != end; it.increment(ec)) {
        // A link to a folder met during the walk is not followed: a link to "."
        // or to a parent would count every log again, or never end.
        std::error_code link_ec;
        if (it->is_symlink(link_ec) && it->is_directory(link_ec)) continue;
        entries.push_back(it->path().string());
    }
    std::sort(entries.begin(), entries.end(), natural_less);
    bool all = true;
    for (const std::string& entry : entries) all = add(entry, depth + 1) && all;
    return all;
}

std::size_t LogList::AddLogPattern(std::string_view pattern) {
    std::size_t slash = pattern.find_last_of("/\\");
    std::string prefix = slash == std::string_view::npos ? std::string() : std::string(pattern.substr(0, slash + 1));
    std::string_view file_pattern = slash == std::string_view::npos ? pattern : pattern.substr(slash + 1);
    fs::path folder = prefix.empty() ? fs::path(".") : fs::path(prefix);
    std::error_code ec;
    std::vector<std::string> matches;
    for (fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec), end;
         !ec && it != end; it.increment(ec)) {
        std::string file = it->path().filename().string();
        if (wildcard_match(file, file_pattern)) matches.push_back(std::move(file));
    }
    std::sort(matches.begin(), matches.end(), natural_less);
    for (const std::string& file : matches) add(prefix + file, 0);
    return matches.size();
}

bool LogList::add_from_setting(std::string_view value, const LogNameContext* names) {
    if (std::size_t at = remote_at(value); at != std::string_view::npos) {
        append(value.substr(at));
        return true;
    }
    if (is_log_pattern(value)) {
        // "access-{YYYY}*.log": the macros name the files the pattern is matched against.
        if (value.find('{') == std::string_view::npos) return AddLogPattern(value) > 0;
        return AddLogPattern(ExpandLogName(value, names ? *names : LogNameContext::now())) > 0;
    }
    AddLog(value);
    return true;
}

void LogList::clear() {
    names_.clear();
    text_used_ = 0;
}

}  // namespace tallowick::logs
