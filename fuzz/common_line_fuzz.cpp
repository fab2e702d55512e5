// libFuzzer target: common-line splitting and both date normalisers on any bytes.
// Every field of a hit must lie inside the line it came from.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "logs/common_line.h"

using namespace tallowick::logs;

namespace {

void check_inside(std::string_view line, std::string_view field) {
    if (field.empty()) return;
    if (field.data() < line.data() || field.data() + field.size() > line.data() + line.size()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view line(reinterpret_cast<const char*>(data), size);
    HitRecord hit;
    if (ParseCommonLine(line, hit) == LineResult::hit) {
        for (std::string_view f : {hit.time, hit.status, hit.client, hit.url, hit.agent, hit.referrer,
                                   hit.user, hit.server, hit.method})
            check_inside(line, f);
        if (hit.date.empty() || hit.date.month() < 1 || hit.date.month() > 12) std::abort();
    }
    NormaliseLogDate(line);
    NormaliseFieldDate(line, size % 2 == 0);
    return 0;
}
