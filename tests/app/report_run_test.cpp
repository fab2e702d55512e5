// Whole runs of the program as a reader meets their reports: the overview of a
// run that writes one report per log.
#include <gtest/gtest.h>

#include <filesystem>
#include <algorithm>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace tallowick {
namespace {

namespace fs = std::filesystem;

std::string CombinedLines(const std::string& client, int day, int count) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text += client + " - - [" + std::to_string(day) + "/Nov/2026:10:" + std::to_string(10 + i) +
                ":00 +0000] \"GET /page" + std::to_string(i % 3) +
                ".html HTTP/1.1\" 200 1500 \"-\" \"Mozilla/5.0 (X11; Linux x86_64)\"\n";
    return text;
}

TEST(ReportRun, OverviewOfAMultiReportRun) {
    test::TempDir dir;
    std::vector<std::string> args = {"-q", "-multidomains", "-o", (dir / "out" / "index.html").string()};
    for (int n = 1; n <= 3; ++n) {
        const fs::path log = dir / ("site" + std::to_string(n) + ".log");
        test::write_file(log, CombinedLines("10.0.0." + std::to_string(n), n + 2, 4 * n));
        args.insert(args.end(), {"-l", log.string()});
    }
    fs::create_directories(dir / "out");
    const auto run = test::run_process(test::tallowick_binary(), args);
    ASSERT_EQ(run.exit_code, 0) << run.out << run.err;

    const std::string overview = test::read_file(dir / "out" / "index.html");
    std::vector<std::string> images;
    for (std::size_t at = overview.find("<IMG SRC=\""); at != std::string::npos;
         at = overview.find("<IMG SRC=\"", at + 1)) {
        const std::size_t start = at + 10;
        images.push_back(overview.substr(start, overview.find('"', start) - start));
    }
    EXPECT_NE(std::find(images.begin(), images.end(), "ReqCompare.gif"), images.end());
    for (const std::string& name : images) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(fs::exists(dir / "out" / name));
        EXPECT_EQ(test::read_file(dir / "out" / name).substr(0, 4), "GIF8");
    }
    // The report names are shaded in the chart colours.
    EXPECT_NE(overview.find("<TD align=left bgcolor=ff0033><A HREF=\"site1.log/index.html\">"),
              std::string::npos);

    // Every page of every report leads back (the frameset only holds its frames).
    int pages = 0;
    for (const auto& entry : fs::recursive_directory_iterator(dir / "out")) {
        if (entry.path().extension() != ".html" || entry.path().parent_path() == dir / "out" ||
            entry.path().filename() == "freport.html")
            continue;
        ++pages;
        EXPECT_NE(test::read_file(entry.path()).find("<A HREF=\"../index.html\""), std::string::npos)
            << entry.path();
    }
    EXPECT_GT(pages, 30);
}

}  // namespace
}  // namespace tallowick
