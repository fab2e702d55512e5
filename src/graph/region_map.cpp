#include "graph/region_map.h"

#include <algorithm>
#include <array>
#include <vector>

#include "engine/clients.h"
#include "engine/stat_list.h"
#include "graph/chart_spec.h"
#include "graph/encoders.h"

namespace tallowick::graph {

namespace {

// Region codes 1..7 to their palette groups.
constexpr std::array<int, 8> kGroupOfRegion = {0, 5, 7, 4, 3, 1, 6, 2};

// The brightness of slot k of a group: 100% down to 73% in steps of 3, then 70%
// down to 40% in steps of 6 (coasts and outlines use the darker slots).
int slot_percent(int k) { return k < 10 ? 100 - 3 * k : 70 - 6 * (k - 10); }

void paint_group(Canvas& canvas, int group, PackedColor base) {
    for (int k = 0; k < kRegionGroupSize; ++k)
        canvas_set_entry(canvas, kRegionGroupSize * group + k, color_scale(slot_percent(k), base));
}

int region_code(std::string_view name) {
    for (int r = 1; r < engine::kRegionCount; ++r)
        if (engine::region_name(r) == name) return r;
    return 0;
}

}  // namespace

std::span<const std::uint8_t> region_map_gif() {
    return {detail::kRegionMapGif, detail::kRegionMapGifSize};
}

int region_map_group(int region) {
    return region >= 1 && region < static_cast<int>(kGroupOfRegion.size())
               ? kGroupOfRegion[static_cast<std::size_t>(region)]
               : 0;
}

std::unique_ptr<Canvas> region_map_canvas(const engine::StatList& regions, int value_kind) {
    auto canvas = gif_read_memory(region_map_gif());
    if (!canvas) return nullptr;
    for (int g = 1; g <= 7; ++g)
        for (int k = 0; k < kRegionGroupSize; ++k)
            canvas_set_entry(*canvas, kRegionGroupSize * g + k,
                             color_scale(100 - 5 * k, 0xFFFFFF));
    // Regions with traffic, largest first (ties keep the list's order).
    std::array<double, engine::kRegionCount> value{};
    for (int i = 0; i < regions.Count(); ++i)
        value[static_cast<std::size_t>(region_code(regions.Name(i)))] +=
            chart_item_value(regions, i, value_kind);
    std::vector<int> ranked;
    for (int i = 0; i < regions.Count(); ++i) {
        const int region = region_code(regions.Name(i));
        if (region != 0 && value[static_cast<std::size_t>(region)] > 0 &&
            std::find(ranked.begin(), ranked.end(), region) == ranked.end())
            ranked.push_back(region);
    }
    std::stable_sort(ranked.begin(), ranked.end(), [&](int a, int b) {
        return value[static_cast<std::size_t>(a)] > value[static_cast<std::size_t>(b)];
    });
    std::array<bool, engine::kRegionCount> painted{};
    for (std::size_t rank = 0; rank < ranked.size(); ++rank) {
        painted[static_cast<std::size_t>(ranked[rank])] = true;
        paint_group(*canvas, region_map_group(ranked[rank]),
                    canvas_get_entry(*canvas, kRegionScaleSlot + static_cast<int>(rank)));
    }
    for (int r = 1; r < engine::kRegionCount; ++r)
        if (!painted[static_cast<std::size_t>(r)]) paint_group(*canvas, region_map_group(r), 0xFFFFFF);
    return canvas;
}

}  // namespace tallowick::graph
