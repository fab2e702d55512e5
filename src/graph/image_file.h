// Graph image files: which format a report's images take, what they are called,
// and writing a finished canvas to its file.
#pragma once

#include <filesystem>
#include <memory>
#include <string_view>

#include "base/created_files.h"
#include "graph/byte_sink.h"
#include "graph/canvas.h"

namespace tallowick::graph {

// Values of the `imageformat` setting.
enum ImageFormat : int {
    kImageGif = 0,
    kImageJpeg = 1,
    kImagePng = 2,
    kImageBmp = 3,
    kImageVrml = 4,
};

// Values of the `reportformat` setting that decide the image format.
inline constexpr int kReportHtml = 0;
inline constexpr int kReportRtf = 1;

// ".gif", ".jpg", ".png", ".bmp" or ".wrl"; unknown codes are GIF.
std::string_view image_extension(int image_format);
// RTF reports take BMP images, and HTML reports never do (BMP becomes GIF).
int forced_image_format(int report_format, int image_format);

// Where and how the images of the report being written go. image_format is
// changed by format forcing and stays changed for the rest of the run.
struct ImageOutput {
    std::filesystem::path out_dir;
    int report_format = kReportHtml;
    int image_format = kImageGif;
    CreatedFiles* created = nullptr;   // every opened image is recorded here
    // The report's transaction: images appear with its pages. Null: each image
    // replaces its file on its own when it is finished.
    FileTransaction* files = nullptr;
};

// The report's output folder, the base name and the current format's extension.
std::filesystem::path image_path(const ImageOutput& output, std::string_view base_name);
// Starts the image_path file and records it in the created-files list; nothing
// when it cannot be created ("Can't open report file" with the reason is shown).
std::unique_ptr<FileSink> image_open(const ImageOutput& output, std::string_view base_name);
// Applies format forcing, makes the image interlaced, writes it with the current
// format's encoder and destroys the canvas; with format 4 (scenes) a canvas is
// written as GIF. Returns false when the file cannot be written: that is shown as
// an error with the path and the reason, and fails the transaction the image
// belongs to.
bool image_save(ImageOutput& output, std::unique_ptr<Canvas> canvas, std::string_view base_name);

}  // namespace tallowick::graph
