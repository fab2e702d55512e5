#include "report/stat_tables.h"

#include <algorithm>
#include <cstring>

#include "base/julian_date.h"
#include "engine/clients.h"
#include "engine/sessions.h"
#include "engine/stat_list.h"
#include "report/number_format.h"

namespace tallowick::report {

namespace {

using engine::StatItem;
using engine::StatList;

enum class Column : std::uint8_t {
    requests, requests_pct, bytes, bytes_pct, sessions, visitors, pages, total_time,
    mean_time, errors, first_count, cost,
};

struct Columns {
    std::array<Column, 12> list{};
    int count = 0;
    void add(Column c) { list[static_cast<std::size_t>(count++)] = c; }
    std::span<const Column> view() const { return {list.data(), static_cast<std::size_t>(count)}; }
};

std::string_view column_heading(Column c) {
    switch (c) {
        case Column::requests: return "Requests";
        case Column::requests_pct: return "%";
        case Column::bytes: return "Bytes";
        case Column::bytes_pct: return "%";
        case Column::sessions: return "Sessions";
        case Column::visitors: return "Visitors";
        case Column::pages: return "Pages";
        case Column::total_time: return "Total Time";
        case Column::mean_time: return "Mean Time";
        case Column::errors: return "Errors";
        case Column::first_count: return "First count";
        case Column::cost: return "$ Cost";
    }
    return "";
}

Columns columns_of(int kind, bool session_columns, bool cost) {
    Columns c;
    c.add(Column::requests);
    c.add(Column::requests_pct);
    if (kind != kMeanPaths) {
        c.add(Column::bytes);
        c.add(Column::bytes_pct);
    }
    switch (kind) {
        case kDays: case kWeekdays: case kRecentDays:
            c.add(Column::sessions);
            if (session_columns) c.add(Column::visitors);
            c.add(Column::pages);
            c.add(Column::errors);
            break;
        case kHours: case kDirectories: case kWeekdayHours: case kDirectoryGroups:
            c.add(Column::pages);
            c.add(Column::errors);
            break;
        case kFileTypes: case kFiles: case kReferrals: case kReferringSites: case kDownloads:
        case kSearchEngines: case kRobots: case kSourceAddresses:
            c.add(Column::errors);
            break;
        case kCountries: case kOrganisations:
            c.add(Column::sessions);
            c.add(Column::visitors);
            c.add(Column::pages);
            c.add(Column::total_time);
            c.add(Column::errors);
            break;
        case kClients: case kClientHistory:
            c.add(Column::sessions);
            c.add(Column::mean_time);
            c.add(Column::pages);
            c.add(Column::errors);
            break;
        case kBrowsers: case kSystems:
            c.add(Column::visitors);
            c.add(Column::pages);
            c.add(Column::errors);
            break;
        case kServerErrors:
            c.add(Column::pages);
            break;
        case kPages: case kPageHistory:
            if (session_columns) {
                c.add(Column::sessions);
                c.add(Column::mean_time);
                c.add(Column::visitors);
            }
            c.add(Column::errors);
            break;
        case kEntryPages:
            c.add(Column::first_count);
            c.add(Column::errors);
            break;
        case kVisitorMeasures:
            c.add(Column::visitors);
            break;
        default:
            break;
    }
    if (cost) c.add(Column::cost);
    return c;
}

// The values of one row (an item, or the sums of the Others, Average and Totals rows).
struct RowValues {
    double requests = 0, bytes = 0, sessions = 0, visitors = 0, pages = 0, time = 0, errors = 0;

    static RowValues Of(const StatItem& item) {
        return {static_cast<double>(item.req), item.bytes, static_cast<double>(item.visits),
                static_cast<double>(item.misc1), static_cast<double>(item.pages), item.timetot,
                static_cast<double>(item.errors)};
    }
    void add(const RowValues& v) {
        requests += v.requests;
        bytes += v.bytes;
        sessions += v.sessions;
        visitors += v.visitors;
        pages += v.pages;
        time += v.time;
        errors += v.errors;
    }
    RowValues minus(const RowValues& v) const {
        return {requests - v.requests, bytes - v.bytes, sessions - v.sessions,
                visitors - v.visitors, pages - v.pages, time - v.time, errors - v.errors};
    }
    RowValues divided(double n) const {
        if (n <= 0) return {};
        return {requests / n, bytes / n, sessions / n, visitors / n, pages / n, time / n,
                errors / n};
    }
};

double base_of(double total) { return total != 0 ? total : 1; }

std::int64_t whole(double v) { return static_cast<std::int64_t>(v < 0 ? 0 : v + 0.5); }

void write_value_cells(OutputWriter& out, std::span<const Column> columns, const RowValues& v,
                       double request_base, double byte_base) {
    for (Column c : columns) {
        switch (c) {
            case Column::requests: out.countCell(whole(v.requests)); break;
            case Column::requests_pct:
                out.rightCell(1, formatPercent(v.requests / request_base * 100));
                break;
            case Column::bytes: out.rightCell(1, formatBytes(v.bytes)); break;
            case Column::bytes_pct: out.rightCell(1, formatPercent(v.bytes / byte_base * 100)); break;
            case Column::sessions: out.countCell(whole(v.sessions)); break;
            case Column::visitors: out.countCell(whole(v.visitors)); break;
            case Column::pages: case Column::first_count: out.countCell(whole(v.pages)); break;
            case Column::total_time: out.rightCell(1, formatDuration(v.time)); break;
            case Column::mean_time: out.meanTimeCell(v.time, v.sessions); break;
            case Column::errors: out.countCell(whole(v.errors)); break;
            case Column::cost: out.costCell(v.bytes); break;
        }
    }
}

std::uint32_t scaled(std::uint32_t colour, int percent) {
    std::uint32_t result = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const int channel = std::clamp(static_cast<int>((colour >> shift) & 0xFF) * percent / 100,
                                       0, 255);
        result |= static_cast<std::uint32_t>(channel) << shift;
    }
    return result;
}

// Month key "MM/YYYY" as "Nov 2026"; the name itself when it is not one.
std::string month_text(std::string_view name) {
    if (name.size() == 7 && name[2] == '/') {
        const int month = (name[0] - '0') * 10 + (name[1] - '0');
        if (month >= 1 && month <= 12)
            return std::string(monthAbbreviation(month)) + " " + std::string(name.substr(3));
    }
    return std::string(name);
}

// A day key "MM/DD/YYYY" with its weekday in front: "Tue 12/08/2026".
std::string day_text(std::string_view name) {
    auto number = [&](std::size_t at, std::size_t n) {
        int v = 0;
        for (std::size_t i = at; i < at + n; ++i) {
            if (name[i] < '0' || name[i] > '9') return -1;
            v = v * 10 + (name[i] - '0');
        }
        return v;
    };
    if (name.size() == 10 && name[2] == '/' && name[5] == '/') {
        const int month = number(0, 2), day = number(3, 2), year = number(6, 4);
        if (month >= 1 && day >= 1 && year >= 0)
            return std::string(weekdayAbbreviation(JulianWeekday(JulianDate(year, month, day)))) +
                   " " + std::string(name);
    }
    return std::string(name);
}

int weekday_of_name(std::string_view name) {
    static constexpr std::array<std::string_view, 7> kDays = {
        "Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
    for (std::size_t i = 0; i < kDays.size(); ++i)
        if (kDays[i] == name) return static_cast<int>(i);
    return -1;
}

// Whether a kind's item names are the program's own words (dates, hours, day
// and country names, statuses, ranges), which the report language translates,
// rather than log data such as paths, hosts and phrases, which stays as it is.
bool names_are_own_words(int kind) {
    switch (kind) {
        case kSessionDepth: case kDays: case kHours: case kWeekdays: case kCountries:
        case kBrowsers: case kSystems: case kServerErrors: case kWeekdayHours: case kRobots:
        case kVisitorMeasures: case kProtocols: case kRecentDays:
            return true;
        default:
            return false;
    }
}

void write_item_cell(OutputWriter& out, const StatItem& item, int row, const StatTable& table,
                     const TableOptions& options, long shade) {
    struct Translation {
        OutputWriter& out;
        ~Translation() { out.setTranslating(true); }
    } restore{out};
    out.setTranslating(names_are_own_words(table.kind));
    const std::string_view name = item.name;
    switch (table.kind) {
        case kDays: case kRecentDays:
            if (table.label == "Month")
                out.shadedRightCell(1, shade, out.data(month_text(name)));
            else
                out.shadedRightCell(1, shade, out.data(day_text(name)));
            return;
        case kHours: case kWeekdayHours: {
            const std::string text = formatText("%-*.*s:00", static_cast<int>(table.label.size()) + 1,
                                                static_cast<int>(name.size()), name.data());
            out.shadedRightCell(1, shade, out.data(text));
            return;
        }
        case kWeekdays: {
            const int day = weekday_of_name(name);
            if (day >= 0 && options.weekday_pages[static_cast<std::size_t>(day)]) {
                const std::string link = std::string(name.substr(0, 3)) + "day" +
                                         std::string(out.style().pageExtension());
                out.linkCell(1, out.dataLink(link), out.data(name));
            } else {
                out.shadedRightCell(1, shade, out.data(name));
            }
            return;
        }
        case kCountries:
            if (auto link = countryReference(name)) {
                out.linkCell(1, out.dataLink(*link), out.data(name));
                return;
            }
            break;
        case kFiles: case kPages: case kEntryPages: case kPageHistory: case kDownloads: {
            const std::string link = siteLink(options.siteurl, name);
            // A title needs a site to fetch it from; without one the link is a bare path.
            std::string title;
            if (options.page_title && !options.siteurl.empty()) title = options.page_title(link);
            out.linkCell(1, out.dataLink(link), out.data(title.empty() ? name : title));
            return;
        }
        case kSearchEngines:
            // The engine's phrase table follows on the same page under anchor `row`.
            out.linkCell(1, formatText("#%d", row), out.data(name));
            return;
        case kProtocols:
            if (options.protocol_page && !name.empty() && name[0] != 'U') {
                const std::string_view page = options.protocol_page(name);
                if (!page.empty()) {
                    out.linkCell(1, out.dataLink(std::string(page) +
                                                 std::string(out.style().pageExtension())),
                                 out.data(name));
                    return;
                }
            }
            break;
        default:
            break;
    }
    out.shadedRightCell(1, shade, out.data(name));
}

int shown_rows(int kind, int items, int statdepth, int recentdaily, int& first) {
    first = 0;
    if (kind == kRecentDays) {
        const int n = std::clamp(recentdaily, 0, items);
        first = items - n;
        return n;
    }
    if (kind >= kSessionDepth && kind <= kWeekdays) return items;
    const int limit = rowLimit(statdepth);
    return (limit > 1 && limit < items) ? limit : items;
}

void write_header_row(OutputWriter& out, std::span<const Column> columns, std::string_view label,
                      std::uint32_t colour) {
    out.beginRow(colour, static_cast<int>(columns.size()) + 1);
    for (Column c : columns) out.headerCell(column_heading(c));
    out.headerCell(label);
    out.endRow();
}

void write_closing_row(OutputWriter& out, std::span<const Column> columns, const RowValues& v,
                       double request_base, double byte_base, std::uint32_t colour,
                       std::string_view name) {
    out.beginRow(colour, static_cast<int>(columns.size()) + 1);
    write_value_cells(out, columns, v, request_base, byte_base);
    out.headerCell(name);
    out.endRow();
}

// The phrase table of one search engine: its phrases come from the engine's
// records, keyed by the phrase's name hash in the search-string list.
void write_sub_table(OutputWriter& out, const engine::ReportStats& report, const StatItem& engine,
                     const TableOptions& options) {
    const engine::TimeRecList* records = &engine.timeRecs;
    const StatList* phrases = report.searchstr.get();
    const int count = records ? records->Count() : 0;
    std::vector<engine::TimeRecord> sorted;
    if (records) sorted.assign(records->Records().begin(), records->Records().end());
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const auto& a, const auto& b) { return a.count > b.count; });
    const int limit = rowLimit(options.statdepth);
    const int n = (limit > 1 && limit < count) ? limit : count;
    const bool cost = out.style().hasCost();
    const int columns = cost ? 6 : 5;
    const TableColours& colours = out.style().colours;

    out.beginTable(n, out.data(engine.name), columns, out.tableWidth());
    out.beginRow(colours[kHeadersColour], columns);
    out.headerCell("Requests");
    out.headerCell("% Requests");
    out.headerCell("Bytes Sent");
    out.headerCell("% Bytes");
    if (cost) out.headerCell("$ Cost");
    out.headerCell(out.data(engine.name));
    out.endRow();

    const double request_base = base_of(engine.req);
    const double byte_base = base_of(engine.bytes);
    double shown_requests = 0, shown_bytes = 0;
    auto row = [&](std::uint32_t colour, double requests, double bytes, std::string_view name,
                   bool header) {
        out.beginRow(colour, columns);
        out.countBytesCells(whole(requests), requests / request_base * 100, bytes,
                            bytes / byte_base * 100);
        if (cost) out.costCell(bytes);
        if (header) {
            out.headerCell(name);
        } else {
            out.setTranslating(false);   // a search phrase is log data
            out.rightCell(1, out.data(name));
            out.setTranslating(true);
        }
        out.endRow();
    };
    for (int i = 0; i < n; ++i) {
        const engine::TimeRecord& r = sorted[static_cast<std::size_t>(i)];
        const int index = phrases ? phrases->FindByHash(static_cast<std::uint32_t>(r.key)) : -1;
        const std::string_view phrase = index >= 0 ? phrases->Name(index) : std::string_view("-");
        row(colours[kItemsColour], r.count, static_cast<double>(r.sum), phrase, false);
        shown_requests += r.count;
        shown_bytes += static_cast<double>(r.sum);
    }
    double total_requests = 0, total_bytes = 0;
    for (const auto& r : sorted) {
        total_requests += r.count;
        total_bytes += static_cast<double>(r.sum);
    }
    if (n < count)
        row(colours[kOthersColour], total_requests - shown_requests, total_bytes - shown_bytes,
            "Others", true);
    if (count > 0)
        row(colours[kAverageColour], total_requests / count, total_bytes / count, "Average", true);
    row(colours[kTotalsColour], total_requests, total_bytes, "Totals", true);
    out.endTable();
}

}  // namespace

int rowLimit(int statdepth) {
    if (statdepth <= 2) return 0;
    return engine::DepthRows(statdepth);
}

std::string siteLink(std::string_view siteurl, std::string_view path) {
    std::string link(siteurl);
    if (!link.empty() && link.back() == '/' && !path.empty() && path.front() == '/')
        link.pop_back();
    link.append(path);
    return link;
}

std::optional<std::string> countryReference(std::string_view name) {
    for (const engine::Country& c : engine::country_codes()) {
        if (c.name != name) continue;
        std::string link = "https://en.wikipedia.org/wiki/";
        for (char ch : name) link += ch == ' ' ? '_' : ch;
        return link;
    }
    return std::nullopt;
}

std::string_view weekdayAbbreviation(int weekday) {
    static constexpr std::array<std::string_view, 7> kNames = {"Sun", "Mon", "Tue", "Wed",
                                                               "Thu", "Fri", "Sat"};
    return (weekday >= 0 && weekday < 7) ? kNames[static_cast<std::size_t>(weekday)] : "";
}

std::string_view monthAbbreviation(int month) {
    static constexpr std::array<std::string_view, 12> kNames = {
        "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    return (month >= 1 && month <= 12) ? kNames[static_cast<std::size_t>(month - 1)] : "";
}

int writeStatTable(OutputWriter& out, const engine::ReportStats& report, const StatList& list,
                   const StatTable& table, const TableOptions& options) {
    if (!out.isOpen() || list.Count() == 0) return 0;
    if (table.kind == kMeanPaths) return writeMeanPathTable(out, report, options);
    const std::span<const StatItem> items = list.Items();
    const int count = static_cast<int>(items.size());
    int first = 0;
    const int n = shown_rows(table.kind, count, options.statdepth, options.recentdaily, first);
    const Columns columns = columns_of(table.kind, options.session_columns, out.style().hasCost());
    const TableColours& colours = out.style().colours;
    const double request_base = base_of(static_cast<double>(report.accepted_hits));
    const double byte_base = base_of(report.bytes);

    out.commentLine(formatText("Total Units = %d (bytes=%ld) / %d (%ld)", count,
                               static_cast<long>(count * sizeof(StatItem)), list.Capacity(),
                               static_cast<long>(list.Capacity() * sizeof(StatItem))));
    out.beginTable(n, table.title, columns.count + 1, out.tableWidth());
    write_header_row(out, columns.view(), table.label, colours[kHeadersColour]);

    RowValues shown;
    for (int i = 0; i < n; ++i) {
        const StatItem& item = items[static_cast<std::size_t>(first + i)];
        const std::uint32_t colour = scaled(colours[kItemsColour], i % 2 == 0 ? 100 : 95);
        out.beginRow(colour, columns.count + 1);
        const RowValues v = RowValues::Of(item);
        write_value_cells(out, columns.view(), v, request_base, byte_base);
        long shade = static_cast<long>(colour);
        if (i < 15 && !options.graph_colours.empty())
            shade = static_cast<long>(
                options.graph_colours[static_cast<std::size_t>(i) % options.graph_colours.size()]);
        write_item_cell(out, item, i, table, options, shade);
        out.endRow();
        shown.add(v);
    }

    RowValues totals{static_cast<double>(list.TotalReq()), list.TotalBytes(),
                     static_cast<double>(list.TotalVisits()), static_cast<double>(list.TotalMisc1()),
                     static_cast<double>(list.TotalPages()), list.TotalTime(),
                     static_cast<double>(report.failed_hits)};
    if (table.kind == kEntryPages) totals.pages = 0;
    if (table.kind == kEntryPages || table.kind == kRecentDays) {
        // Entry counts and the last days have no list total of their own.
        RowValues all;
        for (int i = (table.kind == kRecentDays ? first : 0); i < count; ++i)
            all.add(RowValues::Of(items[static_cast<std::size_t>(i)]));
        totals.pages = all.pages;
        if (table.kind == kRecentDays) totals = all;
    }
    if (table.kind != kEntryPages) {
        if (n < count) {
            RowValues others = totals.minus(shown);
            others.errors = static_cast<double>(report.failed_hits) - shown.errors;
            write_closing_row(out, columns.view(), others, request_base, byte_base,
                              colours[kOthersColour], "Others");
        }
        write_closing_row(out, columns.view(), totals.divided(table.kind == kRecentDays ? n : count),
                          request_base, byte_base, colours[kAverageColour], "Average");
    }
    write_closing_row(out, columns.view(), totals, request_base, byte_base, colours[kTotalsColour],
                      "Totals");
    out.endTable();

    if (table.kind == kSearchEngines) {
        out.lineBreaks(2);
        for (int j = 0; j < n; ++j) {
            out.anchor(j);
            write_sub_table(out, report, items[static_cast<std::size_t>(j)], options);
        }
    }
    return n;
}

int writeMeanPathTable(OutputWriter& out, const engine::ReportStats& report,
                       const TableOptions& options) {
    if (!out.isOpen() || report.mean_path.empty()) return 0;
    const bool cost = out.style().hasCost();
    const int columns = cost ? 4 : 3;
    const TableColours& colours = out.style().colours;
    std::vector<const engine::MeanPath*> paths;
    paths.reserve(report.mean_path.size());
    for (const engine::MeanPath& p : report.mean_path) paths.push_back(&p);
    std::stable_sort(paths.begin(), paths.end(),
                     [](const auto* a, const auto* b) { return a->occurrences > b->occurrences; });
    const int count = static_cast<int>(paths.size());
    const int limit = rowLimit(options.statdepth);
    const int n = (limit > 1 && limit < count) ? limit : count;
    const double visits = base_of(report.client ? report.client->TotalVisits() : 0);

    out.beginTable(n, "Mean Path", columns, out.tableWidth());
    out.beginRow(colours[kHeadersColour], columns);
    out.headerCell("Visits");
    out.headerCell("%");
    if (cost) out.headerCell("$ Cost");
    out.headerCell("Mean Path");
    out.endRow();

    double total = 0;
    for (const auto* p : paths) total += p->occurrences;
    for (int i = 0; i < n; ++i) {
        const engine::MeanPath& path = *paths[static_cast<std::size_t>(i)];
        out.beginRow(scaled(colours[kItemsColour], i % 2 == 0 ? 100 : 95), columns);
        out.countPercentCells(path.occurrences, path.occurrences / visits * 100);
        if (cost) out.costCell(0);
        std::string cell;
        int step = 0;
        for (const std::string_view name : engine::mean_path_pages(report, path)) {
            ++step;
            cell += formatText("%d.  ", step);
            const std::string link = siteLink(options.siteurl, name);
            if (out.format() == Html)
                cell += "<A HREF=\"" + std::string(out.dataLink(link)) + "\">" +
                        std::string(out.data(name)) + "</A><BR>";
            else if (out.format() == Rtf)
                cell += "{\\uldb " + std::string(out.data(name)) + " {\\v !ExecFile(" +
                        std::string(out.dataLink(link)) + ")}}";
            else
                cell += std::string(name) + "\n";
        }
        out.setTranslating(false);   // page paths are log data
        out.rightCell(1, cell);
        out.setTranslating(true);
        out.endRow();
    }
    out.beginRow(colours[kAverageColour], columns);
    out.countPercentCells(whole(total / std::max(count, 1)), total / std::max(count, 1) / visits * 100);
    if (cost) out.costCell(0);
    out.headerCell("Average");
    out.endRow();
    out.beginRow(colours[kTotalsColour], columns);
    out.countPercentCells(whole(total), total / visits * 100);
    if (cost) out.costCell(0);
    out.headerCell("Total Visits");
    out.endRow();
    out.endTable();
    return n;
}

int writeReportListTable(OutputWriter& out, std::span<const ReportListEntry> reports,
                         std::string_view title, std::string_view label,
                         const TableOptions& options) {
    if (!out.isOpen() || reports.empty()) return 0;
    const bool cost = out.style().hasCost();
    const int columns = cost ? 10 : 9;
    const TableColours& colours = out.style().colours;
    const int count = static_cast<int>(reports.size());
    const int limit = rowLimit(options.statdepth);
    const int n = (limit > 1 && limit < count) ? limit : count;

    RowValues totals;
    auto values_of = [](const engine::ReportStats& r) {
        RowValues v;
        v.requests = static_cast<double>(r.accepted_hits);
        v.bytes = r.bytes;
        v.errors = static_cast<double>(r.failed_hits);
        if (r.client) {
            v.sessions = r.client->TotalVisits();
            v.visitors = r.client->Count();
            v.pages = r.client->TotalPages();
        }
        return v;
    };
    for (const ReportListEntry& e : reports) totals.add(values_of(*e.report));
    const double request_base = base_of(totals.requests);
    const double byte_base = base_of(totals.bytes);

    out.beginTable(n, title, columns, out.tableWidth());
    out.beginRow(colours[kHeadersColour], columns);
    for (std::string_view h : {"Requests", "% Requests", "Bytes Sent", "% Bytes", "Visits",
                               "Visitors", "Pages", "Errors"})
        out.headerCell(h);
    if (cost) out.headerCell("$ Cost");
    out.headerCell(label);
    out.endRow();

    static constexpr std::array<Column, 9> kColumns = {
        Column::requests, Column::requests_pct, Column::bytes, Column::bytes_pct,
        Column::sessions, Column::visitors, Column::pages, Column::errors, Column::cost};
    const std::span<const Column> shown_columns(kColumns.data(), cost ? 9 : 8);
    RowValues shown;
    for (int i = 0; i < n; ++i) {
        const ReportListEntry& e = reports[static_cast<std::size_t>(i)];
        const std::uint32_t colour = scaled(colours[kItemsColour], i % 2 == 0 ? 100 : 95);
        out.beginRow(colour, columns);
        const RowValues v = values_of(*e.report);
        write_value_cells(out, shown_columns, v, request_base, byte_base);
        if (out.format() == Html && i < 15 && !options.graph_colours.empty()) {
            const long shade = static_cast<long>(
                options.graph_colours[static_cast<std::size_t>(i) % options.graph_colours.size()]);
            out.writeFormat("<TD align=left bgcolor=%06lx>", shade);
            out.writeText("<A HREF=\"" + std::string(out.dataLink(e.link)) + "\">" +
                          std::string(out.data(e.report->name)) + "</A></TD>");
        } else {
            out.linkCell(1, out.dataLink(e.link), out.data(e.report->name));
        }
        out.endRow();
        shown.add(v);
    }
    if (n < count)
        write_closing_row(out, shown_columns, totals.minus(shown), request_base, byte_base,
                          colours[kOthersColour], "Others");
    write_closing_row(out, shown_columns, totals.divided(count), request_base, byte_base,
                      colours[kAverageColour], "Average");
    write_closing_row(out, shown_columns, totals, request_base, byte_base, colours[kTotalsColour],
                      "Totals");
    out.endTable();
    return n;
}

}  // namespace tallowick::report
