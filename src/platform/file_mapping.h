// FileWindow: a read-only mapping of part of a file, for reading large logs
// without copying them through a buffer.
//
// A mapped file that is cut short while it is read (a log rotated by truncating
// it in place) would kill the process with SIGBUS on the first page past its new
// end. Windows made here are guarded instead: such a page reads as zeros from
// then on, and cut() turns true, so that the reader can go back to reading the
// file the ordinary way from where it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace tallowick::platform {

class FileWindow {
public:
    // The bytes [offset, offset + length) of the open file fd, or nothing when the
    // file cannot be mapped (not a regular file, too many windows at once, no
    // address space). offset must be a multiple of PageSize().
    static std::optional<FileWindow> Map(int fd, std::uint64_t offset, std::size_t length);
    static std::size_t PageSize();

    FileWindow(FileWindow&& other) noexcept;
    FileWindow& operator=(FileWindow&& other) noexcept;
    FileWindow(const FileWindow&) = delete;
    FileWindow& operator=(const FileWindow&) = delete;
    ~FileWindow();

    const char* data() const { return data_; }
    std::size_t size() const { return size_; }
    // True once a page of the window was found past the end of the file.
    bool cut() const;

private:
    FileWindow(int slot, const char* data, std::size_t size)
        : slot_(slot), data_(data), size_(size) {}
    void Release();

    int slot_ = -1;  // in the table the SIGBUS handler searches
    const char* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace tallowick::platform
