// Per-item record lists of the counting tables: a visitor's sequence of visit
// starts and pages. This is storage only; session analysis decides what goes in.
#pragma once

#include <cstdint>
#include <span>

#include "engine/table_storage.h"
#include "engine/visitor_measures.h"

namespace tallowick::engine {

struct ReportStats;

struct SessionRecord {
    double value = 0;       // a time for kind 1
    std::int32_t kind = 0;  // 1: a visit starts; above 10: a page's name hash
};

// `SessionRec` list, grown 10 records at a time.
class SessionRecList {
public:
    static constexpr int kGrowth = 10;

    SessionRecList(std::uint32_t item_hash, ReportStats* owner) : hash_(item_hash), owner_(owner) {}

    // Appends a record and returns its index, or -1 when the list cannot grow
    // ("SessionRec Failed to Add" is reported). A kind-1 record starts a visit: the
    // running path hash and the step counter are reset, the index after it is
    // remembered and the visit in progress starts at its value.
    int Append(int kind, double value);

    int Count() const { return count_; }
    int Capacity() const { return static_cast<int>(records_.size()); }
    std::span<const SessionRecord> Records() const { return {records_.data(), std::size_t(count_)}; }

    std::uint32_t hash() const { return hash_; }  // the owning item's name hash
    ReportStats* owner() const { return owner_; }
    int VisitStart() const { return visit_start_; }  // index just after the last kind-1 record

    // Running values kept for session analysis.
    std::uint32_t PathHash() const { return path_hash_; }
    void SetPathHash(std::uint32_t h) { path_hash_ = h; }
    int Steps() const { return steps_; }
    void SetSteps(int steps) { steps_ = steps; }

    // The visit in progress (since the last kind-1 record): what session
    // tracking has counted of it. Not saved; a list restored from a history
    // database has none open.
    bool VisitOpen() const { return visit_open_; }
    // A list restored from a history database: its last visit was counted as
    // ended when the database was saved.
    void CloseVisit() { visit_open_ = false; }
    const VisitShape& CurrentVisit() const { return visit_; }
    void NoteHit(double bytes, double bytesin, bool page, double time) {
        visit_.hits += 1;
        visit_.pages += page ? 1 : 0;
        visit_.bytes += bytes;
        visit_.bytesin += bytesin;
        visit_.last = time;
    }

private:
    std::uint32_t hash_;
    ReportStats* owner_;  // not owned
    detail::TryVector<SessionRecord> records_;  // size() is the capacity
    int count_ = 0;
    int visit_start_ = 0;
    std::uint32_t path_hash_ = 0;
    int steps_ = 0;
    bool visit_open_ = false;
    VisitShape visit_;
};

}  // namespace tallowick::engine
