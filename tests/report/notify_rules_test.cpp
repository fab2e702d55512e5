#include "report/notify_rules.h"

#include <gtest/gtest.h>

#include "base/julian_date.h"
#include "base/status.h"
#include "engine/stat_list.h"
#include "support/test_support.h"

namespace tallowick::report {
namespace {

class Recorder : public StatusSink {
public:
    Recorder() : previous_(set_status_sink(this)) {}
    ~Recorder() override { set_status_sink(previous_); }
    void status(std::string_view text) override { said += std::string(text) + "\n"; }
    void error(std::string_view text) override { errors += std::string(text) + "\n"; }
    std::string said, errors;

private:
    StatusSink* previous_;
};

TEST(NotifyRules, RulesAreReadWordByWord) {
    struct Good {
        std::string_view text, table, field;
        int op;
        std::string value;
        bool numeric;
    };
    const Good good[] = {
        {"Client Urls/Files >= 1000", "Client", "Urls/Files", 0, "1000", true},
        {"client bytes-in <= 2.5e3", "Client", "bytes-in", 1, "2.5e3", true},
        {"ErrorURL Name == *.php?a b", "ErrorURL", "Name", 2, "*.php?a b", false},
        {"Search String Name != *free*", "Search String", "Name", 3, "*free*", false},
        {"searchstring Visits >= 3", "Search String", "Visits", 0, "3", true},
        {"Hour Name == 09", "Hour", "Name", 2, "09", false},   // names stay text
    };
    for (const Good& g : good) {
        std::string error;
        const auto rule = parseNotifyRule(g.text, error);
        ASSERT_TRUE(rule) << g.text << ": " << error;
        EXPECT_EQ(rule->table, g.table) << g.text;
        EXPECT_EQ(rule->field_word, g.field) << g.text;
        EXPECT_EQ(rule->op, g.op) << g.text;
        EXPECT_EQ(rule->value, g.value) << g.text;
        EXPECT_EQ(rule->number.has_value(), g.numeric) << g.text;
    }
    const std::pair<std::string_view, std::string_view> bad[] = {
        {"Clients Urls/Files >= 5", "unknown table 'Clients'"},
        {"Client Hits >= 5", "unknown field 'Hits'"},
        {"Client Visits > 5", "unknown operator '>'"},
        {"Client Visits >=", "no value"},
        {"Search Name >= x", "unknown table 'Search'"},
    };
    for (const auto& [text, message] : bad) {
        std::string error;
        EXPECT_FALSE(parseNotifyRule(text, error)) << text;
        EXPECT_NE(error.find(message), std::string::npos) << text << ": " << error;
    }
}

struct Checked {
    int matches = 0;
    std::string file;       // notify_msg.txt afterwards
    int shown = 0;          // times the Screen action ran
    std::string shown_lines;
};

class NotifyCheck : public ::testing::Test {
protected:
    void SetUp() override {
        report_.client = engine::StatList::Create(&report_, 16);
        report_.errurl = engine::StatList::Create(&report_, 16);
        add(*report_.client, "busy.example.org", 12, 2000);
        add(*report_.client, "10.0.0.1", 5, 100);
        add(*report_.client, "quiet.example.net", 1, 7);
        add(*report_.errurl, "/x.php", 2, 0);
        add(*report_.errurl, "/y.html", 1, 0);
    }
    void add(engine::StatList& list, std::string_view name, int requests, int bytes_each) {
        for (int i = 0; i < requests; ++i) list.AddHit(bytes_each, 0, name, kSeen, engine::kAddVisit);
    }
    Checked check(std::initializer_list<std::string_view> rules, int action = kNotifyScreen) {
        SettingsList list;
        for (std::string_view r : rules) list.add(r);
        NotifyOptions options;
        options.action = action;
        options.folder = dir_.path();
        Checked c;
        options.show = [&](const std::filesystem::path&, std::string_view lines) {
            ++c.shown;
            c.shown_lines = std::string(lines);
        };
        c.matches = checkNotifyRules(report_, kNow, list, options);
        const auto path = dir_ / std::string(kNotifyFileName);
        if (std::filesystem::exists(path)) c.file = tallowick::test::read_file(path);
        return c;
    }

    static constexpr double kSeen = 2461000.5 + 0.5;   // noon
    static constexpr double kNow = 2461001.5 + 0.25;   // the next day, 06:00
    tallowick::test::TempDir dir_;
    engine::ReportStats report_;
    Recorder recorder_;
};

TEST_F(NotifyCheck, NumericRulesListEachMatchingItemOnce) {
    const std::string now = notifyTimeText(kNow), seen = notifyTimeText(kSeen);
    EXPECT_EQ(now.size(), 19u);
    const Checked c = check({"Client Urls/Files >= 5", "Client Bytes != 24000"});
    EXPECT_EQ(c.matches, 4);
    EXPECT_EQ(c.file, now + " : (busy.example.org) Client->Urls/Files = '12' last " + seen + "\n" +
                          now + " : (10.0.0.1) Client->Urls/Files = '5' last " + seen + "\n" +
                          now + " : (10.0.0.1) Client->Bytes = '500' last " + seen + "\n" +
                          now + " : (quiet.example.net) Client->Bytes = '7' last " + seen + "\n");
    EXPECT_EQ(c.shown, 1);
    EXPECT_EQ(c.shown_lines, c.file);
    EXPECT_EQ(check({"Client Urls/Files <= 1", "Client Visits == 1"}).matches, 4);
}

TEST_F(NotifyCheck, PatternsMatchNamesAndIdenticalLinesInARowAreWrittenOnce) {
    // Two rules giving the same line one after the other: one line.
    const Checked twice = check({"ErrorURL Name >= *.PHP", "ErrorURL Name == /x*"});
    EXPECT_EQ(twice.matches, 2);
    EXPECT_EQ(twice.file, notifyTimeText(kNow) + " : (/x.php) ErrorURL->Name = '/x.php' last " +
                              notifyTimeText(kSeen) + "\n");
    const Checked other = check({"ErrorURL Name != *.php"});
    EXPECT_EQ(other.matches, 1);
    EXPECT_NE(other.file.find("(/y.html)"), std::string::npos);
}

TEST_F(NotifyCheck, BadRulesAndMissingTablesAreReportedAndTheRestStillRun) {
    // This report has no page table, and the first rule cannot be read.
    const Checked c = check({"Client Hits >= 1", "Page Urls/Files >= 1", "Client Urls/Files >= 12"});
    EXPECT_EQ(c.matches, 1);
    EXPECT_NE(c.file.find("(busy.example.org)"), std::string::npos);
    EXPECT_NE(recorder_.errors.find("unknown field 'Hits'"), std::string::npos) << recorder_.errors;
    EXPECT_NE(recorder_.said.find("has no Page table"), std::string::npos) << recorder_.said;
}

TEST_F(NotifyCheck, NoMatchKeepsTheFileButStillActsAndOffDoesNothing) {
    const auto path = dir_ / std::string(kNotifyFileName);
    tallowick::test::write_file(path, "earlier\n");
    const Checked none = check({"Client Urls/Files >= 1000"});
    EXPECT_EQ(none.matches, 0);
    EXPECT_EQ(none.file, "earlier\n");
    EXPECT_EQ(none.shown, 1);
    EXPECT_EQ(none.shown_lines, "");
    const Checked off = check({"Client Urls/Files >= 1"}, kNotifyOff);
    EXPECT_EQ(off.matches, 0);
    EXPECT_EQ(off.shown, 0);
    EXPECT_EQ(off.file, "earlier\n");
    // A folder that cannot take the file: reported, and no match is counted.
    tallowick::test::write_file(dir_ / "blocker", "");
    SettingsList rules;
    rules.add("Client Urls/Files >= 1");
    NotifyOptions options;
    options.action = kNotifyScreen;
    options.folder = dir_ / "blocker";
    EXPECT_EQ(checkNotifyRules(report_, kNow, rules, options), 0);
    EXPECT_NE(recorder_.errors.find("Can't write notification file"), std::string::npos);
}

}  // namespace
}  // namespace tallowick::report
