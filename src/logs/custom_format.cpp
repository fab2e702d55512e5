#include "logs/custom_format.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "logs/common_line.h"

namespace tallowick::logs {

namespace {

using namespace detail;

constexpr std::size_t kMaxFields = 256;

// The fields of one line, numbered from 1.
struct Fields {
    std::array<std::string_view, kMaxFields> f;
    std::size_t count = 0;
    std::string_view at(int position) const {
        if (position <= 0 || static_cast<std::size_t>(position) > count) return {};
        return f[static_cast<std::size_t>(position) - 1];
    }
};

bool cut(std::string_view line, char sep, Fields& out) {
    const bool blanks = sep == ' ';
    auto is_sep = [&](char c) { return c == sep || (blanks && c == '\t'); };
    const std::size_t n = line.size();
    std::size_t i = 0;
    while (true) {
        if (blanks)
            while (i < n && is_sep(line[i])) ++i;
        if (blanks && i == n) return true;
        std::size_t start = i, end;
        if (i < n && line[i] == '"') {
            start = i + 1;
            end = line.find('"', start);
            if (end == npos) return false;
            i = end + 1;
            // Anything between the closing quote and the separator is dropped.
            while (i < n && !is_sep(line[i])) ++i;
        } else {
            end = i;
            while (end < n && !is_sep(line[end])) ++end;
            i = end;
        }
        if (out.count < kMaxFields) out.f[out.count] = line.substr(start, end - start);
        ++out.count;
        if (i >= n) return true;
        ++i;  // past the separator; a trailing one ends an empty last field
    }
}

int fix_year(int year) { return year < 70 ? year + 2000 : year < 1000 ? year + 1900 : year; }

LogDate checked(int year, int month, int day) {
    year = fix_year(year);
    if (month < 1 || month > 12 || day < 1 || day > 31 || year > 9999) return {};
    return LogDate(year, month, day);
}

// Three numbers separated by anything that is not a digit.
bool three_numbers(std::string_view s, std::array<int, 3>& v) {
    std::size_t i = 0;
    for (int& n : v) {
        while (i < s.size() && !is_digit(s[i])) ++i;
        if (i == s.size()) return false;
        n = 0;
        for (int d = 0; i < s.size() && is_digit(s[i]); ++i, ++d)
            if (d < 5) n = n * 10 + (s[i] - '0');
    }
    return true;
}

int digits2(std::string_view s, std::size_t at) {
    return (s[at] - '0') * 10 + (s[at + 1] - '0');
}

}  // namespace

LineResult CustomLineParser::parse(std::string_view line, HitRecord& hit,
                                   const CustomFormat& format, bool day_first) {
    hit.clear();
    const char sep = (format.separator <= 0 || format.separator > 255)
                         ? ' '
                         : static_cast<char>(format.separator);
    Fields fields;
    if (!cut(line, sep, fields)) return LineResult::malformed;
    auto item = [&](CustomItem i) {
        return fields.at(format.data_index[static_cast<std::size_t>(i)]);
    };

    const std::string_view date = item(CustomItem::date);
    if (date.empty()) return LineResult::malformed;
    std::array<int, 3> n{};
    switch (static_cast<CustomDate>(format.dateformat)) {
    case CustomDate::month_day_year:
        if (three_numbers(date, n)) hit.date = checked(n[2], n[0], n[1]);
        break;
    case CustomDate::day_month_year:
        if (three_numbers(date, n)) hit.date = checked(n[2], n[1], n[0]);
        break;
    case CustomDate::year_month_day:
        if (three_numbers(date, n)) hit.date = checked(n[0], n[1], n[2]);
        break;
    case CustomDate::day_monthname_year: hit.date = NormaliseLogDate(date); break;
    case CustomDate::unix_seconds:
        if (is_digit(date[0])) clock_.stamp(read_count(date), hit);
        break;
    case CustomDate::compact:
        if (date.size() >= 8 && all_digits(date.substr(0, 8)))
            hit.date = checked(digits2(date, 0) * 100 + digits2(date, 2), digits2(date, 4),
                               digits2(date, 6));
        break;
    default: hit.date = NormaliseFieldDate(date, day_first); break;
    }
    if (hit.date.empty()) return LineResult::malformed;

    const std::string_view time = dash_empty(item(CustomItem::time));
    if (!time.empty()) {
        switch (static_cast<CustomTime>(format.timeformat)) {
        case CustomTime::twelve_hour: {
            // "h:mm[:ss]" then "AM" or "PM", with or without a space between.
            const std::size_t mark = time.find_first_of("AaPp");
            if (mark == npos) return LineResult::malformed;
            std::array<int, 3> t{};
            std::size_t parts = 0, i = 0;
            while (parts < t.size() && i < mark && is_digit(time[i])) {
                for (int d = 0; i < mark && is_digit(time[i]); ++i, ++d)
                    if (d < 3) t[parts] = t[parts] * 10 + (time[i] - '0');
                ++parts;
                if (i < mark && time[i] == ':') ++i;
            }
            if (parts < 2 || t[0] < 1 || t[0] > 12 || t[1] > 59 || t[2] > 59)
                return LineResult::malformed;
            const bool pm = time[mark] == 'P' || time[mark] == 'p';
            hit.time = time_.set(t[0] % 12 + (pm ? 12 : 0), t[1], t[2]);
            break;
        }
        case CustomTime::compact:
            if (time.size() < 6 || !all_digits(time.substr(0, 6))) return LineResult::malformed;
            hit.time = time_.set(digits2(time, 0), digits2(time, 2), digits2(time, 4));
            break;
        default: hit.time = time; break;
        }
    } else if (hit.time.empty()) {
        hit.time = time_in_date_field(date);
    }

    hit.status = dash_empty(item(CustomItem::status));
    hit.client = dash_empty(item(CustomItem::client));
    hit.url = dash_empty(item(CustomItem::url));
    if (std::string_view request = item(CustomItem::request); !request.empty())
        split_request(request, hit);
    hit.agent = unless_dash(item(CustomItem::agent));
    hit.referrer = unless_dash(item(CustomItem::referrer));
    hit.user = unless_dash(item(CustomItem::user));
    hit.server = unless_dash(item(CustomItem::server));
    if (std::string_view method = item(CustomItem::method); !method.empty())
        hit.method = dash_empty(method);
    hit.bytes = read_count(item(CustomItem::bytes));
    hit.bytes_in = read_count(item(CustomItem::bytes_in));
    hit.time_taken = read_count(item(CustomItem::time_taken));
    hit.source = dash_empty(item(CustomItem::source));
    hit.extra = dash_empty(item(CustomItem::extra));
    const std::int64_t value = read_count(item(CustomItem::extra_value));
    hit.extra_value = static_cast<std::int32_t>(std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX));
    return LineResult::hit;
}

}  // namespace tallowick::logs
