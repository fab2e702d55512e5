// libFuzzer target: the history database reader. Whatever the text, reading it
// neither crashes nor hangs, what it loads can be written again and that text
// reads back without damage, and merging the loaded reports works.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/settings.h"
#include "engine/history_db.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tallowick;
    static const Settings settings = [] {
        Settings s;
        s.report.stat.set_all(true);
        s.report.graph.set_all(true);
        return s;
    }();
    static const engine::ReportOptions options = engine::ReportOptions::From(settings);
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    engine::LoadedHistory loaded = engine::ParseHistory(text, options);
    if (loaded.reports.empty()) return 0;
    const std::string again = engine::HistoryText(loaded.reports);
    if (!engine::ParseHistory(again, options).damage.empty()) std::abort();
    auto merged = engine::CreateReportStats(options, 1, "merged", engine::kWebMode);
    for (const auto& r : loaded.reports) engine::MergeReport(*merged, *r);
    return 0;
}
