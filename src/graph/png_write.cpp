// PNG through libpng: the full 256-entry palette, Adam7 interlacing and three
// text chunks naming the image.
#include <png.h>

#include <array>
#include <csetjmp>
#include <exception>

#include "graph/encoders.h"

namespace tallowick::graph {

namespace {

// Owns the write and info structures.
class PngWriter {
public:
    PngWriter() {
        png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        if (png_) info_ = png_create_info_struct(png_);
    }
    ~PngWriter() { png_destroy_write_struct(&png_, info_ ? &info_ : nullptr); }
    PngWriter(const PngWriter&) = delete;
    PngWriter& operator=(const PngWriter&) = delete;

    bool ok() const { return png_ && info_; }
    png_structp png() const { return png_; }
    png_infop info() const { return info_; }

private:
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
};

void write_to_sink(png_structp png, png_bytep data, png_size_t length) {
    auto* sink = static_cast<ByteSink*>(png_get_io_ptr(png));
    bool stored = true;
    try {
        sink->write({data, length});
    } catch (const std::exception&) {
        stored = false;   // no exception may cross libpng's C frames
    }
    if (!stored || !sink->ok()) png_error(png, "cannot write the image");   // long-jumps
}

void flush_sink(png_structp) {}

// Everything between setjmp and the last libpng call lives here, with only
// trivially destructible locals, so a long jump back skips no destructor.
bool write_png(png_structp png, png_infop info, const Canvas& canvas, ByteSink& sink,
               const png_color* palette, png_text* text, int text_count) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_write_fn(png, &sink, write_to_sink, flush_sink);
    png_set_IHDR(png, info, static_cast<png_uint_32>(canvas.width()),
                 static_cast<png_uint_32>(canvas.height()), 8, PNG_COLOR_TYPE_PALETTE,
                 PNG_INTERLACE_ADAM7, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_PLTE(png, info, palette, kPaletteSize);
    png_set_text(png, info, text, text_count);
    png_write_info(png, info);
    const int passes = png_set_interlace_handling(png);
    for (int pass = 0; pass < passes; ++pass) {
        for (int y = 0; y < canvas.height(); ++y) png_write_row(png, canvas.row(y).data());
    }
    png_write_end(png, info);
    return true;
}

}  // namespace

bool png_write(const Canvas& canvas, ByteSink& sink) {
    PngWriter writer;
    if (!writer.ok()) return false;
    std::array<png_color, kPaletteSize> palette{};
    for (int i = 0; i < kPaletteSize; ++i) {
        palette[static_cast<std::size_t>(i)] = {static_cast<png_byte>(canvas.red[i]),
                                                static_cast<png_byte>(canvas.green[i]),
                                                static_cast<png_byte>(canvas.blue[i])};
    }
    char title_key[] = "Title", title[] = "Tallowick";
    char author_key[] = "Author", author[] = "Tallowick by Brisvale, 2024";
    char description_key[] = "Description", description[] = "graph image data";
    std::array<png_text, 3> text{};
    text[0].key = title_key;
    text[0].text = title;
    text[1].key = author_key;
    text[1].text = author;
    text[2].key = description_key;
    text[2].text = description;
    for (png_text& t : text) t.compression = PNG_TEXT_COMPRESSION_NONE;
    return write_png(writer.png(), writer.info(), canvas, sink, palette.data(), text.data(),
                     static_cast<int>(text.size())) &&
           sink.ok();
}

}  // namespace tallowick::graph
