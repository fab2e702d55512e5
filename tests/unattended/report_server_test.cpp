// The report server of the real executable ("-http"), checked with python's
// http.client, curl and a headless browser.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <utime.h>

#include <cstdio>
#include <sstream>

#include "host_fixture.h"

namespace tallowick::test {
namespace {

namespace fs = std::filesystem;

// GETs each path with http.client exactly as written (no normalising) and
// prints one line per answer: status, content type, last-modified, body.
constexpr const char* kFetch = R"(
import http.client, sys
for path in sys.argv[2:]:
    c = http.client.HTTPConnection("127.0.0.1", int(sys.argv[1]), timeout=5)
    c.request("GET", path)
    r = c.getresponse()
    body = r.read()
    print(r.status, r.getheader("Content-Type"), r.getheader("Last-Modified"), len(body),
          repr(body[:400]), sep="|")
)";

struct Answer {
    int status = 0;
    std::string type, modified, body;
    std::size_t size = 0;
};

std::vector<Answer> fetch(std::uint16_t port, const std::vector<std::string>& paths) {
    std::vector<std::string> args{"-c", kFetch, std::to_string(port)};
    args.insert(args.end(), paths.begin(), paths.end());
    const ProcessResult r = run_process(system_python(), args);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    std::vector<Answer> answers;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string part; f.size() < 4 && std::getline(fields, part, '|');) f.push_back(part);
        std::string rest;
        std::getline(fields, rest);
        if (f.size() < 4) continue;
        answers.push_back({std::stoi(f[0]), f[1], f[2], rest, std::stoul(f[3])});
    }
    EXPECT_EQ(answers.size(), paths.size()) << r.out << r.err;
    answers.resize(paths.size());
    return answers;
}

TEST(ReportServer, ServesReportFilesWithTheirTypesAndTimesAndNothingOutside) {
    auto host = start_host({"-l", "/logs/a<b>.log"}, true);
    ASSERT_TRUE(host->server->ready()) << host->server->output();
    write_file(host->report() / "index.html", "<HTML>main page</HTML>");
    write_file(host->report() / "chart.png", std::string("\x89PNG\r\n\x1a\n", 8) + "data");
    write_file(host->report() / "Daily.gif", "GIF89a");
    write_file(host->report() / "report.rtf", "{\\rtf1}");
    write_file(host->report() / "scene.wrl", "#VRML V2.0 utf8");
    write_file(host->report() / "empty.gif", "");
    write_file(host->dir / "secret.txt", "TOP-SECRET");
    fs::create_symlink("../secret.txt", host->report() / "link-out");
    fs::create_symlink("chart.png", host->report() / "link-in.png");
    utimbuf times{1577934245, 1577934245};   // Thu, 02 Jan 2020 03:04:05 GMT
    ::utime((host->report() / "index.html").c_str(), &times);

    // A client that sends half a request and waits does not hold anyone up.
    LineClient slow(host->http_port);
    slow.send("GET /report/ind");

    const auto ok = fetch(host->http_port, {"/report/index.html", "/report/chart.png",
                                            "/report/Daily.gif", "/report/report.rtf",
                                            "/report/scene.wrl", "/report/link-in.png",
                                            "/report/", "/report/missing.gif",
                                            "/report/empty.gif"});
    EXPECT_EQ(ok[0].status, 200);
    EXPECT_EQ(ok[0].type, "text/html");
    EXPECT_EQ(ok[0].modified, "Thu, 02 Jan 2020 03:04:05 GMT");
    EXPECT_EQ(ok[0].body, "b'<HTML>main page</HTML>'");
    EXPECT_EQ(ok[1].type, "image/png");
    EXPECT_EQ(ok[1].size, 12u);
    EXPECT_EQ(ok[2].type, "image/gif");
    EXPECT_EQ(ok[3].type, "application/rtf");
    EXPECT_EQ(ok[4].type, "model/vrml");
    EXPECT_EQ(ok[5].status, 200);   // a link that stays inside the folder
    EXPECT_EQ(ok[6].body, ok[0].body);
    EXPECT_EQ(ok[7].status, 404);
    EXPECT_NE(ok[7].body.find("Error 404, file not found"), std::string::npos);
    EXPECT_EQ(ok[8].status, 404);

    const std::vector<std::string> escapes{
        "/report/../secret.txt",         "/report/%2e%2e/secret.txt",
        "/report/%2E%2E%2Fsecret.txt",   "/report/..%2fsecret.txt",
        "/report/../../etc/passwd",      "/report/%2e%2e/%2e%2e/etc/passwd",
        "/report//etc/passwd",           "/report/link-out",
        "/report/./../secret.txt",       "/report/%252e%252e/secret.txt"};
    for (const Answer& a : fetch(host->http_port, escapes)) {
        EXPECT_EQ(a.status, 404) << a.body;
        EXPECT_EQ(a.body.find("TOP-SECRET"), std::string::npos);
        EXPECT_EQ(a.body.find("root:"), std::string::npos);
    }
    for (const std::string& path : escapes) {
        const ProcessResult r = run_process(
            "/usr/bin/curl", {"-s", "--path-as-is", "-o", "/dev/null", "-w", "%{http_code}",
                              "http://127.0.0.1:" + std::to_string(host->http_port) + path});
        EXPECT_EQ(r.out, "404") << path;
    }

    // The fixed pages; log names are text, not markup.
    const auto pages = fetch(host->http_port, {"/", "/ver", "/logs", "/tlwk.cgi"});
    EXPECT_NE(pages[0].body.find("Tallowick Config"), std::string::npos);
    EXPECT_NE(pages[0].body.find("URL=tlwk.cgi"), std::string::npos);
    EXPECT_NE(pages[1].body.find("<H3>Version information</H3><HR><BR>3.61<BR>"),
              std::string::npos);
    EXPECT_NE(pages[2].body.find("<B>0.</B> /logs/a&lt;b&gt;.log <BR>"), std::string::npos)
        << pages[2].body;
    EXPECT_EQ(pages[3].body, pages[0].body);
}

// Every image of a real report loads in a browser served by the report server.
TEST(ReportServer, ABrowserLoadsEveryImageOfTheReport) {
    const fs::path chromium = "/usr/bin/chromium";
    auto logs = shared_logs_dir();
    if (!fs::exists(chromium)) GTEST_SKIP() << "chromium not available";
    const fs::path log = logs ? *logs / "combined/basjes_nl_2015-10_hackers_combined.log"
                              : tallowick::test::sample_log();
    auto host = start_host({}, true);
    ASSERT_TRUE(host->server->ready()) << host->server->output();
    const ProcessResult batch = run_process(
        tallowick_binary(), {"-q", "-l", log.string(),
                             "-o", (host->report() / "index.html").string()});
    ASSERT_EQ(batch.exit_code, 0) << batch.out;

    // A page beside the report opens the main page and three statistic pages
    // and, once all have loaded, looks at every image in them.
    write_file(host->report() / "imagecheck.html", R"(<html><head><script>
window.onload = function () {
  var frames = document.getElementsByTagName("iframe"), count = 0, broken = [];
  for (var f = 0; f < frames.length; f++) {
    var images = frames[f].contentDocument.images;
    for (var i = 0; i < images.length; i++, count++)
      if (!images[i].complete || images[i].naturalWidth == 0) broken.push(images[i].src);
  }
  document.body.setAttribute("data-result",
      "images=" + count + " broken=" + broken.length + " " + broken.join(" "));
};
</script></head><body><iframe src="index.html"></iframe><iframe src="Daily.html"></iframe>
<iframe src="Browser.html"></iframe><iframe src="Client.html"></iframe></body></html>)");
    TempDir profile;
    const ProcessResult r = run_process(
        chromium, {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                   "--no-first-run", "--disable-background-networking",
                   "--disable-component-update", "--disable-sync",
                   "--user-data-dir=" + profile.path().string(), "--virtual-time-budget=10000",
                   "--dump-dom",
                   "http://127.0.0.1:" + std::to_string(host->http_port) +
                       "/report/imagecheck.html"});
    const auto at = r.out.find("data-result=\"images=");
    ASSERT_NE(at, std::string::npos) << r.out << r.err;
    int images = 0, broken = -1;
    std::sscanf(r.out.c_str() + at, "data-result=\"images=%d broken=%d", &images, &broken);
    EXPECT_GT(images, 8);
    EXPECT_EQ(broken, 0) << r.out.substr(at, 400);
}

}  // namespace
}  // namespace tallowick::test
