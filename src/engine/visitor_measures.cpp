#include "engine/visitor_measures.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <utility>

#include "engine/stat_list.h"

namespace tallowick::engine {
namespace {

constexpr double kMinutesPerDay = 1440.0;
constexpr double kOneMinute = 1.0 / kMinutesPerDay;

constexpr std::string_view kLoyaltyRanges[] = {
    "1", "2", "3-5", "6-10", "11-20", "21-50", "51+"};
// Lower bounds of each range after the first.
constexpr int kLoyaltyFrom[] = {2, 3, 6, 11, 21, 51};

constexpr std::string_view kCirculationRanges[] = {
    "one visit", "under 1 day", "1-2 days", "2-7 days", "7-14 days",
    "14-30 days", "30-90 days", "90+ days"};
constexpr double kCirculationFrom[] = {1, 2, 7, 14, 30, 90};  // days, after "under 1 day"

constexpr std::string_view kTimeonRanges[] = {
    "0-1 min", "1-5 min", "5-10 min", "10-30 min", "30-60 min",
    "60-120 min", "120-300 min", "300+ min"};
constexpr double kTimeonFrom[] = {1, 5, 10, 30, 60, 120, 300};  // minutes

constexpr std::string_view kDepthRanges[] = {
    "0 pages", "1 page", "2 pages", "3 pages", "4 pages", "5 pages",
    "6-10 pages", "11-20 pages", "21-50 pages", "51+ pages"};
constexpr int kDepthFrom[] = {6, 11, 21, 51};  // after the single counts 0..5

static_assert(std::size(kDepthRanges) <= kMaxMeasureRanges);
static_assert(std::size(kCirculationRanges) <= kMaxMeasureRanges);
static_assert(std::size(kTimeonRanges) <= kMaxMeasureRanges);
static_assert(std::size(kLoyaltyRanges) <= kMaxMeasureRanges);

// The number of bounds in `from` that value reaches.
template <class T, std::size_t N>
int bounds_reached(T value, const T (&from)[N]) {
    return static_cast<int>(std::upper_bound(std::begin(from), std::end(from), value) -
                            std::begin(from));
}

void add_to(RangeTally& range, const ClientMeasure& client, int sign) {
    range.members += sign;
    range.req += sign * client.req;
    range.bytes += sign * client.bytes;
    range.bytesin += sign * client.bytesin;
    range.visits += sign * client.visits;
    range.pages += sign * client.pages;
    range.errors += sign * client.errors;
    range.time += sign * client.online;
}

}  // namespace

std::span<const std::string_view> measure_ranges(Measure measure) {
    switch (measure) {
        case Measure::loyalty: return kLoyaltyRanges;
        case Measure::circulation: return kCirculationRanges;
        case Measure::timeon: return kTimeonRanges;
        case Measure::session_depth: return kDepthRanges;
    }
    return {};
}

int loyalty_range(int visits) { return bounds_reached(std::max(visits, 1), kLoyaltyFrom); }

int circulation_range(int visits, double mean_days) {
    if (visits < 2 || !(mean_days >= 0)) return 0;
    return 1 + bounds_reached(mean_days, kCirculationFrom);
}

int timeon_range(double minutes) {
    if (!(minutes >= 0)) minutes = 0;
    return bounds_reached(minutes, kTimeonFrom);
}

int session_depth_range(int pages) {
    if (pages <= 0) return 0;
    if (pages <= 5) return pages;
    return 5 + bounds_reached(pages, kDepthFrom);
}

double client_time_online(const StatItem& client) {
    double days = client.timetot;
    if (client.visits > 1) days += std::fabs(client.timelast - client.timein) + kOneMinute;
    return days;
}

double mean_days_between_visits(const StatItem& client) {
    if (client.visits < 2) return -1;
    return std::fabs(client.timein - client.timefirst) / (client.visits - 1);
}

void SessionDepthChart::add(const VisitShape& visit) {
    if (minutes.empty()) minutes.resize(kLastMinute + 1);
    const double span = std::fabs(visit.last - visit.start) * kMinutesPerDay;
    // A small slack: a span of exactly n minutes must not read as n - 1.
    const int minute = std::min(static_cast<int>(std::floor(span + 1e-6)), kLastMinute);
    Minute& slot = minutes[static_cast<std::size_t>(minute)];
    slot.visits += 1;
    slot.pages += visit.pages;
    slot.max_pages = std::max(slot.max_pages, visit.pages);
    visits += 1;
    pages += visit.pages;
    longest = std::max(longest, minute);
}

ClientMeasure ClientMeasure::of(const StatItem& client) {
    ClientMeasure m;
    m.req = client.req;  // the list counts in 32 bits too
    m.pages = client.pages;
    m.errors = client.errors;
    m.visits = client.visits;
    m.bytes = client.bytes;
    m.bytesin = client.bytesin;
    m.online = client_time_online(client);
    m.first_start = client.visits > 1 ? client.timefirst : client.timein;
    m.last_start = client.timein;
    return m;
}

void ClientMeasure::add_later(const ClientMeasure& later) {
    req += later.req;
    pages += later.pages;
    errors += later.errors;
    visits += later.visits;
    bytes += later.bytes;
    bytesin += later.bytesin;
    online += later.online;
    last_start = later.last_start;
}

void VisitorTally::add_measure(const ClientMeasure& c, int sign) {
    if (c.visits <= 0) return;  // never tracked (a list without visit tracking)
    const double mean_days =
        c.visits < 2 ? -1 : std::fabs(c.last_start - c.first_start) / (c.visits - 1);
    add_to(loyalty[static_cast<std::size_t>(loyalty_range(c.visits))], c, sign);
    add_to(circulation[static_cast<std::size_t>(circulation_range(c.visits, mean_days))], c,
           sign);
    add_to(timeon[static_cast<std::size_t>(timeon_range(c.online * kMinutesPerDay))], c, sign);
}

std::uint64_t DroppedClients::key_of(std::string_view name) {
    const std::uint64_t key = std::hash<std::string_view>{}(name);
    return key == 0 ? 1 : key;
}

std::size_t DroppedClients::home_of(std::uint64_t key) const {
    return static_cast<std::size_t>(key * 0x9E3779B97F4A7C15ULL >> 20) & (slots_.size() - 1);
}

std::size_t DroppedClients::slot_of(std::uint64_t key) const {
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = home_of(key);
    while (slots_[i].key != 0 && slots_[i].key != key) i = (i + 1) & mask;
    return i;
}

void DroppedClients::prefetch(std::uint64_t key, bool record) const {
    if (slots_.empty()) return;
    const Slot& slot = slots_[home_of(key)];
    if (!record) {
        __builtin_prefetch(&slot);
    } else if (slot.key == key) {
        const auto* bytes = reinterpret_cast<const char*>(&at(slot.index));
        __builtin_prefetch(bytes);
        __builtin_prefetch(bytes + sizeof(Client) - 1);
    }
}

DroppedClients::Client* DroppedClients::find(std::uint64_t key) {
    if (count_ == 0) return nullptr;
    const Slot& slot = slots_[slot_of(key)];
    return slot.key == key ? &at(slot.index) : nullptr;
}

DroppedClients::Inserted DroppedClients::insert(std::uint64_t key) {
    // At most three quarters full, so that probe runs stay short.
    if ((count_ + 1) * 4 > slots_.size() * 3) {
        const std::size_t grown = std::max<std::size_t>(1024, slots_.size() * 2);
        std::vector<Slot> old = std::exchange(slots_, std::vector<Slot>(grown));
        for (const Slot& s : old)
            if (s.key != 0) slots_[slot_of(s.key)] = s;
    }
    Slot& slot = slots_[slot_of(key)];
    if (slot.key != 0) return {&at(slot.index), false};
    const auto index = static_cast<std::uint32_t>(count_);
    if ((index >> kChunkBits) == chunks_.size())
        chunks_.push_back(std::make_unique<Client[]>(std::size_t{1} << kChunkBits));
    slot = {key, index};
    ++count_;
    Client& client = at(index);
    client = {};
    return {&client, true};
}

DroppedClients::Client* VisitorTally::add_client(const StatItem& client, bool dropping) {
    const ClientMeasure m = ClientMeasure::of(client);
    DroppedClients::Client* record = nullptr;
    if (!dropped->empty() || dropping) {
        const std::uint64_t key = DroppedClients::key_of(client.key());
        if (dropping) {
            const auto [seen, added] = dropped->insert(key);
            record = seen;
            if (added) {
                record->measure = m;
            } else {
                add_measure(record->measure, -1);
                record->measure.add_later(m);
            }
            add_measure(record->measure, 1);
            return record;
        }
        record = dropped->find(key);
        if (record) {
            add_measure(record->measure, -1);
            ClientMeasure both = record->measure;
            both.add_later(m);
            add_measure(both, 1);
            return record;
        }
    }
    add_measure(m, 1);
    return record;
}

void VisitorTally::add_visit(const VisitShape& visit) {
    const auto pages = static_cast<int>(std::min<std::int64_t>(visit.pages, 1 << 30));
    RangeTally& range = session_depth[static_cast<std::size_t>(session_depth_range(pages))];
    range.members += 1;
    range.req += visit.hits;
    range.bytes += visit.bytes;
    range.bytesin += visit.bytesin;
    range.visits += 1;
    range.pages += visit.pages;
    range.time += std::fabs(visit.last - visit.start);
    chart.add(visit);
}

bool fill_measure_list(StatList& list, Measure measure, const MeasureTally& tally) {
    const auto ranges = measure_ranges(measure);
    for (std::size_t r = 0; r < ranges.size(); ++r) {
        const RangeTally& t = tally[r];
        // One add gives the item and counts one request and the members; the
        // rest is added on top.
        const int i = list.AddHit(std::llround(t.bytes), std::llround(t.bytesin), ranges[r], 0,
                                  0);
        if (i < 0) return false;
        const auto to_int = [](std::int64_t v) {
            return static_cast<int>(std::clamp<std::int64_t>(v, 0, 0x7FFFFFFF));
        };
        list.AddReq(i, to_int(t.req) - 1);
        list.AddMisc1(i, to_int(t.members));
        list.AddVisits(i, to_int(t.visits));
        list.AddPages(i, to_int(t.pages));
        list.SetErrors(i, to_int(t.errors));
        list.AddTotalErrors(to_int(t.errors));
        list.AddTimeTot(i, t.time);
    }
    return true;
}

}  // namespace tallowick::engine
