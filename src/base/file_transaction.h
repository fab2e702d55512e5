// Writing a set of files that appear together or not at all, as a report's
// pages and images must. Each file is written under a new temporary name in its
// own folder; only when every file is complete are they renamed over their final
// names. A rename replaces whatever stands there (a planted symbolic link
// included) and never writes through it. Until then the old files are untouched,
// and a failure or a cancelled run removes the temporary files again.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/unique_fd.h"

namespace tallowick {

class FileTransaction;

// One file of a transaction, open under its temporary name.
class StagedFile {
public:
    StagedFile() = default;
    // A file never closed (an error path, a cancelled run) is removed and fails
    // its transaction.
    ~StagedFile();
    StagedFile(StagedFile&& other) noexcept;
    StagedFile& operator=(StagedFile&& other) noexcept;
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    bool is_open() const { return static_cast<bool>(fd_); }
    // Appends bytes. False once a write has failed (a full disk, a file-size
    // limit); error() then holds the final path and the system's reason.
    bool write(std::string_view bytes);
    // Closes the file and hands it to its transaction. False when any write or
    // the close failed; the file is then removed and the transaction failed.
    bool close();

    const std::filesystem::path& path() const { return final_; }
    const std::string& error() const { return error_; }

private:
    friend class FileTransaction;
    void fail(int err);
    void discard();

    FileTransaction* owner_ = nullptr;
    UniqueFd fd_;
    std::string temp_;
    std::filesystem::path final_;
    std::string error_;
    bool failed_ = false;
};

class FileTransaction {
public:
    FileTransaction() = default;
    // Whatever was not committed is rolled back.
    ~FileTransaction();
    FileTransaction(const FileTransaction&) = delete;
    FileTransaction& operator=(const FileTransaction&) = delete;

    // Starts the file that will replace `path`. On failure the file returned is
    // not open, its error() says why and the transaction has failed.
    StagedFile create(const std::filesystem::path& path);

    // Moves every finished file into place, the last created first (so images
    // precede the pages that show them and a main page comes last). Refuses, and
    // rolls back, when a file failed, when one is still open, or when a final
    // name is taken by a folder. False with error() set on any failure.
    bool commit();
    // Removes the temporary files; the old files stay as they were.
    void rollback();

    bool failed() const { return failed_; }
    // The first failure: the final path and the system's reason.
    const std::string& error() const { return error_; }

private:
    friend class StagedFile;
    struct Finished {
        std::string temp;
        std::filesystem::path final;
    };
    void finished(std::string temp, const std::filesystem::path& final);
    void fail(const std::string& error);

    std::vector<Finished> finished_;
    int open_files_ = 0;
    bool failed_ = false;
    std::string error_;
};

// One writer at a time per folder: an exclusive lock on the file
// ".tallowick.lock" in it. The kernel releases it when the process ends, however
// it ends, so a stale lock never blocks a later run.
class FolderLock {
public:
    // Takes the lock, waiting while another process holds it: up to
    // wait_seconds, and only while give_up (when given) returns false. waiting()
    // is called once when the lock is busy. False with error set when the lock
    // cannot be taken (an unwritable folder, a planted link, the wait ran out).
    bool acquire(const std::filesystem::path& folder, int wait_seconds,
                 const std::function<bool()>& give_up, const std::function<void()>& waiting,
                 std::string& error);
    bool held() const { return static_cast<bool>(fd_); }
    void release() { fd_.reset(); }

    static constexpr std::string_view kFileName = ".tallowick.lock";

private:
    UniqueFd fd_;
};

}  // namespace tallowick
