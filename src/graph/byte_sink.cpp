#include "graph/byte_sink.h"

namespace tallowick::graph {

std::unique_ptr<FileSink> FileSink::create(FileTransaction* files,
                                           const std::filesystem::path& path, std::string& error) {
    std::unique_ptr<FileSink> sink(new FileSink());
    if (!files) {
        sink->own_ = std::make_unique<FileTransaction>();
        files = sink->own_.get();
    }
    sink->file_ = files->create(path);
    if (!sink->file_.is_open()) {
        error = sink->file_.error();
        return nullptr;
    }
    return sink;
}

void FileSink::write(std::span<const std::uint8_t> bytes) {
    if (!ok_) return;
    if (!file_.write({reinterpret_cast<const char*>(bytes.data()), bytes.size()})) {
        ok_ = false;
        error_ = file_.error();
    }
}

bool FileSink::close() {
    if (!file_.is_open()) return ok_;
    if (!file_.close() && ok_) {
        ok_ = false;
        error_ = file_.error();
    }
    if (own_ && ok_ && !own_->commit()) {
        ok_ = false;
        error_ = own_->error();
    }
    own_.reset();
    return ok_;
}

}  // namespace tallowick::graph
