// The analysis run: reads every line of a job's logs, detects each log's format,
// applies the date range and filters, and hands every accepted hit to the hit
// accounting of its report. It owns the reports (ReportStats) of the run, writes
// interim reports while streaming, and can keep going as a daemon. With `dnson`
// or `dnscache` it turns client addresses into names (NameResolution).
//
// What comes later (client grouping, the history database, notification rules,
// report assembly) is reached through RunHooks: the run calls each hook at its
// place and skips the ones that are empty.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/settings.h"
#include "engine/hit_accounting.h"
#include "engine/name_resolution.h"
#include "engine/report_stats.h"
#include "logs/dispatch.h"
#include "logs/hit_record.h"

namespace tallowick::engine {

class AnalysisRun;

// When notification rules are evaluated.
enum class NotifyPoint { interim, end_of_run, daemon_cycle };

// The seams of the run, one std::function each; an empty one is skipped.
struct RunHooks {
    // ---- clients ----
    // Groups a report's clients at the end of the run; non-zero cancels.
    std::function<int(ReportStats& report)> group_clients;
    // Folds one client that pruning is about to drop into the grouped lists.
    std::function<void(ReportStats& report, StatList& clients, int index)> group_dropped_client;

    // ---- history database ----
    // Loads a database file named as a log; it adds its reports with
    // AnalysisRun::AddReport. Non-zero: the file could not be read.
    std::function<int(std::string_view file, AnalysisRun& run)> load_database;
    // Saves every report of the run into one database (with savedata); non-zero
    // on failure.
    std::function<int(std::span<const std::unique_ptr<ReportStats>> reports)> save_database;

    // ---- notification rules ----
    std::function<void(ReportStats& report, double hit_time, NotifyPoint when)> notify;

    // ---- report assembly ----
    // An interim report while streaming or between daemon cycles.
    std::function<int(ReportStats& report)> write_report;
    // Every report at the end of the run.
    std::function<int(std::span<const std::unique_ptr<ReportStats>> reports)> write_all;

    // ---- time (tests replace these) ----
    // Waits one second; the daemon sleeps and the DNS wait are made of these.
    std::function<void()> sleep_second;
    // The current local time as a Julian date.
    std::function<double()> now;
};

// Daemon interval codes of `daemontime`: 0 none, 1..15 the table, 16 up seconds.
int DaemonIntervalSeconds(int code);

// How a run divides hits among its reports.
enum class SplitMode { none, per_log, vhost, topdir, top2dir, month, week };
SplitMode SplitModeOf(const RunSettings& run);

class AnalysisRun {
public:
    // The settings and names must outlive the run. Names of history databases
    // (holding ".tdb") should come first.
    AnalysisRun(const Settings& settings, std::vector<std::string> logs, RunHooks hooks = {});
    ~AnalysisRun();
    AnalysisRun(const AnalysisRun&) = delete;
    AnalysisRun& operator=(const AnalysisRun&) = delete;

    // Process: the whole run. Returns the cancel flag: non-zero when the run was
    // cancelled or failed (a first log that could not be opened, a report that
    // could not be made, memory exhausted, client grouping cancelled).
    int Process();

    // Asks the run to stop before its next line or during any wait (any thread).
    void Cancel() { cancel_.store(true, std::memory_order_relaxed); }
    bool cancelled() const;

    // Adds a report (history database reader, splits); nullptr when the run holds
    // kMaxReports already or a list cannot be made.
    ReportStats* AddReport(std::string_view name, int mode, int format_code);
    // The report of that name, or nullptr: a database's report adds to it.
    ReportStats* FindReport(std::string_view name) const;
    // The hits of a report loaded from a database count in the run's totals.
    void CountLoadedHits(const ReportStats& loaded);

    // The reports of the last Process, kept until the run is destroyed or restarts.
    std::span<const std::unique_ptr<ReportStats>> reports() const { return reports_; }
    const RunTotals& totals() const { return totals_; }
    // Wall-clock seconds of the last Process.
    double seconds() const { return seconds_; }
    int daemon_cycles() const { return daemon_cycles_; }
    int interim_reports() const { return interim_reports_; }
    const HitAccounting* accounting() const { return accounting_.get(); }
    const ReportOptions& options() const { return options_; }

    // Pruning of streaming and daemon runs, for one report (see the README of the
    // engine's run): keeps the recent, frequent and top items of every list that
    // grows in large steps, except the file list.
    void Prune(ReportStats& report, double now);

private:
    struct OpenedLog;
    struct SplitKeys;

    void StartRun();
    bool OpenLogAt(std::size_t index, bool first);
    bool OpenFirstReadable(std::size_t from, bool first);
    int ModeOf(int type) const;
    bool ReadLine(std::string_view& line);
    void ReadLogs();
    bool HandleLine(std::string_view line);
    bool AccountHit(logs::HitRecord& hit, std::string_view client, double time, bool has_time,
                    std::string_view line = {}, bool line_stays = false);
    ReportStats* ReportFor(const logs::HitRecord& hit, std::string_view url, double time);
    std::string_view VirtualHostOf(std::string_view server) const;
    void Progress();
    void StreamingCheck();
    bool EndOfLog();
    void Finish();
    bool DaemonCycle();
    double Now() const;
    void SleepSecond() const;

    const Settings& settings_;
    std::vector<std::string> logs_;
    RunHooks hooks_;
    ReportOptions options_;
    std::unique_ptr<HitAccounting> accounting_;
    std::unique_ptr<logs::LineDispatcher> dispatcher_;
    std::unique_ptr<NameResolution> names_;

    std::vector<std::unique_ptr<ReportStats>> reports_;
    ReportStats* current_ = nullptr;
    std::vector<ReportStats*> log_reports_;   // per log, with multidomains
    std::vector<std::uint64_t> consumed_;     // bytes of each log read so far (daemon)
    std::unique_ptr<OpenedLog> log_;
    std::size_t log_index_ = 0;
    std::unique_ptr<SplitKeys> split_;
    SplitMode split_mode_ = SplitMode::none;

    RunTotals totals_;
    std::atomic<bool> cancel_{false};
    bool filterzero_ = false;
    bool has_filters_ = false;
    double run_start_seconds_ = 0;
    double run_start_days_ = 0;
    double seconds_ = 0;
    int daemon_cycles_ = 0;
    int interim_reports_ = 0;
    bool in_daemon_cycle_ = false;
    std::int64_t client_threshold_ = 4000;
    std::int64_t hit_threshold_ = 60000;
    double last_interim_end_ = 0;    // monotonic seconds
    double last_interim_cost_ = 0;   // seconds the last interim report took
    double future_limit_ = 0;  // hits from this time on lie in the future
    int last_percent_ = -1;

    // Batches on this thread may leave the lines of a plain log in place.
    bool lines_may_stay_ = false;

    // Per line, reused.
    logs::HitRecord hit_;
    bool line_stays_ = false;  // the line read last is in place until the next Settle
    std::string url_scratch_;
    std::string status_scratch_;
    logs::LogDate last_date_;
    double last_time_ = 0;
    bool have_last_time_ = false;
    std::uint64_t cached_day_key_ = 0;
    double cached_midnight_ = 0;
};

}  // namespace tallowick::engine
