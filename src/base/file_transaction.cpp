#include "base/file_transaction.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace tallowick {

namespace {

std::string reason(const std::filesystem::path& path, int err) {
    return "'" + path.string() + "' -- " + std::strerror(err);
}

}  // namespace

// ---- StagedFile -------------------------------------------------------------------

StagedFile::~StagedFile() { discard(); }

StagedFile::StagedFile(StagedFile&& other) noexcept { *this = std::move(other); }

StagedFile& StagedFile::operator=(StagedFile&& other) noexcept {
    if (this != &other) {
        discard();
        owner_ = std::exchange(other.owner_, nullptr);
        fd_ = std::move(other.fd_);
        temp_ = std::move(other.temp_);
        final_ = std::move(other.final_);
        error_ = std::move(other.error_);
        failed_ = std::exchange(other.failed_, false);
    }
    return *this;
}

void StagedFile::fail(int err) {
    if (failed_) return;
    failed_ = true;
    error_ = reason(final_, err);
}

bool StagedFile::write(std::string_view bytes) {
    if (!fd_ || failed_) return false;
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd_.get(), bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            fail(errno);
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool StagedFile::close() {
    if (!fd_) return !failed_;
    if (::close(fd_.release()) != 0) fail(errno);
    FileTransaction* owner = std::exchange(owner_, nullptr);
    if (failed_) {
        ::unlink(temp_.c_str());
        if (owner) {
            --owner->open_files_;
            owner->fail(error_);
        }
        return false;
    }
    if (owner) {
        --owner->open_files_;
        owner->finished(std::move(temp_), final_);
    }
    return true;
}

void StagedFile::discard() {
    if (!fd_) return;
    fd_.reset();
    ::unlink(temp_.c_str());
    if (owner_) {
        --owner_->open_files_;
        owner_->fail(reason(final_, ECANCELED));
        owner_ = nullptr;
    }
}

// ---- FileTransaction --------------------------------------------------------------

FileTransaction::~FileTransaction() { rollback(); }

StagedFile FileTransaction::create(const std::filesystem::path& path) {
    StagedFile file;
    file.final_ = path;
    // mkstemp makes a new file (O_EXCL): a link planted under any name is never
    // opened, and the final name is only ever renamed over.
    file.temp_ = path.string() + ".tmpXXXXXX";
    file.fd_.reset(::mkstemp(file.temp_.data()));
    if (!file.fd_) {
        file.fail(errno);
        fail(file.error_);
        return file;
    }
    // mkstemp creates private files; a report is for reading.
    ::fchmod(file.fd_.get(), 0644);
    file.owner_ = this;
    ++open_files_;
    return file;
}

void FileTransaction::finished(std::string temp, const std::filesystem::path& final) {
    // A file written twice: the later one counts.
    for (Finished& f : finished_) {
        if (f.final == final) {
            ::unlink(f.temp.c_str());
            f.temp = std::move(temp);
            return;
        }
    }
    finished_.push_back({std::move(temp), final});
}

void FileTransaction::fail(const std::string& error) {
    if (failed_) return;
    failed_ = true;
    error_ = error;
}

bool FileTransaction::commit() {
    if (!failed_ && open_files_ > 0) fail("files still being written");
    // A folder under a final name would stop the renames half way; look first.
    for (const Finished& f : finished_) {
        if (failed_) break;
        struct stat st{};
        if (::lstat(f.final.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) fail(reason(f.final, EISDIR));
    }
    if (failed_) {
        rollback();
        return false;
    }
    for (auto it = finished_.rbegin(); it != finished_.rend(); ++it) {
        if (::rename(it->temp.c_str(), it->final.c_str()) != 0) {
            fail(reason(it->final, errno));
            ::unlink(it->temp.c_str());
        }
    }
    finished_.clear();
    return !failed_;
}

void FileTransaction::rollback() {
    for (const Finished& f : finished_) ::unlink(f.temp.c_str());
    finished_.clear();
}

// ---- FolderLock -------------------------------------------------------------------

bool FolderLock::acquire(const std::filesystem::path& folder, int wait_seconds,
                         const std::function<bool()>& give_up,
                         const std::function<void()>& waiting, std::string& error) {
    const std::filesystem::path path = folder / kFileName;
    fd_.reset(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!fd_) {
        error = reason(path, errno);
        return false;
    }
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::seconds(wait_seconds);
    bool told = false;
    for (;;) {
        if (::flock(fd_.get(), LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) break;
        if (give_up && give_up()) {
            fd_.reset();
            error = "'" + folder.string() + "' -- the wait for another run was cancelled";
            return false;
        }
        if (clock::now() >= deadline) {
            fd_.reset();
            error = "'" + folder.string() + "' -- another run is still writing a report there";
            return false;
        }
        if (!told && waiting) waiting();
        told = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    error = reason(path, errno);
    fd_.reset();
    return false;
}

}  // namespace tallowick
