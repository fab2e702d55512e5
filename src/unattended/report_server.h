// The built-in report server: answers HTTP requests with a few fixed pages (the
// start page, "/ver", "/logs") and the files of the current report under
// "/report/", so that a browser can look at the report without a web server.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tallowick::unattended {

// What the pages show. The host replaces it whenever the settings or the log
// list change; requests are answered on another thread, so they read a copy.
struct ReportSite {
    std::string main_page;               // the report's main page (full path)
    std::vector<std::string> logs;       // the log list
    std::vector<std::string> schedule;   // one line per schedule entry (none: no scheduler)
};

struct ReportServerOptions {
    std::string address;                 // empty: every local address
    std::uint16_t port = 800;            // 0: any free port (see ReportServer::port)
    unsigned idle_timeout_seconds = 30;  // a connection silent this long is closed
    unsigned max_connections = 128;
    unsigned max_connections_per_client = 16;
};

// The server runs on a thread of its own and serves many clients at once; a
// slow client only delays itself.
class ReportServer {
public:
    // Starts listening. Returns nullptr, with the reason in `error`, when the
    // address is not valid or the port cannot be bound.
    static std::unique_ptr<ReportServer> start(const ReportServerOptions& options,
                                               ReportSite site, std::string& error);
    ~ReportServer();
    ReportServer(const ReportServer&) = delete;
    ReportServer& operator=(const ReportServer&) = delete;

    void update(ReportSite site);
    std::uint16_t port() const;

    struct Impl;

private:
    explicit ReportServer(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace tallowick::unattended
