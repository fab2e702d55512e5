// The counting tables and totals of one report. A run holds one ReportStats per
// report (several when it splits by log, host, folder, month or week); report
// assembly, summaries, graphs and the history database read them after the run.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/settings.h"
#include "engine/stat_list.h"
#include "engine/table_storage.h"
#include "engine/visitor_measures.h"

namespace tallowick::engine {

// Report modes.
inline constexpr int kWebMode = 1;
inline constexpr int kProxyMode = 2;
// The format code of a report loaded from a history database.
inline constexpr int kDatabaseFormat = 100;
// The shortest processing time a report states, in seconds (its tenths are shown).
inline constexpr double kShortestElapsed = 0.1;
// At most this many reports in one run.
inline constexpr int kMaxReports = 2000;

// The longest page sequence the mean path table follows.
inline constexpr int kMeanPathSteps = 8;

// One record of the mean path table: a page sequence that began visits. A visit
// over pages A, B, C counts for the paths A-B and A-B-C.
struct MeanPath {
    std::uint32_t path_hash = 0;
    std::uint32_t client_hash = 0;  // the client whose visit first took the path
    std::int32_t start = 0;         // index of its first page in that client's SessionRec list
    std::int16_t steps = 0;         // pages in the path, 2 to kMeanPathSteps
    std::int32_t occurrences = 0;   // visits that began with the path
    // The pages in order (the first `steps`), as name hashes of the "url" list:
    // engine/sessions.h mean_path_pages gives their names.
    std::array<std::uint32_t, kMeanPathSteps> pages{};
};

// What decides which tables a report keeps and how large they start.
struct ReportOptions {
    const ReportSettings* report = nullptr;
    const AnalysisSettings* analysis = nullptr;
    CountingOptions counting;
    bool streaming = false;  // session history and the client history graph are off
    // Streaming and daemon runs sort interim reports and add to the lists again.
    bool relink_after_sort = false;

    static ReportOptions From(const Settings& settings);
};

struct ReportStats {
    int index = 0;              // report number (1-based when made by a split)
    // The layout (StatList::Layout) that a list of the report took last: it
    // changes whenever one of them may have moved or renamed its items, or was
    // made, so positions remembered with it hold while it stays.
    std::uint64_t layouts = 0;
    std::string name;           // title: the log's file name or the split key
    std::uint64_t bytes_read = 0;
    int format_code = 0;        // logs::LogType code; kDatabaseFormat when loaded
    int mode = kWebMode;
    double start_time = 0;      // now_seconds() when the report's clock started
    double elapsed = 0;         // seconds, at least kShortestElapsed once stored
    std::int64_t failed_hits = 0;
    std::int64_t accepted_hits = 0;
    std::int64_t not_modified_hits = 0;
    std::uint32_t name_hash = 0;
    std::int64_t unparsed_lines = 0;
    double bytes = 0, bytes_in = 0;
    double first_time = 0, last_time = 0;  // Julian days of the earliest and latest hit
    bool as_data_used = false;  // organisations from AS names: the footer credits the data

    // The tables. A table the settings do not ask for is null. The file list
    // comes first: the page, download and advert lists point at its names, so it
    // must be destroyed after them. The accounting's second thread reads these
    // pointers for every hit while the reading thread updates the counts above:
    // they start on a cache line of their own.
    alignas(64) std::unique_ptr<StatList> url;  // "url"
    std::unique_ptr<StatList> hour;       // "hour", always
    std::unique_ptr<StatList> wday;       // "wday", always
    std::array<std::unique_ptr<StatList>, 7> wdays;  // "wdays": hours per weekday
    std::unique_ptr<StatList> month;      // "month"
    std::unique_ptr<StatList> date;       // "date", always
    std::unique_ptr<StatList> user;       // "user", left empty by the run
    std::unique_ptr<StatList> client;     // "client", always
    // Government and military clients ("*.gov", "*.mil", ...), filled by client
    // grouping with the clients' day records; with stat or graph govthistory.
    std::unique_ptr<StatList> government;
    std::unique_ptr<StatList> src;        // "src", proxy mode
    std::unique_ptr<StatList> second_domain;  // "2dom"
    std::unique_ptr<StatList> domain;     // "domain", always
    std::unique_ptr<StatList> org;        // "org"
    std::unique_ptr<StatList> region;     // "reg"
    std::unique_ptr<StatList> browser;    // "browser"
    std::unique_ptr<StatList> oper;       // "oper"
    std::unique_ptr<StatList> robot;      // robots (not saved)
    std::unique_ptr<StatList> refer;      // "refer"
    std::unique_ptr<StatList> rsite;      // "rsite"
    std::unique_ptr<StatList> dir;        // "dir"
    std::unique_ptr<StatList> groupdir;   // groupdir groups (not saved)
    std::unique_ptr<StatList> topdir;     // "topdir"
    std::unique_ptr<StatList> type;       // "type"
    std::unique_ptr<StatList> err;        // "err"
    std::unique_ptr<StatList> errurl;     // "errurl"
    std::unique_ptr<StatList> pages;      // "pages"
    std::unique_ptr<StatList> searchstr;  // "searchstr"
    std::unique_ptr<StatList> searchsite; // "searchsite"
    std::unique_ptr<StatList> down;       // "down"
    std::unique_ptr<StatList> addhit;     // "addhit"
    std::unique_ptr<StatList> addclick;   // "addclick"
    std::unique_ptr<StatList> prot;       // "prot", proxy mode
    // Clients per proxy protocol, by protocol number 1..8 ("http", "https",
    // "mail", "ftp", "telnet", realaudio, dns, pop3); made on first use.
    std::array<std::unique_ptr<StatList>, 9> protocol_clients;

    // The mean path table ("MeanPath", kind 25): kept while visits are read when
    // mean_path_on; client grouping sorts it by occurrences, most first.
    std::vector<MeanPath> mean_path;
    int mean_path_step = 3000;
    bool mean_path_on = false;           // stat meanpath, not streaming
    detail::HashIndex mean_path_index;   // path hash -> position in mean_path

    // Visitor measures, filled by client grouping (engine/visitor_measures.h).
    // Each list holds one item per range of its measure, in range order, and is
    // not sorted: name = range label, misc1 = clients in the range ("Visitors"),
    // req, bytes, bytesin, visits, pages, errors and timetot = their sums.
    std::unique_ptr<StatList> loyalty;      // "Loyalty" (kind 28): clients by visits
    std::unique_ptr<StatList> circulation;  // "Circulation" (kind 28): by mean days between visits
    std::unique_ptr<StatList> timeon;       // "Timeon" (kind 28): by total minutes online
    // "PageVSessions" (kind 0): visits by pages per visit, one item per range:
    // misc1 and visits = visits in the range, req/bytes/bytesin/pages = what they
    // requested, timetot = their spans. Present with graph sessiondist; needs
    // the clients' session records (not kept while streaming).
    std::unique_ptr<StatList> session_depth;
    // The session-depth chart (chart kind 8): visits by minutes of duration.
    SessionDepthChart session_depth_chart;
    // What grouping adds to: clients pruning dropped and visits that closed.
    VisitorTally visitor_tally;
    // The derived client lists (user, government, org, domain, region) with
    // only what the clients pruning dropped added to them. Each grouping starts
    // the report's lists from copies of these, so that a daemon, which groups
    // its clients again every cycle, counts each client once.
    struct SettledGroups {
        std::unique_ptr<StatList> user, government, org, domain, region;
        std::unique_ptr<StatList> second_domain;
    } settled_groups;

    // Capacities the lists were made with (the split rules shrink them); the
    // per-protocol lists made later use them too.
    int client_capacity = 500;

    // Every list that exists, with its section name (robots and groups have none
    // of their own in the database; they are named "robot" and "group" here).
    void ForEachList(const std::function<void(std::string_view section, StatList& list)>& fn);
};

// The initial capacities of one report's lists.
struct ListCapacities {
    int hour = 25, wday = 8, wdays = 25, month = 8, date = 100, client = 500, src = 500;
    int second_domain = 40, domain = 100, org = 40, region = 8, url = 500;
    int browser = 45, oper = 45, robot = 30, refer = 100, rsite = 100;
    int dir = 100, groupdir = 100, topdir = 100, type = 30, err = 45, errurl = 100;
    int government = 50;
    int pages = 150, searchstr = 40, searchsite = 40, down = 100, addhit = 100, addclick = 100;
    int prot = 10, protocol_clients = 500;
    int mean_path_step = 3000;
};

// The capacities of the report numbered `number` (1-based) of a run: full size
// up to the 7th, smaller from the 8th, smallest from the 16th.
ListCapacities CapacitiesFor(int number);

// CreateReportStats: a report titled `name` in `mode` with the lists the
// settings ask for; `number` is its 1-based place in the run. nullptr when a
// list cannot be made (the failure has been reported).
std::unique_ptr<ReportStats> CreateReportStats(const ReportOptions& options, int number,
                                               std::string_view name, int mode);

// The per-protocol client list of protocol 1..8, made on first use; nullptr for
// another number or when it cannot be made.
StatList* ProtocolClients(ReportStats& report, const ReportOptions& options, int protocol);

}  // namespace tallowick::engine
