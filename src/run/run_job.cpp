#include "run/run_job.h"

#include <algorithm>
#include <cstdio>

#include "base/julian_date.h"
#include "base/status.h"
#include "delivery/page_titles.h"
#include "delivery/post_processing.h"
#include "engine/address_places.h"
#include "engine/clients.h"
#include "engine/history_db.h"
#include "graph/charts.h"
#include "graph/text_graph.h"
#include "report/report_assembly.h"
#include "run/live_settings.h"
#include "run/notify_actions.h"
#include "run/processing.h"

namespace tallowick::run {

namespace {

// The graph layer's charts, unless the program entry installs another driver.
report::ChartDriver& installed_chart_driver() {
    static report::ChartDriver driver = graph::draw_report_charts;
    return driver;
}

}  // namespace

void set_chart_driver(report::ChartDriver driver) { installed_chart_driver() = std::move(driver); }

engine::RunHooks default_run_hooks(const Settings& settings) {
    engine::RunHooks hooks;
    const SettingsList* orgmap = &settings.analysis.orgmap;
    // Countries and AS names of numeric clients, read when the first one is met.
    std::shared_ptr<engine::AddressPlaces> places =
        engine::AddressPlaces::ForSettings(settings.analysis);
    // Grouping also works out the visitor measures and orders the mean paths.
    const int* threads = &settings.analysis.threads;
    const int* daemontime = &settings.run.daemontime;
    hooks.group_clients = [orgmap, places, threads, daemontime](engine::ReportStats& r) {
        return engine::group_report_clients(r, *orgmap, places.get(), *threads,
                                            *daemontime > 0) != 0 ||
                       out_of_memory()
                   ? 1
                   : 0;
    };
    hooks.group_dropped_client = [orgmap, places](engine::ReportStats& r,
                                                  engine::StatList& clients, int index) {
        engine::group_dropped_client(r, clients, index, *orgmap, places.get());
    };
    // Report assembly: every report at the end of the run, one for each interim report.
    auto assembly = [&settings] {
        report::AssemblyOptions options;
        options.settings = &settings;
        options.charts = installed_chart_driver();
        options.text_graphs = graph::text_graph_write;
        options.created = delivery::recording_list();
        options.page_titles = delivery::page_title_source();
        return options;
    };
    hooks.write_all = [assembly](std::span<const std::unique_ptr<engine::ReportStats>> reports) {
        const double start = now_seconds();
        const int result = report::writeReports(reports, assembly());
        char line[64];
        std::snprintf(line, sizeof line, "Report written in %.3f seconds", now_seconds() - start);
        DebugText(line);
        return result;
    };
    hooks.write_report = [assembly](engine::ReportStats& r) {
        return report::writeReport(r, assembly());
    };
    // Notification rules after every report written (end of run, interim, daemon cycle).
    hooks.notify = [&settings](engine::ReportStats& r, double, engine::NotifyPoint) {
        if (settings.run.notify_type == report::kNotifyOff) return;
        report::checkNotifyRules(r, JulianNow(), settings.report.notifyrules,
                                 notify_options(settings));
    };
    engine::InstallHistoryHooks(hooks, settings);
    return hooks;
}

std::string summary_line(const engine::RunTotals& totals, double seconds) {
    const double shown = std::max(seconds, 0.001);
    const auto per_second = static_cast<std::uint64_t>(static_cast<double>(totals.lines) / shown);
    char secs[32];
    std::snprintf(secs, sizeof secs, "%.2f", seconds);
    return with_thousands(static_cast<std::uint64_t>(totals.lines)) + " lines read, " +
           with_thousands(static_cast<std::uint64_t>(totals.accepted)) + " hits accepted, " +
           with_thousands(static_cast<std::uint64_t>(totals.unparsed)) +
           " lines not understood, " + secs + " seconds, " + with_thousands(per_second) +
           " lines per second";
}

int RunAnalysisJob() {
    const Settings& s = settings();
    std::vector<std::string> logs = engine::WithRunningHistory(s, log_list().names());
    // History databases first, in their order, then the logs in theirs.
    std::stable_partition(logs.begin(), logs.end(), [](const std::string& name) {
        return name.find(".tdb") != std::string::npos;
    });
    delivery::prepare_post_processing(s.post);
    engine::AnalysisRun run(s, logs, default_run_hooks(s));
    CancelRegistration cancel([&run] { run.Cancel(); });
    int cancelled = run.Process();
    const ProcessMode& mode = process_mode();
    if (mode.command_line && !mode.quiet_given) {
        std::printf("%s\n", summary_line(run.totals(), run.seconds()).c_str());
        std::fflush(stdout);
    }
    if (cancelled == 0) cancelled = delivery::finish_post_processing(s, logs);
    return cancelled != 0 ? 1 : 0;
}

void register_run_job() { run_steps().analyse = RunAnalysisJob; }

}  // namespace tallowick::run
