#include "logs/common_line.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "logs/tokens.h"

namespace tallowick::logs {

namespace {

constexpr std::size_t npos = std::string_view::npos;

// How a token was delimited; referrer and agent are found by it.
enum class Opener : std::uint8_t { none, quote, bracket, angle, backquote };

constexpr std::size_t kMinTokens = 6;
constexpr std::size_t kMaxTokens = 26;
constexpr std::size_t kMaxHostLength = 255;
// A user field that far before the date is a run-away token, not a user name.
constexpr std::ptrdiff_t kMaxUserToDate = 128;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::string_view dash_empty(std::string_view s) { return s == "-" ? std::string_view{} : s; }

// Finds the quote that closes a quoted token opened before `from`. Quotes inside a
// request or an agent are common ("GET /a"b", agents quoting their own names), so a
// quote closes only where the layout expects the next field: the request is
// followed by the status (a digit, or "-"), later quoted fields by another quoted
// field, and the last by the end of the line. When no quote qualifies, the first
// quote before a space closes; escaped quotes (\") never close.
std::size_t closing_quote(std::string_view line, std::size_t from, bool first_quoted) {
    const std::size_t n = line.size();
    for (std::size_t q = line.find('"', from); q != npos; q = line.find('"', q + 1)) {
        if (q + 1 == n) return q;
        if (line[q + 1] != ' ' || q + 2 >= n) continue;
        char after = line[q + 2];
        if (first_quoted ? (is_digit(after) || after == '-') : after == '"') return q;
    }
    for (std::size_t q = line.find('"', from); q != npos; q = line.find('"', q + 1)) {
        if (q > from && line[q - 1] == '\\') continue;
        if (q + 1 == n || line[q + 1] == ' ') return q;
    }
    return n;
}

// Leading decimal digits of s; nothing when s does not begin with a digit. Values
// are capped well above any date part so that long digit runs cannot overflow.
std::optional<int> leading_int(std::string_view s) {
    if (s.empty() || !is_digit(s[0])) return std::nullopt;
    int v = 0;
    for (char c : s) {
        if (!is_digit(c)) break;
        if (v < 1000000) v = v * 10 + (c - '0');
    }
    return v;
}

std::int64_t leading_count(std::string_view s) {
    std::int64_t v = 0;
    for (char c : s) {
        if (!is_digit(c)) break;
        if (v < (INT64_MAX - 9) / 10) v = v * 10 + (c - '0');
    }
    return v;
}

// 1..12 for a month name by its first three letters, any case; 0 otherwise.
int month_from_name(std::string_view s) {
    static constexpr std::string_view kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
    if (s.size() < 3) return 0;
    auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
    for (int m = 0; m < 12; ++m) {
        std::string_view name = kMonths.substr(static_cast<std::size_t>(m) * 3, 3);
        if (upper(s[0]) == upper(name[0]) && upper(s[1]) == upper(name[1]) &&
            upper(s[2]) == upper(name[2]))
            return m + 1;
    }
    return 0;
}

// The three parts of a date, split at its first two separators.
struct DateParts {
    std::string_view first, second, third;
};

std::optional<DateParts> split_date(std::string_view text) {
    auto is_sep = [](char c) { return c == ' ' || c == '-' || c == '.' || c == '/'; };
    std::size_t begin = 0, s1 = npos, s2 = npos;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == ',' && s2 == npos) {
            // "Tue, 10 Oct 2000": what came before the comma was a weekday.
            begin = i + 1;
            while (begin < text.size() && text[begin] == ' ') ++begin;
            i = begin - 1;
            s1 = npos;
            continue;
        }
        if (!is_sep(c)) continue;
        if (s1 == npos) {
            s1 = i;
        } else {
            s2 = i;
            break;
        }
    }
    if (s2 == npos) return std::nullopt;
    return DateParts{text.substr(begin, s1 - begin), text.substr(s1 + 1, s2 - s1 - 1),
                     text.substr(s2 + 1)};
}

int fix_year(int year) {
    if (year < 70) return year + 2000;
    if (year < 1000) return year + 1900;
    return year;
}

LogDate make_date(int year, int month, int day) {
    year = fix_year(year);
    if (month < 1 || month > 12 || day < 1 || day > 31 || year > 9999) return {};
    return LogDate(year, month, day);
}

// The remembered day-first order of field dates; the run reads on one thread.
thread_local bool t_day_first = false;

// Lines come in time order, so nearly every line repeats the day of the line
// before it. The day part of the last date parsed (before the first ':') is
// kept with its result, and an equal day part is not parsed again.
struct DayCache {
    static constexpr std::size_t kMaxDayText = 32;
    std::array<char, kMaxDayText> text{};
    std::size_t size = 0;
    bool valid = false;
    LogDate date;
};
thread_local DayCache t_day_cache;

LogDate common_line_date(std::string_view date, std::size_t colon) {
    if (colon == npos || colon > DayCache::kMaxDayText) return NormaliseLogDate(date);
    const std::string_view day = date.substr(0, colon);
    DayCache& cache = t_day_cache;
    if (cache.valid && day == std::string_view(cache.text.data(), cache.size)) return cache.date;
    const LogDate parsed = NormaliseLogDate(date);
    // The result may stand for the next line only when all three parts of the
    // date lie before the colon; otherwise the time would take part in it.
    const auto parts = split_date(date);
    cache.valid = parts && parts->third.data() < date.data() + colon;
    if (cache.valid) {
        std::copy(day.begin(), day.end(), cache.text.begin());
        cache.size = day.size();
        cache.date = parsed;
    }
    return parsed;
}

}  // namespace

LineResult ParseCommonLine(std::string_view line, HitRecord& hit) {
    hit.clear();
    TokenTable& tokens = line_tokens();
    tokens.clear();
    std::array<Opener, TokenTable::kCapacity> kinds{};

    const std::size_t n = line.size();
    std::size_t i = 0;
    bool seen_quoted = false;
    int backquoted = 0;
    while (i < n) {
        if (line[i] == ' ') {
            // A second space in a row: an empty field before "-" or "[" is skipped.
            if (i + 1 < n && (line[i + 1] == '-' || line[i + 1] == '[')) {
                ++i;
                continue;
            }
            return LineResult::malformed;
        }
        Opener kind = Opener::none;
        std::size_t start = i, end = n, next = n;
        auto delimited = [&](Opener k, char closer) {
            kind = k;
            start = i + 1;
            end = line.find(closer, start);
            if (end == npos) end = n;
            next = end + 1;
        };
        switch (line[i]) {
        case '"':
            kind = Opener::quote;
            start = i + 1;
            end = closing_quote(line, start, !seen_quoted);
            next = end + 1;
            seen_quoted = true;
            break;
        case '[': delimited(Opener::bracket, ']'); break;
        case '<': delimited(Opener::angle, '>'); break;
        case '`':
            delimited(Opener::backquote, '`');
            ++backquoted;
            break;
        default:
            end = line.find(' ', i);
            if (end == npos) end = n;
            next = end;
            break;
        }
        if (tokens.size() > kMaxTokens || !tokens.push(line.substr(start, end - start)))
            return LineResult::malformed;
        kinds[tokens.size() - 1] = kind;
        if (tokens.size() == 1 && end - start > kMaxHostLength) return LineResult::malformed;
        i = next;
        if (i < n && line[i] == ' ') ++i;
    }

    const std::size_t count = tokens.size();
    if (count < kMinTokens || count > kMaxTokens) return LineResult::malformed;

    // "vhost host - - [date]": a leading server name shifts every field by one.
    const bool leading_server = tokens[2] == "-" && tokens[3] == "-";
    const std::size_t off = leading_server ? 1 : 0;
    if (count < kMinTokens + off) return LineResult::malformed;

    hit.server = dash_empty(tokens[off == 1 ? 0 : 1]);
    hit.client = dash_empty(tokens[off]);

    std::string_view user = tokens[2 + off];
    std::string_view date = tokens[3 + off];
    if (user != "-" && date.data() - user.data() <= kMaxUserToDate) hit.user = user;

    const std::size_t colon = date.find(':');
    hit.date = common_line_date(date, colon);
    if (hit.date.empty()) return LineResult::malformed;
    if (colon != npos) hit.time = date.substr(colon + 1);

    // The request: method, url and protocol, separated by single spaces.
    std::string_view request = tokens[4 + off];
    std::array<std::string_view, 3> words{};
    std::size_t word_count = 0;
    for (std::size_t pos = 0; pos < request.size();) {
        std::size_t sp = request.find(' ', pos);
        if (sp == npos) sp = request.size();
        if (sp == pos || word_count == words.size()) return LineResult::malformed;
        words[word_count++] = request.substr(pos, sp - pos);
        pos = sp + 1;
        if (pos == request.size() && sp < request.size()) return LineResult::malformed;
    }
    hit.method = dash_empty(words[0]);
    hit.url = dash_empty(words[1]);

    hit.status = dash_empty(tokens[5 + off]);
    hit.bytes = leading_count(tokens[6 + off]);

    // Referrer and agent, from the tokens after bytes.
    const std::size_t rest = 7 + off;
    std::size_t last_used = rest - 1;
    std::string_view referrer, agent;
    if (backquoted >= 2) {
        int found = 0;
        for (std::size_t k = rest; k < count && found < 2; ++k) {
            if (kinds[k] != Opener::backquote) continue;
            (found++ == 0 ? agent : referrer) = tokens[k];
            last_used = k;
        }
    } else if (rest < count && kinds[rest] == Opener::angle) {
        agent = tokens[rest];
        last_used = rest;
        if (rest + 1 < count) {
            referrer = tokens[rest + 1];
            last_used = rest + 1;
        }
    } else {
        int found = 0;
        for (std::size_t k = rest; k < count && found < 2; ++k) {
            if (kinds[k] != Opener::quote) continue;
            (found++ == 0 ? referrer : agent) = tokens[k];
            last_used = k;
        }
    }
    hit.referrer = dash_empty(referrer);
    hit.agent = dash_empty(agent);

    // A field after everything else names the server ("... "agent" www.host.com").
    if (!leading_server && count >= 9 && count - 1 > last_used) {
        std::string_view last = tokens[count - 1];
        if (!last.empty() && last != "-" && static_cast<unsigned char>(last[0]) >= 0x20)
            hit.server = last;
    }
    return LineResult::hit;
}

LogDate NormaliseLogDate(std::string_view text) {
    auto parts = split_date(text);
    if (!parts) return {};
    auto first = leading_int(parts->first);
    auto third = leading_int(parts->third);
    if (!first || !third) return {};
    auto second = leading_int(parts->second);
    if (!second) {
        int month = month_from_name(parts->second);
        if (month == 0 || *first == 0) return {};
        return make_date(*third, month, *first);
    }
    if (*first < 32) return make_date(*third, *first, *second);
    return make_date(*first, *second, *third);
}

LogDate NormaliseFieldDate(std::string_view text, bool day_first) {
    auto parts = split_date(text);
    if (!parts) return {};
    auto first = leading_int(parts->first);
    auto third = leading_int(parts->third);
    if (!first || !third) return {};
    auto second = leading_int(parts->second);
    if (!second) {
        int month = month_from_name(parts->second);
        if (month == 0) return {};
        return make_date(*third, month, *first);
    }
    if (*first == 0 || *first >= 32) return make_date(*first, *second, *third);

    if (day_first || parts->second.front() == '0') t_day_first = true;
    if (*first > 12) t_day_first = true;
    int month = *first, day = *second;
    if (t_day_first) {
        if (*second < 13) {
            month = *second;
            day = *first;
        } else {
            t_day_first = false;
        }
    }
    return make_date(*third, month, day);
}

void NormaliseFieldDate() { t_day_first = false; }

}  // namespace tallowick::logs
