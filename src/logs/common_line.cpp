#include "logs/common_line.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "logs/pattern.h"
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

bool is_dash(std::string_view s) { return s.size() == 1 && s[0] == '-'; }

std::string_view dash_empty(std::string_view s) { return is_dash(s) ? std::string_view{} : s; }

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

// The day part against the cached one. Days are mostly 8 to 16 bytes long
// ("10/Oct/2000"): those are compared as two overlapping words, not by a
// library call.
inline bool same_day(std::string_view day, const DayCache& cache) {
    const std::size_t size = day.size();
    if (size != cache.size) return false;
    if (size < 8 || size > 16) return day == std::string_view(cache.text.data(), size);
    std::uint64_t a0, a1, b0, b1;
    std::memcpy(&a0, day.data(), 8);
    std::memcpy(&a1, day.data() + size - 8, 8);
    std::memcpy(&b0, cache.text.data(), 8);
    std::memcpy(&b1, cache.text.data() + size - 8, 8);
    return a0 == b0 && a1 == b1;
}

// A date whose day part is not the cached one: parsed, and cached when it can be.
LogDate parse_common_line_date(std::string_view date, std::size_t colon) {
    if (colon == npos || colon > DayCache::kMaxDayText) return NormaliseLogDate(date);
    const std::string_view day = date.substr(0, colon);
    DayCache& cache = t_day_cache;
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

// The date of a common line, `colon` being the position of its first ':'. Inline
// for the quick look at the cache that nearly every line ends with.
inline LogDate common_line_date(std::string_view date, std::size_t colon) {
    const DayCache& cache = t_day_cache;
    if (cache.valid && colon <= DayCache::kMaxDayText && same_day(date.substr(0, colon), cache))
        return cache.date;
    return parse_common_line_date(date, colon);
}

// The quick path reads lines of at least this many bytes (shorter ones cannot
// have its shape anyway), so that find_either may look at sixteen at a time.
constexpr std::size_t kMinQuickLine = 16;

// The first position at or after `from` that holds A or B; the size of s when
// none does. s has at least kMinQuickLine bytes. Sixteen bytes at a time where
// the CPU has the instructions: a field of a line is too short for a library
// search to pay for its call, and too long (urls, agents) for a byte loop.
template <char A, char B = A>
[[gnu::always_inline]] inline std::size_t find_either(std::string_view s, std::size_t from) {
    const std::size_t n = s.size();
    const char* d = s.data();
#if defined(__SSE2__)
    static_assert(kMinQuickLine >= 16);
    auto matches = [](const char* at) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        __m128i eq = _mm_cmpeq_epi8(x, _mm_set1_epi8(A));
        if constexpr (A != B) eq = _mm_or_si128(eq, _mm_cmpeq_epi8(x, _mm_set1_epi8(B)));
        return static_cast<unsigned>(_mm_movemask_epi8(eq));
    };
    if (from >= n) return n;
    // Whole blocks up to the last one that ends inside s; then the last sixteen
    // bytes of s, less those already looked at, so that nothing is read past the end.
    const char* p = d + from;
    const char* const last = d + n - 16;
    for (; p < last; p += 16)
        if (const unsigned m = matches(p)) return static_cast<std::size_t>(p - d + std::countr_zero(m));
    if (const unsigned m = matches(last) >> (p - last))
        return static_cast<std::size_t>(p - d + std::countr_zero(m));
    return n;
#else
    for (; from < n; ++from)
        if (d[from] == A || d[from] == B) return from;
    return n;
#endif
}

// Bytes that make the general splitter read a token its own way where one
// begins (a space there is an empty field); the ordinary path takes none of them
// at the start of a plain token.
bool special_start(char c) { return c == ' ' || c == '"' || c == '[' || c == '<' || c == '`'; }

// The end of a plain token at `from` when a space follows it; the line's size
// when the token is not plain or ends the line. Ident and user are mostly "-".
[[gnu::always_inline]] inline std::size_t spaced_token_end(std::string_view line, std::size_t from) {
    const std::size_t n = line.size();
    if (from >= n || special_start(line[from])) return n;
    if (line[from] == '-' && from + 1 < n && line[from + 1] == ' ') return from + 1;
    return find_either<' '>(line, from + 1);
}

}  // namespace

namespace detail {

// The ordinary shape, read straight along the line. Each test below stands for a
// decision of the general splitter and closing_quote; where the line could make
// them decide otherwise, this returns false and the general code reads it. Writes
// to `hit` and the token table come only when the line is known to be a hit.
bool ReadOrdinaryCommonLine(std::string_view line, HitRecord& hit) {
    const std::size_t n = line.size();
    const char* s = line.data();
    // The bytes [b, e) of the line; every caller has b <= e <= n.
    auto piece = [s](std::size_t b, std::size_t e) { return std::string_view(s + b, e - b); };

    if (n < kMinQuickLine) return false;

    // host ident user [date] ": plain tokens, single spaces. The host rule of the
    // general splitter (longer is malformed) is left to it.
    const std::size_t host_end = spaced_token_end(line, 0);
    if (host_end >= n || host_end > kMaxHostLength) return false;
    const std::size_t ident_end = spaced_token_end(line, host_end + 1);
    if (ident_end >= n) return false;
    const std::size_t user_end = spaced_token_end(line, ident_end + 1);
    if (user_end + 1 >= n || s[user_end + 1] != '[') return false;
    const std::size_t date_begin = user_end + 2;
    std::size_t date_end = find_either<':', ']'>(line, date_begin);
    std::size_t colon = npos;
    if (date_end < n && s[date_end] == ':') {
        colon = date_end - date_begin;
        date_end = find_either<']'>(line, date_end + 1);
    }
    if (date_end + 2 >= n || s[date_end + 1] != ' ' || s[date_end + 2] != '"') return false;
    const std::string_view host = piece(0, host_end);
    const std::string_view ident = piece(host_end + 1, ident_end);
    const std::string_view user = piece(ident_end + 1, user_end);
    const std::string_view date = piece(date_begin, date_end);
    // "- -" as user and date would make the general code take a leading server;
    // such a line is not read here, as a date "-" never reads as a date.

    // The request: up to three words, single spaces, up to the first quote, which
    // must be the one closing_quote takes (a space and a digit or "-" after it).
    const std::size_t request_begin = date_end + 3;
    std::size_t request_end = find_either<' ', '"'>(line, request_begin);
    if (request_end >= n || request_end == request_begin) return false;
    const std::string_view method = piece(request_begin, request_end);
    std::string_view url;
    if (s[request_end] == ' ') {
        const std::size_t url_begin = request_end + 1;
        request_end = find_either<' ', '"'>(line, url_begin);
        if (request_end >= n || request_end == url_begin) return false;
        url = piece(url_begin, request_end);
        if (s[request_end] == ' ') {
            const std::size_t protocol_begin = request_end + 1;
            request_end = find_either<' ', '"'>(line, protocol_begin);
            if (request_end >= n || request_end == protocol_begin || s[request_end] != '"') return false;
        }
    }
    if (request_end + 2 >= n || s[request_end + 1] != ' ' ||
        !(is_digit(s[request_end + 2]) || s[request_end + 2] == '-'))
        return false;

    // Status, then bytes ("-" or digits), each followed by a space or the end.
    const std::size_t status_begin = request_end + 2;
    std::size_t status_end = status_begin + 1;
    while (status_end < n && s[status_end] != ' ') ++status_end;
    if (status_end + 1 >= n) return false;
    const std::size_t bytes_begin = status_end + 1;
    std::size_t bytes_end = bytes_begin;
    std::uint64_t sum = 0;  // unsigned: past eighteen digits it wraps, and is not used
    for (unsigned d; bytes_end < n && (d = static_cast<unsigned char>(s[bytes_end]) - '0') <= 9; ++bytes_end)
        sum = sum * 10 + d;
    std::int64_t bytes = static_cast<std::int64_t>(sum);
    if (bytes_end == bytes_begin) {
        if (s[bytes_begin] != '-') return false;
        ++bytes_end;
    } else if (bytes_end - bytes_begin > 18) {
        bytes = leading_count(piece(bytes_begin, bytes_end));  // saturates
    }

    // "referrer" "agent" [field]: the referrer closes at its first quote, which
    // must be followed by ` "`; the agent at its first, which must end the line or
    // be followed by one plain field without quotes (closing_quote then finds no
    // later quote and takes this one, unless a backslash escapes it).
    std::string_view referrer, agent, trailing;
    std::size_t count = 7;
    if (bytes_end < n) {
        if (s[bytes_end] != ' ' || bytes_end + 1 >= n || s[bytes_end + 1] != '"') return false;
        const std::size_t referrer_begin = bytes_end + 2;
        const std::size_t referrer_end = find_either<'"'>(line, referrer_begin);
        if (referrer_end + 2 >= n || s[referrer_end + 1] != ' ' || s[referrer_end + 2] != '"')
            return false;
        const std::size_t agent_begin = referrer_end + 3;
        const std::size_t agent_end = find_either<'"'>(line, agent_begin);
        if (agent_end >= n) return false;
        referrer = piece(referrer_begin, referrer_end);
        agent = piece(agent_begin, agent_end);
        count = 9;
        if (agent_end + 1 < n) {
            if (s[agent_end + 1] != ' ' || (agent_end > agent_begin && s[agent_end - 1] == '\\'))
                return false;
            const std::size_t field = agent_end + 2;
            if (field >= n || special_start(s[field]) || find_either<' ', '"'>(line, field) != n)
                return false;
            trailing = piece(field, n);
            count = 10;
        }
    }

    const LogDate day = common_line_date(date, colon);
    if (day.empty()) return false;

    // The token table is read after this parser only by the player-line reader,
    // and only after a hit without an agent: it gets the tokens, as the general
    // splitter leaves them, only then. Otherwise it is left empty, which costs
    // next to nothing from one such line to the next.
    const std::string_view status = piece(status_begin, status_end);
    TokenTable& tokens = line_tokens();
    tokens.clear();
    if (dash_empty(agent).empty()) {
        tokens.push(host);
        tokens.push(ident);
        tokens.push(user);
        tokens.push(date);
        tokens.push(piece(request_begin, request_end));
        tokens.push(status);
        tokens.push(piece(bytes_begin, bytes_end));
        if (count >= 9) {
            tokens.push(referrer);
            tokens.push(agent);
        }
        if (count == 10) tokens.push(trailing);
    }

    hit.date = day;
    hit.time = colon == npos ? std::string_view{} : date.substr(colon + 1);
    hit.status = dash_empty(status);
    hit.client = dash_empty(host);
    hit.url = dash_empty(url);
    hit.agent = dash_empty(agent);
    hit.referrer = dash_empty(referrer);
    hit.user = !is_dash(user) && date.data() - user.data() <= kMaxUserToDate ? user : std::string_view{};
    // The field after the agent names the server, as in the general code.
    hit.server = !trailing.empty() && !is_dash(trailing) && static_cast<unsigned char>(trailing[0]) >= 0x20
                     ? trailing
                     : dash_empty(ident);
    hit.method = dash_empty(method);
    hit.source = {};
    hit.extra = {};
    hit.bytes = bytes;
    hit.bytes_in = 0;
    hit.time_taken = 0;
    hit.extra_value = 0;
    return true;
}

LineResult ParseCommonLineGeneral(std::string_view line, HitRecord& hit) {
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
    // A user name holding blanks ("John Smith") runs up to the bracketed date.
    std::size_t user_words = 1;
    if (!leading_server && kinds[3] != Opener::bracket) {
        std::size_t at = 4;
        while (at < count && at < 6 && kinds[at] != Opener::bracket) ++at;
        bool plain = at < count && kinds[at] == Opener::bracket;
        for (std::size_t k = 2; plain && k < at; ++k) plain = kinds[k] == Opener::none;
        if (plain) user_words = at - 2;
    }
    // "vhost address [date]": a server name and the client's address, without
    // the identity and user fields.
    const bool server_and_address = kinds[2] == Opener::bracket && kinds[0] == Opener::none &&
                                    parse_ipv4(tokens[1]) && !parse_ipv4(tokens[0]);
    if (kinds[2] == Opener::bracket && !server_and_address) return LineResult::malformed;
    // Where the date is; the request, status and bytes follow it.
    const std::size_t at = server_and_address ? 2 : leading_server ? 4 : 2 + user_words;
    if (count < at + 3) return LineResult::malformed;

    hit.server = dash_empty(tokens[leading_server || server_and_address ? 0 : 1]);
    hit.client = dash_empty(tokens[leading_server || server_and_address ? 1 : 0]);

    std::string_view user = server_and_address ? "-" : tokens[leading_server ? 3 : 2];
    if (user_words > 1) {
        const std::string_view last = tokens[1 + user_words];
        user = std::string_view(user.data(),
                                static_cast<std::size_t>(last.data() - user.data()) + last.size());
    }
    std::string_view date = tokens[at];
    if (user != "-" && date.data() - user.data() <= kMaxUserToDate) hit.user = user;

    const std::size_t colon = date.find(':');
    hit.date = common_line_date(date, colon);
    if (hit.date.empty()) return LineResult::malformed;
    if (colon != npos) hit.time = date.substr(colon + 1);

    // The request: method, url and protocol, separated by single spaces.
    std::string_view request = tokens[at + 1];
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

    hit.status = dash_empty(tokens[at + 2]);
    hit.bytes = leading_count(tokens[at + 3]);

    // Referrer and agent, from the tokens after bytes.
    const std::size_t rest = at + 4;
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
    if (!leading_server && !server_and_address && count >= 9 && count - 1 > last_used) {
        std::string_view last = tokens[count - 1];
        if (!last.empty() && last != "-" && static_cast<unsigned char>(last[0]) >= 0x20)
            hit.server = last;
    }
    return LineResult::hit;
}

}  // namespace detail

LineResult ParseCommonLine(std::string_view line, HitRecord& hit) {
    if (detail::ReadOrdinaryCommonLine(line, hit)) return LineResult::hit;
    return detail::ParseCommonLineGeneral(line, hit);
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
