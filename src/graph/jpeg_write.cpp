// JPEG through libjpeg: palette rows expanded to RGB, baseline, fixed quality.
#include <cstdio>   // jpeglib.h needs FILE and size_t declared first

#include <jerror.h>
#include <jpeglib.h>

#include <array>
#include <csetjmp>
#include <exception>
#include <vector>

#include "graph/encoders.h"

namespace tallowick::graph {

namespace {

// libjpeg's standard error manager ends the process on an error; ours jumps back
// so that a failed image does not end the run.
struct ErrorManager {
    jpeg_error_mgr pub;   // first, so libjpeg's pointer is also ours
    std::jmp_buf jump;
};

void error_exit(j_common_ptr cinfo) {
    (*cinfo->err->output_message)(cinfo);
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

// A destination that hands libjpeg's output to a byte sink in 4 KiB pieces.
struct SinkDestination {
    jpeg_destination_mgr pub;   // first, as above
    ByteSink* sink;
    std::array<JOCTET, 4096> buffer;
};

SinkDestination& destination(j_compress_ptr cinfo) {
    return *reinterpret_cast<SinkDestination*>(cinfo->dest);
}

void hand_over(j_compress_ptr cinfo, std::size_t length) {
    SinkDestination& d = destination(cinfo);
    bool stored = true;
    try {
        d.sink->write({d.buffer.data(), length});
    } catch (const std::exception&) {
        stored = false;   // no exception may cross libjpeg's C frames
    }
    if (!stored || !d.sink->ok()) ERREXIT(cinfo, JERR_FILE_WRITE);
}

void init_destination(j_compress_ptr cinfo) {
    SinkDestination& d = destination(cinfo);
    d.pub.next_output_byte = d.buffer.data();
    d.pub.free_in_buffer = d.buffer.size();
}

boolean empty_output_buffer(j_compress_ptr cinfo) {
    hand_over(cinfo, destination(cinfo).buffer.size());
    init_destination(cinfo);
    return TRUE;
}

void term_destination(j_compress_ptr cinfo) {
    SinkDestination& d = destination(cinfo);
    hand_over(cinfo, d.buffer.size() - d.pub.free_in_buffer);
}

// The compressor's structures, released on every path.
struct Compressor {
    jpeg_compress_struct cinfo{};
    ErrorManager err{};
    SinkDestination dest{};
    ~Compressor() { jpeg_destroy_compress(&cinfo); }
};

// Everything from setjmp to the last libjpeg call, with only trivially
// destructible locals, so a long jump back skips no destructor.
bool compress(Compressor& c, const Canvas& canvas, ByteSink& sink, int quality, JSAMPLE* row) {
    c.cinfo.err = jpeg_std_error(&c.err.pub);
    c.err.pub.error_exit = error_exit;
    if (setjmp(c.err.jump)) return false;
    jpeg_create_compress(&c.cinfo);
    c.dest.sink = &sink;
    c.dest.pub.init_destination = init_destination;
    c.dest.pub.empty_output_buffer = empty_output_buffer;
    c.dest.pub.term_destination = term_destination;
    c.cinfo.dest = &c.dest.pub;
    c.cinfo.image_width = static_cast<JDIMENSION>(canvas.width());
    c.cinfo.image_height = static_cast<JDIMENSION>(canvas.height());
    c.cinfo.input_components = 3;
    c.cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c.cinfo);
    jpeg_set_quality(&c.cinfo, quality, TRUE);
    jpeg_start_compress(&c.cinfo, TRUE);
    for (int y = 0; y < canvas.height(); ++y) {
        JSAMPLE* out = row;
        for (std::uint8_t p : canvas.row(y)) {
            *out++ = static_cast<JSAMPLE>(canvas.red[p]);
            *out++ = static_cast<JSAMPLE>(canvas.green[p]);
            *out++ = static_cast<JSAMPLE>(canvas.blue[p]);
        }
        JSAMPROW rows[] = {row};
        jpeg_write_scanlines(&c.cinfo, rows, 1);
    }
    jpeg_finish_compress(&c.cinfo);
    return true;
}

}  // namespace

bool jpeg_write(const Canvas& canvas, ByteSink& sink, int quality) {
    std::vector<JSAMPLE> row;
    try {
        row.resize(static_cast<std::size_t>(canvas.width()) * 3);
    } catch (const std::bad_alloc&) {
        return false;
    }
    Compressor compressor;
    return compress(compressor, canvas, sink, quality, row.data()) && sink.ok();
}

}  // namespace tallowick::graph
