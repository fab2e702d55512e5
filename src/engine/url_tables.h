// The fixed tables of the hit accounting and the URL helpers around them: page and
// download extensions, proxy protocols, status names, and the normalisation every
// URL gets before it is filtered and counted.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tallowick::engine {

// is_page_extension / is_download_extension: whether an extension text (from its
// "." on, e.g. ".html") is in the table. Matching is by the unfolded name hash, so
// ".HTML" is not a page extension.
bool is_page_extension(std::string_view extension);
bool is_download_extension(std::string_view extension);

// The protocol number of a proxy hit's protocol or port text: the first table
// entry ("http=1", "80/tcp=1", ...) that contains the text; 0 when none does or
// the text is empty.
int proxy_protocol(std::string_view text);
// "Unknown", "web", "secureweb", "mail", "ftp", "telnet", "realaudio", "dns", "pop3".
std::string_view protocol_name(int protocol);
inline constexpr int kProtocolCount = 9;

// The "err" list's name of a status code; "Incomplete/Undefined (0)" for a code
// outside the table. The texts are static.
std::string_view status_name(int status);

// How a hit's status text reads: "OK" anywhere is 200, "ERR" anywhere is 404 and
// a failure, otherwise its number, a failure when above 304 (but for the
// redirects 307 and 308) or equal to 206.
struct StatusInfo {
    int code = 0;
    bool error = false;
};
StatusInfo read_status(std::string_view status);

// normalise_url: the URL as the run filters and counts it. "http://" at the start
// is dropped; a leading "/%7E" becomes "/~"; a ":" at the end is removed and one
// followed by anything but "/" becomes "/"; unless usecgi, the URL ends before its
// first "?" or "=". The result is a view into `url` when only its ends change,
// otherwise into `scratch`, which is reused from hit to hit.
std::string_view normalise_url(std::string_view url, bool usecgi, std::string& scratch);

// The extension of a URL: the text from the last "." after the last "/" (with
// usecgi, a "?" ends the URL first); empty when there is none.
std::string_view url_extension(std::string_view url, bool usecgi);

// The directory part of a URL, up to and including its last "/"; empty when the
// URL has no "/".
std::string_view url_directory(std::string_view url);

// The top directory of a directory: up to and including its second "/"; empty
// when there is no second "/" or a "." comes before it.
std::string_view top_directory(std::string_view directory);

// The first `depth` folders of a URL ("/a/b/c.html", 1 -> "/a/", 2 -> "/a/b/"),
// as far as the URL has them; "/" for a URL without a folder.
std::string_view leading_folders(std::string_view url, int depth);

// The site of a referrer: the text up to (not including) its third "/".
std::string_view referrer_site(std::string_view referrer);

// The host of a URL: after "scheme://" (when there is one) up to the next "/",
// ":" or "?".
std::string_view url_host(std::string_view url);

// first_of: the position of the first character of `text` that is in `set` (a few
// characters), or npos. string_view::find_first_of calls memchr once per
// character of the text, which shows on every hit.
inline std::size_t first_of(std::string_view text, std::string_view set) {
    for (std::size_t i = 0; i < text.size(); ++i)
        for (char c : set)
            if (text[i] == c) return i;
    return std::string_view::npos;
}

}  // namespace tallowick::engine
