// The chart driver: which charts a report has, in which order, with which
// preset, colours and titles, and the shadow strips of the HTML pages.
#include "graph/charts.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/cancel.h"
#include "base/julian_date.h"
#include "base/status.h"
#include "engine/report_stats.h"
#include "engine/stat_list.h"
#include "graph/chart_spec.h"
#include "graph/font.h"
#include "graph/region_map.h"
#include "graph/vrml_scene.h"

namespace tallowick::graph {

namespace {

using engine::ReportStats;
using engine::StatList;
using W = StatWord;

struct Colours {
    PackedColor c1, c2, c3, c4;
};
constexpr Colours kDirectoryColours = {0x33FF99, 0x00CC66, 0x338E51, 0x006633};
constexpr Colours kBrowserColours = {0xCCCCFF, 0x9999FF, 0x333366, 0x000077};
constexpr Colours kProtocolColours = {0xAAC8E6, 0x3C5FBE, 0x141E3C, 0x1E3C5A};

// The longest daily axis: the Julian days 2440000..3000000 a daily chart draws.
constexpr int kDailyAxisDays = 560000;
// The days a history chart covers at most.
constexpr int kHistoryDays = 366;

bool has_items(const std::unique_ptr<StatList>& list) { return list && list->Count() > 0; }

// The page background: the hexadecimal colour after "bgcolor", "=" and an
// optional '"' and '#' in the HTML head text; white when there is none.
PackedColor page_background(std::string_view head) {
    std::size_t at = head.find("bgcolor");
    if (at == std::string_view::npos) return 0xFFFFFF;
    at = head.find('=', at);
    if (at == std::string_view::npos) return 0xFFFFFF;
    ++at;
    if (at < head.size() && head[at] == '"') ++at;
    if (at < head.size() && head[at] == '#') ++at;
    PackedColor colour = 0;
    int digits = 0;
    for (; at < head.size() && digits < 6; ++at, ++digits) {
        const char c = head[at];
        int v;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else break;
        colour = colour * 16 + static_cast<PackedColor>(v);
    }
    return digits > 0 ? colour : 0xFFFFFF;
}

// The shadows the pages put right of and below each chart: the background
// darkening towards the chart in 14 steps.
void draw_shadow_strips(ChartTarget& target, PackedColor background) {
    std::array<PackedColor, 14> shade{};
    for (std::size_t k = 0; k < shade.size(); ++k)
        shade[k] = color_scale(std::sin((30.0 + 5.0 * static_cast<double>(k)) * M_PI / 180) * 100,
                               background);
    const int w = target.wider ? 630 : 420;
    if (auto c = canvas_create(w + 14, 14, target.web_palette)) {
        const int bg = canvas_color_allocate_packed(*c, background);
        canvas_filled_rectangle(*c, 0, 0, c->width() - 1, c->height() - 1, bg);
        for (int i = 0; i < 14; ++i) {
            const int colour = canvas_color_allocate_packed(*c, shade[std::size_t(i)]);
            canvas_line(*c, 10, i, w + i, i, colour);
            canvas_line(*c, w + i, 0, w + i, i, colour);
        }
        image_save(target.output, std::move(c), "bshad");
    }
    if (auto c = canvas_create(34, 350, target.web_palette)) {
        const int bg = canvas_color_allocate_packed(*c, background);
        canvas_filled_rectangle(*c, 0, 0, c->width() - 1, c->height() - 1, bg);
        for (int i = 0; i < 14; ++i) {
            const int colour = canvas_color_allocate_packed(*c, shade[std::size_t(i)]);
            canvas_line(*c, i, 8, i, 350, colour);
        }
        image_save(target.output, std::move(c), "rshad");
    }
}

// The value kinds a chart is drawn for, from `graphsort`.
std::vector<int> value_kinds(const ReportSettings& report) {
    switch (report.graphsort) {
    case -1:
        if (report.sort == kSortReqs) return {kValueRequests};
        if (report.sort == kSortPage) return {kValuePages};
        return {kValueBytes};
    case 0: return {kValueBytes};
    case 2: return {kValueBytes, kValueRequests};
    default: return {kValueRequests};
    }
}

std::string_view value_prefix(int value_kind) {
    switch (value_kind) {
    case kValueBytes: return "Byte";
    case kValueRequests: return "Req";
    case kValueSessions: return "Sessions";
    default: return "";
    }
}

// One chart of the driver's table: its status message, whether it is drawn, and
// how (called once per value kind).
struct ChartEntry {
    std::string_view message;
    bool enabled;
    std::string_view key;          // the image name without value prefix and extension
    std::function<int(int value_kind)> draw;
    int fixed_kind = -1;           // a chart of one measure: drawn once, under its key
};

// A requested image name taken apart: value prefix, chart key, extension.
struct ImageName {
    int value_kind = -1;   // -1: no prefix
    std::string key;
    std::string base;      // the name without its extension
};

ImageName parse_image_name(std::string_view name) {
    ImageName n;
    const std::size_t dot = name.rfind('.');
    if (dot != std::string_view::npos) name = name.substr(0, dot);
    n.base = std::string(name);
    for (const int kind : {kValueSessions, kValueBytes, kValueRequests}) {
        const std::string_view prefix = value_prefix(kind);
        if (name.size() > prefix.size() && name.substr(0, prefix.size()) == prefix) {
            n.value_kind = kind;
            name.remove_prefix(prefix.size());
            break;
        }
    }
    n.key = std::string(name);
    return n;
}

// Where a request's charts go, and how they are drawn.
ChartTarget target_for(const report::ChartRequest& request) {
    const Settings& s = *request.settings;
    ChartTarget target;
    target.output.out_dir = request.folder;
    target.output.report_format = s.report.reportformat;
    target.output.image_format = s.report.imageformat;
    target.output.created = request.created;
    target.output.files = request.files;
    target.web_palette = s.report.webpalette;
    target.three_d = s.report.style != 0;
    target.wider = s.report.wider;
    target.language = request.language;
    target.language_index = request.language ? s.run.language : 0;
    // A run that ran out of memory or was cancelled is abandoned; the charts
    // stop with it. A file that could not be written fails the whole report: no
    // use going on.
    target.stop_requested = [files = request.files] {
        return out_of_memory() || cancel_requested() || (files && files->failed());
    };
    if (request.scale_drawn)
        target.scale_drawn = [&request](const ChartSpec& spec, std::span<const std::string> labels) {
            request.scale_drawn(spec.base_name, labels);
        };
    return target;
}

class Driver {
public:
    Driver(const report::ChartRequest& request)
        : r_(*request.report), s_(*request.settings), days_(std::max(1, request.days)),
          target_(target_for(request)) {
        kinds_ = value_kinds(s_.report);
        mode_ = request.mode;
        images_.assign(request.images.begin(), request.images.end());
    }

    int run() {
        const std::vector<ChartEntry> charts = table();
        // What each chart draws: the names the pages asked for, or without a list
        // every value kind of `graphsort` (and the sessions of the daily charts).
        std::vector<std::vector<ImageName>> work(charts.size());
        for (std::size_t c = 0; c < charts.size(); ++c) {
            if (!charts[c].enabled) continue;
            if (charts[c].fixed_kind >= 0) {
                const bool asked = images_.empty() ||
                                   std::any_of(images_.begin(), images_.end(), [&](const std::string& n) {
                                       return parse_image_name(n).base == charts[c].key;
                                   });
                if (asked)
                    work[c].push_back({charts[c].fixed_kind, std::string(charts[c].key),
                                       std::string(charts[c].key)});
                continue;
            }
            if (images_.empty()) {
                for (const int kind : kinds_)
                    work[c].push_back({kind, std::string(charts[c].key), {}});
                if (r_.date->TotalVisits() > 0 &&
                    (charts[c].key == "Daily" || charts[c].key == "RecentDays"))
                    work[c].push_back({kValueSessions, std::string(charts[c].key), {}});
                continue;
            }
            for (const std::string& name : images_) {
                ImageName n = parse_image_name(name);
                if (n.key != charts[c].key) continue;
                if (n.value_kind < 0)
                    n.value_kind = s_.report.graphsort == 2 ? kValueRequests : kinds_.front();
                work[c].push_back(std::move(n));
            }
        }
        const auto enabled = static_cast<int>(
            std::count_if(work.begin(), work.end(), [](const auto& w) { return !w.empty(); }));
        draw_shadow_strips(target_, page_background(s_.report.htmlhead));
        int done = 0;
        for (std::size_t c = 0; c < charts.size(); ++c) {
            if (work[c].empty()) continue;
            ShowProgress(done * 100 / std::max(1, enabled), charts[c].message);
            for (const ImageName& n : work[c]) {
                name_override_ = n.base;
                const int go_on = charts[c].draw(n.value_kind);
                name_override_.clear();
                if (go_on == 0) return 0;
            }
            ++done;
        }
        ShowProgress(100, "Drawing Graphs Complete.");
        return 1;
    }

private:
    bool graph(W word) const { return s_.report.graph[word]; }

    // A spec with the list and names every builder sets.
    ChartSpec with(ChartSpec spec, const StatList& list, std::string_view key,
                   std::string_view title, std::string_view category, int subject,
                   int value_kind) const {
        spec.list = &list;
        spec.base_name = name_override_.empty()
                             ? std::string(value_prefix(value_kind)) + std::string(key)
                             : name_override_;
        spec.title = std::string(title);
        spec.category_title = std::string(category);
        spec.subject = subject;
        spec.value_kind = value_kind;
        return spec;
    }

    static void colour(ChartSpec& spec, const Colours& c, bool keep_face = false) {
        spec.color1 = c.c1;
        if (!keep_face) spec.color2 = c.c2;
        spec.color3 = c.c3;
        spec.color4 = c.c4;
    }

    // A top list; colours default to the directory colours.
    ChartEntry top_list(std::string_view message, bool on, const std::unique_ptr<StatList>& list,
                        std::string_view key, std::string_view title, std::string_view category,
                        int subject, const Colours* colours = &kDirectoryColours,
                        bool keep_face = false) {
        const StatList* l = list.get();
        return {message, on && has_items(list), key, [=, this](int vk) {
                    ChartSpec spec = with(top_list_preset(target_.wider), *l, key, title, category,
                                          subject, vk);
                    if (colours) colour(spec, *colours, keep_face);
                    return chart_draw(target_, spec);
                }};
    }

    ChartEntry pie(std::string_view message, bool on, const std::unique_ptr<StatList>& list,
                   std::string_view key, std::string_view title, int subject, int left) {
        const StatList* l = list.get();
        return {message, on && has_items(list), key, [=, this](int vk) {
                    ChartSpec spec = with(pie_preset(target_.wider), *l, key, title, "", subject, vk);
                    spec.left = left;
                    return chart_draw(target_, spec);
                }};
    }

    // A visitor measure: its ranges in order, valued by the visitors in each.
    ChartEntry measure(std::string_view message, bool on, const std::unique_ptr<StatList>& list,
                       std::string_view key, std::string_view title, std::string_view category,
                       bool vertical, Colours colours) {
        const StatList* l = list.get();
        return {message, on && has_items(list), key,
                [=, this](int vk) {
                    ChartSpec spec = vertical
                                         ? vertical_bars_preset(target_.wider, target_.three_d)
                                         : top_list_preset(target_.wider);
                    spec = with(spec, *l, key, title, category, kSubjectRanges, vk);
                    colour(spec, colours);
                    if (vertical) spec.x_divisions = std::max(1, l->Count());
                    else spec.y_divisions = std::max(15, l->Count());
                    return chart_draw(target_, spec);
                },
                kValueVisitors};
    }

    // A history chart of a list that keeps day records.
    ChartEntry history(std::string_view message, bool on, const std::unique_ptr<StatList>& list,
                       std::string_view key, std::string_view title, int subject) {
        const StatList* l = list.get();
        return {message, on && has_items(list) && list->HasTimeRecs(), key, [=, this](int vk) {
                    // At most the last year: each day is looked up in every band.
                    const int days = std::min(days_, kHistoryDays);
                    // History loaded from a database spans many runs: the items'
                    // days stacked show what they add up to, one band each would not.
                    const bool stacked = r_.format_code == engine::kDatabaseFormat && days > 1;
                    ChartSpec spec = with(stacked ? stage_preset(target_.wider, days, kStackedHistory)
                                                  : history_preset(target_.wider, days),
                                          *l, key, title, "", subject, vk);
                    spec.first_day = JulianMidnight(r_.first_time) + (days_ - days);
                    return chart_draw(target_, spec);
                }};
    }

    // A daily time line from first_day over `days` days.
    int daily(const StatList& list, std::string_view key, std::string_view title, double first_day,
              int days, int vk) {
        ChartSpec spec = with(time_line_preset(target_.wider), list, key, title, "", kSubjectDays, vk);
        // A period beyond the days a daily axis draws (dates of a broken log) is
        // cut to its last days rather than drawn slot by slot.
        const int shown = std::min(days, kDailyAxisDays);
        spec.first_day = first_day + (days - shown);
        spec.x_divisions = std::max(1, shown - 1);
        return chart_draw(target_, spec);
    }

    int hourly(const StatList& list, std::string_view key, PackedColor plot, int vk) {
        ChartSpec spec = with(time_line_preset(target_.wider), list, key, "Traffic per hour",
                              "Hours of the day", kSubjectHours, vk);
        spec.x_divisions = 23;
        spec.color4 = plot;
        return chart_draw(target_, spec);
    }

    int region(int vk) {
        if (target_.stop_requested && target_.stop_requested()) return 0;
        if (writes_scenes(target_.output))
            return chart_draw(target_, with(top_list_preset(target_.wider), *r_.region, "Region",
                                            "Regions", "", kSubjectRegions, vk));
        auto canvas = region_map_canvas(*r_.region, vk);
        if (!canvas) return 1;
        const int black = canvas_color_allocate(*canvas, 0, 0, 0);
        font_string(*canvas, label_font(), 40, 145, chart_translate(target_, "High"), black);
        font_string(*canvas, label_font(), 40, 242, chart_translate(target_, "Low"), black);
        image_save(target_.output, std::move(canvas),
                   name_override_.empty() ? std::string(value_prefix(vk)) + "Region" : name_override_);
        return 1;
    }

    std::vector<ChartEntry> table() {
        std::vector<ChartEntry> t;
        const bool three_d = target_.three_d;
        const bool wider = target_.wider;
        // The first day of the period at midnight, as the date list keys days.
        const double first_day = JulianMidnight(r_.first_time);
        const int recent = s_.report.recentdaily;

        const bool days_on = graph(W::daily) && has_items(r_.date);
        const bool recent_on = days_on && recent > 0 && recent < days_;
        t.push_back({"Drawing Daily graph...", days_on, "Daily", [=, this](int vk) {
                         return daily(*r_.date, "Daily", "Daily Traffic", first_day, days_, vk);
                     }});
        t.push_back({"Drawing Daily graph...", recent_on, "RecentDays", [=, this](int vk) {
                         return daily(*r_.date, "RecentDays", "Recent Days Traffic",
                                      first_day + days_ - recent, recent, vk);
                     }});
        t.push_back({"Drawing Hourly graph...", graph(W::hourly) && has_items(r_.hour), "Hourly",
                     [=, this](int vk) { return hourly(*r_.hour, "Hourly", 0x8C8CF0, vk); }});
        t.push_back({"Drawing Weekly graph...", graph(W::weekly) && has_items(r_.wday), "Weekly",
                     [=, this](int vk) {
                         ChartSpec spec = with(vertical_bars_preset(wider, three_d), *r_.wday, "Weekly",
                                               "Traffic by Weekday", "Days of the week",
                                               kSubjectWeekdays, vk);
                         spec.x_divisions = 7;
                         return chart_draw(target_, spec);
                     }});
        static constexpr std::array<std::string_view, 7> weekday_keys = {
            "Sunday", "Monday", "Tueday", "Wedday", "Thuday", "Friday", "Satday"};
        for (std::size_t d = 0; d < weekday_keys.size(); ++d) {
            const StatList* hours = r_.wdays[d].get();
            const std::string_view key = weekday_keys[d];
            t.push_back({"Drawing Mon-Sun graph...", graph(W::weekdays) && has_items(r_.wdays[d]),
                         key, [=, this](int vk) { return hourly(*hours, key, 0x9999FF, vk); }});
        }
        t.push_back({"Drawing Monthly graph...", graph(W::monthly) && has_items(r_.month), "Monthly",
                     [=, this](int vk) {
                         ChartSpec spec = with(vertical_bars_preset(wider, three_d), *r_.month, "Monthly",
                                               "Traffic by Month", "", kSubjectMonths, vk);
                         colour(spec, {0x99FF99, 0x66CC66, 0x009900, 0x007700});
                         const int months = r_.month->Count();
                         spec.x_divisions = std::clamp(months, 7, 12);
                         spec.skip_first = std::max(0, months - spec.x_divisions);
                         return chart_draw(target_, spec);
                     }});
        t.push_back(top_list("Drawing Country graph...", graph(W::country), r_.domain, "Country",
                             "Countries", "", kSubjectCountries, nullptr));
        t.push_back({"Drawing Region graph...", graph(W::region) && has_items(r_.region), "Region",
                     [=, this](int vk) { return region(vk); }});
        t.push_back(top_list("Drawing URL graph...", graph(W::file), r_.url, "Files", "URLs Accessed",
                             "URLs", kSubjectFiles, &kUrlColours, true));
        t.push_back(top_list("Drawing Browser graph...", graph(W::browser), r_.browser, "Browser",
                             "Browser", "", kSubjectBrowsers, &kBrowserColours));
        t.push_back({"Drawing Browser graph...",
                     graph(W::browser) && graph(W::opersys) && has_items(r_.browser) &&
                         has_items(r_.oper) && r_.browser->HasTimeRecs(),
                     "BrowserOS", [=, this](int vk) {
                         ChartSpec spec = with(vertical_bars_preset(wider, three_d), *r_.browser,
                                               "BrowserOS", "Browser vs Operating System", "",
                                               kSubjectBrowsers, vk);
                         spec.kind = kBrowserVsOs;
                         spec.x_divisions = std::clamp(r_.browser->Count(), 1, 5);
                         spec.max_items = spec.x_divisions;
                         spec.depth = 3;
                         return chart_draw(target_, spec);
                     }});
        t.push_back(top_list("Drawing OS graph...", graph(W::opersys), r_.oper, "OperSys",
                             "Operating Systems", "", kSubjectSystems, &kBrowserColours));
        t.push_back(pie("Drawing File Type graph...", graph(W::filetype), r_.type, "Filetype",
                        "File Types", kSubjectFileTypes, 130));
        t.push_back(top_list("Drawing Directory graph...", graph(W::dir), r_.dir, "Dirs",
                             "Directories", "Directory", kSubjectDirectories));
        t.push_back(top_list("Drawing Group Directory graph...", graph(W::groupdir), r_.groupdir,
                             "GroupDirs", "Group Directories", "Group", kSubjectDirectories,
                             &kGroupColours));
        t.push_back(top_list("Drawing Top Directory graph...", graph(W::topdir), r_.topdir, "TopDirs",
                             "Top Level Directories", "Directory", kSubjectDirectories));
        t.push_back(history("Drawing Top Directory graph...", graph(W::topdirhistory), r_.topdir,
                            "TopDirsHist", "Top Top-Level Directory", kSubjectDirectories));
        const bool clients = graph(W::client);
        t.push_back(top_list("Drawing Client graph...", clients, r_.client, "Client", "Clients",
                             "Client", kSubjectHosts));
        t.push_back(history("Drawing Client graph...", graph(W::clienthistory), r_.client,
                            "ClientHist", "Top Client History", kSubjectHosts));
        t.push_back(history("Drawing Client graph...", graph(W::clienthistory), r_.user,
                            "UserHist", "Top User History", kSubjectNames));
        t.push_back(history("Drawing Client graph...", graph(W::govthistory), r_.government,
                            "GovtHist", "Government Access History", kSubjectHosts));
        if (mode_ == 2) {
            t.push_back(top_list("Drawing Client graph...", clients, r_.src, "srcaddr", "Sources",
                                 "Source", kSubjectNames));
            t.push_back(top_list("Drawing Client graph...", clients, r_.prot, "Protocol",
                                 "Protocols", "Protocol", kSubjectNames, &kProtocolColours));
            struct ProtocolPage {
                int protocol;
                std::string_view key, title;
            };
            static constexpr std::array<ProtocolPage, 7> pages = {{
                {1, "Web", "Web Pages"}, {2, "SecureWeb", "Secure Web Pages"}, {3, "Mail", "Mail"},
                {4, "FTP", "FTP"}, {5, "Telnet", "Telnet"}, {7, "DNS", "Name Server"},
                {8, "POP3", "Pop Server"}}};
            for (const ProtocolPage& p : pages)
                t.push_back(top_list("Drawing Client graph...", clients,
                                     r_.protocol_clients[std::size_t(p.protocol)], p.key, p.title,
                                     "Client", kSubjectHosts));
        }
        t.push_back(top_list("Drawing Organization graph...", clients, r_.org, "Orgs",
                             "Organizations", "Organizations", kSubjectDomains));
        t.push_back(measure("Drawing Circulation graph...", graph(W::circulation), r_.circulation,
                            "Circulation", "Circulation Index", "Circulation", false,
                            {0xFF9966, 0xCC6633, 0x993300, 0x006699}));
        t.push_back(measure("Drawing Loyalty graph...", graph(W::loyalty), r_.loyalty, "Loyalty",
                            "Loyalty Index", "Visits", true, {0x66CC66, 0x009966, 0x006633, 0x006699}));
        t.push_back(measure("Drawing Time Online graph...", graph(W::timeon), r_.timeon, "Timeon",
                            "Total Time Online", "Time online (min)", true,
                            {0xFFFF99, 0xFFCC33, 0xCC9900, 0x999933}));
        t.push_back({"Drawing SessionDepth graph...",
                     graph(W::sessiondist) && r_.session_depth_chart.visits > 0, "Sessions",
                     [=, this](int vk) {
                         ChartSpec spec = with(vertical_bars_preset(wider, three_d), *r_.date,
                                               "Sessions", "Session Depth vs. Duration",
                                               "Duration (min)", kSubjectRanges, vk);
                         spec.kind = kSessionDepth;
                         spec.depth_chart = &r_.session_depth_chart;
                         colour(spec, {0x00FF99, 0x000066, 0x008E51, 0x00005F});
                         return chart_draw(target_, spec);
                     },
                     kValuePages});
        t.push_back(top_list("Drawing Domains graph...", graph(W::seconddomain), r_.second_domain,
                             "2nddomain", "Domains", "Domain", kSubjectDomains));
        t.push_back(pie("Drawing Error graph...", graph(W::errors), r_.err, "Errors", "Server Errors",
                        kSubjectErrors, 120));
        t.push_back(top_list("Drawing Failed URL graph...", graph(W::errorurl), r_.errurl, "ErrorURL",
                             "Error URLs", "Error URLs", kSubjectFailedUrls));
        t.push_back(history("Drawing Failed URL graph...", graph(W::errorurlhistory), r_.errurl,
                            "ErrorURLHist", "Top Failed URL", kSubjectFailedUrls));
        t.push_back(history("Drawing Failed URL graph...", graph(W::referhistory), r_.rsite,
                            "ReferSiteHist", "Top Referred Site History", kSubjectDomains));
        t.push_back(top_list("Drawing Downloads graph...", graph(W::download), r_.down, "Download",
                             "Downloads", "File", kSubjectNames));
        t.push_back(history("Drawing Downloads graph...", graph(W::downloadhistory), r_.down,
                            "DownloadHist", "Top Download File", kSubjectNames));
        t.push_back(top_list("Drawing Page graph...", graph(W::pages), r_.pages, "Pages", "Web Pages",
                             "Page", kSubjectNames));
        t.push_back(history("Drawing Page graph...", graph(W::pagehistory), r_.pages, "PageHist",
                            "Top Web Pages History", kSubjectNames));
        t.push_back(top_list("Drawing SearchEngines graph...", graph(W::search), r_.searchstr,
                             "SearchStr", "Search Strings", "Search", kSubjectNames));
        t.push_back(top_list("Drawing SearchEngines graph...", graph(W::searchengine), r_.searchsite,
                             "SearchSite", "Search Engines", "Search Engine", kSubjectNames,
                             &kSearchColours));
        t.push_back(top_list("Drawing Robots graph...", graph(W::robot), r_.robot, "Robot", "Robots",
                             "Robot", kSubjectNames, &kProtocolColours));
        t.push_back(history("Drawing Advertising graph...", graph(W::advert), r_.addhit,
                            "HitAdvert", "Advertisements", kSubjectNames));
        t.push_back(history("Drawing Advertising graph...", graph(W::advert), r_.addclick,
                            "ClickAdvert", "Advertisements", kSubjectNames));
        return t;
    }

    static constexpr Colours kUrlColours = {0xCCFFFF, 0, 0x003333, 0x006666};
    static constexpr Colours kGroupColours = {0x33F5C1, 0x00B87A, 0x33845B, 0x006451};
    static constexpr Colours kSearchColours = {0x3399FF, 0x0066CC, 0x33518E, 0x003366};

    const ReportStats& r_;
    const Settings& s_;
    int days_;
    int mode_ = 1;
    ChartTarget target_;
    std::vector<int> kinds_;
    std::vector<std::string> images_;   // the names the pages refer to; empty: all
    std::string name_override_;         // the name of the image being drawn
};

// The Julian days a comparison's axis may take.
constexpr double kFirstChartDay = 2440000, kLastChartDay = 3000000;

bool chartable_day(double julian) {
    return std::isfinite(julian) && julian >= kFirstChartDay && julian <= kLastChartDay;
}

}  // namespace

std::string comparison_image_name(int value_kind) {
    return std::string(value_prefix(value_kind)) + "Compare";
}

bool draw_comparison_chart(std::span<const engine::ReportStats* const> reports, int value_kind,
                           ChartTarget& target, std::string_view base_name) {
    if (target.stop_requested && target.stop_requested()) return false;
    double first = 0, last = 0;
    for (const ReportStats* r : reports) {
        if (!r || !chartable_day(r->first_time) || !chartable_day(r->last_time)) continue;
        const double a = JulianMidnight(std::min(r->first_time, r->last_time));
        const double b = JulianMidnight(std::max(r->first_time, r->last_time));
        first = first == 0 ? a : std::min(first, a);
        last = last == 0 ? b : std::max(last, b);
    }
    if (first == 0) first = last = JulianMidnight(JulianToday());
    // At most the last year, as the history charts.
    const int days =
        std::clamp(static_cast<int>(std::lround(last - first)) + 1, 1, kHistoryDays);
    ChartSpec spec = stage_preset(target.wider, days, kComparison);
    spec.reports = reports;
    spec.first_day = last - (days - 1);
    spec.value_kind = value_kind;
    spec.title = "Report Comparison";
    spec.base_name = std::string(base_name);
    if (writes_scenes(target.output)) return vrml_scene_write(target.output, spec);
    auto canvas = chart_render(target, spec);
    return canvas && image_save(target.output, std::move(canvas), spec.base_name);
}

int draw_report_charts(const report::ChartRequest& request) {
    if (!request.settings) return 1;
    if (!request.report) {
        // The overview of a multi-report run: the comparison in each chart order.
        ChartTarget target = target_for(request);
        for (const int value_kind : value_kinds(request.settings->report)) {
            const std::string name = comparison_image_name(value_kind);
            const bool asked = std::any_of(request.images.begin(), request.images.end(),
                                           [&](const std::string& image) {
                                               return std::filesystem::path(image).stem() == name;
                                           });
            if (asked && !draw_comparison_chart(request.compared, value_kind, target, name) &&
                target.stop_requested && target.stop_requested())
                return 0;
        }
        return 1;
    }
    Driver driver(request);
    return driver.run();
}

}  // namespace tallowick::graph
