#include "engine/sessions.h"

#include <algorithm>
#include <bit>
#include <new>
#include <vector>

#include "engine/name_hash.h"

namespace tallowick::engine {
namespace {

// The largest kind that is not a page: 1 a visit start, 2 to 10 other records.
constexpr int kLastSmallKind = 10;

// The path just extended: the visit's pages from its first, `steps` of them.
bool same_pages(const MeanPath& path, std::span<const SessionRecord> pages, int steps) {
    if (path.steps != steps) return false;
    for (int i = 0; i < steps; ++i)
        if (path.pages[static_cast<std::size_t>(i)] !=
            static_cast<std::uint32_t>(pages[static_cast<std::size_t>(i)].kind))
            return false;
    return true;
}

// Counts the visit's path in the mean path table. Paths are found by their hash
// and told apart by their pages, so two paths whose hashes collide stay two.
void record_mean_path(ReportStats& r, const SessionRecList& recs) {
    const int steps = recs.Steps();
    const auto records = recs.Records();
    const auto first = static_cast<std::size_t>(recs.VisitStart());
    if (first + static_cast<std::size_t>(steps) > records.size()) return;
    const auto pages = records.subspan(first, static_cast<std::size_t>(steps));
    const std::uint32_t hash = recs.PathHash();

    const std::int32_t found = r.mean_path_index.Find(hash, [&](std::int32_t at, const char*) {
        return same_pages(r.mean_path[static_cast<std::size_t>(at)], pages, steps);
    });
    if (found >= 0) {
        r.mean_path[static_cast<std::size_t>(found)].occurrences += 1;
        return;
    }
    // The table grows by its step; when memory runs out it just stops growing.
    try {
        if (r.mean_path.size() == r.mean_path.capacity())
            r.mean_path.reserve(r.mean_path.size() + static_cast<std::size_t>(std::max(r.mean_path_step, 1)));
    } catch (const std::bad_alloc&) {
        return;
    }
    if (!r.mean_path_index.Reserve(r.mean_path.size() + 1)) return;
    MeanPath path;
    path.path_hash = hash;
    path.client_hash = recs.hash();
    path.start = static_cast<std::int32_t>(first);
    path.steps = static_cast<std::int16_t>(steps);
    path.occurrences = 1;
    for (int i = 0; i < steps; ++i)
        path.pages[static_cast<std::size_t>(i)] =
            static_cast<std::uint32_t>(pages[static_cast<std::size_t>(i)].kind);
    r.mean_path_index.Insert(hash, static_cast<std::int32_t>(r.mean_path.size()), nullptr);
    r.mean_path.push_back(path);
}

void rebuild_mean_path_index(ReportStats& r) {
    r.mean_path_index.Clear();
    if (!r.mean_path_index.Reserve(r.mean_path.size())) return;
    for (std::size_t i = 0; i < r.mean_path.size(); ++i)
        r.mean_path_index.Insert(r.mean_path[i].path_hash, static_cast<std::int32_t>(i), nullptr);
}

}  // namespace

int page_record_kind(std::uint32_t page_hash) {
    const auto kind = static_cast<std::int32_t>(page_hash);
    return kind >= 0 && kind <= kLastSmallKind ? 0 : kind;
}

void track_session(ReportStats& r, int client_index, const SessionHit& hit) {
    StatList* clients = r.client.get();
    SessionRecList* recs = clients ? clients->SessionRecs(client_index) : nullptr;
    if (recs == nullptr) return;
    if (clients->NewVisit()) {
        if (recs->VisitOpen()) r.visitor_tally.add_visit(recs->CurrentVisit());
        recs->Append(1, hit.time);
    }
    recs->NoteHit(static_cast<double>(hit.bytes), static_cast<double>(hit.bytes_in), hit.page,
                  hit.time);
    if (!hit.page) return;
    const int kind = page_record_kind(hit.page_hash);
    if (kind == 0 || recs->Append(kind, hit.time) < 0) return;
    const int steps = recs->Steps() + 1;
    recs->SetSteps(steps);
    if (steps > kMeanPathSteps) return;
    // Every page of the path goes into its hash, mixed so that no page drops out
    // of it: a hash of the last pages only would put all paths that end alike
    // on one index slot.
    const std::uint32_t mixed =
        (std::rotl(recs->PathHash(), 5) ^ static_cast<std::uint32_t>(kind)) * 0x9E3779B1u;
    recs->SetPathHash(mixed ^ kNameHashTable[static_cast<std::size_t>(steps)]);
    if (steps >= 2 && r.mean_path_on) record_mean_path(r, *recs);
}

void add_client_measures(VisitorTally& tally, StatList& clients, int index, bool dropping) {
    const StatItem* client = clients.Item(index);
    if (client == nullptr) return;
    tally.add_client(*client, dropping);
    if (const SessionRecList* recs = clients.SessionRecs(index); recs && recs->VisitOpen())
        tally.add_visit(recs->CurrentVisit());
}

bool write_visitor_measures(ReportStats& r, const VisitorTally& tally) {
    bool ok = true;
    auto write = [&](std::unique_ptr<StatList>& list, Measure measure, const MeasureTally& t) {
        if (!list) return;
        const CountingOptions options = list->Options();
        list = StatList::Recreate(&r, std::move(list), kMaxMeasureRanges, options);
        if (!list || !fill_measure_list(*list, measure, t)) ok = false;
    };
    write(r.loyalty, Measure::loyalty, tally.loyalty);
    write(r.circulation, Measure::circulation, tally.circulation);
    write(r.timeon, Measure::timeon, tally.timeon);
    write(r.session_depth, Measure::session_depth, tally.session_depth);
    if (r.session_depth) {
        try {
            r.session_depth_chart = tally.chart;
        } catch (const std::bad_alloc&) {
            ok = false;
        }
    }
    return ok;
}

void count_page_visits(ReportStats& r) {
    StatList* pages = r.pages.get();
    StatList* clients = r.client.get();
    if (!pages || !clients || !clients->HasSessionRecs()) return;
    const int count = pages->Count();
    for (int i = 0; i < count; ++i) {
        pages->AddVisits(i, -pages->Visits(i));
        pages->AddMisc1(i, -pages->Misc1(i));
        pages->AddTimeTot(i, -pages->TimeTot(i));
    }
    // The last visit and client that counted each page, so that each counts once.
    std::vector<int> counted_visit, counted_client;
    try {
        counted_visit.assign(static_cast<std::size_t>(count), -1);
        counted_client.assign(static_cast<std::size_t>(count), -1);
    } catch (const std::bad_alloc&) {
        return;
    }
    int visit = 0;
    for (int c = 0; c < clients->Count(); ++c) {
        const SessionRecList* recs = clients->SessionRecs(c);
        if (!recs) continue;
        const auto records = recs->Records();
        int viewing = -1;  // the page item of the visit's last page record
        double since = 0;
        for (const SessionRecord& rec : records) {
            if (rec.kind == 1) {
                ++visit;
                viewing = -1;
                continue;
            }
            if (rec.kind <= kLastSmallKind) continue;
            if (viewing >= 0) pages->AddTimeTot(viewing, std::max(rec.value - since, 0.0));
            viewing = pages->FindByHash(static_cast<std::uint32_t>(rec.kind));
            since = rec.value;
            if (viewing < 0) continue;
            auto& v = counted_visit[static_cast<std::size_t>(viewing)];
            if (v != visit) {
                v = visit;
                pages->AddVisits(viewing, 1);
            }
            auto& k = counted_client[static_cast<std::size_t>(viewing)];
            if (k != c) {
                k = c;
                pages->AddMisc1(viewing, 1);
            }
        }
    }
}

void sort_mean_paths(ReportStats& r) {
    std::stable_sort(r.mean_path.begin(), r.mean_path.end(),
                     [](const MeanPath& a, const MeanPath& b) { return a.occurrences > b.occurrences; });
    rebuild_mean_path_index(r);
}

std::vector<std::string_view> mean_path_pages(const ReportStats& r, const MeanPath& path) {
    std::vector<std::string_view> names;
    const int steps = std::clamp<int>(path.steps, 0, kMeanPathSteps);
    names.reserve(static_cast<std::size_t>(steps));
    for (int i = 0; i < steps; ++i) {
        const std::uint32_t hash = path.pages[static_cast<std::size_t>(i)];
        names.push_back(r.url ? r.url->Name(r.url->FindByHash(hash)) : std::string_view{});
    }
    return names;
}

}  // namespace tallowick::engine
