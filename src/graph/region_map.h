// The region chart: a world map carried inside the program, each world region
// painted by its rank in the report's region list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "graph/canvas.h"

namespace tallowick::engine { class StatList; }

namespace tallowick::graph {

// Layout of the map's palette.
inline constexpr int kRegionGroupSize = 16;    // slots per region, from 16 * group
inline constexpr int kRegionScaleSlot = 240;   // scale colours, High first
inline constexpr int kRegionScaleColours = 7;

// The map as stored: a 640 x 310 palette GIF.
std::span<const std::uint8_t> region_map_gif();

// The palette group (1..7) a region (engine::Region 1..7) is painted in; 0 for
// any other number.
int region_map_group(int region);

// The map with the regions of the list painted: the region with the largest value
// takes the scale's first colour, the next the second, and so on; regions without
// traffic are white. Values by value kind as the charts take them. Nothing when
// the stored map cannot be read.
std::unique_ptr<Canvas> region_map_canvas(const engine::StatList& regions, int value_kind);

}  // namespace tallowick::graph

namespace tallowick::graph::detail {
extern const std::uint8_t kRegionMapGif[];
extern const std::size_t kRegionMapGifSize;
}  // namespace tallowick::graph::detail
