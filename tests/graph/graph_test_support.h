// Helpers of the graph tests: sample canvases, an independent decoder (PIL, run as
// a separate process) and a reader of the raw GIF code stream.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/settings.h"
#include "engine/analysis_run.h"
#include "graph/canvas.h"
#include "report/report_assembly.h"

namespace tallowick::graph::test {

struct DecodedImage {
    std::string format;   // PIL's name: "GIF", "PNG", "JPEG", "BMP"
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
    std::string error;    // PIL's complaint, empty on success
};

// Decodes every file with /usr/bin/python3 and PIL, one result per file.
std::vector<DecodedImage> decode_with_pil(const std::vector<std::filesystem::path>& files);

// The canvas as RGB bytes through its palette, rows top to bottom.
std::vector<std::uint8_t> canvas_rgb(const Canvas& canvas);

// Canvases exercising the encoders: a colour per pixel from a fixed sequence.
std::unique_ptr<Canvas> make_pattern_canvas(int width, int height, int colours);
// Flat 16 x 16 blocks, a colour each: what a JPEG keeps almost exactly.
std::unique_ptr<Canvas> make_block_canvas(int width, int height, int colours);
std::unique_ptr<Canvas> make_one_colour_canvas(int width, int height, PackedColor colour);
// A small chart: background, 3D and flat bars, pie slices, text and lines.
std::unique_ptr<Canvas> make_chart_canvas();

// The image data of a GIF file taken apart with a decoder of the tests' own: the
// codes as sent and the pixels in stream order.
struct GifStream {
    int code_size = 0;
    std::vector<int> codes;
    std::vector<std::uint8_t> pixels;
    bool ok = false;
};
GifStream read_gif_stream(const std::vector<std::uint8_t>& file);

// The number of pixels whose value is the colour c.
long count_pixels(const Canvas& canvas, int c);

// A real log of the shared folder analysed with `settings` (clients grouped) and
// its report written through report assembly with `options` (settings added),
// status reports silenced. Nothing when the log is not here; the run fails the
// test when it does not finish or the report is not written.
std::unique_ptr<engine::AnalysisRun> written_real_report(const std::string& log,
                                                         const Settings& settings,
                                                         report::AssemblyOptions options);

}  // namespace tallowick::graph::test
