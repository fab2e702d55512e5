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

#include "report/chart_seam.h"

namespace tallowick::graph {

// The chart driver of report assembly: draws the shadow strips and every chart
// whose graph flag is on and whose table has data, showing "Drawing ... graph..."
// with the share done, then "Drawing Graphs Complete.". Files that cannot be
// written are skipped without a message. Returns 0 when a stop was requested,
// else 1.
int draw_report_charts(const report::ChartRequest& request);

}  // namespace tallowick::graph
