// Sessions: what a client's hits say about its visits beyond the counts of the
// client list. The client list's visit tracking (StatList::AddHit with
// kAddVisit) decides where a visit starts; session tracking then keeps, per
// client, the visit starts and the pages in order (its SessionRec list), the
// visit in progress for session depth, and the page sequences that visits
// begin with for the mean path table.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/report_stats.h"

namespace tallowick::engine {

// One hit of a client, as session tracking needs it.
struct SessionHit {
    double time = 0;  // days
    std::int64_t bytes = 0, bytes_in = 0;
    bool page = false;
    std::uint32_t page_hash = 0;  // the page's name hash in the "url" list
};

// page_record_kind: the SessionRec kind of a page record, the page hash read as
// a signed number; 0 for the few hashes that fall among the small kinds 0..10,
// which cannot be recorded as pages.
int page_record_kind(std::uint32_t page_hash);

// track_session: for a hit just added to the report's client list at
// client_index (the list must keep session records). When the add started a
// visit, the visit that ended goes to the report's session-depth tally and a
// kind-1 record (value: the time) starts the new one. A page appends a record
// of its page kind (value: the time) and, with the mean path table on, records
// the sequence of the visit's first 2 to kMeanPathSteps pages.
void track_session(ReportStats& report, int client_index, const SessionHit& hit);

// add_client_measures: client item `index` of `clients` into a tally: its
// loyalty, circulation and time online, and its visit in progress for session
// depth (when the client keeps session records). `dropping`: pruning drops the
// client now (see VisitorTally::add_client).
void add_client_measures(VisitorTally& tally, StatList& clients, int index,
                         bool dropping = false);

// write_visitor_measures: replaces the report's measure lists and session-depth
// chart with the contents of a tally. False when a list could not be made.
bool write_visitor_measures(ReportStats& report, const VisitorTally& tally);

// count_page_visits: the "pages" list's visit columns from the clients' session
// records: visits = visits that viewed the page, misc1 = clients that viewed it,
// timetot = time from each view to the visit's next page (the last page of a
// visit adds none). Earlier values are replaced, so grouping may run again.
void count_page_visits(ReportStats& report);

// sort_mean_paths: orders the mean path table by occurrences, most first
// (equal ones in the order they were first seen).
void sort_mean_paths(ReportStats& report);

// mean_path_pages: the page names of a path in order, from the report's "url"
// list; a page the list no longer holds (pruned) gives an empty name.
std::vector<std::string_view> mean_path_pages(const ReportStats& report, const MeanPath& path);

}  // namespace tallowick::engine
