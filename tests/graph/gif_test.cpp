#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "graph/encoders.h"
#include "graph_test_support.h"
#include "support/test_support.h"

namespace tallowick::graph {
namespace {

std::vector<std::uint8_t> gif_bytes(const Canvas& c) {
    VectorSink sink;
    gif_write(c, sink);
    return sink.data;
}

std::vector<std::uint8_t> stream_pixels_of(const Canvas& c, bool interlaced) {
    std::vector<std::uint8_t> pixels;
    std::vector<int> rows;
    if (interlaced) {
        for (int pass = 0; pass < 4; ++pass) {
            const int start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
            for (int y = start[pass]; y < c.height(); y += step[pass]) rows.push_back(y);
        }
    } else {
        for (int y = 0; y < c.height(); ++y) rows.push_back(y);
    }
    for (int y : rows) pixels.insert(pixels.end(), c.row(y).begin(), c.row(y).end());
    return pixels;
}

TEST(GifWrite, ColourTableSizeAndCodeSizeFollowTheColourCount) {
    struct Case {
        int colours, bpp;
    } cases[] = {{1, 1}, {2, 1}, {3, 2}, {4, 2}, {5, 3}, {16, 4}, {17, 5}, {64, 6}, {128, 7}, {129, 8}, {200, 8}};
    for (const auto& k : cases) {
        SCOPED_TRACE(k.colours);
        auto c = test::make_pattern_canvas(9, 5, k.colours);
        const auto f = gif_bytes(*c);
        ASSERT_EQ(std::string(f.begin(), f.begin() + 6), "GIF87a");
        EXPECT_EQ(f[6] | f[7] << 8, 9);
        EXPECT_EQ(f[8] | f[9] << 8, 5);
        EXPECT_EQ(f[10], 0x80 | (k.bpp - 1) << 4 | (k.bpp - 1));
        const std::size_t descriptor = 13 + 3 * (std::size_t{1} << k.bpp);
        ASSERT_EQ(f[descriptor], 0x2C);
        EXPECT_EQ(f[descriptor + 9], 0x00);   // not interlaced, no local table
        EXPECT_EQ(f[descriptor + 10], std::max(2, k.bpp));
        EXPECT_EQ(f.back(), 0x3B);
        // The table holds the palette, slot by slot.
        EXPECT_EQ(f[13 + 3], c->red[1]);
        EXPECT_EQ(f[13 + 5], c->blue[1]);
    }
}

TEST(GifWrite, TableReachesPixelsBeyondTheAllocatedColours) {
    // A failed allocation draws index 255; the file must still be decodable.
    auto c = test::make_pattern_canvas(8, 8, 3);
    canvas_line(*c, 0, 0, 7, 7, -1);
    EXPECT_EQ(gif_bits_per_pixel(*c), 8);
    const auto stream = test::read_gif_stream(gif_bytes(*c));
    ASSERT_TRUE(stream.ok);
    EXPECT_EQ(stream.pixels, stream_pixels_of(*c, false));
}

TEST(GifWrite, TransparentIndexMakesAGif89aWithAControlExtension) {
    auto c = test::make_pattern_canvas(4, 4, 2);
    c->transparent = 1;
    const auto f = gif_bytes(*c);
    EXPECT_EQ(std::string(f.begin(), f.begin() + 6), "GIF89a");
    const std::uint8_t control[] = {0x21, 0xF9, 0x04, 0x01, 0x00, 0x00, 0x01, 0x00, 0x2C};
    EXPECT_EQ(std::memcmp(f.data() + 13 + 6, control, sizeof control), 0);
}

TEST(GifWrite, OneColourImageCodesAsGrowingRuns) {
    auto c = test::make_one_colour_canvas(420, 350, 0xDDDDDD);
    const auto f = gif_bytes(*c);
    const auto stream = test::read_gif_stream(f);
    ASSERT_TRUE(stream.ok);
    EXPECT_EQ(stream.code_size, 2);
    EXPECT_EQ(stream.pixels.size(), 420u * 350u);
    EXPECT_TRUE(std::all_of(stream.pixels.begin(), stream.pixels.end(), [](auto p) { return p == 0; }));
    // Runs 1, 2, 3, ... k cover k(k+1)/2 pixels: about 540 codes for 147000 pixels.
    EXPECT_GT(stream.codes.size(), 500u);
    EXPECT_LT(stream.codes.size(), 600u);
    EXPECT_LT(f.size(), 1200u);
}

TEST(GifWrite, InterlacedRowsFollowThePasses) {
    auto c = canvas_create(3, 5, false);
    for (int y = 0; y < 5; ++y) {
        canvas_color_allocate(*c, y * 40, 0, 0);
        canvas_line(*c, 0, y, 2, y, y);
    }
    c->interlace = true;
    const auto f = gif_bytes(*c);
    EXPECT_EQ(f[13 + 24 + 9], 0x40);
    const auto stream = test::read_gif_stream(f);
    ASSERT_TRUE(stream.ok);
    const std::vector<std::uint8_t> expected{0, 0, 0, 4, 4, 4, 2, 2, 2, 1, 1, 1, 3, 3, 3};
    EXPECT_EQ(stream.pixels, expected);
}

TEST(GifWrite, CodeStreamDecodesExactlyForRunsNoiseAndTableClears) {
    // Large noisy images make the coder clear its table many times; long runs
    // after noise exercise the repeat and clear decisions.
    std::vector<std::unique_ptr<Canvas>> canvases;
    canvases.push_back(test::make_pattern_canvas(1, 1, 1));
    canvases.push_back(test::make_pattern_canvas(37, 23, 2));
    canvases.push_back(test::make_pattern_canvas(400, 300, 200));
    canvases.push_back(test::make_pattern_canvas(301, 199, 7));
    canvases.push_back(test::make_chart_canvas());
    auto mixed = test::make_pattern_canvas(500, 400, 5);
    canvas_filled_rectangle(*mixed, 0, 100, 499, 399, 3);
    canvas_filled_rectangle(*mixed, 100, 200, 120, 210, 4);
    canvases.push_back(std::move(mixed));
    for (const auto& c : canvases) {
        for (bool interlaced : {false, true}) {
            SCOPED_TRACE(std::to_string(c->width()) + "x" + std::to_string(c->height()) +
                         (interlaced ? " interlaced" : ""));
            c->interlace = interlaced;
            const auto stream = test::read_gif_stream(gif_bytes(*c));
            ASSERT_TRUE(stream.ok);
            EXPECT_EQ(stream.pixels, stream_pixels_of(*c, interlaced));
        }
    }
}

TEST(GifRead, ReadsBackWhatTheEncoderWrites) {
    auto c = test::make_pattern_canvas(61, 47, 13);
    c->interlace = true;
    c->transparent = 4;
    const auto f = gif_bytes(*c);
    auto back = gif_read_memory(f);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->width(), 61);
    EXPECT_EQ(back->height(), 47);
    EXPECT_TRUE(back->interlace);
    EXPECT_EQ(back->transparent, 4);
    EXPECT_EQ(back->color_count, 13);
    EXPECT_EQ(test::canvas_rgb(*back), test::canvas_rgb(*c));
    for (int y = 0; y < c->height(); ++y)
        ASSERT_TRUE(std::equal(c->row(y).begin(), c->row(y).end(), back->row(y).begin())) << y;
}

TEST(GifRead, MarksUsedSlotsAndTrimsTrailingOpenOnes) {
    auto c = canvas_create(6, 2, false);
    for (int i = 0; i < 9; ++i) canvas_color_allocate(*c, i, i, i);
    canvas_filled_rectangle(*c, 0, 0, 5, 1, 0);
    c->put(2, 0, 2);
    c->put(3, 1, 5);
    auto back = gif_read_memory(gif_bytes(*c));   // a 16-entry table
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->color_count, 6);
    EXPECT_FALSE(back->open[0]);
    EXPECT_TRUE(back->open[1]);
    EXPECT_FALSE(back->open[2]);
    EXPECT_FALSE(back->open[5]);
    EXPECT_EQ(back->transparent, -1);
    EXPECT_FALSE(back->web_palette);
}

TEST(GifRead, StopsAtASecondImage) {
    auto first = test::make_pattern_canvas(5, 4, 3);
    auto second = test::make_pattern_canvas(9, 9, 3);
    auto f = gif_bytes(*first);
    const auto g = gif_bytes(*second);
    f.pop_back();   // trailer
    const std::size_t image2 = 13 + 3 * 4;
    f.insert(f.end(), g.begin() + static_cast<long>(image2), g.end());
    auto back = gif_read_memory(f);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->width(), 5);
    EXPECT_EQ(test::canvas_rgb(*back), test::canvas_rgb(*first));
}

TEST(GifRead, RefusesTruncatedForeignAndDamagedFiles) {
    auto c = test::make_pattern_canvas(23, 11, 5);
    c->transparent = 2;
    const auto f = gif_bytes(*c);
    ASSERT_NE(gif_read_memory(f), nullptr);
    for (std::size_t n = 0; n < f.size(); ++n)
        EXPECT_EQ(gif_read_memory(std::span(f.data(), n)), nullptr) << n;

    auto bad = f;
    bad[4] = '8';   // "GIF88a"
    EXPECT_EQ(gif_read_memory(bad), nullptr);
    const std::uint8_t png[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(gif_read_memory(png), nullptr);

    // A code size no decoder accepts.
    bad = f;
    const std::size_t code_size_at = 13 + 3 * 8 + 8 + 10;
    ASSERT_EQ(bad[code_size_at], 3);
    bad[code_size_at] = 12;
    EXPECT_EQ(gif_read_memory(bad), nullptr);

    // A header for an image far beyond any chart.
    bad = f;
    bad[13 + 24 + 8 + 5] = 0xFF;
    bad[13 + 24 + 8 + 6] = 0xFF;
    bad[13 + 24 + 8 + 7] = 0xFF;
    bad[13 + 24 + 8 + 8] = 0xFF;
    EXPECT_EQ(gif_read_memory(bad), nullptr);
}

TEST(GifRead, HandBuiltStreams) {
    // 2 x 2, two colours, code size 2; codes are 3 bits wide.
    auto build = [](std::vector<int> codes) {
        // Header and palette, then the image descriptor and the code size.
        std::vector<std::uint8_t> f{'G', 'I', 'F', '8', '9', 'a', 2, 0, 2, 0, 0x80, 0, 0,
                                    255, 0, 0, 0, 0, 255,
                                    0x2C, 0, 0, 0, 0, 2, 0, 2, 0, 0x00, 2};
        std::vector<std::uint8_t> data;
        std::uint32_t acc = 0;
        int bits = 0;
        for (int code : codes) {
            acc |= static_cast<std::uint32_t>(code) << bits;
            bits += 3;
            while (bits >= 8) {
                data.push_back(static_cast<std::uint8_t>(acc & 0xFF));
                acc >>= 8;
                bits -= 8;
            }
        }
        if (bits) data.push_back(static_cast<std::uint8_t>(acc));
        f.push_back(static_cast<std::uint8_t>(data.size()));
        f.insert(f.end(), data.begin(), data.end());
        f.push_back(0);
        f.push_back(0x3B);
        return f;
    };
    // clear, 1, then the entry being defined (6 = "1 1"), then 0, eoi.
    auto ok = gif_read_memory(build({4, 1, 6, 0, 5}));
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->pixel(0, 0), 1);
    EXPECT_EQ(ok->pixel(1, 0), 1);
    EXPECT_EQ(ok->pixel(0, 1), 1);
    EXPECT_EQ(ok->pixel(1, 1), 0);
    // A table code before any entry exists, and one past the next entry.
    EXPECT_EQ(gif_read_memory(build({4, 6, 5})), nullptr);
    EXPECT_EQ(gif_read_memory(build({4, 1, 7, 5})), nullptr);
    // Data that ends early leaves the rest at index 0.
    auto part = gif_read_memory(build({4, 1, 5}));
    ASSERT_NE(part, nullptr);
    EXPECT_EQ(part->pixel(0, 0), 1);
    EXPECT_EQ(part->pixel(1, 0), 0);
}

}  // namespace
}  // namespace tallowick::graph

namespace tallowick::graph {
namespace {

// What the fuzz target (fuzz/gif_read_fuzzer.cpp) demands of an accepted image.
void expect_consistent(const Canvas& c) {
    int highest = -1;
    for (int y = 0; y < c.height(); ++y) {
        for (std::uint8_t p : c.row(y)) {
            ASSERT_FALSE(c.open[p]) << "pixel of open slot " << int(p) << " in row " << y;
            highest = std::max(highest, static_cast<int>(p));
        }
    }
    EXPECT_GE(c.color_count, highest + 1);
    ASSERT_GT(c.color_count, 0);
    EXPECT_FALSE(c.open[static_cast<std::size_t>(c.color_count - 1)]);
}

TEST(GifRead, FuzzFindingsStayFixed) {
    // Image data ending after two codes of a 199 x 3 image: the rest of the
    // pixels are index 0, which must then count as used.
    const std::vector<std::uint8_t> short_data{
        0x47, 0x49, 0x46, 0x38, 0x37, 0x61, 0xc7, 0x00, 0x03, 0x00, 0x81, 0x00, 0x00,
        0x23, 0xe3, 0x8f, 0xf5, 0xe8, 0xba, 0xc2, 0x00, 0x1c, 0x00, 0x28, 0x00, 0x2c,
        0x00, 0x00, 0x38, 0x36, 0x61, 0x02, 0x40, 0x0c, 0x06, 0x04, 0x00, 0x3b};
    auto c = gif_read_memory(short_data);
    ASSERT_NE(c, nullptr);
    expect_consistent(*c);
}

}  // namespace
}  // namespace tallowick::graph
