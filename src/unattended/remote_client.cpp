#include "unattended/remote_client.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>

#include "base/case_compare.h"
#include "base/status.h"
#include "base/unique_fd.h"
#include "platform/system.h"
#include "unattended/remote_control.h"

namespace tallowick::unattended {

namespace {

namespace text = remote_text;

constexpr std::chrono::seconds kRunSilence{3600};

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.back() == '\r' || s.back() == '\n')) s.remove_suffix(1);
    return s;
}

UniqueFd connect_to(const RemoteSession& session, std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(session.port);
    if (int rc = ::getaddrinfo(session.host.c_str(), port.c_str(), &hints, &found); rc != 0) {
        error = gai_strerror(rc);
        return {};
    }
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> list(found, &::freeaddrinfo);
    for (addrinfo* a = found; a; a = a->ai_next) {
        UniqueFd fd(::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol));
        if (!fd) continue;
        if (::connect(fd.get(), a->ai_addr, a->ai_addrlen) == 0) return fd;
        error = platform::system_error_text(errno);
    }
    if (error.empty()) error = "no address";
    return {};
}

bool send_line(int fd, std::string_view line) {
    std::string data(line);
    data += "\r\n";
    std::string_view rest = data;
    while (!rest.empty()) {
        const ssize_t n = ::send(fd, rest.data(), rest.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        rest.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// The client's side of one conversation.
class Session {
public:
    Session(const RemoteSession& s, const std::function<void(std::string_view)>& on_line, int fd)
        : s_(s), on_line_(on_line), fd_(fd) {}

    SessionResult run() {
        std::string buffer;
        char block[32767];
        while (!done_) {
            pollfd p{fd_, POLLIN, 0};
            // A run's progress may pause for long on a large log.
            const auto silence = waiting_for_run_ ? kRunSilence : s_.silence;
            const int ready = ::poll(&p, 1, static_cast<int>(silence.count() * 1000));
            if (ready < 0 && errno == EINTR) continue;
            if (ready <= 0) return SessionResult::lost;
            const ssize_t n = ::recv(fd_, block, sizeof block, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            buffer.append(block, static_cast<std::size_t>(n));
            std::size_t start = 0;
            for (std::size_t end; !done_ && (end = buffer.find('\n', start)) != std::string::npos;
                 start = end + 1)
                handle(trimmed(std::string_view(buffer).substr(start, end - start)));
            buffer.erase(0, std::min(start, buffer.size()));
            // The prompt has no line end of its own.
            if (starts_with_ci(buffer, "Login:")) {
                handle(buffer);
                buffer.clear();
            }
        }
        if (result_) return *result_;
        return said_bye_ ? SessionResult::ok : SessionResult::lost;
    }

private:
    void handle(std::string_view line) {
        on_line_(line);
        if (starts_with_ci(line, "Login:")) {
            if (!send_line(fd_, s_.password)) finish(SessionResult::lost);
        } else if (starts_with_ci(line, "Granted")) {
            ShowStatus("Connecting....");
            send_next();
        } else if (starts_with_ci(line, "Login incorrect")) {
            ShowError("password is incorrect for login\r\n");
            finish(SessionResult::login_failed);
        } else if (line == trimmed(text::kBusyClient) || line == trimmed(text::kLockedOut)) {
            finish(SessionResult::login_failed);
        } else if (starts_with_ci(line, "Bye")) {
            said_bye_ = true;
        } else if (waiting_for_run_ && run_ended(line)) {
            waiting_for_run_ = false;
            send_next();
        }
    }

    static bool run_ended(std::string_view line) {
        return (starts_with_ci(line, "status") &&
                line.find(text::kReportCompleted) != std::string_view::npos) ||
               line == trimmed(text::kBusyRun) || line == trimmed(text::kNotProcessing);
    }

    // Sends commands until one has to be waited for; "logout" after the last.
    void send_next() {
        while (next_ < s_.commands.size()) {
            const std::string& command = s_.commands[next_++];
            if (!send_line(fd_, command)) return finish(SessionResult::lost);
            if (starts_with_ci(command, "proclog")) {
                waiting_for_run_ = true;
                return;
            }
            if (starts_with_ci(command, "quitapp") || starts_with_ci(command, "logout")) {
                said_bye_ = true;   // the server closes the connection itself
                return;
            }
        }
        if (!send_line(fd_, "logout")) finish(SessionResult::lost);
    }

    void finish(SessionResult r) {
        result_ = r;
        done_ = true;
    }

    const RemoteSession& s_;
    const std::function<void(std::string_view)>& on_line_;
    int fd_;
    std::size_t next_ = 0;
    bool waiting_for_run_ = false;
    bool said_bye_ = false;
    bool done_ = false;
    std::optional<SessionResult> result_;
};

}  // namespace

std::optional<RemoteSession> parse_remote_address(std::string_view text,
                                                  std::uint16_t default_port) {
    RemoteSession s;
    s.port = default_port;
    std::string_view host = text, port;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        host = text.substr(1, close - 1);
        if (close + 1 < text.size()) {
            if (text[close + 1] != ':') return std::nullopt;
            port = text.substr(close + 2);
        }
    } else if (const std::size_t colon = text.rfind(':');
               colon != std::string_view::npos && text.find(':') == colon) {
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
    }
    if (host.empty()) return std::nullopt;
    s.host.assign(host);
    if (!port.empty() || text.ends_with(':')) {
        unsigned value = 0;
        auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
        if (ec != std::errc() || end != port.data() + port.size() || value == 0 || value > 65535)
            return std::nullopt;
        s.port = static_cast<std::uint16_t>(value);
    }
    return s;
}

SessionResult run_remote_session(const RemoteSession& session,
                                 const std::function<void(std::string_view)>& on_line,
                                 std::string& error) {
    UniqueFd fd = connect_to(session, error);
    if (!fd) {
        ShowError("Sorry, connection failed\n" + error);
        return SessionResult::connect_failed;
    }
    Session conversation(session, on_line, fd.get());
    const SessionResult result = conversation.run();
    ShowStatus("Disconnected...");
    if (result == SessionResult::lost && error.empty()) error = "the connection ended early";
    return result;
}

}  // namespace tallowick::unattended
