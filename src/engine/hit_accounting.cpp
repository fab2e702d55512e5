#include "engine/hit_accounting.h"

#include <array>
#include <bit>
#include <cstdint>

#include "base/julian_date.h"
#include "engine/batch_worker.h"
#include "engine/text_memo.h"
#include "engine/search_engines.h"
#include "engine/sessions.h"
#include "engine/url_tables.h"
#include "logs/pattern.h"

namespace tallowick::engine {
namespace {

constexpr std::string_view kNoReferrer = "[NO REFERER/BOOKMARKED]";

constexpr std::array<std::string_view, 24> kHours = {
    "00", "01", "02", "03", "04", "05", "06", "07", "08", "09", "10", "11",
    "12", "13", "14", "15", "16", "17", "18", "19", "20", "21", "22", "23"};
constexpr std::array<std::string_view, 7> kWeekdays = {
    "Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

// AddHit that also keeps the list's failed-request total, which only the
// accounting counts. A list the report does not keep is passed over.
int Add(const std::unique_ptr<StatList>& list, std::int64_t bytes, std::int64_t bytes_in,
        std::string_view name, double time, int flags, int key = 0) {
    if (!list) return -1;
    const int i = list->AddHit(bytes, bytes_in, name, time, flags, key);
    if (i >= 0 && (flags & kAddError)) list->AddTotalErrors(1);
    return i;
}

bool StartsWithNoCase(std::string_view text, std::string_view word) {
    if (text.size() < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        auto up = [](char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; };
        if (up(text[i]) != up(word[i])) return false;
    }
    return true;
}

// An address rather than a name: digits, dots and colons only.
bool IsNumericHost(std::string_view host) {
    if (host.empty()) return true;
    for (char c : host)
        if (!((c >= '0' && c <= '9') || c == '.' || c == ':')) return false;
    return true;
}

// The hour of a time text beginning "HH", or -1.
int HourOf(std::string_view time) { return logs::HourOfTime(time); }

// Where an earlier hit counted a text in one list of a report: -1 for nothing
// to count there (or no such list). Positions hold while the report keeps its
// layout stamp (ReportStats::layouts), which the facts that hold them record.
struct ListPlace {
    std::int32_t index = -1;
};

// Add at a place found before; the failed-request total as in Add. Inline where
// it is called, where the flags are mostly known.
[[gnu::always_inline]] inline int CountAt(const std::unique_ptr<StatList>& list,
                                          const ListPlace& place, std::int64_t bytes,
                                          std::int64_t bytes_in, double time, int flags,
                                          int key = 0) {
    if (place.index < 0) return -1;
    const int i = list->AddHitAt(place.index, bytes, bytes_in, time, flags, key);
    if (i >= 0 && (flags & kAddError)) list->AddTotalErrors(1);
    return i;
}

// Finds or inserts name in list (nothing is counted) and records where. False
// when a list that should take the name could not (out of memory): what was
// worked out is then not remembered.
bool Place(const std::unique_ptr<StatList>& list, std::string_view name, ListPlace& place) {
    place = {};
    if (!list || name.empty()) return true;
    place.index = list->Add(name);
    return place.index >= 0;
}

bool PlaceHashed(const std::unique_ptr<StatList>& list, bool folded, std::uint32_t hash,
                 std::string_view name, ListPlace& place) {
    place = {};
    if (!list || name.empty()) return true;
    place.index = list->Options().ignorecase == folded ? list->AddHashed(hash, name)
                                                       : list->Add(name);
    return place.index >= 0;
}

// The day, weekday and month items a hit was counted in (-1: none).
struct TimeBuckets {
    int day = -1, weekday = -1, month = -1;
};

// A client as it was before a hit: whether it had hits, and the time of its last.
struct ClientBefore {
    bool seen = false;
    double last = 0;

    static ClientBefore Of(const StatList& clients, int index) {
        const StatItem* item = clients.Item(index);
        return item && item->visits > 0 ? ClientBefore{true, item->timelast} : ClientBefore{};
    }
};

// A visit counts in the day, weekday and month of its first hit ("Sessions"). A
// client counts as a visitor of a day, and of that day's weekday, at its first hit
// of the day, and of a month at its first hit of the month ("Visitors").
void CountBucketVisits(ReportStats& r, const TimeBuckets& at, const ClientBefore& before,
                       bool new_visit, double time, double midnight) {
    // The same day as the hit: from its midnight up to the next.
    const bool new_day = !before.seen || before.last < midnight || before.last >= midnight + 1;
    bool new_month = !before.seen;
    if (!new_month && new_day) {
        const CalendarTime was = CalendarFromJulian(before.last), now = CalendarFromJulian(time);
        new_month = was.year != now.year || was.month != now.month;
    }
    auto count = [&](const std::unique_ptr<StatList>& list, int index, bool visitor) {
        if (!list || index < 0) return;
        if (new_visit) list->AddVisits(index, 1);
        if (visitor) list->AddMisc1(index, 1);
    };
    count(r.date, at.day, new_day);
    count(r.wday, at.weekday, new_day);
    count(r.month, at.month, new_month);
}

// misc2 and misc3 of a client hold its last browser and system as index + 1, so
// that a client's first browser counts even when it is the list's first item.
std::int8_t ClientMark(int index) { return static_cast<std::int8_t>(index + 1); }

}  // namespace

std::span<const std::string_view> hour_names() { return kHours; }
std::span<const std::string_view> weekday_names() { return kWeekdays; }

HitAccounting::HitAccounting(const Settings& settings, const ReportOptions& options,
                             Batching batching)
    : options_(options),
      usecgi_(settings.analysis.usecgi),
      ignoreself_(settings.analysis.ignoreself),
      ignorebookmark_(settings.analysis.ignorebookmark),
      ignoreusernames_(settings.analysis.ignoreusernames),
      multidomains_(settings.run.multidomains != 0),
      indexfile_(settings.run.indexfile),
      hitpattern_(settings.analysis.hitpattern),
      clickpattern_(settings.analysis.clickpattern),
      site_host_(url_host(settings.run.siteurl)) {
    const StatFlags& g = settings.report.graph;
    pagehistory_ = g[StatWord::pagehistory];
    downloadhistory_ = g[StatWord::downloadhistory];
    topdirhistory_ = g[StatWord::topdirhistory];
    errorurlhistory_ = g[StatWord::errorurlhistory];
    referhistory_ = g[StatWord::referhistory];
    // Split the group entries once, not per hit.
    for (const std::string& entry : settings.analysis.groupdir.entries()) {
        if (entry.empty() || entry.front() == '!') continue;
        const std::size_t eq = entry.find('=');
        if (eq == std::string::npos || eq + 1 >= entry.size()) continue;
        groups_.push_back({entry.substr(0, eq), entry.substr(eq + 1)});
    }
    second_thread_ = batching == Batching::two_threads;
    if (batching != Batching::none) StartBatches(second_thread_);
}

// ---- what earlier hits worked out ------------------------------------------

// The lists a URL is counted in besides the file list, and whether it is a page.
struct HitAccounting::UrlFacts {
    std::uint64_t stamp = 0;  // the report's layouts when they were found
    ListPlace file, pages, down, addhit, addclick, dir, topdir, type;
    bool page = false;

    bool HoldFor(const ReportStats& r) const { return stamp == r.layouts; }
};

// What AccountUrl hands on to the later steps.
struct HitAccounting::UrlCount {
    int flags = 0;         // in: the hit's flags; out: with kAddPage for a page
    std::int64_t bytes = 0, bytes_in = 0;
    double time = 0;
    bool page = false;
    int page_index = -1;
    std::uint32_t url_hash = 0;
    std::string_view folder;  // the URL's folder, when WorkOutUrl ran for this hit
};

// Search phrase and referrer lists of one referrer text.
struct HitAccounting::ReferrerFacts {
    std::uint64_t stamp = 0;  // the report's layouts when they were found
    bool bookmark = false;  // ignorebookmark and a file: referrer: nothing is counted
    ListPlace searchstr, searchsite;
    int phrase_key = 0;     // the searchsite record key
    int phrase_record = -1; // where that record was last found
    // The referrer lists; worked out only for the logs that count referrers.
    bool listed = false;
    bool own_site = false;  // ignoreself found the site's own host in it
    std::uint32_t kept = 0; // length of the referrer as counted
    ListPlace refer, rsite;

    bool HoldFor(const ReportStats& r) const { return stamp == r.layouts; }
};

// The agent's system and browser items, and its robot.
struct HitAccounting::AgentFacts {
    std::uint64_t stamp = 0;  // the report's layouts when they were found
    int family = 0;
    ListPlace oper, browser, robot;

    bool HoldFor(const ReportStats& r) const { return stamp == r.layouts; }
};

struct HitAccounting::Memo {
    explicit Memo(std::size_t limit) : urls(limit), referrers(limit), agents(limit / 16) {}
    TextMemo<UrlFacts> urls;
    TextMemo<ReferrerFacts> referrers;
    TextMemo<AgentFacts, 512> agents;
    // The time buckets' items (second pass).
    struct LastText {
        std::array<char, 16> text{};
        std::size_t size = 0;
        ListPlace place;
    };
    struct Buckets {
        std::uint64_t stamp = 0;  // the report's layouts when the places were found
        std::array<ListPlace, 24> hour;
        std::array<ListPlace, 7> weekday;
        std::array<std::array<ListPlace, 24>, 7> weekday_hour;
        LastText date, month;
    } buckets;
};

HitAccounting::~HitAccounting() = default;

HitAccounting::Memo* HitAccounting::MemoFor(const ReportStats& r) {
    const auto at = static_cast<std::size_t>(r.index < 0 ? 0 : r.index);
    if (at > static_cast<std::size_t>(kMaxReports)) return nullptr;
    if (at >= memos_.size()) memos_.resize(at + 1);
    if (!memos_[at]) {
        // The first reports of a split get the room the single report has.
        const std::size_t limit = at <= 7 ? 1 << 18 : 4096;
        try {
            memos_[at] = std::make_unique<Memo>(limit);
        } catch (const std::bad_alloc&) {
            return nullptr;  // the hits are then worked out one by one
        }
    }
    return memos_[at].get();
}

// ---- one hit ---------------------------------------------------------------

// A hit on its way through the two passes. In a batch its texts are copies that
// live as long as the batch.
struct HitAccounting::Hit {
    ReportStats* report = nullptr;
    Memo* memo = nullptr;
    double time = 0;
    std::int64_t bytes = 0, bytes_in = 0;
    int status_code = 0;
    int flags = 0;          // kAddError
    int hour = -1;          // -1: no time of day, no time buckets
    int protocol = 0;       // proxy reports: the request's protocol
    int format_code = 0;
    int err_index = -1;     // the status's item in the error list (first pass)
    std::string_view url, source, client_key, agent, date_text, referrer, server, status;
    // Worked out a few hits ahead: the memo hashes, where the memos keep the texts
    // (-1: not known then), and the client's name hash.
    std::size_t url_key = 0, agent_key = 0, referrer_key = 0;
    std::int32_t url_entry = -1, agent_entry = -1, referrer_entry = -1;
    std::uint32_t client_hash = 0;
    std::int32_t client_index = -1;  // the client's item when it had one then
};

struct HitAccounting::Batches : BatchWorker<Hit> {
    using BatchWorker::BatchWorker;
};

namespace {

// How far ahead of the hit being counted a pass asks for the memory of the hits
// to come: first their index slots, then the entries those slots name.
constexpr std::size_t kSlotsAhead = 8;
constexpr std::size_t kEntriesAhead = 4;
constexpr std::size_t kItemsAhead = 2;
constexpr std::size_t kRecordsAhead = 1;

}  // namespace

void HitAccounting::StartBatches(bool second_thread) {
    // A failed page counts in the error list, which belongs to the first pass.
    batches_ = std::make_unique<Batches>(
        [this](std::span<Hit> hits, std::vector<std::uint32_t>&) { FirstPass(hits); },
        [this](std::span<Hit> hits, std::vector<std::uint32_t>& later) { SecondPass(hits, later); },
        [](Hit& h) { CountFailedPage(h); }, second_thread);
}

void HitAccounting::Settle() {
    if (batches_) batches_->Drain();
}

void HitAccounting::Account(ReportStats& r, const PreparedHit& hit, RunTotals& totals) {
    const logs::HitRecord& rec = *hit.record;
    const bool proxy = r.mode == kProxyMode;

    // 1. Bytes. The bytes field of every format is what was sent to the client,
    // POST and PUT included; bytes in come only from a request-size field.
    const std::int64_t bytes = rec.bytes < 0 ? 0 : rec.bytes;
    const std::int64_t bytes_in = rec.bytes_in < 0 ? 0 : rec.bytes_in;
    totals.bytes += static_cast<double>(bytes);
    totals.bytes_in += static_cast<double>(bytes_in);
    r.bytes += static_cast<double>(bytes);
    r.bytes_in += static_cast<double>(bytes_in);

    // 2. Status: the run's counts now, the error lists in the first pass.
    const StatusInfo status = read_status(rec.status);
    if (status.code == 304) {
        ++r.not_modified_hits;
        ++totals.not_modified;
    }
    if (status.error) {
        ++r.failed_hits;
        ++totals.failed;
    }

    Hit h{.report = &r,
          .memo = MemoFor(r),
          .time = hit.time,
          .bytes = bytes,
          .bytes_in = bytes_in,
          .status_code = status.code,
          .flags = status.error ? kAddError : 0,
          .hour = hit.has_time ? HourOf(rec.time) : -1,
          .protocol = proxy ? proxy_protocol(rec.extra.empty() ? rec.method : rec.extra) : 0,
          .format_code = hit.format_code,
          .url = hit.url,
          .source = proxy ? rec.source : std::string_view{},
          .client_key = (!ignoreusernames_ && !rec.user.empty()) ? rec.user : hit.client,
          .agent = rec.agent,
          .date_text = hit.date_text,
          .referrer = rec.referrer,
          .server = ignoreself_ && multidomains_ ? rec.server : std::string_view{},
          .status = status.error && r.errurl ? rec.status : std::string_view{}};
    if (!batches_) {
        // Hit by hit: the tables are read between lines.
        h.url_key = TextMemo<UrlFacts>::Hash(h.url);
        h.agent_key = TextMemo<AgentFacts, 512>::Hash(h.agent);
        h.referrer_key = TextMemo<ReferrerFacts>::Hash(h.referrer);
        h.client_hash = r.client ? r.client->PrefetchName(h.client_key) : 0;
        AccountFirst(h);
        if (AccountSecond(h)) CountFailedPage(h);
        return;
    }
    // The texts that point into the line move with one copy of it, or stay in
    // it; the others (a normalised URL, a resolved name, the date) are copied
    // one by one.
    const std::string_view line = hit.line;
    const bool line_stays = hit.line_stays && !second_thread_;
    const auto begin = reinterpret_cast<std::uintptr_t>(line.data());
    auto in_line = [begin, size = line.size()](std::string_view t) {
        const auto at = reinterpret_cast<std::uintptr_t>(t.data());
        return at >= begin && at + t.size() <= begin + size;
    };
    // Empty texts need nothing; the rest are looked at one by one, so that each
    // becomes straight code.
    auto each_text = [](auto&& fn) {
        fn(&Hit::url), fn(&Hit::source), fn(&Hit::client_key), fn(&Hit::agent);
        fn(&Hit::date_text), fn(&Hit::referrer), fn(&Hit::server), fn(&Hit::status);
    };
    std::size_t room = line_stays ? 0 : line.size();
    each_text([&](std::string_view Hit::*text) {
        const std::string_view t = h.*text;
        if (!t.empty() && !in_line(t)) room += t.size();
    });
    Hit& queued = batches_->Next(room, h);
    const char* copy = line_stays ? line.data() : batches_->Keep(line).data();
    each_text([&](std::string_view Hit::*text) {
        const std::string_view t = h.*text;
        if (t.empty()) return;
        if (!in_line(t))
            queued.*text = batches_->Keep(t);
        else if (!line_stays)
            queued.*text = {copy + (t.data() - line.data()), t.size()};
    });
}

namespace {

enum class Ahead { slots, entries, items, records };

template <class Hit, class AheadFn, class Count>
void WithLookahead(std::span<Hit> hits, AheadFn&& ahead, Count&& count) {
    const std::size_t n = hits.size();
    for (std::size_t i = 0; i < std::min(n, kSlotsAhead); ++i) ahead(hits[i], Ahead::slots);
    for (std::size_t i = 0; i < std::min(n, kEntriesAhead); ++i) ahead(hits[i], Ahead::entries);
    for (std::size_t i = 0; i < std::min(n, kItemsAhead); ++i) ahead(hits[i], Ahead::items);
    for (std::size_t i = 0; i < std::min(n, kRecordsAhead); ++i) ahead(hits[i], Ahead::records);
    for (std::size_t i = 0; i < n; ++i) {
        if (i + kSlotsAhead < n) ahead(hits[i + kSlotsAhead], Ahead::slots);
        if (i + kEntriesAhead < n) ahead(hits[i + kEntriesAhead], Ahead::entries);
        if (i + kItemsAhead < n) ahead(hits[i + kItemsAhead], Ahead::items);
        if (i + kRecordsAhead < n) ahead(hits[i + kRecordsAhead], Ahead::records);
        count(hits[i]);
    }
}

}  // namespace

void HitAccounting::FirstPass(std::span<Hit> hits) {
    WithLookahead(
        hits,
        [](Hit& h, Ahead stage) {
            if (!h.memo) return;
            const ReportStats& r = *h.report;
            if (stage == Ahead::slots) {
                h.referrer_key = TextMemo<ReferrerFacts>::Hash(h.referrer);
                h.memo->referrers.Prefetch(h.referrer_key);
            } else if (stage == Ahead::entries) {
                h.memo->referrers.PrefetchEntry(h.referrer_key);
            } else if (stage == Ahead::items) {
                h.referrer_entry = h.memo->referrers.Position(h.referrer, h.referrer_key);
                if (const ReferrerFacts* f = h.memo->referrers.At(h.referrer_entry)) {
                    if (r.refer) r.refer->PrefetchAt(f->refer.index);
                    if (r.rsite) r.rsite->PrefetchAt(f->rsite.index);
                }
            } else if (const ReferrerFacts* f = h.memo->referrers.At(h.referrer_entry)) {
                if (r.rsite) r.rsite->PrefetchRecords(f->rsite.index);
            }
        },
        [this](Hit& h) { AccountFirst(h); });
}

void HitAccounting::SecondPass(std::span<Hit> hits, std::vector<std::uint32_t>& later) {
    WithLookahead(
        hits,
        [](Hit& h, Ahead stage) {
            const ReportStats& r = *h.report;
            StatList* clients = r.client.get();
            if (stage == Ahead::slots) {
                if (clients) h.client_hash = clients->PrefetchName(h.client_key);
                if (!h.memo) return;
                h.url_key = TextMemo<UrlFacts>::Hash(h.url);
                h.memo->urls.Prefetch(h.url_key);
                h.agent_key = TextMemo<AgentFacts, 512>::Hash(h.agent);
                h.memo->agents.Prefetch(h.agent_key);
            } else if (stage == Ahead::entries) {
                if (clients) clients->PrefetchItem(h.client_hash);
                if (!h.memo) return;
                h.memo->urls.PrefetchEntry(h.url_key);
                h.memo->agents.PrefetchEntry(h.agent_key);
            } else if (stage == Ahead::items) {
                if (clients) h.client_index = clients->Position(h.client_hash, h.client_key);
                if (!h.memo) return;
                h.url_entry = h.memo->urls.Position(h.url, h.url_key);
                h.agent_entry = h.memo->agents.Position(h.agent, h.agent_key);
                if (const UrlFacts* f = h.memo->urls.At(h.url_entry)) {
                    if (r.url) r.url->PrefetchAt(f->file.index);
                    if (r.pages) r.pages->PrefetchAt(f->pages.index);
                    if (r.dir) r.dir->PrefetchAt(f->dir.index);
                }
            } else {
                if (clients) clients->PrefetchRecords(h.client_index);
                if (!h.memo) return;
                if (const UrlFacts* f = h.memo->urls.At(h.url_entry))
                    if (r.pages) r.pages->PrefetchRecords(f->pages.index);
            }
        },
        [&](Hit& h) {
            if (AccountSecond(h)) later.push_back(static_cast<std::uint32_t>(&h - hits.data()));
        });
}

// 2 and 16, 17: the error lists, search phrases and referrers.
void HitAccounting::AccountFirst(Hit& h) {
    ReportStats& r = *h.report;
    if (h.flags & kAddError) {
        h.err_index = Add(r.err, h.bytes, h.bytes_in, status_name(h.status_code), h.time, kAddError);
        if (h.err_index >= 0) r.err->SetMisc1(h.err_index, h.status_code);
        if (r.errurl) {
            errurl_key_.assign(h.url);
            errurl_key_ += " (";
            errurl_key_ += h.status;
            errurl_key_ += ')';
            Add(r.errurl, h.bytes, h.bytes_in, errurl_key_, h.time,
                kAddError | (errorurlhistory_ ? kAddDayRecord : 0));
        }
    }
    AccountReferrer(r, h.memo, h, h.flags);
}

// 3 to 15: the file and its lists, time buckets, the client, the agent, proxy sources.
bool HitAccounting::AccountSecond(const Hit& t) {
    ReportStats& r = *t.report;
    const double time = t.time;
    const std::int64_t bytes = t.bytes, bytes_in = t.bytes_in;
    const bool proxy = r.mode == kProxyMode;
    const std::uint32_t client_hash = t.client_hash;
    bool failed_page = false;
    const double midnight = day_.MidnightOf(time);

    // 3. The file key, and steps 4 to 11.
    std::string_view url = t.url;
    std::size_t url_key = t.url_key;
    std::int32_t url_entry = t.url_entry;
    if (url.empty() && proxy) {
        url = t.source;
        url_key = TextMemo<UrlFacts>::Hash(url);
        url_entry = -1;  // looked ahead for the empty URL
    }
    UrlCount counted;
    counted.flags = t.flags;
    counted.bytes = bytes;
    counted.bytes_in = bytes_in;
    counted.time = time;
    if (!url.empty()) AccountUrl(r, t.memo, url, url_key, url_entry, counted);
    const int flags = counted.flags;
    const bool page = counted.page;
    const int page_index = counted.page_index;

    // 14. Time buckets.
    TimeBuckets buckets;
    if (t.hour >= 0) {
        const int bucket_flags = flags & (kAddError | kAddPage);
        // The items of the buckets, remembered by the memo: hours and weekdays
        // by number, the day and month for as long as they last.
        Memo* const memo = t.memo;
        if (memo && memo->buckets.stamp != r.layouts) {
            memo->buckets = {};
            memo->buckets.stamp = r.layouts;
        }
        auto bucket = [&](const std::unique_ptr<StatList>& list, std::string_view key,
                          ListPlace* place) {
            if (!list) return -1;
            int i;
            if (place && place->index >= 0) {
                i = CountAt(list, *place, bytes, bytes_in, time, bucket_flags);
            } else {
                i = Add(list, bytes, bytes_in, key, time, bucket_flags);
                if (place) place->index = i;
            }
            if (i >= 0) list->SetTimeLast(i, time);
            return i;
        };
        // A place kept for the text `now`: forgotten when the text changes.
        auto place_for = [memo](Memo::LastText Memo::Buckets::*which,
                                std::string_view now) -> ListPlace* {
            if (!memo) return nullptr;
            Memo::LastText& last = memo->buckets.*which;
            if (now.size() > last.text.size()) return nullptr;
            if (std::string_view(last.text.data(), last.size) != now) {
                std::copy(now.begin(), now.end(), last.text.begin());
                last.size = now.size();
                last.place = {};
            }
            return &last.place;
        };
        // A Julian date's weekday turns at noon; the hit's day is that of its midnight.
        const int weekday = day_.WeekdayOf(midnight);
        const auto hour = static_cast<std::size_t>(t.hour);
        const auto day = static_cast<std::size_t>(weekday);
        bucket(r.hour, kHours[hour], memo ? &memo->buckets.hour[hour] : nullptr);
        buckets.weekday = bucket(r.wday, kWeekdays[day], memo ? &memo->buckets.weekday[day] : nullptr);
        bucket(r.wdays[day], kHours[hour], memo ? &memo->buckets.weekday_hour[day][hour] : nullptr);
        buckets.day = bucket(r.date, t.date_text, place_for(&Memo::Buckets::date, t.date_text));
        if (r.month && t.date_text.size() >= 10) {
            // "MM/" and the year: "MM/YYYY".
            const std::string_view d = t.date_text;
            const std::array<char, 7> month_key = {d[0], d[1], d[2], d[6], d[7], d[8], d[9]};
            const std::string_view month(month_key.data(), month_key.size());
            buckets.month = bucket(r.month, month, place_for(&Memo::Buckets::month, month));
        }
    }

    // 12, first half: the client's item (the agent marks it).
    // A client that had its item when the pass looked ahead still has it there.
    const int client_index = !r.client              ? -1
                             : t.client_index >= 0 ? t.client_index
                                                   : r.client->AddHashed(client_hash, t.client_key);
    if (client_index >= 0) r.client->PrefetchRecords(client_index);

    // 15. Agent.
    if (!t.agent.empty() && t.agent.front() != '-')
        AccountAgent(r, t.memo, t.agent, t.agent_key, t.agent_entry, client_index, bytes, bytes_in,
                     time, flags);

    // 12. The client, with its visits; entry pages.
    if (client_index >= 0) {
        int client_flags = kAddVisit | (flags & (kAddError | kAddPage));
        if (r.client->HasTimeRecs()) client_flags |= kAddDayRecord;
        const ClientBefore before = ClientBefore::Of(*r.client, client_index);
        r.client->AddHitAt(client_index, bytes, bytes_in, time, client_flags);
        if (client_flags & kAddError) r.client->AddTotalErrors(1);
        CountBucketVisits(r, buckets, before, r.client->NewVisit(), time, midnight);
        if (r.client->HasSessionRecs())
            track_session(r, client_index, {time, bytes, bytes_in, page, counted.url_hash});
        if (page) {
            if (page_index >= 0 && r.client->NewVisit())
                r.pages->SetPages(page_index, r.pages->Pages(page_index) + 1);
            failed_page = (flags & kAddError) != 0;
        }
    }

    // 13. Proxy sources and protocols.
    if (proxy) {
        Add(r.src, bytes, bytes_in, t.source, time, flags);
        if (r.prot) r.prot->AddHit(bytes, bytes_in, protocol_name(t.protocol), time, flags);
        if (page_index >= 0) r.pages->SetMisc2(page_index, t.protocol);
        if (StatList* list = ProtocolClients(r, options_, t.protocol)) {
            if (client_index >= 0 &&
                list->Options().ignorecase == r.client->Options().ignorecase)
                list->AddHashedHit(client_hash, bytes, bytes_in, t.client_key, time, 0);
            else
                list->AddHit(bytes, bytes_in, t.client_key, time, 0);
        }
    }
    return failed_page;
}

// A failed page counts in the error list too, once the first pass has the
// status's item there.
void HitAccounting::CountFailedPage(const Hit& h) {
    if (h.err_index >= 0) h.report->err->AddPages(h.err_index, 1);
}

// ---- steps 4 to 11: the file, its page and download lists, folders, type ----

void HitAccounting::AccountUrl(ReportStats& r, Memo* memo, std::string_view url,
                               std::size_t text_hash, std::int32_t entry, UrlCount& out) {
    // Groups are matched on the folder hit by hit: such reports work out every URL.
    const bool grouped = r.groupdir && !groups_.empty();
    if (grouped) memo = nullptr;
    UrlFacts* known = !memo ? nullptr
                      : entry >= 0 ? memo->urls.At(entry)
                                   : memo->urls.Find(url, text_hash);
    UrlFacts worked;
    if (!known || !known->HoldFor(r)) {
        const bool complete = WorkOutUrl(r, url, worked, out.folder);
        known = &worked;
        if (memo && complete)
            if (UrlFacts* kept = memo->urls.Store(url, text_hash)) *kept = worked;
    }
    const UrlFacts& f = *known;
    const std::int64_t bytes = out.bytes, bytes_in = out.bytes_in;
    const double time = out.time;
    int flags = out.flags;

    // 5. The file list; 6. pages and downloads; 7. adverts.
    if (CountAt(r.url, f.file, bytes, bytes_in, time, flags | kAddVisit) >= 0)
        out.url_hash = r.url->Hash(f.file.index);
    if (f.page)
        out.page_index = CountAt(r.pages, f.pages, bytes, bytes_in, time,
                                 flags | (pagehistory_ ? kAddDayRecord : 0));
    CountAt(r.down, f.down, bytes, bytes_in, time, downloadhistory_ ? kAddDayRecord : 0);
    CountAt(r.addhit, f.addhit, bytes, bytes_in, time, kAddDayRecord);
    CountAt(r.addclick, f.addclick, bytes, bytes_in, time, kAddDayRecord);
    if (f.page) flags |= kAddPage;

    // 8. Directories, 9. groups, 10. the top directory, 11. file type.
    CountAt(r.dir, f.dir, bytes, bytes_in, time, flags);
    if (grouped) {
        // WorkOutUrl has just run and left the folder of this hit's URL.
        for (const Group& g : groups_)
            if (logs::MatchPattern(out.folder, g.pattern, true))
                Add(r.groupdir, bytes, bytes_in, g.name, time, flags);
    }
    CountAt(r.topdir, f.topdir, bytes, bytes_in, time,
            flags | (topdirhistory_ ? kAddDayRecord : 0));
    CountAt(r.type, f.type, bytes, bytes_in, time, flags);

    out.flags = flags;
    out.page = f.page;
}

bool HitAccounting::WorkOutUrl(ReportStats& r, std::string_view url, UrlFacts& f,
                               std::string_view& folder) {
    const bool proxy = r.mode == kProxyMode;
    bool complete = true;
    f.stamp = r.layouts;

    // 4. Page decision.
    bool page = usecgi_ && url.find('?') != std::string_view::npos;
    const std::string_view ext = url_extension(url, usecgi_);
    if (!ext.empty()) {
        const std::size_t slash = url.find_last_of('/');
        if (!indexfile_.empty() && indexfile_.size() < url.size() &&
            slash != std::string_view::npos &&
            StartsWithNoCase(url.substr(slash + 1), indexfile_)) {
            // A directory's index page counts as the directory itself.
            url = slash == 0 ? url.substr(0, 1) : url.substr(0, slash);
        }
    } else {
        if (url.size() > 1 && (url.back() == '/' || url.back() == '\\')) url.remove_suffix(1);
        page = true;
    }
    if (proxy) {
        if (ext.size() > 1 && ext[1] >= '0' && ext[1] <= '9') page = true;
        if (url.find('/') == std::string_view::npos) page = true;
        if (url.find('@') != std::string_view::npos) page = true;
    }

    // The file, its folder and its top folder begin alike: one pass hashes all three.
    const std::string_view directory = url_directory(url);
    const std::string_view top = directory.empty() ? directory : top_directory(directory);
    const bool fold = options_.counting.ignorecase;
    const std::uint32_t top_hash = NameHash(top, fold);
    const std::uint32_t dir_hash = NameHashFrom(top_hash, directory.substr(top.size()), fold);
    const std::uint32_t file_hash = NameHashFrom(dir_hash, url.substr(directory.size()), fold);
    folder = directory;

    // 5. The file list; the page, download and advert lists point at its names.
    complete &= PlaceHashed(r.url, fold, file_hash, url, f.file);
    const int url_index = f.file.index;
    const std::string_view stored = url_index >= 0 ? r.url->Name(url_index) : std::string_view{};

    // 6. Pages and downloads, 7. adverts.
    bool download = false;
    if (!ext.empty()) {
        download = is_download_extension(ext);
        if (is_page_extension(ext)) page = true;
    }
    if (!stored.empty()) {
        // The file's hash is that of its key; a name that reports renamed
        // (Substitute, between interim reports) is hashed afresh.
        const StatItem& file = *r.url->Item(url_index);
        const bool same_text = file.key_text == stored.data() && file.key_length == stored.size();
        const std::uint32_t url_hash = r.url->Hash(url_index);
        auto place_file = [&](const std::unique_ptr<StatList>& list, bool wanted,
                              ListPlace& place) {
            if (!wanted) {
                place = {};
                return true;
            }
            return same_text ? PlaceHashed(list, r.url->Options().ignorecase, url_hash, stored, place)
                             : Place(list, stored, place);
        };
        complete &= place_file(r.pages, page, f.pages);
        complete &= place_file(r.down, download, f.down);
        complete &= place_file(r.addhit, r.addhit && !hitpattern_.empty() &&
                                             logs::MatchPattern(url, hitpattern_, false),
                               f.addhit);
        complete &= place_file(r.addclick, r.addclick && !clickpattern_.empty() &&
                                               logs::MatchPattern(url, clickpattern_, false),
                               f.addclick);
    } else {
        f.pages = f.down = f.addhit = f.addclick = {};
    }

    // 8. Directories, 10. the top directory, 11. file type.
    complete &= PlaceHashed(r.dir, fold, dir_hash, directory, f.dir);
    complete &= PlaceHashed(r.topdir, fold, top_hash, top, f.topdir);
    complete &= Place(r.type, ext.substr(0, first_of(ext, "/?")), f.type);

    f.page = page;
    return complete;
}

// ---- step 15: the agent ----------------------------------------------------

void HitAccounting::AccountAgent(ReportStats& r, Memo* memo, std::string_view agent,
                                 std::size_t text_hash, std::int32_t entry, int client_index, std::int64_t bytes, std::int64_t bytes_in,
                                 double time, int flags) {
    if (!r.oper && !r.browser && !r.robot) return;
    AgentFacts* known = !memo ? nullptr
                        : entry >= 0 ? memo->agents.At(entry)
                                     : memo->agents.Find(agent, text_hash);
    AgentFacts worked;
    if (!known || !known->HoldFor(r)) {
        const bool complete = WorkOutAgent(r, agent, worked);
        known = &worked;
        if (memo && complete)
            if (AgentFacts* kept = memo->agents.Store(agent, text_hash)) *kept = worked;
    }
    const AgentFacts& a = *known;
    StatList* clients = client_index >= 0 ? r.client.get() : nullptr;

    if (a.oper.index >= 0) {
        // The clients-per-system count goes with the client's first hit on it.
        int os_flags = flags;
        if (clients && clients->Misc3(client_index) != ClientMark(a.oper.index)) {
            os_flags |= kAddMisc1;
            clients->SetMisc3(client_index, ClientMark(a.oper.index));
        }
        CountAt(r.oper, a.oper, bytes, bytes_in, time, os_flags);
        r.oper->SetMisc2(a.oper.index, a.family);
    }
    if (a.browser.index >= 0) {
        int browser_flags = flags | kAddKeyRecord;
        if (clients && clients->Misc2(client_index) != ClientMark(a.browser.index)) {
            browser_flags |= kAddMisc1;
            clients->SetMisc2(client_index, ClientMark(a.browser.index));
        }
        CountAt(r.browser, a.browser, bytes, bytes_in, time, browser_flags, a.family);
    }
    CountAt(r.robot, a.robot, bytes, bytes_in, time, flags);
}

bool HitAccounting::WorkOutAgent(ReportStats& r, std::string_view agent, AgentFacts& facts) {
    // Consecutive hits often come from one browser (a page and its images).
    if (agent != last_agent_) {
        last_agent_class_ = agents_.classify(agent);
        last_agent_.assign(agent);
    }
    const AgentClass& a = last_agent_class_;
    facts.stamp = r.layouts;
    facts.family = a.os_family;
    bool complete = Place(r.oper, os_name(a.os), facts.oper);
    complete &= Place(r.browser, a.browser.empty() ? std::string_view{} : a.browser.view(),
                      facts.browser);
    complete &= Place(r.robot, a.robot != kNoRobot ? robot_name(a.robot) : std::string_view{},
                      facts.robot);
    return complete;
}

// ---- steps 16 and 17: search phrases and referrers -------------------------

void HitAccounting::AccountReferrer(ReportStats& r, Memo* memo, const Hit& hit, int flags) {
    const std::int64_t bytes = hit.bytes, bytes_in = hit.bytes_in;
    const std::string_view ref = hit.referrer;
    const std::size_t text_hash = hit.referrer_key;
    const bool referrers = hit.format_code < 30 && (r.refer || r.rsite);
    if (ref.empty()) {
        if (referrers && !ignorebookmark_)
            Add(r.refer, bytes, bytes_in, kNoReferrer, hit.time, flags);
        return;
    }
    ReferrerFacts* known = !memo ? nullptr
                           : hit.referrer_entry >= 0 ? memo->referrers.At(hit.referrer_entry)
                                                     : memo->referrers.Find(ref, text_hash);
    ReferrerFacts worked;
    if (!known || !known->HoldFor(r) || (referrers && !known->listed)) {
        const bool complete = WorkOutReferrer(r, hit, worked);
        known = &worked;
        if (memo && complete)
            if (ReferrerFacts* kept = memo->referrers.Store(ref, text_hash)) *kept = worked;
    }
    ReferrerFacts& f = *known;
    if (f.bookmark) return;

    // 16. Search phrase and engine. An engine holds a record per phrase, many for
    // a busy one: the phrase's record is found again where it was last time.
    CountAt(r.searchstr, f.searchstr, bytes, bytes_in, hit.time, flags);
    if (CountAt(r.searchsite, f.searchsite, bytes, bytes_in, hit.time, flags) >= 0)
        if (TimeRecList* records = r.searchsite->TimeRecs(f.searchsite.index))
            f.phrase_record = records->AddKnown(f.phrase_record, f.phrase_key, bytes);

    // 17. Referrers, for web-server logs.
    if (!referrers) return;
    if (ignoreself_) {
        if (multidomains_) {
            const std::string_view own = hit.server;
            if (!own.empty() && ref.substr(0, f.kept).find(own) != std::string_view::npos) return;
        } else if (f.own_site) {
            return;
        }
    }
    CountAt(r.refer, f.refer, bytes, bytes_in, hit.time, flags);
    CountAt(r.rsite, f.rsite, bytes, bytes_in, hit.time,
            flags | (referhistory_ ? kAddDayRecord : 0));
}

bool HitAccounting::WorkOutReferrer(ReportStats& r, const Hit& hit, ReferrerFacts& f) {
    std::string_view ref = hit.referrer;
    bool complete = true;
    f.stamp = r.layouts;
    f.searchstr = f.searchsite = f.refer = f.rsite = {};
    // A bookmark or local file gives neither a search nor a referrer.
    if (ignorebookmark_ && ref.find("file:") != std::string_view::npos) {
        f.bookmark = true;
        f.listed = true;
        return true;
    }

    // 16. Search phrase and engine.
    if ((r.searchstr || r.searchsite) && search_phrase(ref, phrase_)) {
        complete &= Place(r.searchstr, phrase_, f.searchstr);
        const std::string_view site = url_host(ref);
        if (r.searchsite && !IsNumericHost(site)) {
            // The phrase list has just hashed the phrase: its item holds that hash.
            const std::uint32_t phrase_hash = f.searchstr.index >= 0
                                                  ? r.searchstr->Hash(f.searchstr.index)
                                                  : r.searchstr ? r.searchstr->HashOf(phrase_)
                                                                : r.searchsite->HashOf(phrase_);
            complete &= Place(r.searchsite, site, f.searchsite);
            f.phrase_key = static_cast<int>(phrase_hash);
        }
    }

    // 17. Referrers, for web-server logs.
    if (hit.format_code >= 30 || (!r.refer && !r.rsite)) return complete;
    f.listed = true;
    if (!usecgi_) ref = ref.substr(0, first_of(ref, "#$?"));
    f.kept = static_cast<std::uint32_t>(ref.size());
    if (ignoreself_ && !multidomains_ && !site_host_.empty() &&
        ref.find(site_host_) != std::string_view::npos) {
        // Nothing is counted for it, and nothing needs placing.
        f.own_site = true;
        return complete;
    }
    if (ignoreself_ && multidomains_) {
        // The site's own host is the hit's server: decided hit by hit, but a
        // referrer that is skipped now must not be placed in the lists.
        const std::string_view own = hit.server;
        if (!own.empty() && ref.find(own) != std::string_view::npos) return false;
    }
    // The site begins the referrer: hashing it first, the referrer goes on from there.
    const std::string_view site = referrer_site(ref);
    const bool fold = options_.counting.ignorecase;
    const std::uint32_t site_hash = NameHash(site, fold);
    const std::uint32_t ref_hash = NameHashFrom(site_hash, ref.substr(site.size()), fold);
    complete &= PlaceHashed(r.refer, fold, ref_hash, ref, f.refer);
    complete &= PlaceHashed(r.rsite, fold, site_hash, site, f.rsite);
    return complete;
}

}  // namespace tallowick::engine
