#include "engine/report_stats.h"

#include "base/status.h"

namespace tallowick::engine {
namespace {

class ListMaker {
public:
    ListMaker(ReportStats& r, const ReportOptions& o) : report_(r), options_(o) {}

    // Makes one list; a failure is remembered and the report given up.
    std::unique_ptr<StatList> make(int capacity, NameKind kind = kOwnedNames,
                                   bool time_recs = false) {
        auto list = StatList::Create(&report_, capacity, options_.counting);
        if (!list) {
            failed = true;
            return nullptr;
        }
        list->SetNameKind(kind);
        list->SetHasTimeRecs(time_recs);
        return list;
    }
    bool failed = false;

private:
    ReportStats& report_;
    const ReportOptions& options_;
};

}  // namespace

ReportOptions ReportOptions::From(const Settings& settings) {
    ReportOptions o;
    o.report = &settings.report;
    o.analysis = &settings.analysis;
    o.counting = CountingOptions::From(settings.analysis);
    o.streaming = settings.run.streaming;
    o.relink_after_sort = settings.run.streaming || settings.run.daemontime > 0;
    return o;
}

ListCapacities CapacitiesFor(int number) {
    ListCapacities c;
    if (number >= 8) {
        c.date = 10, c.domain = 20, c.client = 30, c.second_domain = 2, c.org = 2;
        c.government = 5;
        c.url = 50, c.refer = 50, c.rsite = 50;
        c.dir = 50, c.groupdir = 50, c.topdir = 50;
        c.type = 1, c.err = 10, c.pages = 50;
        c.searchstr = 1, c.searchsite = 1, c.addhit = 1, c.addclick = 1, c.down = 1;
        c.browser = 10, c.oper = 10, c.robot = 10;
        c.mean_path_step = 200;
    }
    if (number >= 16) {
        c.errurl = 2, c.date = 1, c.domain = 2, c.client = 1, c.second_domain = 2, c.org = 2;
        c.government = 1;
        c.url = 3, c.refer = 3, c.rsite = 3;
        c.dir = 1, c.groupdir = 1, c.topdir = 1;
        c.type = 1, c.err = 1, c.pages = 2;
        c.searchstr = 1, c.searchsite = 1, c.addhit = 1, c.addclick = 1, c.down = 1;
        c.browser = 1, c.oper = 1, c.robot = 1;
        c.mean_path_step = 5;
    }
    // The per-protocol lists follow the client list.
    c.protocol_clients = c.client;
    return c;
}

std::unique_ptr<ReportStats> CreateReportStats(const ReportOptions& options, int number,
                                               std::string_view name, int mode) {
    static const ReportSettings kNoReport;
    static const AnalysisSettings kNoAnalysis;
    const ReportSettings& rs = options.report ? *options.report : kNoReport;
    const AnalysisSettings& as = options.analysis ? *options.analysis : kNoAnalysis;
    auto stat = [&](StatWord w) { return rs.stat[w]; };
    auto graph = [&](StatWord w) { return rs.graph[w]; };
    auto want = [&](StatWord w) { return stat(w) || graph(w); };
    using W = StatWord;

    auto r = std::make_unique<ReportStats>();
    r->index = number;
    r->name.assign(name);
    r->mode = mode;
    r->name_hash = NameHash(name, options.counting.ignorecase);
    r->start_time = now_seconds();

    const ListCapacities c = CapacitiesFor(number);
    r->mean_path_step = c.mean_path_step;
    r->client_capacity = c.protocol_clients;
    const bool web = mode == kWebMode;
    const bool proxy = mode == kProxyMode;
    ListMaker m(*r, options);

    r->url = m.make(c.url);
    r->hour = m.make(c.hour, kStaticNames);
    r->wday = m.make(c.wday, kStaticNames);
    if (want(W::weekdays) || (stat(W::weekly) && graph(W::weekly)))
        for (auto& l : r->wdays) l = m.make(c.wdays, kStaticNames);
    if (want(W::monthly)) r->month = m.make(c.month);
    r->date = m.make(c.date);
    const bool client_history = graph(W::clienthistory) && !options.streaming;
    r->client = m.make(c.client, kOwnedNames,
                       client_history || want(W::loyalty) || want(W::govthistory) ||
                           want(W::timeon));
    if (want(W::govthistory)) r->government = m.make(c.government, kOwnedNames, true);
    // Client grouping gathers the authenticated users here.
    if (want(W::client)) r->user = m.make(c.client, kOwnedNames, client_history);
    // Session records: a visit's start and pages, for the session history, the
    // mean paths and session depth; not while streaming.
    const bool sessions = !options.streaming &&
                          (as.session_tracking || stat(W::meanpath) || graph(W::sessiondist));
    if (r->client) r->client->SetHasSessionRecs(sessions);
    r->mean_path_on = !options.streaming && stat(W::meanpath);
    if (want(W::loyalty)) r->loyalty = m.make(kMaxMeasureRanges, kStaticNames);
    if (want(W::circulation)) r->circulation = m.make(kMaxMeasureRanges, kStaticNames);
    if (want(W::timeon)) r->timeon = m.make(kMaxMeasureRanges, kStaticNames);
    if (sessions && graph(W::sessiondist))
        r->session_depth = m.make(kMaxMeasureRanges, kStaticNames);
    if (proxy) r->src = m.make(c.src);
    if (want(W::seconddomain)) r->second_domain = m.make(c.second_domain);
    r->domain = m.make(c.domain, kStaticNames);
    if (!as.orgmap.empty() || as.geoip) r->org = m.make(c.org);
    if (want(W::region)) r->region = m.make(c.region, kStaticNames);
    if (web) {
        // The browser-by-system graph reads the per-family records of each browser.
        if (want(W::browser) || graph(W::browservsos))
            r->browser = m.make(c.browser, kOwnedNames, graph(W::browservsos));
        if (want(W::opersys)) r->oper = m.make(c.oper, kStaticNames);
        if (want(W::robot)) r->robot = m.make(c.robot, kStaticNames);
        if (want(W::refer)) r->refer = m.make(c.refer);
        if (want(W::refersite)) r->rsite = m.make(c.rsite, kOwnedNames, graph(W::referhistory));
        if (want(W::dir)) r->dir = m.make(c.dir);
        if (want(W::groupdir)) r->groupdir = m.make(c.groupdir);
        if (stat(W::topdir) || graph(W::topdirhistory))
            r->topdir = m.make(c.topdir, kOwnedNames, graph(W::topdirhistory));
        if (want(W::filetype)) r->type = m.make(c.type);
        if (want(W::errors)) r->err = m.make(c.err, kStaticNames);
        if (want(W::errorurl))
            r->errurl = m.make(c.errurl, kOwnedNames, graph(W::errorurlhistory));
        if (want(W::pages)) r->pages = m.make(c.pages, kFileNames, graph(W::pagehistory));
        if (want(W::search)) r->searchstr = m.make(c.searchstr);
        if (want(W::searchengine)) r->searchsite = m.make(c.searchsite, kOwnedNames, true);
        if (want(W::download))
            r->down = m.make(c.down, kFileNames, graph(W::downloadhistory));
        if (want(W::advert)) {
            r->addhit = m.make(c.addhit, kFileNames, true);
            r->addclick = m.make(c.addclick, kFileNames, true);
        }
    }
    if (proxy) r->prot = m.make(c.prot, kStaticNames);
    if (m.failed) return nullptr;
    return r;
}

StatList* ProtocolClients(ReportStats& report, const ReportOptions& options, int protocol) {
    if (protocol < 1 || protocol > 8) return nullptr;
    auto& slot = report.protocol_clients[static_cast<std::size_t>(protocol)];
    // Owned names: the client list these names come from is rebuilt by pruning.
    if (!slot) slot = StatList::Create(&report, report.client_capacity, options.counting);
    return slot.get();
}

void ReportStats::ForEachList(
    const std::function<void(std::string_view section, StatList& list)>& fn) {
    auto visit = [&](std::string_view section, const std::unique_ptr<StatList>& l) {
        if (l) fn(section, *l);
    };
    visit("url", url);
    visit("hour", hour);
    visit("wday", wday);
    for (auto& l : wdays) visit("wdays", l);
    visit("month", month);
    visit("date", date);
    visit("user", user);
    visit("client", client);
    visit("src", src);
    visit("2dom", second_domain);
    visit("domain", domain);
    visit("org", org);
    visit("reg", region);
    visit("browser", browser);
    visit("oper", oper);
    visit("robot", robot);
    visit("refer", refer);
    visit("rsite", rsite);
    visit("dir", dir);
    visit("group", groupdir);
    visit("topdir", topdir);
    visit("type", type);
    visit("err", err);
    visit("errurl", errurl);
    visit("pages", pages);
    visit("searchstr", searchstr);
    visit("searchsite", searchsite);
    visit("down", down);
    visit("addhit", addhit);
    visit("addclick", addclick);
    visit("prot", prot);
    static constexpr std::string_view kProtocolSections[] = {
        "", "http", "https", "mail", "ftp", "telnet", "realaudio", "dns", "pop3"};
    for (std::size_t i = 1; i < protocol_clients.size(); ++i)
        visit(kProtocolSections[i], protocol_clients[i]);
}

}  // namespace tallowick::engine
