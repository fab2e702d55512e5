#include "engine/search_engines.h"

#include <array>

namespace tallowick::engine {
namespace {

constexpr std::array<SearchEngine, 25> kEngines = {{
    {"yahoo.", "search?p=", 9, '\0'},
    {"goto.", "Keywords=", 9, '\0'},
    {"excite.", "search=", 7, '\0'},
    {"altavista.", "&q=", 3, '\0'},
    {"lycos.", "query=", 6, '\0'},
    {"infoseek.", "qt=", 3, '\0'},
    {"anzwers.", "?MT=", 4, '\0'},
    {"hotbot.", "&MT=", 4, '\0'},
    {"webcrawler.", "searchText=", 11, '\0'},
    {"netfind.aol.", "search=", 7, '\0'},
    {"voila.", "&kw=", 4, '\0'},
    {"google.", "search?q=", 9, '\0'},
    {"directhit.", "?fmt=html&qry=", 14, '\0'},
    {"looksmart.", "&key=", 5, '\0'},
    {"northernlight.", "?cb=0&qr=", 9, '\0'},
    {"fireball.", "&q=", 3, '\0'},
    {"search.", "QUERY=", 6, '\0'},
    {"query", "=", 1, '\0'},
    {"CiRestriction", "CiRestriction=", 14, '$'},
    // Today's engines, after every classic entry.
    {"bing.", "q=", 2, '\0'},
    {"duckduckgo.", "q=", 2, '\0'},
    {"yandex.", "text=", 5, '\0'},
    {"baidu.", "wd=", 3, '\0'},
    {"google.", "?q=", 3, '\0'},
    {"google.", "&q=", 3, '\0'},
}};

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::span<const SearchEngine> search_engines() { return kEngines; }

void decode_phrase(std::string_view text, char stop, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '&' || (stop != '\0' && c == stop)) break;
        if (c == '+') {
            while (i + 1 < text.size() && text[i + 1] == '+') ++i;
            c = ' ';
        } else if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
                   HexValue(text[i + 2]) >= 0) {
            c = static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        }
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
        out += c;
    }
    if (!out.empty() && out.back() == ' ') out.pop_back();
    if (!out.empty() && out.front() == ' ') out.erase(0, 1);
}

bool search_phrase(std::string_view referrer, std::string& out) {
    out.clear();
    // Every parameter of the table ends in "=": most referrers are settled here.
    if (referrer.find('=') == std::string_view::npos) return false;
    for (const SearchEngine& e : kEngines) {
        const std::size_t site = referrer.find(e.site);
        if (site == std::string_view::npos) continue;
        // The parameter is looked for from the site text on, not after it:
        // "CiRestriction=" begins with its own site text.
        const std::size_t param = referrer.find(e.param, site);
        if (param == std::string_view::npos) continue;
        const std::size_t start = param + static_cast<std::size_t>(e.skip);
        if (start > referrer.size()) continue;
        decode_phrase(referrer.substr(start), e.stop, out);
        if (!out.empty()) return true;
    }
    return false;
}

}  // namespace tallowick::engine
