#include "report/report_assembly.h"

#include <algorithm>
#include <system_error>
#include <vector>

#include "base/cancel.h"
#include "base/file_transaction.h"
#include "base/status.h"
#include "engine/address_places.h"
#include "engine/analysis_run.h"
#include "logs/log_list.h"
#include "platform/folders.h"
#include "platform/system.h"
#include "report/logo_image.h"
#include "report/number_format.h"
#include "report/output_writer.h"
#include "report/report_file.h"
#include "report/stat_tables.h"
#include "report/summaries.h"
#include "report/translate.h"

namespace tallowick::report {

namespace fs = std::filesystem;

namespace {

using engine::ReportStats;
using engine::StatList;

constexpr std::string_view kVersion = "3.7";
// The platform the program runs on, as the version line names it.
constexpr std::string_view kPlatformTag = "[Linux]";
constexpr std::string_view kMainTitle = "Access Statistics";
// How long a run waits for another one that writes into the same folder.
constexpr int kLockWaitSeconds = 600;

constexpr std::string_view kRtfPrologue =
    "{\\rtf1\\ansi\\deff0\\deftab720{\\fonttbl{\\f0\\fnil\\charset0 Arial;}}{\\colortbl"
    "\\red0\\green0\\blue0;\\red255\\green0\\blue0;\\red0\\green128\\blue0;\\red0\\green0\\blue255;"
    "\\red255\\green255\\blue0;\\red255\\green0\\blue255;\\red128\\green0\\blue128;"
    "\\red128\\green0\\blue0;\\red0\\green255\\blue0;\\red0\\green255\\blue255;"
    "\\red0\\green128\\blue128;\\red0\\green0\\blue128;\\red255\\green255\\blue255;"
    "\\red192\\green192\\blue192;\\red128\\green128\\blue128;}\\paperw12240\\paperh15840"
    "\\margl1880\\margr1880\\margt1440\\margb1440\n {\\plain\\f0\\fs20\\cf0\n\n";

// The title paragraph closes the prologue's plain-text group, so one brace is
// left to close the document; a second would stand outside it.
constexpr std::string_view kRtfEnd = "}\n\n\n";

// The value a chart reference shows, and so its image prefix and heading.
enum class ChartValue { none, bytes, requests };

// One statistic page of a report, as planned before anything is written.
struct PageEntry {
    std::string key;
    int kind = kDays;
    std::string title, table_title, label, graph_key;
    StatList* list = nullptr;
    StatList* second = nullptr;   // adverts: the click counts
    bool graph = false, table = false;
    bool region = false;          // the region map has its own shadow sizes
};

LanguageTable& process_languages() {
    static LanguageTable table;
    return table;
}

bool flag(const StatFlags& flags, StatWord w) { return flags[w]; }

std::string_view image_extension(const Settings& s) {
    if (s.report.reportformat == Rtf) return ".bmp";
    switch (s.report.imageformat) {
        case 1: return ".jpg";
        case 2: return ".png";
        case 4: return ".wrl";    // charts are VRML scenes
        default: return ".gif";   // HTML never shows BMP images
    }
}

std::string_view protocol_page_key(std::string_view protocol) {
    if (protocol == "web") return "Web";
    if (protocol == "secureweb") return "SecureWeb";
    if (protocol == "mail") return "Mail";
    if (protocol == "ftp") return "FTP";
    if (protocol == "telnet") return "Telnet";
    if (protocol == "dns") return "DNS";
    if (protocol == "pop3") return "POP3";
    return {};
}

// "Some Statistics" of the history titles.
std::string statistics_of(std::string_view label) { return std::string(label) + " Statistics"; }

bool has_items(const StatList* list) { return list && list->Count() > 0; }

// Every page the report will have, in writing order.
std::vector<PageEntry> plan_pages(ReportStats& r, const Settings& s) {
    const StatFlags& st = s.report.stat;
    const StatFlags& gr = s.report.graph;
    std::vector<PageEntry> pages;
    auto add = [&](std::string key, int kind, std::string title, std::string table_title,
                   std::string label, std::string graph_key, StatList* list, bool graph,
                   bool table) {
        if (!has_items(list) || !(graph || table)) return static_cast<PageEntry*>(nullptr);
        if (graph_key.empty()) graph = false;
        pages.push_back({std::move(key), kind, std::move(title), std::move(table_title),
                         std::move(label), std::move(graph_key), list, nullptr, graph, table});
        return &pages.back();
    };
    auto word = [&](std::string key, int kind, std::string title, std::string table_title,
                    std::string label, std::string graph_key, StatList* list, StatWord w) {
        return add(std::move(key), kind, std::move(title), std::move(table_title),
                   std::move(label), std::move(graph_key), list, flag(gr, w), flag(st, w));
    };
    // History pages: only with their history graph; the table by the stat word.
    auto history = [&](std::string key, int kind, std::string_view label, std::string table_title,
                       std::string column, StatList* list, StatWord w) {
        if (!flag(gr, w)) return;
        add(key, kind, statistics_of(label), std::move(table_title), std::move(column), key, list,
            true, flag(st, w));
    };
    const bool reduced = r.mode == 0;
    const bool proxy = r.mode == engine::kProxyMode;

    word("Daily", kDays, "Daily Transmission Statistics", "Daily Transmission Statistics", "Date",
         "Daily", r.date.get(), StatWord::daily);
    if (r.date && s.report.recentdaily > 0 && s.report.recentdaily < r.date->Count())
        word("RecentDaily", kRecentDays, "Recent Days Transmission Statistics",
             "Recent Days Transmission Statistics", "Date", "RecentDays", r.date.get(),
             StatWord::daily);
    word("Hourly", kHours, "Hourly Transmission Statistics", "Hourly Transmission Statistics",
         "Time", "Hourly", r.hour.get(), StatWord::hourly);
    word("Weekly", kWeekdays, "Weekly Transmission Statistics", "Weekly Transmission Statistics",
         "Day", "Weekly", r.wday.get(), StatWord::weekly);
    static constexpr std::array<std::string_view, 7> kDayKeys = {
        "Sunday", "Monday", "Tueday", "Wedday", "Thuday", "Friday", "Satday"};
    static constexpr std::array<std::string_view, 7> kDayNames = {
        "Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
    for (std::size_t d = 0; d < 7; ++d) {
        const std::string title = std::string(kDayNames[d]) + " Hourly Transmission Statistics";
        word(std::string(kDayKeys[d]), kWeekdayHours, title, title, "Time", std::string(kDayKeys[d]),
             r.wdays[d].get(), StatWord::weekdays);
    }
    word("Monthly", kDays, "Monthly Transmission Statistics", "Monthly Transmission Statistics",
         "Month", "Monthly", r.month.get(), StatWord::monthly);
    word("Country", kCountries, "Country Access Statistics", "Countries", "Country", "Country",
         r.domain.get(), StatWord::country);
    if (PageEntry* e = word("Regions", kCountries, "Region Access Statistics", "Region", "Region",
                            "Region", r.region.get(), StatWord::region))
        e->region = true;
    // The organisation list exists only when an organisation map is set.
    add("Orgs", kOrganisations, "Organizations Statistics", "Organizations", "Organization", "Orgs",
        r.org.get(), flag(gr, StatWord::client), true);
    word("SecondDomain", kOrganisations, "Domain Statistics", "Domains", "Domain", "2nddomain",
         r.second_domain.get(), StatWord::seconddomain);
    word("Client", kClients, "Client Access Statistics", "Clients", "Client", "Client",
         r.client.get(), StatWord::client);
    // Authenticated users, gathered by client grouping: what people look for in
    // the logs of sites behind a login.
    add("User", kClients, "User Access Statistics", "Users", "User", "", r.user.get(), false,
        flag(st, StatWord::client));
    history("ClientHist", kClientHistory, "Client History", "Client History", "Client History",
            r.client.get(), StatWord::clienthistory);
    history("UserHist", kClientHistory, "User History", "User History", "User History",
            r.user.get(), StatWord::clienthistory);
    history("GovtHist", kClientHistory, "Government Access History", "Government Access History",
            "Government Access History", r.government.get(), StatWord::govthistory);
    word("Circulation", kVisitorMeasures, statistics_of("Circulation regularity"),
         "Circulation regularity", "Circulation regularity", "Circulation", r.circulation.get(),
         StatWord::circulation);
    word("Loyalty", kVisitorMeasures, statistics_of("Visits"), "Visits", "Visits", "Loyalty",
         r.loyalty.get(), StatWord::loyalty);
    word("Timeon", kVisitorMeasures, statistics_of("Time Online"), "Time Online", "Time Online",
         "Timeon", r.timeon.get(), StatWord::timeon);
    if (proxy) {
        add("SourceAddr", kSourceAddresses, "Source address Statistics", "Source Address",
            "Source Address", "srcaddr", r.src.get(), flag(gr, StatWord::client), true);
        add("Protocols", kProtocols, "Protocol Statistics", "Protocol", "Protocol", "Protocol",
            r.prot.get(), flag(gr, StatWord::client), true);
        struct ProtocolPage {
            std::size_t protocol;
            std::string_view key, label;
        };
        static constexpr std::array<ProtocolPage, 7> kProtocolPages = {{
            {1, "Web", "Web Pages"}, {2, "SecureWeb", "Secure Web Pages"}, {3, "Mail", "Mail"},
            {4, "FTP", "FTP"}, {5, "Telnet", "Telnet"}, {7, "DNS", "Name Server"},
            {8, "POP3", "Pop Server"},
        }};
        for (const ProtocolPage& p : kProtocolPages) {
            const std::string label(p.label);
            add(std::string(p.key), kReferrals, statistics_of(label), label, label,
                std::string(p.key), r.protocol_clients[p.protocol].get(), false, true);
        }
    }
    if (!reduced) {
        word("Directory", kDirectories, "Directory Statistics", "Directories", "Directory", "Dirs",
             r.dir.get(), StatWord::dir);
        word("TopDirectory", kDirectories, "Top-Level Directory Statistics",
             "Top-Level Directories", "Directory", "TopDirs", r.topdir.get(), StatWord::topdir);
        history("TopDirsHist", kDirectories, "Top-Level Directory", "Top-Level Directories",
                "Directory", r.topdir.get(), StatWord::topdirhistory);
        word("GroupDirectory", kDirectoryGroups, "Directory Group Statistics", "Directories",
             "Directory", "GroupDirs", r.groupdir.get(), StatWord::groupdir);
        word("Filetype", kFileTypes, "File type Statistics", "File types", "Type", "Filetype",
             r.type.get(), StatWord::filetype);
        word("Files", kFiles, "File Access Statistics", "URLs", "File", "Files", r.url.get(),
             StatWord::file);
        word("Browser", kBrowsers, "Browser Access Statistics", "Web Browsers", "Browser",
             "Browser", r.browser.get(), StatWord::browser);
        word("OperSys", kSystems, "Operating System Access Statistics", "Operating Systems",
             "System", "OperSys", r.oper.get(), StatWord::opersys);
        word("Refer", kReferrals, "Referrals Statistics", "Referral URLs", "URL", "", r.refer.get(),
             StatWord::refer);
        word("Errors", kServerErrors, "Server Error Statistics", "Server Errors", "Error", "Errors",
             r.err.get(), StatWord::errors);
        word("ErrorURL", kFailedUrls, "Failed URL Statistics", "Failed URLs", "URL", "ErrorURL",
             r.errurl.get(), StatWord::errorurl);
        history("ErrorURLHist", kFailedUrls, "Failed URL", "Failed URLs", "URL", r.errurl.get(),
                StatWord::errorurlhistory);
        history("ReferSiteHist", kReferringSites, "Referred Site History", "Referred Site History",
                "Referred Site History", r.rsite.get(), StatWord::referhistory);
        word("Pages", kPages, "Web Page Statistics", "Web Pages", "Page", "Pages", r.pages.get(),
             StatWord::pages);
        history("PageHist", kPageHistory, "Web Pages History", "Web Pages", "Page", r.pages.get(),
                StatWord::pagehistory);
        word("SearchEngine", kSearchEngines, "Search Engines Statistics", "Search Engines",
             "Search Engines", "SearchSite", r.searchsite.get(), StatWord::searchengine);
        word("SearchStr", kSearchStrings, "Search Strings Statistics", "Search Strings", "Search",
             "SearchStr", r.searchstr.get(), StatWord::search);
        word("Download", kDownloads, "File Download Statistics", "Downloads", "File", "Download",
             r.down.get(), StatWord::download);
        history("DownloadHist", kDownloads, "Download File", "Downloads", "File", r.down.get(),
                StatWord::downloadhistory);
        if (PageEntry* e = word("Advert", kAdverts, "Advert Statistics", "Advertising",
                                "Advert file", "Advert", r.addhit.get(), StatWord::advert))
            e->second = r.addclick.get();
    }
    word("PageVSessions", kSessionDepth, "Session Depth", "Sessions", "Session", "Sessions",
         r.session_depth.get(), StatWord::sessiondist);
    if (!r.mean_path.empty() && flag(st, StatWord::meanpath))
        pages.push_back({"MeanPath", kMeanPaths, "MeanPath List", "Mean Paths", "Mean Path", "",
                         r.pages.get(), nullptr, false, true});
    word("Robot", kRobots, "Robots List", "Robots", "Robot", "Robot", r.robot.get(),
         StatWord::robot);
    return pages;
}

// What every page of one report shares.
struct ReportContext {
    ReportStats& report;
    const Settings& settings;
    const AssemblyOptions& options;
    FileTransaction& files;      // every file of the run's reports goes in here
    WriterStyle style;
    fs::path folder;
    std::string main_name;       // the main page's file name
    std::vector<PageEntry> pages;
    TableOptions tables;
    SummaryOptions summaries;
    std::vector<std::string> images;
    int days = 1;
    int refresh = 0;
    bool failed = false;
    std::string overview;        // the link to a multi-report run's overview; empty: none
};

void note_image(ReportContext& ctx, std::string name) {
    if (std::find(ctx.images.begin(), ctx.images.end(), name) == ctx.images.end())
        ctx.images.push_back(std::move(name));
}

// Opens a page of the report's folder; reports and returns false when it cannot.
bool open_page(ReportContext& ctx, ReportFile& file, const std::string& name) {
    const fs::path path = ctx.folder / name;
    if (!file.open(ctx.files, path)) {
        ShowError("Can't open report file '" + path.string() + "'... " + file.error());
        ctx.failed = true;
        return false;
    }
    if (ctx.options.created) ctx.options.created->add(path);
    return true;
}

void close_page(ReportContext& ctx, ReportFile& file) {
    if (!file.close()) ctx.failed = true;
}

void write_head(OutputWriter& out, const Settings& settings, std::string_view title,
                bool with_title) {
    if (out.format() == Html) {
        out.writeText("<HEAD>\n");
        out.writeFormat("<META NAME=\"GENERATOR\" CONTENT=\"Tallowick %.*s %.*s\">\n",
                        static_cast<int>(kVersion.size()), kVersion.data(),
                        static_cast<int>(kPlatformTag.size()), kPlatformTag.data());
        // Language files are UTF-8: the browser must know it to show them.
        out.writeText("<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=utf-8\">\n");
        out.writeText("<meta http-equiv=\"Expires\" content=\"0\">\n");
        if (with_title)
            out.writeFormat("<TITLE>%.*s</TITLE></HEAD>\n\n", static_cast<int>(title.size()),
                            title.data());
        else
            out.writeText("</HEAD>\n\n");
        out.writeText(settings.report.htmlhead);
    } else if (out.format() == Rtf) {
        out.writeText(kRtfPrologue);
        out.writeFormat("\n\\par \\qc\\widctlpar\\adjustright \\cbpat0 \\f4\\cgrid{\\b\\cf12\\fs24 "
                        "%.*s\\par} }\\pard\n",
                        static_cast<int>(title.size()), title.data());
    }
}

// `credit_as_data`: the report names organisations from the AS data, whose
// licence asks for this credit.
void write_foot(OutputWriter& out, const Settings& settings, bool credit_as_data = false) {
    const std::string_view credit = engine::kAsDataCredit;
    if (out.format() == Html) {
        if (credit_as_data)
            out.writeFormat("<P ALIGN=CENTER><SMALL>%.*s</SMALL></P>\n",
                            static_cast<int>(credit.size()), credit.data());
        out.writeText(settings.report.htmlfoot);
    } else if (out.format() == Rtf) {
        if (credit_as_data)
            out.writeFormat("\\par {\\fs16 %.*s}\\par\n", static_cast<int>(credit.size()),
                            credit.data());
        out.writeText(kRtfEnd);
    }
}

// The logo image in `folder`, when HTML pages there show it (the head text
// names it) and it is not there yet.
void write_logo_into(const fs::path& folder, const Settings& settings, int format,
                     FileTransaction& files, CreatedFiles* created, bool& failed) {
    if (format != Html || settings.report.htmlhead.find(kLogoFileName) == std::string::npos)
        return;
    const fs::path path = folder / kLogoFileName;
    std::error_code ec;
    if (fs::exists(path, ec)) return;
    const auto logo = logoImage();
    StagedFile file = files.create(path);
    if (!file.write({reinterpret_cast<const char*>(logo.data()), logo.size()}) || !file.close()) {
        ShowError("Can't write report file " + file.error());
        failed = true;
    } else if (created) {
        created->add(path);
    }
}

void write_logo(ReportContext& ctx) {
    write_logo_into(ctx.folder, ctx.settings, ctx.style.format, ctx.files, ctx.options.created,
                    ctx.failed);
}

// The link from a page of one report of a multi-report run back to the
// overview; `target` names the frame it opens in (empty: the same).
void write_overview_link(OutputWriter& out, const ReportContext& ctx, std::string_view target = {}) {
    if (ctx.overview.empty() || out.format() != Html) return;
    out.writeFormat("<CENTER>[<A HREF=\"%s\"%s%.*s>Overview</A>]</CENTER><P>\n",
                    std::string(out.dataLink(ctx.overview)).c_str(), target.empty() ? "" : " target=",
                    static_cast<int>(target.size()), target.data());
}

void write_refresh(OutputWriter& out, const ReportContext& ctx, const std::string& page) {
    if (ctx.refresh > 0) out.writeMessage(10, static_cast<long>(ctx.refresh), page.c_str());
}

void write_main_page(ReportContext& ctx) {
    ReportFile file;
    if (!open_page(ctx, file, ctx.main_name)) return;
    OutputWriter out(ctx.style, &file);
    write_head(out, ctx.settings, kMainTitle, true);
    writeProcessingTime(ctx.report, out, ctx.summaries);
    writePeriodHeading(ctx.report, out, kMainTitle, ctx.days, ctx.summaries);
    write_logo(ctx);
    write_refresh(out, ctx, ctx.main_name);
    write_overview_link(out, ctx);
    const bool html = out.format() == Html;
    if (html) {
        out.writeText("\n\n<CENTER>\n");
        out.writeFormat("<TABLE WIDTH=%d BORDER=1 CELLSPACING=0 CELLPADDING=0>\n<TR>", 450);
        out.writeText("<TD VALIGN=TOP>\n");
    }
    writeServerLoad(ctx.report, out, 270, true, ctx.summaries);
    if (html) out.writeText("</TD><TD VALIGN=TOP>\n<!-- DATA END -->\n\n");
    writeServerLinks(ctx.report, out, 180, true, ctx.summaries);
    writeClientLinks(ctx.report, out, 180, true, ctx.summaries);
    if (html) out.writeText("</TD></TR></TABLE></CENTER>\n<!-- TABLE END -->\n\n");
    write_foot(out, ctx.settings, ctx.report.as_data_used);
    close_page(ctx, file);
}

bool page_planned(const ReportContext& ctx, std::string_view key) {
    return std::any_of(ctx.pages.begin(), ctx.pages.end(),
                       [&](const PageEntry& p) { return p.key == key; });
}

void write_frame_pages(ReportContext& ctx) {
    const std::string ext(ctx.style.pageExtension());
    {
        ReportFile file;
        if (open_page(ctx, file, "freport" + ext)) {
            OutputWriter out(ctx.style, &file);
            const std::string right = page_planned(ctx, "Daily") ? "Daily" + ext : ctx.main_name;
            if (out.format() == Html) {
                out.writeText("<HTML>\n<HEAD>\n<META HTTP-EQUIV=\"Content-Type\" "
                              "CONTENT=\"text/html; charset=utf-8\">\n"
                              "<TITLE>Tallowick Report</TITLE>\n</HEAD>\n");
                out.writeText("<FRAMESET COLS=\"205,*\" FRAMEBORDER=1 FRAMESPACING=3 BORDER=3>\n");
                out.writeFormat("<FRAME NAME=\"list\" SRC=\"findex%s\" MARGINWIDTH=0 "
                                "MARGINHEIGHT=0 FRAMEBORDER=0 NORESIZE>\n",
                                ext.c_str());
                out.writeFormat("<FRAME NAME=\"reportstat\" SRC=\"%s\">\n", right.c_str());
                out.writeText("</FRAMESET>\n</HTML>\n");
            } else if (out.format() == Rtf) {
                out.writeText(kRtfPrologue);
                out.writeText("\n\\par \\qc\\widctlpar\\adjustright \\cbpat0 \\f4\\cgrid"
                              "{\\b\\cf12\\fs24 Tallowick Report\\par} }\\pard\n");
                out.writeText(kRtfEnd);
            } else {
                out.writeText("Tallowick Report\n");
            }
            close_page(ctx, file);
        }
    }
    ReportFile file;
    if (!open_page(ctx, file, "findex" + ext)) return;
    OutputWriter out(ctx.style, &file);
    write_logo(ctx);
    write_refresh(out, ctx, "findex" + ext);
    write_head(out, ctx.settings, "", false);
    write_overview_link(out, ctx, "_top");
    writeServerLoad(ctx.report, out, 180, false, ctx.summaries);
    writeServerLinks(ctx.report, out, 180, false, ctx.summaries);
    writeClientLinks(ctx.report, out, 180, false, ctx.summaries);
    write_foot(out, ctx.settings, ctx.report.as_data_used);
    close_page(ctx, file);
}

ChartValue chart_value_of(const Settings& s) {
    switch (s.report.graphsort) {
        case 0: return ChartValue::bytes;
        case 1: case 2: return ChartValue::requests;
        default:
            if (s.report.sort == kSortReqs) return ChartValue::requests;
            if (s.report.sort == kSortPage) return ChartValue::none;
            return ChartValue::bytes;
    }
}

// Pages whose chart is one image whatever the chart order (the region map, the
// visitor measures, session depth).
bool one_chart_for_all_orders(const PageEntry& page) {
    return page.region || page.kind == kVisitorMeasures || page.kind == kSessionDepth;
}

void write_chart_reference(OutputWriter& out, ReportContext& ctx, const PageEntry& page,
                           std::string_view graph_key, ChartValue value) {
    const bool plain = one_chart_for_all_orders(page);
    std::string_view heading, prefix;
    if (!plain && value == ChartValue::bytes) {
        heading = "Top Traffic for ";
        prefix = "Byte";
    } else if (!plain && value == ChartValue::requests) {
        heading = "Top Requests for ";
        prefix = "Req";
    }
    std::string ext(image_extension(ctx.settings));
    const std::string image = std::string(prefix) + std::string(graph_key) + ext;
    note_image(ctx, image);
    if (ext == ".wrl") ext = ".gif";   // the shadow strips stay images beside a scene
    if (out.format() == Html) {
        note_image(ctx, "rshad" + ext);
        note_image(ctx, "bshad" + ext);
        out.writeFormat("<CENTER><H4>%.*s%s</H4>\n", static_cast<int>(heading.size()),
                        heading.data(), page.table_title.c_str());
        out.writeText("<TABLE border=0 cellspacing=0 cellpadding=0><TR><TD>");
        out.writeFormat("<IMG SRC=\"%s\" ALT=\"%s Graph\">", image.c_str(),
                        page.table_title.c_str());
        if (page.region)
            out.writeFormat("</TD><TD><IMG WIDTH=45 HEIGHT=310 SRC=\"rshad%s\"></TD></TR>\n"
                            "<TR><TD colspan=2><IMG WIDTH=640 SRC=\"bshad%s\"></TD></TR></TABLE>\n\n",
                            ext.c_str(), ext.c_str());
        else
            out.writeFormat("</TD><TD><IMG SRC=\"rshad%s\"></TD></TR>\n<TR><TD colspan=2>"
                            "<IMG SRC=\"bshad%s\"></TD></TR></TABLE>\n\n",
                            ext.c_str(), ext.c_str());
        out.writeText("</CENTER><P><BR>\n");
    } else if (out.format() == Rtf) {
        out.writeFormat("\\par{\\qc\\b %.*s%s\n", static_cast<int>(heading.size()), heading.data(),
                        page.table_title.c_str());
        out.writeFormat("\\par{\\field{\\*\\fldinst {INCLUDEPICTURE \\\\d \"%.*s%.*s.bmp\"}}"
                        "{\\fldrslt {\\lang1024 }}}\\par}\n",
                        static_cast<int>(prefix.size()), prefix.data(),
                        static_cast<int>(graph_key.size()), graph_key.data());
    }
}

// second_order: the page's content again in the other chart order, without the
// charts that do not change with it.
void write_page_content(OutputWriter& out, ReportContext& ctx, const PageEntry& page,
                        ChartValue value, bool second_order = false) {
    const Settings& s = ctx.settings;
    const StatTable table{page.kind, page.table_title, page.label};
    if (page.graph && page.kind == kAdverts)
        write_chart_reference(out, ctx, page, "Hit" + page.graph_key, value);
    else if (page.graph)
        write_chart_reference(out, ctx, page, page.graph_key, value);
    if (page.graph && out.format() == Html && s.report.graph[StatWord::ascii] &&
        ctx.options.text_graphs)
        ctx.options.text_graphs(out, *page.list, page.kind, s.report.statdepth);
    if (page.kind == kBrowsers && !second_order && s.report.graph[StatWord::browser] &&
        s.report.graph[StatWord::opersys] && ctx.report.oper)
        write_chart_reference(out, ctx, page, "BrowserOS", ChartValue::none);
    if (page.table) {
        // A pie's slices take the colours of the items' places: the table's
        // first rows are shaded alike, as a key to the chart.
        TableOptions options = ctx.tables;
        if (page.graph && (page.kind == kFileTypes || page.kind == kServerErrors))
            options.graph_colours = kChartItemColours;
        writeStatTable(out, ctx.report, *page.list, table, options);
    }
    if (page.kind == kAdverts && has_items(page.second)) {
        if (page.graph) write_chart_reference(out, ctx, page, "Click" + page.graph_key, value);
        if (page.table)
            writeStatTable(out, ctx.report, *page.second, {kAdverts, "Advert clicks", page.label},
                           ctx.tables);
    }
    if (page.kind == kPages && page.table) {
        // Entry pages: the same list by its entry counts, then back in its order.
        page.list->SortBy(kSortPage);
        writeStatTable(out, ctx.report, *page.list, {kEntryPages, "Top Entry pages", page.label},
                       ctx.tables);
        page.list->Sort(s.report.sort == kSortPage ? kSortReqs : s.report.sort,
                        s.report.statdepth);
    }
}

void write_stat_page(ReportContext& ctx, const PageEntry& page) {
    ReportFile file;
    if (!open_page(ctx, file, page.key + std::string(ctx.style.pageExtension()))) return;
    OutputWriter out(ctx.style, &file);
    write_head(out, ctx.settings, page.title, true);
    writePeriodHeading(ctx.report, out, page.title, ctx.days, ctx.summaries);
    out.writeMessage(11, ctx.main_name.c_str());
    const Settings& s = ctx.settings;
    if (s.report.graphsort == 2 && page.kind >= 4 && page.kind < 300 &&
        !one_chart_for_all_orders(page)) {
        write_page_content(out, ctx, page, ChartValue::requests);
        page.list->Sort(kSortSize, s.report.statdepth);
        write_page_content(out, ctx, page, ChartValue::bytes, true);
    } else {
        write_page_content(out, ctx, page, chart_value_of(s));
    }
    out.writeMessage(11, ctx.main_name.c_str());
    write_overview_link(out, ctx);
    write_foot(out, ctx.settings, ctx.report.as_data_used);
    close_page(ctx, file);
}

// Writes one report into `folder` with the main page `main_name`, as part of
// `files`. Returns false when the writing must stop: a file failed, the run was
// cancelled or the chart driver asked to stop.
// overview: the link back to the overview page of a multi-report run, or empty.
bool write_one(ReportStats& report, const AssemblyOptions& options, FileTransaction& files,
               const WriterStyle& style, const fs::path& folder, const std::string& main_name,
               const std::string& overview, bool& failed) {
    const Settings& s = *options.settings;
    ReportContext ctx{report, s, options, files, style, folder, main_name, {}, {}, {}, {}, 1, 0,
                      false, overview};
    ctx.pages = plan_pages(report, s);
    ctx.days = calendarDays(report);
    ctx.refresh = engine::DaemonIntervalSeconds(s.run.daemontime);
    ctx.tables.statdepth = s.report.statdepth;
    ctx.tables.recentdaily = s.report.recentdaily;
    ctx.tables.session_columns = s.report.stat[StatWord::clientstream];
    ctx.tables.siteurl = s.run.siteurl;
    if (s.report.remotetitle && options.page_titles) ctx.tables.page_title = options.page_titles();
    static constexpr std::array<std::string_view, 7> kDayKeys = {
        "Sunday", "Monday", "Tueday", "Wedday", "Thuday", "Friday", "Satday"};
    for (std::size_t d = 0; d < 7; ++d) ctx.tables.weekday_pages[d] = page_planned(ctx, kDayKeys[d]);
    ctx.tables.protocol_page = [&ctx](std::string_view protocol) -> std::string_view {
        const std::string_view key = protocol_page_key(protocol);
        return page_planned(ctx, key) ? key : std::string_view();
    };
    ctx.summaries.settings = &s;
    ctx.summaries.now = options.now;
    ctx.summaries.page_written = [&ctx](std::string_view key) { return page_planned(ctx, key); };

    // A report is replaced whole or not at all: after a failure the rest is not
    // written, since none of it would be kept.
    auto go_on = [&] { return !ctx.failed && !files.failed() && !cancel_requested(); };
    write_main_page(ctx);
    if (go_on()) write_frame_pages(ctx);
    for (const PageEntry& page : ctx.pages)
        if (go_on()) write_stat_page(ctx, page);
    if (!go_on()) {
        failed = failed || ctx.failed || files.failed();
        return false;
    }

    if (!options.charts) return true;
    ChartRequest request;
    request.report = &report;
    request.settings = &s;
    request.folder = folder;
    request.mode = report.mode;
    request.days = ctx.days;
    request.language = style.languages;
    request.created = options.created;
    request.images = ctx.images;
    request.files = &files;
    return options.charts(request) != 0 && !files.failed();
}

std::string date_key(std::string_view name) {
    // "MM/DD/YYYY" -> "YYYYMMDD", "MM/YYYY" -> "YYYYMM"; others as they are.
    if (name.size() == 10 && name[2] == '/' && name[5] == '/')
        return std::string(name.substr(6, 4)) + std::string(name.substr(0, 2)) +
               std::string(name.substr(3, 2));
    if (name.size() == 7 && name[2] == '/')
        return std::string(name.substr(3, 4)) + std::string(name.substr(0, 2));
    return std::string(name);
}

int weekday_index(std::string_view name) {
    static constexpr std::array<std::string_view, 7> kDays = {
        "Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
    for (std::size_t i = 0; i < kDays.size(); ++i)
        if (kDays[i] == name) return static_cast<int>(i);
    return 7;
}

void write_overview(std::span<const ReportListEntry> entries, const AssemblyOptions& options,
                    FileTransaction& files, const WriterStyle& style, const fs::path& path,
                    bool& failed) {
    ReportFile file;
    if (!file.open(files, path)) {
        ShowError("Can't open report file '" + path.string() + "'... " + file.error());
        failed = true;
        return;
    }
    if (options.created) options.created->add(path);
    const Settings& s = *options.settings;
    OutputWriter out(style, &file);
    write_head(out, s, kMainTitle, true);
    if (out.format() == Html)
        out.writeFormat("<H3 ALIGN=CENTER>%.*s</H3>\n", static_cast<int>(kMainTitle.size()),
                        kMainTitle.data());
    TableOptions tables;
    tables.statdepth = 2;   // every report is listed
    tables.graph_colours = kChartItemColours;
    writeReportListTable(out, entries, "Reports", "Report", tables);

    // The comparison of the reports' daily traffic, in each chart order.
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    std::vector<std::string> images;
    const ChartValue value = chart_value_of(s);
    for (const ChartValue v : s.report.graphsort == 2
                                  ? std::vector<ChartValue>{ChartValue::bytes, ChartValue::requests}
                                  : std::vector<ChartValue>{value}) {
        const std::string_view prefix = v == ChartValue::bytes      ? "Byte"
                                        : v == ChartValue::requests ? "Req"
                                                                    : "";
        images.push_back(std::string(prefix) + "Compare" + std::string(image_extension(s)));
    }
    if (options.charts) {
        for (const std::string& image : images) {
            if (out.format() == Html)
                out.writeFormat("<CENTER><H4>Report Comparison</H4>\n<IMG SRC=\"%s\" ALT=\"Report "
                                "Comparison Graph\"></CENTER><P><BR>\n",
                                image.c_str());
            else if (out.format() == Rtf)
                out.writeFormat("\\par{\\qc\\b Report Comparison\n\\par{\\field{\\*\\fldinst "
                                "{INCLUDEPICTURE \\\\d \"%s\"}}{\\fldrslt {\\lang1024 }}}\\par}\n",
                                image.c_str());
        }
    }
    write_foot(out, s);
    if (!file.close()) failed = true;
    write_logo_into(folder, s, style.format, files, options.created, failed);
    if (!options.charts) return;
    std::vector<const ReportStats*> compared;
    for (const ReportListEntry& e : entries) compared.push_back(e.report);
    ChartRequest request;
    request.compared = compared;
    request.settings = &s;
    request.folder = folder;
    request.language = style.languages;
    request.created = options.created;
    request.files = &files;
    request.images = images;
    options.charts(request);
}

// The overview's order of the reports (`VDsortby`): 1 bytes, 2 requests, 3 pages,
// the most first; 6 the first hit, the earliest first; otherwise the order the
// run made them in. Ties keep that order.
void order_overview(std::vector<ReportListEntry>& entries, int order) {
    auto by = [&entries](auto key, bool most_first) {
        std::stable_sort(entries.begin(), entries.end(),
                         [&](const ReportListEntry& a, const ReportListEntry& b) {
                             return most_first ? key(*a.report) > key(*b.report)
                                               : key(*a.report) < key(*b.report);
                         });
    };
    switch (order) {
    case 1: by([](const ReportStats& r) { return r.bytes; }, true); break;
    case 2: by([](const ReportStats& r) { return r.accepted_hits; }, true); break;
    case 3:
        by([](const ReportStats& r) { return r.client ? r.client->TotalPages() : 0; }, true);
        break;
    case 6: by([](const ReportStats& r) { return r.first_time; }, false); break;
    default: break;
    }
}

}  // namespace

ReportPath completeReportPath(std::string_view out, int report_format) {
    std::string path = platform::normalise_path(out);
    std::error_code ec;
    if (path.empty()) {
        path = "index.html";
    } else if (path.back() == '/') {
        path += "index.html";
    } else if (fs::is_directory(path, ec)) {
        path += "/index.html";
    }
    fs::path main(path);
    std::string extension = main.extension().string();
    if (extension.empty() || extension == ".") {
        if (extension == ".") path.pop_back();
        main = path + ".html";
        extension = ".html";
    }
    if (report_format == Rtf || report_format == Delimited) {
        extension = std::string(reportMessage(report_format, 0));
        main.replace_extension(extension);
    }
    return {main, extension};
}

void sortReportTables(ReportStats& r, const Settings& s) {
    ShowStatus(formatText("Sorting %d %s ...", 0, "Report"));
    const int depth = s.report.statdepth;
    const int main_order = s.report.sort;
    const int file_order = main_order == kSortPage ? kSortReqs : main_order;
    const engine::ItemOrder by_date = [](const engine::StatItem& a, const engine::StatItem& b) {
        const std::string ka = date_key(a.name), kb = date_key(b.name);
        return ka < kb ? -1 : ka > kb ? 1 : 0;
    };
    if (r.date) r.date->SortBy(by_date);
    if (r.month) r.month->SortBy(by_date);
    if (r.hour) r.hour->SortBy(kSortName);
    if (r.wday)
        r.wday->SortBy([](const engine::StatItem& a, const engine::StatItem& b) {
            return weekday_index(a.name) - weekday_index(b.name);
        });
    for (auto& list : r.wdays)
        if (list) list->SortBy(kSortName);
    for (StatList* list : {r.client.get(), r.user.get(), r.government.get(), r.domain.get(),
                           r.region.get(), r.org.get(), r.second_domain.get(), r.browser.get(),
                           r.oper.get(), r.dir.get(), r.topdir.get(), r.groupdir.get(),
                           r.err.get()})
        if (list) list->Sort(main_order, depth);
    for (StatList* list : {r.url.get(), r.pages.get(), r.type.get(), r.refer.get(), r.rsite.get(),
                           r.errurl.get(), r.searchstr.get(), r.searchsite.get(), r.down.get(),
                           r.robot.get(), r.src.get(), r.prot.get()})
        if (list) list->Sort(file_order, depth);
    for (auto& list : r.protocol_clients)
        if (list) list->Sort(file_order, depth);
    if (r.addhit) r.addhit->Sort(kSortReqs, depth);
    if (r.addclick) r.addclick->Sort(kSortReqs, depth);
    // The visitor-measure lists stay in range order; client grouping has put the
    // mean paths in order of occurrences.
    ShowStatus("Sorting...Done");
}

std::string safeFolderName(std::string_view title) {
    std::string name;
    for (char c : title) {
        const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                          c == '-' || c == '_' || c == '.';
        name += keep ? c : '_';
    }
    if (name.size() > 100) name.resize(100);
    if (name.empty() || name == "." || name == "..") name = "report";
    return name;
}

namespace {

int write_reports(std::span<ReportStats* const> reports, const AssemblyOptions& options) {
    if (!options.settings) return 1;
    const Settings& s = *options.settings;
    LanguageTable& languages = options.languages ? *options.languages : process_languages();
    WriterStyle style = WriterStyle::From(s, &languages);
    ReportPath path = completeReportPath(s.run.out, style.format);
    if (style.format == Html) style.html_extension = path.extension;
    if (style.language >= 1 && style.language <= kLanguageCount && !languages.load(style.language)) {
        platform::beep();
        ShowError("File '" + std::string(languageFileName(style.language)) + "' could not be accessed");
    }

    std::vector<ReportStats*> to_write;
    for (ReportStats* report : reports) {
        if (!report) continue;
        if (report->elapsed <= 0)
            report->elapsed = std::max(now_seconds() - report->start_time, engine::kShortestElapsed);
        sortReportTables(*report, s);
        if (report->accepted_hits > 0) to_write.push_back(report);
    }
    // A single report of an empty log is written empty, so that the old pages
    // do not pass for this run's.
    if (to_write.empty() && reports.size() == 1 && reports.front())
        to_write.push_back(reports.front());
    if (to_write.empty()) return 0;

    const bool multi = reports.size() > 1;
    if (!multi && s.run.out.find('{') != std::string::npos) {
        path.main = logs::ExpandLogName(path.main.string(),
                                        logs::LogNameContext::for_run(s.dates, s.run.siteurl));
    }
    const fs::path folder = path.main.has_parent_path() ? path.main.parent_path() : fs::path(".");
    const std::string main_name = path.main.filename().string();
    std::error_code ec;
    fs::create_directories(folder, ec);

    // One run at a time writes into a folder; a second one waits for the first.
    FolderLock lock;
    std::string lock_error;
    const auto waiting = [&folder] {
        ShowStatus("Waiting for another run writing into '" + folder.string() + "'...");
    };
    if (!lock.acquire(folder, kLockWaitSeconds, cancel_requested, waiting, lock_error)) {
        if (!cancel_requested()) ShowError("Can't write the report: " + lock_error);
        return 1;
    }
    FileTransaction files;
    bool failed = false;
    bool stopped = false;
    std::vector<ReportListEntry> entries;
    std::vector<std::string> used;
    int number = 0;
    for (ReportStats* report : to_write) {
        ++number;
        ShowStatus(formatText("Writing report %d '%s'...", number, report->name.c_str()));
        fs::path report_folder = folder;
        if (multi) {
            std::string sub = s.run.sequencedir ? std::to_string(number) : safeFolderName(report->name);
            // `editpath` gives a virtual host the folder the user chose.
            for (const VhostPath& mapped : s.run.editpath)
                if (!mapped.dir.empty() && mapped.site == report->name) sub = mapped.dir;
            // Two titles that make the same folder name keep apart by number.
            if (std::find(used.begin(), used.end(), sub) != used.end()) sub += "_" + std::to_string(number);
            used.push_back(sub);
            report_folder = folder / sub;
            fs::create_directories(report_folder, ec);
            entries.push_back({report, sub + "/" + main_name});
        }
        if (!write_one(*report, options, files, style, report_folder, main_name,
                       multi ? "../" + main_name : std::string(), failed)) {
            stopped = true;
            break;
        }
    }
    if (multi && !entries.empty() && !stopped) {
        order_overview(entries, s.run.vd_sortby);
        write_overview(entries, options, files, style, path.main, failed);
    }
    if (failed || stopped || files.failed() || cancel_requested()) {
        files.rollback();
        if (failed || files.failed())
            ShowError("The report was not written; the files in '" + folder.string() +
                      "' are left as they were");
        else
            ShowStatus("Report cancelled; the files in '" + folder.string() +
                       "' are left as they were");
        return 1;
    }
    if (!files.commit()) {
        ShowError("Can't write report file " + files.error());
        return 1;
    }
    return 0;
}

}  // namespace

int writeReports(std::span<const std::unique_ptr<ReportStats>> reports,
                 const AssemblyOptions& options) {
    std::vector<ReportStats*> all;
    all.reserve(reports.size());
    for (const auto& r : reports) all.push_back(r.get());
    return write_reports(all, options);
}

int writeReport(ReportStats& report, const AssemblyOptions& options) {
    ReportStats* one = &report;
    return write_reports({&one, 1}, options);
}

}  // namespace tallowick::report
