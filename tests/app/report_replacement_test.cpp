// A report is replaced whole or not at all: the real executable against a full
// disk, signals, a second run into the same folder and names planted in it.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "base/file_transaction.h"
#include "support/test_support.h"

namespace tallowick {
namespace {

namespace fs = std::filesystem;
using Snapshot = std::map<std::string, std::string>;

// A combined log of `lines` hits over a few days, different for each seed.
std::string make_log(const test::TempDir& dir, const std::string& name, int lines, int seed) {
    std::string text;
    for (int i = 0; i < lines; ++i) {
        char line[256];
        std::snprintf(line, sizeof line,
                      "10.%d.%d.%d - - [%02d/Dec/2026:%02d:%02d:00 +0000] \"GET /d%d/p%d.html "
                      "HTTP/1.1\" %d %d \"-\" \"Mozilla/5.0 (X11; Linux x86_64) Firefox/%d.0\"\n",
                      seed, i % 7, i % 211, 1 + (i * 7 / lines) + seed % 3, i % 24, i % 60,
                      i % 13, (i * seed) % 97, i % 17 == 0 ? 404 : 200, 100 + i * seed, 90 + i % 9);
        text += line;
    }
    test::write_file(dir / name, text);
    return (dir / name).string();
}

// Every file of the report folder with its bytes; the lock file is not part of it.
Snapshot snapshot(const fs::path& folder) {
    Snapshot files;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().filename() != FolderLock::kFileName)
            files[e.path().filename().string()] = test::read_file(e.path());
    return files;
}

bool temporary_files_in(const Snapshot& files) {
    for (const auto& [name, bytes] : files)
        if (name.find(".tmp") != std::string::npos) return true;
    return false;
}

bool whole_page(const std::string& name, const std::string& bytes) {
    if (!name.ends_with(".html")) return true;
    const std::size_t end = bytes.rfind("</HTML>");
    return end != std::string::npos && bytes.find_first_not_of("\r\n", end + 7) == std::string::npos;
}

// Starts the program without waiting; file_limit caps the size of every file
// it writes (RLIMIT_FSIZE), as a full disk would.
pid_t launch(const std::vector<std::string>& args, rlim_t file_limit = RLIM_INFINITY) {
    std::vector<std::string> store{test::tallowick_binary().string(), "-q"};
    store.insert(store.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : store) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        if (file_limit != RLIM_INFINITY) {
            const rlimit limit{file_limit, file_limit};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

int exit_code(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int run(const std::vector<std::string>& args, rlim_t file_limit = RLIM_INFINITY) {
    return exit_code(launch(args, file_limit));
}

TEST(ReportReplacement, FullDiskLeavesTheOldReportByteForByte) {
    test::TempDir dir;
    const fs::path out = dir / "out";
    fs::create_directory(out);
    const std::string index = (out / "index.html").string();
    ASSERT_EQ(run({"-l", make_log(dir, "old.log", 50, 1), "-o", index}), 0);
    const Snapshot old = snapshot(out);
    // Every file of the new report is larger than the limit allows.
    const auto result = test::run_process("/bin/sh", {"-c", "ulimit -f 4; exec \"$0\" \"$@\"",
                                                      test::tallowick_binary().string(), "-l",
                                                      make_log(dir, "new.log", 3000, 2), "-o",
                                                      index});
    EXPECT_NE(result.exit_code, 0);
    EXPECT_NE(result.err.find("File too large"), std::string::npos) << result.err;
    EXPECT_EQ(snapshot(out), old);
}

TEST(ReportReplacement, SignalsCancelTheRunAndEveryPageIsOldOrNew) {
    test::TempDir dir;
    const fs::path out = dir / "out";
    fs::create_directory(out);
    const std::string index = (out / "index.html").string();
    const std::string old_log = make_log(dir, "old.log", 40, 1);
    const std::string new_log = make_log(dir, "new.log", 3000, 2);
    ASSERT_EQ(run({"-l", old_log, "-o", index}), 0);
    const Snapshot old = snapshot(out);
    // How long a whole run takes, so that the signals land all over it.
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(run({"-l", new_log, "-o", (dir / "timing.html").string()}), 0);
    const auto span = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start);

    std::mt19937 random(18);
    int cancelled = 0;
    for (int trial = 0; trial < 20; ++trial) {
        const int sig = trial % 2 ? SIGINT : SIGTERM;
        const pid_t pid = launch({"-l", new_log, "-o", index});
        usleep(static_cast<useconds_t>(random() % static_cast<unsigned>(span.count() + 1)));
        kill(pid, sig);
        const int code = exit_code(pid);
        ASSERT_TRUE(code == 0 || code == 128 + sig) << "trial " << trial << ": " << code;
        const Snapshot now = snapshot(out);
        ASSERT_FALSE(temporary_files_in(now)) << "trial " << trial;
        for (const auto& [name, bytes] : now)
            ASSERT_TRUE(whole_page(name, bytes)) << "trial " << trial << ": " << name;
        // All old (cancelled in time) or all new (finished); never a mixture.
        if (now.at("index.html") == old.at("index.html")) {
            ASSERT_EQ(now, old) << "trial " << trial;
            ++cancelled;
        } else {
            for (const auto& [name, bytes] : now) {
                // The frame page is the same in every report.
                if (!name.ends_with(".html") || name == "freport.html") continue;
                ASSERT_FALSE(old.count(name) && old.at(name) == bytes)
                    << "trial " << trial << ": " << name;
            }
            // Put the old report back for the next trial.
            fs::remove_all(out);
            fs::create_directory(out);
            for (const auto& [name, bytes] : old) test::write_file(out / name, bytes);
        }
    }
    EXPECT_GT(cancelled, 0);
}

TEST(ReportReplacement, ConcurrentRunsIntoOneFolderLeaveOneWholeReport) {
    test::TempDir dir;
    const fs::path out = dir / "out";
    fs::create_directory(out);
    const std::string index = (out / "index.html").string();
    const std::string log = make_log(dir, "access.log", 300, 3);
    // The two runs differ only in the head text every page carries. Pages are
    // what may interleave; without charts the 40 runs take a fraction of the time.
    std::string no_charts;
    for (const char* word : {"daily", "hourly", "weekly", "weekdays", "country", "region", "client",
                             "file", "browser", "browservsos", "opersys", "filetype", "dir",
                             "topdir", "seconddomain", "errors", "errorurl", "pages",
                             "searchengine", "download", "robot", "loyalty", "timeon",
                             "clienthistory", "pagehistory", "govthistory"})
        no_charts += std::string("-graph ") + word + "\n";
    std::vector<std::string> settings;
    for (const std::string run_name : {"run-A", "run-B"}) {
        const fs::path file = dir / (run_name + ".tkp");
        test::write_file(file, "#Tallowick3.6 preferences file\n" + no_charts + "htmlhead\n<!-- " +
                                   run_name + " -->\n<HTMLEND>\n");
        settings.push_back(file.string());
    }
    for (int trial = 0; trial < 20; ++trial) {
        const pid_t a = launch({"-p", settings[0], "-l", log, "-o", index});
        const pid_t b = launch({"-p", settings[1], "-l", log, "-o", index});
        ASSERT_EQ(exit_code(a), 0);
        ASSERT_EQ(exit_code(b), 0);
        std::string winner;
        for (const auto& [name, bytes] : snapshot(out)) {
            ASSERT_TRUE(whole_page(name, bytes)) << "trial " << trial << ": " << name;
            if (!name.ends_with(".html") || name == "freport.html") continue;
            const bool in_a = bytes.find("run-A") != std::string::npos;
            const bool in_b = bytes.find("run-B") != std::string::npos;
            ASSERT_NE(in_a, in_b) << "trial " << trial << ": " << name;
            if (winner.empty()) winner = in_a ? "run-A" : "run-B";
            ASSERT_EQ(in_a ? "run-A" : "run-B", winner) << "trial " << trial << ": " << name;
            ASSERT_EQ(bytes.find("<HTML"), bytes.rfind("<HTML")) << name;
        }
    }
}

TEST(ReportReplacement, PlantedNamesAreReplacedNeverFollowed) {
    test::TempDir dir;
    const fs::path out = dir / "out";
    fs::create_directory(out);
    const std::string index = (out / "index.html").string();
    const std::string log = make_log(dir, "access.log", 200, 4);
    test::write_file(dir / "victim", "precious\n");
    fs::create_symlink(dir / "victim", out / "Daily.html");
    ASSERT_EQ(run({"-l", log, "-o", index}), 0);
    EXPECT_EQ(test::read_file(dir / "victim"), "precious\n");
    EXPECT_FALSE(fs::is_symlink(out / "Daily.html"));
    EXPECT_TRUE(whole_page("Daily.html", test::read_file(out / "Daily.html")));

    // An image name taken by a folder cannot be written: the run says so and
    // fails, and the report that was there stays.
    fs::remove(out / "ReqDaily.gif");
    const Snapshot before = snapshot(out);
    fs::create_directory(out / "ReqDaily.gif");
    const auto result = test::run_process(test::tallowick_binary(), {"-l", log, "-o", index});
    EXPECT_NE(result.exit_code, 0);
    EXPECT_NE(result.err.find("ReqDaily.gif"), std::string::npos) << result.err;
    fs::remove(out / "ReqDaily.gif");
    EXPECT_EQ(snapshot(out), before);
}

}  // namespace
}  // namespace tallowick
