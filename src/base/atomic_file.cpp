#include "base/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/unique_fd.h"

namespace tallowick {

namespace {

std::string reason(const std::filesystem::path& path, int err) {
    return path.string() + ": " + std::strerror(err);
}

}  // namespace

bool write_file_atomically(const std::filesystem::path& path, std::string_view content,
                           std::string& error) {
    std::string temp = path.string() + ".tmpXXXXXX";
    UniqueFd fd(::mkstemp(temp.data()));
    if (fd.get() < 0) {
        error = reason(path, errno);
        return false;
    }
    auto fail = [&](int err) {
        error = reason(path, err);
        ::unlink(temp.c_str());
        return false;
    };
    const char* p = content.data();
    std::size_t left = content.size();
    while (left > 0) {
        ssize_t n = ::write(fd.get(), p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(errno);
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (::fchmod(fd.get(), 0644) != 0 || ::fsync(fd.get()) != 0) return fail(errno);
    if (::close(fd.release()) != 0) return fail(errno);
    if (::rename(temp.c_str(), path.c_str()) != 0) return fail(errno);
    return true;
}

}  // namespace tallowick
