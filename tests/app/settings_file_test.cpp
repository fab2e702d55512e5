// The settings file: refusing what is not one, loading with the post-load steps,
// HTML and PATH blocks, saving atomically, presets and hostile input.
#include <filesystem>
#include <random>

#include "settings_fixture.h"

namespace tallowick::app::test_settings {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

class SettingsFile : public SettingsTest {};

TEST_F(SettingsFile, WhatIsNotATextSettingsFileIsRefusedAndChangesNothing) {
    s_.analysis.dns_amount = 123;
    s_.filters.url.add("/kept");
    ctx_.file_name = "before.tkp";
    const Settings before = s_;

    struct Case {
        std::string name;
        std::optional<std::string> content;   // nullopt: the file does not exist
        std::string expected;                 // the whole message, or a part of it
        bool exact;
    };
    const std::string tlwk("TLWK\x03\0\0\0binary image", 20);
    const Case cases[] = {
        {"plain.tkp", "dnsAmount 5\n#Tallowick3.6\n", "report prefs %s is not valid\n", true},
        {"empty.tkp", "", "report prefs %s is not valid\n", true},
        {"lower.tkp", "#tallowick\ndnsAmount 5\n", "report prefs %s is not valid\n", true},
        {"old.tkp", tlwk, "older binary form", false},
        {"missing.tkp", std::nullopt, "No such file or directory", false},
    };
    for (const Case& c : cases) {
        const std::string path = (dir_ / c.name).string();
        if (c.content) test::write_file(path, *c.content);
        std::string expected = c.expected;
        if (auto at = expected.find("%s"); at != std::string::npos) expected.replace(at, 2, path);

        for (bool load : {true, false}) {
            SCOPED_TRACE(c.name + (load ? " loaded" : " read"));
            sink_.errors.clear();
            const bool ok = load ? LoadSettingsFile(ctx_, path) : ReadSettingsText(ctx_, path);
            EXPECT_FALSE(ok);
            EXPECT_TRUE(s_ == before);
            EXPECT_EQ(ctx_.file_name, "before.tkp");
            ASSERT_EQ(sink_.errors.size(), 1u);
            const std::string& msg = sink_.errors.front();
            if (c.exact || (!load && c.name == "old.tkp")) {
                // The text reader knows no binary form: that file simply lacks the magic.
                if (!load && c.name == "old.tkp") expected = "report prefs " + path + " is not valid\n";
                EXPECT_EQ(msg, expected);
            } else {
                EXPECT_NE(msg.find(expected), std::string::npos) << msg;
                EXPECT_NE(msg.find(path), std::string::npos) << "the message names the file: " << msg;
            }
        }
    }
}

TEST_F(SettingsFile, LoadResetsFirstThenAppliesThePostLoadSteps) {
    ASSERT_TRUE(read_lines({"dnsAmount 5", "filterurl /old", "+graph ascii"}));
    const std::string path = settings_file({
        "siteurl tp://www.example.org/",
        "sessiontime 0",
        "daemonrehash 7",
        "orgmap *.a=Group A",
        "orgmap *.b=Group B",
        "+stat meanpath",
    });
    ASSERT_TRUE(load(path));
    EXPECT_EQ(ctx_.file_name, path);
    EXPECT_EQ(s_.run.siteurl, "http://www.example.org/");
    EXPECT_EQ(s_.analysis.sessiontime, 10);
    EXPECT_EQ(s_.run.daemonrehash, 0);
    // The reset came first: nothing of the earlier record is left.
    EXPECT_EQ(s_.analysis.dns_amount, 100);
    EXPECT_TRUE(s_.filters.url.empty());
    EXPECT_FALSE(s_.report.graph[StatWord::ascii]);
    // The file's organisation map replaces the default one.
    EXPECT_EQ(s_.analysis.orgmap.entries(), (Lines{"*.a=Group A", "*.b=Group B"}));
    // Session tracking follows the client-stream table and the session graph only.
    EXPECT_TRUE(s_.report.stat[StatWord::meanpath]);
    EXPECT_FALSE(s_.analysis.session_tracking);

    ASSERT_TRUE(load(settings_file({"+graph sessiondist", "sessiontime 25"}, "other.tkp")));
    EXPECT_TRUE(s_.analysis.session_tracking);
    EXPECT_EQ(s_.analysis.sessiontime, 25);
    EXPECT_EQ(s_.analysis.orgmap.size(), 8u);   // no orgmap lines: the defaults stay
}

TEST_F(SettingsFile, HtmlBlocksEndAtTheMarkerOrTheSecondEmptyLine) {
    ASSERT_TRUE(read_lines({
        "htmlhead",
        "<BODY>",
        "  <P>dnsAmount 1</P>\r",
        "<HTMLEND> anything",
        "dnsAmount 77",
        "htmlfoot",
        "one",
        "",
        "two",
        "",
        "dnsAmount 78",
        "recentdaily 9",
    }));
    EXPECT_EQ(s_.report.htmlhead, "<BODY>\r\n  <P>dnsAmount 1</P>\r\n");
    EXPECT_EQ(s_.report.htmlfoot, "one\r\n\r\ntwo\r\n");
    EXPECT_EQ(s_.analysis.dns_amount, 78);
    EXPECT_EQ(s_.report.recentdaily, 9);

    // A block left open at the end of a file does not swallow the next file's lines.
    ASSERT_TRUE(read_lines({"htmlhead", "<B>unterminated</B>"}));
    ASSERT_TRUE(read_lines({"dnsAmount 79"}));
    EXPECT_EQ(s_.analysis.dns_amount, 79);
    EXPECT_EQ(s_.report.htmlhead, "<B>unterminated</B>\r\n");

    // On the command line there are no block lines: the head is just emptied.
    command_line({"-htmlfoot", "dnsAmount", "80"});
    EXPECT_EQ(s_.report.htmlfoot, "");
    EXPECT_EQ(s_.analysis.dns_amount, 80);
}

TEST_F(SettingsFile, HtmlBlockStopsGrowingAtItsLimit) {
    Lines lines{"htmlhead"};
    for (int i = 0; i < 300; ++i) lines.push_back(std::string(99, 'h'));
    lines.push_back("<HTMLEND>");
    lines.push_back("statdepth 9");
    ASSERT_TRUE(read_lines(lines));
    EXPECT_LE(s_.report.htmlhead.size(), ReportSettings::kHtmlBlockMax);
    EXPECT_GT(s_.report.htmlhead.size(), ReportSettings::kHtmlBlockMax - 101);
    EXPECT_EQ(sink_.errors.size(), 1u);   // said once
    EXPECT_EQ(s_.report.statdepth, 9);
}

TEST_F(SettingsFile, PathBlockAddsOneHostMapping) {
    ASSERT_TRUE(read_lines({"PATH", "www.site.org", "/reports/site one", "dnsAmount 5",
                            "editpath www.b.org /reports/b"}));
    ASSERT_EQ(s_.run.editpath.size(), 2u);
    EXPECT_EQ(s_.run.editpath[0], (VhostPath{"www.site.org", "/reports/site one"}));
    EXPECT_EQ(s_.run.editpath[1], (VhostPath{"www.b.org", "/reports/b"}));
    EXPECT_EQ(s_.analysis.dns_amount, 5);
}

TEST_F(SettingsFile, HeadAndFootFilesAreReadUpTo6000Bytes) {
    const auto big = (dir_ / "head.html").string();
    test::write_file(big, std::string(10000, 'h'));
    const auto small = (dir_ / "foot.html").string();
    test::write_file(small, "<P>foot</P>\n");
    command_line({"-head", big, "-foot", small});
    EXPECT_EQ(s_.report.htmlhead, std::string(6000, 'h'));
    EXPECT_EQ(s_.report.htmlfoot, "<P>foot</P>\n");
    command_line({"-head", (dir_ / "none.html").string()});
    EXPECT_EQ(s_.report.htmlhead.size(), 6000u);
    EXPECT_EQ(sink_.errors.size(), 1u);
}

TEST_F(SettingsFile, SaveReplacesTheFileAndLoadsBackTheSameRecord) {
    ASSERT_TRUE(read_lines({"dnson", "dnsAmount 300", "sort page", "orgmap *.x=Extra Group",
                            "filterurl !*.gif", "+stat monthly", "-graph daily", "rgb 4 010203",
                            "htmlhead", "<P>mine</P>", "<HTMLEND>", "dollar 0.25",
                            "post_emailmsg a\\nb", "date thismonth", "language 3"}));
    const std::string path = (dir_ / "saved.tkp").string();
    test::write_file(path, "old content");
    ASSERT_TRUE(SaveSettingsFile(ctx_, path));
    EXPECT_EQ(ctx_.file_name, path);
    EXPECT_TRUE(test::read_file(path).starts_with("#Tallowick3.6 preferences file"));
    for (const auto& entry : fs::directory_iterator(dir_.path())) {
        EXPECT_FALSE(entry.path().filename().string().find(".tmp") != std::string::npos)
            << "temporary file left: " << entry.path();
    }

    Settings loaded;
    logs::LogList logs;
    KeywordContext other(loaded, logs);
    ASSERT_TRUE(LoadSettingsFile(other, path));
    finish_settings_load(s_);
    EXPECT_EQ(written(loaded), written(s_));
    EXPECT_TRUE(loaded == s_);
    EXPECT_EQ(loaded.analysis.orgmap.size(), 9u);

    // A folder that does not exist: refused with the reason, nothing created.
    sink_.errors.clear();
    const std::string nowhere = (dir_ / "no" / "such.tkp").string();
    EXPECT_FALSE(SaveSettingsFile(ctx_, nowhere));
    EXPECT_EQ(ctx_.file_name, path);
    ASSERT_EQ(sink_.errors.size(), 1u);
    EXPECT_NE(sink_.errors.front().find(nowhere), std::string::npos) << sink_.errors.front();
}

TEST_F(SettingsFile, ProcessWideLoadNamesTheCurrentFile) {
    const std::string path = settings_file({"dnsAmount 42"}, "process.tkp");
    ResetSettings(true);
    ASSERT_TRUE(LoadSettingsFile(path));
    EXPECT_EQ(settings().analysis.dns_amount, 42);
    EXPECT_EQ(settings_file_name(), path);
    const std::vector<std::string_view> option{"+dns"};
    EXPECT_TRUE(ApplyKeyword(option, 0));
    EXPECT_EQ(settings().analysis.dns_mode, kDnsOn);
    ResetSettings(true);
    set_settings_file_name("");
}

TEST_F(SettingsFile, PresetLevels) {
    using W = StatWord;
    struct Case {
        int level;
        W word;
        bool table, graph;
    };
    const Case cases[] = {
        {1, W::daily, true, true},       {1, W::search, true, false},
        {1, W::browservsos, false, true}, {1, W::topdir, false, false},
        {1, W::robot, false, false},      {2, W::topdir, true, true},
        {2, W::download, true, true},     {2, W::loyalty, false, false},
        {3, W::loyalty, true, true},      {3, W::timeon, true, true},
        {3, W::advert, false, false},     {3, W::clientstream, false, false},
    };
    for (const Case& c : cases) {
        ApplyPreset(s_, c.level);
        EXPECT_EQ(s_.report.stat[c.word], c.table) << c.level << " " << static_cast<int>(c.word);
        EXPECT_EQ(s_.report.graph[c.word], c.graph) << c.level << " " << static_cast<int>(c.word);
    }
    EXPECT_EQ(s_.analysis.orgmap.size(), 8u);
}

// Files made to break a reader: none of them may crash or write out of bounds
// (the tests run under AddressSanitizer).
class HostileSettingsFile : public SettingsTest {};

TEST_F(HostileSettingsFile, RandomBytes) {
    std::mt19937 rng(20240315);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 24; ++round) {
        std::string junk(1 << 14, '\0');
        for (char& c : junk) c = static_cast<char>(byte(rng));
        // Some rounds are mostly line breaks and spaces, so that junk reaches the keywords.
        if (round % 2) {
            for (std::size_t i = 0; i < junk.size(); i += 7) junk[i] = (i % 3) ? ' ' : '\n';
        }
        const auto path = (dir_ / "junk.tkp").string();
        test::write_file(path, (round % 3 ? "#Tal\n" : "") + junk);
        LoadSettingsFile(ctx_, path);
        ReadSettingsText(ctx_, path);
        EXPECT_LE(s_.report.htmlhead.size(), ReportSettings::kHtmlBlockMax);
        EXPECT_LE(s_.filters.url.size(), SettingsList::kMaxEntries);
    }
}

TEST_F(HostileSettingsFile, LongLinesForEveryKeyword) {
    const std::string long_value(10000, 'v');
    Lines lines;
    for (const KeywordRow& row : keyword_table()) {
        lines.push_back(std::string(row.name) + " " + long_value + " " + long_value);
        // Closes whatever block the keyword opened (a PATH pair takes both lines).
        lines.push_back("<HTMLEND>");
        lines.push_back("");
    }
    lines.push_back("htmlfoot");
    lines.push_back(long_value);
    lines.push_back("<HTMLEND>");
    lines.push_back("filterurl " + std::string(200000, 'w'));   // beyond the line limit
    lines.push_back("dnsAmount 11");
    ASSERT_TRUE(read_lines(lines));
    EXPECT_EQ(s_.analysis.dns_amount, 11);
    EXPECT_EQ(s_.run.siteurl, "");
    EXPECT_LE(s_.run.out.size(), 4095u);
    EXPECT_TRUE(s_.filters.url.empty());
    EXPECT_FALSE(sink_.errors.empty());
}

TEST_F(HostileSettingsFile, FiveHundredFilterLines) {
    Lines lines;
    for (int i = 0; i < 500; ++i) lines.push_back("filterurl /path/" + std::to_string(i) + "/*");
    ASSERT_TRUE(read_lines(lines));
    EXPECT_EQ(s_.filters.url.size(), SettingsList::kMaxEntries);
    EXPECT_EQ(sink_.errors.size(), 400u);
}

TEST_F(HostileSettingsFile, KeywordsWithoutValuesChangeNothing) {
    for (const KeywordRow& row : keyword_table()) {
        // These take no value: they act, or open a block.
        if (row.type == KeywordType::set_flag || row.type == KeywordType::set_number ||
            row.name == "htmlhead" || row.name == "htmlfoot" || row.name == "PATH") {
            continue;
        }
        Settings before;
        ResetSettings(before, true);
        s_ = before;
        sink_.errors.clear();
        ASSERT_TRUE(read_lines({std::string(row.name), std::string(row.name) + "   "}));
        EXPECT_TRUE(s_ == before) << row.name;
        EXPECT_TRUE(sink_.errors.empty()) << row.name << ": " << sink_.errors.front();
    }
}

TEST_F(HostileSettingsFile, FileThatLoadsItself) {
    const auto path = (dir_ / "self.tkp").string();
    test::write_file(path, "#Tallowick3.6\ndnsAmount 3\nsettingsfile " + path + "\nprefsfile " +
                               path + "\n");
    EXPECT_TRUE(LoadSettingsFile(ctx_, path));
    EXPECT_EQ(s_.analysis.dns_amount, 3);
    ASSERT_EQ(sink_.errors.size(), 1u);
    EXPECT_NE(sink_.errors[0].find("includes itself"), std::string::npos) << sink_.errors[0];
}

TEST_F(HostileSettingsFile, IncludesThatMultiplyAreCutShort) {
    // A cycle through two files is refused once; a chain in which every file
    // names the next ten times would mean 10^6 reads, and stops at the bound.
    const auto a = (dir_ / "a.tkp").string(), b = (dir_ / "b.tkp").string();
    test::write_file(a, "#Tallowick3.6\nprefsfile " + b + "\n");
    test::write_file(b, "#Tallowick3.6\nprefsfile " + a + "\nprefsfile " + a + "\n");
    EXPECT_TRUE(ReadSettingsText(ctx_, a));
    ASSERT_EQ(sink_.errors.size(), 1u);
    EXPECT_NE(sink_.errors[0].find(a + " -> " + b + " -> " + a), std::string::npos) << sink_.errors[0];

    sink_.errors.clear();
    for (int level = 0; level < 6; ++level) {
        std::string text = "#Tallowick3.6\n";
        for (int i = 0; i < 10; ++i) text += "prefsfile " + (dir_ / std::to_string(level + 1)).string() + "\n";
        test::write_file(dir_ / std::to_string(level), text);
    }
    test::write_file(dir_ / "6", "#Tallowick3.6\n");
    EXPECT_TRUE(ReadSettingsText(ctx_, (dir_ / "0").string()));
    ASSERT_EQ(sink_.errors.size(), 1u);
    EXPECT_NE(sink_.errors[0].find("more than"), std::string::npos) << sink_.errors[0];
}

}  // namespace
}  // namespace tallowick::app::test_settings
