#include "logs/log_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "base/julian_date.h"
#include "logs/reader_helpers.h"
#include "support/test_support.h"

namespace tallowick::logs {
namespace {

namespace fs = std::filesystem;
using tallowick::test::TempDir;
using tallowick::test::write_file;
using tallowick::logs::test::RecordingSink;

LogNameContext on(int year, int month, int day, int hour = 10) {
    LogNameContext ctx;
    ctx.today = JulianDate(year, month, day, hour, 30, 0);
    ctx.range_start = JulianDate(1999, 12, 31);
    ctx.range_end = JulianDate(2001, 1, 31);
    ctx.siteurl = "http://www.example.com";
    return ctx;
}

TEST(ExpandLogName, ReplacesMacrosAndMovesTheDate) {
    struct Case {
        LogNameContext ctx;
        const char* name;
        const char* want;
    };
    const Case cases[] = {
        {on(2000, 3, 1), "ex{YYYY}{MM}{DD}.log", "ex20000301.log"},
        {on(2000, 3, 1), "ex{YY}{MMM}.log", "ex00Mar.log"},
        {on(2000, 3, 1), "{DD-1}/{DD+30}/{DD-366}", "29/31/01"},   // leap February
        {on(2001, 3, 1), "{DD-1}", "28"},
        {on(2000, 1, 1), "{DD-1}{MM-1}{YYYY-1}{MMM-13}", "31121999Dec"},
        {on(1999, 12, 31), "{DD+1}{MM+1}{YYYY+1}{MMM+25}", "0101 2000Jan"},
        {on(2001, 3, 31), "{MM-1}", "02"},                         // no overflow into March
        {on(2000, 3, 1), "{DAY}{DAYN}{DAY+4}{DAYN-3}", "Wed3Sun0"},
        {on(2000, 3, 1), "{HH}h{HH+15}", "10h01"},
        {on(2000, 3, 1), "{SITENAME}.log", "www.example.com.log"},
        {on(2000, 3, 1), "{YYYY_BEG}{MM_BEG}{DD_BEG}-{YYYY_END}{MM_END+1}", "19991231-200102"},
        {on(2000, 3, 1), "{FOO}{DD}{", "{FOO}01{"},
        {on(2000, 3, 1), "plain.log", "plain.log"},
    };
    for (const auto& c : cases) {
        std::string want = c.want;
        want.erase(std::remove(want.begin(), want.end(), ' '), want.end());
        EXPECT_EQ(ExpandLogName(c.name, c.ctx), want) << c.name;
    }
}

// A Windows shortcut whose LinkInfo names a local path.
std::string shortcut_to(const std::string& target) {
    std::string b(0x4C, '\0');
    b[0] = 0x4C;
    const unsigned char clsid[16] = {0x01, 0x14, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
    std::copy(clsid, clsid + 16, b.begin() + 4);
    b[0x14] = 0x02;   // HasLinkInfo
    auto add32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<char>(v >> (8 * i)));
    };
    const std::uint32_t header = 0x1C, local = header, suffix = header + static_cast<std::uint32_t>(target.size()) + 1;
    add32(suffix + 1);
    add32(header);
    add32(1);
    add32(0);
    add32(local);
    add32(0);
    add32(suffix);
    b += target;
    b.push_back('\0');
    b.push_back('\0');
    add32(0);
    return b;
}

std::vector<std::string> sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

TEST(LogList, AddsFoldersPatternsAndShortcuts) {
    TempDir dir;
    fs::create_directories(dir / "logs" / "old");
    for (const char* f : {"logs/a.log", "logs/b.log.gz", "logs/old/c.log", "ACCESS1.log",
                          "access2.log", "error.log"})
        write_file(dir / f, "x\n");
    write_file(dir / "to_file.lnk", shortcut_to((dir / "error.log").string()));
    write_file(dir / "to_folder.LNK", shortcut_to((dir / "logs").string()));
    write_file(dir / "broken.lnk", "not a link at all");
    const std::string d = dir.path().string();

    LogList list;
    EXPECT_TRUE(list.AddLog(d + "/logs"));
    EXPECT_EQ(sorted(list.names()), sorted({d + "/logs/a.log", d + "/logs/b.log.gz", d + "/logs/old/c.log"}));

    list.clear();
    list.AddLogPattern(d + "/access*.log");
    EXPECT_EQ(sorted(list.names()), sorted({d + "/ACCESS1.log", d + "/access2.log"}));
    list.clear();
    list.add_from_setting(d + "/acc?ss2.*");
    EXPECT_EQ(list.names(), std::vector<std::string>{d + "/access2.log"});

    list.clear();
    EXPECT_TRUE(list.AddLog(d + "/to_file.lnk"));
    EXPECT_EQ(list.names(), std::vector<std::string>{d + "/error.log"});
    list.clear();
    EXPECT_TRUE(list.AddLog(d + "/to_folder.LNK"));
    EXPECT_EQ(list.size(), 3u);

    list.clear();
    RecordingSink sink;
    EXPECT_FALSE(list.AddLog(d + "/broken.lnk"));
    EXPECT_TRUE(list.empty());
    ASSERT_EQ(sink.errors.size(), 1u);
    EXPECT_NE(sink.errors[0].find("broken.lnk"), std::string::npos);
    EXPECT_NE(sink.errors[0].find("not a shell link"), std::string::npos);
}

TEST(LogList, FoldersAndWildcardsAreReadInNaturalNameOrder) {
    TempDir dir;
    std::filesystem::create_directory(dir / "logs");
    for (const char* name : {"access.log.10", "access.log", "access.log.2", "access.log.1"})
        write_file(dir / "logs" / name, "x\n");
    const std::string d = (dir / "logs").string();
    const std::vector<std::string> want{d + "/access.log", d + "/access.log.1",
                                        d + "/access.log.2", d + "/access.log.10"};
    LogList list;
    list.AddLog(d);
    EXPECT_EQ(list.names(), want);
    list.clear();
    EXPECT_TRUE(list.add_from_setting(d + "/access.log*"));
    EXPECT_EQ(list.names(), want);
    EXPECT_FALSE(list.add_from_setting(d + "/error*.log"));
    EXPECT_TRUE(natural_less("a007b", "a10b"));
    EXPECT_FALSE(natural_less("a10", "a9"));
}

TEST(LogList, KeepsRemoteAndMacroNamesAsWritten) {
    LogList list;
    list.add_from_setting("ftp://user:pw@host/logs/*.log");
    list.add_from_setting("log=https://host/access.log");
    EXPECT_TRUE(list.AddLog("/var/log/{YYYY}/access.log"));
    EXPECT_EQ(list.names(), (std::vector<std::string>{"ftp://user:pw@host/logs/*.log",
                                                      "https://host/access.log",
                                                      "/var/log/{YYYY}/access.log"}));
}

TEST(LogList, RefusesNamesBeyondItsLimits) {
    LogList list;
    for (std::size_t i = 0; i < LogList::kMaxEntries; ++i) ASSERT_TRUE(list.AddLog("f" + std::to_string(i)));
    EXPECT_FALSE(list.AddLog("one.too.many"));
    EXPECT_EQ(list.size(), LogList::kMaxEntries);

    list.clear();
    const std::string big(LogList::kTextArea / 2, 'n');
    EXPECT_TRUE(list.AddLog(big));
    EXPECT_FALSE(list.AddLog(big)) << "the text area holds the names and their terminators";
    EXPECT_TRUE(list.AddLog("small"));
}

}  // namespace
}  // namespace tallowick::logs
