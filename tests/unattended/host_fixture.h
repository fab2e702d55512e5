// The real executable as a host on free loopback ports, and a line client that
// talks to it as a terminal would.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/loopback_server.h"
#include "support/test_support.h"

namespace tallowick::test {

inline constexpr const char* kPassword = "Sekret-42";

struct Host {
    TempDir dir;                     // the report folder is dir/report
    std::uint16_t port = 0;          // remote control
    std::uint16_t http_port = 0;     // report server, when started
    std::unique_ptr<LoopbackServer> server;

    std::filesystem::path report() const { return dir.path() / "report"; }
    // Resident memory and open descriptors of the host process.
    long rss_kb() const;
    long open_fds() const;
};

// Starts `tallowick -server` (with the password, on a free port, reports into
// dir/report) plus extra options; with_http adds "-http" on a second port.
std::unique_ptr<Host> start_host(const std::vector<std::string>& extra, bool with_http = false);

// A blocking TCP client with timeouts.
class LineClient {
public:
    explicit LineClient(std::uint16_t port);
    ~LineClient();
    LineClient(const LineClient&) = delete;
    LineClient& operator=(const LineClient&) = delete;

    bool connected() const { return fd_ >= 0; }
    // Sends raw bytes; false once the server has closed.
    bool send(const std::string& data);
    // Reads until `text` has arrived (true), or the server closes or the time is up.
    bool read_until(const std::string& text,
                    std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
    // Reads until the server closes the connection (true) or the time is up.
    bool wait_closed(std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
    // Logs in: reads the prompt, sends the password, expects "Granted!".
    bool log_in(const std::string& password = kPassword);
    // Everything received so far.
    const std::string& received() const { return received_; }
    void forget() { received_.clear(); }

private:
    bool read_some(std::chrono::milliseconds timeout);
    int fd_ = -1;
    bool closed_ = false;
    std::string received_;
};

}  // namespace tallowick::test
