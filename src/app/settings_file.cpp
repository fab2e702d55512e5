#include "app/settings_file.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "app/settings_keywords.h"
#include "base/atomic_file.h"
#include "base/status.h"
#include "logs/dates.h"
#include "platform/folders.h"

namespace tallowick::app {

namespace {

constexpr std::string_view kTextMagic = "#Tal";

constexpr std::string_view kDefaultHead =
    "<BODY BGCOLOR=\"#ffffff\">\r\n"
    "<CENTER><P><A HREF=\"https://www.brisvale.example/tallowick/\">"
    "<IMG SRC=\"Tallowick.gif\" ALIGN=\"BOTTOM\" border=0></A><BR>\r\n"
    "</P></CENTER>\r\n";

constexpr std::string_view kDefaultFoot =
    "<CENTER><P><FONT SIZE=-2><A HREF=\"https://www.brisvale.example/tallowick/\">"
    "Report produced by Tallowick</A></FONT></P></CENTER>\r\n"
    "</BODY></HTML>\r\n";

constexpr std::string_view kDefaultOrgMap[] = {
    "*.org=Organisations", "*.org.*=Organisations", "*.edu=US Educational",
    "*.edu.*=Educational", "*.gov=US Government",   "*.com=US Commercial",
    "*proxy*=Proxy Server", "*robot*=Search Bots",
};

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

File open_file(const std::string& path) { return File(std::fopen(path.c_str(), "rb"), &std::fclose); }

void cannot_open(const std::string& path, int err) {
    ShowError("cannot open settings file " + path + ": " + std::strerror(err));
}

void not_valid(const std::string& path) {
    ShowError("report prefs " + path + " is not valid\n");
}

// Reads one line without its line end. A line longer than the limit is skipped
// to its end and reported through too_long, so no line can grow without bound.
class LineReader {
public:
    static constexpr std::size_t kMaxLine = 65536;

    explicit LineReader(std::FILE* f) : f_(f) {}

    bool next(std::string& line, bool& too_long) {
        line.clear();
        too_long = false;
        int c = std::getc(f_);
        if (c == EOF) return false;
        for (; c != EOF && c != '\n'; c = std::getc(f_)) {
            if (line.size() < kMaxLine) line.push_back(static_cast<char>(c));
            else too_long = true;
        }
        while (!line.empty() && line.back() == '\r') line.pop_back();
        return true;
    }

private:
    std::FILE* f_;
};

// The default organisation map; the folder groups are emptied with it.
void install_default_orgmap(Settings& s) {
    s.analysis.orgmap.clear();
    for (std::string_view entry : kDefaultOrgMap) s.analysis.orgmap.add(entry);
    s.analysis.groupdir.clear();
}

}  // namespace

std::string_view default_html_head() { return kDefaultHead; }
std::string_view default_html_foot() { return kDefaultFoot; }

void ResetSettings(Settings& s, bool withOrgMap) {
    // The record's own initialisers hold the plain defaults (DNS amount 100,
    // session time 10, order by requests, port 911, no password, ...).
    s = Settings{};
    s.magic = std::string(Settings::kMagic);
    s.version = Settings::kVersion;
    s.run.out = platform::default_output_path();
    logs::set_default_date_range(s.dates);
    reset_colours(s);
    s.report.htmlhead = std::string(kDefaultHead);
    s.report.htmlfoot = std::string(kDefaultFoot);
    for (const StatWordRow& w : stat_word_table()) {
        if (w.table) s.report.stat.set(w.flag, w.table_default);
        if (w.graph) s.report.graph.set(w.flag, w.graph_default);
    }
    if (withOrgMap) install_default_orgmap(s);
}

void ResetSettings(bool withOrgMap) { ResetSettings(settings(), withOrgMap); }

void ApplyPreset(Settings& s, int level) {
    using W = StatWord;
    ResetSettings(s, true);
    s.report.stat.set_all(false);
    s.report.graph.set_all(false);
    s.analysis.session_tracking = false;
    auto both = [&](std::initializer_list<StatWord> words) {
        for (StatWord w : words) {
            s.report.stat.set(w, true);
            s.report.graph.set(w, true);
        }
    };
    if (level >= 1) {
        both({W::daily, W::hourly, W::weekly, W::country, W::region, W::client, W::file,
              W::browser, W::opersys, W::filetype, W::dir, W::pages, W::refer, W::errors,
              W::errorurl});
        s.report.stat.set(W::search, true);
        s.report.graph.set(W::browservsos, true);
    }
    if (level >= 2) {
        both({W::topdir, W::monthly, W::weekdays, W::searchengine, W::robot, W::refersite,
              W::seconddomain, W::download});
    }
    if (level >= 3) both({W::loyalty, W::timeon});
}

void ApplyPreset(int level) { ApplyPreset(settings(), level); }

namespace {

// Settings files read in one load, the outermost included: enough for any real
// layout, small enough that a file naming others many times stays quick.
constexpr int kMaxSettingsFiles = 100;

// Registers path as open in ctx; false (reported) when it is open already or
// the load has read too many files.
bool enter_settings_file(KeywordContext& ctx, const std::string& path) {
    if (ctx.open_files.empty()) {
        ctx.files_read = 0;
        ctx.include_refused = false;
    }
    if (ctx.include_refused) return false;
    std::error_code ec;
    std::string real = std::filesystem::weakly_canonical(path, ec).string();
    if (ec) real = path;
    if (std::find(ctx.open_files.begin(), ctx.open_files.end(), real) != ctx.open_files.end()) {
        std::string cycle;
        for (const std::string& open : ctx.open_files) cycle += open + " -> ";
        ShowError("settings file " + path + " includes itself (" + cycle + real + "), not read again");
        ctx.include_refused = true;
        return false;
    }
    if (++ctx.files_read > kMaxSettingsFiles) {
        ShowError("settings file " + path + " not read: more than " +
                  std::to_string(kMaxSettingsFiles) + " settings files in one load");
        ctx.include_refused = true;
        return false;
    }
    ctx.open_files.push_back(std::move(real));
    return true;
}

bool read_settings_lines(KeywordContext& ctx, const std::string& path) {
    File f = open_file(path);
    if (!f) {
        cannot_open(path, errno);
        return false;
    }
    LineReader reader(f.get());
    std::string line;
    bool too_long = false;
    if (!reader.next(line, too_long) || !line.starts_with(kTextMagic)) {
        not_valid(path);
        return false;
    }
    ctx.block.clear();
    long number = 1;
    bool reported_long = false;
    while (!ctx.include_refused && reader.next(line, too_long)) {
        ++number;
        if (too_long) {
            if (!reported_long) {
                ShowError("settings file " + path + ": line " + std::to_string(number) +
                          " is longer than " + std::to_string(LineReader::kMaxLine) +
                          " characters and was skipped");
                reported_long = true;
            }
            continue;
        }
        const std::vector<std::string_view> tokens = split_settings_line(line);
        ApplyKeyword(ctx, tokens, 0, std::string_view(line));
    }
    ctx.block.clear();
    return true;
}

}  // namespace

bool ReadSettingsText(KeywordContext& ctx, const std::string& path) {
    if (!enter_settings_file(ctx, path)) return false;
    const bool ok = read_settings_lines(ctx, path);
    ctx.open_files.pop_back();
    return ok;
}

bool ReadSettingsText(const std::string& path) { return ReadSettingsText(keyword_context(), path); }

bool LoadSettingsFile(KeywordContext& ctx, const std::string& path) {
    std::array<char, 8> head{};
    std::size_t got = 0;
    {
        File f = open_file(path);
        if (!f) {
            cannot_open(path, errno);
            return false;
        }
        got = std::fread(head.data(), 1, head.size(), f.get());
    }
    const std::string_view start(head.data(), got);
    if (start.starts_with(Settings::kMagic)) {
        // The older binary form is a raw memory image of a record layout that
        // this program does not share; reading it would mean guessing.
        ShowError("settings file " + path +
                  " is in the older binary form, which this version cannot read; "
                  "nothing was loaded");
        return false;
    }
    if (!start.starts_with(kTextMagic)) {
        not_valid(path);
        return false;
    }
    // A file that is being read already is refused before the reset, which
    // would wipe what its first reading set.
    if (!enter_settings_file(ctx, path)) return false;
    ResetSettings(ctx.settings, true);
    ctx.replace_default_orgmap = true;
    const bool ok = read_settings_lines(ctx, path);
    ctx.replace_default_orgmap = false;
    ctx.open_files.pop_back();
    if (!ok) return false;
    finish_settings_load(ctx.settings);
    ctx.file_name = path;
    return true;
}

bool LoadSettingsFile(const std::string& path) { return LoadSettingsFile(keyword_context(), path); }

void finish_settings_load(Settings& s) {
    if (s.report.colour_marker != ReportSettings::kColourMarker) reset_colours(s);
    logs::recompute_date_range(s.dates);
    if (s.run.siteurl.starts_with("tp://")) s.run.siteurl.insert(0, "ht");
    s.run.daemonrehash = 0;
    s.run.daemonrehash_counter = 0;
    if (s.analysis.sessiontime == 0) s.analysis.sessiontime = 10;
    s.analysis.session_tracking =
        s.report.stat[StatWord::clientstream] || s.report.graph[StatWord::sessiondist];
}

bool SaveSettingsFile(KeywordContext& ctx, const std::string& path) {
    Settings& s = ctx.settings;
    s.version = Settings::kVersion;
    s.report.colour_marker = ReportSettings::kColourMarker;
    std::string text;
    WriteSettingsText(text, s);
    std::string error;
    if (!write_file_atomically(path, text, error)) {
        ShowError("cannot save settings file " + error);
        return false;
    }
    ctx.file_name = path;
    return true;
}

bool SaveSettingsFile(const std::string& path) { return SaveSettingsFile(keyword_context(), path); }

}  // namespace tallowick::app
