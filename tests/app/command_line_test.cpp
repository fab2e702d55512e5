// The command line as a user meets it: the real executable, its output and exit code.
#include "app/command_line.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>

#include "support/test_support.h"

namespace tallowick::app {
namespace {

using test::run_process;
using test::tallowick_binary;

test::ProcessResult tallowick(const std::vector<std::string>& args) {
    return run_process(tallowick_binary(), args);
}

std::string combined_lines(int count, int day = 1) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text += "10.0.0." + std::to_string(i % 7) + " - - [0" + std::to_string(day) +
                "/Mar/2024:10:00:0" + std::to_string(i % 10) + " +0000] \"GET /p" +
                std::to_string(i) + ".html HTTP/1.1\" 200 100 \"-\" \"curl/8.0\"\n";
    return text;
}

TEST(CommandLine, HelpInAnyFormPrintsUsageAndExitsBeforeTheRun) {
    for (std::string help : {"-h", "-help", "-?", "--h", "--?", "--help", "-HELP"}) {
        // The output folder does not exist: a run would fail, so none must start.
        auto r = tallowick({"-o", "/nonexistent-tallowick/out.html", help, "-l", "x.log"});
        EXPECT_EQ(r.exit_code, 0) << help;
        EXPECT_EQ(r.out, usage_text()) << help;
    }
}

TEST(CommandLine, VersionLine) {
    auto r = tallowick({"-ver"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, "Tallowick Version 3.6 (Linux)\n");
    EXPECT_EQ(tallowick({"--version"}).out, r.out);
}

TEST(CommandLine, MissingOutputFolderStopsTheRunWithTheSystemReason) {
    auto r = tallowick({"-o", "/nonexistent-tallowick/sub/report.html", "-l", "x.log"});
    EXPECT_EQ(r.exit_code, kExitNotStarted);
    EXPECT_EQ(r.err,
              "Cannot find output path (/nonexistent-tallowick/sub/report.html)\n"
              "because No such file or directory\n");
}

TEST(CommandLine, RunWithAnExistingOutputFolderSucceedsAndSaysWhereTheReportIs) {
    test::TempDir dir;
    test::write_file(dir / "a.log", combined_lines(3));
    const std::string log = (dir / "a.log").string();
    auto r = tallowick({"-o", (dir / "report.html").string(), "-l", log});
    EXPECT_EQ(r.exit_code, kExitOk) << r.out << r.err;
    EXPECT_TRUE(r.out.ends_with("\nReport: " + (dir / "report.html").string() + "\n")) << r.out;
    // A folder given as the output path works as well.
    r = tallowick({"-d", dir.path().string(), "-l", log});
    EXPECT_EQ(r.exit_code, kExitOk);
    EXPECT_NE(r.out.find("Report: " + (dir / "index.html").string()), std::string::npos);
}

TEST(CommandLine, AuthenticatedUsersHaveAPageOfTheirOwn) {
    test::TempDir dir;
    std::string log = combined_lines(2);
    for (const char* user : {"jdoe", "asmith", "jdoe"})
        log += std::string("10.0.0.9 - ") + user +
               " [01/Mar/2024:11:00:00 +0000] \"GET /private/ HTTP/1.1\" 200 10 \"-\" \"curl/8.0\"\n";
    test::write_file(dir / "a.log", log);
    auto r = tallowick({"-o", (dir / "r.html").string(), (dir / "a.log").string()});
    ASSERT_EQ(r.exit_code, kExitOk) << r.err;
    const std::string users = test::read_file(dir / "User.html");
    EXPECT_NE(users.find("jdoe"), std::string::npos);
    EXPECT_NE(users.find("asmith"), std::string::npos);
}

TEST(CommandLine, BareLogNamesAndTheDefaultReportUnderTheUserDataFolder) {
    test::TempDir dir;
    test::write_file(dir / "access.log.2", combined_lines(2));
    test::write_file(dir / "access.log.10", combined_lines(3));
    const char* data = std::getenv("XDG_DATA_HOME");
    ASSERT_NE(data, nullptr);
    const auto report = std::filesystem::path(data) / "Brisvale-Tallowick" / "Report" /
                        "Webreport.html";
    std::filesystem::remove_all(report.parent_path());

    auto r = tallowick({(dir / "access.log.2").string()});
    EXPECT_EQ(r.exit_code, kExitOk) << r.out << r.err;
    EXPECT_TRUE(r.out.starts_with("2 lines read")) << r.out;
    EXPECT_NE(r.out.find("Report: " + report.string() + "\n"), std::string::npos) << r.out;
    EXPECT_TRUE(std::filesystem::exists(report));
    // A folder and a wildcard as well; a word that is the value of an option is not a log.
    r = tallowick({dir.path().string(), "-siteurl", (dir / "access.log.2").string()});
    EXPECT_TRUE(r.out.starts_with("5 lines read")) << r.out;
    r = tallowick({(dir / "access.log.*").string()});
    EXPECT_TRUE(r.out.starts_with("5 lines read")) << r.out;
}

TEST(CommandLine, RunsThatCannotDoWhatWasAskedSayWhyAndExitNonZero) {
    test::TempDir dir;
    test::write_file(dir / "a.log", combined_lines(2));
    test::write_file(dir / "b.log", combined_lines(3));
    test::write_file(dir / "empty.log", "");
    const std::string out = (dir / "r.html").string();

    // A log that cannot be opened is passed over; the report holds the others.
    auto r = tallowick({"-o", out, "-l", (dir / "a.log").string(), "-l",
                        (dir / "missing.log").string(), "-l", (dir / "b.log").string()});
    EXPECT_EQ(r.exit_code, kExitRunFailed);
    EXPECT_TRUE(r.out.starts_with("5 lines read, 5 hits accepted")) << r.out;
    EXPECT_NE(r.err.find("missing.log"), std::string::npos) << r.err;
    EXPECT_TRUE(std::filesystem::exists(out));

    // No log, a wildcard that matches nothing: nothing runs.
    r = tallowick({"-o", out});
    EXPECT_EQ(r.exit_code, kExitNotStarted);
    EXPECT_NE(r.err.find("No log file"), std::string::npos) << r.err;
    r = tallowick({"-o", out, "-l", (dir / "nothing*.log").string()});
    EXPECT_EQ(r.exit_code, kExitNotStarted);
    EXPECT_NE(r.err.find("no log file matches"), std::string::npos) << r.err;

    // Brace macros in a wildcard are expanded before matching.
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    const std::string year = std::to_string(tm.tm_year + 1900);
    test::write_file(dir / ("access-" + year + "-x.log"), combined_lines(4));
    r = tallowick({"-o", out, "-l", (dir / "access-{YYYY}*.log").string()});
    EXPECT_EQ(r.exit_code, kExitOk) << r.err;
    EXPECT_TRUE(r.out.starts_with("4 lines read")) << r.out;

    // An empty log writes its empty report and says so.
    std::filesystem::remove(out);
    r = tallowick({"-o", out, (dir / "empty.log").string()});
    EXPECT_EQ(r.exit_code, kExitRunFailed);
    EXPECT_NE(r.err.find("report is empty"), std::string::npos) << r.err;
    EXPECT_TRUE(std::filesystem::exists(out));

    // A date that cannot be read stops the run before it starts.
    r = tallowick({"-o", out, "-l", (dir / "a.log").string(), "-sdate", "30/11/2026"});
    EXPECT_EQ(r.exit_code, kExitNotStarted);
    EXPECT_NE(r.err.find("sdate: \"30/11/2026\" is not a date"), std::string::npos) << r.err;
    r = tallowick({"-o", out, "-l", (dir / "a.log").string(), "-sdate", "2024-03-01"});
    EXPECT_EQ(r.exit_code, kExitOk) << r.err;
}

TEST(CommandLine, UnknownOptionsAreReportedOnlyWhenQuietLevelIsSet) {
    test::TempDir dir;
    std::string out = (dir / "r.html").string();
    test::write_file(dir / "a.log", combined_lines(1));
    const std::string log = (dir / "a.log").string();
    auto silent = tallowick({"-bogus", "-o", out, "-l", log});
    EXPECT_EQ(silent.exit_code, kExitOk);
    EXPECT_EQ(silent.out.find("unknown option"), std::string::npos) << silent.out;

    auto reported = tallowick({"-q1", "-bogus", "+alsobogus", "plainword", "-o", out, "-l", log});
    EXPECT_EQ(reported.exit_code, kExitOk);
    std::string program = tallowick_binary().string();
    EXPECT_NE(reported.out.find("please try " + program + " -h for a command syntax overview\n"
                                "unknown option (-bogus)\n"),
              std::string::npos)
        << reported.out;
    EXPECT_NE(reported.out.find("unknown option (+alsobogus)\n"), std::string::npos);
    // Words without "-" or "+" are values of the option before them.
    EXPECT_EQ(reported.out.find("(plainword)"), std::string::npos);
}

TEST(CommandLine, UnreadableSettingsFileStopsTheRun) {
    test::TempDir dir;
    auto r = tallowick({"-r", (dir / "missing.tkp").string(), "-o", (dir / "r.html").string()});
    EXPECT_EQ(r.exit_code, kExitNotStarted) << r.out;
    EXPECT_NE(r.err.find("missing.tkp"), std::string::npos) << r.err;
}

TEST(CommandLine, NoOptionsAndNoTerminalIsNotABatchRun) {
    auto r = tallowick({});
    EXPECT_EQ(r.exit_code, kExitUnavailable);
    EXPECT_FALSE(r.err.empty());
}

TEST(RawSwitches, ModeSwitchesAndTheirEffectOnTheOptions) {
    auto inspect = [](std::vector<std::string_view> args) { return inspect_command_line(args); };

    auto debug = inspect({"-l", "a.log", "-debug", "-o", "x"});
    EXPECT_TRUE(debug.debug);
    EXPECT_EQ(debug.tokens, (std::vector<std::string>{"-l", "a.log"}));

    // "-http" starts the host; the options around it still apply.
    auto http = inspect({"-http", "-l", "a.log"});
    EXPECT_TRUE(http.report_server);
    EXPECT_EQ(http.tokens, (std::vector<std::string>{"-l", "a.log"}));

    auto clone = inspect({"-clone", "-l", "a.log"});
    EXPECT_TRUE(clone.second_instance);
    EXPECT_TRUE(clone.tokens.empty());

    auto cli = inspect({"-cli", "x.tkp"});
    EXPECT_TRUE(cli.command_line);
    EXPECT_TRUE(cli.console);
    EXPECT_EQ(cli.tokens, (std::vector<std::string>{"x.tkp"}));

    EXPECT_FALSE(inspect({"site.tkp"}).command_line);
    EXPECT_TRUE(inspect({"site.tkp", "-nogui"}).command_line);
    EXPECT_TRUE(inspect({"-nt"}).service);
    EXPECT_FALSE(inspect({"-l", "-nt"}).service);   // only as the first option
    EXPECT_FALSE(inspect({"-ignorecase", "-l", "a.log"}).service);   // whole words only

    std::vector<std::string> many(400, "+dns");
    std::vector<std::string_view> views(many.begin(), many.end());
    EXPECT_EQ(inspect_command_line(views).tokens.size(), 256u);
}

}  // namespace
}  // namespace tallowick::app
