#include "engine/history_db.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <system_error>
#include <unordered_map>

#include "base/atomic_file.h"
#include "base/status.h"
#include "engine/agents.h"
#include "engine/analysis_run.h"
#include "engine/clients.h"
#include "engine/hit_accounting.h"
#include "engine/url_tables.h"
#include "logs/log_list.h"

namespace tallowick::engine {
namespace {

constexpr std::string_view kHeader =
    "#Tallowick Database\n"
    "#Format pos,name,req,bytes,bytesin,visits,errors,misc1,misc2,misc3,timein,timelast,timetot\n"
    // Item lines carry pages and the first visit's start as well.
    "#Columns pos,name,req,bytes,bytesin,visits,errors,misc1,misc2,misc3,pages,timein,timelast,"
    "timetot,timefirst\n";
// The last line of a whole file: a database without it was cut short.
constexpr std::string_view kEndLine = "#End of database";

// Protocol client lists by protocol number; the Part's five first, then ours.
constexpr std::array<std::string_view, 9> kProtocolSections = {
    "", "http", "https", "mail", "ftp", "telnet", "realaudio", "dns", "pop3"};

// One saved list of a report: its section name and where it lives.
struct Section {
    std::string_view name;
    std::unique_ptr<StatList>* slot;
};

// The saved lists in file order. A report's file list is named before the lists
// whose names point into it (pages, downloads, adverts).
std::vector<Section> SectionsOf(ReportStats& r) {
    std::vector<Section> s = {{"hour", &r.hour}, {"wday", &r.wday}};
    for (auto& l : r.wdays) s.push_back({"wdays", &l});
    for (const Section x : {Section{"month", &r.month}, {"date", &r.date}, {"client", &r.client},
                            {"user", &r.user}, {"src", &r.src}, {"2dom", &r.second_domain},
                            {"domain", &r.domain}, {"org", &r.org}, {"reg", &r.region},
                            {"url", &r.url}, {"browser", &r.browser}, {"oper", &r.oper},
                            {"refer", &r.refer}, {"rsite", &r.rsite}, {"dir", &r.dir},
                            {"topdir", &r.topdir}, {"type", &r.type}, {"err", &r.err},
                            {"errurl", &r.errurl}, {"pages", &r.pages},
                            {"searchstr", &r.searchstr}, {"searchsite", &r.searchsite},
                            {"down", &r.down}, {"addhit", &r.addhit}, {"addclick", &r.addclick},
                            {"prot", &r.prot},
                            // Beyond the Part's sections: robots and directory groups.
                            {"robot", &r.robot}, {"group", &r.groupdir}})
        s.push_back(x);
    for (std::size_t p = 1; p < kProtocolSections.size(); ++p)
        s.push_back({kProtocolSections[p], &r.protocol_clients[p]});
    // What the clients that pruning dropped gave to the grouped lists: grouping
    // a loaded report again starts from these.
    auto& g = r.settled_groups;
    for (const Section x : {Section{"settled-user", &g.user}, {"settled-govt", &g.government},
                            {"settled-org", &g.org}, {"settled-domain", &g.domain},
                            {"settled-reg", &g.region}})
        s.push_back(x);
    return s;
}

constexpr std::string_view kSettled = "settled-";

// The section whose names a section's items carry: a settled list's are those
// of the list it settles for.
std::string_view NamesOf(std::string_view section) {
    return section.starts_with(kSettled) ? section.substr(kSettled.size()) : section;
}

// The live list a settled section belongs to.
std::unique_ptr<StatList>* LiveOf(ReportStats& r, std::string_view settled) {
    const std::string_view base = NamesOf(settled);
    if (base == "user") return &r.user;
    if (base == "govt") return &r.government;
    if (base == "org") return &r.org;
    if (base == "domain") return &r.domain;
    if (base == "reg") return &r.region;
    return nullptr;
}

// Lists named as text even when their names are not their own.
bool NamedByText(std::string_view section) {
    section = NamesOf(section);
    return section == "hour" || section == "wday" || section == "wdays" || section == "domain";
}

bool WritesHashes(std::string_view section, const StatList& list) {
    return list.GetNameKind() != kOwnedNames && !NamedByText(section);
}

// The visitor measures of the clients pruning dropped, and the visits that
// ended: measure (0 loyalty, 1 circulation, 2 time online, 3 session depth),
// range, then the range's sums; per minute of the session-depth chart its
// visits, pages and deepest visit.
void AppendTally(std::string& out, const VisitorTally& t);

// Times above 0 are kept relative to the report's first hit.
double Relative(double t, double base) { return t > 0 ? t - base : t; }

void AppendF(std::string& out, const char* fmt, auto... args) {
    char buf[128];
    const int n = std::snprintf(buf, sizeof buf, fmt, args...);
    if (n > 0) out.append(buf, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buf - 1));
}

// ",%.0f" for a whole number, else every digit the double holds: with a
// day's millionth ("%f"), visit lengths and times online summed over several
// runs would drift from those of one run.
void AppendTime(std::string& out, double t) {
    if (t == std::floor(t) && std::fabs(t) < 1e15)
        AppendF(out, ",%.0f", t);
    else
        AppendF(out, ",%.17g", t);
}

void AppendRecords(std::string& out, int pos, const StatItem& item, double base) {
    // Day keys are whole days: they are kept relative to the base's whole day,
    // so that they come back exactly.
    const double day_base = std::floor(base);
    if (!item.timeRecs.Records().empty()) {
        AppendF(out, "timehistory, %d", pos);
        for (const TimeRecord& rec : item.timeRecs.Records())
            AppendF(out, ",%lld,%lld,%d", static_cast<long long>(rec.key - day_base),
                    static_cast<long long>(rec.sum), rec.count);
        out += '\n';
    }
    if (item.sessionRec && item.sessionRec->Count() > 0) {
        AppendF(out, "sessions, %d", pos);
        for (const SessionRecord& rec : item.sessionRec->Records()) {
            if (rec.kind == 1 || rec.kind < 0 || rec.kind > 10) {
                if (rec.kind == 1)
                    out += ",1";
                else
                    AppendF(out, ",%08X", static_cast<unsigned>(rec.kind));
                AppendTime(out, Relative(rec.value, base));
            } else {
                AppendF(out, ",%d,%.0f", rec.kind, rec.value);
            }
        }
        out += '\n';
    }
}

void AppendList(std::string& out, std::string_view section, const StatList& list, double base) {
    const ListTotals t = list.Totals();
    out += "\nstatlist:,";
    out += section;
    AppendF(out, ",%d,%f,%lld,%lld,%d", list.Count(), static_cast<double>(t.req),
            static_cast<long long>(t.misc1), static_cast<long long>(t.errors),
            static_cast<int>(list.GetNameKind()));
    // Beyond the Part's fields: the remaining totals.
    AppendF(out, ",%lld,%lld,%.0f,%.0f", static_cast<long long>(t.pages),
            static_cast<long long>(t.visits), t.bytes, t.bytesin);
    AppendTime(out, t.time);
    out += '\n';
    const bool hashes = WritesHashes(section, list);
    for (int i = 0; i < list.Count(); ++i) {
        const StatItem& item = *list.Item(i);
        AppendF(out, "%d,", i);
        if (hashes)
            AppendF(out, "%08x", static_cast<unsigned>(item.hash));
        else
            out += item.key();
        AppendF(out, ",%d,%.0f,%.0f,%d,%d,%d,%d,%d,%d", item.req, item.bytes, item.bytesin,
                item.visits, item.errors, item.misc1, static_cast<int>(item.misc2),
                static_cast<int>(item.misc3), item.pages);
        AppendTime(out, Relative(item.timein, base));
        AppendTime(out, Relative(item.timelast, base));
        AppendTime(out, item.timetot);
        AppendTime(out, Relative(item.timefirst, base));
        out += '\n';
        AppendRecords(out, i, item, base);
    }
}

std::array<const MeasureTally*, 4> MeasuresOf(const VisitorTally& t) {
    return {&t.loyalty, &t.circulation, &t.timeon, &t.session_depth};
}
std::array<MeasureTally*, 4> MeasuresOf(VisitorTally& t) {
    return {&t.loyalty, &t.circulation, &t.timeon, &t.session_depth};
}

void AppendTally(std::string& out, const VisitorTally& t) {
    const auto measures = MeasuresOf(t);
    for (std::size_t m = 0; m < measures.size(); ++m)
        for (std::size_t i = 0; i < measures[m]->size(); ++i) {
            const RangeTally& x = (*measures[m])[i];
            if (x.members == 0 && x.req == 0) continue;
            AppendF(out, "tally:,%zu,%zu,%lld,%lld,%.0f,%.0f,%lld,%lld,%lld", m, i,
                    static_cast<long long>(x.members), static_cast<long long>(x.req), x.bytes,
                    x.bytesin, static_cast<long long>(x.visits), static_cast<long long>(x.pages),
                    static_cast<long long>(x.errors));
            AppendTime(out, x.time);
            out += '\n';
        }
    const SessionDepthChart& c = t.chart;
    for (std::size_t m = 0; m < c.minutes.size(); ++m)
        if (c.minutes[m].visits > 0)
            AppendF(out, "depth:,%zu,%lld,%lld,%lld\n", m,
                    static_cast<long long>(c.minutes[m].visits),
                    static_cast<long long>(c.minutes[m].pages),
                    static_cast<long long>(c.minutes[m].max_pages));
    if (c.visits > 0)
        AppendF(out, "depthall:,%lld,%lld,%d\n", static_cast<long long>(c.visits),
                static_cast<long long>(c.pages), c.longest);
}

}  // namespace

std::string HistoryText(std::span<const std::unique_ptr<ReportStats>> reports) {
    std::string out(kHeader);
    for (const auto& r : reports) {
        const double base = r->first_time;
        AppendF(out, "host:,%.17g,%.17g,%lld,%lld,%lld,%.0f,%.0f,", r->first_time, r->last_time,
                static_cast<long long>(r->not_modified_hits),
                static_cast<long long>(r->accepted_hits), static_cast<long long>(r->failed_hits),
                r->bytes, r->bytes_in);
        out += r->name;
        out += '\n';
        // The seven weekday lists go together, empty ones too, so that a reader
        // knows which day each holds.
        const bool any_weekday = std::any_of(r->wdays.begin(), r->wdays.end(),
                                             [](const auto& l) { return l && l->Count() > 0; });
        for (const Section& s : SectionsOf(*r)) {
            const StatList* list = s.slot->get();
            if (!list) continue;
            if (s.name == "wdays" ? !any_weekday : list->Count() == 0) continue;
            AppendList(out, s.name, *list, base);
        }
        // The clients' visits in progress are saved as ended: a loaded client
        // starts with none open.
        VisitorTally tally = r->visitor_tally;
        if (r->client)
            for (const StatItem& client : r->client->Items())
                if (client.sessionRec && client.sessionRec->VisitOpen())
                    tally.add_visit(client.sessionRec->CurrentVisit());
        AppendTally(out, tally);
    }
    out += kEndLine;
    out += '\n';
    return out;
}

namespace {

// gzip of text at level 4; nothing when zlib fails.
std::optional<std::string> Compress(std::string_view text) {
    z_stream z{};
    if (deflateInit2(&z, 4, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) return {};
    std::string out;
    out.resize(deflateBound(&z, static_cast<uLong>(text.size())) + 64);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&z, Z_FINISH);
    const std::size_t written = out.size() - z.avail_out;
    deflateEnd(&z);
    if (rc != Z_STREAM_END) return {};
    out.resize(written);
    return out;
}

}  // namespace

bool SaveHistory(std::span<const std::unique_ptr<ReportStats>> reports, const std::string& path,
                 std::string& error) {
    const std::string text = HistoryText(reports);
    // deflate takes at most 4 GiB in one call; a larger database is not kept.
    if (text.size() >= 0xFFFFFFF0u) {
        error = path + ": the database is too large";
        return false;
    }
    const auto packed = Compress(text);
    if (!packed) {
        error = path + ": compression failed";
        return false;
    }
    return write_file_atomically(path, *packed, error);
}

// ---- reading ------------------------------------------------------------------------

namespace {

// Splits a line at commas, from a start position.
class Fields {
public:
    explicit Fields(std::string_view line) : rest_(line) {}
    bool done() const { return done_; }
    std::string_view next() {
        if (done_) return {};
        const std::size_t comma = rest_.find(',');
        std::string_view f = rest_.substr(0, comma);
        if (comma == std::string_view::npos)
            done_ = true;
        else
            rest_.remove_prefix(comma + 1);
        return f;
    }
    std::string_view rest() const { return done_ ? std::string_view{} : rest_; }

private:
    std::string_view rest_;
    bool done_ = false;
};

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

constexpr double kMaxValue = 1e18;

template <class T>
bool Parse(std::string_view s, T& value, int base = 10) {
    s = Trim(s);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    const char* end = s.data() + s.size();
    std::from_chars_result r;
    if constexpr (std::is_floating_point_v<T>)
        r = std::from_chars(s.data(), end, value);
    else
        r = std::from_chars(s.data(), end, value, base);
    // No count of bytes or days comes near 1e18; beyond it sums and the
    // fixed-point form of a written number would have no bound.
    if constexpr (std::is_floating_point_v<T>) {
        if (r.ec == std::errc() && r.ptr == end && !(std::fabs(value) <= kMaxValue)) return false;
    }
    return !s.empty() && r.ec == std::errc() && r.ptr == end;
}

// What an item line or a merged item brings.
struct ItemValues {
    std::int64_t req = 0;
    double bytes = 0, bytesin = 0;
    std::int64_t visits = 0, errors = 0, misc1 = 0, misc2 = 0, misc3 = 0, pages = 0;
    double timein = 0, timelast = 0, timetot = 0, timefirst = 0;
};

ItemValues ValuesOf(const StatItem& item) {
    return {item.req,   item.bytes,   item.bytesin,  item.visits,   item.errors,
            item.misc1, item.misc2,   item.misc3,    item.pages,    item.timein,
            item.timelast, item.timetot, item.timefirst};
}

// Counters are 32-bit, in the items and in the list totals: an item whose
// counts would carry either beyond that range is not added.
constexpr std::int64_t kMaxCount = INT32_MAX;
// Day records: counts and sums kept far from their types' ends, so that the
// record list's own additions cannot overflow.
constexpr int kMaxDayCount = 1 << 30;
constexpr std::int64_t kMaxDaySum = std::int64_t{1} << 62;

bool Fits(std::int64_t have, std::int64_t add) {
    return add >= 0 && have >= 0 && have <= kMaxCount - add;
}

bool ItemFits(const StatList& list, const StatItem* item, const ItemValues& v) {
    const StatItem zero;
    const StatItem& it = item ? *item : zero;
    // The reader's add counts one request of its own.
    const std::int64_t req = std::max<std::int64_t>(v.req, 1);
    auto within = [](double have, double add) { return std::fabs(have + add) <= kMaxValue; };
    return v.req >= 0 && Fits(it.req, req) && Fits(list.TotalReq(), req) &&
           within(it.bytes, v.bytes) && within(it.bytesin, v.bytesin) &&
           within(it.timetot, v.timetot) &&
           Fits(it.visits, v.visits) && Fits(list.TotalVisits(), v.visits) &&
           Fits(it.misc1, v.misc1) && Fits(list.TotalMisc1(), v.misc1) &&
           Fits(it.pages, v.pages) && Fits(list.TotalPages(), v.pages) &&
           Fits(it.errors, v.errors) && v.misc2 >= INT8_MIN && v.misc2 <= INT8_MAX &&
           v.misc3 >= INT8_MIN && v.misc3 <= INT8_MAX;
}

// Adds an item's values to the list's item of that name (a new one takes them
// as they are). Returns the index, or -1 when the name cannot be added or the
// counts do not fit.
int FoldItem(StatList& list, std::string_view name, const ItemValues& v) {
    const int known = list.FindByHash(list.HashOf(name));
    const StatItem* existing = known >= 0 && list.Name(known) == name ? list.Item(known) : nullptr;
    if (!ItemFits(list, existing, v)) return -1;
    const int before = list.Count();
    const int i = list.Add(name);
    if (i < 0) return -1;
    const bool fresh = list.Count() > before;
    const double timelast = fresh ? v.timelast : std::max(list.TimeLast(i), v.timelast);
    if (list.AddValues(name, v.bytes, v.bytesin, timelast) != i) return -1;
    list.AddReq(i, static_cast<int>(v.req - 1));
    list.AddVisits(i, static_cast<int>(v.visits));
    list.SetErrors(i, static_cast<int>(list.Errors(i) + v.errors));
    list.AddMisc1(i, static_cast<int>(v.misc1));
    list.SetMisc2(i, static_cast<int>(v.misc2));
    list.SetMisc3(i, static_cast<int>(v.misc3));
    list.AddPages(i, static_cast<int>(v.pages));
    list.SetTimeIn(i, fresh ? v.timein : std::max(list.TimeIn(i), v.timein));
    list.AddTimeTot(i, v.timetot);
    const double first = list.Item(i)->timefirst;
    list.SetTimeFirst(i, fresh || first <= 0 ? v.timefirst
                                             : v.timefirst > 0 ? std::min(first, v.timefirst)
                                                               : first);
    return i;
}

// Adds a day record; false when its count or sum would leave the kept range.
bool FoldTimeRecord(StatList& list, int index, int key, std::int64_t sum, int count) {
    TimeRecList* recs = list.TimeRecs(index);
    if (!recs) return true;
    const int have_count = std::max(0, recs->CountFor(key));
    const std::int64_t have_sum = have_count > 0 ? recs->SumFor(key) : 0;
    if (count < 0 || count > kMaxDayCount - have_count || sum > kMaxDaySum || sum < -kMaxDaySum ||
        have_sum > kMaxDaySum - sum || have_sum < -kMaxDaySum - sum)
        return false;
    const int at = recs->Add(key, sum);
    if (at >= 0) recs->SetCountAt(at, have_count + count);
    return true;
}

ListTotals Difference(const ListTotals& a, const ListTotals& b) {
    return {a.req - b.req,     a.misc1 - b.misc1, a.pages - b.pages,     a.errors - b.errors,
            a.visits - b.visits, a.bytes - b.bytes, a.bytesin - b.bytesin, a.time - b.time};
}

// The name a hash stands for, among names that live as long as the program.
template <class Names>
std::optional<std::string_view> NameWithHash(const StatList& list, std::uint32_t hash,
                                             const Names& names) {
    for (std::string_view n : names)
        if (!n.empty() && list.HashOf(n) == hash) return n;
    return std::nullopt;
}

// The name of a list item in the report, as the list keeps names: a copy of
// its own, a static table's text or the report's file list's.
std::optional<std::string_view> StableName(ReportStats& r, std::string_view section,
                                           const StatList& list, std::string_view text,
                                           std::optional<std::uint32_t> hash) {
    if (list.GetNameKind() == kOwnedNames) {
        if (hash) return std::nullopt;  // a name this build cannot restore
        return text;
    }
    const std::uint32_t h = hash ? *hash : list.HashOf(text);
    auto in_list = [h](const StatList* from) -> std::optional<std::string_view> {
        if (!from) return std::nullopt;
        const int i = from->FindByHash(h);
        return i >= 0 ? std::optional(from->Item(i)->key()) : std::nullopt;
    };
    if (list.GetNameKind() == kFileNames) {
        if (auto n = in_list(r.url.get())) return n;
        return in_list(r.client.get());
    }
    if (section == "hour" || section == "wdays") return NameWithHash(list, h, hour_names());
    if (section == "wday") return NameWithHash(list, h, weekday_names());
    if (section == "domain") {
        for (const auto table : {country_codes(), generic_domains()})
            for (const Country& c : table)
                if (list.HashOf(c.name) == h) return c.name;
        if (list.HashOf(kUnresolvedIp) == h) return kUnresolvedIp;
        return kLocalNet;
    }
    if (section == "reg") {
        std::array<std::string_view, kRegionCount> names;
        for (int i = 0; i < kRegionCount; ++i) names[static_cast<std::size_t>(i)] = region_name(i);
        return NameWithHash(list, h, names);
    }
    if (section == "oper") {
        std::vector<std::string_view> names;
        for (int i = 0; i < os_count(); ++i) names.push_back(os_name(i));
        return NameWithHash(list, h, names);
    }
    if (section == "err") {
        for (int code = 0; code < 1000; ++code)
            if (list.HashOf(status_name(code)) == h) return status_name(code);
        return std::nullopt;
    }
    if (section == "robot") return NameWithHash(list, h, robot_names());
    if (section == "prot") {
        for (int p = 0; p < 64; ++p)
            if (list.HashOf(protocol_name(p)) == h) return protocol_name(p);
    }
    return std::nullopt;
}

// The report's list for a section (the n-th "wdays" for the weekday lists);
// the proxy lists are made on demand, as the run makes them.
StatList* ListFor(ReportStats& r, const ReportOptions& options, std::string_view section,
                  int weekday) {
    if (section == "wdays")
        return weekday >= 0 && weekday < 7 ? r.wdays[static_cast<std::size_t>(weekday)].get()
                                           : nullptr;
    if (section == "src" && !r.src) {
        r.src = StatList::Create(&r, r.client_capacity, options.counting);
        r.mode = kProxyMode;
    }
    if (section == "prot" && !r.prot) {
        r.prot = StatList::Create(&r, 10, options.counting);
        if (r.prot) r.prot->SetNameKind(kStaticNames);
        r.mode = kProxyMode;
    }
    for (std::size_t p = 1; p < kProtocolSections.size(); ++p)
        if (section == kProtocolSections[p])
            return ProtocolClients(r, options, static_cast<int>(p));
    if (section.starts_with(kSettled)) {
        // Made like the list it settles for; none when the report lacks that list.
        std::unique_ptr<StatList>* live = LiveOf(r, section);
        if (!live || !*live) return nullptr;
        for (const Section& s : SectionsOf(r))
            if (s.name == section) {
                if (!*s.slot) *s.slot = (*live)->EmptyLike();
                return s.slot->get();
            }
        return nullptr;
    }
    for (const Section& s : SectionsOf(r))
        if (s.name == section) return s.slot->get();
    return nullptr;
}

// Tally sums stay far from the ends of their types whatever a file holds.
constexpr std::int64_t kMaxTally = std::int64_t{1} << 52;

bool CountInRange(std::int64_t n) { return n >= 0 && n <= kMaxTally; }
void AddCount(std::int64_t& to, std::int64_t n) { to = std::clamp<std::int64_t>(to + n, 0, kMaxTally); }
void AddAmount(double& to, double n) { to = std::clamp(to + n, 0.0, kMaxValue); }

void AddRange(RangeTally& to, const RangeTally& x) {
    AddCount(to.members, x.members);
    AddCount(to.req, x.req);
    AddAmount(to.bytes, x.bytes);
    AddAmount(to.bytesin, x.bytesin);
    AddCount(to.visits, x.visits);
    AddCount(to.pages, x.pages);
    AddCount(to.errors, x.errors);
    AddAmount(to.time, x.time);
}

void AddMinute(SessionDepthChart& chart, std::size_t minute, const SessionDepthChart::Minute& x) {
    if (chart.minutes.empty()) chart.minutes.resize(SessionDepthChart::kLastMinute + 1);
    if (minute >= chart.minutes.size()) return;
    SessionDepthChart::Minute& to = chart.minutes[minute];
    AddCount(to.visits, x.visits);
    AddCount(to.pages, x.pages);
    to.max_pages = std::max(to.max_pages, std::clamp<std::int64_t>(x.max_pages, 0, kMaxTally));
}

void AddTally(VisitorTally& to, const VisitorTally& from) {
    const auto into = MeasuresOf(to);
    const auto add = MeasuresOf(from);
    for (std::size_t m = 0; m < into.size(); ++m)
        for (std::size_t i = 0; i < into[m]->size(); ++i)
            AddRange((*into[m])[i], (*add[m])[i]);
    for (std::size_t m = 0; m < from.chart.minutes.size(); ++m)
        if (from.chart.minutes[m].visits > 0) AddMinute(to.chart, m, from.chart.minutes[m]);
    AddCount(to.chart.visits, from.chart.visits);
    AddCount(to.chart.pages, from.chart.pages);
    to.chart.longest = std::max(to.chart.longest, from.chart.longest);
}

class Parser {
public:
    explicit Parser(const ReportOptions& options) : options_(options) {}

    void Line(std::string_view line, long number) {
        number_ = number;
        line = Trim(line);
        if (line.empty()) return;
        if (line.front() == '#') {
            if (line.starts_with("#Columns") && line.ends_with(",timefirst")) timefirst_ = true;
            if (line == kEndLine) ended_ = true;
            return;
        }
        if (ended_) return Damage("text after the end of the database");
        if (line.starts_with("host:,")) return Host(line.substr(6));
        if (line.starts_with("statlist:,")) return StatListLine(line.substr(10));
        if (line.starts_with("timehistory,")) return TimeHistory(line.substr(12));
        if (line.starts_with("sessions,")) return Sessions(line.substr(9));
        if (line.starts_with("tally:,")) return Tally(line.substr(7));
        if (line.starts_with("depth:,")) return Depth(line.substr(7));
        if (line.starts_with("depthall:,")) return DepthAll(line.substr(10));
        if (line.front() >= '0' && line.front() <= '9') return Item(line);
        Damage("a line the database format does not have");
    }

    LoadedHistory Finish(long lines) {
        EndSection();
        if (!ended_ && history_.damage.empty())
            history_.damage.push_back({lines + 1, "the database ends early"});
        return std::move(history_);
    }

private:
    void Damage(std::string what) { history_.damage.push_back({number_, std::move(what)}); }

    void Host(std::string_view text) {
        EndSection();
        if (history_.reports.size() >= static_cast<std::size_t>(kMaxReports)) {
            report_ = nullptr;
            return Damage("more reports than one run holds");
        }
        Fields f(text);
        double first = 0, last = 0, bytes = 0, bytes_in = 0;
        std::int64_t not_modified = 0, accepted = 0, failed = 0;
        if (!Parse(f.next(), first) || !Parse(f.next(), last) || !Parse(f.next(), not_modified) ||
            !Parse(f.next(), accepted) || !Parse(f.next(), failed) || !Parse(f.next(), bytes) ||
            !Parse(f.next(), bytes_in) || f.done() || f.rest().empty() ||
            !CountInRange(not_modified) || !CountInRange(accepted) || !CountInRange(failed))
            return Damage("a host line that cannot be read");
        auto report = CreateReportStats(options_, static_cast<int>(history_.reports.size()) + 1,
                                        f.rest(), kWebMode);
        if (!report) return Damage("no memory for the report");
        report->format_code = kDatabaseFormat;
        report->first_time = first;
        report->last_time = last;
        report->not_modified_hits = not_modified;
        report->accepted_hits = accepted;
        report->failed_hits = failed;
        report->bytes = bytes;
        report->bytes_in = bytes_in;
        report->elapsed = 1;
        base_ = first;
        weekday_ = -1;
        report_ = report.get();
        history_.reports.push_back(std::move(report));
    }

    void StatListLine(std::string_view text) {
        EndSection();
        if (!report_) return Damage("a table before any host line");
        Fields f(text);
        section_.assign(Trim(f.next()));
        double req = 0;
        std::int64_t count = 0, misc1 = 0, errors = 0, kind = 0;
        if (!Parse(f.next(), count) || !Parse(f.next(), req) || !Parse(f.next(), misc1) ||
            !Parse(f.next(), errors) || !Parse(f.next(), kind))
            return Damage("a table line that cannot be read");
        if (section_ == "wdays") ++weekday_;
        list_ = ListFor(*report_, options_, section_, weekday_);
        if (!list_) return;
        file_totals_ = ListTotals{};
        file_totals_.req = static_cast<std::int64_t>(req);
        file_totals_.misc1 = misc1;
        file_totals_.errors = errors;
        // The other totals, when the file has them; else the items' sums stand.
        ListTotals more;
        has_more_totals_ = !f.done() && Parse(f.next(), more.pages) && Parse(f.next(), more.visits) &&
                           Parse(f.next(), more.bytes) && Parse(f.next(), more.bytesin) &&
                           Parse(f.next(), more.time);
        if (has_more_totals_) {
            file_totals_.pages = more.pages;
            file_totals_.visits = more.visits;
            file_totals_.bytes = more.bytes;
            file_totals_.bytesin = more.bytesin;
            file_totals_.time = more.time;
        }
        before_ = list_->Totals();
        positions_.clear();
    }

    // The list's totals become those the file gives.
    void EndSection() {
        if (!list_) return;
        const ListTotals items = Difference(list_->Totals(), before_);
        ListTotals fix = Difference(file_totals_, items);
        if (!has_more_totals_) fix.pages = fix.visits = 0, fix.bytes = fix.bytesin = fix.time = 0;
        list_->AddToTotals(fix);
        list_ = nullptr;
    }

    void Item(std::string_view line) {
        if (!report_) return Damage("a table item before any host line");
        // Names may hold commas: the values are counted from the end.
        std::vector<std::string_view> cols;
        for (Fields f(line); !f.done();) cols.push_back(f.next());
        const std::size_t values = timefirst_ ? 13 : 12;
        if (cols.size() < 13) return;  // too short to be an item: passed over
        if (!list_) return;
        const std::size_t tail = std::min(values, cols.size() - 2);
        const std::size_t name_end = cols.size() - tail;
        const std::string_view name(cols[1].data(),
                                    static_cast<std::size_t>(cols[name_end - 1].data() +
                                                             cols[name_end - 1].size() -
                                                             cols[1].data()));
        ItemValues v;
        int pos = 0;
        auto at = [&](std::size_t k) { return cols[name_end + k]; };
        const bool ok = Parse(cols[0], pos) && Parse(at(0), v.req) && Parse(at(1), v.bytes) &&
                        Parse(at(2), v.bytesin) && Parse(at(3), v.visits) &&
                        Parse(at(4), v.errors) && Parse(at(5), v.misc1) && Parse(at(6), v.misc2) &&
                        Parse(at(7), v.misc3) && Parse(at(8), v.pages) && Parse(at(9), v.timein) &&
                        Parse(at(10), v.timelast) && (tail < 12 || Parse(at(11), v.timetot)) &&
                        (tail < 13 || Parse(at(12), v.timefirst));
        if (!ok || v.req < 0) return Damage("a table item that cannot be read");
        v.timein += base_;
        v.timelast += base_;
        v.timefirst = timefirst_ ? v.timefirst + base_ : 0;
        std::optional<std::uint32_t> hash;
        if (WritesHashes(section_, *list_)) {
            std::uint32_t h = 0;
            if (name.size() != 8 || !Parse(name, h, 16)) return Damage("a table item without its hash");
            hash = h;
        }
        const auto stable = StableName(*report_, NamesOf(section_), *list_, name, hash);
        if (!stable) return;  // a name this build does not know
        const int index = FoldItem(*list_, *stable, v);
        if (index < 0) return Damage("a table item beyond the range of the tables");
        positions_[pos] = index;
    }

    // "timehistory, pos" then key, sum, count per record.
    void TimeHistory(std::string_view text) {
        Fields f(text);
        int pos = 0;
        if (!Parse(f.next(), pos)) return Damage("a day record line that cannot be read");
        const int index = IndexOf(pos);
        const double day_base = std::floor(base_);
        while (!f.done()) {
            std::int64_t key = 0, sum = 0;
            int count = 0;
            if (!Parse(f.next(), key) || !Parse(f.next(), sum) || !Parse(f.next(), count))
                return Damage("a day record line that cannot be read");
            const double day = static_cast<double>(key) + day_base;
            if (index >= 0 && std::fabs(day) < 2e9 &&
                !FoldTimeRecord(*list_, index, static_cast<int>(day), sum, count))
                return Damage("a day record beyond the range of the tables");
        }
    }

    // "sessions, pos" then kind and value per record; the base is added where
    // the writer took it away (visit starts and pages).
    void Sessions(std::string_view text) {
        Fields f(text);
        int pos = 0;
        if (!Parse(f.next(), pos)) return Damage("a session line that cannot be read");
        const int index = IndexOf(pos);
        SessionRecList* recs = index >= 0 ? list_->SessionRecs(index) : nullptr;
        while (!f.done()) {
            const std::string_view kind_text = Trim(f.next());
            std::int32_t kind = 0;
            double value = 0;
            bool ok;
            if (kind_text.size() == 8) {
                std::uint32_t k = 0;
                ok = Parse(kind_text, k, 16);
                kind = static_cast<std::int32_t>(k);
            } else {
                ok = Parse(kind_text, kind);
            }
            if (!ok || !Parse(f.next(), value)) return Damage("a session line that cannot be read");
            if (kind == 1 || kind < 0 || kind > 10) value += base_;
            if (recs) recs->Append(kind, value);
        }
        if (recs) recs->CloseVisit();
    }

    void Tally(std::string_view text) {
        if (!report_) return Damage("a visitor tally before any host line");
        Fields f(text);
        std::size_t measure = 0, range = 0;
        RangeTally x;
        if (!Parse(f.next(), measure) || !Parse(f.next(), range) || !Parse(f.next(), x.members) ||
            !Parse(f.next(), x.req) || !Parse(f.next(), x.bytes) || !Parse(f.next(), x.bytesin) ||
            !Parse(f.next(), x.visits) || !Parse(f.next(), x.pages) || !Parse(f.next(), x.errors) ||
            !Parse(f.next(), x.time) || measure >= 4 || range >= kMaxMeasureRanges)
            return Damage("a visitor tally line that cannot be read");
        AddRange((*MeasuresOf(report_->visitor_tally)[measure])[range], x);
    }

    void Depth(std::string_view text) {
        if (!report_) return Damage("a session depth line before any host line");
        Fields f(text);
        std::size_t minute = 0;
        SessionDepthChart::Minute x;
        if (!Parse(f.next(), minute) || !Parse(f.next(), x.visits) || !Parse(f.next(), x.pages) ||
            !Parse(f.next(), x.max_pages) || minute > SessionDepthChart::kLastMinute)
            return Damage("a session depth line that cannot be read");
        AddMinute(report_->visitor_tally.chart, minute, x);
    }

    void DepthAll(std::string_view text) {
        if (!report_) return Damage("a session depth line before any host line");
        Fields f(text);
        std::int64_t visits = 0, pages = 0;
        int longest = -1;
        if (!Parse(f.next(), visits) || !Parse(f.next(), pages) || !Parse(f.next(), longest) ||
            longest < -1 || longest > SessionDepthChart::kLastMinute)
            return Damage("a session depth line that cannot be read");
        SessionDepthChart& c = report_->visitor_tally.chart;
        AddCount(c.visits, visits);
        AddCount(c.pages, pages);
        c.longest = std::max(c.longest, longest);
    }

    int IndexOf(int pos) const {
        if (!list_) return -1;
        const auto it = positions_.find(pos);
        return it == positions_.end() ? -1 : it->second;
    }

    const ReportOptions& options_;
    LoadedHistory history_;
    ReportStats* report_ = nullptr;
    StatList* list_ = nullptr;
    std::string section_;
    int weekday_ = -1;
    double base_ = 0;
    bool timefirst_ = false;
    bool ended_ = false;
    bool has_more_totals_ = false;
    ListTotals file_totals_, before_;
    std::unordered_map<int, int> positions_;  // item pos in the file -> list index
    long number_ = 0;
};

}  // namespace

LoadedHistory ParseHistory(std::string_view text, const ReportOptions& options) {
    Parser parser(options);
    long number = 0;
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        parser.Line(text.substr(0, nl), ++number);
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    }
    return parser.Finish(number);
}

namespace {

// The list of `into` that matches the list of `from` in the same slot.
void MergeList(ReportStats& into, StatList& to, std::string_view section, const StatList& from) {
    const ListTotals before = to.Totals();
    for (const StatItem& item : from.Items()) {
        const auto name = StableName(into, NamesOf(section), to, item.key(), std::nullopt);
        if (!name) continue;
        const int i = FoldItem(to, *name, ValuesOf(item));
        if (i < 0) continue;
        for (const TimeRecord& rec : item.timeRecs.Records())
            FoldTimeRecord(to, i, rec.key, rec.sum, rec.count);
        if (SessionRecList* recs = item.sessionRec ? to.SessionRecs(i) : nullptr) {
            for (const SessionRecord& rec : item.sessionRec->Records())
                recs->Append(rec.kind, rec.value);
            recs->CloseVisit();
        }
    }
    to.AddToTotals(Difference(from.Totals(), Difference(to.Totals(), before)));
}

}  // namespace

void MergeReport(ReportStats& into, const ReportStats& from) {
    const bool empty = into.accepted_hits == 0 && into.first_time == 0;
    if (empty || (from.first_time > 0 && from.first_time < into.first_time))
        into.first_time = from.first_time;
    into.last_time = std::max(into.last_time, from.last_time);
    AddCount(into.not_modified_hits, from.not_modified_hits);
    AddCount(into.accepted_hits, from.accepted_hits);
    AddCount(into.failed_hits, from.failed_hits);
    into.bytes += from.bytes;
    into.bytes_in += from.bytes_in;
    AddCount(into.unparsed_lines, from.unparsed_lines);
    into.elapsed = std::max({1.0, into.elapsed, from.elapsed});
    if (from.mode == kProxyMode) into.mode = kProxyMode;
    AddTally(into.visitor_tally, from.visitor_tally);
    // The sections of `from` in file order, so that the file list comes before
    // the lists whose names point into it.
    auto& source = const_cast<ReportStats&>(from);
    ReportOptions options;
    if (into.url) options.counting = into.url->Options();
    int weekday = -1;
    for (const Section& s : SectionsOf(source)) {
        if (s.name == "wdays") ++weekday;
        const StatList* list = s.slot->get();
        if (!list || list->Count() == 0) continue;
        if (StatList* to = ListFor(into, options, s.name, weekday))
            MergeList(into, *to, s.name, *list);
    }
}

namespace {

// The whole file, gzip or plain; error set when it cannot be read to its end
// (what was read is returned with it).
std::string ReadDatabase(const std::string& file, std::string& error) {
    std::string text;
    gzFile gz = gzopen(file.c_str(), "rb");
    if (!gz) {
        error = std::string(std::strerror(errno));
        return text;
    }
    std::array<char, 65536> buf;
    for (;;) {
        const int n = gzread(gz, buf.data(), static_cast<unsigned>(buf.size()));
        if (n > 0) text.append(buf.data(), static_cast<std::size_t>(n));
        if (n < static_cast<int>(buf.size())) break;
    }
    int code = Z_OK;
    const char* message = gzerror(gz, &code);
    if (code != Z_OK && code != Z_STREAM_END) error = message ? message : "read error";
    gzclose(gz);
    return text;
}

}  // namespace

int LoadHistory(const std::string& file, AnalysisRun& run, bool salvage) {
    std::string error;
    const std::string text = ReadDatabase(file, error);
    if (!error.empty() && text.empty()) {
        ShowError("Cannot read history database " + file + ": " + error);
        return 1;
    }
    LoadedHistory loaded = ParseHistory(text, run.options());
    if (!error.empty()) {
        // A cut gzip stream: the damage is where the text stops.
        const long lines = static_cast<long>(std::count(text.begin(), text.end(), '\n'));
        loaded.damage.insert(loaded.damage.begin(), {lines + 1, error});
    }
    if (!loaded.damage.empty()) {
        const HistoryDamage& d = loaded.damage.front();
        ShowError("History database " + file + ", line " + std::to_string(d.line) + ": " +
                  d.what + (salvage ? " (the rest is loaded)" : " (nothing of it is loaded)"));
        if (!salvage) return 1;
    }
    for (const auto& staged : loaded.reports) {
        ReportStats* into = run.FindReport(staged->name);
        if (!into) into = run.AddReport(staged->name, staged->mode, kDatabaseFormat);
        if (!into) {
            ShowError("History database " + file + ": no more reports can be made");
            return 1;
        }
        MergeReport(*into, *staged);
        run.CountLoadedHits(*staged);
    }
    return loaded.damage.empty() ? 0 : 1;
}

std::string HistoryFileName(const AnalysisSettings& analysis, const DateSettings& dates,
                            std::string_view first_report) {
    if (!analysis.savedatafile.empty())
        return logs::ExpandLogName(analysis.savedatafile,
                                   logs::LogNameContext::for_run(dates, {}));
    return std::string(first_report) + ".tdb";
}

std::vector<std::string> WithRunningHistory(const Settings& settings,
                                            std::vector<std::string> logs) {
    if (!settings.analysis.savedata || settings.analysis.savedatafile.empty()) return logs;
    const std::string name = HistoryFileName(settings.analysis, settings.dates, {});
    std::error_code ec;
    if (!std::filesystem::exists(name, ec)) return logs;
    for (const std::string& log : logs)
        if (std::filesystem::equivalent(log, name, ec)) return logs;
    logs.insert(logs.begin(), name);
    return logs;
}

void InstallHistoryHooks(RunHooks& hooks, const Settings& settings) {
    hooks.load_database = [&settings](std::string_view file, AnalysisRun& run) {
        return LoadHistory(std::string(file), run, settings.analysis.salvagedata);
    };
    hooks.save_database = [&settings](std::span<const std::unique_ptr<ReportStats>> reports) {
        if (reports.empty()) return 0;
        std::filesystem::path path = HistoryFileName(settings.analysis, settings.dates,
                                                     reports.front()->name);
        if (settings.analysis.savedatafile.empty()) {
            // Beside the report.
            std::filesystem::path out = settings.run.out;
            std::error_code ec;
            if (!out.empty() && !std::filesystem::is_directory(out, ec)) out = out.parent_path();
            path = out / path;
        }
        std::string error;
        if (SaveHistory(reports, path.string(), error)) return 0;
        ShowError("Cannot save history database " + error);
        return 1;
    };
}

}  // namespace tallowick::engine
