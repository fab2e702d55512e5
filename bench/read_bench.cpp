// Reading speed: a generated combined log of 1,000,000 lines (plain and gzip) read
// through ReadLogLine alone and through ReadLogLine with ParseCommonLine, beside
// `wc -l` and `zcat` on the same files in the same run.
//
//   read_bench [lines] [work folder]
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "logs/common_line.h"
#include "logs/log_source.h"

namespace fs = std::filesystem;
using namespace tallowick::logs;

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Runs a shell command, output discarded; its wall time in seconds.
double time_command(const std::string& command) {
    auto start = std::chrono::steady_clock::now();
    int rc = std::system((command + " > /dev/null").c_str());
    double t = seconds_since(start);
    if (rc != 0) std::fprintf(stderr, "command failed: %s\n", command.c_str());
    return t;
}

struct Run {
    double seconds = 0;
    unsigned long lines = 0;
    unsigned long hits = 0;
};

Run read_file(const std::string& path, bool parse) {
    Run run;
    auto start = std::chrono::steady_clock::now();
    auto source = OpenLog(path);
    if (!source) return run;
    std::string_view line;
    HitRecord hit;
    while (ReadLogLine(*source, line)) {
        ++run.lines;
        if (parse && ParseCommonLine(line, hit) == LineResult::hit) ++run.hits;
    }
    run.seconds = seconds_since(start);
    return run;
}

void report(const char* what, const Run& run) {
    std::printf("  %-34s %8.3f s  %12.0f lines/s", what, run.seconds,
                run.seconds > 0 ? static_cast<double>(run.lines) / run.seconds : 0.0);
    if (run.hits) std::printf("  (%lu hits)", run.hits);
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    const unsigned long lines = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1000000;
    const fs::path dir = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path() / "tallowick-bench";
    fs::create_directories(dir);
    const std::string plain = (dir / "bench.log").string();
    const std::string packed = (dir / "bench.log.gz").string();
    const std::string gen = std::string(TALLOWICK_LOGGEN_PATH) + " --seed 42 --days 60 --lines " +
                            std::to_string(lines);
    if (std::system((gen + " --out " + plain).c_str()) != 0 ||
        std::system((gen + " --gzip --out " + packed).c_str()) != 0) {
        std::fprintf(stderr, "cannot generate the logs\n");
        return 1;
    }
    std::printf("%lu lines: %s (%.1f MB), %s (%.1f MB)\n", lines, plain.c_str(),
                static_cast<double>(fs::file_size(plain)) / 1e6, packed.c_str(),
                static_cast<double>(fs::file_size(packed)) / 1e6);

    // A first pass warms the page cache so that every reader sees the same disk.
    read_file(plain, false);
    read_file(packed, false);

    std::printf("plain:\n");
    std::printf("  %-34s %8.3f s\n", "wc -l", time_command("wc -l " + plain));
    report("ReadLogLine", read_file(plain, false));
    report("ReadLogLine + ParseCommonLine", read_file(plain, true));
    std::printf("gzip:\n");
    std::printf("  %-34s %8.3f s\n", "zcat", time_command("zcat " + packed));
    std::printf("  %-34s %8.3f s\n", "zcat | wc -l", time_command("zcat " + packed + " | wc -l"));
    report("ReadLogLine", read_file(packed, false));
    report("ReadLogLine + ParseCommonLine", read_file(packed, true));
    return 0;
}
