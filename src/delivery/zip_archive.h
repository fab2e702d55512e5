// Writing a Zip archive (deflate) of report files. The archive is built in a
// temporary file beside its path and renamed over it when closed, so an
// interrupted run never leaves a half-written archive.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace tallowick::delivery {

class ZipArchive {
public:
    // Starts a new archive at `path`, replacing any archive there when closed.
    // Returns nothing on failure, with the path and the reason in `error`.
    static std::unique_ptr<ZipArchive> create(const std::filesystem::path& path,
                                              std::string& error);
    ~ZipArchive();   // discards the archive unless close() succeeded
    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;

    // Adds `file` under `name` ("folder/page.html"). The file is read when the
    // archive is closed, so it must stay in place until then.
    bool add(const std::filesystem::path& file, std::string_view name, std::string& error);
    // Compresses every added file and writes the archive.
    bool close(std::string& error);

private:
    struct Handle;
    explicit ZipArchive(std::unique_ptr<Handle> handle);
    std::unique_ptr<Handle> handle_;
};

}  // namespace tallowick::delivery
