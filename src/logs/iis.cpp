#include "logs/iis.h"

#include <array>

#include "logs/common_line.h"
#include "logs/field_text.h"

namespace tallowick::logs {

using namespace detail;

LineResult ParseIisLine(std::string_view line, HitRecord& hit, bool day_first) {
    hit.clear();
    constexpr std::size_t kMin = 10, kMax = 24;
    // Two slots past the last field read as empty when the line is short.
    std::array<std::string_view, kMax + 3> tokens{};
    std::size_t count = 0, start = 0;
    while (true) {
        std::size_t comma = line.find(',', start);
        std::size_t end = comma == npos ? line.size() : comma;
        if (count == kMax) return LineResult::malformed;
        tokens[count++] = line.substr(start, end - start);
        if (comma == npos) break;
        start = comma + 1;
        // The blank that follows each comma is not part of the field.
        if (start < line.size() && line[start] == ' ') ++start;
    }
    if (count < kMin) return LineResult::malformed;

    hit.date = NormaliseFieldDate(tokens[2], day_first);
    if (hit.date.empty()) return LineResult::malformed;
    hit.client = dash_empty(tokens[0]);
    hit.user = dash_empty(tokens[1]);
    hit.time = dash_empty(tokens[3]);
    hit.server = dash_empty(tokens[6]);
    hit.time_taken = read_count(tokens[7]);
    hit.bytes_in = read_count(tokens[8]);
    hit.bytes = read_count(tokens[9]);
    hit.status = dash_empty(tokens[10]);
    hit.method = dash_empty(tokens[12]);
    hit.url = unless_dash(tokens[13]);

    std::string_view referrer = tokens[15];
    if (!referrer.empty() && !is_digit(referrer[0]) && referrer[0] != '-') hit.referrer = referrer;

    std::string_view agent = tokens[16];
    const bool from_14 = !agent.empty() && agent[0] == '-';
    if (from_14) agent = tokens[14];
    if (!agent.empty() && !is_digit(agent[0]) && !(from_14 && agent[0] == '-')) hit.agent = agent;
    return LineResult::hit;
}

}  // namespace tallowick::logs
