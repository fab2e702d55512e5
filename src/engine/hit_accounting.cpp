#include "engine/hit_accounting.h"

#include <array>

#include "base/julian_date.h"
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

// Where an earlier hit counted a text in one list: a position that holds while
// the list keeps its layout. layout 0 stands for a list the report does not
// keep; index -1 for nothing to count there.
struct ListPlace {
    std::uint64_t layout = 0;
    std::int32_t index = -1;
};

ListPlace PlaceIn(const std::unique_ptr<StatList>& list, int index) {
    return list ? ListPlace{list->Layout(), index} : ListPlace{};
}

bool Holds(const ListPlace& place, const std::unique_ptr<StatList>& list) {
    return place.layout == (list ? list->Layout() : 0);
}

// Add at a place found before; the failed-request total as in Add.
int CountAt(const std::unique_ptr<StatList>& list, const ListPlace& place, std::int64_t bytes,
            std::int64_t bytes_in, double time, int flags, int key = 0) {
    if (place.index < 0) return -1;
    const int i = list->AddHitAt(place.index, bytes, bytes_in, time, flags, key);
    if (i >= 0 && (flags & kAddError)) list->AddTotalErrors(1);
    return i;
}

// Finds or inserts name in list (nothing is counted) and records where. False
// when a list that should take the name could not (out of memory): what was
// worked out is then not remembered.
bool Place(const std::unique_ptr<StatList>& list, std::string_view name, ListPlace& place) {
    place = PlaceIn(list, -1);
    if (!list || name.empty()) return true;
    place.index = list->Add(name);
    return place.index >= 0;
}

bool PlaceHashed(const std::unique_ptr<StatList>& list, bool folded, std::uint32_t hash,
                 std::string_view name, ListPlace& place) {
    place = PlaceIn(list, -1);
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
                       bool new_visit, double time) {
    const bool new_day = !before.seen || JulianMidnight(before.last) != JulianMidnight(time);
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

HitAccounting::HitAccounting(const Settings& settings, const ReportOptions& options)
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
}

// ---- what earlier hits worked out ------------------------------------------

// The lists a URL is counted in besides the file list, and whether it is a page.
struct HitAccounting::UrlFacts {
    ListPlace file, pages, down, addhit, addclick, dir, topdir, type;
    bool page = false;

    bool HoldFor(const ReportStats& r) const {
        return Holds(file, r.url) && Holds(pages, r.pages) && Holds(down, r.down) &&
               Holds(addhit, r.addhit) && Holds(addclick, r.addclick) && Holds(dir, r.dir) &&
               Holds(topdir, r.topdir) && Holds(type, r.type);
    }
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
    bool bookmark = false;  // ignorebookmark and a file: referrer: nothing is counted
    ListPlace searchstr, searchsite;
    int phrase_key = 0;     // the searchsite record key
    // The referrer lists; worked out only for the logs that count referrers.
    bool listed = false;
    bool own_site = false;  // ignoreself found the site's own host in it
    std::size_t kept = 0;   // length of the referrer as counted
    ListPlace refer, rsite;

    bool HoldFor(const ReportStats& r) const {
        return Holds(searchstr, r.searchstr) && Holds(searchsite, r.searchsite) &&
               (!listed || (Holds(refer, r.refer) && Holds(rsite, r.rsite)));
    }
};

// The agent's system and browser items, and its robot.
struct HitAccounting::AgentFacts {
    int family = 0;
    ListPlace oper, browser, robot;

    bool HoldFor(const ReportStats& r) const {
        return Holds(oper, r.oper) && Holds(browser, r.browser) && Holds(robot, r.robot);
    }
};

struct HitAccounting::Memo {
    explicit Memo(std::size_t slots) : urls(slots), referrers(slots), agents(slots / 4) {}
    TextMemo<UrlFacts> urls;
    TextMemo<ReferrerFacts> referrers;
    TextMemo<AgentFacts, 512> agents;
};

HitAccounting::~HitAccounting() = default;

HitAccounting::Memo* HitAccounting::MemoFor(const ReportStats& r) {
    const auto at = static_cast<std::size_t>(r.index < 0 ? 0 : r.index);
    if (at > static_cast<std::size_t>(kMaxReports)) return nullptr;
    if (at >= memos_.size()) memos_.resize(at + 1);
    if (!memos_[at]) {
        // The first reports of a split get the room the single report has.
        const std::size_t slots = at <= 7 ? 1024 : 64;
        try {
            memos_[at] = std::make_unique<Memo>(slots);
        } catch (const std::bad_alloc&) {
            return nullptr;  // the hits are then worked out one by one
        }
    }
    return memos_[at].get();
}

// ---- one hit ---------------------------------------------------------------

void HitAccounting::Account(ReportStats& r, const PreparedHit& hit, RunTotals& totals) {
    const logs::HitRecord& rec = *hit.record;
    const double time = hit.time;
    const bool proxy = r.mode == kProxyMode;
    // The client list is the large one: its index is fetched while the file's
    // lists are worked on.
    const std::string_view client_key =
        (!ignoreusernames_ && !rec.user.empty()) ? rec.user : hit.client;
    const std::uint32_t client_hash = r.client ? r.client->PrefetchName(client_key) : 0;

    // 1. Bytes. The bytes field of every format is what was sent to the client,
    // POST and PUT included; bytes in come only from a request-size field.
    const std::int64_t bytes = rec.bytes < 0 ? 0 : rec.bytes;
    const std::int64_t bytes_in = rec.bytes_in < 0 ? 0 : rec.bytes_in;
    totals.bytes += static_cast<double>(bytes);
    totals.bytes_in += static_cast<double>(bytes_in);
    r.bytes += static_cast<double>(bytes);
    r.bytes_in += static_cast<double>(bytes_in);

    // 2. Status.
    const StatusInfo status = read_status(rec.status);
    int flags = status.error ? kAddError : 0;
    if (status.code == 304) {
        ++r.not_modified_hits;
        ++totals.not_modified;
    }
    int err_index = -1;
    if (status.error) {
        err_index = Add(r.err, bytes, bytes_in, status_name(status.code), time, kAddError);
        if (err_index >= 0) r.err->SetMisc1(err_index, status.code);
        if (r.errurl) {
            errurl_key_.assign(hit.url);
            errurl_key_ += " (";
            errurl_key_ += rec.status;
            errurl_key_ += ')';
            Add(r.errurl, bytes, bytes_in, errurl_key_, time,
                kAddError | (errorurlhistory_ ? kAddDayRecord : 0));
        }
        ++r.failed_hits;
        ++totals.failed;
    }

    // 3. The file key, and steps 4 to 11.
    std::string_view url = hit.url;
    if (url.empty() && proxy) url = rec.source;
    Memo* memo = MemoFor(r);
    UrlCount counted;
    counted.flags = flags;
    counted.bytes = bytes;
    counted.bytes_in = bytes_in;
    counted.time = time;
    if (!url.empty()) AccountUrl(r, memo, url, counted);
    flags = counted.flags;
    const bool page = counted.page;
    const int page_index = counted.page_index;

    // The client's item, and then its day record, are fetched from memory while
    // the lists that do not depend on the client count: the time buckets, then
    // the agent. Each list still counts the hit exactly once.
    if (r.client) r.client->PrefetchItem(client_hash);

    // 14. Time buckets.
    const int hour = HourOf(rec.time);
    TimeBuckets buckets;
    if (hit.has_time && hour >= 0) {
        const int bucket_flags = flags & (kAddError | kAddPage);
        auto bucket = [&](const std::unique_ptr<StatList>& list, std::string_view key) {
            const int i = Add(list, bytes, bytes_in, key, time, bucket_flags);
            if (i >= 0) list->SetTimeLast(i, time);
            return i;
        };
        // A Julian date's weekday turns at noon; the hit's day is that of its midnight.
        const int weekday = JulianWeekday(JulianMidnight(time));
        bucket(r.hour, kHours[static_cast<std::size_t>(hour)]);
        buckets.weekday = bucket(r.wday, kWeekdays[static_cast<std::size_t>(weekday)]);
        bucket(r.wdays[static_cast<std::size_t>(weekday)], kHours[static_cast<std::size_t>(hour)]);
        buckets.day = bucket(r.date, hit.date_text);
        if (r.month && hit.date_text.size() >= 10) {
            // "MM/" and the year: "MM/YYYY".
            const std::string_view d = hit.date_text;
            month_key_ = {d[0], d[1], d[2], d[6], d[7], d[8], d[9]};
            buckets.month = bucket(r.month, std::string_view(month_key_.data(), month_key_.size()));
        }
    }

    // 12, first half: the client's item (the agent marks it).
    const int client_index = r.client ? r.client->AddHashed(client_hash, client_key) : -1;
    if (client_index >= 0) r.client->PrefetchRecords(client_index);

    // 15. Agent.
    if (!rec.agent.empty() && rec.agent.front() != '-')
        AccountAgent(r, memo, rec.agent, client_index, bytes, bytes_in, time, flags);

    // 12. The client, with its visits; entry pages.
    if (client_index >= 0) {
        int client_flags = kAddVisit | (flags & (kAddError | kAddPage));
        if (r.client->HasTimeRecs()) client_flags |= kAddDayRecord;
        const ClientBefore before = ClientBefore::Of(*r.client, client_index);
        r.client->AddHitAt(client_index, bytes, bytes_in, time, client_flags);
        if (client_flags & kAddError) r.client->AddTotalErrors(1);
        CountBucketVisits(r, buckets, before, r.client->NewVisit(), time);
        if (r.client->HasSessionRecs())
            track_session(r, client_index, {time, bytes, bytes_in, page, counted.url_hash});
        if (page) {
            if (page_index >= 0 && r.client->NewVisit())
                r.pages->SetPages(page_index, r.pages->Pages(page_index) + 1);
            if (status.error && err_index >= 0) r.err->AddPages(err_index, 1);
        }
    }

    // 13. Proxy sources and protocols.
    if (proxy) {
        Add(r.src, bytes, bytes_in, rec.source, time, flags);
        const int protocol = proxy_protocol(rec.extra.empty() ? rec.method : rec.extra);
        if (r.prot) r.prot->AddHit(bytes, bytes_in, protocol_name(protocol), time, flags);
        if (page_index >= 0) r.pages->SetMisc2(page_index, protocol);
        if (StatList* list = ProtocolClients(r, options_, protocol)) {
            if (client_index >= 0 &&
                list->Options().ignorecase == r.client->Options().ignorecase)
                list->AddHashedHit(client_hash, bytes, bytes_in, client_key, time, 0);
            else
                list->AddHit(bytes, bytes_in, client_key, time, 0);
        }
    }
    flags &= ~kAddPage;

    // 16, 17. Search phrases and referrers.
    AccountReferrer(r, memo, hit, bytes, bytes_in, flags);
}

// ---- steps 4 to 11: the file, its page and download lists, folders, type ----

void HitAccounting::AccountUrl(ReportStats& r, Memo* memo, std::string_view url, UrlCount& out) {
    // Groups are matched on the folder hit by hit: such reports work out every URL.
    const bool grouped = r.groupdir && !groups_.empty();
    if (grouped) memo = nullptr;
    const std::size_t text_hash = memo ? TextMemo<UrlFacts>::Hash(url) : 0;
    UrlFacts* known = memo ? memo->urls.Find(url, text_hash) : nullptr;
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
                place = PlaceIn(list, -1);
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
        f.pages = PlaceIn(r.pages, -1);
        f.down = PlaceIn(r.down, -1);
        f.addhit = PlaceIn(r.addhit, -1);
        f.addclick = PlaceIn(r.addclick, -1);
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
                                 int client_index, std::int64_t bytes, std::int64_t bytes_in,
                                 double time, int flags) {
    if (!r.oper && !r.browser && !r.robot) return;
    const std::size_t text_hash = memo ? TextMemo<AgentFacts, 512>::Hash(agent) : 0;
    AgentFacts* known = memo ? memo->agents.Find(agent, text_hash) : nullptr;
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
    facts.family = a.os_family;
    bool complete = Place(r.oper, os_name(a.os), facts.oper);
    complete &= Place(r.browser, a.browser.empty() ? std::string_view{} : a.browser.view(),
                      facts.browser);
    complete &= Place(r.robot, a.robot != kNoRobot ? robot_name(a.robot) : std::string_view{},
                      facts.robot);
    return complete;
}

// ---- steps 16 and 17: search phrases and referrers -------------------------

void HitAccounting::AccountReferrer(ReportStats& r, Memo* memo, const PreparedHit& hit,
                                    std::int64_t bytes, std::int64_t bytes_in, int flags) {
    const std::string_view ref = hit.record->referrer;
    const bool referrers = hit.format_code < 30 && (r.refer || r.rsite);
    if (ref.empty()) {
        if (referrers && !ignorebookmark_)
            Add(r.refer, bytes, bytes_in, kNoReferrer, hit.time, flags);
        return;
    }
    const std::size_t text_hash = memo ? TextMemo<ReferrerFacts>::Hash(ref) : 0;
    ReferrerFacts* known = memo ? memo->referrers.Find(ref, text_hash) : nullptr;
    ReferrerFacts worked;
    if (!known || !known->HoldFor(r) || (referrers && !known->listed)) {
        const bool complete = WorkOutReferrer(r, hit, worked);
        known = &worked;
        if (memo && complete)
            if (ReferrerFacts* kept = memo->referrers.Store(ref, text_hash)) *kept = worked;
    }
    const ReferrerFacts& f = *known;
    if (f.bookmark) return;

    // 16. Search phrase and engine.
    CountAt(r.searchstr, f.searchstr, bytes, bytes_in, hit.time, flags);
    CountAt(r.searchsite, f.searchsite, bytes, bytes_in, hit.time, flags | kAddKeyRecord,
            f.phrase_key);

    // 17. Referrers, for web-server logs.
    if (!referrers) return;
    if (ignoreself_) {
        if (multidomains_) {
            const std::string_view own = hit.record->server;
            if (!own.empty() && ref.substr(0, f.kept).find(own) != std::string_view::npos) return;
        } else if (f.own_site) {
            return;
        }
    }
    CountAt(r.refer, f.refer, bytes, bytes_in, hit.time, flags);
    CountAt(r.rsite, f.rsite, bytes, bytes_in, hit.time,
            flags | (referhistory_ ? kAddDayRecord : 0));
}

bool HitAccounting::WorkOutReferrer(ReportStats& r, const PreparedHit& hit, ReferrerFacts& f) {
    std::string_view ref = hit.record->referrer;
    bool complete = true;
    f.searchstr = PlaceIn(r.searchstr, -1);
    f.searchsite = PlaceIn(r.searchsite, -1);
    f.refer = PlaceIn(r.refer, -1);
    f.rsite = PlaceIn(r.rsite, -1);
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
    f.kept = ref.size();
    if (ignoreself_ && !multidomains_ && !site_host_.empty() &&
        ref.find(site_host_) != std::string_view::npos) {
        // Nothing is counted for it, and nothing needs placing.
        f.own_site = true;
        return complete;
    }
    if (ignoreself_ && multidomains_) {
        // The site's own host is the hit's server: decided hit by hit, but a
        // referrer that is skipped now must not be placed in the lists.
        const std::string_view own = hit.record->server;
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
