#include "engine/url_tables.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <bit>
#include <array>
#include <cstdlib>

#include "engine/name_hash.h"

namespace tallowick::engine {
namespace {

constexpr std::array<std::string_view, 28> kPageExtensions = {
    ".html", ".htm", ".shtml", ".shtm", ".lhtml", ".htmls", ".phtml", ".dbm", ".ssi", ".asp",
    ".txt", ".cgi", ".pl", ".exe", ".dll", ".tmpl", ".tpl", ".cfm", ".php3", ".php",
    ".fcgi", ".lasso", ".nclk", ".t", ".taf", ".qry", ".flx", ".acgi"};

constexpr std::array<std::string_view, 29> kDownloadExtensions = {
    ".zip", ".bin", ".sit", ".hqx", ".tar", ".exe", ".pdf", ".wrl", ".tgz", ".gz",
    ".z", ".qt", ".rpm", ".ram", ".ra", ".mp3", ".mpg", ".mov", ".asf", ".asx",
    ".wma", ".arj", ".lha", ".rar", ".ps", ".bz2", ".aiff", ".ac3", ".vob"};

// The hashes are worked out by the compiler, so "computed once" costs nothing.
template <std::size_t N>
constexpr std::array<std::uint32_t, N> HashesOf(const std::array<std::string_view, N>& words) {
    std::array<std::uint32_t, N> out{};
    for (std::size_t i = 0; i < N; ++i) out[i] = NameHash(words[i]);
    return out;
}
constexpr auto kPageHashes = HashesOf(kPageExtensions);
constexpr auto kDownloadHashes = HashesOf(kDownloadExtensions);

template <std::size_t N>
bool HashIn(std::string_view extension, const std::array<std::uint32_t, N>& hashes) {
    if (extension.empty()) return false;
    const std::uint32_t h = NameHash(extension);
    return std::find(hashes.begin(), hashes.end(), h) != hashes.end();
}

struct ProtocolEntry {
    std::string_view text;
    int protocol;
};
constexpr std::array<ProtocolEntry, 9> kProtocols = {{
    {"http=1", 1}, {"80/tcp=1", 1}, {"http-https=2", 2}, {"smtp=3", 3}, {"ftp=4", 4},
    {"telnet=5", 5}, {"realaudio=6", 6}, {"dns=7", 7}, {"110/tcp=8", 8}}};

constexpr std::array<std::string_view, kProtocolCount> kProtocolNames = {
    "Unknown", "web", "secureweb", "mail", "ftp", "telnet", "realaudio", "dns", "pop3"};

struct StatusEntry {
    int code;
    std::string_view name;
};
// HTTP's codes (RFC 9110 and the later 429 and 451), then the FTP replies that
// FTP logs write, where HTTP leaves the number free.
constexpr StatusEntry kStatusNames[] = {
    {100, "Continue (100)"}, {101, "Switching protocols (101)"},
    {201, "Created (201)"}, {202, "Accepted (202)"},
    {203, "Non-authoritative information (203)"}, {204, "No content (204)"},
    {205, "Reset content (205)"}, {206, "Partial content (206)"},
    {300, "Multiple choices (300)"}, {301, "Moved permanently (301)"}, {302, "Redirect (302)"},
    {303, "See other (303)"}, {305, "Use proxy (305)"},
    {307, "Temporary redirect (307)"}, {308, "Permanent redirect (308)"},
    {400, "Bad Request (400)"}, {401, "Auth Required (401)"},
    {402, "Payment required (402)"}, {403, "Forbidden (403)"},
    {404, "File Not Found (404)"}, {405, "Method not allowed (405)"},
    {406, "Not acceptable (406)"}, {407, "Proxy auth required (407)"},
    {408, "Request timeout (408)"}, {409, "Conflict (409)"}, {410, "Gone (410)"},
    {411, "Length required (411)"}, {412, "Precondition failed (412)"},
    {413, "Content too large (413)"}, {414, "URI too long (414)"},
    {415, "Unsupported media type (415)"}, {416, "Range not satisfiable (416)"},
    {417, "Expectation failed (417)"}, {421, "Misdirected request (421)"},
    {422, "Unprocessable content (422)"}, {426, "Upgrade required (426)"},
    {429, "Too many requests (429)"}, {451, "Unavailable for legal reasons (451)"},
    {500, "Internal Server Error (500)"}, {501, "Not Implemented (501)"},
    {502, "Bad Gateway (502)"}, {503, "Service unavailable (503)"},
    {504, "Gateway timeout (504)"}, {505, "HTTP version not supported (505)"},
    // FTP.
    {331, "Password Required (331)"}, {332, "Need account (332)"}, {350, "Action pending (350)"},
    {425, "Can't open connection (425)"}, {450, "File Unavailable (450)"},
    {452, "Action not taken (452)"}, {530, "Not logged in (530)"}, {532, "Need account (532)"},
    {550, "File unavailable (550)"}, {551, "Action aborted (551)"},
    {552, "Storage Exceeded (552)"}, {553, "Name not allowed (553)"}};

constexpr std::string_view kUndefinedStatus = "Incomplete/Undefined (0)";

// Above 304 or 206; the redirects 307 and 308 are not failures.
bool is_failure(int code) { return (code > 304 && code != 307 && code != 308) || code == 206; }

}  // namespace

bool is_page_extension(std::string_view extension) { return HashIn(extension, kPageHashes); }
bool is_download_extension(std::string_view extension) {
    return HashIn(extension, kDownloadHashes);
}

int proxy_protocol(std::string_view text) {
    if (text.empty()) return 0;
    for (const auto& e : kProtocols)
        if (e.text.find(text) != std::string_view::npos) return e.protocol;
    return 0;
}

std::string_view protocol_name(int protocol) {
    if (protocol < 0 || protocol >= kProtocolCount) return kProtocolNames[0];
    return kProtocolNames[static_cast<std::size_t>(protocol)];
}

std::string_view status_name(int status) {
    for (const auto& e : kStatusNames)
        if (e.code == status) return e.name;
    return kUndefinedStatus;
}

StatusInfo read_status(std::string_view status) {
    // A plain number (nearly every status) holds neither word: no search then.
    std::size_t digits = 0;
    while (digits < status.size() && digits < 6 && status[digits] >= '0' && status[digits] <= '9')
        ++digits;
    if (digits == status.size() && digits > 0) {
        int code = 0;
        for (char c : status) code = code * 10 + (c - '0');
        return {code, is_failure(code)};
    }
    if (status.find("OK") != std::string_view::npos) return {200, false};
    if (status.find("ERR") != std::string_view::npos) return {404, true};
    int code = 0;
    for (char c : status) {
        if (c < '0' || c > '9' || code > 99999) break;
        code = code * 10 + (c - '0');
    }
    return {code, is_failure(code)};
}

namespace {

// One look at every byte of a URL: where its query begins (the first '?' or
// '='; npos, or when `query` is false, not looked for), and whether a ':' comes
// before that.
struct UrlScan {
    std::size_t query = std::string_view::npos;
    bool colon = false;
};

UrlScan scan_url(std::string_view url, bool query) {
    const char* d = url.data();
    const std::size_t n = url.size();
    UrlScan scan;
    std::size_t i = 0;
#if defined(__SSE2__)
    // Sixteen bytes at a time: this runs for every hit.
    const __m128i question = _mm_set1_epi8('?'), equals = _mm_set1_epi8('='),
                  colon = _mm_set1_epi8(':');
    for (; i + 16 <= n; i += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
        const auto colons = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, colon)));
        const auto ends = query ? static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(
                                      _mm_cmpeq_epi8(x, question), _mm_cmpeq_epi8(x, equals))))
                                : 0u;
        if (ends != 0) {
            scan.query = i + static_cast<std::size_t>(std::countr_zero(ends));
            scan.colon = scan.colon || (colons & ((ends & (0u - ends)) - 1)) != 0;
            return scan;
        }
        scan.colon = scan.colon || colons != 0;
    }
#endif
    for (; i < n; ++i) {
        if (query && (d[i] == '?' || d[i] == '=')) {
            scan.query = i;
            return scan;
        }
        scan.colon = scan.colon || d[i] == ':';
    }
    return scan;
}

}  // namespace

std::string_view normalise_url(std::string_view url, bool usecgi, std::string& scratch) {
    if (url.starts_with("http://")) url.remove_prefix(7);
    const UrlScan scan = scan_url(url, !usecgi);
    if (scan.query != std::string_view::npos) url = url.substr(0, scan.query);
    if (!url.empty() && url.back() == ':') url.remove_suffix(1);
    const bool tilde = url.starts_with("/%7E") || url.starts_with("/%7e");
    // A colon inside the URL ("host:443" in proxy logs) is the only other change,
    // and rare: copy only then.
    if (!tilde && !scan.colon) return url;
    std::size_t colon = url.find(':');
    while (colon != std::string_view::npos && colon + 1 < url.size() && url[colon + 1] == '/')
        colon = url.find(':', colon + 1);
    if (!tilde && colon == std::string_view::npos) return url;

    scratch.clear();
    if (tilde) {
        scratch += "/~";
        url.remove_prefix(4);
    }
    scratch.append(url);
    for (std::size_t i = 0; i + 1 < scratch.size(); ++i)
        if (scratch[i] == ':' && scratch[i + 1] != '/') scratch[i] = '/';
    return scratch;
}

std::string_view url_extension(std::string_view url, bool usecgi) {
    if (usecgi) url = url.substr(0, url.find('?'));
    const std::size_t slash = url.find_last_of('/');
    const std::size_t dot = url.find_last_of('.');
    if (dot == std::string_view::npos) return {};
    if (slash != std::string_view::npos && dot < slash) return {};
    return url.substr(dot);
}

std::string_view url_directory(std::string_view url) {
    const std::size_t slash = url.find_last_of('/');
    if (slash == std::string_view::npos) return {};
    return url.substr(0, slash + 1);
}

std::string_view top_directory(std::string_view directory) {
    const std::size_t first = directory.find('/');
    if (first == std::string_view::npos) return {};
    const std::size_t second = directory.find('/', first + 1);
    if (second == std::string_view::npos) return {};
    const std::string_view top = directory.substr(0, second + 1);
    if (top.find('.') != std::string_view::npos) return {};
    return top;
}

std::string_view leading_folders(std::string_view url, int depth) {
    std::size_t end = url.find('/');
    if (end == std::string_view::npos) return "/";
    std::size_t last = end;
    for (int i = 0; i < depth; ++i) {
        const std::size_t next = url.find('/', last + 1);
        if (next == std::string_view::npos) break;
        last = next;
    }
    return last == end ? std::string_view("/") : url.substr(end, last - end + 1);
}

std::string_view referrer_site(std::string_view referrer) {
    std::size_t at = 0;
    for (int i = 0; i < 3; ++i) {
        at = referrer.find('/', i == 0 ? 0 : at + 1);
        if (at == std::string_view::npos) return referrer;
    }
    return referrer.substr(0, at);
}

std::string_view url_host(std::string_view url) {
    const std::size_t scheme = url.find("://");
    if (scheme != std::string_view::npos) url.remove_prefix(scheme + 3);
    return url.substr(0, first_of(url, "/:?"));
}

}  // namespace tallowick::engine
