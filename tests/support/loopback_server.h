// Real servers on 127.0.0.1 for tests: a child process in its own process group,
// started on a free port and stopped (with everything it started) when the
// fixture goes out of scope, also when the test fails.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace tallowick::test {

// A TCP port on 127.0.0.1 that was free a moment ago.
std::uint16_t free_port();

// Whether 127.0.0.1:port accepts a connection within `timeout`.
bool wait_for_port(std::uint16_t port, std::chrono::milliseconds timeout);

class LoopbackServer {
public:
    static constexpr std::chrono::milliseconds kStartTimeout{15000};

    // Runs program with args; the server is expected to listen on `port`. Its
    // output goes to a file that output() returns, for failure messages.
    LoopbackServer(const std::filesystem::path& program, const std::vector<std::string>& args,
                   std::uint16_t port);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    // True once the port accepted a connection (checked by the constructor).
    bool ready() const { return ready_; }
    std::uint16_t port() const { return port_; }
    // The server's process (and process group), for tests that pause it.
    pid_t pid() const { return pid_; }
    std::string output() const;

private:
    TempDir scratch_;
    pid_t pid_ = -1;
    std::uint16_t port_ = 0;
    bool ready_ = false;
};

// /usr/bin/python3 (not whatever python3 the PATH finds).
std::filesystem::path system_python();

// python's http.server serving `folder` on a free port.
std::unique_ptr<LoopbackServer> start_http_server(const std::filesystem::path& folder);

// An FTP server (pyftpdlib) serving `folder` to `user`/`password` and to
// anonymous users, on a free port.
std::unique_ptr<LoopbackServer> start_ftp_server(const std::filesystem::path& folder,
                                                 const std::string& user,
                                                 const std::string& password);

// The same server where `user` may also upload and make folders (anonymous
// users still only read); every command goes to output(). With `throttled`,
// uploads are taken at 64 KB a second.
std::unique_ptr<LoopbackServer> start_upload_ftp_server(const std::filesystem::path& folder,
                                                        const std::string& user,
                                                        const std::string& password,
                                                        bool throttled = false);

// An SMTP server (aiosmtpd) saving each message as N.eml (and its envelope as
// N.env) in `folder`; recipients beginning with "refused" get 550.
std::unique_ptr<LoopbackServer> start_smtp_server(const std::filesystem::path& folder);

}  // namespace tallowick::test
