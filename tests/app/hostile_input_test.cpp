// Hostile input through the real executable: crafted lines, folders that link
// back into themselves, values outside their range, a redirect loop.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "logs/log_source.h"
#include "support/loopback_server.h"
#include "support/test_support.h"

namespace tallowick::app {
namespace {

namespace fs = std::filesystem;

test::ProcessResult tallowick(const std::vector<std::string>& args) {
    return test::run_process(test::tallowick_binary(), args);
}

std::string hit(int n) {
    return "10.0.0." + std::to_string(n) + " - - [08/Dec/2026:10:00:0" + std::to_string(n % 10) +
           " +0000] \"GET /page" + std::to_string(n) + ".html HTTP/1.1\" 200 100 \"-\" \"Mozilla/5.0\"";
}

TEST(HostileInput, NeitherOverLongLinesNorCrLfEndsAddLines) {
    test::TempDir dir;
    // A request so long that the reader's limit falls where a whole forged line
    // begins, with its own client, date, URL and byte count.
    std::string crafted = "10.0.0.9 - - [08/Dec/2026:10:00:00 +0000] \"GET /";
    crafted.append(logs::LogSource::kMaxLine - crafted.size(), 'A');
    crafted += "6.6.6.6 - - [08/Dec/2026:11:00:00 +0000] \"GET /forged.html HTTP/1.0\" 200 999999 "
               "\"-\" \"x\"\" 200 10 \"-\" \"Mozilla/5.0\"";
    test::write_file(dir / "access.log", hit(1) + "\r\n" + crafted + "\r\n" + hit(2) + "\r\n");
    const auto r = tallowick({"-l", (dir / "access.log").string(), "-o", (dir / "index.html").string()});
    EXPECT_EQ(r.exit_code, kExitOk) << r.out;
    EXPECT_NE(r.out.find("3 lines read, 2 hits accepted, 1 lines not understood"), std::string::npos)
        << r.out;
    EXPECT_EQ(test::read_file(dir / "Files.html").find("forged"), std::string::npos);
}

TEST(HostileInput, FolderWalkDoesNotFollowLinksToFolders) {
    test::TempDir dir;
    fs::create_directories(dir / "logs" / "sub");
    test::write_file(dir / "logs" / "a.log", hit(1) + "\n" + hit(2) + "\n");
    test::write_file(dir / "logs" / "sub" / "b.log", hit(3) + "\n");
    // Links to the folder itself and to its parent: each would repeat the walk.
    fs::create_directory_symlink(".", dir / "logs" / "self");
    fs::create_directory_symlink("..", dir / "logs" / "sub" / "up");
    fs::create_directory_symlink(dir / "logs", dir / "logs" / "sub" / "again");
    const auto r = tallowick({"-l", (dir / "logs").string(), "-o", (dir / "index.html").string()});
    EXPECT_EQ(r.exit_code, kExitOk) << r.out;
    EXPECT_NE(r.out.find("3 lines read, 3 hits accepted"), std::string::npos) << r.out;
}

TEST(HostileInput, ValuesOutsideTheirRangeStopTheRunBeforeAnyReport) {
    test::TempDir dir;
    test::write_file(dir / "access.log", hit(1) + "\n");
    fs::create_directory(dir / "folder");
    const std::vector<std::vector<std::string>> refused = {
        {"-reportformat", "3"}, {"-reportformat", "255"}, {"-imageformat", "4"},
        {"-graphsort", "3"},    {"-custom_dateformat", "7"}, {"-custom_timeformat", "3"},
        {"-head", (dir / "folder").string()}, {"-foot", (dir / "folder").string()},
    };
    for (const auto& option : refused) {
        std::vector<std::string> args = option;
        args.insert(args.end(), {"-l", (dir / "access.log").string(), "-o",
                                 (dir / "out" / "index.html").string()});
        fs::create_directory(dir / "out");
        const auto r = tallowick(args);
        EXPECT_EQ(r.exit_code, kExitNotStarted) << option[0] << " " << option[1] << ": " << r.out;
        EXPECT_NE(r.err.find(option[0].substr(1)), std::string::npos) << r.err;
        EXPECT_TRUE(fs::is_empty(dir / "out")) << option[0];
    }
}

TEST(HostileInput, RedirectLoopOfARemoteLogEndsWithAnError) {
    test::TempDir dir;
    const std::uint16_t port = test::free_port();
    const std::string server =
        "import http.server, sys\n"
        "class Loop(http.server.BaseHTTPRequestHandler):\n"
        "    def do_GET(self):\n"
        "        self.send_response(302)\n"
        "        self.send_header('Location', '/again' + str(len(self.path)))\n"
        "        self.end_headers()\n"
        "    def log_message(self, *a): pass\n"
        "http.server.ThreadingHTTPServer(('127.0.0.1', int(sys.argv[1])), Loop).serve_forever()\n";
    test::write_file(dir / "loop.py", server);
    test::LoopbackServer loop(test::system_python(), {(dir / "loop.py").string(), std::to_string(port)},
                              port);
    ASSERT_TRUE(loop.ready()) << loop.output();
    const auto r = tallowick({"-l", "http://127.0.0.1:" + std::to_string(port) + "/access.log", "-o",
                              (dir / "index.html").string()});
    EXPECT_NE(r.exit_code, kExitOk);
    EXPECT_NE(r.err.find("redirect"), std::string::npos) << r.err;
}

TEST(HostileInput, SigtermDoesNotWaitForAStalledRemoteLog) {
    test::TempDir dir;
    const std::uint16_t port = test::free_port();
    // Sends the head of a response and a few lines, then nothing more.
    const std::string server =
        "import http.server, sys, time\n"
        "class Stall(http.server.BaseHTTPRequestHandler):\n"
        "    def do_GET(self):\n"
        "        self.send_response(200)\n"
        "        self.end_headers()\n"
        "        self.wfile.write(b'" + hit(1) + "\\n' * 3)\n"
        "        self.wfile.flush()\n"
        "        time.sleep(120)\n"
        "    def log_message(self, *a): pass\n"
        "http.server.ThreadingHTTPServer(('127.0.0.1', int(sys.argv[1])), Stall).serve_forever()\n";
    test::write_file(dir / "stall.py", server);
    test::LoopbackServer stall(test::system_python(),
                               {(dir / "stall.py").string(), std::to_string(port)}, port);
    ASSERT_TRUE(stall.ready()) << stall.output();
    fs::create_directory(dir / "out");
    const std::string log = "http://127.0.0.1:" + std::to_string(port) + "/access.log";
    const std::string program = test::tallowick_binary().string();
    const auto start = std::chrono::steady_clock::now();
    const auto r = test::run_process(
        "/bin/sh", {"-c", "\"$0\" -l \"$1\" -o \"$2\" & sleep 1; kill -TERM $!; wait $!", program,
                    log, (dir / "out" / "index.html").string()});
    EXPECT_EQ(r.exit_code, 143) << r.out;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_TRUE(fs::is_empty(dir / "out"));
}

}  // namespace
}  // namespace tallowick::app
