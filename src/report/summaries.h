// Summary blocks of a report: the period heading at the top of every page, the
// "Server Load" block of totals, averages and bandwidth, the "Server Statistics"
// and "Client Statistics" blocks of links to the statistic pages, and the
// processing-time line of the main page.
#pragma once

#include <functional>
#include <string_view>

#include "base/settings.h"
#include "engine/report_stats.h"
#include "report/output_writer.h"

namespace tallowick::report {

// What the blocks read besides the report.
struct SummaryOptions {
    const Settings* settings = nullptr;
    // Whether the page of a page key is written in this report (link blocks).
    std::function<bool(std::string_view key)> page_written;
    // The current time as a Julian date (tests fix it); empty: the clock.
    std::function<double()> now;
};

// The calendar days from the first hit's to the last hit's, both counted (1 when
// the report has no hit times): the period of the page headings and averages.
int calendarDays(const engine::ReportStats& report);

// The title line "<title> for <log> during <days> Day Period" and the dates.
void writePeriodHeading(const engine::ReportStats& report, OutputWriter& out,
                        std::string_view title, int days, const SummaryOptions& options);

// "Server Load": requests, visits, visitors, averages and (with "bandwidth")
// the bandwidth lines. large: the main page's size, else the frame index's.
void writeServerLoad(const engine::ReportStats& report, OutputWriter& out, int width, bool large,
                     const SummaryOptions& options);

// The link blocks, HTML only: one row per statistic page that is written.
void writeServerLinks(const engine::ReportStats& report, OutputWriter& out, int width, bool large,
                      const SummaryOptions& options);
void writeClientLinks(const engine::ReportStats& report, OutputWriter& out, int width, bool large,
                      const SummaryOptions& options);

// The processing time with files and megabytes per minute, the link to the
// framed version and a comment block of the run's figures.
void writeProcessingTime(const engine::ReportStats& report, OutputWriter& out,
                         const SummaryOptions& options);

// The line-rate name and percentage of the bandwidth block for a bit rate:
// the first rate whose capacity is above it; "T3" beyond every rate.
struct LineRate {
    std::string_view name;
    double capacity = 0;
};
LineRate lineRateFor(double bits_per_second);

}  // namespace tallowick::report
