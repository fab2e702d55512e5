#include "graph/byte_sink.h"

namespace tallowick::graph {

std::unique_ptr<FileSink> FileSink::create(const std::filesystem::path& path) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return nullptr;
    return std::unique_ptr<FileSink>(new FileSink(f, path));
}

void FileSink::write(std::span<const std::uint8_t> bytes) {
    if (!ok_ || !file_) return;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_.get()) != bytes.size()) ok_ = false;
}

bool FileSink::close() {
    if (!file_) return ok_;
    if (std::fclose(file_.release()) != 0) ok_ = false;
    return ok_;
}

}  // namespace tallowick::graph
