// libFuzzer target: arbitrary lines through the line dispatcher, starting in every
// log type (or detecting), with arbitrary custom-format settings. Each line sits
// in a heap buffer of exactly its size, so a read past it is caught; every text
// of a hit must lie inside its line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "base/settings.h"
#include "logs/dispatch.h"
#include "logs/log_type.h"

namespace {

using namespace tallowick;

bool inside(std::string_view part, std::string_view line) {
    return part.empty() ||
           (part.data() >= line.data() && part.data() + part.size() <= line.data() + line.size());
}

void check(const logs::HitRecord& hit, std::string_view line) {
    for (std::string_view part : {hit.status, hit.client, hit.url, hit.agent, hit.referrer,
                                  hit.user, hit.server, hit.method, hit.source, hit.extra})
        if (!inside(part, line)) std::abort();
    // Computed times (Unix timestamps, 12-hour clocks) are "HH:MM:SS".
    if (!inside(hit.time, line) && hit.time.size() != 8) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kHead = 5 + static_cast<std::size_t>(logs::CustomItem::kCount);
    if (size < kHead) return 0;
    CustomFormat custom;
    AnalysisSettings analysis;
    const auto types = logs::all_log_types();
    const logs::LogType start = types[data[0] % types.size()];
    analysis.forceddmm = data[1] & 1;
    custom.use = (data[1] & 2) != 0;
    custom.separator = data[2];
    custom.dateformat = data[3] % 8;
    custom.timeformat = data[4] % 4;
    for (std::size_t i = 0; i < static_cast<std::size_t>(logs::CustomItem::kCount); ++i)
        custom.data_index[i] = static_cast<int>(data[5 + i] % 12) - 1;

    logs::LineDispatcher dispatcher(custom, analysis);
    dispatcher.ResetLogType();
    dispatcher.set_log_type(start);

    std::string_view rest(reinterpret_cast<const char*>(data + kHead), size - kHead);
    logs::HitRecord hit;
    while (true) {
        const std::size_t end = rest.find('\n');
        const std::string_view text = rest.substr(0, end);
        auto buffer = std::make_unique<char[]>(text.size() + 1);
        if (!text.empty()) std::memcpy(buffer.get(), text.data(), text.size());
        const std::string_view line(buffer.get(), text.size());
        const logs::LineResult r = dispatcher.DispatchLine(line, hit);
        if (r == logs::LineResult::hit) {
            if (hit.date.empty() && dispatcher.log_type() != logs::LogType::database) std::abort();
            check(hit, line);
        }
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 1);
    }
    return 0;
}
