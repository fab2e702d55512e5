// VRML scenes: what a chart becomes with `imageformat 4`. Every scene is the
// same small stage (a grey disc, two walls and a back plane) with the chart's
// own data standing on the disc: one box per charted item, its height from the
// item's value, its colour from the chart's colours.
#pragma once

#include <string>
#include <vector>

#include "graph/chart_spec.h"
#include "graph/image_file.h"

namespace tallowick::graph {

// True when the charts of this output are scenes: `imageformat 4` in a report
// whose format does not force another image format (RTF takes BMP).
bool writes_scenes(const ImageOutput& output);

// One box of a scene: the item's value and its colour.
struct SceneBar {
    double value = 0;
    PackedColor colour = 0;
};

// The items the chart shows, in the chart's order: a top list or a pie its
// largest items (after skip_first, at most max_items), a daily chart its days
// from first_day over x_divisions + 1 days, the session depth chart its minutes
// that hold visits, the comparison its reports (by their total), every other
// chart its items in list order.
std::vector<SceneBar> scene_bars(const ChartSpec& spec);

// The scene as written: "#VRML V2.0 utf8", the stage, then the boxes in a row
// across the disc, the highest box 3 units tall.
std::string vrml_scene_text(const ChartSpec& spec);

// vrml_scene_write: writes the chart's scene as spec.base_name + ".wrl" through
// image_open (so it is recorded with the report's files). False, without a
// message, when the file cannot be written.
bool vrml_scene_write(const ImageOutput& output, const ChartSpec& spec);

}  // namespace tallowick::graph
