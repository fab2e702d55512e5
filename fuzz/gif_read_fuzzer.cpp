// libFuzzer target: arbitrary bytes as a GIF held in memory. The reader must never
// read outside the bytes; an image it accepts must be consistent (every pixel's
// palette slot in use, color_count ending at the last used slot), and writing it
// with our encoder and reading it back must give the same pixels.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "graph/encoders.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tallowick::graph;
    auto canvas = gif_read_memory(std::span(data, size));
    if (!canvas) return 0;
    if (canvas->color_count < 0 || canvas->color_count > kPaletteSize) std::abort();
    int highest_used = -1;
    for (int y = 0; y < canvas->height(); ++y) {
        for (std::uint8_t p : canvas->row(y)) {
            if (canvas->open[p]) std::abort();
            highest_used = std::max(highest_used, static_cast<int>(p));
        }
    }
    if (canvas->color_count < highest_used + 1) std::abort();
    if (canvas->color_count > 0 && canvas->open[static_cast<std::size_t>(canvas->color_count - 1)]) std::abort();

    // Round trip through the encoder, for images small enough to keep the fuzzer fast.
    if (static_cast<long>(canvas->width()) * canvas->height() > 256 * 256) return 0;
    VectorSink sink;
    gif_write(*canvas, sink);
    auto again = gif_read_memory(sink.data);
    if (!again || again->width() != canvas->width() || again->height() != canvas->height() ||
        again->interlace != canvas->interlace || again->transparent != canvas->transparent)
        std::abort();
    for (int y = 0; y < canvas->height(); ++y) {
        auto a = canvas->row(y), b = again->row(y);
        for (std::size_t x = 0; x < a.size(); ++x) {
            if (a[x] != b[x]) std::abort();
            if (canvas->red[a[x]] != again->red[b[x]] || canvas->blue[a[x]] != again->blue[b[x]]) std::abort();
        }
    }
    return 0;
}
