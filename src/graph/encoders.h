// The image encoders, each writing a whole canvas to a byte sink, and the reader
// of GIF images held in memory.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "graph/byte_sink.h"
#include "graph/canvas.h"

namespace tallowick::graph {

inline constexpr int kJpegQuality = 95;

// GIF87a (GIF89a with a transparent index), run-length coded image data that
// every GIF decoder reads; interlaced when the canvas says so.
void gif_write(const Canvas& canvas, ByteSink& sink);
// Bits per pixel of the GIF colour table: the smallest 1..8 whose table holds
// color_count colours and every palette index the pixels use.
int gif_bits_per_pixel(const Canvas& canvas);

// Windows BMP, 8 bits per pixel, uncompressed, bottom-up.
void bmp_write(const Canvas& canvas, ByteSink& sink);

// PNG with the full 256-entry palette, Adam7-interlaced. False when libpng fails;
// part of the image may have been written.
bool png_write(const Canvas& canvas, ByteSink& sink);

// Baseline JPEG at the given quality (the program always uses kJpegQuality).
// False when libjpeg fails; part of the image may have been written.
bool jpeg_write(const Canvas& canvas, ByteSink& sink, int quality);

// Reads the first image of a GIF87a or GIF89a file held in memory. Every palette
// slot is loaded and marked open; slots the pixels use are marked in use, and
// color_count ends after the last of them. Nothing for a truncated, damaged or
// foreign file, or an image of more than kGifMaxPixels pixels.
inline constexpr long kGifMaxPixels = 16L * 1024 * 1024;
std::unique_ptr<Canvas> gif_read_memory(std::span<const std::uint8_t> bytes);

}  // namespace tallowick::graph
