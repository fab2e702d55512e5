// The history database through the real program: reports rebuilt from their
// databases, day by day and server by server, compared file by file with the
// comma-delimited report of one run over the logs.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>

#include "support/test_support.h"

namespace tallowick::app {
namespace {

namespace fs = std::filesystem;
using test::read_file;
using test::TempDir;
using test::write_file;

test::ProcessResult Tallowick(const fs::path& out, std::vector<std::string> args) {
    std::vector<std::string> all = {"-q", "-o", (out / "index.html").string(), "-reportformat",
                                    "2"};
    all.insert(all.end(), args.begin(), args.end());
    fs::create_directories(out);
    return test::run_process(test::tallowick_binary(), all);
}

// The comma-delimited files of a report, without what differs from run to run:
// the time each file was written ("MM/DD/YYYY HH:MM:SS") and the processing speed,
// nor the count of log lines not understood, which a database does not keep.
std::map<std::string, std::string> ReportFiles(const fs::path& dir) {
    auto written_at = [](const std::string& l) {
        return l.size() == 19 && l[2] == '/' && l[5] == '/' && l[10] == ' ' && l[13] == ':';
    };
    std::map<std::string, std::string> files;
    for (const auto& e : fs::directory_iterator(dir)) {
        if (e.path().extension() != ".txt") continue;
        std::istringstream in(read_file(e.path()));
        std::string kept;
        for (std::string line; std::getline(in, line);)
            if (!written_at(line) && !line.starts_with("Log Processing time") &&
                !line.starts_with("Invalid Log Entries,"))
                kept += line + '\n';
        files[e.path().filename().string()] = kept;
    }
    return files;
}

// The first n comma-separated columns of every line.
std::string FirstColumns(const std::string& csv, int n) {
    std::string out;
    std::istringstream in(csv);
    for (std::string line; std::getline(in, line);) {
        std::size_t end = 0;
        for (int c = 0; c < n && end != std::string::npos; ++c)
            end = line.find(',', end == 0 && c == 0 ? 0 : end + 1);
        out += line.substr(0, end) + '\n';
    }
    return out;
}

void ExpectSameReports(const fs::path& expected, const fs::path& actual) {
    const auto a = ReportFiles(expected), b = ReportFiles(actual);
    ASSERT_FALSE(a.empty());
    for (const auto& [name, text] : a) {
        const auto it = b.find(name);
        ASSERT_NE(it, b.end()) << name << " missing";
        EXPECT_EQ(it->second, text) << name;
    }
    EXPECT_EQ(a.size(), b.size());
}

std::vector<std::string> SharedLogs() {
    std::vector<std::string> logs;
    if (const auto dir = test::shared_logs_dir())
        for (const auto& e : fs::recursive_directory_iterator(*dir))
            if (e.is_regular_file() && e.path().extension() != ".md")
                logs.push_back(fs::relative(e.path(), *dir).string());
    std::sort(logs.begin(), logs.end());
    return logs;
}

class HistoryRoundTrip : public testing::TestWithParam<std::string> {};

TEST_P(HistoryRoundTrip, ReportFromTheDatabaseAloneIsTheReportOfTheLog) {
    const fs::path log = *test::shared_logs_dir() / GetParam();
    TempDir dir;
    const auto db = (dir / "site.tdb").string();
    const auto first = Tallowick(dir / "log", {"+savedata", "-savedatafile", db, "-l", log});
    if (first.exit_code != 0) GTEST_SKIP() << "the log gives no report: " << first.out;
    ASSERT_TRUE(fs::exists(db));
    ASSERT_EQ(Tallowick(dir / "db", {"-l", db}).exit_code, 0);
    ExpectSameReports(dir / "log", dir / "db");
}

INSTANTIATE_TEST_SUITE_P(SharedLogs, HistoryRoundTrip, testing::ValuesIn(SharedLogs()),
                         [](const auto& info) {
                             std::string name = info.param;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(HistoryRoundTrip);

// The shared log of six days, in three parts of two days each.
std::optional<std::array<std::string, 3>> ThreeParts(std::string* whole) {
    const auto dir = test::shared_logs_dir();
    if (!dir) return std::nullopt;
    *whole = read_file(*dir / "combined/basjes_nl_2015-10_hackers_combined.log");
    std::array<std::string, 3> parts;
    std::istringstream in(*whole);
    for (std::string line; std::getline(in, line);) {
        const auto at = line.find("/Oct/2015");
        if (at == std::string::npos || at < 2) continue;
        const int day = std::stoi(line.substr(at - 2, 2));
        parts[static_cast<std::size_t>(std::clamp((day - 25) / 2, 0, 2))] += line + '\n';
    }
    return parts;
}

TEST(HistoryRuns, DayByDayWithTheDayBeforesDatabaseIsTheReportOfOneRun) {
    std::string whole;
    const auto parts = ThreeParts(&whole);
    if (!parts) GTEST_SKIP() << "no real logs beside the checkout";
    TempDir dir;
    write_file(dir / "access.log", whole);
    ASSERT_EQ(Tallowick(dir / "whole", {"-l", (dir / "access.log").string()}).exit_code, 0);

    // One database per month carries the days on by itself.
    const std::string db = (dir / "site-{YYYY}-{MM}.tdb").string();
    for (int day = 0; day < 3; ++day) {
        const auto log = dir / ("day" + std::to_string(day) + ".log");
        write_file(log, (*parts)[static_cast<std::size_t>(day)]);
        const auto r = Tallowick(dir / ("day" + std::to_string(day)),
                                 {"+savedata", "-savedatafile", db, "-l", log.string()});
        ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    }
    int databases = 0;
    for (const auto& e : fs::directory_iterator(dir.path()))
        databases += e.path().extension() == ".tdb";
    EXPECT_EQ(databases, 1);
    ExpectSameReports(dir / "whole", dir / "day2");
}

TEST(HistoryRuns, DatabasesOfSeveralServersMergeIntoTheReportOfAllTheirLogs) {
    std::string whole;
    const auto parts = ThreeParts(&whole);
    if (!parts) GTEST_SKIP() << "no real logs beside the checkout";
    TempDir dir;
    // Each server's log has a third of every day's lines, under the same name.
    std::array<std::string, 3> servers;
    std::istringstream in(whole);
    int n = 0;
    for (std::string line; std::getline(in, line); ++n)
        servers[static_cast<std::size_t>(n % 3)] += line + '\n';
    std::vector<std::string> all_logs, databases;
    for (int s = 0; s < 3; ++s) {
        const auto server = dir / ("server" + std::to_string(s));
        fs::create_directories(server);
        write_file(server / "access.log", servers[static_cast<std::size_t>(s)]);
        all_logs.insert(all_logs.end(), {"-l", (server / "access.log").string()});
        ASSERT_EQ(Tallowick(server / "report", {"+savedata", "-l", (server / "access.log").string()})
                      .exit_code,
                  0);
        databases.insert(databases.end(), {"-l", (server / "report/access.log.tdb").string()});
    }
    ASSERT_EQ(Tallowick(dir / "all", all_logs).exit_code, 0);
    ASSERT_EQ(Tallowick(dir / "merged", databases).exit_code, 0);
    const auto a = ReportFiles(dir / "all"), b = ReportFiles(dir / "merged");
    // Visits depend on the order the hits are read in; hits, bytes, clients,
    // files and days do not. Rows begin with a comma: requests, share, bytes,
    // share, then the visit columns.
    for (const char* file : {"Files.txt", "Hourly.txt"})
        EXPECT_EQ(b.at(file), a.at(file)) << file;
    for (const char* file : {"Daily.txt", "Weekly.txt", "Client.txt", "Country.txt"})
        EXPECT_EQ(FirstColumns(b.at(file), 5), FirstColumns(a.at(file), 5)) << file;
}

TEST(HistoryRuns, FailuresAreReportedAndLeaveTheOldDatabaseAsItWas) {
    const auto logs = test::shared_logs_dir();
    if (!logs) GTEST_SKIP() << "no real logs beside the checkout";
    const std::string log = (*logs / "combined/basjes_nl_2015-10_hackers_combined.log").string();
    TempDir dir;
    const std::string db = (dir / "site.tdb").string();
    ASSERT_EQ(Tallowick(dir / "a", {"+savedata", "-savedatafile", db, "-l", log}).exit_code, 0);
    const std::string saved = read_file(db);

    // A cut database: an error naming the file and where it stops, no report.
    write_file(dir / "cut.tdb", saved.substr(0, saved.size() / 2));
    auto r = Tallowick(dir / "b", {"-l", (dir / "cut.tdb").string()});
    EXPECT_NE(r.exit_code, 0);
    EXPECT_NE(r.err.find("cut.tdb, line "), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "b/Daily.txt"));
    // An empty one is no log of no hits but a damaged database.
    write_file(dir / "empty.tdb", "");
    EXPECT_NE(Tallowick(dir / "e", {"-l", (dir / "empty.tdb").string()}).exit_code, 0);
    // Asked to, the run keeps what read soundly.
    r = Tallowick(dir / "b2", {"+salvagedata", "-l", (dir / "cut.tdb").string()});
    EXPECT_NE(r.exit_code, 0);
    EXPECT_TRUE(fs::exists(dir / "b2/Daily.txt"));

    // A database folder that does not exist.
    r = Tallowick(dir / "c", {"+savedata", "-savedatafile", (dir / "none/x.tdb").string(), "-l", log});
    EXPECT_NE(r.exit_code, 0);
    EXPECT_NE(r.err.find("Cannot save history database"), std::string::npos) << r.err;

    // A save that runs out of room (a file size limit, as a full disk would):
    // the previous database stays whole.
    const std::string script = "trap '' XFSZ; ulimit -f 8; exec \"$0\" \"$@\"";
    r = test::run_process("/bin/sh", {"-c", script, test::tallowick_binary().string(), "-q", "-o",
                                      (dir / "a/index.html").string(), "+savedata",
                                      "-savedatafile", db, "-l", log, "-l", db});
    EXPECT_NE(r.exit_code, 0);
    EXPECT_EQ(read_file(db), saved);
}

}  // namespace
}  // namespace tallowick::app
