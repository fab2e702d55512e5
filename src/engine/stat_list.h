// The counting tables. Every statistic of a report (files, clients, referrers,
// hours, days, browsers, ...) is a `StatList`: a growable array of `StatItem`s,
// each found again by its name through a hash index. Reports, summaries, graphs
// and the history database read the items by position after the run; the hit
// accounting fills them through AddHit, once per hit and table.
//
// An item is identified by its name hash together with its name (compared with
// the same case folding as the hash), so two names whose hashes collide are two
// items. The hash itself is what the history database stores.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "base/settings.h"
#include "engine/name_hash.h"
#include "engine/session_rec.h"
#include "engine/table_storage.h"
#include "engine/time_rec.h"

namespace tallowick::engine {

struct ReportStats;

// AddHit flags.
inline constexpr int kAddMisc1 = 0x01;      // count in misc1 (and totalMisc1)
inline constexpr int kAddPage = 0x02;       // a page view
inline constexpr int kAddDayRecord = 0x08;  // TimeRec under the day of the hit
inline constexpr int kAddVisit = 0x10;      // visit tracking
inline constexpr int kAddError = 0x40;      // a failed request
inline constexpr int kAddKeyRecord = 0x80;  // TimeRec under the caller's key

// Where item names live (`nameKind`).
enum NameKind : int {
    kOwnedNames = 0,   // copied into the list
    kStaticNames = 1,  // point into a static table (statuses, countries, hours, ...)
    kFileNames = 2,    // point at the names of the report's file list
};

// Settings the tables read while counting.
struct CountingOptions {
    bool ignorecase = false;  // fold case in the hash and in name comparison
    int sessiontime = 10;     // minutes without a hit that end a visit

    static CountingOptions From(const AnalysisSettings& analysis) {
        return {analysis.ignorecase, analysis.sessiontime};
    }
};

// The number of report rows a `statdepth` code gives: up to 7 (code - 2) x 10,
// 8 to 12 (code - 7) x 100, from 13 up the code itself.
int DepthRows(int statdepth);

// The longest name a list takes: names come from log lines of at most 10,239
// characters, so this is never reached by a log.
inline constexpr std::size_t kMaxNameLength = 0xFFFF;

// One array element. Counters start at zero. Two cache lines: the first holds
// what every add reads and writes, the second what visit tracking, the record
// lists and reports use.
struct alignas(64) StatItem {
    // The name the item is found by (the first name added).
    std::string_view key() const { return {key_text, key_length}; }

    const char* key_text = nullptr;
    std::uint32_t hash = 0;
    std::int32_t req = 0;
    std::int32_t misc1 = 0;  // flag-1 hits; reset when a visit starts
    std::int32_t pages = 0;
    std::int32_t errors = 0;
    std::uint16_t key_length = 0;
    std::int8_t misc2 = 0;   // small per-list value (a client's last browser, a system's family)
    std::int8_t misc3 = 0;   // second one (a client's last operating system)
    double bytes = 0;
    double bytesin = 0;
    std::string_view name;  // what reports show; Substitute may change it

    std::int32_t pos = 0;   // index in the array; rewritten by Relink
    std::int32_t visits = 0;
    double timein = 0;    // start of the current visit, days
    double timelast = 0;  // last hit, days
    double timetot = 0;   // time online, days
    TimeRecList timeRecs;  // used when the list hasTimeRecs
    std::unique_ptr<SessionRecList> sessionRec;  // when the list hasSessionRecs
    double timefirst = 0;  // start of the first visit, days (visitor measures)
};
static_assert(sizeof(StatItem) == 128, "two cache lines per item");

// The totals of a list, taken and given back whole (the history database keeps
// them, because pruning and merging make them differ from the items' sums).
struct ListTotals {
    std::int64_t req = 0, misc1 = 0, pages = 0, errors = 0, visits = 0;
    double bytes = 0, bytesin = 0, time = 0;
};

// Orders two items for a sort: negative when a ranks before b, 0 when they rank
// alike, positive when b ranks before a.
using ItemOrder = std::function<int(const StatItem& a, const StatItem& b)>;

// Aligned to a cache line: lists counted by different threads never share one.
class alignas(64) StatList {
public:
    // Create: an empty list with room for initialCapacity items. It grows by that
    // capacity, or by ten times it when it is below 8. Returns nullptr when the
    // memory cannot be had ("Failed alloc stat" or "Failed alloc headPtr").
    static std::unique_ptr<StatList> Create(ReportStats* owner, int initialCapacity,
                                            const CountingOptions& options = {});
    // `Recreate`: no list gives Create; a list without items is returned as it is;
    // otherwise a fresh list that keeps hasTimeRecs, hasSessionRecs and nameKind.
    static std::unique_ptr<StatList> Recreate(ReportStats* owner, std::unique_ptr<StatList> list,
                                              int initialCapacity,
                                              const CountingOptions& options = {});

    StatList(const StatList&) = delete;
    StatList& operator=(const StatList&) = delete;

    // EmptyLike: a list without items that grows, counts and names as this one
    // does (capacity, growth step, options, name kind, record-list flags).
    // Copy: EmptyLike with a copy of every item, its record lists and the list
    // totals. Both give nullptr when the memory cannot be had (reported).
    std::unique_ptr<StatList> EmptyLike() const;
    std::unique_ptr<StatList> Copy() const;

    // Add: the index of the item with this name, inserted when new. Counters are
    // not touched. -1 for an empty name, a name over kMaxNameLength, or when the
    // list cannot grow (the failure is reported and the list keeps its contents).
    int Add(std::string_view name);
    // Add for a name whose hash the caller has (see AddHashedHit).
    int AddHashed(std::uint32_t hash, std::string_view name);
    // The item of a name whose hash the caller has, or -1: nothing is added. The
    // position holds while the list keeps its Layout().
    int Position(std::uint32_t hash, std::string_view name) const;

    // `AddHit`: Add, then count one request of bytes sent and bytesIn received,
    // and by flags (kAdd...): misc1, pages, errors, a TimeRec record under the
    // day of time (days) or under key, and visit tracking. Returns the index or -1.
    int AddHit(std::int64_t bytes, std::int64_t bytesIn, std::string_view name, double time,
               int flags, int key = 0);

    // AddHit for a name whose hash the caller has already (one text going into
    // several lists of a report): hash must be HashOf(name) of this list, and the
    // name is not hashed again.
    int AddHashedHit(std::uint32_t hash, std::int64_t bytes, std::int64_t bytesIn,
                     std::string_view name, double time, int flags, int key = 0);

    // AddHit for the item at index, which an earlier add of the same name
    // returned while the list had its present Layout(). -1 outside the list.
    int AddHitAt(int index, std::int64_t bytes, std::int64_t bytesIn, double time, int flags,
                 int key = 0);
    // A number that changes whenever items may have moved (a sort) or been
    // renamed (Substitute), unique among all lists of the process: a position
    // remembered with it stays good while it is unchanged. The owner's layouts
    // takes every new one, so one number stands for all lists of a report.
    std::uint64_t Layout() const { return layout_; }

    // AddValues (history database reader): AddHit without flags that sets timelast.
    int AddValues(std::string_view name, double bytes, double bytesIn, double timelast);

    // Merge (client grouping): Add the name of item `index` of another list and
    // take over its counters; bytes add up (truncated to whole numbers), the other
    // counters are overwritten. The source item's TimeRec and SessionRec lists
    // move to the target item. The totals count the merge as one request carrying
    // the source's values. -1 for a bad index, the list itself, or a failed add.
    int Merge(StatList& source, int index);

    // The item at index, or nullptr outside 0..Count()-1.
    const StatItem* Item(int index) const;
    std::span<const StatItem> Items() const { return {items_.data(), items_.size()}; }

    // Getters by index: 0 (or empty) outside 0..Count()-1.
    std::string_view Name(int index) const;
    std::uint32_t Hash(int index) const;
    int Req(int index) const;
    double Bytes(int index) const;
    double BytesIn(int index) const;
    int Visits(int index) const;
    int Misc1(int index) const;
    int Misc2(int index) const;
    int Misc3(int index) const;
    int Pages(int index) const;
    int Errors(int index) const;
    double TimeIn(int index) const;
    double TimeLast(int index) const;
    double TimeTot(int index) const;

    // Setters by index (ignored outside the list).
    void SetVisits(int index, int visits);
    void SetMisc1(int index, int misc1);
    void SetMisc2(int index, int misc2);
    void SetMisc3(int index, int misc3);
    void SetPages(int index, int pages);
    void SetErrors(int index, int errors);
    void SetTimeIn(int index, double timein);
    void SetTimeLast(int index, double timelast);
    void SetTimeFirst(int index, double timefirst);
    // Adders that keep the list total in step.
    void AddTimeTot(int index, double days);
    void AddReq(int index, int n);
    void AddVisits(int index, int n);
    void AddPages(int index, int n);
    void AddMisc1(int index, int n);
    // Failed requests are totalled by the hit accounting itself.
    void AddTotalErrors(int n) { totalErrors_ += n; }
    // Pruning rebuilds a list from some of its items; the totals stay those of
    // every hit counted, not of the items kept.
    void CopyTotals(const StatList& from);
    // The totals as they stand, and a change to them that leaves the items alone.
    ListTotals Totals() const;
    void AddToTotals(const ListTotals& change);

    int Count() const { return static_cast<int>(items_.size()); }
    int Capacity() const { return capacity_; }
    int Increment() const { return increment_; }
    int TotalReq() const { return totalReq_; }
    int TotalMisc1() const { return totalMisc1_; }
    int TotalPages() const { return totalPages_; }
    int TotalErrors() const { return totalErrors_; }
    int TotalVisits() const { return totalVisits_; }
    double TotalBytes() const { return totalBytes_; }
    double TotalBytesIn() const { return totalBytesIn_; }
    double TotalTime() const { return totalTime_; }
    // Whether the last add with kAddVisit started a new visit.
    bool NewVisit() const { return newVisit_; }

    bool HasTimeRecs() const { return hasTimeRecs_; }
    bool HasSessionRecs() const { return hasSessionRecs_; }
    NameKind GetNameKind() const { return nameKind_; }
    // Set before the first add: existing items do not get record lists.
    void SetHasTimeRecs(bool on) { hasTimeRecs_ = on; }
    void SetHasSessionRecs(bool on) { hasSessionRecs_ = on; }
    void SetNameKind(NameKind kind) { nameKind_ = kind; }
    ReportStats* Owner() const { return owner_; }
    const CountingOptions& Options() const { return options_; }

    // The hash this list gives a name (folded when ignorecase is on).
    std::uint32_t HashOf(std::string_view name) const { return NameHash(name, options_.ignorecase); }
    // HashOf(name), with the index memory that adding the name will read
    // fetched meanwhile: for a large list, hashed early and added later.
    std::uint32_t PrefetchName(std::string_view name) const {
        const std::uint32_t hash = HashOf(name);
        index_.Prefetch(hash);
        return hash;
    }
    // Then, some work later, the item and name that adding the name will read.
    void PrefetchItem(std::uint32_t hash) const {
        const char* text = nullptr;
        const std::int32_t at = index_.FirstWithHash(hash, &text);
        if (at < 0) return;
        const StatItem* item = &items_[static_cast<std::size_t>(at)];
        __builtin_prefetch(item, 1);
        __builtin_prefetch(reinterpret_cast<const char*>(item) + 64, 1);
        __builtin_prefetch(text);
    }
    // The item at a known index (a remembered place), some work before it is counted.
    void PrefetchAt(int index) const {
        if (index < 0 || index >= Count()) return;
        const StatItem* item = &items_[static_cast<std::size_t>(index)];
        __builtin_prefetch(item, 1);
        __builtin_prefetch(reinterpret_cast<const char*>(item) + 64, 1);
    }
    // And once the item is there, the day record its next add reaches.
    void PrefetchRecords(int index) const {
        if (index < 0 || index >= Count()) return;
        const auto records = items_[static_cast<std::size_t>(index)].timeRecs.Records();
        if (!records.empty()) __builtin_prefetch(&records.back(), 1);
    }
    // FindByHash: the first item (lowest index) with this hash, or -1.
    int FindByHash(std::uint32_t hash) const;

    // `Substitute`: for every item for which fn returns a text, the item's name
    // becomes an owned copy of it. The item is still found by its old name.
    void Substitute(const std::function<std::optional<std::string_view>(std::string_view)>& fn);

    // `Sort` for a report that shows DepthRows(statdepth) rows N: when N > 0 and
    // the list holds at least c = 2 x max(N, 15) items, only the first c positions
    // are ordered (by selection, equal items going to the later one); otherwise
    // the whole list. order: kSortName (case-insensitive, a name equal to the
    // start of the other ranks alike), kSortSize (bytes), kSortReqs (requests),
    // kSortPage (pages, or requests when the list has no pages), any other value
    // requests; all descending but names. A caller's ItemOrder replaces them.
    void Sort(int order, int statdepth);
    void Sort(const ItemOrder& order, int statdepth);
    // SortBy: always the whole list.
    void SortBy(int order);
    void SortBy(const ItemOrder& order);
    // `Relink`: after a sort, pos becomes each item's index. (Finding items by
    // name keeps working after a sort without it.)
    void Relink();

    // Per-item TimeRec access; -1 (0 for counts) when the item has no records.
    void SortTimeRecs(int index, int selector);
    int TimeRecCount(int index) const;
    int TimeRecKey(int index, int record) const;
    std::int64_t TimeRecSum(int index, int record) const;
    int TimeRecCountAt(int index, int record) const;
    std::int64_t TimeRecSumFor(int index, int key) const;
    int TimeRecCountFor(int index, int key) const;
    TimeRecList* TimeRecs(int index);
    SessionRecList* SessionRecs(int index);

private:
    StatList(ReportStats* owner, const CountingOptions& options)
        : owner_(owner), options_(options), layout_(0) {}
    static std::uint64_t NewLayout();
    static void NewLayoutOf(StatList& list);

    int FindOrInsert(std::string_view name);
    int FindOrInsert(std::string_view name, std::uint32_t hash);
    bool IsLastKey(std::string_view name) const;
    // Find or insert past the last-key check, with the name's hash.
    int Lookup(std::string_view name, std::uint32_t hash);
    int CountHit(int index, std::int64_t bytes, std::int64_t bytesIn, double time, int flags,
                 int key);
    bool Grow();
    void RebuildIndex();
    StatItem* At(int index);
    const StatItem* At(int index) const;
    template <class Cmp>
    void Order(Cmp cmp, int rows, bool strict_weak);
    int BuiltInOrder(int order) const;
    void VisitTracking(StatItem& item, double time);

    ReportStats* owner_;  // not owned
    CountingOptions options_;
    bool hasTimeRecs_ = false;
    bool hasSessionRecs_ = false;
    NameKind nameKind_ = kOwnedNames;
    bool newVisit_ = false;
    std::uint64_t layout_;
    int capacity_ = 0;
    int increment_ = 0;
    int totalReq_ = 0;
    int totalMisc1_ = 0;
    int totalPages_ = 0;
    int totalErrors_ = 0;
    int totalVisits_ = 0;
    double totalBytes_ = 0;
    double totalBytesIn_ = 0;
    double totalTime_ = 0;

    // The item the last lookup found: hits come in runs (one day, one client,
    // one agent), and an equal name is found again without hashing. Forgotten
    // when the items move.
    std::string_view last_key_;
    std::int32_t last_index_ = -1;

    detail::TryVector<StatItem> items_;  // reserved to capacity_
    detail::HashIndex index_;
    detail::NameArena names_;
};

// ---- what every hit calls, inline --------------------------------------------

inline StatItem* StatList::At(int index) {
    return index >= 0 && index < Count() ? &items_[static_cast<std::size_t>(index)] : nullptr;
}
inline const StatItem* StatList::At(int index) const {
    return index >= 0 && index < Count() ? &items_[static_cast<std::size_t>(index)] : nullptr;
}
inline const StatItem* StatList::Item(int index) const { return At(index); }
inline std::uint32_t StatList::Hash(int i) const { auto* p = At(i); return p ? p->hash : 0; }
inline int StatList::Misc2(int i) const { auto* p = At(i); return p ? p->misc2 : 0; }
inline int StatList::Misc3(int i) const { auto* p = At(i); return p ? p->misc3 : 0; }
inline int StatList::Pages(int i) const { auto* p = At(i); return p ? p->pages : 0; }
inline void StatList::SetMisc2(int i, int v) {
    if (auto* p = At(i)) p->misc2 = static_cast<std::int8_t>(v);
}
inline void StatList::SetMisc3(int i, int v) {
    if (auto* p = At(i)) p->misc3 = static_cast<std::int8_t>(v);
}
inline void StatList::SetPages(int i, int v) {
    if (auto* p = At(i)) p->pages = v;
}
inline void StatList::SetTimeLast(int i, double t) {
    if (auto* p = At(i)) p->timelast = t;
}
inline void StatList::AddVisits(int i, int n) {
    if (auto* p = At(i)) {
        p->visits += n;
        totalVisits_ += n;
    }
}
inline void StatList::AddMisc1(int i, int n) {
    if (auto* p = At(i)) {
        p->misc1 += n;
        totalMisc1_ += n;
    }
}

// Inline into every add: the flags are mostly known where it is called, and a
// call per hit and table costs more than the counting.
[[gnu::always_inline]] inline int StatList::CountHit(int i, std::int64_t bytes,
                                                    std::int64_t bytesIn, double time, int flags,
                                                    int key) {
    if (i < 0) return -1;
    StatItem& item = items_[static_cast<std::size_t>(i)];
    const auto sent = static_cast<double>(bytes);
    const auto received = static_cast<double>(bytesIn);
    item.req += 1;
    item.bytes += sent;
    item.bytesin += received;
    totalReq_ += 1;
    totalBytes_ += sent;
    totalBytesIn_ += received;
    if (flags & kAddMisc1) {
        item.misc1 += 1;
        totalMisc1_ += 1;
    }
    if (flags & kAddPage) {
        item.pages += 1;
        totalPages_ += 1;
    }
    if (flags & kAddError) item.errors += 1;
    if (hasTimeRecs_) {
        if (flags & kAddDayRecord)
            item.timeRecs.Add(static_cast<int>(time + 0.5), bytes);
        else if (flags & kAddKeyRecord)
            item.timeRecs.Add(key, bytes);
    }
    if (flags & kAddVisit) VisitTracking(item, time);
    return i;
}

inline int StatList::AddHitAt(int index, std::int64_t bytes, std::int64_t bytesIn, double time,
                              int flags, int key) {
    if (index < 0 || index >= Count()) return -1;
    return CountHit(index, bytes, bytesIn, time, flags, key);
}

}  // namespace tallowick::engine
