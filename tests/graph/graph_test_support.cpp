#include "graph_test_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

#include "base/status.h"
#include "engine/clients.h"
#include "graph/font.h"
#include "support/test_support.h"

namespace tallowick::graph::test {

std::vector<DecodedImage> decode_with_pil(const std::vector<std::filesystem::path>& files) {
    std::vector<std::string> args{
        (tallowick::test::source_dir() / "tests" / "graph" / "decode_image.py").string()};
    for (const auto& f : files) args.push_back(f.string());
    // The PIL of the system Python; another python3 may come first on PATH.
    const auto result = tallowick::test::run_process("/usr/bin/python3", args);
    std::vector<DecodedImage> images;
    std::size_t pos = 0;
    const std::string& out = result.out;
    while (pos < out.size()) {
        const std::size_t eol = out.find('\n', pos);
        if (eol == std::string::npos) break;
        const std::string line = out.substr(pos, eol - pos);
        pos = eol + 1;
        DecodedImage image;
        if (line.rfind("ERROR", 0) == 0) {
            image.error = line;
            images.push_back(image);
            continue;
        }
        char format[16] = {};
        std::size_t bytes = 0;
        if (std::sscanf(line.c_str(), "%15s %d %d %zu", format, &image.width, &image.height, &bytes) != 4 ||
            pos + bytes > out.size()) {
            image.error = "bad decoder output: " + line + " " + result.err;
            images.push_back(image);
            break;
        }
        image.format = format;
        image.rgb.assign(out.begin() + static_cast<long>(pos), out.begin() + static_cast<long>(pos + bytes));
        pos += bytes;
        images.push_back(std::move(image));
    }
    while (images.size() < files.size()) {
        DecodedImage missing;
        missing.error = "no output: " + result.err;
        images.push_back(missing);
    }
    return images;
}

std::vector<std::uint8_t> canvas_rgb(const Canvas& canvas) {
    std::vector<std::uint8_t> rgb;
    rgb.reserve(static_cast<std::size_t>(canvas.width()) * canvas.height() * 3);
    for (int y = 0; y < canvas.height(); ++y) {
        for (std::uint8_t p : canvas.row(y)) {
            rgb.push_back(static_cast<std::uint8_t>(canvas.red[p]));
            rgb.push_back(static_cast<std::uint8_t>(canvas.green[p]));
            rgb.push_back(static_cast<std::uint8_t>(canvas.blue[p]));
        }
    }
    return rgb;
}

std::unique_ptr<Canvas> make_pattern_canvas(int width, int height, int colours) {
    auto canvas = canvas_create(width, height, false);
    for (int i = 0; i < colours; ++i)
        canvas_color_allocate(*canvas, (i * 53) % 256, (i * 101 + 7) % 256, (i * 29 + 200) % 256);
    // A mix of runs and noise: short runs of one colour, then scattered pixels.
    std::uint32_t state = 12345;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            state = state * 1103515245u + 12345u;
            const int noise = static_cast<int>((state >> 16) % static_cast<std::uint32_t>(colours));
            const int run = ((x / 7) + y) % colours;
            canvas->row(y)[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(y % 3 == 0 ? noise : run);
        }
    }
    return canvas;
}

std::unique_ptr<Canvas> make_block_canvas(int width, int height, int colours) {
    auto canvas = make_pattern_canvas(width, height, colours);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            canvas->row(y)[static_cast<std::size_t>(x)] =
                static_cast<std::uint8_t>(((y / 16) * 7 + (x / 16) * 3) % colours);
    return canvas;
}

std::unique_ptr<Canvas> make_one_colour_canvas(int width, int height, PackedColor colour) {
    auto canvas = canvas_create(width, height, false);
    const int c = canvas_color_allocate_packed(*canvas, colour);
    canvas_filled_rectangle(*canvas, 0, 0, width - 1, height - 1, c);
    return canvas;
}

std::unique_ptr<Canvas> make_chart_canvas() {
    auto canvas = canvas_create(420, 350, false);
    Canvas& c = *canvas;
    const int black = canvas_color_allocate(c, 0, 0, 0);
    const int grey = canvas_color_allocate_packed(c, 0x555555);
    const int light = canvas_color_allocate_packed(c, 0xDDDDDD);
    const int white = canvas_color_allocate_packed(c, 0xFFFFFF);
    const int top = canvas_color_allocate_packed(c, 0xFF9999);
    const int face = canvas_color_allocate_packed(c, 0xCC6666);
    const int side = canvas_color_allocate_packed(c, 0x990000);
    canvas_filled_rectangle(c, 0, 0, 419, 349, light);
    canvas_rectangle(c, 0, 0, 419, 349, black);
    canvas_bar_flat(c, 16, 200, 120, 130, white, light, grey);
    canvas_bar_3d_vertical(c, 30, 80, 20, 100, top, face, side, 5);
    canvas_bar_shaded_vertical(c, 60, 60, 20, 120, top, face, side, 5);
    canvas_bar_3d_horizontal(c, 150, 60, 90, 12, top, face, side, 3);
    canvas_bar_shaded_horizontal(c, 150, 90, 120, 12, top, face, side, 3);
    const int slice_face[] = {canvas_color_allocate_packed(c, 0xFF0033), canvas_color_allocate_packed(c, 0x00CC33),
                              canvas_color_allocate_packed(c, 0x008CFF)};
    const int slice_side[] = {canvas_color_allocate_packed(c, 0x7F0019), canvas_color_allocate_packed(c, 0x006619),
                              canvas_color_allocate_packed(c, 0x00467F)};
    const int angles[] = {0, 100, 230, 360};
    for (int i = 0; i < 3; ++i)
        canvas_pie_slice_3d(c, 300, 240, 90, angles[i], angles[i + 1], slice_face[i], slice_side[i]);
    font_string(c, title_font(), 120, 10, "Traffic by Weekday", black);
    font_string(c, label_font(), 150, 120, "Requests 1234", black);
    font_string(c, small_font(), 150, 140, "caption text", black);
    font_string_up(c, label_font(), 5, 300, "Bytes Delivered (Kb)", black);
    const int style[] = {black, STYLE_SKIP};
    canvas_set_style(c, style);
    canvas_dotted_line(c, 20, 190, 400, 190, STYLED);
    canvas_line(c, 20, 40, 400, 180, black);
    return canvas;
}

namespace {

// Reads sub-blocks from pos on; false when the file ends first.
bool gather_blocks(const std::vector<std::uint8_t>& f, std::size_t& pos, std::vector<std::uint8_t>& data) {
    while (pos < f.size()) {
        const std::size_t n = f[pos++];
        if (n == 0) return true;
        if (pos + n > f.size()) return false;
        data.insert(data.end(), f.begin() + static_cast<long>(pos), f.begin() + static_cast<long>(pos + n));
        pos += n;
    }
    return false;
}

}  // namespace

GifStream read_gif_stream(const std::vector<std::uint8_t>& f) {
    GifStream s;
    if (f.size() < 13) return s;
    std::size_t pos = 13;
    if (f[10] & 0x80) pos += 3u << ((f[10] & 7) + 1);
    while (pos < f.size() && f[pos] == 0x21) {
        pos += 2;
        std::vector<std::uint8_t> ignored;
        if (!gather_blocks(f, pos, ignored)) return s;
    }
    if (pos >= f.size() || f[pos] != 0x2C) return s;
    pos += 10;
    if (pos >= f.size()) return s;
    s.code_size = f[pos++];
    std::vector<std::uint8_t> data;
    if (!gather_blocks(f, pos, data)) return s;

    // A plain LZW decoder keeping strings as vectors: slow, obvious, independent.
    const int clear = 1 << s.code_size;
    std::vector<std::vector<std::uint8_t>> table;
    auto reset = [&] {
        table.clear();
        for (int i = 0; i < clear + 2; ++i) table.push_back({static_cast<std::uint8_t>(i)});
    };
    reset();
    int width = s.code_size + 1;
    std::size_t bit = 0;
    int prev = -1;
    for (;;) {
        if (bit + static_cast<std::size_t>(width) > data.size() * 8) return s;
        int code = 0;
        for (int i = 0; i < width; ++i, ++bit)
            code |= ((data[bit / 8] >> (bit % 8)) & 1) << i;
        s.codes.push_back(code);
        if (code == clear) {
            reset();
            width = s.code_size + 1;
            prev = -1;
            continue;
        }
        if (code == clear + 1) break;
        std::vector<std::uint8_t> str;
        if (code < static_cast<int>(table.size())) {
            str = table[static_cast<std::size_t>(code)];
        } else if (code == static_cast<int>(table.size()) && prev >= 0) {
            str = table[static_cast<std::size_t>(prev)];
            str.push_back(str[0]);
        } else {
            return s;
        }
        if (prev >= 0 && table.size() < 4096) {
            auto entry = table[static_cast<std::size_t>(prev)];
            entry.push_back(str[0]);
            table.push_back(entry);
            if (static_cast<int>(table.size()) == (1 << width) && width < 12) ++width;
        }
        s.pixels.insert(s.pixels.end(), str.begin(), str.end());
        prev = code;
    }
    s.ok = true;
    return s;
}

long count_pixels(const Canvas& canvas, int c) {
    long n = 0;
    for (int y = 0; y < canvas.height(); ++y)
        for (std::uint8_t p : canvas.row(y)) n += p == (c & 0xFF);
    return n;
}

namespace {

class Quiet : public StatusSink {
public:
    Quiet() : previous_(set_status_sink(this)) {}
    ~Quiet() override { set_status_sink(previous_); }

private:
    StatusSink* previous_;
};

}  // namespace

std::unique_ptr<engine::AnalysisRun> written_real_report(const std::string& log,
                                                         const Settings& settings,
                                                         report::AssemblyOptions options) {
    const auto logs = tallowick::test::shared_logs_dir();
    if (!logs || !std::filesystem::exists(*logs / log)) return nullptr;
    engine::RunHooks hooks;
    hooks.group_clients = [&settings](engine::ReportStats& r) {
        return engine::group_report_clients(r, settings.analysis.orgmap);
    };
    Quiet quiet;
    auto run = std::make_unique<engine::AnalysisRun>(settings, std::vector{(*logs / log).string()},
                                                     hooks);
    EXPECT_EQ(run->Process(), 0);
    options.settings = &settings;
    EXPECT_EQ(report::writeReports(run->reports(), options), 0);
    return run;
}

}  // namespace tallowick::graph::test
