// Text graphs: a bar chart of characters written into an HTML report page,
// inside a block only browsers without scripting show; report assembly decides
// where (the `ascii` graph flag turns them on).
#pragma once

#include "report/output_writer.h"

namespace tallowick::engine { class StatList; }

namespace tallowick::graph {

// text_graph_write(page, list, subject): writes the text graph of a counting
// table into the open HTML page, one bar per item in list order. subject is the
// page's statistic kind (report/stat_tables.h): above the weekdays (3) the items
// are limited by the `statdepth` code; client, country and organisation names
// that are host names keep their end when cut. Bars are 55 characters at the
// most, 82 with `wider` (the page's style); names are escaped as log data.
void text_graph_write(report::OutputWriter& page, const engine::StatList& list, int subject,
                      int statdepth);

// The items a text graph lists for a `statdepth` code: the code from 13 up,
// 100 * code - 700 for 8..12, 10 * code - 20 below; all items for subjects up to
// 3 or when that is below 2 or beyond the item count.
int text_graph_items(int statdepth, int subject, int item_count);

}  // namespace tallowick::graph
