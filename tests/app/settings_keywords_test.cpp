// The keyword interpreter: the writer/reader round trip over the whole keyword
// table, keyword matching, word values, limits and the command-line forms.
#include <functional>
#include <map>
#include <set>
#include <tuple>

#include "settings_fixture.h"

namespace tallowick::app::test_settings {
namespace {

using Lines = std::vector<std::string>;

// Samples for rows whose value the generic rules below cannot invent. A written
// row of the special kind without an entry here fails the round-trip test.
std::vector<Lines> special_samples(const KeywordRow& row) {
    const std::map<std::string_view, std::vector<Lines>> samples = {
        {"sdate", {{"sdate 03/04/2001"}}},
        {"edate", {{"edate 05/06/2002"}}},
        {"dollar", {{"dollar 0.15"}, {"dollar 12.5"}, {"dollar 0.29"}}},
        {"post_email", {{"post_email me@example.org"}}},
        {"post_emailmsg", {{"post_emailmsg Report ready.\\nSee the site \\n\\nBye"}}},
        {"rgb", {{"rgb 1 123abc"}, {"rgb 6 000000", "rgb 3 ffffff"}}},
        {"htmlhead", {{"htmlhead", "<P>head one</P>", "", "<P> two  spaced </P>", "<HTMLEND>"},
                      {"htmlhead", "<HTMLEND>"}}},
        {"htmlfoot", {{"htmlfoot", "<P>foot</P>", "<HTMLEND>"}}},
    };
    if (auto it = samples.find(row.name); it != samples.end()) return it->second;

    std::vector<Lines> out;
    if (row.name == "+stat" || row.name == "+graph") {
        // Every word turned away from its default, one at a time.
        const bool graph = row.name == "+graph";
        for (const StatWordRow& w : stat_word_table()) {
            if (!(graph ? w.graph : w.table)) continue;
            const bool on = !(graph ? w.graph_default : w.table_default);
            out.push_back({std::string(on ? "+" : "-") + (graph ? "graph " : "stat ") +
                           std::string(w.word)});
        }
    }
    return out;
}

// Samples from the row's type and limits.
std::vector<Lines> generic_samples(const KeywordRow& row) {
    const std::string name(row.name);
    std::vector<Lines> out;
    switch (row.type) {
        case KeywordType::set_flag:
        case KeywordType::set_number:
            out.push_back({name});
            break;
        case KeywordType::number:
            for (const KeywordWord& w : row.words) out.push_back({name + " " + std::string(w.word)});
            // A number the writer can only write as a word is lost otherwise.
            if (row.write != WriteRule::word) {
                out.push_back({name + " " + std::to_string(row.min)});
                out.push_back({name + " " + std::to_string(row.max)});
            }
            break;
        case KeywordType::text:
            out.push_back({name + " " + std::string(static_cast<std::size_t>(row.max), 'x')});
            break;
        case KeywordType::line_text:
            out.push_back({name + " C:/My Reports/web  report.html"});
            break;
        case KeywordType::list:
            out.push_back({name + " entry-one", name + " !entry*two"});
            break;
        case KeywordType::line_list:
            out.push_back({name + " *.example=Some Name", name + " /a b/*=Group  Two"});
            break;
        case KeywordType::special:
            break;
    }
    return out;
}

// Changes the row's field in base so that reading the sample has to restore it.
void perturb(const KeywordRow& row, Settings& base) {
    if (auto* f = std::get_if<FlagField>(&row.field)) {
        f->ref(base) = !f->get(base);
    } else if (auto* n = std::get_if<NumberField>(&row.field)) {
        n->set(base, n->get(base) == row.min ? row.min + 1 : row.min);
    } else if (auto* t = std::get_if<TextField>(&row.field)) {
        t->ref(base) = "other";
    }
}

class KeywordTable : public SettingsTest {};

// For every key the writer writes: a record that differs from a base record in
// that key, written and read back over the base, gives the record again.
TEST_F(KeywordTable, EveryWrittenKeySurvivesWriteAndRead) {
    int checked = 0;
    for (const KeywordRow& row : keyword_table()) {
        if (row.write == WriteRule::never) continue;
        std::vector<Lines> samples = row.type == KeywordType::special || row.write == WriteRule::special
                                         ? special_samples(row)
                                         : generic_samples(row);
        if (samples.empty()) {
            ADD_FAILURE() << "no round-trip sample for the written keyword " << row.name;
            continue;
        }
        for (const Lines& sample : samples) {
            SCOPED_TRACE(std::string(row.name) + ": " + sample.front());
            Settings base;
            ResetSettings(base, false);   // lists empty, so read-back entries are not doubled
            Settings source = base;
            sink_.errors.clear();
            ASSERT_TRUE(read_lines(source, sample));
            EXPECT_TRUE(sink_.errors.empty()) << sink_.errors.front();
            if (source == base) {
                // A number or text at the value the writer omits is not written by
                // design; reading then leaves whatever the record held.
                if (row.write == WriteRule::when_set && row.type != KeywordType::set_flag &&
                    row.type != KeywordType::set_number) {
                    continue;
                }
                perturb(row, base);
            }
            ASSERT_FALSE(source == base) << "the sample changes nothing";

            Settings result = base;
            {
                logs::LogList logs;
                KeywordContext ctx(result, logs);
                auto path = (dir_ / "roundtrip.tkp").string();
                test::write_file(path, written(source));
                ASSERT_TRUE(ReadSettingsText(ctx, path));
            }
            // Session tracking is derived; the load recomputes it on both sides alike.
            finish_settings_load(source);
            finish_settings_load(result);
            EXPECT_EQ(written(result), written(source));
            EXPECT_TRUE(result == source);
            ++checked;
        }
    }
    EXPECT_GT(checked, 100);
}

// Whether some written row writes the field this row sets.
bool field_is_written(const KeywordRow& row) {
    for (const KeywordRow& other : keyword_table()) {
        if (other.write == WriteRule::never || other.field.index() != row.field.index()) continue;
        if (auto* f = std::get_if<FlagField>(&row.field); f && std::get<FlagField>(other.field).get == f->get) return true;
        if (auto* n = std::get_if<NumberField>(&row.field); n && std::get<NumberField>(other.field).get == n->get) return true;
        if (auto* t = std::get_if<TextField>(&row.field); t && std::get<TextField>(other.field).get == t->get) return true;
        if (auto* l = std::get_if<ListField>(&row.field); l && std::get<ListField>(other.field).get == l->get) return true;
    }
    return false;
}

// Every keyword whose setting the file keeps, from a fresh record through a saved
// file and a load: a value the writer can only express through another keyword
// ("nobandwidth", "-f0", "dnsoff") is lost if that keyword is not written.
TEST_F(KeywordTable, EveryKeptSettingSurvivesSaveAndLoad) {
    int checked = 0;
    for (const KeywordRow& row : keyword_table()) {
        if (row.type == KeywordType::special || !field_is_written(row)) continue;
        for (const Lines& sample : generic_samples(row)) {
            SCOPED_TRACE(std::string(row.name) + ": " + sample.front());
            ResetSettings(s_, true);
            ASSERT_TRUE(read_lines(sample));
            const auto path = (dir_ / "kept.tkp").string();
            ASSERT_TRUE(SaveSettingsFile(ctx_, path));
            Settings loaded;
            logs::LogList logs;
            KeywordContext other(loaded, logs);
            ASSERT_TRUE(LoadSettingsFile(other, path));
            finish_settings_load(s_);
            EXPECT_EQ(written(loaded), written(s_));
            EXPECT_TRUE(loaded == s_);
            ++checked;
        }
    }
    EXPECT_GT(checked, 80);
}

TEST_F(KeywordTable, NamesAreUniqueWithoutRegardToCase) {
    std::set<std::string> seen;
    for (const KeywordRow& row : keyword_table()) {
        for (std::string_view n : row.aliases) {
            if (n.empty()) continue;
            std::string up(n);
            for (char& c : up) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            EXPECT_TRUE(seen.insert(up).second) << n;
        }
        std::string up(row.name);
        for (char& c : up) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_TRUE(seen.insert(up).second) << row.name;
        EXPECT_EQ(find_keyword(row.name), &row) << row.name;
    }
}

TEST_F(KeywordTable, WriterKeepsTheFileOrder) {
    s_.analysis.ignoreself = true;
    s_.run.indexfile = "index.html";
    s_.filters.url_case = true;
    s_.filters.url.add("u");
    s_.analysis.hitpattern = "/ads/*";
    s_.report.reportformat = 1;
    s_.post.postproclocation = "/srv";
    s_.post.archive = true;
    s_.post.post_email = "a@b.c";
    const std::string text = written(s_);
    const char* expected[] = {
        "#Tallowick3.6 preferences file", "date 1\n", "dnsoff\n", "dnsAmount 100\n",
        "ignoreself\n", "-f0\n", "sort reqs\n", "out ", "language 0\n", "siteurl \n",
        "indexfile index.html\n", "filterurlcase\n", "filterurl u\n",
        "orgmap *.org=Organisations\n", "+stat daily\n", "-stat monthly\n", "+stat timeon\n",
        "+graph daily\n", "+graph govthistory\n", "recentdaily 30\n", "timestat\n",
        "bandwidth\n", "headtitle\n", "graphsort reqs\n", "style 1\n", "statdepth 4\n",
        "dollar 0.00\n", "sessiontime 10\n", "hitpattern /ads/*\n", "reportformat 1\n",
        "postproclocation /srv\n", "archive\n", "post_email a@b.c\n", "rgb 1 999999\n",
        "rgb 3 f4f4f4\n", "rgb 6 99cccc\n", "htmlhead\n<BODY", "<HTMLEND>\n\nhtmlfoot\n",
        "</BODY></HTML>\r\n<HTMLEND>\n\n#END\n",
    };
    std::size_t pos = 0;
    for (const char* item : expected) {
        // Each item begins a line, after the one before it.
        std::size_t at = text.find(std::string(pos == 0 ? "" : "\n") + item, pos == 0 ? 0 : pos - 1);
        ASSERT_NE(at, std::string::npos) << "missing or out of order: " << item << "\n" << text;
        pos = at + 1;
    }
    EXPECT_TRUE(text.starts_with("#Tallowick3.6 preferences file"));
    EXPECT_TRUE(text.ends_with("#END\n"));
}

class Keywords : public SettingsTest {};

TEST_F(Keywords, MatchWithoutRegardToCase) {
    for (std::string line : {"dnsAmount 250", "DNSAMOUNT 250", "dnsamount 250", "DnSaMoUnT 250"}) {
        ResetSettings(s_, true);
        ASSERT_TRUE(read_lines({line}));
        EXPECT_EQ(s_.analysis.dns_amount, 250) << line;
    }
    ASSERT_TRUE(read_lines({"FILTERCLIENT a", "filterHost b", "GRAPHAXIS both", "VdSortBy byte"}));
    EXPECT_EQ(s_.filters.site.entries(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(s_.report.graphsort, 2);
    EXPECT_EQ(s_.run.vd_sortby, 1);
}

TEST_F(Keywords, NumbersWithinTheirLimits) {
    struct Case {
        std::string line;
        long expected;        // the value after the line, from the default
        bool refused;
    };
    const Case cases[] = {
        {"dnsAmount 20000", 50, false},    // above 10000 becomes 50
        {"dnsAmount 10000", 10000, false},
        {"dnsAmount 10001", 50, false},
        {"dnsAmount -5", 100, true},
        {"dnsAmount abc", 0, false},       // read as a decimal integer: no digits give 0
        {"dnsAmount 77xyz", 77, false},
        {"sessiontime 256", 10, true},
        {"sessiontime 255", 255, false},
        {"dnsAmount 99999999999999999999999", 50, false},
    };
    for (const Case& c : cases) {
        ResetSettings(s_, true);
        sink_.errors.clear();
        ASSERT_TRUE(read_lines({c.line}));
        const long got = c.line.starts_with("dns") ? s_.analysis.dns_amount : s_.analysis.sessiontime;
        EXPECT_EQ(got, c.expected) << c.line;
        EXPECT_EQ(!sink_.errors.empty(), c.refused) << c.line;
        if (c.refused && !sink_.errors.empty()) {
            EXPECT_NE(sink_.errors.front().find(c.line.substr(0, c.line.find(' '))), std::string::npos)
                << "the message names the keyword: " << sink_.errors.front();
        }
    }
}

TEST_F(Keywords, WordOrNumberValues) {
    auto sort = [](const Settings& s) { return long{s.report.sort}; };
    auto lang = [](const Settings& s) { return long{s.run.language}; };
    auto axis = [](const Settings& s) { return long{s.report.graphsort}; };
    auto style = [](const Settings& s) { return long{s.report.style}; };
    auto sep = [](const Settings& s) { return long{s.custom.separator}; };
    const std::vector<std::tuple<std::string, std::function<long(const Settings&)>, long>> cases = {
        {"sort size", sort, 1},   {"sort 4", sort, 4},      {"sort none", sort, 0},
        {"sort byte", sort, 1},   {"sort DATE", sort, 6},   {"sort visits", sort, 4},
        {"sort bogus", sort, 2},  {"sort 9", sort, 2},
        {"language 7", lang, 7},  {"language German.lang", lang, 1},
        {"language C:/tallowick/Japanese.lang", lang, 9}, {"language Klingon", lang, 0},
        {"language 12", lang, 0},
        {"language German", lang, 1}, {"language norw", lang, 6}, {"language Japan", lang, 9},
        {"graphsort main", axis, -1}, {"graphsort byte", axis, 0}, {"graphsort 2", axis, 2},
        {"style 2d", style, 0},   {"style 3d", style, 1},   {"style 5", style, 5},
        {"custom_seperator 9", sep, 9}, {"custom_seperator ,", sep, 0},
    };
    for (const auto& [line, get, expected] : cases) {
        ResetSettings(s_, true);
        ASSERT_TRUE(read_lines({line}));
        EXPECT_EQ(get(s_), expected) << line;
    }
    // The order "size" is written as its word and read back as 1.
    ResetSettings(s_, true);
    ASSERT_TRUE(read_lines({"sort size"}));
    EXPECT_NE(written(s_).find("\nsort size\n"), std::string::npos);
    Settings back;
    ResetSettings(back, false);
    ASSERT_TRUE(read_lines(back, {"sort name"}));
    ASSERT_TRUE(read_lines(back, split_lines(written(s_))));
    EXPECT_EQ(back.report.sort, kSortSize);
}

TEST_F(Keywords, DateModesAndTexts) {
    ASSERT_TRUE(read_lines({"date prevyear"}));
    EXPECT_EQ(s_.dates.mode, kDatePrevYear);
    EXPECT_EQ(s_.dates.sdate, "01/01/2023");       // recomputed from the mode
    EXPECT_EQ(s_.dates.edate, "31/12/2023");
    EXPECT_DOUBLE_EQ(s_.dates.start, JulianDate(2023, 1, 1));

    ASSERT_TRUE(read_lines({"date 5"}));
    EXPECT_EQ(s_.dates.mode, kDatePrevWeek);

    ASSERT_TRUE(read_lines({"date today", "sdate 01/02/2024"}));
    EXPECT_EQ(s_.dates.mode, kDateExplicit);
    EXPECT_DOUBLE_EQ(s_.dates.start, JulianDate(2024, 2, 1));
    EXPECT_DOUBLE_EQ(s_.dates.end, JulianDate(2024, 3, 15));   // today's, from "today"

    command_line({"-edate", "10/03/2024"});
    EXPECT_DOUBLE_EQ(s_.dates.end, JulianDate(2024, 3, 10));
    command_line({"+ad"});
    EXPECT_EQ(s_.dates.mode, kDateAll);
    EXPECT_DOUBLE_EQ(s_.dates.start, JulianDate(1990, 1, 1));
    ASSERT_TRUE(read_lines({"date last7days"}));
    EXPECT_EQ(s_.dates.mode, kDateLast7);
    ASSERT_TRUE(read_lines({"date 18"}));                       // refused
    EXPECT_EQ(s_.dates.mode, kDateLast7);

    // ISO 8601 and the log's own form whatever the order; anything else is refused,
    // never taken for today.
    ASSERT_TRUE(read_lines({"sdate 2024-11-02", "edate 30/Nov/2024"}));
    EXPECT_DOUBLE_EQ(s_.dates.start, JulianDate(2024, 11, 2));
    EXPECT_DOUBLE_EQ(s_.dates.end, JulianDate(2024, 11, 30));
    sink_.errors.clear();
    ASSERT_TRUE(read_lines({"sdate 31/02/2024", "edate soon"}));
    EXPECT_DOUBLE_EQ(s_.dates.start, JulianDate(2024, 11, 2));
    EXPECT_DOUBLE_EQ(s_.dates.end, JulianDate(2024, 11, 30));
    ASSERT_EQ(sink_.errors.size(), 2u);
    EXPECT_TRUE(sink_.errors[0].starts_with("sdate: \"31/02/2024\" is not a date; give DD/MM/YYYY"))
        << sink_.errors[0];
}

TEST_F(Keywords, CommandLineForms) {
    command_line({"-l", "access.log", "-sdate", "01/01/2024", "+dns"});
    EXPECT_EQ(logs_.names(), (std::vector<std::string>{"access.log"}));
    EXPECT_EQ(s_.dates.mode, kDateExplicit);
    EXPECT_EQ(s_.analysis.dns_mode, kDnsOn);

    struct Case {
        std::vector<std::string> args;
        std::function<bool(const Settings&)> holds;
    };
    const Case cases[] = {
        {{"-dns"}, [](const Settings& s) { return s.analysis.dns_mode == kDnsOff; }},
        {{"+dnsCache"}, [](const Settings& s) { return s.analysis.dns_mode == kDnsCache; }},
        {{"+f0"}, [](const Settings& s) { return s.analysis.filterzero; }},
        {{"+f0", "-f0"}, [](const Settings& s) { return !s.analysis.filterzero; }},
        {{"+f0", "-includezero"}, [](const Settings& s) { return !s.analysis.filterzero; }},
        // The usage text lists "-ignoreself" as switching the flag on.
        {{"-ignoreself", "+usecgi"}, [](const Settings& s) { return s.analysis.ignoreself && s.analysis.usecgi; }},
        {{"+stat", "monthly", "-graph", "daily"},
         [](const Settings& s) { return s.report.stat[StatWord::monthly] && !s.report.graph[StatWord::daily]; }},
        {{"+stat", "meanpath"},
         [](const Settings& s) { return s.report.stat[StatWord::meanpath] && s.analysis.session_tracking; }},
        {{"+graph", "sessiondist", "-stat", "clientstream"},
         [](const Settings& s) { return s.report.graph[StatWord::sessiondist] && !s.analysis.session_tracking; }},
        {{"+stat", "sessionhistory"},
         [](const Settings& s) { return s.report.stat[StatWord::clientstream] && s.analysis.session_tracking; }},
        {{"-d", "/tmp/r/x.html"}, [](const Settings& s) { return s.run.out == "/tmp/r/x.html"; }},
        {{"-o", "/tmp/r"}, [](const Settings& s) { return s.run.out == "/tmp/r"; }},
        {{"-orgmap", "*.x=Y"},
         [](const Settings& s) { return s.analysis.orgmap.size() == 9 && s.analysis.orgmap.entries().back() == "*.x=Y"; }},
        {{"-remotelogin_pass", "secret"}, [](const Settings& s) { return s.run.remotelogin_passwd == "secret"; }},
        {{"-daemon"}, [](const Settings& s) { return s.run.remoteloginon; }},
        {{"-editpath", "www.a.org", "/r/a"},
         [](const Settings& s) { return s.run.editpath.size() == 1 && s.run.editpath[0].dir == "/r/a"; }},
        {{"-multitopdirs", "-multiweeks"}, [](const Settings& s) { return s.run.multitopdirs != 0 && s.run.multiweeks != 0; }},
        {{"-dollar", "0.15"}, [](const Settings& s) { return s.analysis.dollar == 150; }},
        // A value that is missing at the end is ignored.
        {{"-dnsAmount"}, [](const Settings& s) { return s.analysis.dns_amount == 100; }},
        {{"-siteurl"}, [](const Settings& s) { return s.run.siteurl.empty(); }},
    };
    for (const Case& c : cases) {
        ResetSettings(s_, true);
        command_line(c.args);
        EXPECT_TRUE(c.holds(s_)) << c.args.front() << " " << (c.args.size() > 1 ? c.args[1] : "");
    }

    // Known and unknown tokens, as the command line reports them.
    const std::pair<std::string_view, bool> known[] = {
        {"-bogus", false}, {"access.log", false}, {"d", false}, {"-", false}, {"", false},
        {"+stat", true}, {"stat", true}, {"-r", true}, {"prefsfile", true}, {"--d", true},
        {"-filtereferal", true}, {"+alldates", true}, {"+AD", true},
    };
    for (auto [token, expected] : known) {
        std::vector<std::string_view> tokens{token};
        EXPECT_EQ(ApplyKeyword(ctx_, tokens, 0, std::nullopt), expected) << token;
    }
}

TEST_F(Keywords, StatAndGraphWordsAreCheckedAgainstTheirKind) {
    // "ascii" is a graph only, "meanpath" a table only.
    command_line({"+stat", "ascii", "+graph", "meanpath", "+stat", "nosuchword"});
    EXPECT_EQ(sink_.errors.size(), 3u);
    EXPECT_FALSE(s_.report.stat[StatWord::ascii]);
    EXPECT_FALSE(s_.report.graph[StatWord::meanpath]);
    // "refer" and "refersite" are different words.
    command_line({"-stat", "refersite"});
    EXPECT_TRUE(s_.report.stat[StatWord::refer]);
    EXPECT_FALSE(s_.report.stat[StatWord::refersite]);
}

TEST_F(Keywords, StoredPasswordAndMoney) {
    // Each byte b of the stored form gives (-b - 97) mod 256: "3*20" is "lumo".
    ASSERT_TRUE(read_lines({"remotelogin_passwd 3*20"}));
    EXPECT_EQ(s_.run.remotelogin_passwd, "lumo");

    const std::pair<std::string, long> money[] = {
        {"0.15", 150}, {"0.29", 290}, {"12.3456", 12345}, {"1", 1000}, {"abc", 0}, {"-0.5", -500},
    };
    for (const auto& [value, thousandths] : money) {
        ASSERT_TRUE(read_lines({"dollar " + value}));
        EXPECT_EQ(s_.analysis.dollar, thousandths) << value;
    }
    s_.analysis.dollar = 150;
    EXPECT_NE(written(s_).find("\ndollar 0.15\n"), std::string::npos);
}

TEST_F(Keywords, EmailBodyLineBreaks) {
    ASSERT_TRUE(read_lines({"post_emailmsg Dear all,\\nthe report is ready.\\n"}));
    EXPECT_EQ(s_.post.post_emailmsg, "Dear all,\r\nthe report is ready.\r\n");
    EXPECT_NE(written(s_).find("\npost_emailmsg Dear all,\\nthe report is ready.\\n\n"),
              std::string::npos);
    // A body of one character is not written.
    s_.post.post_emailmsg = "x";
    EXPECT_EQ(written(s_).find("post_emailmsg"), std::string::npos);
}

TEST_F(Keywords, IndexesOutsideTheirTablesAreIgnoredWithAMessage) {
    const auto colours = s_.report.colours;
    ASSERT_TRUE(read_lines({"rgb 0 ffffff", "rgb 7 ffffff", "rgb x ffffff", "custom_dataIndex 32 4",
                            "custom_dataIndex -1 4"}));
    EXPECT_EQ(sink_.errors.size(), 5u);
    EXPECT_EQ(s_.report.colours, colours);
    EXPECT_EQ(s_.custom.data_index, decltype(s_.custom.data_index){});
    ASSERT_TRUE(read_lines({"rgb 2 ABCDEF", "custom_dataIndex 31 4"}));
    EXPECT_EQ(s_.report.colours[1], 0xabcdefu);
    EXPECT_EQ(s_.custom.data_index[31], 4);
}

TEST_F(Keywords, ListsRefuseEntriesBeyondTheirLimits) {
    Lines lines;
    for (int i = 0; i < 105; ++i) lines.push_back("filterurl /u" + std::to_string(i));
    lines.push_back("filtersite " + std::string(SettingsList::kMaxEntryLength, 'a'));
    lines.push_back("filtersite " + std::string(SettingsList::kMaxEntryLength + 1, 'b'));
    ASSERT_TRUE(read_lines(lines));
    EXPECT_EQ(s_.filters.url.size(), SettingsList::kMaxEntries);
    EXPECT_EQ(s_.filters.url.entries().back(), "/u99");
    ASSERT_EQ(s_.filters.site.size(), 1u);
    EXPECT_EQ(s_.filters.site.entries()[0].size(), SettingsList::kMaxEntryLength);
    ASSERT_EQ(sink_.errors.size(), 6u);
    for (const std::string& e : sink_.errors) {
        EXPECT_TRUE(e.starts_with("filterurl:") || e.starts_with("filtersite:")) << e;
    }
}

}  // namespace
}  // namespace tallowick::app::test_settings
