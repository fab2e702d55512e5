#include "app/settings_keywords.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <type_traits>

#include "app/settings_file.h"
#include "base/status.h"
#include "logs/dates.h"

namespace tallowick::app {

namespace {

// ---------------------------------------------------------------------------
// Small text helpers

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_blank(char c) { return c == ' ' || c == '\t'; }

bool equals_ci(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (upper(a[i]) != upper(b[i])) return false;
    }
    return true;
}

bool starts_with_ci(std::string_view text, std::string_view word) {
    return text.size() >= word.size() && equals_ci(text.substr(0, word.size()), word);
}

bool contains_ci(std::string_view text, std::string_view word) {
    if (word.size() > text.size()) return false;
    for (std::size_t i = 0; i + word.size() <= text.size(); ++i) {
        if (equals_ci(text.substr(i, word.size()), word)) return true;
    }
    return false;
}

std::string_view strip_line_end(std::string_view s) {
    while (!s.empty() && (s.back() == '\r' || s.back() == '\n')) s.remove_suffix(1);
    return s;
}

// A decimal integer as atoi reads it (leading blanks, a sign, digits; no digits
// gives 0), saturating instead of overflowing.
long read_decimal(std::string_view v) {
    constexpr long kCap = 1'000'000'000'000L;
    std::size_t i = 0;
    while (i < v.size() && is_blank(v[i])) ++i;
    bool negative = false;
    if (i < v.size() && (v[i] == '-' || v[i] == '+')) negative = v[i++] == '-';
    long n = 0;
    for (; i < v.size() && is_digit(v[i]); ++i) {
        n = n * 10 + (v[i] - '0');
        if (n > kCap) {
            n = kCap;
            break;
        }
    }
    return negative ? -n : n;
}

// Leading hexadecimal digits, at most eight of them.
std::uint32_t read_hex(std::string_view v) {
    std::uint32_t n = 0;
    for (std::size_t i = 0; i < v.size() && i < 8; ++i) {
        char c = upper(v[i]);
        int d;
        if (is_digit(c)) d = c - '0';
        else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
        else break;
        n = n * 16 + static_cast<std::uint32_t>(d);
    }
    return n;
}

std::string quoted(std::string_view v) {
    // Long or binary values would make an unreadable message.
    constexpr std::size_t kShown = 60;
    std::string s = "\"";
    for (char c : v.substr(0, kShown)) s += (static_cast<unsigned char>(c) < 32) ? '?' : c;
    if (v.size() > kShown) s += "...";
    s += '"';
    return s;
}

void refuse(const KeywordRow& row, std::string_view why) {
    std::string msg(row.name);
    msg += ": ";
    msg += why;
    ShowError(msg);
}

// ---------------------------------------------------------------------------
// Field accessors: one instantiation per field, so two rows on the same field
// share the same function pointers.

template <auto Group, auto Member>
constexpr FlagField flag() {
    return {[](Settings& s) -> bool& { return (s.*Group).*Member; },
            [](const Settings& s) -> bool { return (s.*Group).*Member; }};
}

template <auto Group, auto Member>
constexpr NumberField number() {
    return {[](const Settings& s) -> long { return static_cast<long>((s.*Group).*Member); },
            [](Settings& s, long v) {
                auto& f = (s.*Group).*Member;
                f = static_cast<std::remove_reference_t<decltype(f)>>(v);
            }};
}

template <auto Group, auto Member>
constexpr TextField text() {
    return {[](Settings& s) -> std::string& { return (s.*Group).*Member; },
            [](const Settings& s) -> const std::string& { return (s.*Group).*Member; }};
}

template <auto Group, auto Member>
constexpr ListField list() {
    return {[](Settings& s) -> SettingsList& { return (s.*Group).*Member; },
            [](const Settings& s) -> const SettingsList& { return (s.*Group).*Member; }};
}

constexpr SpecialField special(void (*apply)(KeywordCall&)) { return {apply}; }

// ---------------------------------------------------------------------------
// Limits

constexpr long kShortText = 255;     // names and URLs
constexpr long kPathText = 4095;     // paths: a POSIX path may be far longer than 255
constexpr long kPatternText = 63;
constexpr long kDateText = 11;
constexpr long kLongText = 8191;     // the e-mail body
constexpr std::size_t kMaxEditPaths = SettingsList::kMaxEntries;
constexpr std::size_t kHeadFileBytes = 6000;
constexpr int kMaxNesting = 8;

// ---------------------------------------------------------------------------
// Word tables

constexpr KeywordWord kDateWords[] = {
    {"all", kDateAll},           {"today", kDateToday},         {"yesterday", kDateYesterday},
    {"thisweek", kDateThisWeek}, {"prevweek", kDatePrevWeek},   {"last7", kDateLast7},
    {"last14", kDateLast14},     {"last21", kDateLast21},       {"last30", kDateLast30},
    {"thismonth", kDateThisMonth}, {"prevmonth", kDatePrevMonth},
    {"thisquart", kDateThisQuarter}, {"prevquart", kDatePrevQuarter},
    {"this6m", kDateThis6m},     {"prev6m", kDatePrev6m},       {"thisyear", kDateThisYear},
    {"prevyear", kDatePrevYear},
};

// The writer uses the first word of a value, so the aliases come last.
constexpr KeywordWord kSortWords[] = {
    {"name", kSortName}, {"size", kSortSize},     {"reqs", kSortReqs},   {"page", kSortPage},
    {"visits", kSortVisits}, {"error", kSortError}, {"date", kSortDate},
    {"none", kSortName}, {"byte", kSortSize},
};

constexpr KeywordWord kVhostSortWords[] = {
    {"name", 0}, {"none", 0}, {"byte", 1}, {"reqs", 2}, {"page", 3}, {"date", 6},
};

constexpr KeywordWord kGraphSortWords[] = {
    {"byte", 0}, {"reqs", 1}, {"both", 2}, {"main", -1},
};

constexpr KeywordWord kStyleWords[] = {{"2d", 0}, {"3d", 1}};

constexpr KeywordWord kOnOffWords[] = {{"on", 1}, {"off", 0}};

constexpr KeywordWord kLanguageFiles[] = {
    {"Language.dat", 0},  {"German.lang", 1},    {"Italian.lang", 2}, {"French.lang", 3},
    {"Spanish.lang", 4},  {"Swedish.lang", 5},   {"Norwegian.lang", 6},
    {"Danish.lang", 7},   {"Dutch.lang", 8},     {"Japanese.lang", 9},
    {"English", 0},
};

using W = StatWord;
constexpr StatWordRow kStatWords[] = {
    // word            flag               table  graph  table default, graph default
    {"daily",          W::daily,          true,  true,  true,  true},
    {"hourly",         W::hourly,         true,  true,  true,  true},
    {"weekly",         W::weekly,         true,  true,  true,  true},
    {"weekdays",       W::weekdays,       true,  true,  true,  true},
    {"monthly",        W::monthly,        true,  true,  false, false},
    {"country",        W::country,        true,  true,  true,  true},
    {"region",         W::region,         true,  true,  true,  true},
    {"client",         W::client,         true,  true,  true,  true},
    {"file",           W::file,           true,  true,  true,  true},
    {"browser",        W::browser,        true,  true,  true,  true},
    {"browservsos",    W::browservsos,    false, true,  false, true},
    {"opersys",        W::opersys,        true,  true,  true,  true},
    {"filetype",       W::filetype,       true,  true,  true,  true},
    {"dir",            W::dir,            true,  true,  true,  true},
    {"groupdir",       W::groupdir,       true,  true,  false, false},
    {"topdir",         W::topdir,         true,  true,  true,  true},
    {"seconddomain",   W::seconddomain,   true,  true,  true,  true},
    {"errors",         W::errors,         true,  true,  true,  true},
    {"errorurl",       W::errorurl,       true,  true,  true,  true},
    {"refer",          W::refer,          true,  true,  true,  true},
    {"refersite",      W::refersite,      true,  true,  true,  true},
    {"pages",          W::pages,          true,  true,  true,  true},
    {"search",         W::search,         true,  true,  true,  false},
    {"searchengine",   W::searchengine,   true,  true,  true,  true},
    {"ascii",          W::ascii,          false, true,  false, false},
    {"download",       W::download,       true,  true,  true,  true},
    {"sessionhistory", W::clientstream,   true,  false, false, false},
    {"clientstream",   W::clientstream,   true,  false, false, false},
    {"meanpath",       W::meanpath,       true,  false, false, false},
    {"sessiondist",    W::sessiondist,    false, true,  false, false},
    {"advert",         W::advert,         true,  true,  false, false},
    {"robot",          W::robot,          true,  true,  true,  true},
    {"circulation",    W::circulation,    true,  true,  false, false},
    {"loyalty",        W::loyalty,        true,  true,  true,  true},
    {"timeon",         W::timeon,         true,  true,  true,  true},
    {"govthistory",    W::govthistory,    true,  true,  true,  true},
    {"clienthistory",  W::clienthistory,  false, true,  false, true},
    {"pagehistory",    W::pagehistory,    false, true,  false, true},
    {"referhistory",   W::referhistory,   false, true,  false, false},
    {"downloadhistory", W::downloadhistory, false, true, false, false},
    {"errorurlhistory", W::errorurlhistory, false, true, false, false},
    {"topdirhistory",  W::topdirhistory,  false, true,  false, false},
};

constexpr std::string_view kStatWriteOrder[] = {
    "daily", "hourly", "weekly", "weekdays", "monthly", "country", "region", "client",
    "file", "browser", "opersys", "filetype", "dir", "groupdir", "topdir", "seconddomain",
    "errors", "errorurl", "refer", "refersite", "pages", "search", "searchengine",
    "sessionhistory", "govthistory", "clientstream", "download", "advert", "meanpath",
    "robot", "circulation", "loyalty", "timeon",
};

constexpr std::string_view kGraphWriteOrder[] = {
    "daily", "hourly", "weekly", "weekdays", "monthly", "country", "region", "file",
    "browser", "browservsos", "opersys", "filetype", "dir", "groupdir", "topdir", "client",
    "seconddomain", "errors", "errorurl", "refer", "refersite", "pages", "search",
    "searchengine", "ascii", "download", "sessiondist", "advert", "robot", "circulation",
    "loyalty", "timeon", "clienthistory", "pagehistory", "referhistory", "downloadhistory",
    "errorurlhistory", "topdirhistory", "govthistory",
};

// ---------------------------------------------------------------------------
// Steps after a value is stored

void recompute_dates(Settings& s) { logs::recompute_date_range(s.dates); }

void explicit_dates(Settings& s) {
    s.dates.mode = kDateExplicit;
    logs::recompute_date_range(s.dates);
}

// "sdate" / "edate": a date that cannot be read is refused, never taken as today.
void apply_date(KeywordCall& call);

// ---------------------------------------------------------------------------
// Special keywords

std::optional<std::string_view> first_value(const KeywordCall& call) {
    if (call.values.empty()) return std::nullopt;
    return call.values.front();
}

// The value of a rest-of-line keyword: the rest of a file line, else the next token.
std::optional<std::string_view> line_value(const KeywordCall& call) {
    if (call.values.empty()) return std::nullopt;
    return call.line_value ? *call.line_value : call.values.front();
}

void apply_stat_word(KeywordCall& call, bool graph) {
    auto word = first_value(call);
    if (!word) return;
    const bool on = call.token.front() == '+';
    const StatWordRow* w = find_stat_word(*word);
    if (!w || !(graph ? w->graph : w->table)) {
        refuse(call.row, std::string(graph ? "unknown graph " : "unknown statistic ") +
                             quoted(*word) + ", ignored");
        return;
    }
    Settings& s = call.ctx.settings;
    (graph ? s.report.graph : s.report.stat).set(w->flag, on);
    // Client streams, mean paths and the session distribution all need the
    // sessions of each client, which session tracking collects.
    if (w->flag == StatWord::clientstream || w->flag == StatWord::meanpath ||
        w->flag == StatWord::sessiondist) {
        s.analysis.session_tracking = on;
    }
}

void apply_stat(KeywordCall& call) { apply_stat_word(call, false); }
void apply_graph(KeywordCall& call) { apply_stat_word(call, true); }

void open_html_block(KeywordCall& call, KeywordBlockState::Kind kind, std::string& text) {
    text.clear();
    // A block is made of the lines that follow in the file; the command line has none.
    if (!call.from_file) return;
    call.ctx.block.clear();
    call.ctx.block.kind = kind;
}

void apply_htmlhead(KeywordCall& call) {
    open_html_block(call, KeywordBlockState::Kind::html_head, call.ctx.settings.report.htmlhead);
}
void apply_htmlfoot(KeywordCall& call) {
    open_html_block(call, KeywordBlockState::Kind::html_foot, call.ctx.settings.report.htmlfoot);
}

void apply_path_block(KeywordCall& call) {
    if (!call.from_file) return;
    call.ctx.block.clear();
    call.ctx.block.kind = KeywordBlockState::Kind::path;
}

void add_edit_path(KeywordContext& ctx, std::string_view keyword, std::string_view site,
                   std::string_view dir) {
    auto& paths = ctx.settings.run.editpath;
    std::string msg(keyword);
    if (paths.size() >= kMaxEditPaths) {
        ShowError(msg + ": already " + std::to_string(kMaxEditPaths) + " mappings, " +
                  quoted(site) + " not added");
    } else if (site.size() > kShortText || dir.size() > kPathText) {
        ShowError(msg + ": site or folder too long, " + quoted(site) + " not added");
    } else {
        paths.push_back({std::string(site), std::string(dir)});
    }
}

void apply_editpath(KeywordCall& call) {
    if (call.values.size() < 2) return;
    add_edit_path(call.ctx, call.row.name, call.values[0], call.values[1]);
}

void apply_rgb(KeywordCall& call) {
    if (call.values.size() < 2) return;
    auto& report = call.ctx.settings.report;
    const long n = read_decimal(call.values[0]);
    if (n < 1 || n > static_cast<long>(report.colours.size())) {
        refuse(call.row, "colour number " + quoted(call.values[0]) + " is not 1 to 6, ignored");
        return;
    }
    report.colours[static_cast<std::size_t>(n - 1)] = read_hex(call.values[1]);
    report.colour_marker = ReportSettings::kColourMarker;
}

void apply_data_index(KeywordCall& call) {
    if (call.values.size() < 2) return;
    auto& table = call.ctx.settings.custom.data_index;
    const long i = read_decimal(call.values[0]);
    if (i < 0 || i >= static_cast<long>(table.size())) {
        refuse(call.row, "entry " + quoted(call.values[0]) + " is not 0 to " +
                             std::to_string(table.size() - 1) + ", ignored");
        return;
    }
    const long j = read_decimal(call.values[1]);
    if (j < -1 || j > 255) {
        refuse(call.row, "position " + quoted(call.values[1]) + " out of range, ignored");
        return;
    }
    table[static_cast<std::size_t>(i)] = static_cast<int>(j);
}

// The stored form of the password turns each byte b into (-b - 97) mod 256; the
// rule is its own inverse, so it both hides and reveals.
std::string flip_password(std::string_view v) {
    std::string out(v);
    for (char& c : out) {
        const unsigned b = static_cast<unsigned char>(c);
        c = static_cast<char>(static_cast<unsigned char>((0u - b - 97u) & 0xffu));
    }
    return out;
}

void apply_stored_password(KeywordCall& call) {
    auto v = first_value(call);
    if (!v) return;
    if (v->size() > static_cast<std::size_t>(kShortText)) {
        refuse(call.row, "value too long, ignored");
        return;
    }
    call.ctx.settings.run.remotelogin_passwd = flip_password(*v);
}

void apply_dollar(KeywordCall& call) {
    auto v = first_value(call);
    if (!v) return;
    const std::string text(*v);
    const double d = std::strtod(text.c_str(), nullptr);
    if (!std::isfinite(d) || std::fabs(d) > 1e12) {
        refuse(call.row, "value " + quoted(*v) + " out of range, ignored");
        return;
    }
    // Thousandths, truncated; the nudge keeps 0.29 (really 0.28999...) at 290.
    call.ctx.settings.analysis.dollar =
        static_cast<long>(std::trunc(d * 1000.0 + (d >= 0 ? 1e-6 : -1e-6)));
}

void apply_emailmsg(KeywordCall& call) {
    auto v = line_value(call);
    if (!v) return;
    if (v->size() > static_cast<std::size_t>(kLongText)) {
        refuse(call.row, "message longer than " + std::to_string(kLongText) +
                             " characters, ignored");
        return;
    }
    // The file holds the body on one line with "\n" for each line break.
    std::string body;
    for (std::size_t i = 0; i < v->size(); ++i) {
        if ((*v)[i] == '\\' && i + 1 < v->size() && (*v)[i + 1] == 'n') {
            body += "\r\n";
            ++i;
        } else {
            body += (*v)[i];
        }
    }
    call.ctx.settings.post.post_emailmsg = std::move(body);
}

void read_html_file(KeywordCall& call, std::string& target) {
    auto v = first_value(call);
    if (!v) return;
    const std::string path(*v);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!f) {
        refuse(call.row, "cannot open " + path + ": " + std::strerror(errno));
        return;
    }
    std::string content(kHeadFileBytes, '\0');
    content.resize(std::fread(content.data(), 1, content.size(), f.get()));
    // A folder opens like a file and fails on the first read.
    if (std::ferror(f.get())) {
        refuse(call.row, "cannot read " + path + ": " + std::strerror(errno));
        return;
    }
    target = std::move(content);
}

void apply_head_file(KeywordCall& call) { read_html_file(call, call.ctx.settings.report.htmlhead); }
void apply_foot_file(KeywordCall& call) { read_html_file(call, call.ctx.settings.report.htmlfoot); }

void apply_log(KeywordCall& call) {
    auto v = line_value(call);
    if (!v || v->empty()) return;
    // An empty folder adds nothing; a pattern that matches nothing is refused, as
    // a run without the logs the user meant would report on the wrong data.
    const bool was_full = call.ctx.logs.size() >= logs::LogList::kMaxEntries;
    const auto names = logs::LogNameContext::for_run(call.ctx.settings.dates,
                                                     call.ctx.settings.run.siteurl);
    const bool matched = call.ctx.logs.add_from_setting(*v, &names);
    if (was_full) refuse(call.row, "the log list is full, " + quoted(*v) + " not added");
    else if (!matched) refuse(call.row, "no log file matches " + quoted(*v));
}

// Settings files that name settings files: bounded, so a file naming itself stops.
template <bool (*Read)(KeywordContext&, const std::string&)>
void apply_nested_file(KeywordCall& call) {
    auto v = first_value(call);
    if (!v) return;
    if (call.ctx.nesting >= kMaxNesting) {
        refuse(call.row, "settings files nested too deep, " + quoted(*v) + " not read");
        return;
    }
    // The inner file has its own blocks; the outer line that names it is not in one.
    KeywordBlockState outer = call.ctx.block;
    ++call.ctx.nesting;
    Read(call.ctx, std::string(*v));
    --call.ctx.nesting;
    call.ctx.block = outer;
}

void apply_date(KeywordCall& call) {
    auto v = first_value(call);
    if (!v) return;
    const bool readable = v->size() <= static_cast<std::size_t>(call.row.max) &&
                          (logs::read_date_text(*v) || logs::read_date_word(*v));
    if (!readable) {
        refuse(call.row, quoted(*v) + " is not a date; give " + logs::short_date_form() +
                             " (the order of the locale), YYYY-MM-DD, DD/Mon/YYYY or a date "
                             "word such as today or prevmonth");
        return;
    }
    DateSettings& dates = call.ctx.settings.dates;
    (call.row.name == "sdate" ? dates.sdate : dates.edate).assign(*v);
    explicit_dates(call.ctx.settings);
}

// ---------------------------------------------------------------------------
// Writers of their own

void write_line(std::string& out, std::string_view name, std::string_view value) {
    out += name;
    out += ' ';
    out += value;
    out += '\n';
}

void write_explicit_date(const KeywordRow& row, const Settings& s, std::string& out) {
    if (s.dates.mode != kDateExplicit) return;
    write_line(out, row.name, row.name == "sdate" ? s.dates.sdate : s.dates.edate);
}

void write_stat_words(const KeywordRow&, const Settings& s, std::string& out) {
    for (std::string_view word : kStatWriteOrder) {
        const StatWordRow* w = find_stat_word(word);
        const bool on = word == "sessionhistory" ? s.analysis.session_tracking : s.report.stat[w->flag];
        write_line(out, on ? "+stat" : "-stat", word);
    }
}

void write_graph_words(const KeywordRow&, const Settings& s, std::string& out) {
    for (std::string_view word : kGraphWriteOrder) {
        const StatWordRow* w = find_stat_word(word);
        write_line(out, s.report.graph[w->flag] ? "+graph" : "-graph", word);
    }
}

void write_dollar(const KeywordRow& row, const Settings& s, std::string& out) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.2lf", static_cast<double>(s.analysis.dollar) / 1000.0);
    write_line(out, row.name, buf);
}

void write_post_email(const KeywordRow& row, const Settings& s, std::string& out) {
    if (s.post.post_email.size() > 1) write_line(out, row.name, s.post.post_email);
}

void write_emailmsg(const KeywordRow& row, const Settings& s, std::string& out) {
    const std::string& body = s.post.post_emailmsg;
    if (body.size() <= 1) return;
    std::string line;
    for (char c : body) {
        if (c == '\r') line += "\\n";
        else if (c != '\n') line += c;
    }
    write_line(out, row.name, line);
}

void write_colours(const KeywordRow& row, const Settings& s, std::string& out) {
    for (std::size_t i = 0; i < s.report.colours.size(); ++i) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%zu %06lx", i + 1,
                      static_cast<unsigned long>(s.report.colours[i]));
        write_line(out, row.name, buf);
    }
}

void write_html_block(std::string_view name, const std::string& text, std::string& out) {
    out += name;
    out += '\n';
    out += text;
    // The block's lines are stored with CR LF, so the text usually ends with a line
    // break already; another one would be read back as an extra empty line.
    if (!text.empty() && text.back() != '\n') out += '\n';
    out += "<HTMLEND>\n\n";
}

void write_htmlhead(const KeywordRow& row, const Settings& s, std::string& out) {
    write_html_block(row.name, s.report.htmlhead, out);
}
void write_htmlfoot(const KeywordRow& row, const Settings& s, std::string& out) {
    write_html_block(row.name, s.report.htmlfoot, out);
}

// ---------------------------------------------------------------------------
// The table, in the writer's order.

using T = KeywordType;
using R = WriteRule;
using Run = RunSettings;
using Ana = AnalysisSettings;
using Rep = ReportSettings;
using Flt = FilterSettings;
using Pst = PostSettings;
using Cst = CustomFormat;
constexpr auto kRun = &Settings::run;
constexpr auto kAna = &Settings::analysis;
constexpr auto kRep = &Settings::report;
constexpr auto kFlt = &Settings::filters;
constexpr auto kPst = &Settings::post;
constexpr auto kCst = &Settings::custom;
constexpr auto kDat = &Settings::dates;

constexpr KeywordRow kKeywords[] = {
    // Dates: "date n" for a named range, else the two texts.
    {.name = "date", .type = T::number, .field = number<kDat, &DateSettings::mode>(),
     .min = kDateExplicit, .max = kDatePrevYear, .words = kDateWords, .write = R::when_set,
     .after = recompute_dates},
    {.name = "sdate", .field = special(apply_date), .max = kDateText, .write = R::special,
     .writer = write_explicit_date},
    {.name = "edate", .field = special(apply_date), .max = kDateText, .write = R::special,
     .writer = write_explicit_date},

    // Name look-up.
    {.name = "dnsoff", .aliases = {"-dns"}, .type = T::set_number,
     .field = number<kAna, &Ana::dns_mode>(), .constant = kDnsOff, .write = R::when_set},
    {.name = "dnson", .aliases = {"+dns"}, .type = T::set_number,
     .field = number<kAna, &Ana::dns_mode>(), .constant = kDnsOn, .write = R::when_set},
    {.name = "dnscache", .type = T::set_number, .field = number<kAna, &Ana::dns_mode>(),
     .constant = kDnsCache, .write = R::when_set},
    {.name = "dnsAmount", .type = T::number, .field = number<kAna, &Ana::dns_amount>(),
     .min = 0, .max = 10000, .over_max = 50, .write = R::always},
    {.name = "dnsserver", .type = T::text, .field = text<kAna, &Ana::dns_server>(),
     .max = kShortText, .write = R::when_set},
    {.name = "dnswait", .type = T::number, .field = number<kAna, &Ana::dns_wait>(), .min = 0,
     .max = 3600, .write = R::always},
    {.name = "geoip", .type = T::number, .field = number<kAna, &Ana::geoip>(), .min = 0, .max = 1,
     .words = kOnOffWords, .digit_first = true, .write = R::word},
    {.name = "geoipdb", .type = T::text, .field = text<kAna, &Ana::geoipdb>(), .max = kPathText,
     .write = R::when_set},
    {.name = "threads", .type = T::number, .field = number<kAna, &Ana::threads>(), .min = 1,
     .max = 2, .over_max = 2, .write = R::always},

    {.name = "ignoreself", .type = T::set_flag, .field = flag<kAna, &Ana::ignoreself>(),
     .write = R::when_set},
    {.name = "ignorebookmark", .type = T::set_flag, .field = flag<kAna, &Ana::ignorebookmark>(),
     .write = R::when_set},
    {.name = "ignorecase", .type = T::set_flag, .field = flag<kAna, &Ana::ignorecase>(),
     .write = R::when_set},
    {.name = "ignoreipvhosts", .type = T::set_flag, .field = flag<kAna, &Ana::ignoreipvhosts>(),
     .write = R::when_set},
    {.name = "ignoreusernames", .type = T::set_flag,
     .field = flag<kAna, &Ana::ignoreusernames>(), .write = R::when_set},
    {.name = "usecgi", .type = T::set_flag, .field = flag<kAna, &Ana::usecgi>(),
     .write = R::when_set},
    {.name = "+f0", .aliases = {"filterzero"}, .type = T::set_flag,
     .field = flag<kAna, &Ana::filterzero>(), .constant = 1, .write = R::when_set},
    {.name = "-f0", .aliases = {"includezero"}, .type = T::set_flag,
     .field = flag<kAna, &Ana::filterzero>(), .constant = 0, .write = R::when_set},

    {.name = "sort", .type = T::number, .field = number<kRep, &Rep::sort>(), .min = 0,
     .max = kSortDate, .words = kSortWords, .digit_first = true, .write = R::word},
    {.name = "out", .aliases = {"-d", "-o"}, .type = T::line_text,
     .field = text<kRun, &Run::out>(), .max = kPathText, .write = R::always},
    {.name = "language", .type = T::number, .field = number<kRun, &Run::language>(), .min = 0,
     .max = 9, .words = kLanguageFiles, .match = WordMatch::contains, .digit_first = true,
     .write = R::always},
    {.name = "siteurl", .type = T::text, .field = text<kRun, &Run::siteurl>(), .max = kShortText,
     .write = R::always},
    {.name = "indexfile", .type = T::text, .field = text<kRun, &Run::indexfile>(),
     .max = kShortText, .write = R::when_set},

    {.name = "filterurlcase", .type = T::set_flag, .field = flag<kFlt, &Flt::url_case>(),
     .write = R::when_set},
    {.name = "filterclientcase", .aliases = {"filtersitecase"}, .type = T::set_flag,
     .field = flag<kFlt, &Flt::site_case>(), .write = R::when_set},
    {.name = "filterreferalcase", .type = T::set_flag, .field = flag<kFlt, &Flt::referal_case>(),
     .write = R::when_set},
    {.name = "filteragentcase", .type = T::set_flag, .field = flag<kFlt, &Flt::agent_case>(),
     .write = R::when_set},
    {.name = "filterorlogic", .type = T::set_flag, .field = flag<kFlt, &Flt::or_logic>(),
     .write = R::when_set},

    {.name = "filterurl", .type = T::list, .field = list<kFlt, &Flt::url>(), .write = R::always},
    {.name = "filtersite", .aliases = {"filterclient", "filterhost"}, .type = T::list,
     .field = list<kFlt, &Flt::site>(), .write = R::always},
    {.name = "filtersource", .type = T::list, .field = list<kFlt, &Flt::source>(),
     .write = R::always},
    {.name = "filterbrowser", .type = T::list, .field = list<kFlt, &Flt::browser>(),
     .write = R::always},
    {.name = "filterreferal", .aliases = {"filtereferal"}, .type = T::list,
     .field = list<kFlt, &Flt::referal>(), .write = R::always},
    {.name = "internalnetwork", .type = T::list, .field = list<kFlt, &Flt::internalnetwork>(),
     .write = R::always},
    {.name = "orgmap", .type = T::line_list, .field = list<kAna, &Ana::orgmap>(),
     .write = R::always, .replaces_default = true},
    {.name = "groupdir", .type = T::line_list, .field = list<kAna, &Ana::groupdir>(),
     .write = R::always},
    {.name = "vhostmap", .type = T::list, .field = list<kRun, &Run::vhostmap>(),
     .write = R::always},
    {.name = "notifyrules", .type = T::line_list, .field = list<kRep, &Rep::notifyrules>(),
     .write = R::always},

    {.name = "+stat", .aliases = {"-stat", "stat"}, .field = special(apply_stat),
     .write = R::special, .writer = write_stat_words},
    {.name = "+graph", .aliases = {"-graph", "graph"}, .field = special(apply_graph),
     .write = R::special, .writer = write_graph_words},

    {.name = "recentdaily", .type = T::number, .field = number<kRep, &Rep::recentdaily>(),
     .min = 0, .max = 36500, .write = R::always},
    {.name = "timestat", .type = T::set_flag, .field = flag<kRep, &Rep::timestat>(),
     .constant = 1, .write = R::when_set},
    {.name = "notimestat", .type = T::set_flag, .field = flag<kRep, &Rep::timestat>(),
     .constant = 0, .write = R::when_set},
    {.name = "bandwidth", .type = T::set_flag, .field = flag<kRep, &Rep::bandwidth>(),
     .constant = 1, .write = R::when_set},
    {.name = "nobandwidth", .type = T::set_flag, .field = flag<kRep, &Rep::bandwidth>(),
     .constant = 0, .write = R::when_set},
    {.name = "remotetitle", .type = T::set_flag, .field = flag<kRep, &Rep::remotetitle>(),
     .constant = 1, .write = R::when_set},
    {.name = "headtitle", .type = T::set_flag, .field = flag<kRep, &Rep::headtitle>(),
     .constant = 1, .write = R::when_set},
    {.name = "noheadtitle", .type = T::set_flag, .field = flag<kRep, &Rep::headtitle>(),
     .constant = 0, .write = R::when_set},

    {.name = "graphsort", .aliases = {"graphaxis"}, .type = T::number,
     .field = number<kRep, &Rep::graphsort>(), .min = -1, .max = 2, .words = kGraphSortWords,
     .digit_first = true, .write = R::word},
    {.name = "style", .type = T::number, .field = number<kRep, &Rep::style>(), .min = 0,
     .max = 255, .words = kStyleWords, .write = R::always},
    {.name = "webpalette", .type = T::set_flag, .field = flag<kRep, &Rep::webpalette>(),
     .write = R::when_set},
    {.name = "wider", .type = T::set_flag, .field = flag<kRep, &Rep::wider>(),
     .write = R::when_set},
    {.name = "forceddmm", .type = T::set_flag, .field = flag<kAna, &Ana::forceddmm>(),
     .write = R::when_set},
    {.name = "savedatafile", .type = T::line_text,
     .field = text<kAna, &Ana::savedatafile>(), .max = kPathText, .write = R::when_set},
    {.name = "salvagedata", .type = T::set_flag, .field = flag<kAna, &Ana::salvagedata>(),
     .write = R::when_set},
    {.name = "savedata", .type = T::set_flag, .field = flag<kAna, &Ana::savedata>(),
     .write = R::when_set},
    {.name = "statdepth", .type = T::number, .field = number<kRep, &Rep::statdepth>(), .min = 0,
     .max = 32767, .write = R::always},
    {.name = "dollar", .field = special(apply_dollar), .write = R::special,
     .writer = write_dollar},
    {.name = "sessiontime", .type = T::number, .field = number<kAna, &Ana::sessiontime>(),
     .min = 0, .max = 255, .write = R::always},

    {.name = "hitpattern", .type = T::text, .field = text<kAna, &Ana::hitpattern>(),
     .max = kPatternText, .write = R::when_set},
    {.name = "clickpattern", .type = T::text, .field = text<kAna, &Ana::clickpattern>(),
     .max = kPatternText, .write = R::when_set},
    // HTML, RTF or comma-delimited; GIF, JPEG, PNG or BMP.
    {.name = "reportformat", .type = T::number, .field = number<kRep, &Rep::reportformat>(),
     .min = 0, .max = 2, .write = R::when_set},
    {.name = "imageformat", .type = T::number, .field = number<kRep, &Rep::imageformat>(),
     .min = 0, .max = 3, .write = R::when_set},
    {.name = "postproclocation", .type = T::text, .field = text<kPst, &Pst::postproclocation>(),
     .max = kPathText, .write = R::when_set},
    {.name = "archive", .type = T::set_flag, .field = flag<kPst, &Pst::archive>(),
     .write = R::when_set},
    {.name = "compresslog", .type = T::set_flag, .field = flag<kPst, &Pst::compresslog>(),
     .write = R::when_set},
    {.name = "sendto", .type = T::set_flag, .field = flag<kPst, &Pst::sendto>(),
     .write = R::when_set},
    {.name = "delete_report", .type = T::set_flag, .field = flag<kPst, &Pst::delete_report>(),
     .write = R::when_set},
    {.name = "post_email", .type = T::text, .field = text<kPst, &Pst::post_email>(),
     .max = kShortText, .write = R::special, .writer = write_post_email},
    {.name = "post_emailmsg", .field = special(apply_emailmsg), .write = R::special,
     .writer = write_emailmsg},
    {.name = "smtpserver", .type = T::text, .field = text<kPst, &Pst::smtpserver>(),
     .max = kShortText, .write = R::when_set},
    {.name = "smtpuser", .type = T::text, .field = text<kPst, &Pst::smtpuser>(),
     .max = kShortText, .write = R::when_set},
    {.name = "smtppassword", .type = T::text, .field = text<kPst, &Pst::smtppassword>(),
     .max = kShortText, .write = R::when_set},

    {.name = "rgb", .field = special(apply_rgb), .write = R::special, .writer = write_colours},
    {.name = "htmlhead", .field = special(apply_htmlhead), .write = R::special,
     .writer = write_htmlhead},
    {.name = "htmlfoot", .field = special(apply_htmlfoot), .write = R::special,
     .writer = write_htmlfoot},

    // Read but never written: date shortcuts, logs, run modes, remote control,
    // notices, the custom format, host paths, HTML files and settings files.
    {.name = "alldates", .aliases = {"ad"}, .type = T::set_number,
     .field = number<kDat, &DateSettings::mode>(), .constant = kDateAll, .after = recompute_dates},
    {.name = "noremotetitle", .type = T::set_flag, .field = flag<kRep, &Rep::remotetitle>(),
     .constant = 0},
    {.name = "log", .aliases = {"-l"}, .field = special(apply_log)},
    {.name = "multidomains", .type = T::set_number, .field = number<kRun, &Run::multidomains>(),
     .constant = 2000},
    // Each split mode keeps its own number of the shared 1, 2, 3 scheme.
    {.name = "multivhosts", .type = T::set_number, .field = number<kRun, &Run::multivhosts>(),
     .constant = 1},
    {.name = "multitopdirs", .type = T::set_number, .field = number<kRun, &Run::multitopdirs>(),
     .constant = 2},
    {.name = "multitop2dirs", .type = T::set_number,
     .field = number<kRun, &Run::multitop2dirs>(), .constant = 3},
    {.name = "multimonths", .type = T::set_number, .field = number<kRun, &Run::multimonths>(),
     .constant = 1},
    {.name = "multiweeks", .type = T::set_number, .field = number<kRun, &Run::multiweeks>(),
     .constant = 2},
    {.name = "sequencedir", .type = T::set_flag, .field = flag<kRun, &Run::sequencedir>()},
    {.name = "VDsortby", .type = T::number, .field = number<kRun, &Run::vd_sortby>(), .min = 0,
     .max = kSortDate, .words = kVhostSortWords, .digit_first = true},
    {.name = "streaming", .type = T::set_flag, .field = flag<kRun, &Run::streaming>()},
    {.name = "daemontime", .type = T::number, .field = number<kRun, &Run::daemontime>(),
     .min = 0},
    {.name = "daemonrehash", .type = T::number, .field = number<kRun, &Run::daemonrehash>(),
     .min = 0},
    {.name = "remotelogin_port", .type = T::number,
     .field = number<kRun, &Run::remotelogin_port>(), .min = 0, .max = 65535},
    {.name = "remotelogin_passwd", .field = special(apply_stored_password)},
    {.name = "remotelogin_pass", .type = T::text, .field = text<kRun, &Run::remotelogin_passwd>(),
     .max = kShortText},
    {.name = "remoteloginon", .aliases = {"server", "daemon"}, .type = T::set_flag,
     .field = flag<kRun, &Run::remoteloginon>()},
    {.name = "remotelogin_addr", .type = T::text, .field = text<kRun, &Run::remotelogin_addr>(),
     .max = kShortText},
    {.name = "remotelogin_timeout", .type = T::number,
     .field = number<kRun, &Run::remotelogin_timeout>(), .min = 1, .max = 86400},
    {.name = "remotelogin_wait", .type = T::number,
     .field = number<kRun, &Run::remotelogin_wait>(), .min = 0, .max = 86400},
    {.name = "remote_programs", .type = T::text, .field = text<kRun, &Run::remote_programs>(),
     .max = kShortText},
    {.name = "http_port", .type = T::number, .field = number<kRun, &Run::http_port>(), .min = 0,
     .max = 65535},
    {.name = "http_addr", .type = T::text, .field = text<kRun, &Run::http_addr>(),
     .max = kShortText},
    {.name = "notify_type", .type = T::number, .field = number<kRun, &Run::notify_type>(),
     .min = 0, .max = 255},
    {.name = "notify_dest", .type = T::text, .field = text<kRun, &Run::notify_dest>(),
     .max = kShortText},
    {.name = "notify_folder", .type = T::text, .field = text<kRun, &Run::notify_folder>(),
     .max = kPathText},
    {.name = "usecustomformat", .type = T::set_flag, .field = flag<kCst, &Cst::use>()},
    {.name = "custom_seperator", .type = T::number, .field = number<kCst, &Cst::separator>(),
     .min = 0, .max = 255, .digit_first = true},
    // The date and time layouts of docs/custom-format.md.
    {.name = "custom_dateformat", .type = T::number, .field = number<kCst, &Cst::dateformat>(),
     .min = 0, .max = 6},
    {.name = "custom_timeformat", .type = T::number, .field = number<kCst, &Cst::timeformat>(),
     .min = 0, .max = 2},
    {.name = "custom_dataIndex", .field = special(apply_data_index)},
    {.name = "editpath", .field = special(apply_editpath)},
    {.name = "PATH", .field = special(apply_path_block)},
    {.name = "head", .field = special(apply_head_file)},
    {.name = "foot", .field = special(apply_foot_file)},
    {.name = "settingsfile", .aliases = {"-r"}, .field = special(apply_nested_file<LoadSettingsFile>)},
    {.name = "prefsfile", .aliases = {"-p"}, .field = special(apply_nested_file<ReadSettingsText>)},
};

// ---------------------------------------------------------------------------
// Applying a row

std::optional<long> number_value(const KeywordRow& row, std::string_view v) {
    if (row.digit_first && is_digit(v.front())) return read_decimal(v);
    if (!row.words.empty()) {
        for (const KeywordWord& w : row.words) {
            const bool hit = row.match == WordMatch::contains ? contains_ci(v, w.word)
                                                              : starts_with_ci(v, w.word);
            if (hit) return w.value;
        }
        if (row.match == WordMatch::contains) {
            // A name as the usage text offers it: "German", "Norw", "Japan".
            for (const KeywordWord& w : row.words)
                if (v.size() >= 3 && starts_with_ci(w.word, v)) return w.value;
            return std::nullopt;
        }
        if (row.digit_first) return std::nullopt;          // neither a number nor a word
    }
    return read_decimal(v);
}

void apply_number(KeywordCall& call, const NumberField& field) {
    auto v = first_value(call);
    if (!v || v->empty()) return;
    const KeywordRow& row = call.row;
    std::optional<long> n = number_value(row, *v);
    if (!n) {
        refuse(row, "unknown value " + quoted(*v) + ", ignored");
        return;
    }
    if (*n > row.max && row.over_max) {
        n = *row.over_max;
    } else if (*n < row.min || *n > row.max) {
        refuse(row, "value " + quoted(*v) + " is not " + std::to_string(row.min) + " to " +
                        std::to_string(row.max) + ", ignored");
        return;
    }
    field.set(call.ctx.settings, *n);
    if (row.after) row.after(call.ctx.settings);
}

void apply_text(KeywordCall& call, const TextField& field, std::optional<std::string_view> v) {
    if (!v) return;
    if (v->size() > static_cast<std::size_t>(call.row.max)) {
        refuse(call.row, "value longer than " + std::to_string(call.row.max) +
                             " characters, ignored");
        return;
    }
    field.ref(call.ctx.settings).assign(v->data(), v->size());
    if (call.row.after) call.row.after(call.ctx.settings);
}

void apply_list(KeywordCall& call, const ListField& field, std::optional<std::string_view> v) {
    if (!v) return;
    SettingsList& list = field.ref(call.ctx.settings);
    if (call.row.replaces_default && call.ctx.replace_default_orgmap) {
        list.clear();
        call.ctx.replace_default_orgmap = false;
    }
    switch (list.add(*v)) {
        case SettingsList::AddResult::added:
            break;
        case SettingsList::AddResult::list_full:
            refuse(call.row, "the list already holds " +
                                 std::to_string(SettingsList::kMaxEntries) + " entries, " +
                                 quoted(*v) + " not added");
            break;
        case SettingsList::AddResult::too_long:
            refuse(call.row, "entry longer than " +
                                 std::to_string(SettingsList::kMaxEntryLength) +
                                 " characters not added: " + quoted(*v));
            break;
    }
}

void apply_row(KeywordCall& call) {
    const KeywordRow& row = call.row;
    Settings& s = call.ctx.settings;
    switch (row.type) {
        case T::set_flag:
            std::get<FlagField>(row.field).ref(s) = row.constant != 0;
            if (row.after) row.after(s);
            return;
        case T::set_number:
            std::get<NumberField>(row.field).set(s, row.constant);
            if (row.after) row.after(s);
            return;
        case T::number:
            apply_number(call, std::get<NumberField>(row.field));
            return;
        case T::text:
            apply_text(call, std::get<TextField>(row.field), first_value(call));
            return;
        case T::line_text:
            apply_text(call, std::get<TextField>(row.field), line_value(call));
            return;
        case T::list:
            apply_list(call, std::get<ListField>(row.field), first_value(call));
            return;
        case T::line_list:
            apply_list(call, std::get<ListField>(row.field), line_value(call));
            return;
        case T::special:
            std::get<SpecialField>(row.field).apply(call);
            return;
    }
}

// One line inside an open HTML or PATH block.
void block_line(KeywordContext& ctx, std::span<const std::string_view> tokens,
                std::string_view raw) {
    KeywordBlockState& block = ctx.block;
    raw = strip_line_end(raw);
    if (block.kind == KeywordBlockState::Kind::path) {
        if (!block.have_path_site) {
            block.path_site.assign(raw);
            block.have_path_site = true;
        } else {
            std::string site = std::move(block.path_site);
            block.clear();
            add_edit_path(ctx, "PATH", site, raw);
        }
        return;
    }
    const bool head = block.kind == KeywordBlockState::Kind::html_head;
    if (!tokens.empty() && equals_ci(tokens.front(), "<HTMLEND>")) {
        block.clear();
        return;
    }
    if (raw.empty() && ++block.empty_lines >= 2) {
        block.clear();
        return;
    }
    std::string& text = head ? ctx.settings.report.htmlhead : ctx.settings.report.htmlfoot;
    if (text.size() + raw.size() + 2 > ReportSettings::kHtmlBlockMax) {
        if (!block.overflow_reported) {
            ShowError(std::string(head ? "htmlhead" : "htmlfoot") +
                      ": the block is longer than " +
                      std::to_string(ReportSettings::kHtmlBlockMax) +
                      " characters; the rest of it is left out");
            block.overflow_reported = true;
        }
        return;
    }
    text.append(raw);
    text.append("\r\n");
}

// The rest of a settings-file line after its keyword and the space that follows.
std::string_view rest_of_line(std::string_view raw) {
    raw = strip_line_end(raw);
    std::size_t i = 0;
    while (i < raw.size() && is_blank(raw[i])) ++i;
    while (i < raw.size() && !is_blank(raw[i])) ++i;
    return i < raw.size() ? raw.substr(i + 1) : std::string_view{};
}

bool row_has_name(const KeywordRow& row, std::string_view token) {
    if (equals_ci(row.name, token)) return true;
    for (std::string_view alias : row.aliases) {
        if (!alias.empty() && equals_ci(alias, token)) return true;
    }
    return false;
}

// The generic writer of the table's plain rows.
void write_row(const KeywordRow& row, const Settings& s, std::string& out) {
    switch (row.write) {
        case R::never:
            return;
        case R::special:
            row.writer(row, s, out);
            return;
        default:
            break;
    }
    if (const auto* f = std::get_if<FlagField>(&row.field)) {
        if (f->get(s) == (row.constant != 0)) {
            out += row.name;
            out += '\n';
        }
    } else if (const auto* n = std::get_if<NumberField>(&row.field)) {
        const long v = n->get(s);
        if (row.type == T::set_number) {
            if (v == row.constant) {
                out += row.name;
                out += '\n';
            }
        } else if (row.write == R::word) {
            for (const KeywordWord& w : row.words) {
                if (w.value == v) {
                    write_line(out, row.name, w.word);
                    break;
                }
            }
        } else if (row.write == R::always || v != 0) {
            write_line(out, row.name, std::to_string(v));
        }
    } else if (const auto* t = std::get_if<TextField>(&row.field)) {
        const std::string& v = t->get(s);
        if (row.write == R::always || !v.empty()) write_line(out, row.name, v);
    } else if (const auto* l = std::get_if<ListField>(&row.field)) {
        for (const std::string& entry : l->get(s).entries()) write_line(out, row.name, entry);
    }
}

}  // namespace

std::span<const KeywordRow> keyword_table() { return kKeywords; }

const KeywordRow* find_keyword(std::string_view token) {
    if (token.empty()) return nullptr;
    for (const KeywordRow& row : kKeywords) {
        if (row_has_name(row, token)) return &row;
    }
    // On the command line a keyword may carry a leading "-" or "+".
    if (token.size() > 1 && (token.front() == '-' || token.front() == '+')) {
        const std::string_view bare = token.substr(1);
        for (const KeywordRow& row : kKeywords) {
            if (row_has_name(row, bare)) return &row;
        }
    }
    return nullptr;
}

std::size_t keyword_value_count(const KeywordRow& row) {
    switch (row.type) {
        case T::set_flag:
        case T::set_number:
            return 0;
        case T::special:
            for (std::string_view pair : {"editpath", "rgb", "custom_dataIndex"})
                if (row.name == pair) return 2;
            for (std::string_view block : {"htmlhead", "htmlfoot", "PATH"})
                if (row.name == block) return 0;
            return 1;
        default:
            return 1;
    }
}

std::span<const StatWordRow> stat_word_table() { return kStatWords; }

const StatWordRow* find_stat_word(std::string_view word) {
    for (const StatWordRow& row : kStatWords) {
        if (equals_ci(row.word, word)) return &row;
    }
    return nullptr;
}

bool ApplyKeyword(KeywordContext& ctx, std::span<const std::string_view> tokens,
                  std::size_t index, std::optional<std::string_view> raw_line) {
    if (raw_line && ctx.block.open()) {
        block_line(ctx, tokens, *raw_line);
        return true;
    }
    if (index >= tokens.size()) return false;
    const KeywordRow* row = find_keyword(tokens[index]);
    if (!row) return false;
    std::optional<std::string_view> rest;
    if (raw_line && index == 0) rest = rest_of_line(*raw_line);
    KeywordCall call{ctx, *row, tokens[index], tokens.subspan(index + 1), rest,
                     raw_line.has_value()};
    apply_row(call);
    return true;
}

bool ApplyKeyword(std::span<const std::string_view> tokens, std::size_t index,
                  std::optional<std::string_view> raw_line) {
    return ApplyKeyword(keyword_context(), tokens, index, raw_line);
}

std::vector<std::string_view> split_settings_line(std::string_view line) {
    constexpr std::size_t kMaxTokens = 64;
    std::vector<std::string_view> tokens;
    line = strip_line_end(line);
    std::size_t i = 0;
    while (i < line.size() && tokens.size() < kMaxTokens) {
        while (i < line.size() && is_blank(line[i])) ++i;
        const std::size_t start = i;
        while (i < line.size() && !is_blank(line[i])) ++i;
        if (i > start) tokens.push_back(line.substr(start, i - start));
    }
    return tokens;
}

void WriteSettingsText(std::string& out, const Settings& s) {
    out += "#Tallowick3.6 preferences file - one keyword and its value per line\n";
    for (const KeywordRow& row : kKeywords) write_row(row, s, out);
    out += "#END\n";
}

void reset_colours(Settings& s) {
    s.report.colour_marker = ReportSettings::kColourMarker;
    s.report.colours = {0x999999, 0xcccccc, 0xf4f4f4, 0xcccccc, 0x99cccc, 0x99cccc};
}

}  // namespace tallowick::app
