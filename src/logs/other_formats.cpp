#include "logs/other_formats.h"

#include <array>

#include "logs/common_line.h"
#include "logs/field_text.h"
#include "logs/tokens.h"

namespace tallowick::logs {

namespace {

using namespace detail;

// Splits `line` at every `sep` into `fields`; fields past the array's end are
// counted but not kept. Returns the number of fields.
template <std::size_t N>
std::size_t split_at(std::string_view line, char sep, std::array<std::string_view, N>& fields) {
    std::size_t count = 0, start = 0;
    while (true) {
        std::size_t end = line.find(sep, start);
        if (count < N) fields[count] = line.substr(start, end == npos ? npos : end - start);
        ++count;
        if (end == npos) return count;
        start = end + 1;
    }
}

bool preceded_by(std::string_view token, std::string_view line, char c) {
    return token.data() > line.data() && token.data() <= line.data() + line.size() &&
           token.data()[-1] == c;
}

// A date field that may carry its time: the date, and the time when the hit has
// none yet.
bool read_date_time(std::string_view field, HitRecord& hit, bool day_first) {
    hit.date = NormaliseFieldDate(field, day_first);
    if (hit.date.empty()) return false;
    if (hit.time.empty()) hit.time = time_in_date_field(field);
    return true;
}

bool is_method(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < 'A' || c > 'Z') return false;
    return true;
}

}  // namespace

LineResult ParseRealServerLine(std::string_view line, HitRecord& hit) {
    LineResult r = ParseCommonLine(line, hit);
    if (r != LineResult::hit) return r;
    // The items after bytes are the player's statistics, never a server name.
    hit.server = {};
    if (!hit.agent.empty()) return r;
    // The player description is the first bracketed item after status and bytes.
    const auto tokens = line_tokens().tokens();
    std::size_t request = tokens.size();
    for (std::size_t k = 0; k < tokens.size(); ++k) {
        if (preceded_by(tokens[k], line, '"')) {
            request = k;
            break;
        }
    }
    for (std::size_t k = request + 3; k < tokens.size(); ++k) {
        if (preceded_by(tokens[k], line, '[')) {
            hit.agent = dash_empty(tokens[k]);
            break;
        }
    }
    return r;
}

LineResult ParseWebsiteLine(std::string_view line, HitRecord& hit, bool day_first) {
    hit.clear();
    std::array<std::string_view, 13> f{};
    const std::size_t count = split_at(line, '\t', f);
    if (count < 8 || !read_date_time(f[0], hit, day_first)) return LineResult::malformed;
    hit.client = dash_empty(f[1]);
    hit.user = unless_dash(f[2]);
    hit.server = unless_dash(f[3]);
    hit.method = dash_empty(f[4]);
    hit.url = dash_empty(f[5]);
    hit.status = dash_empty(f[7]);
    hit.bytes = read_count(f[8]);
    hit.bytes_in = read_count(f[9]);
    hit.time_taken = read_count(f[10]);
    hit.referrer = unless_dash(f[11]);
    hit.agent = unless_dash(f[12]);
    return LineResult::hit;
}

LineResult ParseFilemakerLine(std::string_view line, HitRecord& hit, bool day_first) {
    hit.clear();
    std::array<std::string_view, 5> f{};
    const std::size_t count = split_at(line, ' ', f);
    if (count < 4 || count > 5) return LineResult::malformed;
    for (std::size_t k = 0; k < count; ++k)
        if (f[k].empty()) return LineResult::malformed;
    hit.date = NormaliseFieldDate(f[0], day_first);
    if (hit.date.empty()) return LineResult::malformed;
    hit.time = f[1];
    hit.client = dash_empty(f[2]);
    if (count == 5 && is_method(f[3])) {
        hit.method = f[3];
        hit.url = dash_empty(f[4]);
    } else {
        hit.url = dash_empty(f[3]);
        hit.status = dash_empty(f[4]);
    }
    return LineResult::hit;
}

LineResult ParseFirstClassLine(std::string_view line, HitRecord& hit, bool day_first) {
    hit.clear();
    std::array<std::string_view, 12> f{};
    std::array<char, 12> opener{};
    std::size_t count = 0;
    const bool closed = for_each_spaced_field(line, [&](std::string_view field, char o) {
        f[count] = field;
        opener[count] = o;
        return ++count < f.size();
    });
    if (!closed || count < 3 || opener[0] != '[' || !read_date_time(f[0], hit, day_first))
        return LineResult::malformed;
    hit.client = dash_empty(f[1]);
    std::size_t next;
    if (opener[2] == '"') {
        split_request(f[2], hit);
        next = 3;
    } else {
        if (count < 4) return LineResult::malformed;
        hit.method = dash_empty(f[2]);
        hit.url = dash_empty(f[3]);
        next = 4;
    }
    hit.status = dash_empty(f[next]);
    hit.bytes = read_count(f[next + 1]);
    if (next + 3 < count && opener[next + 2] == '"' && opener[next + 3] == '"') {
        hit.referrer = dash_empty(f[next + 2]);
        hit.agent = dash_empty(f[next + 3]);
    }
    return LineResult::hit;
}

LineResult ParsePipeLine(std::string_view line, HitRecord& hit, bool day_first) {
    hit.clear();
    std::array<std::string_view, 11> f{};
    const std::size_t count = split_at(line, '|', f);
    if (count < 7) return LineResult::malformed;
    hit.time = dash_empty(f[1]);
    if (!read_date_time(f[0], hit, day_first)) return LineResult::malformed;
    hit.client = dash_empty(f[2]);
    hit.user = unless_dash(f[3]);
    hit.method = dash_empty(f[4]);
    hit.url = dash_empty(f[5]);
    hit.status = dash_empty(f[6]);
    hit.bytes = read_count(f[7]);
    hit.referrer = unless_dash(f[8]);
    hit.agent = unless_dash(f[9]);
    hit.server = unless_dash(f[10]);
    return LineResult::hit;
}

}  // namespace tallowick::logs
