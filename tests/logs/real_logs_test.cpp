// Real common and combined logs (see SOURCES.md in the shared logs folder) read
// through the line reader and the common-line parser.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "logs/common_line.h"
#include "logs/log_source.h"
#include "support/test_support.h"

namespace tallowick::logs {
namespace {

namespace fs = std::filesystem;

struct Counts {
    int hits = 0;
    int malformed = 0;
    int skipped = 0;   // empty and "#" lines, which the dispatcher passes over
    std::vector<std::string> bad;
};

Counts parse_file(const fs::path& file) {
    Counts c;
    auto source = OpenLog(file.string());
    if (!source) return c;
    std::string_view line;
    HitRecord hit;
    while (ReadLogLine(*source, line)) {
        if (line.empty() || line[0] == '#') {
            ++c.skipped;
        } else if (ParseCommonLine(line, hit) == LineResult::hit) {
            ++c.hits;
            EXPECT_FALSE(hit.date.empty());
            EXPECT_FALSE(hit.client.empty()) << line;
        } else {
            ++c.malformed;
            if (c.bad.size() < 5) c.bad.emplace_back(line);
        }
    }
    return c;
}

TEST(RealLogs, CommonAndCombinedLogsParse) {
    auto root = tallowick::test::shared_logs_dir();
    if (!root) GTEST_SKIP() << "the shared logs folder is not there";
    // The lines that the common-line rules refuse, each for a reason we know:
    // garbage that the files' authors put in on purpose (SOURCES.md), requests of
    // four words or with two spaces.
    const std::map<std::string, int> known_garbage = {
        {"netdata_common_2009_SYNTHETIC_ipv6_garbage.log", 44},
        {"basjes_nl_2013_17lines_with_garbage_line.log.gz", 1},
        {"nasa_ksc_1995-07_random1000_UNSORTED.log", 2},
    };
    int files = 0, total_hits = 0;
    for (const char* folder : {"clf", "combined"}) {
        for (const auto& entry : fs::directory_iterator(*root / folder)) {
            const std::string name = entry.path().filename().string();
            SCOPED_TRACE(name);
            Counts c = parse_file(entry.path());
            ++files;
            total_hits += c.hits;
            auto known = known_garbage.find(name);
            int allowed = known == known_garbage.end() ? 0 : known->second;
            std::string examples;
            for (const auto& b : c.bad) examples += "\n  " + b;
            EXPECT_EQ(c.malformed, allowed) << c.hits << " hits" << examples;
            EXPECT_GT(c.hits, 0);
        }
    }
    EXPECT_GE(files, 10);
    EXPECT_GT(total_hits, 4000);
}

}  // namespace
}  // namespace tallowick::logs
