#include "engine/stat_list.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "base/status.h"
#include "engine/report_stats.h"

namespace tallowick::engine {
namespace {

constexpr double kSecondsPerDay = 86400.0;
constexpr double kHalfMinute = 30.0 / kSecondsPerDay;
constexpr double kOneMinute = 60.0 / kSecondsPerDay;
// Hit times are Julian dates near 2.45 million, where a double resolves about
// 40 microseconds: a gap of exactly the session time must not read as longer.
constexpr double kTimeSlack = 0.001 / kSecondsPerDay;

int CompareNames(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        auto ca = static_cast<unsigned char>(a[i]);
        auto cb = static_cast<unsigned char>(b[i]);
        if (ca >= 'a' && ca <= 'z') ca = static_cast<unsigned char>(ca - 0x20);
        if (cb >= 'a' && cb <= 'z') cb = static_cast<unsigned char>(cb - 0x20);
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return 0;  // one name is the beginning of the other: they rank alike
}

template <class T>
int Descending(T a, T b) {
    return a > b ? -1 : (a < b ? 1 : 0);
}

struct ByName {
    int operator()(const StatItem& a, const StatItem& b) const { return CompareNames(a.name, b.name); }
};
struct ByBytes {
    int operator()(const StatItem& a, const StatItem& b) const { return Descending(a.bytes, b.bytes); }
};
struct ByReq {
    int operator()(const StatItem& a, const StatItem& b) const { return Descending(a.req, b.req); }
};
struct ByPages {
    int operator()(const StatItem& a, const StatItem& b) const { return Descending(a.pages, b.pages); }
};

}  // namespace

int DepthRows(int statdepth) {
    if (statdepth <= 7) return (statdepth - 2) * 10;
    if (statdepth <= 12) return (statdepth - 7) * 100;
    return statdepth;
}

// ---- creation --------------------------------------------------------------

namespace {
std::atomic<std::uint64_t> next_layout{1};
}

std::uint64_t StatList::NewLayout() {
    return next_layout.fetch_add(1, std::memory_order_relaxed);
}

void StatList::NewLayoutOf(StatList& list) {
    list.layout_ = NewLayout();
    if (list.owner_) list.owner_->layouts = list.layout_;
}

std::unique_ptr<StatList> StatList::Create(ReportStats* owner, int initialCapacity,
                                           const CountingOptions& options) {
    std::unique_ptr<StatList> list(new (std::nothrow) StatList(owner, options));
    if (!list) {
        OutOfMemory("Failed alloc stat", static_cast<long>(sizeof(StatList)));
        return nullptr;
    }
    NewLayoutOf(*list);
    // A list must be able to grow, so it holds at least one item.
    const int n = std::max(initialCapacity, 1);
    try {
        list->items_.reserve(static_cast<std::size_t>(n));
    } catch (const std::exception&) {
        OutOfMemory("Failed alloc stat", static_cast<long>(n) * static_cast<long>(sizeof(StatItem)));
        return nullptr;
    }
    // The index grows with the items; a large initial capacity only pre-sizes it so far.
    std::size_t needed = 0;
    if (!list->index_.Reserve(static_cast<std::size_t>(std::min(n, 1 << 15)), &needed)) {
        OutOfMemory("Failed alloc headPtr", static_cast<long>(needed));
        return nullptr;
    }
    list->capacity_ = n;
    list->increment_ = n < 8 ? n * 10 : n;
    return list;
}

std::unique_ptr<StatList> StatList::Recreate(ReportStats* owner, std::unique_ptr<StatList> list,
                                             int initialCapacity, const CountingOptions& options) {
    if (!list) return Create(owner, initialCapacity, options);
    if (list->Count() == 0) return list;
    const bool timeRecs = list->hasTimeRecs_;
    const bool sessionRecs = list->hasSessionRecs_;
    const NameKind kind = list->nameKind_;
    list.reset();  // release the old items before asking for the new ones
    auto fresh = Create(owner, initialCapacity, options);
    if (fresh) {
        fresh->hasTimeRecs_ = timeRecs;
        fresh->hasSessionRecs_ = sessionRecs;
        fresh->nameKind_ = kind;
    }
    return fresh;
}

// ---- find or insert --------------------------------------------------------

bool StatList::Grow() {
    const long long grown = static_cast<long long>(capacity_) + increment_;
    const long needed = static_cast<long>(grown * static_cast<long long>(sizeof(StatItem)));
    try {
        if (grown > std::numeric_limits<int>::max()) throw std::bad_alloc();
        // The list's capacity follows the fixed steps, but the memory behind it
        // at least doubles: copying every item each step is quadratic on big logs.
        const auto wanted = static_cast<std::size_t>(grown);
        if (items_.capacity() < wanted) {
            try {
                items_.reserve(std::max(wanted, 2 * items_.capacity()));
            } catch (const std::bad_alloc&) {
                items_.reserve(wanted);
            }
        }
    } catch (const std::exception&) {
        OutOfMemory("StatList Failed to Add " + std::to_string(grown) + " units\n", needed);
        return false;
    }
    capacity_ = static_cast<int>(grown);
    return true;
}

bool StatList::IsLastKey(std::string_view name) const {
    // The same bytes are the same item under either case rule. Static names
    // (hours, weekdays, systems) are the very same text: no comparison then.
    return name.size() == last_key_.size() &&
           (name.data() == last_key_.data() ||
            std::memcmp(name.data(), last_key_.data(), name.size()) == 0);
}

int StatList::FindOrInsert(std::string_view name) {
    if (name.empty()) return -1;
    if (IsLastKey(name)) return last_index_;
    return Lookup(name, NameHash(name, options_.ignorecase));
}

int StatList::FindOrInsert(std::string_view name, std::uint32_t hash) {
    if (name.empty()) return -1;
    if (IsLastKey(name)) return last_index_;
    return Lookup(name, hash);
}

int StatList::Position(std::uint32_t hash, std::string_view name) const {
    if (name.size() > kMaxNameLength) return -1;
    const bool fold = options_.ignorecase;
    return index_.Find(hash, [&](std::int32_t at, const char* key) {
        return items_[static_cast<std::size_t>(at)].key_length == name.size() &&
               SameName({key, name.size()}, name, fold);
    });
}

int StatList::Lookup(std::string_view name, std::uint32_t hash) {
    if (name.size() > kMaxNameLength) return -1;
    const int found = Position(hash, name);
    if (found >= 0) {
        last_key_ = items_[static_cast<std::size_t>(found)].key();
        last_index_ = found;
        return found;
    }

    if (Count() >= capacity_ && !Grow()) return -1;
    std::size_t needed = 0;
    if (!index_.Reserve(items_.size() + 1, &needed)) {
        OutOfMemory("Failed alloc headPtr", static_cast<long>(needed));
        return -1;
    }
    StatItem item;
    if (nameKind_ == kOwnedNames) {
        auto copy = names_.Store(name);
        if (!copy) {
            OutOfMemory("Cant alloc - new character", static_cast<long>(name.size() + 1));
            return -1;
        }
        item.name = *copy;
    } else {
        item.name = name;
    }
    item.key_text = item.name.data();
    item.key_length = static_cast<std::uint16_t>(item.name.size());
    item.hash = hash;
    const int pos = Count();
    item.pos = pos;
    try {
        if (hasSessionRecs_) item.sessionRec = std::make_unique<SessionRecList>(hash, owner_);
    } catch (const std::bad_alloc&) {
        OutOfMemory({}, 0);
        return -1;
    }
    // Within the reserved capacity: no reallocation, no throw.
    const char* item_key = item.key_text;
    items_.push_back(std::move(item));
    index_.Insert(hash, pos, item_key);
    last_key_ = items_.back().key();
    last_index_ = pos;
    return pos;
}

std::unique_ptr<StatList> StatList::EmptyLike() const {
    auto list = Create(owner_, capacity_, options_);
    if (!list) return nullptr;
    list->increment_ = increment_;
    list->hasTimeRecs_ = hasTimeRecs_;
    list->hasSessionRecs_ = hasSessionRecs_;
    list->nameKind_ = nameKind_;
    return list;
}

std::unique_ptr<StatList> StatList::Copy() const {
    auto list = EmptyLike();
    if (!list) return nullptr;
    for (const StatItem& from : items_) {
        const int i = list->Lookup(from.key(), from.hash);
        if (i < 0) return nullptr;  // reported by the add
        StatItem& to = list->items_[static_cast<std::size_t>(i)];
        if (from.name.data() != from.key_text) {
            // Renamed by Substitute: the copy keeps the shown name in its own arena.
            auto shown = list->names_.Store(from.name);
            if (!shown) {
                OutOfMemory("Cant alloc - new character", static_cast<long>(from.name.size() + 1));
                return nullptr;
            }
            to.name = *shown;
        }
        to.req = from.req;
        to.misc1 = from.misc1;
        to.misc2 = from.misc2;
        to.misc3 = from.misc3;
        to.pages = from.pages;
        to.errors = from.errors;
        to.bytes = from.bytes;
        to.bytesin = from.bytesin;
        to.visits = from.visits;
        to.timein = from.timein;
        to.timelast = from.timelast;
        to.timetot = from.timetot;
        to.timefirst = from.timefirst;
        for (const TimeRecord& record : from.timeRecs.Records()) {
            const int at = to.timeRecs.Add(record.key, record.sum);
            if (at < 0) return nullptr;  // reported by the record list
            to.timeRecs.SetCountAt(at, record.count);
        }
        if (from.sessionRec) {
            try {
                to.sessionRec = std::make_unique<SessionRecList>(*from.sessionRec);
            } catch (const std::bad_alloc&) {
                OutOfMemory({}, 0);
                return nullptr;
            }
        }
    }
    list->CopyTotals(*this);
    return list;
}

int StatList::Add(std::string_view name) { return FindOrInsert(name); }

int StatList::AddHashed(std::uint32_t hash, std::string_view name) {
    return FindOrInsert(name, hash);
}

int StatList::AddHit(std::int64_t bytes, std::int64_t bytesIn, std::string_view name, double time,
                     int flags, int key) {
    return CountHit(FindOrInsert(name), bytes, bytesIn, time, flags, key);
}

int StatList::AddHashedHit(std::uint32_t hash, std::int64_t bytes, std::int64_t bytesIn,
                           std::string_view name, double time, int flags, int key) {
    return CountHit(FindOrInsert(name, hash), bytes, bytesIn, time, flags, key);
}

void StatList::VisitTracking(StatItem& item, double time) {
    const double gap = options_.sessiontime * 60.0 / kSecondsPerDay;
    const double d = std::fabs(time - item.timelast);
    newVisit_ = false;
    if (item.visits == 0) {
        item.timein = time;
        item.timefirst = time;
        item.timetot = kHalfMinute;
        item.visits = 1;
        totalVisits_ += 1;
        totalTime_ += kHalfMinute;
        item.misc1 = 0;
        newVisit_ = true;
    } else if (d > gap + kTimeSlack) {
        // The visit that ends is credited with its span plus a minute.
        const double span = std::fabs(item.timelast - item.timein) + kOneMinute;
        // The first visit's running credit is replaced, in the item and in the
        // list total alike, so that the total stays the sum of its items.
        const double credited = item.visits == 1 ? item.timetot : 0.0;
        if (item.visits == 1)
            item.timetot = span;
        else
            item.timetot += span;
        item.timein = time;
        item.visits += 1;
        totalTime_ += span - credited;
        totalVisits_ += 1;
        item.misc1 = 0;
        newVisit_ = true;
    } else if (item.visits == 1) {
        // Only the first visit is credited as it goes.
        item.timetot += d;
        totalTime_ += d;
    }
    item.timelast = time;
}

int StatList::AddValues(std::string_view name, double bytes, double bytesIn, double timelast) {
    const int i = FindOrInsert(name);
    if (i < 0) return -1;
    StatItem& item = items_[static_cast<std::size_t>(i)];
    item.req += 1;
    item.bytes += bytes;
    item.bytesin += bytesIn;
    item.timelast = timelast;
    totalReq_ += 1;
    totalBytes_ += bytes;
    totalBytesIn_ += bytesIn;
    return i;
}

int StatList::Merge(StatList& source, int index) {
    if (&source == this || source.At(index) == nullptr) return -1;
    const int i = FindOrInsert(source.items_[static_cast<std::size_t>(index)].name);
    if (i < 0) return -1;
    StatItem& from = source.items_[static_cast<std::size_t>(index)];
    StatItem& to = items_[static_cast<std::size_t>(i)];
    totalReq_ += 1;
    totalBytes_ += from.bytes;
    totalBytesIn_ += from.bytesin;
    totalMisc1_ += from.misc1;
    totalPages_ += from.pages;
    totalTime_ += from.timetot;
    totalVisits_ += from.visits;
    to.bytes += std::trunc(from.bytes);
    to.bytesin += std::trunc(from.bytesin);
    to.req = from.req;
    to.visits = from.visits;
    to.misc1 = from.misc1;
    to.misc2 = from.misc2;
    to.misc3 = from.misc3;
    to.pages = from.pages;
    to.errors = from.errors;
    to.timein = from.timein;
    to.timelast = from.timelast;
    to.timetot = from.timetot;
    to.timefirst = from.timefirst;
    if (source.hasTimeRecs_) to.timeRecs = std::move(from.timeRecs);
    if (from.sessionRec) to.sessionRec = std::move(from.sessionRec);
    return i;
}

// ---- access ----------------------------------------------------------------


std::string_view StatList::Name(int i) const { auto* p = At(i); return p ? p->name : std::string_view{}; }
int StatList::Req(int i) const { auto* p = At(i); return p ? p->req : 0; }
double StatList::Bytes(int i) const { auto* p = At(i); return p ? p->bytes : 0.0; }
double StatList::BytesIn(int i) const { auto* p = At(i); return p ? p->bytesin : 0.0; }
int StatList::Visits(int i) const { auto* p = At(i); return p ? p->visits : 0; }
int StatList::Misc1(int i) const { auto* p = At(i); return p ? p->misc1 : 0; }
int StatList::Errors(int i) const { auto* p = At(i); return p ? p->errors : 0; }
double StatList::TimeIn(int i) const { auto* p = At(i); return p ? p->timein : 0.0; }
double StatList::TimeLast(int i) const { auto* p = At(i); return p ? p->timelast : 0.0; }
double StatList::TimeTot(int i) const { auto* p = At(i); return p ? p->timetot : 0.0; }

void StatList::SetVisits(int i, int v) { if (auto* p = At(i)) p->visits = v; }
void StatList::SetMisc1(int i, int v) { if (auto* p = At(i)) p->misc1 = v; }
void StatList::SetErrors(int i, int v) { if (auto* p = At(i)) p->errors = v; }
void StatList::SetTimeIn(int i, double t) { if (auto* p = At(i)) p->timein = t; }
void StatList::SetTimeFirst(int i, double t) { if (auto* p = At(i)) p->timefirst = t; }

ListTotals StatList::Totals() const {
    return {totalReq_,   totalMisc1_, totalPages_,   totalErrors_,
            totalVisits_, totalBytes_, totalBytesIn_, totalTime_};
}

void StatList::AddToTotals(const ListTotals& change) {
    // The totals stay within their 32 bits whatever the change.
    auto add = [](int& total, std::int64_t n) {
        total = static_cast<int>(std::clamp<std::int64_t>(total + n, INT32_MIN, INT32_MAX));
    };
    add(totalReq_, change.req);
    add(totalMisc1_, change.misc1);
    add(totalPages_, change.pages);
    add(totalErrors_, change.errors);
    add(totalVisits_, change.visits);
    totalBytes_ += change.bytes;
    totalBytesIn_ += change.bytesin;
    totalTime_ += change.time;
}

void StatList::CopyTotals(const StatList& from) {
    totalReq_ = from.totalReq_;
    totalMisc1_ = from.totalMisc1_;
    totalPages_ = from.totalPages_;
    totalErrors_ = from.totalErrors_;
    totalVisits_ = from.totalVisits_;
    totalBytes_ = from.totalBytes_;
    totalBytesIn_ = from.totalBytesIn_;
    totalTime_ = from.totalTime_;
}

void StatList::AddReq(int i, int n) {
    if (auto* p = At(i)) {
        p->req += n;
        totalReq_ += n;
    }
}

void StatList::AddTimeTot(int i, double days) {
    if (auto* p = At(i)) {
        p->timetot += days;
        totalTime_ += days;
    }
}

void StatList::AddPages(int i, int n) {
    if (auto* p = At(i)) {
        p->pages += n;
        totalPages_ += n;
    }
}

int StatList::FindByHash(std::uint32_t hash) const { return index_.FindLowest(hash); }

void StatList::Substitute(
    const std::function<std::optional<std::string_view>(std::string_view)>& fn) {
    if (!fn) return;
    NewLayoutOf(*this);
    for (StatItem& item : items_) {
        const std::optional<std::string_view> text = fn(item.name);
        if (!text) continue;
        auto copy = names_.Store(*text);
        if (!copy) {
            OutOfMemory("::Substitute(), new char[mystrlen(pt) + 1];",
                        static_cast<long>(text->size() + 1));
            return;
        }
        item.name = *copy;
    }
}

// ---- sorting ---------------------------------------------------------------

namespace {

// The report's partial ordering, as plain selection: for each of the first c
// positions, the best item from there on (the later of equal items) is swapped in.
template <class Cmp>
void SelectByScan(detail::TryVector<StatItem>& items, Cmp cmp, std::size_t c) {
    const std::size_t n = items.size();
    for (std::size_t p = 0; p < c; ++p) {
        std::size_t best = p;
        for (std::size_t q = p + 1; q < n; ++q)
            if (cmp(items[q], items[best]) <= 0) best = q;
        if (best != p) std::swap(items[p], items[best]);
    }
}

// The same selection, swap for swap, without scanning the whole list c times
// (a report of 500 rows over a million files would compare 10^9 times). Only
// items ranking at least as high as the c-th best can ever be chosen, so the
// selection is played out on those candidates' positions and its swaps are then
// applied. Needs a strict weak order (the numeric orders). False when the
// working memory cannot be had: the caller then scans.
template <class Cmp>
bool SelectByCandidates(detail::TryVector<StatItem>& items, Cmp cmp, std::size_t c) {
    const std::size_t n = items.size();
    try {
        std::vector<std::int32_t> order(n);
        for (std::size_t i = 0; i < n; ++i) order[i] = static_cast<std::int32_t>(i);
        auto before = [&](std::int32_t a, std::int32_t b) {
            return cmp(items[static_cast<std::size_t>(a)], items[static_cast<std::size_t>(b)]) < 0;
        };
        std::nth_element(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(c - 1),
                         order.end(), before);
        const StatItem& threshold = items[static_cast<std::size_t>(order[c - 1])];

        struct Candidate {
            std::int32_t item;      // index in the array before sorting
            std::int32_t position;  // where the selection has it now
        };
        std::vector<Candidate> open;
        std::vector<std::int32_t> at(n, -1);  // position -> index in open, or -1
        for (std::size_t i = 0; i < n; ++i) {
            if (cmp(items[i], threshold) <= 0) {
                at[i] = static_cast<std::int32_t>(open.size());
                open.push_back({static_cast<std::int32_t>(i), static_cast<std::int32_t>(i)});
            }
        }
        std::vector<std::pair<std::size_t, std::size_t>> swaps;
        swaps.reserve(c);
        for (std::size_t p = 0; p < c; ++p) {
            std::size_t best = 0;
            for (std::size_t k = 1; k < open.size(); ++k) {
                const int r = cmp(items[static_cast<std::size_t>(open[k].item)],
                                  items[static_cast<std::size_t>(open[best].item)]);
                if (r < 0 || (r == 0 && open[k].position > open[best].position)) best = k;
            }
            const auto best_position = static_cast<std::size_t>(open[best].position);
            // The item at p moves to where the best one was.
            if (const std::int32_t here = at[p]; here >= 0 && static_cast<std::size_t>(here) != best) {
                open[static_cast<std::size_t>(here)].position = static_cast<std::int32_t>(best_position);
                at[best_position] = here;
            } else if (best_position != p) {
                at[best_position] = -1;
            }
            at[p] = -1;  // placed for good
            swaps.emplace_back(p, best_position);
            // Drop the chosen candidate, keeping the position map in step.
            const std::size_t last = open.size() - 1;
            if (best != last) {
                open[best] = open[last];
                at[static_cast<std::size_t>(open[best].position)] = static_cast<std::int32_t>(best);
            }
            open.pop_back();
        }
        for (auto [p, b] : swaps)
            if (b != p) std::swap(items[p], items[b]);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace

template <class Cmp>
void StatList::Order(Cmp cmp, int rows, bool strict_weak) {
    const std::size_t n = items_.size();
    const std::size_t c = rows > 0 ? 2 * static_cast<std::size_t>(std::max(rows, 15)) : 0;
    if (c > 0 && n >= c) {
        // Only the rows a report can show, ties going to the later item.
        if (!strict_weak || !SelectByCandidates(items_, cmp, c)) SelectByScan(items_, cmp, c);
    } else {
        // Stable, and safe with comparators that are not strict weak orders (the
        // name order treats a prefix as equal to the longer name).
        std::stable_sort(items_.begin(), items_.end(),
                         [&](const StatItem& a, const StatItem& b) { return cmp(a, b) < 0; });
    }
    RebuildIndex();
}

int StatList::BuiltInOrder(int order) const {
    if (order == kSortPage && totalPages_ == 0) return kSortReqs;
    return order;
}

void StatList::Sort(int order, int statdepth) {
    const int rows = DepthRows(statdepth);
    switch (BuiltInOrder(order)) {
        case kSortName: Order(ByName{}, rows, false); break;
        case kSortSize: Order(ByBytes{}, rows, true); break;
        case kSortPage: Order(ByPages{}, rows, true); break;
        default: Order(ByReq{}, rows, true); break;
    }
}

void StatList::Sort(const ItemOrder& order, int statdepth) {
    if (order) Order(std::cref(order), DepthRows(statdepth), false);
}

void StatList::SortBy(int order) {
    switch (BuiltInOrder(order)) {
        case kSortName: Order(ByName{}, 0, false); break;
        case kSortSize: Order(ByBytes{}, 0, true); break;
        case kSortPage: Order(ByPages{}, 0, true); break;
        default: Order(ByReq{}, 0, true); break;
    }
}

void StatList::SortBy(const ItemOrder& order) {
    if (order) Order(std::cref(order), 0, false);
}

void StatList::RebuildIndex() {
    NewLayoutOf(*this);
    last_key_ = {};
    last_index_ = -1;
    index_.Clear();
    for (std::size_t i = 0; i < items_.size(); ++i)
        index_.Insert(items_[i].hash, static_cast<std::int32_t>(i), items_[i].key_text);
}

void StatList::Relink() {
    for (std::size_t i = 0; i < items_.size(); ++i) items_[i].pos = static_cast<std::int32_t>(i);
}

// ---- per-item record lists -------------------------------------------------

TimeRecList* StatList::TimeRecs(int i) {
    auto* p = At(i);
    return p && hasTimeRecs_ ? &p->timeRecs : nullptr;
}

SessionRecList* StatList::SessionRecs(int i) {
    auto* p = At(i);
    return p ? p->sessionRec.get() : nullptr;
}

void StatList::SortTimeRecs(int i, int selector) {
    if (auto* t = TimeRecs(i)) t->Sort(selector);
}

int StatList::TimeRecCount(int i) const {
    auto* p = At(i);
    return p && hasTimeRecs_ ? p->timeRecs.Count() : 0;
}

int StatList::TimeRecKey(int i, int r) const {
    auto* p = At(i);
    return p && hasTimeRecs_ ? p->timeRecs.Key(r) : -1;
}

std::int64_t StatList::TimeRecSum(int i, int r) const {
    auto* p = At(i);
    return p && hasTimeRecs_ ? p->timeRecs.Sum(r) : -1;
}

int StatList::TimeRecCountAt(int i, int r) const {
    auto* p = At(i);
    return p && hasTimeRecs_ ? p->timeRecs.CountAt(r) : -1;
}

std::int64_t StatList::TimeRecSumFor(int i, int key) const {
    auto* p = At(i);
    return p && hasTimeRecs_ ? p->timeRecs.SumFor(key) : -1;
}

int StatList::TimeRecCountFor(int i, int key) const {
    auto* p = At(i);
    return p && hasTimeRecs_ ? p->timeRecs.CountFor(key) : -1;
}

}  // namespace tallowick::engine
