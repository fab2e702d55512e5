#include "engine/hit_accounting.h"

#include <array>

#include "base/julian_date.h"
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

// Add of a name whose hash the caller has, made with case folding `folded`: the
// hash is passed on when the list folds alike (the lists of one report do).
int AddWithHash(const std::unique_ptr<StatList>& list, bool folded, std::uint32_t hash,
                std::int64_t bytes, std::int64_t bytes_in, std::string_view name, double time,
                int flags) {
    if (!list) return -1;
    const int i = list->Options().ignorecase == folded
                      ? list->AddHashedHit(hash, bytes, bytes_in, name, time, flags)
                      : list->AddHit(bytes, bytes_in, name, time, flags);
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
int HourOf(std::string_view time) {
    if (time.size() < 2 || time[0] < '0' || time[0] > '9' || time[1] < '0' || time[1] > '9')
        return -1;
    const int h = (time[0] - '0') * 10 + (time[1] - '0');
    return h < 24 ? h : -1;
}

// misc2 and misc3 of a client hold its last browser and system as index + 1, so
// that a client's first browser counts even when it is the list's first item.
std::int8_t ClientMark(int index) { return static_cast<std::int8_t>(index + 1); }

}  // namespace

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

void HitAccounting::Account(ReportStats& r, const PreparedHit& hit, RunTotals& totals) {
    const logs::HitRecord& rec = *hit.record;
    const double time = hit.time;
    const bool proxy = r.mode == kProxyMode;

    // 1. Bytes; a POST or PUT carries its bytes to the server.
    std::int64_t bytes = rec.bytes < 0 ? 0 : rec.bytes;
    std::int64_t bytes_in = rec.bytes_in < 0 ? 0 : rec.bytes_in;
    if (!rec.method.empty() && rec.method.front() == 'P') {
        bytes_in = bytes;
        bytes = 0;
    }
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

    // 3. The file key.
    std::string_view url = hit.url;
    if (url.empty() && proxy) url = rec.source;
    int page_index = -1;
    bool page = false;
    std::uint32_t url_hash = 0;  // the file's name hash, for the session records
    if (!url.empty()) {
        // 4. Page decision.
        if (usecgi_ && url.find('?') != std::string_view::npos) page = true;
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

        // 5. The file list; the page, download and advert lists point at its names.
        const int url_index =
            AddWithHash(r.url, fold, file_hash, bytes, bytes_in, url, time, flags | kAddVisit);
        const std::string_view stored = url_index >= 0 ? r.url->Name(url_index) : std::string_view{};
        if (url_index >= 0) url_hash = r.url->Hash(url_index);

        // 6. Pages and downloads.
        bool download = false;
        if (!ext.empty()) {
            download = is_download_extension(ext);
            if (is_page_extension(ext)) page = true;
        }
        if (!stored.empty()) {
            // The file's hash is that of its key; a name that reports renamed
            // (Substitute, between interim reports) is hashed afresh.
            const StatItem& file = *r.url->Item(url_index);
            const bool same_text =
                file.key.data() == stored.data() && file.key.size() == stored.size();
            auto add_file = [&](const std::unique_ptr<StatList>& list, int file_flags) {
                return same_text ? AddWithHash(list, r.url->Options().ignorecase, url_hash, bytes,
                                               bytes_in, stored, time, file_flags)
                                 : Add(list, bytes, bytes_in, stored, time, file_flags);
            };
            if (page) page_index = add_file(r.pages, flags | (pagehistory_ ? kAddDayRecord : 0));
            if (download) add_file(r.down, downloadhistory_ ? kAddDayRecord : 0);
            // 7. Adverts.
            if (r.addhit && !hitpattern_.empty() && logs::MatchPattern(url, hitpattern_, false))
                add_file(r.addhit, kAddDayRecord);
            if (r.addclick && !clickpattern_.empty() &&
                logs::MatchPattern(url, clickpattern_, false))
                add_file(r.addclick, kAddDayRecord);
        }
        if (page) flags |= kAddPage;

        // 8. Directories, 9. groups, 10. the top directory.
        if (!directory.empty()) {
            AddWithHash(r.dir, fold, dir_hash, bytes, bytes_in, directory, time, flags);
            if (r.groupdir)
                for (const Group& g : groups_)
                    if (logs::MatchPattern(directory, g.pattern, true))
                        Add(r.groupdir, bytes, bytes_in, g.name, time, flags);
            if (!top.empty())
                AddWithHash(r.topdir, fold, top_hash, bytes, bytes_in, top, time,
                            flags | (topdirhistory_ ? kAddDayRecord : 0));
        }

        // 11. File type.
        if (r.type) {
            const std::string_view type = ext.substr(0, first_of(ext, "/?"));
            if (!type.empty()) Add(r.type, bytes, bytes_in, type, time, flags);
        }
    }

    // 12. The client, with its visits; entry pages.
    const std::string_view client_key =
        (!ignoreusernames_ && !rec.user.empty()) ? rec.user : hit.client;
    int client_flags = kAddVisit | (flags & (kAddError | kAddPage));
    if (r.client && r.client->HasTimeRecs()) client_flags |= kAddDayRecord;
    const int client_index = Add(r.client, bytes, bytes_in, client_key, time, client_flags);
    if (client_index >= 0 && r.client->HasSessionRecs())
        track_session(r, client_index, {time, bytes, bytes_in, page, url_hash});
    if (client_index >= 0 && page) {
        if (page_index >= 0 && r.client->NewVisit())
            r.pages->SetPages(page_index, r.pages->Pages(page_index) + 1);
        if (status.error && err_index >= 0) r.err->AddPages(err_index, 1);
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
                list->AddHashedHit(r.client->Hash(client_index), bytes, bytes_in, client_key,
                                   time, 0);
            else
                list->AddHit(bytes, bytes_in, client_key, time, 0);
        }
    }

    // 14. Time buckets.
    const int hour = HourOf(rec.time);
    if (hit.has_time && hour >= 0) {
        const int bucket_flags = flags & (kAddError | kAddPage);
        auto bucket = [&](const std::unique_ptr<StatList>& list, std::string_view key) {
            const int i = Add(list, bytes, bytes_in, key, time, bucket_flags);
            if (i >= 0) list->SetTimeLast(i, time);
        };
        // A Julian date's weekday turns at noon; the hit's day is that of its midnight.
        const int weekday = JulianWeekday(JulianMidnight(time));
        bucket(r.hour, kHours[static_cast<std::size_t>(hour)]);
        bucket(r.wday, kWeekdays[static_cast<std::size_t>(weekday)]);
        bucket(r.wdays[static_cast<std::size_t>(weekday)], kHours[static_cast<std::size_t>(hour)]);
        bucket(r.date, hit.date_text);
        if (r.month && hit.date_text.size() >= 10) {
            // "MM/" and the year: "MM/YYYY".
            const std::string_view d = hit.date_text;
            month_key_ = {d[0], d[1], d[2], d[6], d[7], d[8], d[9]};
            bucket(r.month, std::string_view(month_key_.data(), month_key_.size()));
        }
    }

    // 15. Agent.
    if (!rec.agent.empty() && rec.agent.front() != '-')
        AccountAgent(r, rec.agent, client_index, bytes, bytes_in, time, flags);
    flags &= ~kAddPage;

    // 16, 17. Search phrases and referrers.
    AccountReferrer(r, hit, bytes, bytes_in, flags);
}

void HitAccounting::AccountAgent(ReportStats& r, std::string_view agent, int client_index,
                                 std::int64_t bytes, std::int64_t bytes_in, double time,
                                 int flags) {
    if (!r.oper && !r.browser && !r.robot) return;
    // Consecutive hits often come from one browser (a page and its images).
    if (agent != last_agent_) {
        last_agent_class_ = agents_.classify(agent);
        last_agent_.assign(agent);
    }
    const AgentClass& a = last_agent_class_;
    StatList* clients = client_index >= 0 ? r.client.get() : nullptr;

    int family = a.os_family;
    if (r.oper) {
        const std::string_view os = os_name(a.os);
        // Found first, so that the clients-per-system count goes with the add.
        const int os_index = r.oper->Add(os);
        if (os_index >= 0) {
            int os_flags = flags;
            if (clients && clients->Misc3(client_index) != ClientMark(os_index)) {
                os_flags |= kAddMisc1;
                clients->SetMisc3(client_index, ClientMark(os_index));
            }
            Add(r.oper, bytes, bytes_in, os, time, os_flags);
            r.oper->SetMisc2(os_index, family);
        }
    }
    if (r.browser && !a.browser.empty()) {
        const std::string_view name = a.browser.view();
        const int browser_index = r.browser->Add(name);
        if (browser_index >= 0) {
            int browser_flags = flags | kAddKeyRecord;
            if (clients && clients->Misc2(client_index) != ClientMark(browser_index)) {
                browser_flags |= kAddMisc1;
                clients->SetMisc2(client_index, ClientMark(browser_index));
            }
            Add(r.browser, bytes, bytes_in, name, time, browser_flags, family);
        }
    }
    if (r.robot && a.robot != kNoRobot)
        Add(r.robot, bytes, bytes_in, robot_name(a.robot), time, flags);
}

void HitAccounting::AccountReferrer(ReportStats& r, const PreparedHit& hit, std::int64_t bytes,
                                    std::int64_t bytes_in, int flags) {
    std::string_view ref = hit.record->referrer;
    // A bookmark or local file gives neither a search nor a referrer.
    if (ignorebookmark_ && ref.find("file:") != std::string_view::npos) return;

    // 16. Search phrase and engine.
    if (!ref.empty() && (r.searchstr || r.searchsite) && search_phrase(ref, phrase_)) {
        const int phrase_index = Add(r.searchstr, bytes, bytes_in, phrase_, hit.time, flags);
        const std::string_view site = url_host(ref);
        if (r.searchsite && !IsNumericHost(site)) {
            // The phrase list has just hashed the phrase: its item holds that hash.
            const std::uint32_t phrase_hash = phrase_index >= 0
                                                  ? r.searchstr->Hash(phrase_index)
                                                  : r.searchstr ? r.searchstr->HashOf(phrase_)
                                                                : r.searchsite->HashOf(phrase_);
            Add(r.searchsite, bytes, bytes_in, site, hit.time, flags | kAddKeyRecord,
                static_cast<int>(phrase_hash));
        }
    }

    // 17. Referrers, for web-server logs.
    if (hit.format_code >= 30 || (!r.refer && !r.rsite)) return;
    if (ref.empty()) {
        if (!ignorebookmark_) Add(r.refer, bytes, bytes_in, kNoReferrer, hit.time, flags);
        return;
    }
    if (!usecgi_) ref = ref.substr(0, first_of(ref, "#$?"));
    if (ignoreself_) {
        const std::string_view own = multidomains_ ? hit.record->server : site_host_;
        if (!own.empty() && ref.find(own) != std::string_view::npos) return;
    }
    // The site begins the referrer: hashing it first, the referrer goes on from there.
    const std::string_view site = referrer_site(ref);
    const bool fold = options_.counting.ignorecase;
    const std::uint32_t site_hash = NameHash(site, fold);
    const std::uint32_t ref_hash = NameHashFrom(site_hash, ref.substr(site.size()), fold);
    AddWithHash(r.refer, fold, ref_hash, bytes, bytes_in, ref, hit.time, flags);
    AddWithHash(r.rsite, fold, site_hash, bytes, bytes_in, site, hit.time,
                flags | (referhistory_ ? kAddDayRecord : 0));
}

}  // namespace tallowick::engine
