#include "logs/dates.h"

#include <langinfo.h>
#include <locale.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <utility>

#include "base/julian_date.h"

namespace tallowick::logs {

namespace {

// ---- date order -------------------------------------------------------------

std::atomic<int> g_order_override{-1};

DateOrderKind locale_date_order() {
    // A private locale object: reading the user's format must not switch the
    // process-wide locale under code that formats numbers.
    locale_t loc = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
    if (loc == static_cast<locale_t>(nullptr)) return DateOrderKind::month_first;
    const char* format = nl_langinfo_l(D_FMT, loc);
    const DateOrderKind order = date_order_from_format(format ? format : "");
    freelocale(loc);
    return order;
}

// ---- the clock --------------------------------------------------------------

std::mutex g_clock_mutex;
TodayClock g_clock;

// ---- text helpers -----------------------------------------------------------

constexpr char fold(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool equal_folded(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (fold(a[i]) != fold(b[i])) return false;
    return true;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The program's integer reader: at most 9 leading decimal digits, stopping at the
// first other character; no digits read as 0.
int leading_number(std::string_view s) {
    int n = 0;
    for (std::size_t i = 0; i < s.size() && i < 9 && is_digit(s[i]); ++i) n = n * 10 + (s[i] - '0');
    return n;
}

bool is_separator(char c) { return c == ' ' || c == '-' || c == '.' || c == '/'; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

// A month part: a number, or a month name matched on its first three letters.
std::optional<int> read_month(std::string_view part) {
    if (!part.empty() && is_digit(part.front())) return leading_number(part);
    static constexpr std::string_view kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
    if (part.size() < 3) return std::nullopt;
    for (int m = 0; m < 12; ++m)
        if (equal_folded(part.substr(0, 3), kMonths.substr(static_cast<std::size_t>(m) * 3, 3))) return m + 1;
    return std::nullopt;
}

std::optional<int> read_number(std::string_view part) {
    if (part.empty() || !is_digit(part.front())) return std::nullopt;
    return leading_number(part);
}

int full_year(int year) {
    if (year < 70) return year + 2000;
    if (year < 1000) return year + 1900;
    return year;
}

bool is_leap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int days_in_month(int year, int month) {
    static constexpr std::array<int, 12> kDays{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && is_leap(year) ? 29 : kDays[static_cast<std::size_t>(month - 1)];
}

// ---- date words ---------------------------------------------------------------

double first_of(int year, int month) {
    // Months are 1..12 here; a month 0 or below borrows from the years before.
    while (month < 1) {
        month += 12;
        --year;
    }
    return JulianDate(year, month, 1);
}

}  // namespace

// ---- public -------------------------------------------------------------------

DateOrderKind date_order_from_format(std::string_view format) {
    for (std::size_t i = 0; i + 1 < format.size(); ++i) {
        if (format[i] != '%') continue;
        std::size_t j = i + 1;
        // Flags, widths and the E/O modifiers come before the conversion letter.
        while (j < format.size() && (format[j] == '-' || format[j] == '_' || format[j] == '0' ||
                                     format[j] == '^' || format[j] == '#' || format[j] == 'E' ||
                                     format[j] == 'O' || is_digit(format[j])))
            ++j;
        if (j >= format.size()) break;
        switch (format[j]) {
            case '%': i = j; continue;   // a literal percent sign
            case 'd': case 'e': return DateOrderKind::day_first;
            case 'Y': case 'y': case 'F': case 'G': case 'g': case 'C': return DateOrderKind::year_first;
            default: return DateOrderKind::month_first;
        }
    }
    return DateOrderKind::month_first;
}

DateOrderKind DateOrder() {
    const int forced = g_order_override.load();
    if (forced >= 0) return static_cast<DateOrderKind>(forced);
    static const DateOrderKind kLocaleOrder = locale_date_order();
    return kLocaleOrder;
}

void set_date_order_override(std::optional<DateOrderKind> order) {
    g_order_override.store(order ? static_cast<int>(*order) : -1);
}

TodayClock set_today_clock(TodayClock clock) {
    std::lock_guard lock(g_clock_mutex);
    return std::exchange(g_clock, std::move(clock));
}

double Today() {
    {
        std::lock_guard lock(g_clock_mutex);
        if (g_clock) return JulianMidnight(g_clock());
    }
    return JulianToday();
}

std::optional<double> read_date_text(std::string_view text) {
    text = trim(text);
    std::array<std::size_t, 2> sep{};
    std::size_t found = 0;
    for (std::size_t i = 0; i < text.size() && found < 2; ++i)
        if (is_separator(text[i])) sep[found++] = i;
    if (found == 0) return std::nullopt;

    std::optional<int> year, month, day;
    if (found == 1) {
        month = read_month(text.substr(0, sep[0]));
        year = read_number(text.substr(sep[0] + 1));
        day = 1;
    } else {
        const std::string_view a = text.substr(0, sep[0]);
        const std::string_view b = text.substr(sep[0] + 1, sep[1] - sep[0] - 1);
        const std::string_view c = text.substr(sep[1] + 1);
        auto digits = [](std::string_view part) {
            std::size_t n = 0;
            while (n < part.size() && is_digit(part[n])) ++n;
            return n;
        };
        // A four-digit year first, or a month name, says the order itself.
        DateOrderKind order = DateOrder();
        if (digits(a) == 4 && a.size() == 4) order = DateOrderKind::year_first;
        else if (!b.empty() && !is_digit(b.front())) order = DateOrderKind::day_first;
        else if (!a.empty() && !is_digit(a.front())) order = DateOrderKind::month_first;
        switch (order) {
            case DateOrderKind::day_first: day = read_number(a); month = read_month(b); year = read_number(c); break;
            case DateOrderKind::year_first: year = read_number(a); month = read_month(b); day = read_number(c); break;
            case DateOrderKind::month_first: month = read_month(a); day = read_number(b); year = read_number(c); break;
        }
    }
    if (!year || !month || !day) return std::nullopt;
    const int y = full_year(*year);
    // A day or month the calendar does not have is no date (rather than a date
    // that silently runs on into the next month).
    if (*month < 1 || *month > 12 || *day < 1 || *day > days_in_month(y, *month)) return std::nullopt;
    return JulianDate(y, *month, *day);
}

std::optional<double> read_date_word(std::string_view word) {
    word = trim(word);
    const double today = Today();
    const CalendarTime now = CalendarFromJulian(today);
    const int y = now.year;
    const int m = now.month;
    const int weekday = JulianWeekday(today);
    const int quarter_first = (m - 1) / 3 * 3 + 1;
    const int half_first = m <= 6 ? 1 : 7;

    struct Word {
        std::string_view name;
        double day;
    };
    const std::array<Word, 18> words{{
        {"today", today},
        {"yesterday", today - 1},
        {"thisweek", today - weekday},
        {"prevweek", today - weekday - 7},
        {"thismonth", first_of(y, m)},
        {"prevmonth", first_of(y, m - 1)},
        {"last7days", today - 6},
        {"last14days", today - 13},
        {"last21days", today - 20},
        {"last30days", today - 29},
        {"thisquart", first_of(y, quarter_first)},
        {"prevquart", first_of(y, quarter_first - 3)},
        {"this6m", first_of(y, half_first)},
        {"prev6m", first_of(y, half_first - 6)},
        {"thisyear", first_of(y, 1)},
        {"prevyear", first_of(y - 1, 1)},
        {"begin", first_of(1990, 1)},
        {"end", first_of(y + 1, 1)},
    }};
    for (const Word& w : words)
        if (equal_folded(word, w.name)) return w.day;
    return std::nullopt;
}

double ReadDate(std::string_view text) {
    if (auto d = read_date_text(text)) return *d;
    if (auto d = read_date_word(text)) return *d;
    return Today();
}

DateRange RangeForMode(int mode) {
    auto word = [](std::string_view w) { return *read_date_word(w); };
    const double today = Today();
    switch (mode) {
        case kDateAll: return {word("begin"), word("end")};
        case kDateToday: return {today, today};
        case kDateYesterday: return {today - 1, today - 1};
        case kDateThisWeek: return {word("thisweek"), today};
        case kDatePrevWeek: return {word("prevweek"), word("thisweek") - 1};
        case kDateLast7: return {word("last7days"), today};
        case kDateLast14: return {word("last14days"), today};
        case kDateLast21: return {word("last21days"), today};
        case kDateLast30: return {word("last30days"), today};
        case kDateThisMonth: return {word("thismonth"), today};
        case kDatePrevMonth: return {word("prevmonth"), word("thismonth") - 1};
        case kDateThisQuarter: return {word("thisquart"), today};
        case kDatePrevQuarter: return {word("prevquart"), word("thisquart") - 1};
        case kDateThis6m: return {word("this6m"), today};
        case kDatePrev6m: return {word("prev6m"), word("this6m") - 1};
        case kDateThisYear: return {word("thisyear"), today};
        case kDatePrevYear: return {word("prevyear"), word("thisyear") - 1};
        default: return {today, today};
    }
}

std::string short_date_form() {
    switch (DateOrder()) {
        case DateOrderKind::day_first: return "DD/MM/YYYY";
        case DateOrderKind::year_first: return "YYYY/MM/DD";
        case DateOrderKind::month_first: break;
    }
    return "MM/DD/YYYY";
}

std::string short_date_text(double julian) {
    const CalendarTime t = CalendarFromJulian(julian);
    std::array<char, 32> buf{};
    switch (DateOrder()) {
        case DateOrderKind::day_first:
            std::snprintf(buf.data(), buf.size(), "%02d/%02d/%04d", t.day, t.month, t.year);
            break;
        case DateOrderKind::year_first:
            std::snprintf(buf.data(), buf.size(), "%04d/%02d/%02d", t.year, t.month, t.day);
            break;
        case DateOrderKind::month_first:
            std::snprintf(buf.data(), buf.size(), "%02d/%02d/%04d", t.month, t.day, t.year);
            break;
    }
    return buf.data();
}

void set_default_date_range(DateSettings& dates) {
    dates.mode = kDateAll;
    dates.start = JulianDate(1990, 1, 1);
    dates.end = Today() + 1;
    dates.sdate = short_date_text(dates.start);
    dates.edate = short_date_text(dates.end);
}

void recompute_date_range(DateSettings& dates) {
    if (dates.mode != kDateExplicit) {
        const DateRange range = RangeForMode(dates.mode);
        dates.start = range.start;
        dates.end = range.end;
        dates.sdate = short_date_text(range.start);
        dates.edate = short_date_text(range.end);
    } else {
        dates.start = ReadDate(dates.sdate);
        dates.end = ReadDate(dates.edate);
    }
}

}  // namespace tallowick::logs
