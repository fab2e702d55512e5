#include "graph/text_graph.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "engine/stat_list.h"

namespace tallowick::graph {

namespace {

constexpr std::string_view kOpen =
    "<NOSCRIPT><PRE>\n"
    "                       |\n"
    "                    ---+----+----+----+----+----+----+----+----+----+----+----\n";
constexpr std::string_view kClose =
    "                    ---+----+----+----+----+----+----+----+----+----+----+----\n"
    "                       |\n"
    "</PRE></NOSCRIPT>\n";
constexpr std::size_t kNameWidth = 22;
constexpr int kBarWidth = 55, kWiderBarWidth = 82;
// Statistic kinds whose names are host names: countries, clients, organisations.
constexpr int kCountries = 6, kClients = 7, kOrganisations = 12;
constexpr int kWeekdays = 3;

// The length of the longest start of text that is at most `bytes` long and
// does not split a UTF-8 sequence.
std::size_t utf8_cut(std::string_view text, std::size_t bytes) {
    if (text.size() <= bytes) return text.size();
    while (bytes > 0 && (static_cast<unsigned char>(text[bytes]) & 0xC0) == 0x80) --bytes;
    return bytes;
}

// The name cut to the name column: a host name keeps its end (the domain tells
// most) behind "..", any other name its start.
std::string column_name(std::string_view name, int subject) {
    const bool host = (subject == kCountries || subject == kClients || subject == kOrganisations) &&
                      !name.empty() && !(name.front() >= '0' && name.front() <= '9');
    if (host && name.size() > kNameWidth) {
        std::size_t from = name.size() - (kNameWidth - 2);
        while (from < name.size() && (static_cast<unsigned char>(name[from]) & 0xC0) == 0x80) ++from;
        return ".." + std::string(name.substr(from));
    }
    return std::string(name.substr(0, utf8_cut(name, kNameWidth)));
}

}  // namespace

int text_graph_items(int statdepth, int subject, int item_count) {
    int limit;
    if (statdepth >= 13) limit = statdepth;
    else if (statdepth >= 8) limit = 100 * statdepth - 700;
    else limit = 10 * statdepth - 20;
    if (subject > kWeekdays && limit >= 2 && limit <= item_count) return limit;
    return item_count;
}

void text_graph_write(report::OutputWriter& page, const engine::StatList& list, int subject,
                      int statdepth) {
    const int items = text_graph_items(statdepth, subject, list.Count());
    const int width = page.style().wider ? kWiderBarWidth : kBarWidth;
    int maximum = 0;
    for (int i = 0; i < items; ++i) maximum = std::max(maximum, list.Req(i));
    // Names are log data: they are neither translated nor left unescaped.
    page.setTranslating(false);
    page.writeText(kOpen);
    std::string line;
    for (int i = 0; i < items; ++i) {
        std::string name = column_name(list.Name(i), subject);
        name.resize(std::max(name.size(), kNameWidth), ' ');
        line.assign(page.data(name));
        line += " |";
        // The share of the maximum in whole characters, rounded down (in integers,
        // so that the maximum gets exactly the full width).
        const long long bar = maximum > 0 ? static_cast<long long>(list.Req(i)) * width / maximum : 0;
        for (long long n = 1; n <= bar; ++n) line += n % 5 == 0 ? '+' : '=';
        line += '\n';
        page.writeText(line);
    }
    page.writeText(kClose);
    page.setTranslating(true);
}

}  // namespace tallowick::graph
