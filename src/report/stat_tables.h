// Statistic tables: one counting table of a report written as one table of a
// page, with the columns of its kind, the shown rows, and the closing Others,
// Average and Totals rows. Search engines add a phrase table per engine; the
// mean-path and report-list tables have layouts of their own.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "engine/report_stats.h"
#include "report/output_writer.h"
#include "report/page_title_seam.h"

namespace tallowick::report {

// Kinds of statistic: they choose the columns and the item cell.
enum StatKind : int {
    kSessionDepth = 0, kDays = 1, kHours = 2, kWeekdays = 3, kDirectories = 4, kFileTypes = 5,
    kCountries = 6, kClients = 7, kFiles = 8, kBrowsers = 9, kSystems = 10, kReferrals = 11,
    kOrganisations = 12, kServerErrors = 13, kFailedUrls = 14, kReferringSites = 15,
    kPages = 16, kEntryPages = 17, kPageHistory = 18, kClientHistory = 19,
    kSearchStrings = 20, kDownloads = 21, kSearchEngines = 22, kAdverts = 23,
    kWeekdayHours = 24, kMeanPaths = 25, kRobots = 26, kDirectoryGroups = 27,
    kVisitorMeasures = 28, kSourceAddresses = 100, kProtocols = 101, kRecentDays = 301,
    kReportList = -1,
};

// The rows a `statdepth` code shows; 0 means every row.
int rowLimit(int statdepth);

// What every table of one report reads besides its counting table.
struct TableOptions {
    int statdepth = 4;
    int recentdaily = 30;
    bool session_columns = false;      // stat flag sessionhistory (clientstream)
    std::string siteurl;               // joined with paths for file and page links
    // The title shown in place of a linked path (remotetitle); empty: the paths.
    PageTitleLookup page_title;
    // Which weekdays (Sunday first) have their own hourly page: kind 3 links them.
    std::array<bool, 7> weekday_pages{};
    // Chart palette colours for the item cells of the first 15 rows; empty: none.
    std::span<const std::uint32_t> graph_colours;
    // The page key of a protocol (kind 101) that has a page of its own; empty
    // for one that has none. An empty function: no protocol links.
    std::function<std::string_view(std::string_view protocol)> protocol_page;
};

struct StatTable {
    int kind = kDays;
    std::string_view title;
    std::string_view label;     // the item column's heading
};

// writeStatTable: writes `list` as a table of `table.kind` with the report's
// totals as percent bases. Returns the number of rows shown (0 when nothing
// was written: no page or no items).
int writeStatTable(OutputWriter& out, const engine::ReportStats& report,
                   const engine::StatList& list, const StatTable& table,
                   const TableOptions& options);

// writeMeanPathTable: the most frequent page sequences of visits, with the
// visits that followed each and the pages in order. Returns the rows shown.
int writeMeanPathTable(OutputWriter& out, const engine::ReportStats& report,
                       const TableOptions& options);

// One row of the overview of a multi-report run.
struct ReportListEntry {
    const engine::ReportStats* report = nullptr;
    std::string link;   // the report's main page, relative to the overview page
};

// writeReportListTable: one row per report with its requests, bytes, visits,
// visitors, pages and errors, the name linked to its main page.
int writeReportListTable(OutputWriter& out, std::span<const ReportListEntry> reports,
                         std::string_view title, std::string_view label,
                         const TableOptions& options);

// The site URL joined with a path, one "/" dropped when both have one.
std::string siteLink(std::string_view siteurl, std::string_view path);

// The external reference page of a country of the country table, or nothing
// for a name that is not a country (local network, unresolved addresses).
std::optional<std::string> countryReference(std::string_view name);

// Three-letter English weekday and month names (translated like all page text).
std::string_view weekdayAbbreviation(int weekday);
std::string_view monthAbbreviation(int month);   // 1..12

}  // namespace tallowick::report
