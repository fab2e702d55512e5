#include "graph/image_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "graph/encoders.h"
#include "graph_test_support.h"
#include "support/test_support.h"

namespace tallowick::graph {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> file_bytes(const fs::path& path) {
    const std::string s = tallowick::test::read_file(path);
    return {s.begin(), s.end()};
}

std::uint32_t le32(const std::vector<std::uint8_t>& f, std::size_t at) {
    return f[at] | f[at + 1] << 8 | f[at + 2] << 16 | static_cast<std::uint32_t>(f[at + 3]) << 24;
}

struct Sample {
    std::string name;
    std::unique_ptr<Canvas> canvas;
};

// The same kinds of image for every encoder; JPEG gets flat blocks instead of
// pixel noise, which it is not meant to keep.
std::vector<Sample> samples(bool lossy) {
    auto pattern = lossy ? test::make_block_canvas : test::make_pattern_canvas;
    std::vector<Sample> s;
    s.push_back({"small", pattern(1, 1, 1)});
    s.push_back({"odd", pattern(37, 23, 11)});
    s.push_back({"one-colour", test::make_one_colour_canvas(420, 350, 0x6699FF)});
    s.push_back({"two-colour", pattern(64, 31, 2)});
    s.push_back({"200-colour", pattern(250, 227, 200)});
    s.push_back({"chart", test::make_chart_canvas()});
    auto interlaced = pattern(53, 29, 40);
    interlaced->interlace = true;
    s.push_back({"interlaced", std::move(interlaced)});
    return s;
}

TEST(ImageEncoders, AnIndependentDecoderReadsEveryImageExactly) {
    tallowick::test::TempDir dir;
    const auto exact = samples(false);
    const auto lossy = samples(true);
    struct Encoder {
        std::string format, extension;
        bool (*write)(const Canvas&, ByteSink&);
    };
    const Encoder encoders[] = {
        {"GIF", ".gif", [](const Canvas& c, ByteSink& s) { gif_write(c, s); return true; }},
        {"BMP", ".bmp", [](const Canvas& c, ByteSink& s) { bmp_write(c, s); return true; }},
        {"PNG", ".png", png_write},
        {"JPEG", ".jpg", [](const Canvas& c, ByteSink& s) { return jpeg_write(c, s, kJpegQuality); }},
    };
    std::vector<fs::path> files;
    for (const auto& e : encoders) {
        for (const auto& image : e.format == "JPEG" ? lossy : exact) {
            const fs::path path = dir / (image.name + e.extension);
            std::string error;
            auto sink = FileSink::create(nullptr, path, error);
            ASSERT_NE(sink, nullptr) << error;
            ASSERT_TRUE(e.write(*image.canvas, *sink)) << path;
            ASSERT_TRUE(sink->close());
            files.push_back(path);
        }
    }
    const auto decoded = test::decode_with_pil(files);
    ASSERT_EQ(decoded.size(), files.size());
    std::size_t k = 0;
    for (const auto& e : encoders) {
        for (const auto& image : e.format == "JPEG" ? lossy : exact) {
            SCOPED_TRACE(e.format + " " + image.name);
            const auto& d = decoded[k++];
            ASSERT_EQ(d.error, "");
            EXPECT_EQ(d.format, e.format);
            EXPECT_EQ(d.width, image.canvas->width());
            EXPECT_EQ(d.height, image.canvas->height());
            const auto expected = test::canvas_rgb(*image.canvas);
            ASSERT_EQ(d.rgb.size(), expected.size());
            if (e.format != "JPEG") {
                EXPECT_TRUE(d.rgb == expected);
                continue;
            }
            // Lossy: close on average, and close everywhere inside the flat blocks;
            // at their edges the decoder's smoothing of the halved colour
            // resolution blends neighbouring colours.
            long total = 0;
            int worst_inside = 0;
            for (int y = 0; y < d.height; ++y) {
                for (int x = 0; x < d.width; ++x) {
                    const bool inside = x % 16 >= 2 && x % 16 < 14 && y % 16 >= 2 && y % 16 < 14;
                    for (int ch = 0; ch < 3; ++ch) {
                        const std::size_t i = (static_cast<std::size_t>(y) * d.width + x) * 3 + ch;
                        const int diff = std::abs(d.rgb[i] - expected[i]);
                        total += diff;
                        if (inside) worst_inside = std::max(worst_inside, diff);
                    }
                }
            }
            EXPECT_LT(static_cast<double>(total) / static_cast<double>(expected.size()), 6.0);
            if (image.name != "chart") {
                EXPECT_LT(worst_inside, 12);
            }
        }
    }
}

TEST(BmpWrite, HeaderStrideAndBottomUpRows) {
    auto c = test::make_pattern_canvas(630, 3, 6);
    VectorSink sink;
    bmp_write(*c, sink);
    const auto& f = sink.data;
    const std::uint32_t stride = 632;
    ASSERT_EQ(f.size(), 1078 + stride * 3);
    EXPECT_EQ(f[0], 'B');
    EXPECT_EQ(f[1], 'M');
    EXPECT_EQ(le32(f, 2), 1078 + stride * 3);
    EXPECT_EQ(le32(f, 10), 1078u);
    EXPECT_EQ(le32(f, 14), 40u);
    EXPECT_EQ(le32(f, 18), 630u);
    EXPECT_EQ(le32(f, 22), 3u);
    EXPECT_EQ(f[28], 8);
    EXPECT_EQ(le32(f, 34), stride * 3);
    EXPECT_EQ(le32(f, 38), 2835u);
    EXPECT_EQ(le32(f, 46), 256u);
    // Palette as blue, green, red, 0.
    EXPECT_EQ(f[54 + 4 * 2], c->blue[2]);
    EXPECT_EQ(f[54 + 4 * 2 + 2], c->red[2]);
    EXPECT_EQ(f[54 + 4 * 2 + 3], 0);
    // The first row stored is the bottom one, padded with zeros.
    for (int x = 0; x < 630; ++x) ASSERT_EQ(f[1078 + static_cast<std::size_t>(x)], c->pixel(x, 2)) << x;
    EXPECT_EQ(f[1078 + 630], 0);
    EXPECT_EQ(f[1078 + 631], 0);
    EXPECT_EQ(f[1078 + 2 * stride + 5], c->pixel(5, 0));
}

TEST(PngWrite, PaletteInterlaceAndTextChunks) {
    auto c = test::make_pattern_canvas(20, 10, 3);
    VectorSink sink;
    ASSERT_TRUE(png_write(*c, sink));
    const std::string f(sink.data.begin(), sink.data.end());
    ASSERT_GT(f.size(), 33u);
    EXPECT_EQ(f.substr(12, 4), "IHDR");
    EXPECT_EQ(f[24], 8);    // bit depth
    EXPECT_EQ(f[25], 3);    // palette
    EXPECT_EQ(f[28], 1);    // Adam7
    const auto plte = f.find("PLTE");
    ASSERT_NE(plte, std::string::npos);
    EXPECT_EQ(le32({sink.data.begin() + static_cast<long>(plte) - 4, sink.data.begin() + static_cast<long>(plte)}, 0),
              0x00030000u);   // 768 bytes, big-endian
    EXPECT_NE(f.find(std::string("tEXtTitle\0Tallowick", 19)), std::string::npos);
    EXPECT_NE(f.find(std::string("tEXtDescription\0graph image data", 32)), std::string::npos);
    EXPECT_NE(f.find("tEXtAuthor"), std::string::npos);
}

TEST(ImageFile, FormatForcingFollowsTheReportFormat) {
    EXPECT_EQ(forced_image_format(kReportRtf, kImagePng), kImageBmp);
    EXPECT_EQ(forced_image_format(kReportRtf, kImageGif), kImageBmp);
    EXPECT_EQ(forced_image_format(kReportHtml, kImageBmp), kImageGif);
    EXPECT_EQ(forced_image_format(kReportHtml, kImagePng), kImagePng);
    EXPECT_EQ(forced_image_format(2, kImageBmp), kImageBmp);   // comma-delimited keeps it
}

TEST(ImageFile, SaveNamesRecordsAndInterlacesTheImage) {
    tallowick::test::TempDir dir;
    CreatedFiles created;
    ImageOutput out{dir.path(), kReportRtf, kImagePng, &created};
    EXPECT_EQ(image_path(out, "DailyByte"), dir / "DailyByte.png");

    ASSERT_TRUE(image_save(out, test::make_pattern_canvas(30, 20, 4), "DailyByte"));
    EXPECT_EQ(out.image_format, kImageBmp);   // forced, and it stays so
    EXPECT_TRUE(fs::exists(dir / "DailyByte.bmp"));
    EXPECT_FALSE(fs::exists(dir / "DailyByte.png"));

    out.report_format = kReportHtml;
    ASSERT_TRUE(image_save(out, test::make_pattern_canvas(30, 20, 4), "HourlyReq"));
    EXPECT_EQ(out.image_format, kImageGif);
    const auto gif = file_bytes(dir / "HourlyReq.gif");
    ASSERT_GT(gif.size(), 13u + 12u + 10u);
    EXPECT_EQ(gif[13 + 12 + 9], 0x40);   // interlaced

    ASSERT_TRUE(image_save(out, test::make_pattern_canvas(30, 20, 4), "HourlyReq"));
    EXPECT_EQ(created.paths(), (std::vector<fs::path>{dir / "DailyByte.bmp", dir / "HourlyReq.gif"}));

    out.image_format = kImageJpeg;
    ASSERT_TRUE(image_save(out, test::make_chart_canvas(), "Country"));
    const auto jpg = file_bytes(dir / "Country.jpg");
    ASSERT_GT(jpg.size(), 4u);
    EXPECT_EQ(jpg[0], 0xFF);
    EXPECT_EQ(jpg[1], 0xD8);
    EXPECT_EQ(jpg[jpg.size() - 2], 0xFF);
    EXPECT_EQ(jpg[jpg.size() - 1], 0xD9);
}

TEST(ImageFile, UnwritablePlaceGivesNoImageAndRecordsNothing) {
    tallowick::test::TempDir dir;
    CreatedFiles created;
    ImageOutput out{dir / "missing", kReportHtml, kImageGif, &created};
    EXPECT_EQ(image_open(out, "Daily"), nullptr);
    EXPECT_FALSE(image_save(out, test::make_pattern_canvas(3, 3, 2), "Daily"));
    EXPECT_FALSE(image_save(out, nullptr, "Daily"));
    EXPECT_TRUE(created.paths().empty());
}

}  // namespace
}  // namespace tallowick::graph
