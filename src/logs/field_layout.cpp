#include "logs/field_layout.h"

#include "logs/common_line.h"
#include "logs/field_text.h"

namespace tallowick::logs {

namespace {

using namespace detail;

struct NamedItem {
    std::string_view name;
    FieldItem item;
};

// Webstar's own names, and the W3C names a "#Fields:" line without date and time
// may use.
constexpr std::array kTabNames{
    NamedItem{"DATE", FieldItem::date},          NamedItem{"TIME", FieldItem::time},
    NamedItem{"RESULT", FieldItem::result},      NamedItem{"STATUS", FieldItem::status},
    NamedItem{"HOSTNAME", FieldItem::client},    NamedItem{"CLIENT", FieldItem::client},
    NamedItem{"URL", FieldItem::url},            NamedItem{"BYTES_SENT", FieldItem::bytes},
    NamedItem{"BYTES_RECEIVED", FieldItem::bytes_in},
    NamedItem{"AGENT", FieldItem::agent},        NamedItem{"REFERER", FieldItem::referrer},
    NamedItem{"REFERRER", FieldItem::referrer},  NamedItem{"USER", FieldItem::user},
    NamedItem{"METHOD", FieldItem::method},      NamedItem{"TRANSFER_TIME", FieldItem::time_taken},
    NamedItem{"SERVER", FieldItem::server},
    NamedItem{"sc-status", FieldItem::status},   NamedItem{"c-ip", FieldItem::client},
    NamedItem{"c-dns", FieldItem::client},       NamedItem{"cs-uri-stem", FieldItem::url},
    NamedItem{"cs-uri", FieldItem::url},         NamedItem{"sc-bytes", FieldItem::bytes},
    NamedItem{"bytes", FieldItem::bytes},        NamedItem{"cs-bytes", FieldItem::bytes_in},
    NamedItem{"cs(User-Agent)", FieldItem::agent},
    NamedItem{"cs(Referer)", FieldItem::referrer},
    NamedItem{"cs-username", FieldItem::user},   NamedItem{"cs-method", FieldItem::method},
    NamedItem{"s-ip", FieldItem::server},        NamedItem{"cs-host", FieldItem::server},
    NamedItem{"time-taken", FieldItem::time_taken},
};

constexpr std::array kPurveyorNames{
    NamedItem{"REMOTE_HOST", FieldItem::client},   NamedItem{"REMOTE_ADDR", FieldItem::client},
    NamedItem{"%h", FieldItem::client},            NamedItem{"REMOTE_IDENT", FieldItem::none},
    NamedItem{"%l", FieldItem::none},              NamedItem{"REMOTE_USER", FieldItem::user},
    NamedItem{"AUTH_USER", FieldItem::user},       NamedItem{"%u", FieldItem::user},
    NamedItem{"DATE", FieldItem::date},            NamedItem{"TIME", FieldItem::time},
    NamedItem{"DATE_TIME", FieldItem::date_time},  NamedItem{"%t", FieldItem::date_time},
    NamedItem{"[%t]", FieldItem::date_time},       NamedItem{"REQUEST", FieldItem::request},
    NamedItem{"%r", FieldItem::request},           NamedItem{"\"%r\"", FieldItem::request},
    NamedItem{"REQUEST_METHOD", FieldItem::method}, NamedItem{"METHOD", FieldItem::method},
    NamedItem{"URL", FieldItem::url},              NamedItem{"PATH_INFO", FieldItem::url},
    NamedItem{"STATUS", FieldItem::status},        NamedItem{"%s", FieldItem::status},
    NamedItem{"%>s", FieldItem::status},           NamedItem{"BYTES", FieldItem::bytes},
    NamedItem{"CONTENT_LENGTH", FieldItem::bytes}, NamedItem{"%b", FieldItem::bytes},
    NamedItem{"HTTP_REFERER", FieldItem::referrer},
    NamedItem{"\"%{Referer}i\"", FieldItem::referrer},
    NamedItem{"HTTP_USER_AGENT", FieldItem::agent},
    NamedItem{"\"%{User-agent}i\"", FieldItem::agent},
    NamedItem{"SERVER_NAME", FieldItem::server},   NamedItem{"%v", FieldItem::server},
    NamedItem{"TIME_TAKEN", FieldItem::time_taken},
};

template <std::size_t N>
FieldItem lookup(const std::array<NamedItem, N>& names, std::string_view name) {
    for (const NamedItem& n : names)
        if (iequals(n.name, name)) return n.item;
    return FieldItem::none;
}

// Reads the names that follow `from` in `header`, separated by any of `seps`.
template <std::size_t N>
void read_names(std::string_view header, std::size_t from, std::string_view seps,
                const std::array<NamedItem, N>& names, FieldLayout& layout) {
    layout.clear();
    std::size_t i = from;
    while (layout.field_count < FieldLayout::kMaxFields) {
        while (i < header.size() && seps.find(header[i]) != npos) ++i;
        if (i >= header.size()) break;
        std::size_t end = i;
        while (end < header.size() && seps.find(header[end]) == npos) ++end;
        layout.item[layout.field_count++] = lookup(names, header.substr(i, end - i));
        i = end;
    }
}

// The last position the line must reach: the furthest of the fields without which
// a hit means nothing.
std::size_t required_fields(const FieldLayout& layout) {
    std::size_t need = 0;
    for (std::size_t p = 0; p < layout.field_count; ++p) {
        switch (layout.item[p]) {
        case FieldItem::date:
        case FieldItem::date_time:
        case FieldItem::time:
        case FieldItem::client:
        case FieldItem::url:
        case FieldItem::request:
            need = p + 1;
            break;
        default:
            break;
        }
    }
    return need;
}

// Fills the hit from one field. Returns false when a date does not read.
bool apply(FieldItem item, std::string_view field, HitRecord& hit, std::string_view& result,
           bool day_first) {
    switch (item) {
    case FieldItem::none: break;
    case FieldItem::date:
        hit.date = NormaliseFieldDate(field, day_first);
        if (hit.date.empty()) return false;
        if (hit.time.empty()) hit.time = time_in_date_field(field);
        break;
    case FieldItem::date_time:
        hit.date = NormaliseLogDate(field);
        if (hit.date.empty()) return false;
        hit.time = clf_time(field);
        break;
    case FieldItem::time: hit.time = dash_empty(field); break;
    case FieldItem::status: hit.status = dash_empty(field); break;
    case FieldItem::result: result = dash_empty(field); break;
    case FieldItem::client: hit.client = dash_empty(field); break;
    case FieldItem::url: hit.url = dash_empty(field); break;
    case FieldItem::request: split_request(field, hit); break;
    case FieldItem::agent: hit.agent = unless_dash(field); break;
    case FieldItem::referrer: hit.referrer = unless_dash(field); break;
    case FieldItem::user: hit.user = unless_dash(field); break;
    case FieldItem::server: hit.server = unless_dash(field); break;
    case FieldItem::method: hit.method = dash_empty(field); break;
    case FieldItem::bytes: hit.bytes = read_count(field); break;
    case FieldItem::bytes_in: hit.bytes_in = read_count(field); break;
    case FieldItem::time_taken: hit.time_taken = read_count(field); break;
    }
    return true;
}

bool has_date(const FieldLayout& layout) {
    for (std::size_t p = 0; p < layout.field_count; ++p)
        if (layout.item[p] == FieldItem::date || layout.item[p] == FieldItem::date_time)
            return true;
    return false;
}

}  // namespace

bool FieldLayout::is_common() const {
    using F = FieldItem;
    static constexpr std::array<F, 9> kCombined{F::client, F::none,    F::user,
                                                F::date_time, F::request, F::status,
                                                F::bytes,  F::referrer, F::agent};
    if (field_count != 7 && field_count != 9) return false;
    for (std::size_t p = 0; p < field_count; ++p)
        if (item[p] != kCombined[p]) return false;
    return true;
}

void ReadTabLayout(std::string_view header, FieldLayout& layout) {
    std::size_t first = 0;
    while (first < header.size() && header[first] != ' ' && header[first] != '\t') ++first;
    read_names(header, first, " \t", kTabNames, layout);
}

void SetWebstarDefaultLayout(FieldLayout& layout) {
    layout.clear();
    using F = FieldItem;
    for (F f : {F::date, F::time, F::result, F::client, F::url, F::bytes})
        layout.item[layout.field_count++] = f;
}

LineResult ParseWebstarLine(std::string_view line, HitRecord& hit, const FieldLayout& layout,
                            bool day_first) {
    hit.clear();
    if (!has_date(layout)) return LineResult::malformed;
    std::string_view result;
    std::size_t p = 0, start = 0;
    while (p < layout.field_count) {
        std::size_t tab = line.find('\t', start);
        std::string_view field = line.substr(start, tab == npos ? npos : tab - start);
        if (!apply(layout.item[p], field, hit, result, day_first)) return LineResult::malformed;
        ++p;
        if (tab == npos) break;
        start = tab + 1;
    }
    if (p < required_fields(layout) || hit.date.empty()) return LineResult::malformed;
    if (hit.status.empty()) hit.status = result;
    return LineResult::hit;
}

void ReadPurveyorLayout(std::string_view header, FieldLayout& layout) {
    std::size_t from = header.find("#!PARAMETER");
    from = from == npos ? 0 : from + 11;
    if (from < header.size() && (header[from] == ':' || header[from] == '=')) ++from;
    read_names(header, from, " \t,", kPurveyorNames, layout);
}

LineResult ParsePurveyorLine(std::string_view line, HitRecord& hit, const FieldLayout& layout,
                             bool day_first) {
    hit.clear();
    if (!has_date(layout)) return LineResult::malformed;
    std::string_view result;
    std::size_t p = 0;
    bool date_ok = true;
    const bool closed = for_each_spaced_field(line, [&](std::string_view field, char) {
        if (p == layout.field_count) return false;
        date_ok = apply(layout.item[p++], field, hit, result, day_first);
        return date_ok;
    });
    if (!closed || !date_ok || p < required_fields(layout) || hit.date.empty())
        return LineResult::malformed;
    if (hit.status.empty()) hit.status = result;
    return LineResult::hit;
}

}  // namespace tallowick::logs
