#include "logs/w3c.h"

#include <algorithm>

#include "logs/common_line.h"
#include "logs/field_text.h"

namespace tallowick::logs {

namespace {

using namespace detail;

struct SlotNames {
    W3cLayout::Slot slot;
    std::array<std::string_view, 4> names;  // empty entries are unused
};

// Servers write the first names; proxies and web modules the later ones
// ("cs-uri" is the full URL, "date-local" the local date).
constexpr std::array<SlotNames, W3cLayout::kSlots> kSlotNames{{
    {W3cLayout::date, {"date", "date-local"}},
    {W3cLayout::time, {"time", "time-local"}},
    {W3cLayout::status, {"sc-status"}},
    {W3cLayout::client, {"c-ip", "cs-ip", "c-dns"}},
    {W3cLayout::url, {"cs-uri-stem", "cs-uri"}},
    {W3cLayout::agent, {"cs(User-Agent)", "c-agent"}},
    {W3cLayout::bytes, {"sc-bytes", "bytes"}},
    {W3cLayout::referrer, {"cs(Referer)", "cs(referrer)"}},
    {W3cLayout::user, {"cs-username"}},
    {W3cLayout::server, {"s-ip", "cs(host)", "cs-host"}},
    {W3cLayout::method, {"cs-method", "s-operation"}},
    {W3cLayout::bytes_in, {"cs-bytes"}},
}};

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The tokens of one W3C line, numbered from 1 as the layout counts them. Tokens
// are kept as offsets, which need no clearing, so cutting a line costs only
// the tokens it has.
class W3cTokens {
public:
    static constexpr std::size_t kCapacity = W3cLayout::kMaxFields + 1;

    // Cuts `line`; false for an open quote or more than `limit` tokens.
    bool cut(std::string_view line, std::size_t limit) {
        line_ = line;
        if (line.find('\t') != npos) return cut_at_tabs(line, limit);
        const std::size_t n = line.size();
        std::size_t i = 0;
        while (true) {
            while (i < n && is_blank(line[i])) ++i;
            if (i == n) return true;
            std::size_t start = i, end;
            if (line[i] == '"') {
                start = i + 1;
                end = line.find('"', start);
                if (end == npos) return false;
                i = end + 1;
            } else {
                end = i;
                while (end < n && !is_blank(line[end])) ++end;
                i = end;
            }
            if (count_ == limit || count_ == kCapacity) return false;
            items_[count_++] = Span{start, end - start};
        }
    }
    std::size_t size() const { return count_; }
    // Token number p (from 1); empty for 0 or past the last token.
    std::string_view operator[](std::size_t p) const {
        if (p == 0 || p > count_) return {};
        return line_.substr(items_[p - 1].begin, items_[p - 1].size);
    }

private:
    // One token between each two tabs, empty ones too; quotes around a whole
    // token are dropped.
    bool cut_at_tabs(std::string_view line, std::size_t limit) {
        // A tab at the end of the line closes the last field; it opens none.
        if (line.back() == '\t') line.remove_suffix(1);
        std::size_t start = 0;
        for (;;) {
            const std::size_t end = std::min(line.find('\t', start), line.size());
            std::size_t b = start, e = end;
            while (b < e && line[b] == ' ') ++b;
            while (e > b && line[e - 1] == ' ') --e;
            if (e - b >= 2 && line[b] == '"' && line[e - 1] == '"') {
                ++b;
                --e;
            }
            if (count_ == limit || count_ == kCapacity) return false;
            items_[count_++] = Span{b, e - b};
            if (end == line.size()) return true;
            start = end + 1;
        }
    }

    struct Span {
        std::size_t begin, size;
    };
    std::string_view line_;
    std::array<Span, kCapacity> items_;  // only the first count_ are set
    std::size_t count_ = 0;
};

int two_digits(std::string_view s, std::size_t at) {
    if (!is_digit(s[at]) || !is_digit(s[at + 1])) return -1;
    return (s[at] - '0') * 10 + (s[at + 1] - '0');
}

LineResult parse_line(std::string_view line, HitRecord& hit, const W3cLayout& layout,
                      LogDate header_date, const bool* oracle_day_first) {
    hit.clear();
    W3cTokens tokens;
    if (layout.field_count == 0 || !tokens.cut(line, layout.field_count + 1))
        return LineResult::malformed;

    auto pos = layout.position;
    std::string_view user;
    if (tokens.size() == layout.field_count + 1) {
        // "DOMAIN\John Smith" splits in two; the server address after the user
        // name shows where the name really ends.
        const std::size_t u = pos[W3cLayout::user], s = pos[W3cLayout::server];
        if (u == 0 || s == 0 || u >= s || is_ipv4(tokens[s]) || !is_ipv4(tokens[s + 1]))
            return LineResult::malformed;
        std::string_view first = tokens[u], second = tokens[u + 1];
        user = std::string_view(first.data(),
                                static_cast<std::size_t>(second.data() - first.data()) +
                                    second.size());
        for (auto& p : pos)
            if (p > u) ++p;
    } else if (tokens.size() != layout.field_count) {
        return LineResult::malformed;
    } else {
        user = tokens[pos[W3cLayout::user]];
    }

    auto at = [&](W3cLayout::Slot slot) { return tokens[pos[slot]]; };
    if (pos[W3cLayout::date] != 0) {
        std::string_view text = at(W3cLayout::date);
        hit.date = W3cDate(text);
        if (hit.date.empty() && oracle_day_first)
            hit.date = NormaliseFieldDate(text, *oracle_day_first);
    } else {
        hit.date = header_date;
    }
    if (hit.date.empty()) return LineResult::malformed;

    hit.time = dash_empty(at(W3cLayout::time));
    hit.status = dash_empty(at(W3cLayout::status));
    hit.client = dash_empty(at(W3cLayout::client));
    hit.url = dash_empty(at(W3cLayout::url));
    hit.method = dash_empty(at(W3cLayout::method));
    hit.agent = unless_dash(at(W3cLayout::agent));
    hit.referrer = unless_dash(at(W3cLayout::referrer));
    hit.user = unless_dash(user);
    hit.server = unless_dash(at(W3cLayout::server));
    hit.bytes = read_count(at(W3cLayout::bytes));
    hit.bytes_in = read_count(at(W3cLayout::bytes_in));
    return LineResult::hit;
}

}  // namespace

void ReadW3cLayout(std::string_view header, W3cLayout& layout) {
    layout.clear();
    std::size_t i = header.find("#Fields:");
    if (i != npos) {
        i += 8;
    } else {
        i = 0;
        while (i < header.size() && !is_blank(header[i])) ++i;
    }
    std::size_t number = 0;
    while (number < W3cLayout::kMaxFields) {
        while (i < header.size() && is_blank(header[i])) ++i;
        if (i == header.size()) break;
        std::size_t end = i;
        while (end < header.size() && !is_blank(header[end])) ++end;
        std::string_view name = header.substr(i, end - i);
        i = end;
        ++number;
        for (const SlotNames& s : kSlotNames) {
            if (layout.position[s.slot] != 0) continue;
            for (std::string_view accepted : s.names) {
                if (!accepted.empty() && iequals(name, accepted)) {
                    layout.position[s.slot] = static_cast<std::uint8_t>(number);
                    break;
                }
            }
        }
    }
    layout.field_count = number;
}

LogDate W3cDate(std::string_view text) {
    if (text.size() < 10) return {};
    const int year = two_digits(text, 2), month = two_digits(text, 5), day = two_digits(text, 8);
    if (year < 0 || month < 1 || month > 12 || day < 1 || day > 31) return {};
    return LogDate(year < 70 ? 2000 + year : 1900 + year, month, day);
}

LineResult ParseW3cLine(std::string_view line, HitRecord& hit, const W3cLayout& layout,
                        LogDate header_date) {
    return parse_line(line, hit, layout, header_date, nullptr);
}

LineResult ParseOracleLine(std::string_view line, HitRecord& hit, const W3cLayout& layout,
                           LogDate header_date, bool day_first) {
    return parse_line(line, hit, layout, header_date, &day_first);
}

}  // namespace tallowick::logs
