// Analysis speed: a generated combined log (1,000,000 lines by default, plain and
// gzip) analysed by a whole batch run with the default settings, beside `wc -l`
// and `zcat` on the same files in the same run. Each analysis runs in a child
// process so that its peak memory (ru_maxrss) is its own. The run reads, counts
// and groups the clients; the report pages and charts are written only with
// --report (they take a fixed time, not one that grows with the log).
//
//   analysis_bench [--report] [lines] [work folder]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "app/settings_file.h"
#include "base/settings.h"
#include "base/status.h"
#include "engine/analysis_run.h"
#include "run/run_job.h"

namespace fs = std::filesystem;
using namespace tallowick;

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double cpu_seconds(const struct rusage& u) {
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Timing {
    double wall = 0;
    double cpu = 0;  // user + system of the children: the machine is shared
};

// Runs a shell command, output discarded.
Timing time_command(const std::string& command) {
    struct rusage before {}, after {};
    getrusage(RUSAGE_CHILDREN, &before);
    const auto start = std::chrono::steady_clock::now();
    const int rc = std::system((command + " > /dev/null").c_str());
    Timing t;
    t.wall = seconds_since(start);
    getrusage(RUSAGE_CHILDREN, &after);
    t.cpu = cpu_seconds(after) - cpu_seconds(before);
    if (rc != 0) std::fprintf(stderr, "command failed: %s\n", command.c_str());
    return t;
}

struct Result {
    double seconds = 0;
    double cpu = 0;
    long long lines = 0, accepted = 0;
    long max_rss_kb = 0;
    bool ok = false;
};

// The analysis of one log in a child process: the child writes its figures into
// a pipe, the parent reads them and the child's peak memory.
Result analyse(const std::string& path, bool with_report) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    const pid_t pid = fork();
    if (pid < 0) return {};
    if (pid == 0) {
        close(fds[0]);
        Settings settings;
        app::ResetSettings(settings, true);
        engine::RunHooks hooks = run::default_run_hooks(settings);
        if (!with_report) {
            hooks.write_report = nullptr;
            hooks.write_all = nullptr;
        }
        engine::AnalysisRun run(settings, {path}, std::move(hooks));
        const auto start = std::chrono::steady_clock::now();
        const int rc = run.Process();
        Result r;
        r.seconds = seconds_since(start);
        r.lines = run.totals().lines;
        r.accepted = run.totals().accepted;
        r.ok = rc == 0;
        const ssize_t n = write(fds[1], &r, sizeof r);
        _exit(n == static_cast<ssize_t>(sizeof r) ? 0 : 1);
    }
    close(fds[1]);
    Result r;
    const ssize_t n = read(fds[0], &r, sizeof r);
    close(fds[0]);
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    if (n != static_cast<ssize_t>(sizeof r) || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return {};
    r.max_rss_kb = usage.ru_maxrss;
    r.cpu = cpu_seconds(usage);
    return r;
}

void print_result(const char* what, const Result& r) {
    if (!r.ok) {
        std::printf("  %-28s failed\n", what);
        return;
    }
    const auto rate = [&](double s) { return s > 0 ? static_cast<double>(r.lines) / s : 0.0; };
    std::printf("  %-10s %7.3f s wall %10.0f lines/s, %7.3f s cpu %10.0f lines/s, %6.1f MB peak"
                " (%lld lines, %lld hits)\n",
                what, r.seconds, rate(r.seconds), r.cpu, rate(r.cpu),
                static_cast<double>(r.max_rss_kb) / 1024.0, r.lines, r.accepted);
}

}  // namespace

int main(int argc, char** argv) {
    const bool with_report = argc > 1 && std::string_view(argv[1]) == "--report";
    if (with_report) {
        --argc;
        ++argv;
    }
    const unsigned long lines = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1000000;
    const fs::path dir =
        argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path() / "tallowick-analysis-bench";
    fs::create_directories(dir);
    const std::string plain = (dir / ("bench-" + std::to_string(lines) + ".log")).string();
    const std::string packed = plain + ".gz";
    const std::string gen = std::string(TALLOWICK_LOGGEN_PATH) + " --seed 42 --days 60 --lines " +
                            std::to_string(lines);
    if (!fs::exists(plain) && std::system((gen + " --out " + plain).c_str()) != 0) return 1;
    if (!fs::exists(packed) && std::system((gen + " --gzip --out " + packed).c_str()) != 0) return 1;
    std::printf("%lu lines: %s (%.1f MB), %s (%.1f MB)\n", lines, plain.c_str(),
                static_cast<double>(fs::file_size(plain)) / 1e6, packed.c_str(),
                static_cast<double>(fs::file_size(packed)) / 1e6);

    // Nothing on the terminal from the runs; the page cache warmed for everyone.
    process_mode().quiet_given = true;
    set_status_sink(nullptr);
    time_command("cat " + plain + " " + packed);

    auto show = [](const char* what, const Timing& t) {
        std::printf("  %-10s %7.3f s wall                    %7.3f s cpu\n", what, t.wall, t.cpu);
    };
    std::printf("plain:\n");
    const Timing wc = time_command("wc -l " + plain);
    show("wc -l", wc);
    std::printf("report pages and charts: %s\n", with_report ? "written" : "not written");
    const Result p = analyse(plain, with_report);
    print_result("analysis", p);
    std::printf("gzip:\n");
    const Timing zcat = time_command("zcat " + packed);
    show("zcat", zcat);
    const Result g = analyse(packed, with_report);
    print_result("analysis", g);
    if (p.ok && g.ok && zcat.wall > 0 && zcat.cpu > 0)
        std::printf("gzip analysis / zcat: %.2f wall, %.2f cpu\n", g.seconds / zcat.wall,
                    g.cpu / zcat.cpu);
    return p.ok && g.ok ? 0 : 1;
}
