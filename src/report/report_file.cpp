#include "report/report_file.h"

#include <cerrno>
#include <cstring>

#include "base/status.h"

namespace tallowick::report {

ReportFile::~ReportFile() { close(); }

bool ReportFile::open(const std::filesystem::path& path) {
    close();
    path_ = path;
    error_.clear();
    failed_ = false;
    buffer_.clear();
    file_.reset(std::fopen(path.c_str(), "wb"));
    if (!file_) {
        error_ = "'" + path.string() + "' -- " + std::strerror(errno);
        return false;
    }
    // Our own buffer already gathers large pieces; a second copy in stdio is waste.
    std::setvbuf(file_.get(), nullptr, _IONBF, 0);
    buffer_.reserve(kFlushSize + 4096);
    open_ = true;
    return true;
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
    if (file_ && buffer_.size() >= kFlushSize) flush();
}

void ReportFile::flush() {
    if (!file_ || failed_ || buffer_.empty()) return;
    if (std::fwrite(buffer_.data(), 1, buffer_.size(), file_.get()) != buffer_.size()) {
        fail("write", errno);
        return;
    }
    buffer_.clear();
}

void ReportFile::fail(const char* what, int err) {
    failed_ = true;
    buffer_.clear();
    error_ = "'" + path_.string() + "' -- " + std::strerror(err);
    ShowError("Can't " + std::string(what) + " report file " + error_);
}

bool ReportFile::close() {
    if (!open_) return !failed_;
    open_ = false;
    if (!file_) return true;   // in-memory pages keep their text for contents()
    flush();
    if (std::fclose(file_.release()) != 0 && !failed_) fail("close", errno);
    return !failed_;
}

}  // namespace tallowick::report
