#include "logs/squid.h"

#include <array>

#include "logs/field_text.h"

namespace tallowick::logs {

namespace {

using namespace detail;

struct SquidFields {
    std::array<std::string_view, 8> f{};
    std::size_t count = 0;
    std::string_view status;  // the digits after the result code
};

// Cuts the first eight fields and checks their shape.
bool cut(std::string_view line, SquidFields& out) {
    std::size_t i = 0;
    const std::size_t n = line.size();
    while (out.count < out.f.size()) {
        while (i < n && line[i] == ' ') ++i;
        if (i == n) break;
        std::size_t end = line.find(' ', i);
        if (end == npos) end = n;
        out.f[out.count++] = line.substr(i, end - i);
        i = end;
    }
    if (out.count < 7) return false;

    // A timestamp "1576177221.686": seconds (nine digits or more) and a fraction.
    std::string_view stamp = out.f[0];
    std::size_t dot = stamp.find('.');
    if (dot == npos || dot < 9 || dot > 12 || !all_digits(stamp.substr(0, dot)) ||
        !all_digits(stamp.substr(dot + 1)))
        return false;
    if (!all_digits(out.f[1]) || !all_digits(out.f[4]) || out.f[5].empty()) return false;

    // A result code "TCP_MISS/200": capitals and underscores, "/", three digits.
    std::string_view code = out.f[3];
    std::size_t slash = code.find('/');
    if (slash == npos || slash == 0 || code.size() - slash != 4) return false;
    for (char c : code.substr(0, slash))
        if (!((c >= 'A' && c <= 'Z') || c == '_')) return false;
    out.status = code.substr(slash + 1);
    return all_digits(out.status);
}

}  // namespace

bool IsSquidLine(std::string_view line) {
    SquidFields fields;
    return cut(line, fields);
}

LineResult ParseSquidLine(std::string_view line, HitRecord& hit, LocalClock& clock) {
    hit.clear();
    SquidFields s;
    if (!cut(line, s) || !clock.stamp(read_count(s.f[0]), hit)) return LineResult::malformed;
    hit.time_taken = read_count(s.f[1]);
    hit.client = dash_empty(s.f[2]);
    hit.status = s.status;
    hit.bytes = read_count(s.f[4]);
    hit.method = dash_empty(s.f[5]);
    hit.url = dash_empty(s.f[6]);
    hit.user = unless_dash(s.f[7]);
    return LineResult::hit;
}

}  // namespace tallowick::logs
