// Uploading report files by FTP: one logged-in connection per delivery, kept
// open for every file; remote folders are made when a file needs them.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "logs/log_source.h"

namespace tallowick::delivery {

class CurlEasy;

enum class UploadResult { sent, unreadable, failed };

class FtpConnection {
public:
    // Connects and logs in to the location's host. On failure shows "Error
    // connecting to (user@host)" with the reason (never the password) and
    // returns nothing. On success shows "Ftping user@host/path".
    static std::unique_ptr<FtpConnection> connect(const logs::FtpUrl& location);
    ~FtpConnection();
    FtpConnection(const FtpConnection&) = delete;
    FtpConnection& operator=(const FtpConnection&) = delete;

    // ftp_upload: sends `local` to the location's path + `relative` ("sub/page.html"),
    // making the remote folder when the file lies in one. Progress and failures go
    // to the status sink; a failure is shown as an error.
    UploadResult ftp_upload(const std::filesystem::path& local, std::string_view relative);

private:
    FtpConnection(logs::FtpUrl location, std::unique_ptr<CurlEasy> easy);
    logs::FtpUrl location_;
    std::unique_ptr<CurlEasy> easy_;
    std::string last_folder_;   // the remote folder a file went to last
};

}  // namespace tallowick::delivery
