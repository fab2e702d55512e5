// The settings record: every option of an analysis run, grouped by the area that
// reads it. It is plain data; the keyword interpreter and the settings file live in
// app/, and each subsystem takes a const reference to the group it needs.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tallowick {

// A settings list (filters, organisation map, ...): at most 100 entries of at most
// 159 characters. Entries beyond either limit are refused, never truncated silently.
class SettingsList {
public:
    static constexpr std::size_t kMaxEntries = 100;
    static constexpr std::size_t kMaxEntryLength = 159;

    enum class AddResult { added, list_full, too_long };

    AddResult add(std::string_view entry);
    void clear() { entries_.clear(); }

    const std::vector<std::string>& entries() const { return entries_; }
    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    bool operator==(const SettingsList&) const = default;

private:
    std::vector<std::string> entries_;
};

// Statistic and graph words of "+stat"/"-stat" and "+graph"/"-graph". A word may be
// valid for tables, for graphs or for both; `clientstream` is the table word that
// "sessionhistory" also sets.
enum class StatWord : std::uint8_t {
    daily, hourly, weekly, weekdays, monthly, country, region, client, file,
    browser, browservsos, opersys, filetype, dir, groupdir, topdir, seconddomain,
    errors, errorurl, refer, refersite, pages, search, searchengine, ascii,
    download, clientstream, meanpath, sessiondist, advert, robot, circulation,
    loyalty, timeon, govthistory, clienthistory, pagehistory, referhistory,
    downloadhistory, errorurlhistory, topdirhistory,
    count_
};
inline constexpr std::size_t kStatWordCount = static_cast<std::size_t>(StatWord::count_);

class StatFlags {
public:
    bool operator[](StatWord w) const { return bits_[static_cast<std::size_t>(w)]; }
    void set(StatWord w, bool on) { bits_[static_cast<std::size_t>(w)] = on; }
    void set_all(bool on) { bits_.fill(on); }
    bool operator==(const StatFlags&) const = default;

private:
    std::array<bool, kStatWordCount> bits_{};
};

// Date modes of the `date` keyword.
enum DateMode : std::int16_t {
    kDateExplicit = 0, kDateAll = 1, kDateToday = 2, kDateYesterday = 3,
    kDateThisWeek = 4, kDatePrevWeek = 5, kDateLast7 = 6, kDateLast14 = 7,
    kDateLast21 = 8, kDateLast30 = 9, kDateThisMonth = 10, kDatePrevMonth = 11,
    kDateThisQuarter = 12, kDatePrevQuarter = 13, kDateThis6m = 14,
    kDatePrev6m = 15, kDateThisYear = 16, kDatePrevYear = 17,
};

struct DateSettings {
    std::int16_t mode = kDateAll;
    std::string sdate;          // short date form, at most 11 characters
    std::string edate;
    double start = 0;           // Julian dates recomputed from mode or texts
    double end = 0;
    bool operator==(const DateSettings&) const = default;
};

struct FilterSettings {
    SettingsList url, site, source, browser, referal, internalnetwork;
    bool url_case = false, site_case = false, referal_case = false, agent_case = false;
    bool or_logic = false;
    bool operator==(const FilterSettings&) const = default;
};

struct VhostPath {
    std::string site;
    std::string dir;
    bool operator==(const VhostPath&) const = default;
};

struct RunSettings {
    std::string out;            // report output path, folder or *.html
    int language = 0;           // 0..9, see the language table
    std::string siteurl;
    std::string indexfile;
    std::vector<VhostPath> editpath;
    SettingsList vhostmap;
    int multidomains = 0;
    int multivhosts = 0, multitopdirs = 0, multitop2dirs = 0;
    int multimonths = 0, multiweeks = 0;
    bool sequencedir = false;
    int vd_sortby = 0;
    bool streaming = false;
    int daemontime = 0;
    int daemonrehash = 0;
    int daemonrehash_counter = 0;
    std::uint16_t remotelogin_port = 911;
    // The password itself, not its stored form. There is no default: without one
    // the remote-control server does not start.
    std::string remotelogin_passwd;
    bool remoteloginon = false;
    std::string remotelogin_addr = "127.0.0.1";   // where remote control listens
    int remotelogin_timeout = 300;      // seconds a logged-in client may stay silent
    int remotelogin_wait = 10;          // seconds an address waits after three wrong passwords
    std::string remote_programs;        // folder of the programs "!" may run; empty: none
    int http_port = 800;                // the report server ("-http")
    std::string http_addr = "127.0.0.1";  // where the report server listens; empty: every address
    int notify_type = 0;
    std::string notify_dest;
    std::string notify_folder;  // where "notify_msg.txt" goes; empty: the user data folder
    bool operator==(const RunSettings&) const = default;
};

struct CustomFormat {
    static constexpr std::size_t kFields = 32;
    bool use = false;                   // usecustomformat
    int separator = 0;                  // custom_seperator, a character code
    int dateformat = 0;
    int timeformat = 0;
    std::array<int, kFields> data_index{};
    bool operator==(const CustomFormat&) const = default;
};

enum DnsMode : std::int16_t { kDnsOff = 0, kDnsOn = 1, kDnsCache = 2 };

struct AnalysisSettings {
    std::int16_t dns_mode = kDnsOff;
    std::int16_t dns_amount = 100;
    std::string dns_server;             // dnsserver: "host" or "host:port"; empty: the system's
    int dns_wait = 20;                  // dnswait: seconds to wait for answers at a log's end
    int geoip = 1;                      // geoip: countries and AS names of numeric clients
    std::string geoipdb;                // geoipdb: another country database (MaxMind DB)
    int threads = 2;                    // threads: 1 counts every hit on the reading thread
    bool ignoreself = false, ignorebookmark = false, ignorecase = false;
    bool ignoreipvhosts = false, ignoreusernames = false;
    bool usecgi = false;
    bool filterzero = false;
    int sessiontime = 10;               // minutes
    long dollar = 0;                    // thousandths of a dollar per megabyte
    std::string hitpattern, clickpattern;
    bool forceddmm = false;
    bool savedata = false;
    std::string savedatafile;           // the history database's name (date macros allowed)
    bool salvagedata = false;           // load what reads soundly from a damaged database
    SettingsList orgmap, groupdir;
    bool session_tracking = false;      // derived: client stream or session distribution
    bool operator==(const AnalysisSettings&) const = default;
};

enum SortOrder : std::uint8_t {
    kSortName = 0, kSortSize = 1, kSortReqs = 2, kSortPage = 3,
    kSortVisits = 4, kSortError = 5, kSortDate = 6,
};

struct ReportSettings {
    static constexpr std::uint32_t kColourMarker = 0x2D524742;   // bytes "BGR-"
    static constexpr std::size_t kHtmlBlockMax = 12000;

    int sort = kSortReqs;
    int statdepth = 4;
    int recentdaily = 30;
    bool timestat = true, bandwidth = true, remotetitle = false, headtitle = true;
    int reportformat = 0;
    int imageformat = 0;
    int style = 1;
    bool webpalette = false, wider = false;
    int graphsort = 1;
    std::uint32_t colour_marker = kColourMarker;
    std::array<std::uint32_t, 6> colours{};
    std::string htmlhead, htmlfoot;
    StatFlags stat, graph;
    SettingsList notifyrules;
    bool operator==(const ReportSettings&) const = default;
};

struct PostSettings {
    std::string postproclocation;
    bool archive = false, compresslog = false, sendto = false, delete_report = false;
    std::string post_email;
    std::string post_emailmsg;          // line breaks held as CR LF
    // The mail server of notices ("host" or "host:port") and its log-in, when it wants one.
    std::string smtpserver, smtpuser, smtppassword;
    bool operator==(const PostSettings&) const = default;
};

struct Settings {
    static constexpr std::string_view kMagic = "TLWK";
    static constexpr std::uint8_t kVersion = 3;

    // A record that was never reset has no magic; a run then rebuilds it.
    std::string magic;
    std::uint8_t version = 0;

    RunSettings run;
    CustomFormat custom;
    DateSettings dates;
    AnalysisSettings analysis;
    FilterSettings filters;
    ReportSettings report;
    PostSettings post;

    bool operator==(const Settings&) const = default;
};

}  // namespace tallowick
