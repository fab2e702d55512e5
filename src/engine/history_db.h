// The history database: every report's tables saved at the end of a run into a
// gzip-compressed text file (".tdb"), and loaded again when such a file is given
// as a log, so that reports grow across runs and reports of several servers
// merge into one.
//
// A loaded report whose name the run already holds (from an earlier database or
// a split key) is added to that report: its counters add up, so a database per
// server, loaded together, gives the report of one run over all their logs.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/settings.h"
#include "engine/report_stats.h"

namespace tallowick::engine {

class AnalysisRun;
struct RunHooks;

// The text of a database holding `reports`, uncompressed.
std::string HistoryText(std::span<const std::unique_ptr<ReportStats>> reports);

// SaveHistory: writes the database of `reports` to path, gzip level 4, through a
// temporary file renamed over the old one, so that a failed save leaves the
// previous database as it was. False with error holding the path and the reason.
bool SaveHistory(std::span<const std::unique_ptr<ReportStats>> reports, const std::string& path,
                 std::string& error);

// Where a database file stopped making sense.
struct HistoryDamage {
    long line = 0;  // 1-based; 0 when the file as a whole could not be read
    std::string what;
};

// Reports read from a database, not yet part of a run.
struct LoadedHistory {
    std::vector<std::unique_ptr<ReportStats>> reports;
    std::vector<HistoryDamage> damage;  // empty for a sound file
};

// ParseHistory: the reports of a database text (uncompressed), with the lists
// `options` asks for; lines the format does not describe are damage, item lines
// of fewer than 13 columns are passed over as the format allows.
LoadedHistory ParseHistory(std::string_view text, const ReportOptions& options);

// MergeReport: adds every counter, list item and record of `from` to `into`,
// as if the hits of both had been counted into one report.
void MergeReport(ReportStats& into, const ReportStats& from);

// LoadHistory: reads the database file and adds its reports to the run. A file
// that cannot be read, or is damaged, is reported (naming the file and the
// line) and nothing of it is loaded, unless `salvage`: then what read soundly
// is loaded. Non-zero when the file could not be read or was damaged.
int LoadHistory(const std::string& file, AnalysisRun& run, bool salvage);

// The file `savedata` writes: `savedatafile` with its date macros expanded, or
// the first report's name followed by ".tdb".
std::string HistoryFileName(const AnalysisSettings& analysis, const DateSettings& dates,
                            std::string_view first_report);

// With savedata and a `savedatafile`, the run carries that database on: it is
// put in front of the logs when it exists (and is not among them already).
std::vector<std::string> WithRunningHistory(const Settings& settings,
                                            std::vector<std::string> logs);

// Fills the run's database seams: loading databases given as logs and saving
// every report with savedata.
void InstallHistoryHooks(RunHooks& hooks, const Settings& settings);

}  // namespace tallowick::engine
