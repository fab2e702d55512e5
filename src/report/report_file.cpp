#include "report/report_file.h"

#include "base/status.h"

namespace tallowick::report {

ReportFile::~ReportFile() { close(); }

bool ReportFile::open(FileTransaction& files, const std::filesystem::path& path) {
    close();
    path_ = path;
    error_.clear();
    failed_ = false;
    buffer_.clear();
    file_ = files.create(path);
    if (!file_.is_open()) {
        error_ = file_.error();
        return false;
    }
    buffer_.reserve(kFlushSize + 4096);
    open_ = true;
    return true;
}

bool ReportFile::open(const std::filesystem::path& path) {
    close();
    own_ = std::make_unique<FileTransaction>();
    if (open(*own_, path)) return true;
    own_.reset();
    return false;
}

void ReportFile::openInMemory() {
    close();
    path_.clear();
    error_.clear();
    buffer_.clear();
    failed_ = false;
    open_ = true;
}

void ReportFile::append(std::string_view text) {
    if (!open_ || failed_) return;
    buffer_.append(text);
    if (file_.is_open() && buffer_.size() >= kFlushSize) flush();
}

void ReportFile::flush() {
    if (!file_.is_open() || failed_ || buffer_.empty()) return;
    if (!file_.write(buffer_)) {
        fail(file_.error());
        return;
    }
    buffer_.clear();
}

void ReportFile::fail(const std::string& error) {
    failed_ = true;
    buffer_.clear();
    error_ = error;
    ShowError("Can't write report file " + error_);
}

bool ReportFile::close() {
    if (!open_) return !failed_;
    open_ = false;
    if (!file_.is_open()) return true;   // in-memory pages keep their text for contents()
    flush();
    if (!file_.close() && !failed_) fail(file_.error());
    if (own_) {
        if (!failed_ && !own_->commit()) fail(own_->error());
        own_.reset();
    }
    return !failed_;
}

}  // namespace tallowick::report
