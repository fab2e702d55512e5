#include "logs/remote_listing.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

#include "logs/log_source.h"
#include "logs/pattern.h"

namespace tallowick::logs {

namespace {

// An index page or name list larger than this is not a folder listing.
constexpr std::size_t kMaxListing = 8 * 1024 * 1024;

struct EasyDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};

std::size_t collect(char* data, std::size_t size, std::size_t count, void* user) {
    auto* out = static_cast<std::string*>(user);
    const std::size_t bytes = size * count;
    if (out->size() + bytes > kMaxListing) return 0;   // ends the transfer with an error
    out->append(data, bytes);
    return bytes;
}

bool fetch(const std::string& url, const std::optional<FtpUrl>& ftp, std::string& body,
           std::string& error) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (!easy) {
        error = "cannot start a network transfer";
        return false;
    }
    CURL* e = easy.get();
    char error_text[CURL_ERROR_SIZE] = {};
    std::string target = url;
    if (ftp) {
        // Credentials go as options, so that odd characters in them need no escaping.
        target = "ftp://" + ftp->host + ftp->path;
        curl_easy_setopt(e, CURLOPT_USERNAME, ftp->user.c_str());
        curl_easy_setopt(e, CURLOPT_PASSWORD, ftp->password.c_str());
        curl_easy_setopt(e, CURLOPT_DIRLISTONLY, 1L);
    }
    curl_easy_setopt(e, CURLOPT_URL, target.c_str());
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &collect);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, error_text);
    curl_easy_setopt(e, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, 30L);
    curl_easy_setopt(e, CURLOPT_TIMEOUT, 120L);
    const CURLcode rc = curl_easy_perform(e);
    if (rc != CURLE_OK) {
        error = error_text[0] ? error_text : curl_easy_strerror(rc);
        return false;
    }
    return true;
}

// The names of an FTP name list, one a line; some servers answer with paths.
std::vector<std::string> ftp_names(std::string_view body) {
    std::vector<std::string> names;
    while (!body.empty()) {
        std::size_t end = body.find('\n');
        std::string_view line = body.substr(0, end);
        body = end == std::string_view::npos ? std::string_view() : body.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (std::size_t slash = line.find_last_of('/'); slash != std::string_view::npos)
            line.remove_prefix(slash + 1);
        if (!line.empty()) names.emplace_back(line);
    }
    return names;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string percent_decoded(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        int hi, lo;
        if (text[i] == '%' && i + 2 < text.size() && (hi = hex_value(text[i + 1])) >= 0 &&
            (lo = hex_value(text[i + 2])) >= 0) {
            out.push_back(static_cast<char>(hi * 16 + lo));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

// The entries an index page links to inside its own folder: the href values
// without a query, a fragment, a scheme or a path of their own. Each is given as
// written (to append to the folder URL) and decoded (to match).
std::vector<std::pair<std::string, std::string>> http_names(std::string_view page) {
    std::vector<std::pair<std::string, std::string>> names;
    std::size_t pos = 0;
    while ((pos = page.find("href=", pos)) != std::string_view::npos) {
        pos += 5;
        if (pos >= page.size()) break;
        const char quote = page[pos];
        if (quote != '"' && quote != '\'') continue;
        const std::size_t end = page.find(quote, pos + 1);
        if (end == std::string_view::npos) break;
        std::string_view href = page.substr(pos + 1, end - pos - 1);
        pos = end + 1;
        if (href.starts_with("./")) href.remove_prefix(2);
        if (href.empty() || href.find_first_of("/?#:") != std::string_view::npos) continue;
        names.emplace_back(std::string(href), percent_decoded(href));
    }
    return names;
}

}  // namespace

std::vector<std::string> ListRemotePattern(std::string_view url_pattern, std::string& error) {
    std::vector<std::string> urls;
    const std::size_t slash = url_pattern.find_last_of('/');
    const std::size_t scheme_end = url_pattern.find("://");
    if (slash == std::string_view::npos || scheme_end == std::string_view::npos ||
        slash < scheme_end + 3) {
        error = "not a remote folder";
        return urls;
    }
    const std::string folder(url_pattern.substr(0, slash + 1));
    const std::string_view pattern = url_pattern.substr(slash + 1);
    const std::optional<FtpUrl> ftp = SplitFtpUrl(folder);
    std::string body;
    if (!fetch(folder, ftp, body, error)) return urls;
    if (ftp) {
        for (const std::string& name : ftp_names(body))
            if (MatchPattern(name, pattern, true)) urls.push_back(folder + name);
    } else {
        for (const auto& [written, name] : http_names(body))
            if (MatchPattern(name, pattern, true)) {
                const std::string url = folder + written;
                // Index pages often link an entry twice (name and icon).
                if (urls.empty() || urls.back() != url) urls.push_back(url);
            }
    }
    return urls;
}

}  // namespace tallowick::logs
