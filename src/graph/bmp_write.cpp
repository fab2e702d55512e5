// Windows BMP: 8 bits per pixel with the whole palette, uncompressed, rows
// bottom-up, each padded to a multiple of four bytes.
#include <algorithm>
#include <vector>

#include "graph/encoders.h"

namespace tallowick::graph {

namespace {

constexpr std::uint32_t kHeaderBytes = 14 + 40 + 256 * 4;   // 1078
constexpr std::uint32_t kPixelsPerMetre = 2835;             // 72 dots per inch

void put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

}  // namespace

void bmp_write(const Canvas& canvas, ByteSink& sink) {
    const auto width = static_cast<std::uint32_t>(canvas.width());
    const auto height = static_cast<std::uint32_t>(canvas.height());
    const std::uint32_t stride = (width + 3) / 4 * 4;
    const std::uint32_t image_size = stride * height;

    std::vector<std::uint8_t> header;
    header.reserve(kHeaderBytes);
    header.push_back('B');
    header.push_back('M');
    put32(header, kHeaderBytes + image_size);
    put16(header, 0);
    put16(header, 0);
    put32(header, kHeaderBytes);
    put32(header, 40);
    put32(header, width);
    put32(header, height);   // positive: bottom-up
    put16(header, 1);
    put16(header, 8);
    put32(header, 0);        // no compression
    put32(header, image_size);
    put32(header, kPixelsPerMetre);
    put32(header, kPixelsPerMetre);
    put32(header, 256);
    put32(header, 0);
    for (int i = 0; i < kPaletteSize; ++i) {
        header.push_back(static_cast<std::uint8_t>(canvas.blue[i]));
        header.push_back(static_cast<std::uint8_t>(canvas.green[i]));
        header.push_back(static_cast<std::uint8_t>(canvas.red[i]));
        header.push_back(0);
    }
    sink.write(header);

    std::vector<std::uint8_t> row(stride, 0);
    for (int y = canvas.height() - 1; y >= 0; --y) {
        auto pixels = canvas.row(y);
        std::copy(pixels.begin(), pixels.end(), row.begin());
        sink.write(row);
    }
}

}  // namespace tallowick::graph
