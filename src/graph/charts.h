// The charts of a report: every chart image the report's pages refer to, drawn
// from the report's counting tables and written beside the pages, with the two
// shadow strips the HTML pages frame them with.
//
// Image names are a value prefix ("Byte" for bytes, "Req" for requests,
// "Sessions" for sessions, none for pages and for charts of a fixed measure),
// the chart's key ("Daily", "Client", "BrowserOS", ...) and the image format's
// extension: "ByteDaily.gif", "ReqClient.png". With `graphsort both` every
// chart is drawn twice, for bytes and for requests.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "graph/chart_spec.h"
#include "report/chart_seam.h"

namespace tallowick::engine { struct ReportStats; }

namespace tallowick::graph {

// The chart driver of report assembly: draws the shadow strips and every chart
// whose graph flag is on and whose table has data, showing "Drawing ... graph..."
// with the share done, then "Drawing Graphs Complete.". A file that cannot be
// written is reported and fails the request's transaction. Returns 0 when a
// stop was requested (memory exhausted, the run cancelled), else 1.
int draw_report_charts(const report::ChartRequest& request);

// The comparison of several reports (chart kind 7): each report's daily traffic
// of the value kind (bytes, requests, pages or sessions, from its date list) as
// one 3D band, the eight largest reports by their total, the largest at the
// back. The days run from the earliest first day to the latest last day of the
// reports (dates outside 1968..3501 are passed over), the last year at most.
// Null reports are skipped; none at all draws the empty stage. Saved under
// base_name in target's folder and format; false when the file could not be
// written or a stop was requested.
bool draw_comparison_chart(std::span<const engine::ReportStats* const> reports, int value_kind,
                           ChartTarget& target, std::string_view base_name);

// The name the comparison's image goes under: the value prefix and "Compare"
// ("ByteCompare", "ReqCompare", "SessionsCompare", "Compare" for pages).
std::string comparison_image_name(int value_kind);

}  // namespace tallowick::graph
