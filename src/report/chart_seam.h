// The meeting point of report assembly and the chart layer. Report assembly
// writes a report's pages (which refer to images by name) and then hands the
// report to the chart driver, which draws and writes those images. The report
// library does not depend on the graph library: the program entry installs the
// graph layer's driver here.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "base/created_files.h"
#include "base/file_transaction.h"
#include "base/settings.h"

namespace tallowick::engine {
struct ReportStats;
class StatList;
}  // namespace tallowick::engine

namespace tallowick::report {

class LanguageTable;
class OutputWriter;

struct ChartRequest {
    // The report whose charts are drawn; null for the overview of a multi-report
    // run, which draws the comparison of `compared`.
    const engine::ReportStats* report = nullptr;
    std::span<const engine::ReportStats* const> compared;
    const Settings* settings = nullptr;
    // The folder the report's pages were written to; the images go beside them.
    std::filesystem::path folder;
    // Report mode: 1 web and proxy, 2 router (source and protocol pages), 0 reduced.
    int mode = 1;
    // Days of the report's period, as the main page counts them.
    int days = 1;
    // The translation of chart titles (language from the settings); may be null.
    LanguageTable* language = nullptr;
    // Every image file written is recorded here; may be null.
    CreatedFiles* created = nullptr;
    // The report's transaction: images are written into it, so that they appear
    // with the pages; null writes each image on its own.
    FileTransaction* files = nullptr;
    // The image file names the pages refer to (name and extension, no folder),
    // in page order; the driver draws them under exactly these names.
    std::span<const std::string> images;
    // Told each chart's image base name and the labels of its value scale,
    // lowest first; may be empty.
    std::function<void(std::string_view chart, std::span<const std::string> labels)> scale_drawn;
};

// The ten colours of the charts' items (pie slices, history rows); tables shade
// the names of their first rows with them where a chart shows the same items.
inline constexpr std::array<std::uint32_t, 10> kChartItemColours = {
    0xFF0033, 0xFF8C00, 0xFFCC33, 0x00CC33, 0x339999,
    0x00FFFF, 0x008CFF, 0x9999FF, 0xCC66CC, 0xFF99CC,
};

// Draws every chart the report's pages refer to. Returns 0 to ask report
// assembly to stop after this report, non-zero to go on.
using ChartDriver = std::function<int(const ChartRequest& request)>;

// Writes the text graph of a table into an open HTML page (the `ascii` graph
// flag): subject is the page's statistic kind, statdepth the rows code.
using TextGraphWriter = std::function<void(OutputWriter& page, const engine::StatList& list,
                                           int subject, int statdepth)>;

}  // namespace tallowick::report
