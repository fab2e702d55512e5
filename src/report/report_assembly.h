// Report assembly: after the analysis, every report of the run becomes a main
// page, two frame pages and one page per statistic, written through the output
// writer in HTML, RTF or comma-delimited text; then the chart layer draws the
// images the pages refer to. A multi-report run writes each report into a
// folder of its own and an overview page at the report path.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "base/created_files.h"
#include "base/settings.h"
#include "engine/report_stats.h"
#include "report/chart_seam.h"
#include "report/page_title_seam.h"

namespace tallowick::report {

class LanguageTable;

struct AssemblyOptions {
    const Settings* settings = nullptr;
    ChartDriver charts;                 // empty: no images are drawn
    TextGraphWriter text_graphs;        // with the ascii graph flag; empty: none
    LanguageTable* languages = nullptr; // null: the process's own table
    CreatedFiles* created = nullptr;    // every page written is recorded; may be null
    PageTitleSource page_titles;        // with remotetitle: URL rows show page titles
    std::function<double()> now;        // Julian now for headings; empty: the clock
};

// The main page's path and the page extension, completed from the "out" setting:
// an extension of its own becomes the HTML page extension; a folder (a path
// ending in a separator, or an existing folder) gets "index.html"; a name
// without extension gets ".html"; an empty one is "index.html". RTF and
// comma-delimited reports use ".rtf" and ".txt", the main page too.
struct ReportPath {
    std::filesystem::path main;
    std::string extension;
};
ReportPath completeReportPath(std::string_view out, int report_format);

// sortReportTables: orders every table of a report for its pages (dates in
// date order, hours and weekdays in their order, the rest by the "sort"
// setting, files and pages with pages meaning requests).
void sortReportTables(engine::ReportStats& report, const Settings& settings);

// writeReports: writes every report of the run that counted requests. Every
// page and image is written under a temporary name and all of them take their
// final names together at the end, holding the output folder's lock (a second
// run waits). Returns 0 when all were written; 1 when a file could not be
// written, the run was cancelled or the chart driver asked to stop: the files
// already written are then removed and the old report stays as it was (the
// reasons have been reported).
int writeReports(std::span<const std::unique_ptr<engine::ReportStats>> reports,
                 const AssemblyOptions& options);

// writeReport: one report on its own (interim reports of streaming runs).
int writeReport(engine::ReportStats& report, const AssemblyOptions& options);

// A folder name made from a report title: letters, digits, '-', '_' and '.'
// are kept, everything else becomes '_'; never empty, never "." or "..".
std::string safeFolderName(std::string_view title);

}  // namespace tallowick::report
