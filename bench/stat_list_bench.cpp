// Counting speed: the AddHit calls that a dozen tables receive per accepted hit,
// over 1,000,000 generated hits with skewed name frequencies. Names are prepared
// beforehand, so the figure is the tables' cost alone.
//
//   stat_list_bench [--flat] [hits]
#include <chrono>
#include <cmath>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "engine/stat_list.h"

using namespace tallowick::engine;

namespace {

// Processor time of this process: the machine may be shared, wall time is not the cost.
double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct Hit {
    std::string url, dir, type, client, date, domain, browser, oper, refer, rsite;
    int hour = 0, wday = 0;
    int bytes = 0;
    double time = 0;
    bool page = false;
};

// An index in [0, n) with a Zipf-like (log-uniform) popularity, as web requests
// have; with --flat a much flatter u^3 spread, where most lookups miss the caches.
bool g_flat = false;
int Skewed(std::mt19937& rng, int n) {
    const double u = std::uniform_real_distribution<double>(0, 1)(rng);
    if (g_flat) return static_cast<int>(n * u * u * u);
    return static_cast<int>(std::pow(static_cast<double>(n), u)) - 1;
}

std::vector<Hit> MakeHits(int count) {
    static const char* const kTypes[] = {"html", "gif", "jpg", "css", "js", "png", "pdf", "zip"};
    static const char* const kBrowsers[] = {"Firefox", "Chrome", "Safari", "Edge", "Opera", "MSIE"};
    static const char* const kSystems[] = {"Windows", "Linux", "Macintosh", "Android", "iOS"};
    static const char* const kDomains[] = {"com", "net", "org", "de", "uk", "fr", "jp", "au"};
    std::mt19937 rng(42);
    std::vector<Hit> hits(static_cast<std::size_t>(count));
    double t = 2460000.5;
    for (Hit& h : hits) {
        const int u = Skewed(rng, 60000), c = Skewed(rng, 30000), r = Skewed(rng, 8000);
        const char* type = kTypes[u % 8];
        h.dir = "/section" + std::to_string(u % 300) + "/";
        h.url = h.dir + "item" + std::to_string(u) + "." + type;
        h.type = type;
        h.page = u % 8 == 0;
        h.client = "host" + std::to_string(c) + ".isp" + std::to_string(c % 97) + "." + kDomains[c % 8];
        h.domain = kDomains[c % 8];
        h.browser = kBrowsers[c % 6];
        h.oper = kSystems[c % 5];
        h.rsite = "http://site" + std::to_string(r % 900) + ".example";
        h.refer = h.rsite + "/from/" + std::to_string(r);
        t += 0.5 / 86400.0;
        h.time = t;
        const int day = static_cast<int>(t + 0.5);
        h.date = "day" + std::to_string(day);
        h.hour = static_cast<int>((t + 0.5 - day) * 24);
        h.wday = (day + 1) % 7;
        h.bytes = static_cast<int>(rng() % 20000);
    }
    return hits;
}

}  // namespace

int main(int argc, char** argv) {
    int count = 1'000'000;
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--flat")
            g_flat = true;
        else
            count = std::atoi(argv[i]);
    }
    std::printf("generating %d hits...\n", count);
    const std::vector<Hit> hits = MakeHits(count);

    static const char* const kHours[] = {"00", "01", "02", "03", "04", "05", "06", "07",
                                         "08", "09", "10", "11", "12", "13", "14", "15",
                                         "16", "17", "18", "19", "20", "21", "22", "23"};
    static const char* const kWeekdays[] = {"Sunday", "Monday", "Tuesday", "Wednesday",
                                            "Thursday", "Friday", "Saturday"};
    const CountingOptions options{true, 30};
    auto url = StatList::Create(nullptr, 500, options);
    auto pages = StatList::Create(nullptr, 150, options);
    auto dir = StatList::Create(nullptr, 100, options);
    auto type = StatList::Create(nullptr, 30, options);
    auto client = StatList::Create(nullptr, 500, options);
    client->SetHasTimeRecs(true);
    auto hour = StatList::Create(nullptr, 25, options);
    hour->SetNameKind(kStaticNames);
    auto wday = StatList::Create(nullptr, 8, options);
    wday->SetNameKind(kStaticNames);
    auto date = StatList::Create(nullptr, 100, options);
    auto domain = StatList::Create(nullptr, 100, options);
    auto browser = StatList::Create(nullptr, 45, options);
    auto oper = StatList::Create(nullptr, 45, options);
    auto refer = StatList::Create(nullptr, 100, options);
    auto rsite = StatList::Create(nullptr, 100, options);

    const auto start = std::chrono::steady_clock::now();
    const double cpu_start = CpuSeconds();
    long calls = 0;
    for (const Hit& h : hits) {
        const int flags = h.page ? kAddPage : 0;
        url->AddHit(h.bytes, 0, h.url, h.time, kAddVisit);
        if (h.page) pages->AddHit(h.bytes, 0, h.url, h.time, 0);
        dir->AddHit(h.bytes, 0, h.dir, h.time, flags);
        type->AddHit(h.bytes, 0, h.type, h.time, flags);
        client->AddHit(h.bytes, 0, h.client, h.time, kAddVisit | kAddMisc1 | kAddDayRecord | flags);
        hour->AddHit(h.bytes, 0, kHours[h.hour], h.time, flags);
        wday->AddHit(h.bytes, 0, kWeekdays[h.wday], h.time, flags);
        date->AddHit(h.bytes, 0, h.date, h.time, flags);
        domain->AddHit(h.bytes, 0, h.domain, h.time, flags);
        browser->AddHit(h.bytes, 0, h.browser, h.time, flags);
        oper->AddHit(h.bytes, 0, h.oper, h.time, flags);
        refer->AddHit(h.bytes, 0, h.refer, h.time, flags);
        rsite->AddHit(h.bytes, 0, h.rsite, h.time, flags);
        calls += h.page ? 13 : 12;
    }
    const double cpu = CpuSeconds() - cpu_start;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%d hits, %ld AddHit calls: %.3f s wall, %.3f s processor; %.0f hits/s, "
                "%.1f ns per call (processor time)\n",
                count, calls, seconds, cpu, count / cpu, cpu * 1e9 / static_cast<double>(calls));
    std::printf("items: url %d, client %d, refer %d, dir %d, date %d\n", url->Count(),
                client->Count(), refer->Count(), dir->Count(), date->Count());

    const auto sort_start = std::chrono::steady_clock::now();
    url->Sort(2, 12);
    client->Sort(1, 4);
    const double sort_seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - sort_start).count();
    std::printf("partial sorts (500 and 20 rows): %.3f s\n", sort_seconds);
    return 0;
}
