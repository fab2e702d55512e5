// Helpers for the tests that drive whole analysis runs: settings with every table
// on, a status recorder, log files written into a temporary folder, and a run
// whose hooks the test can watch.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "base/julian_date.h"
#include "base/settings.h"
#include "base/status.h"
#include "engine/analysis_run.h"
#include "engine/report_stats.h"
#include "support/test_support.h"

namespace tallowick::engine::test {

// Records what the run reports, and restores the previous sink when it goes.
class RecordingSink : public StatusSink {
public:
    RecordingSink() : previous_(set_status_sink(this)) {}
    ~RecordingSink() override { set_status_sink(previous_); }
    RecordingSink(const RecordingSink&) = delete;
    RecordingSink& operator=(const RecordingSink&) = delete;

    void status(std::string_view text) override { statuses.emplace_back(text); }
    void progress(int, std::string_view text, std::string_view) override {
        if (!text.empty()) progress_texts.emplace_back(text);
    }
    void error(std::string_view text) override { errors.emplace_back(text); }

    bool said(std::string_view text) const {
        return std::find(statuses.begin(), statuses.end(), text) != statuses.end() ||
               std::find(progress_texts.begin(), progress_texts.end(), text) !=
                   progress_texts.end();
    }

    std::vector<std::string> statuses, progress_texts, errors;

private:
    StatusSink* previous_;
};

// Settings with every table and graph on, client keys by host, dates unlimited.
inline Settings AllTablesOn() {
    Settings s;
    s.report.stat.set_all(true);
    s.report.graph.set_all(true);
    s.analysis.ignoreusernames = true;
    return s;
}

// One combined-format line.
inline std::string CombinedLine(std::string_view client, std::string_view when,
                                std::string_view request, int status, long bytes,
                                std::string_view referrer = "-",
                                std::string_view agent = "Mozilla/5.0 (X11; Linux x86_64)") {
    std::string line(client);
    line += " - - [";
    line += when;
    line += "] \"";
    line += request;
    line += "\" " + std::to_string(status) + " " + std::to_string(bytes) + " \"";
    line += referrer;
    line += "\" \"";
    line += agent;
    line += "\"\n";
    return line;
}

// The item of `name` in a list, or nullptr.
inline const StatItem* Find(const std::unique_ptr<StatList>& list, std::string_view name) {
    if (!list) return nullptr;
    for (const StatItem& item : list->Items())
        if (item.name == name) return &item;
    return nullptr;
}

inline int ReqOf(const std::unique_ptr<StatList>& list, std::string_view name) {
    const StatItem* item = Find(list, name);
    return item ? item->req : 0;
}

// A log file in a temporary folder, analysed by a run that keeps its reports.
class RunOnText {
public:
    explicit RunOnText(Settings settings = AllTablesOn()) : settings_(std::move(settings)) {}

    std::string AddLog(const std::string& name, const std::string& text) {
        const auto path = dir_ / name;
        tallowick::test::write_file(path, text);
        logs_.push_back(path.string());
        return path.string();
    }
    // A log name that need not exist.
    void AddLogName(const std::string& name) { logs_.push_back(name); }

    Settings& settings() { return settings_; }
    RunHooks& hooks() { return hooks_; }

    // Builds the run over the logs added so far and processes it.
    AnalysisRun& Process() {
        run_ = std::make_unique<AnalysisRun>(settings_, logs_, hooks_);
        result_ = run_->Process();
        return *run_;
    }
    int result() const { return result_; }
    AnalysisRun& run() { return *run_; }
    ReportStats& report(std::size_t i = 0) const { return *run_->reports()[i]; }
    std::size_t report_count() const { return run_->reports().size(); }
    const std::filesystem::path& dir() const { return dir_.path(); }

private:
    tallowick::test::TempDir dir_;
    Settings settings_;
    RunHooks hooks_;
    std::vector<std::string> logs_;
    std::unique_ptr<AnalysisRun> run_;
    int result_ = -1;
};

}  // namespace tallowick::engine::test
