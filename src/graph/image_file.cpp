#include "graph/image_file.h"

#include <string>

#include "base/status.h"
#include "graph/encoders.h"

namespace tallowick::graph {

std::string_view image_extension(int image_format) {
    switch (image_format) {
    case kImageJpeg: return ".jpg";
    case kImagePng: return ".png";
    case kImageBmp: return ".bmp";
    case kImageVrml: return ".wrl";
    default: return ".gif";
    }
}

int forced_image_format(int report_format, int image_format) {
    if (report_format == kReportRtf) return kImageBmp;
    if (report_format == kReportHtml && image_format == kImageBmp) return kImageGif;
    return image_format;
}

std::filesystem::path image_path(const ImageOutput& output, std::string_view base_name) {
    std::string name(base_name);
    name += image_extension(output.image_format);
    return output.out_dir / name;
}

std::unique_ptr<FileSink> image_open(const ImageOutput& output, std::string_view base_name) {
    const std::filesystem::path path = image_path(output, base_name);
    std::string error;
    auto file = FileSink::create(output.files, path, error);
    if (!file) {
        ShowError("Can't open report file " + error);
        return nullptr;
    }
    if (output.created) output.created->add(path);
    return file;
}

bool image_save(ImageOutput& output, std::unique_ptr<Canvas> canvas, std::string_view base_name) {
    if (!canvas) return false;
    output.image_format = forced_image_format(output.report_format, output.image_format);
    // Charts become scenes (vrml_scene.h); what is still drawn on a canvas with
    // format 4, the shadow strips of the pages, is written as GIF.
    ImageOutput raster = output;
    if (raster.image_format == kImageVrml) raster.image_format = kImageGif;
    canvas_set_interlace(*canvas, true);
    auto file = image_open(raster, base_name);
    if (!file) return false;
    bool written = true;
    switch (raster.image_format) {
    case kImageJpeg: written = jpeg_write(*canvas, *file, kJpegQuality); break;
    case kImagePng: written = png_write(*canvas, *file); break;
    case kImageBmp: bmp_write(*canvas, *file); break;
    default: gif_write(*canvas, *file); break;
    }
    if (!file->close()) {
        ShowError("Can't write report file " + file->error());
        return false;
    }
    return written;
}

}  // namespace tallowick::graph
