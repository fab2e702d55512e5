#include "unattended/report_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string_view>

#include "base/status.h"
#include "base/unique_fd.h"

namespace fs = std::filesystem;

namespace tallowick::unattended {

namespace {

// The server's fixed texts, in one place.
namespace text {
constexpr std::string_view kServer = "TallowickPro (3.5)  (Linux)";
constexpr std::string_view kVersion = "3.61";
constexpr std::string_view kPageHead =
    "<HTML><HEAD>   <TITLE>Tallowick</TITLE></HEAD><BODY TEXT=0 BGCOLOR=white><P><BR>\r\n";
// The start page refreshes itself: "/tlwk.cgi" answers with the same page.
constexpr std::string_view kConfigHead =
    "<HTML><HEAD>   <TITLE>Tallowick</TITLE>"
    "<META HTTP-EQUIV=\"Refresh\" CONTENT=\"30; URL=tlwk.cgi\"></HEAD>"
    "<BODY TEXT=0 BGCOLOR=white><P><BR>\r\n";
constexpr std::string_view kConfigHeading = "<H2>Tallowick Config</H2><HR>\r\n";
constexpr std::string_view kVersionHeading = "<H3>Version information</H3><HR><BR>";
constexpr std::string_view kLogsHeading = "<H3>Logs</H3><HR><BR>";
constexpr std::string_view kNotFound = "<H3>Error 404, file not found</H3><HR><BR>";
constexpr std::string_view kPageFoot = "</BODY></HTML>\r\n";
}  // namespace text

struct ContentType {
    std::string_view extension;
    std::string_view type;
};
constexpr ContentType kContentTypes[] = {
    {".html", "text/html"},  {".htm", "text/html"},      {".gif", "image/gif"},
    {".png", "image/png"},   {".jpg", "image/jpeg"},     {".jpeg", "image/jpeg"},
    {".bmp", "image/bmp"},   {".txt", "text/plain"},     {".csv", "text/plain"},
    {".rtf", "application/rtf"}, {".wrl", "model/vrml"}, {".css", "text/css"},
};

std::string_view content_type_of(const fs::path& file) {
    std::string ext = file.extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const auto& row : kContentTypes)
        if (row.extension == ext) return row.type;
    return "application/octet-stream";
}

bool starts_with(std::string_view text, std::string_view word) {
    return text.substr(0, word.size()) == word;
}

std::string html_escaped(std::string_view in) {
    std::string out;
    out.reserve(in.size());
    for (char c : in) {
        switch (c) {
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '&': out += "&amp;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string http_date(std::time_t t) {
    std::tm tm{};
    gmtime_r(&t, &tm);
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[tm.tm_wday],
                  tm.tm_mday, kMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min,
                  tm.tm_sec);
    return buf;
}

// The file a "/report/..." path names, only when it lies inside the report
// folder once every link is followed. Dot segments are refused before the file
// system is asked at all, so nothing outside the folder is ever opened.
std::optional<fs::path> report_file(const ReportSite& site, std::string_view rest) {
    const fs::path main(site.main_page);
    if (rest.empty()) return main;
    std::string_view segments = rest;
    while (!segments.empty()) {
        const std::size_t slash = segments.find('/');
        const std::string_view segment = segments.substr(0, slash);
        if (segment == "." || segment == ".." || segment.find('\0') != std::string_view::npos)
            return std::nullopt;
        if (slash == std::string_view::npos) break;
        segments.remove_prefix(slash + 1);
    }
    std::error_code ec;
    const fs::path folder = fs::canonical(main.parent_path().empty() ? fs::path(".")
                                                                     : main.parent_path(), ec);
    if (ec) return std::nullopt;
    const fs::path file = fs::canonical(folder / fs::path(std::string(rest)), ec);
    if (ec) return std::nullopt;
    const std::string inside = folder.string() == "/" ? "/" : folder.string() + "/";
    if (!starts_with(file.string(), inside)) return std::nullopt;
    return file;
}

// libmicrohttpd's handles, released on every path out.
struct DaemonStop {
    void operator()(MHD_Daemon* d) const { MHD_stop_daemon(d); }
};
struct ResponseFree {
    void operator()(MHD_Response* r) const { MHD_destroy_response(r); }
};
using ResponsePtr = std::unique_ptr<MHD_Response, ResponseFree>;

ResponsePtr text_response(std::string body) {
    ResponsePtr r(MHD_create_response_from_buffer(body.size(), body.data(),
                                                  MHD_RESPMEM_MUST_COPY));
    if (r) {
        MHD_add_response_header(r.get(), MHD_HTTP_HEADER_SERVER, text::kServer.data());
        MHD_add_response_header(r.get(), MHD_HTTP_HEADER_CONTENT_TYPE, "text/html");
    }
    return r;
}

MHD_Result send(MHD_Connection* connection, unsigned status, ResponsePtr response) {
    if (!response) return MHD_NO;
    return MHD_queue_response(connection, status, response.get());
}

std::string config_page(const ReportSite& site) {
    std::string page(text::kConfigHead);
    page += text::kConfigHeading;
    page += "<P>Tallowick Version ";
    page += text::kVersion;
    page += " (Linux)</P>\r\n<P><A HREF=\"/report/\">The report</A> (";
    page += html_escaped(site.main_page);
    page += ")</P>\r\n<H3>Logs</H3>\r\n";
    if (site.logs.empty()) page += "<P>No logs in the list.</P>\r\n";
    for (const auto& log : site.logs) page += html_escaped(log) + "<BR>\r\n";
    if (!site.schedule.empty()) {
        page += "<H3>Schedule</H3>\r\n";
        for (const auto& entry : site.schedule) page += html_escaped(entry) + "<BR>\r\n";
    }
    page += text::kPageFoot;
    return page;
}

std::string logs_page(const ReportSite& site) {
    std::string page(text::kPageHead);
    page += text::kLogsHeading;
    int number = 0;
    for (const auto& log : site.logs)
        page += "<B>" + std::to_string(number++) + ".</B> " + html_escaped(log) + " <BR>\n";
    page += text::kPageFoot;
    return page;
}

MHD_Result not_found(MHD_Connection* connection, std::string_view path) {
    std::string body(text::kNotFound);
    body += html_escaped(path);
    return send(connection, MHD_HTTP_NOT_FOUND, text_response(std::move(body)));
}

MHD_Result serve_file(MHD_Connection* connection, const fs::path& file, std::string_view path) {
    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    struct stat st{};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0)
        return not_found(connection, path);
    ResponsePtr r(MHD_create_response_from_fd64(static_cast<std::uint64_t>(st.st_size), fd.get()));
    if (!r) return MHD_NO;
    fd.release();   // the response owns it now
    MHD_add_response_header(r.get(), MHD_HTTP_HEADER_SERVER, text::kServer.data());
    MHD_add_response_header(r.get(), MHD_HTTP_HEADER_LAST_MODIFIED,
                            http_date(st.st_mtime).c_str());
    MHD_add_response_header(r.get(), MHD_HTTP_HEADER_CONTENT_TYPE,
                            std::string(content_type_of(file)).c_str());
    return send(connection, MHD_HTTP_OK, std::move(r));
}

}  // namespace

struct ReportServer::Impl {
    std::mutex mutex;
    ReportSite site;
    std::unique_ptr<MHD_Daemon, DaemonStop> daemon;

    ReportSite snapshot() {
        std::lock_guard lock(mutex);
        return site;
    }

    MHD_Result answer(MHD_Connection* connection, std::string_view method, std::string_view url) {
        if (method != MHD_HTTP_METHOD_GET && method != MHD_HTTP_METHOD_HEAD)
            return send(connection, MHD_HTTP_METHOD_NOT_ALLOWED, text_response({}));
        ShowStatus("HTTPD REC: '" + std::string(method) + " " + std::string(url) + "'");
        const ReportSite current = snapshot();
        if (url == "/" || starts_with(url, "/index.html") || starts_with(url, "/tlwk.cgi"))
            return send(connection, MHD_HTTP_OK, text_response(config_page(current)));
        if (starts_with(url, "/ver")) {
            std::string page(text::kPageHead);
            page += text::kVersionHeading;
            page += std::string(text::kVersion) + "<BR>" + std::string(text::kPageFoot);
            return send(connection, MHD_HTTP_OK, text_response(std::move(page)));
        }
        if (starts_with(url, "/logs"))
            return send(connection, MHD_HTTP_OK, text_response(logs_page(current)));
        if (url == "/report" || starts_with(url, "/report/")) {
            std::string_view rest = url.substr(std::min<std::size_t>(url.size(), 8));
            if (auto file = report_file(current, rest)) return serve_file(connection, *file, url);
        }
        return not_found(connection, url);
    }

    static MHD_Result on_request(void* self, MHD_Connection* connection, const char* url,
                                 const char* method, const char*, const char*,
                                 std::size_t* upload_size, void** request_state) {
        // Bodies are not wanted: answer on the first call, which comes before any.
        (void)upload_size;
        (void)request_state;
        return static_cast<Impl*>(self)->answer(connection, method, url);
    }
};

ReportServer::ReportServer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
ReportServer::~ReportServer() = default;

std::unique_ptr<ReportServer> ReportServer::start(const ReportServerOptions& options,
                                                  ReportSite site, std::string& error) {
    auto impl = std::make_unique<Impl>();
    impl->site = std::move(site);

    sockaddr_storage storage{};
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL;
    if (options.address.empty()) {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
        v4->sin_family = AF_INET;
        v4->sin_addr.s_addr = htonl(INADDR_ANY);
        v4->sin_port = htons(options.port);
    } else if (auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
               inet_pton(AF_INET, options.address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(options.port);
    } else if (auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
               inet_pton(AF_INET6, options.address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(options.port);
        flags |= MHD_USE_IPv6;
    } else {
        error = "not an IP address: " + options.address;
        return nullptr;
    }

    impl->daemon.reset(MHD_start_daemon(
        flags, options.port, nullptr, nullptr, &Impl::on_request, impl.get(),
        MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr*>(&storage),
        MHD_OPTION_CONNECTION_TIMEOUT, options.idle_timeout_seconds,
        MHD_OPTION_CONNECTION_LIMIT, options.max_connections,
        MHD_OPTION_PER_IP_CONNECTION_LIMIT, options.max_connections_per_client,
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<std::size_t>(32 * 1024),
        MHD_OPTION_END));
    if (!impl->daemon) {
        error = "cannot listen on " + (options.address.empty() ? "*" : options.address) + ":" +
                std::to_string(options.port);
        return nullptr;
    }
    return std::unique_ptr<ReportServer>(new ReportServer(std::move(impl)));
}

void ReportServer::update(ReportSite site) {
    std::lock_guard lock(impl_->mutex);
    impl_->site = std::move(site);
}

std::uint16_t ReportServer::port() const {
    const MHD_DaemonInfo* info = MHD_get_daemon_info(impl_->daemon.get(), MHD_DAEMON_INFO_BIND_PORT);
    return info ? info->port : 0;
}

}  // namespace tallowick::unattended
