// tallowick-agent-census: how well the agent rules know the agents of real logs.
// Reads every log named (folders are searched through), detects each log's format,
// classifies the agent of every hit, and prints the share of hits whose operating
// system is "Unknown" and whose browser is named after the agent's own first word
// (no rule knew it), by hits and by distinct agents.
//
//   tallowick-agent-census [--list] LOG_OR_FOLDER...
//
// --list also prints each distinct agent that hit either case, with its count.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "base/settings.h"
#include "engine/agents.h"
#include "logs/dispatch.h"
#include "logs/log_source.h"

namespace {

namespace fs = std::filesystem;
using tallowick::engine::AgentCensus;

struct Seen {
    long hits = 0;
    tallowick::engine::AgentClass result;
};

void read_log(const fs::path& file, tallowick::engine::AgentCache& cache, AgentCensus& census,
              std::map<std::string, Seen, std::less<>>& agents) {
    static const tallowick::CustomFormat custom{};
    static const tallowick::AnalysisSettings analysis{};
    auto source = tallowick::logs::OpenLog(file.string());
    if (!source) return;
    tallowick::logs::LineDispatcher dispatcher(custom, analysis);
    dispatcher.ResetLogType();
    std::string_view line;
    tallowick::logs::HitRecord hit;
    while (tallowick::logs::ReadLogLine(*source, line)) {
        if (dispatcher.DispatchLine(line, hit) != tallowick::logs::LineResult::hit) continue;
        // As the hit accounting does: no agent, or "-", is not classified.
        if (hit.agent.empty() || hit.agent.front() == '-') continue;
        const auto result = cache.classify(hit.agent);
        census.add(result);
        auto it = agents.find(hit.agent);
        if (it == agents.end()) it = agents.emplace(std::string(hit.agent), Seen{0, result}).first;
        ++it->second.hits;
    }
}

void print_share(const char* what, std::uint64_t hits, const AgentCensus& by_hit,
                 std::uint64_t distinct, const AgentCensus& by_agent) {
    std::printf("%-34s %6.2f%% of hits (%llu)   %6.2f%% of agents (%llu)\n", what,
                100.0 * by_hit.share(hits), static_cast<unsigned long long>(hits),
                100.0 * by_agent.share(distinct), static_cast<unsigned long long>(distinct));
}

}  // namespace

int main(int argc, char** argv) {
    bool list = false;
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--list") {
            list = true;
            continue;
        }
        std::error_code ec;
        if (fs::is_directory(arg, ec)) {
            for (const auto& entry : fs::recursive_directory_iterator(arg, ec))
                if (entry.is_regular_file() && entry.path().extension() != ".md")
                    files.push_back(entry.path());
        } else {
            files.emplace_back(arg);
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "usage: tallowick-agent-census [--list] LOG_OR_FOLDER...\n");
        return 2;
    }
    std::sort(files.begin(), files.end());

    tallowick::engine::AgentCache cache;
    AgentCensus by_hit;
    std::map<std::string, Seen, std::less<>> agents;
    for (const auto& file : files) read_log(file, cache, by_hit, agents);

    AgentCensus by_agent;
    for (const auto& [text, seen] : agents) by_agent.add(seen.result);

    std::printf("%zu logs, %llu hits with an agent, %zu distinct agents\n", files.size(),
                static_cast<unsigned long long>(by_hit.agents), agents.size());
    print_share("operating system \"Unknown\"", by_hit.unknown_os, by_hit, by_agent.unknown_os,
                by_agent);
    print_share("browser named after agent text", by_hit.browser_from_text, by_hit,
                by_agent.browser_from_text, by_agent);
    print_share("browser named by compatible clause", by_hit.browser_from_clause, by_hit,
                by_agent.browser_from_clause, by_agent);
    print_share("no browser", by_hit.no_browser, by_hit, by_agent.no_browser, by_agent);
    print_share("robot", by_hit.robots, by_hit, by_agent.robots, by_agent);

    if (list) {
        for (const auto& [text, seen] : agents) {
            const auto& r = seen.result;
            const bool unknown = r.os == tallowick::engine::kUnknownOs;
            const bool raw = r.browser_source == tallowick::engine::BrowserSource::agent_text;
            if (!unknown && !raw) continue;
            std::printf("%6ld  %-8s %-20.*s | %s\n", seen.hits,
                        unknown && raw ? "os+text" : unknown ? "os" : "text",
                        static_cast<int>(r.browser.size()), r.browser.view().data(), text.c_str());
        }
    }
    return 0;
}
