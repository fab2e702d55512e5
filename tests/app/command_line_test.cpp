// The command line as a user meets it: the real executable, its output and exit code.
#include "app/command_line.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace tallowick::app {
namespace {

using test::run_process;
using test::tallowick_binary;

test::ProcessResult tallowick(const std::vector<std::string>& args) {
    return run_process(tallowick_binary(), args);
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
    auto r = tallowick({"-o", "/nonexistent-tallowick/sub/report.html"});
    EXPECT_EQ(r.exit_code, kExitNotStarted);
    EXPECT_EQ(r.out,
              "Cannot find output path (/nonexistent-tallowick/sub/report.html)\n"
              "because No such file or directory\n");
}

TEST(CommandLine, RunWithAnExistingOutputFolderSucceeds) {
    test::TempDir dir;
    auto r = tallowick({"-o", (dir / "report.html").string()});
    EXPECT_EQ(r.exit_code, kExitOk) << r.out << r.err;
    // A folder given as the output path works as well.
    EXPECT_EQ(tallowick({"-d", dir.path().string()}).exit_code, kExitOk);
}

TEST(CommandLine, UnknownOptionsAreReportedOnlyWhenQuietLevelIsSet) {
    test::TempDir dir;
    std::string out = (dir / "r.html").string();
    auto silent = tallowick({"-bogus", "-o", out});
    EXPECT_EQ(silent.exit_code, kExitOk);
    EXPECT_EQ(silent.out.find("unknown option"), std::string::npos) << silent.out;

    auto reported = tallowick({"-q1", "-bogus", "+alsobogus", "plainword", "-o", out});
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
    EXPECT_NE(r.out.find("missing.tkp"), std::string::npos) << r.out;
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
