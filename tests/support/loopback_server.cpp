#include "support/loopback_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

extern char** environ;

namespace tallowick::test {

namespace {

// A socket descriptor closed on every path out.
class Socket {
public:
    Socket() : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {}
    ~Socket() {
        if (fd_ >= 0) ::close(fd_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

}  // namespace

std::uint16_t free_port() {
    Socket s;
    sockaddr_in addr = loopback(0);
    if (::bind(s.fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        throw std::runtime_error("cannot bind a loopback port");
    socklen_t len = sizeof addr;
    ::getsockname(s.fd(), reinterpret_cast<sockaddr*>(&addr), &len);
    return ntohs(addr.sin_port);
}

bool wait_for_port(std::uint16_t port, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    do {
        Socket s;
        sockaddr_in addr = loopback(port);
        if (::connect(s.fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

LoopbackServer::LoopbackServer(const std::filesystem::path& program,
                               const std::vector<std::string>& args, std::uint16_t port)
    : port_(port) {
    std::string log = (scratch_ / "server.log").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    // Its own process group, so that stopping it reaches anything it started.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);

    std::vector<std::string> store{program.string()};
    store.insert(store.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : store) argv.push_back(a.data());
    argv.push_back(nullptr);
    int rc = posix_spawn(&pid_, argv[0], &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        pid_ = -1;
        return;
    }
    auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;   // it died before listening; output() tells why
            return;
        }
        if (wait_for_port(port_, std::chrono::milliseconds(100))) {
            ready_ = true;
            return;
        }
    }
}

LoopbackServer::~LoopbackServer() {
    if (pid_ <= 0) return;
    ::kill(-pid_, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(-pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
}

std::string LoopbackServer::output() const { return read_file(scratch_ / "server.log"); }

std::filesystem::path system_python() { return "/usr/bin/python3"; }

std::unique_ptr<LoopbackServer> start_http_server(const std::filesystem::path& folder) {
    std::uint16_t port = free_port();
    return std::make_unique<LoopbackServer>(
        system_python(),
        std::vector<std::string>{"-m", "http.server", "--bind", "127.0.0.1", "--directory",
                                 folder.string(), std::to_string(port)},
        port);
}

std::unique_ptr<LoopbackServer> start_ftp_server(const std::filesystem::path& folder,
                                                 const std::string& user,
                                                 const std::string& password) {
    std::uint16_t port = free_port();
    return std::make_unique<LoopbackServer>(
        system_python(),
        std::vector<std::string>{(source_dir() / "tests/support/ftp_server.py").string(),
                                 folder.string(), std::to_string(port), user, password},
        port);
}

std::unique_ptr<LoopbackServer> start_upload_ftp_server(const std::filesystem::path& folder,
                                                        const std::string& user,
                                                        const std::string& password,
                                                        bool throttled) {
    std::uint16_t port = free_port();
    return std::make_unique<LoopbackServer>(
        system_python(),
        std::vector<std::string>{(source_dir() / "tests/support/ftp_server.py").string(),
                                 folder.string(), std::to_string(port), user, password,
                                 throttled ? "slow-upload" : "upload"},
        port);
}

std::unique_ptr<LoopbackServer> start_smtp_server(const std::filesystem::path& folder) {
    std::uint16_t port = free_port();
    return std::make_unique<LoopbackServer>(
        system_python(),
        std::vector<std::string>{(source_dir() / "tests/support/smtp_server.py").string(),
                                 folder.string(), std::to_string(port)},
        port);
}

}  // namespace tallowick::test
