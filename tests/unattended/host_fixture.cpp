#include "host_fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>

namespace tallowick::test {

namespace fs = std::filesystem;

long Host::rss_kb() const {
    std::ifstream status("/proc/" + std::to_string(server->pid()) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

long Host::open_fds() const {
    long n = 0;
    for ([[maybe_unused]] auto& e :
         fs::directory_iterator("/proc/" + std::to_string(server->pid()) + "/fd"))
        ++n;
    return n;
}

std::unique_ptr<Host> start_host(const std::vector<std::string>& extra, bool with_http) {
    auto host = std::make_unique<Host>();
    fs::create_directories(host->report());
    host->port = free_port();
    std::vector<std::string> args{"-server",
                                  "-remotelogin_pass", kPassword,
                                  "-remotelogin_port", std::to_string(host->port),
                                  "-o", (host->report() / "index.html").string()};
    if (with_http) {
        host->http_port = free_port();
        args.insert(args.end(), {"-http", "-http_port", std::to_string(host->http_port),
                                 "-http_addr", "127.0.0.1"});
    }
    args.insert(args.end(), extra.begin(), extra.end());
    host->server = std::make_unique<LoopbackServer>(tallowick_binary(), args, host->port);
    if (with_http && host->server->ready())
        wait_for_port(host->http_port, std::chrono::milliseconds(5000));
    return host;
}

LineClient::LineClient(std::uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

LineClient::~LineClient() {
    if (fd_ >= 0) ::close(fd_);
}

bool LineClient::send(const std::string& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = ::send(fd_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

bool LineClient::read_some(std::chrono::milliseconds timeout) {
    if (closed_) return false;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return false;
    char buf[4096];
    const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) {
        closed_ = true;
        return false;
    }
    received_.append(buf, static_cast<std::size_t>(n));
    return true;
}

bool LineClient::read_until(const std::string& text, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (received_.find(text) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !read_some(left)) return received_.find(text) != std::string::npos;
    }
    return true;
}

bool LineClient::wait_closed(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!closed_) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        read_some(left);
    }
    return true;
}

bool LineClient::log_in(const std::string& password) {
    return read_until("Login:") && send(password + "\r\n") && read_until("Granted!\r\n");
}

}  // namespace tallowick::test
