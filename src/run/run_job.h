// The batch run's analysis step: builds an analysis run from the process settings
// and log list, runs it and prints the summary line.
#pragma once

#include <string>

#include "engine/analysis_run.h"
#include "report/chart_seam.h"

namespace tallowick::run {

// The chart driver report assembly calls after each report's pages: the graph
// layer's charts unless another is installed; an empty one draws no images.
void set_chart_driver(report::ChartDriver driver);

// The hooks the program fills today: client grouping (countries, regions,
// organisations), report assembly (charts and text graphs) and notification
// rules. The other seams stay empty until their parts exist.
engine::RunHooks default_run_hooks(const Settings& settings);

// One line for standard output after a batch run: lines read, hits accepted,
// lines not understood, seconds and lines per second.
std::string summary_line(const engine::RunTotals& totals, double seconds);

// RunAnalysisJob: the analysis over run::log_list() with run::settings();
// history databases (".tdb") are read first. Returns 0 when the run finished, 1
// when it was cancelled or failed. In command-line mode without "-q" it prints
// the summary line.
int RunAnalysisJob();

// Installs RunAnalysisJob as run_steps().analyse.
void register_run_job();

}  // namespace tallowick::run
