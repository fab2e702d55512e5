// The destination of one report page: text collects in memory and goes to the
// file in large pieces. A page can also be kept in memory only (the report
// server and tests read it back with contents()). A page is written under a
// temporary name and takes its final name only when complete: with the
// report's transaction, together with every other file of the report.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "base/file_transaction.h"

namespace tallowick::report {

class ReportFile {
public:
    static constexpr std::size_t kFlushSize = 64 * 1024;

    ReportFile() = default;
    ~ReportFile();
    ReportFile(const ReportFile&) = delete;
    ReportFile& operator=(const ReportFile&) = delete;

    // Starts the page that will replace path, as part of `files`: it appears
    // when the transaction commits. Returns false when it cannot be created;
    // error() then holds the path and the system's reason (the caller reports it).
    bool open(FileTransaction& files, const std::filesystem::path& path);
    // A page on its own: it replaces path when it is closed.
    bool open(const std::filesystem::path& path);
    // Collects the page in memory; nothing is written anywhere.
    void openInMemory();

    // Writes what is buffered and closes the file. Returns false when anything
    // could not be written; that failure has been reported through ShowError with
    // the path and the system's reason. Closing a closed file returns true.
    bool close();

    bool isOpen() const { return open_; }
    // Appends text; when the buffer holds kFlushSize bytes it goes to the file.
    // A write failure is reported once and the rest of the page is dropped.
    void append(std::string_view text);

    // The text of an in-memory page (or what a file page has not flushed yet).
    const std::string& contents() const { return buffer_; }
    const std::string& error() const { return error_; }
    const std::filesystem::path& path() const { return path_; }

private:
    void flush();
    void fail(const std::string& error);

    std::unique_ptr<FileTransaction> own_;   // a page on its own
    StagedFile file_;
    std::filesystem::path path_;
    std::string buffer_;
    std::string error_;
    bool open_ = false;
    bool failed_ = false;
};

}  // namespace tallowick::report
