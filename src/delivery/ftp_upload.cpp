#include "delivery/ftp_upload.h"

#include <curl/curl.h>

#include <cstdio>

#include "base/status.h"
#include "delivery/curl_easy.h"

namespace tallowick::delivery {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// Report files have plain names, but a folder from a report title or a page
// name may hold characters a URL cannot carry as they are.
std::string url_escaped(std::string_view path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

// The remote path with exactly one "/" between it and the relative name.
std::string joined(std::string_view folder, std::string_view relative) {
    std::string path(folder);
    if (path.empty() || path.back() != '/') path += '/';
    while (!relative.empty() && relative.front() == '/') relative.remove_prefix(1);
    path.append(relative);
    return path;
}

void set_common_options(CURL* c, const logs::FtpUrl& location) {
    curl_easy_setopt(c, CURLOPT_USERNAME, location.user.c_str());
    curl_easy_setopt(c, CURLOPT_PASSWORD, location.password.c_str());
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 20L);
    curl_easy_setopt(c, CURLOPT_SERVER_RESPONSE_TIMEOUT, 30L);
    // A server that stops taking data ends the transfer instead of hanging the run.
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, 30L);
}

struct UploadProgress {
    std::string name;
    int shown = -1;
};

int on_upload_progress(void* data, curl_off_t, curl_off_t, curl_off_t total, curl_off_t sent) {
    auto* progress = static_cast<UploadProgress*>(data);
    if (total <= 0) return 0;
    const int percent = static_cast<int>(sent * 100 / total);
    if (percent != progress->shown) {
        progress->shown = percent;
        ShowProgress(percent, "Uploading " + progress->name + "..." + std::to_string(percent) + "%");
    }
    return 0;
}

}  // namespace

FtpConnection::FtpConnection(logs::FtpUrl location, std::unique_ptr<CurlEasy> easy)
    : location_(std::move(location)), easy_(std::move(easy)) {}

FtpConnection::~FtpConnection() = default;

std::unique_ptr<FtpConnection> FtpConnection::connect(const logs::FtpUrl& location) {
    auto easy = std::make_unique<CurlEasy>();
    CURL* c = easy->get();
    int rc = CURLE_FAILED_INIT;
    if (c) {
        set_common_options(c, location);
        // Logging in and listing nothing proves the host and the account; the
        // connection stays open for the uploads.
        const std::string root = "ftp://" + location.host + "/";
        curl_easy_setopt(c, CURLOPT_URL, root.c_str());
        curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
        rc = easy->perform();
        curl_easy_setopt(c, CURLOPT_NOBODY, 0L);
    }
    if (rc != CURLE_OK) {
        ShowError("Error connecting to (" + location.user + "@" + location.host + ") -- " +
                  easy->error_text());
        return nullptr;
    }
    std::string_view path = location.path;
    if (!path.empty() && path.front() == '/') path.remove_prefix(1);
    ShowStatus("Ftping " + location.user + "@" + location.host + "/" + std::string(path));
    return std::unique_ptr<FtpConnection>(new FtpConnection(location, std::move(easy)));
}

UploadResult FtpConnection::ftp_upload(const std::filesystem::path& local,
                                       std::string_view relative) {
    UniqueFile file(std::fopen(local.c_str(), "rb"));
    if (!file) {
        ShowError("Error, failed to open (" + local.string() + ")");
        return UploadResult::unreadable;
    }
    std::error_code ec;
    const auto size = std::filesystem::file_size(local, ec);
    const std::string remote = joined(location_.path, relative);

    // A file in a subfolder: curl makes the folders that a change of folder
    // finds missing, so each is made once; the status names each new folder.
    const std::size_t slash = remote.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : remote.substr(0, slash);
    if (relative.find('/') != std::string_view::npos && folder != last_folder_) {
        last_folder_ = folder;
        ShowStatus("Making dir " + folder + "...");
    }

    CURL* c = easy_->get();
    const std::string url = "ftp://" + location_.host + url_escaped(remote);
    UploadProgress progress{local.filename().string()};
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(c, CURLOPT_READDATA, file.get());
    curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(ec ? 0 : size));
    curl_easy_setopt(c, CURLOPT_FTP_CREATE_MISSING_DIRS, static_cast<long>(CURLFTP_CREATE_DIR));
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &on_upload_progress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &progress);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    ShowStatus("Uploading " + progress.name + "...");
    const int rc = easy_->perform();
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 1L);
    curl_easy_setopt(c, CURLOPT_UPLOAD, 0L);
    if (rc == CURLE_OK) return UploadResult::sent;

    if (rc == CURLE_REMOTE_ACCESS_DENIED)
        ShowError("Can't write to ftp file (" + remote + ")\nMaybe path does not exist? -- " +
                  easy_->error_text());
    else if (rc == CURLE_UPLOAD_FAILED)
        ShowError("Can't write to ftp file (" + remote + ") -- " + easy_->error_text());
    else
        ShowError("failed writing bytes... (" + remote + ") -- " + easy_->error_text());
    return UploadResult::failed;
}

}  // namespace tallowick::delivery
