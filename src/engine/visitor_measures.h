// Visitor measures: how often the clients of a report come back (loyalty), how
// regularly (circulation), how long they stay in all (time online), and how deep
// and long their visits are (session depth). Client grouping computes them per
// client at the end of the run; the report pages and charts read the results
// from ReportStats (see the fields there). docs/visitor-measures.md describes
// the ranges for users.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <memory>
#include <vector>

namespace tallowick::engine {

struct StatItem;
class StatList;

enum class Measure : std::uint8_t { loyalty, circulation, timeon, session_depth };

// The most ranges any measure has.
inline constexpr int kMaxMeasureRanges = 10;

// measure_ranges: the range labels of a measure, in range order. They are the
// item names of the measure's list and the chart's category labels.
std::span<const std::string_view> measure_ranges(Measure measure);

// The range index (into measure_ranges) of one value.
// Loyalty: a client's visits, 1, 2, 3-5, 6-10, 11-20, 21-50, 51 and more.
int loyalty_range(int visits);
// Circulation: the mean days between a client's visits; a client of one visit
// (or none) has range 0, "one visit".
int circulation_range(int visits, double mean_days);
// Time online: a client's minutes online in all.
int timeon_range(double minutes);
// Session depth: the pages of one visit, 0 to 5 one by one, then 6-10, 11-20,
// 21-50, 51 and more.
int session_depth_range(int pages);

// client_time_online: the client's time online in days. The counting tables
// credit a closed visit with its span plus a minute, and a first visit as it
// goes; a later visit that is still open when the log ends is credited here
// the same way (span plus a minute), so that no visit is left out.
double client_time_online(const StatItem& client);

// mean_days_between_visits: from the start of the client's first visit to the
// start of its last, divided by the gaps between them; negative for a client
// with fewer than two visits.
double mean_days_between_visits(const StatItem& client);

// What one range of a measure adds up: for loyalty, circulation and time online
// the clients in the range and their counts; for session depth the visits in it
// and what was requested in them.
struct RangeTally {
    std::int64_t members = 0;  // clients, or visits for session depth
    std::int64_t req = 0;
    double bytes = 0, bytesin = 0;
    std::int64_t visits = 0, pages = 0, errors = 0;
    double time = 0;  // days: time online, or the visits' spans for session depth
};
using MeasureTally = std::array<RangeTally, kMaxMeasureRanges>;

// One visit as session depth sees it.
struct VisitShape {
    std::int64_t hits = 0;
    std::int64_t pages = 0;
    double bytes = 0, bytesin = 0;
    double start = 0, last = 0;  // days: its first and last hit
};

// The session-depth chart: visits by their duration in whole minutes (span from
// first to last hit, rounded down), with the pages they held. Durations of
// kLastMinute minutes and more share the last slot.
struct SessionDepthChart {
    static constexpr int kLastMinute = 120;
    struct Minute {
        std::int64_t visits = 0;
        std::int64_t pages = 0;     // mean pages per visit: pages / visits
        std::int64_t max_pages = 0; // the deepest visit of that duration
    };
    std::vector<Minute> minutes;  // empty until a visit is added, then kLastMinute + 1 slots
    std::int64_t visits = 0;
    std::int64_t pages = 0;
    int longest = -1;  // the highest slot holding a visit

    void add(const VisitShape& visit);
};

// The measures of one report as they add up: the clients and visits added so
// far, kept across client groupings (pruning adds the clients it drops and
// hit tracking the visits that close).
// What one client adds to loyalty, circulation and time online.
struct ClientMeasure {
    std::int32_t req = 0, pages = 0, errors = 0, visits = 0;
    double bytes = 0, bytesin = 0;
    double online = 0;                       // days
    double first_start = 0, last_start = 0;  // days: the starts of its first and last visit

    static ClientMeasure of(const StatItem& client);
    // The same client seen again later: one client with the visits of both.
    void add_later(const ClientMeasure& later);
};

// What client grouping (clients.h) works out from a client's name alone. A
// dropped client keeps it, so that when it returns it is neither placed nor
// matched again, and counts once as a member of the grouped lists.
struct ClientGroups {
    std::string_view country;        // a country table name, or a special name
    std::string_view as_name;        // the AS name of an address, or empty
    std::int16_t orgmap_entry = -1;  // the organisation map entry that matches, or -1
    std::int8_t region = 0;
    bool government = false;
    bool known = false;  // worked out, and counted in the settled lists
};

// The clients pruning dropped, by a 64-bit hash of the name: an open-addressing
// index of 16-byte slots over records that never move (grouping holds on to
// them), so that half a million clients cost about 65 MB.
class DroppedClients {
public:
    struct Client {
        ClientMeasure measure;
        ClientGroups groups;
    };
    static std::uint64_t key_of(std::string_view name);

    Client* find(std::uint64_t key);
    // insert: the client of `key`, added with nothing in it when absent (then
    // `added` is true). Throws std::bad_alloc when it cannot grow.
    struct Inserted {
        Client* client;
        bool added;
    };
    Inserted insert(std::uint64_t key);
    // prefetch: fetches ahead what a find or insert of `key` will read: its
    // first slot, or with `record` (once that slot was fetched) its record.
    void prefetch(std::uint64_t key, bool record) const;
    bool empty() const { return count_ == 0; }
    std::size_t size() const { return count_; }

private:
    struct Slot {
        std::uint64_t key = 0;  // 0: empty (a key of 0 is stored as 1)
        std::uint32_t index = 0;
    };
    static constexpr std::size_t kChunkBits = 12;
    std::size_t home_of(std::uint64_t key) const;
    std::size_t slot_of(std::uint64_t key) const;
    Client& at(std::uint32_t index) const {
        return chunks_[index >> kChunkBits][index & ((1u << kChunkBits) - 1)];
    }
    std::vector<Slot> slots_;
    std::vector<std::unique_ptr<Client[]>> chunks_;
    std::size_t count_ = 0;
};

struct VisitorTally {
    MeasureTally loyalty{}, circulation{}, timeon{}, session_depth{};
    SessionDepthChart chart;
    // The clients that pruning dropped, with what they added: a client that
    // comes back is then counted once, with all its visits (see add_client).
    // Copies of a tally share it: the grouping at the end only reads it.
    std::shared_ptr<DroppedClients> dropped = std::make_shared<DroppedClients>();

    // add_client: the client's loyalty, circulation and time online. A client
    // pruning dropped before replaces its earlier share with the two together;
    // with `dropping` the client is remembered as dropped. Returns the client's
    // record among the dropped ones, or null when it has none.
    DroppedClients::Client* add_client(const StatItem& client, bool dropping = false);
    // add_measure: one client's share, added (sign 1) or taken back (sign -1).
    void add_measure(const ClientMeasure& client, int sign);
    // add_visit: one visit to session depth and its chart.
    void add_visit(const VisitShape& visit);
};

// fill_measure_list: writes a tally into an empty measure list, one item per
// range in range order (ranges without members too, so that tables and charts
// show the whole scale). Per item: name the range label, misc1 the members
// (shown as "Visitors"), req, bytes, bytesin, visits, pages, errors and timetot
// the sums over the members. The list totals of requests, bytes, members,
// visits, pages and errors follow the items (the total time does not). False
// when the list cannot grow (reported by the list).
bool fill_measure_list(StatList& list, Measure measure, const MeasureTally& tally);

}  // namespace tallowick::engine
