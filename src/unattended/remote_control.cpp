#include "unattended/remote_control.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <list>
#include <mutex>
#include <unordered_map>

#include "base/case_compare.h"
#include "base/status.h"
#include "base/unique_fd.h"
#include "platform/system.h"

extern char** environ;

namespace fs = std::filesystem;

namespace tallowick::unattended {

namespace {

using Clock = std::chrono::steady_clock;
namespace text = remote_text;

constexpr std::size_t kReadSize = 32767;
constexpr std::size_t kMaxOutput = 1024 * 1024;   // a client that stops reading is dropped
constexpr std::size_t kMaxAddresses = 1024;       // remembered wrong-password addresses
constexpr int kWrongPasswordsAllowed = 3;
constexpr std::size_t kMaxAcceptsPerEvent = 64;
constexpr auto kCloseDelay = std::chrono::milliseconds(400);

// The "?" list, lines ending in CR LF, with a final empty line.
constexpr std::string_view kControlCommands =
    "help        settings command list\r\n"
    "?           control command list\r\n"
    "ver         query version\r\n"
    "quitapp     quit application\r\n"
    "!           run [FILE]\r\n"
    "proclog     process log file\r\n"
    "stoplog     stop processing\r\n"
    "log X       add log X to process-list\r\n"
    "host        list host/peer ips\r\n"
    "setprogress set progress stat bar %%\r\n"
    "status      set progress stat bar %%, and show msg\r\n"
    "getconfig   get remote config\r\n"
    "showlogs    show all logs in memory\r\n"
    "addlog\tadd log to servers memory\r\n"
    "clearlog    clear memory of logs\r\n"
    "logout      exit session\r\n"
    "\r\n";

// Compares the whole line with the password in time that depends only on the
// password's length, so that timing tells nothing about how much matched.
bool password_matches(std::string_view line, std::string_view password) {
    unsigned diff = static_cast<unsigned>(line.size() ^ password.size());
    for (std::size_t i = 0; i < password.size(); ++i) {
        const unsigned char given = i < line.size() ? static_cast<unsigned char>(line[i]) : 0;
        diff |= given ^ static_cast<unsigned char>(password[i]);
    }
    return diff == 0;
}

// Log and protocol text never carries a line end into a line of its own.
std::string one_line(std::string_view in) {
    std::string out(in);
    for (char& c : out)
        if (c == '\r' || c == '\n') c = ' ';
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

std::string peer_text(const sockaddr_storage& addr) {
    char buf[INET6_ADDRSTRLEN] = {};
    if (addr.ss_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(addr).sin_addr, buf, sizeof buf);
    else if (addr.ss_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(addr).sin6_addr, buf, sizeof buf);
    return buf;
}

// Progress and errors of a run, on their way to the controlling client. They
// arrive on the run's thread; the event loop picks them up after a wake-up.
class Outbox : public StatusSink {
public:
    explicit Outbox(int wake_fd) : wake_fd_(wake_fd) {}

    void progress(int percent, std::string_view text, std::string_view) override {
        char head[32];
        std::snprintf(head, sizeof head, "status %d%% ", percent);
        std::lock_guard lock(mutex_);
        last_percent_ = percent;
        push_locked(head + one_line(text) + "\r\n");
    }
    void error(std::string_view text) override {
        // The host's journal keeps the error; the client sees it as a status line.
        std::fprintf(stderr, "Tallowick: %s\n", one_line(text).c_str());
        std::lock_guard lock(mutex_);
        push_locked("status " + std::to_string(last_percent_) + "% " + one_line(text) + "\r\n");
    }
    std::string take() {
        std::lock_guard lock(mutex_);
        return std::exchange(pending_, {});
    }

private:
    void push_locked(const std::string& line) {
        if (pending_.size() + line.size() > kMaxOutput) return;   // nobody reads: drop
        pending_ += line;
        const char byte = 1;
        [[maybe_unused]] auto n = ::write(wake_fd_, &byte, 1);   // a full pipe is awake anyway
    }

    int wake_fd_;
    std::mutex mutex_;
    std::string pending_;
    int last_percent_ = 0;
};

struct Connection {
    UniqueFd fd;
    std::string peer;
    std::string in, out;
    bool logged_in = false;
    bool closing = false;                 // no more input is handled
    Clock::time_point deadline;           // login, idle or delayed-close deadline
};

struct AddressRecord {
    int wrong = 0;
    Clock::time_point locked_until{};
};

}  // namespace

struct RemoteControlServer::Impl {
    RemoteControlOptions options;
    RemoteCommands& commands;
    UniqueFd listener;
    UniqueFd wake_read, wake_write;
    std::unique_ptr<Outbox> outbox;
    std::list<Connection> connections;
    Connection* controller = nullptr;     // the logged-in client
    std::unordered_map<std::string, AddressRecord> addresses;
    std::vector<pid_t> programs;          // started by "!", reaped as they end

    Impl(const RemoteControlOptions& o, RemoteCommands& c) : options(o), commands(c) {}
    ~Impl() {
        if (controller) set_remote_status_sink(nullptr);
    }

    // --- connections ---------------------------------------------------------

    static void send(Connection& c, std::string_view data) {
        if (c.out.size() + data.size() > kMaxOutput) {
            c.closing = true;
            c.deadline = Clock::now();
            return;
        }
        c.out.append(data);
    }

    static void flush(Connection& c) {
        while (!c.out.empty()) {
            const ssize_t n = ::send(c.fd.get(), c.out.data(), c.out.size(), MSG_NOSIGNAL);
            if (n > 0) {
                c.out.erase(0, static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
            c.out.clear();   // the peer is gone
            c.closing = true;
            c.deadline = Clock::now();
            return;
        }
    }

    static void close_later(Connection& c, std::chrono::milliseconds delay) {
        c.closing = true;
        c.deadline = Clock::now() + delay;
    }

    void release_control() {
        set_remote_status_sink(nullptr);
        controller = nullptr;
        outbox->take();
        ShowStatus("Remote client disconnected");
    }

    void close(std::list<Connection>::iterator it) {
        if (controller == &*it) release_control();
        ::shutdown(it->fd.get(), SHUT_RDWR);
        connections.erase(it);
    }

    // Answers a connection that is not taken and closes it at once.
    static void refuse(int fd, std::string_view line) {
        [[maybe_unused]] auto n = ::send(fd, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        ::shutdown(fd, SHUT_RDWR);
        ::close(fd);
    }

    bool locked_out(const std::string& peer) {
        auto it = addresses.find(peer);
        return it != addresses.end() && Clock::now() < it->second.locked_until;
    }

    void wrong_password(const std::string& peer) {
        if (addresses.size() >= kMaxAddresses && !addresses.contains(peer)) {
            // Forget the addresses that are not waiting out a lock.
            std::erase_if(addresses,
                          [](const auto& a) { return a.second.locked_until <= Clock::now(); });
            if (addresses.size() >= kMaxAddresses) addresses.clear();
        }
        AddressRecord& r = addresses[peer];
        if (++r.wrong >= kWrongPasswordsAllowed) {
            r.wrong = 0;
            r.locked_until = Clock::now() + options.lockout;
        }
    }

    void accept_all() {
        for (std::size_t i = 0; i < kMaxAcceptsPerEvent; ++i) {
            sockaddr_storage addr{};
            socklen_t len = sizeof addr;
            const int fd = ::accept4(listener.get(), reinterpret_cast<sockaddr*>(&addr), &len,
                                     SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) return;   // EAGAIN, or out of descriptors until some close
            const std::string peer = peer_text(addr);
            if (locked_out(peer)) {
                refuse(fd, text::kLockedOut);
                continue;
            }
            const auto pending = std::count_if(connections.begin(), connections.end(),
                                               [](const Connection& c) { return !c.logged_in; });
            if (controller || static_cast<std::size_t>(pending) >= kMaxPending) {
                refuse(fd, text::kBusyClient);
                continue;
            }
            Connection& c = connections.emplace_back();
            c.fd.reset(fd);
            c.peer = peer;
            c.deadline = Clock::now() + options.login_timeout;
            ShowStatus("Accepting " + peer + " ...");
            char welcome[160];
            std::snprintf(welcome, sizeof welcome, text::kWelcome.data(), peer.c_str());
            send(c, welcome);
            flush(c);
        }
    }

    void read_from(std::list<Connection>::iterator it) {
        Connection& c = *it;
        std::string block(kReadSize, '\0');
        const ssize_t n = ::recv(c.fd.get(), block.data(), block.size(), 0);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
        if (n <= 0) {
            close(it);
            return;
        }
        if (c.closing) return;   // after "Bye!" or a wrong password, input is ignored
        c.in.append(block.data(), static_cast<std::size_t>(n));
        if (c.logged_in) c.deadline = Clock::now() + options.idle_timeout;

        std::size_t start = 0;
        for (std::size_t end; !c.closing && (end = c.in.find('\n', start)) != std::string::npos;
             start = end + 1) {
            std::string_view line(c.in.data() + start, end - start);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            if (line.size() > kMaxLine) break;
            handle_line(c, line);
        }
        c.in.erase(0, std::min(start, c.in.size()));
        if (!c.closing && c.in.size() > kMaxLine) {
            send(c, text::kLineTooLong);
            close_later(c, std::chrono::milliseconds(0));
        }
        if (c.closing) c.in.clear();
        flush(c);
    }

    // --- the protocol ----------------------------------------------------------

    void handle_line(Connection& c, std::string_view line) {
        // A password (the login line, or a new one set remotely) is never echoed.
        char code[16];
        std::snprintf(code, sizeof code, "%x",
                      line.empty() ? 0u : static_cast<unsigned char>(line.back()));
        const bool secret = !c.logged_in || starts_with_ci(line, "remotelogin_pass");
        ShowStatus("SERVER REC: '" + (secret ? std::string("(password)") : one_line(line)) +
                   "' " + code);

        if (starts_with_ci(line, "logout")) {
            send(c, text::kBye);
            close_later(c, kCloseDelay);
            if (controller == &c) release_control();   // the next client may log in at once
            return;
        }
        if (!c.logged_in) {
            log_in(c, line);
            return;
        }
        handle_command(c, line);
    }

    void log_in(Connection& c, std::string_view line) {
        if (!password_matches(line, options.password)) {
            wrong_password(c.peer);
            send(c, text::kLoginIncorrect);
            close_later(c, kCloseDelay);
            return;
        }
        addresses.erase(c.peer);
        if (controller) {
            send(c, text::kBusyClient);
            close_later(c, std::chrono::milliseconds(0));
            return;
        }
        c.logged_in = true;
        c.deadline = Clock::now() + options.idle_timeout;
        controller = &c;
        outbox->take();
        set_remote_status_sink(outbox.get());
        send(c, text::kGranted);
        ShowStatus("Remote client " + c.peer + " logged in");
    }

    // The commands of a logged-in client, matched in this order by the start of
    // the line without regard to case; any other line is a settings line.
    void handle_command(Connection& c, std::string_view line) {
        using Handler = void (Impl::*)(Connection&, std::string_view);
        struct CommandRow {
            std::string_view word;
            Handler handler;
        };
        static constexpr CommandRow kCommands[] = {
            {"getconfig", &Impl::getconfig}, {"?", &Impl::command_list},
            {"help", &Impl::help},           {"ver", &Impl::version},
            {"clearlog", &Impl::clearlog},   {"proclog", &Impl::proclog},
            {"stoplog", &Impl::stoplog},     {"quitapp", &Impl::quitapp},
            {"setprogress", &Impl::setprogress}, {"showlogs", &Impl::showlogs},
            {"remote", &Impl::ignore},       {"host", &Impl::host},
            {"#Tal", &Impl::settings_stream}, {"!", &Impl::run_program},
            {"#", &Impl::ignore},
        };
        for (const CommandRow& row : kCommands) {
            if (starts_with_ci(line, row.word)) {
                (this->*row.handler)(c, line);
                return;
            }
        }
        if (!commands.apply_settings_line(line)) send(c, text::kBusyRun);
    }

    void ignore(Connection&, std::string_view) {}

    static void send_lines(Connection& c, std::string_view lines) {
        while (!lines.empty()) {
            const std::size_t end = lines.find('\n');
            std::string_view line = lines.substr(0, end);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            if (!line.empty()) {
                send(c, line);
                send(c, "\r\n");
            }
            if (end == std::string_view::npos) break;
            lines.remove_prefix(end + 1);
        }
    }

    void getconfig(Connection& c, std::string_view) {
        if (!commands.settings_steady()) return send(c, text::kBusyRun);
        send_lines(c, commands.settings_text());
    }
    void command_list(Connection& c, std::string_view) { send(c, kControlCommands); }
    void help(Connection& c, std::string_view) {
        std::string usage = commands.usage_text();
        std::string out;
        for (char ch : usage) {
            if (ch == '\n') out += '\r';
            out += ch;
        }
        send(c, out);
    }
    void version(Connection& c, std::string_view) { send(c, text::kVersion); }
    void clearlog(Connection& c, std::string_view) {
        if (!commands.clear_logs()) send(c, text::kBusyRun);
    }
    void proclog(Connection& c, std::string_view) {
        switch (commands.start_run()) {
            case RemoteCommands::RunStart::started: send(c, text::kProcessing); break;
            case RemoteCommands::RunStart::busy: send(c, text::kBusyRun); break;
            case RemoteCommands::RunStart::not_started: send(c, text::kNotProcessing); break;
        }
    }
    void stoplog(Connection& c, std::string_view) {
        commands.stop_run();
        send(c, text::kStopping);
    }
    void quitapp(Connection& c, std::string_view) {
        send(c, text::kQuit);
        commands.quit();
    }
    void setprogress(Connection&, std::string_view line) {
        constexpr std::string_view word = "setprogress";
        if (line.size() > word.size() && line[word.size()] == ' ')
            commands.set_progress(std::atoi(std::string(line.substr(word.size() + 1)).c_str()));
    }
    void showlogs(Connection& c, std::string_view) {
        if (!commands.settings_steady()) return send(c, text::kBusyRun);
        for (const std::string& log : commands.logs()) send(c, "addlog " + one_line(log) + "\r\n");
    }
    void host(Connection& c, std::string_view) {
        send(c, "Host is " + platform::computer_name() + "\r\nPeer is " + c.peer + "\r\n\r\n");
    }
    void settings_stream(Connection& c, std::string_view) {
        if (!commands.begin_settings_stream()) send(c, text::kBusyRun);
    }

    // "!FILE PARAMETERS": only programs inside the folder the settings name, run
    // directly (no shell), with no input and their output discarded.
    void run_program(Connection& c, std::string_view line) {
        if (options.program_folder.empty()) {
            send(c, text::kRunRefused);
            return;
        }
        std::vector<std::string> words;
        std::string_view rest = line.substr(1);
        while (!rest.empty()) {
            const std::size_t space = rest.find(' ');
            if (space != 0) words.emplace_back(rest.substr(0, space));
            if (space == std::string_view::npos) break;
            rest.remove_prefix(space + 1);
        }
        std::error_code ec;
        const fs::path folder = fs::canonical(options.program_folder, ec);
        fs::path program;
        if (!ec && !words.empty()) program = fs::canonical(folder / words.front(), ec);
        if (ec || words.empty() || program.string().rfind(folder.string() + "/", 0) != 0 ||
            !fs::is_regular_file(program, ec)) {
            send(c, text::kRunOutside);
            return;
        }
        words.front() = program.string();
        std::vector<char*> argv;
        for (auto& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        pid_t pid = 0;
        const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) {
            send(c, text::kRunFailed);
            return;
        }
        programs.push_back(pid);
        ShowStatus("Started " + program.string());
    }

    void reap_programs() {
        std::erase_if(programs, [](pid_t pid) {
            int status = 0;
            return ::waitpid(pid, &status, WNOHANG) != 0;
        });
    }
};

RemoteControlServer::RemoteControlServer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
RemoteControlServer::~RemoteControlServer() = default;

std::unique_ptr<RemoteControlServer> RemoteControlServer::start(const RemoteControlOptions& options,
                                                                RemoteCommands& commands,
                                                                std::string& error) {
    if (options.password.empty()) {
        error = "remote control needs a password (remotelogin_pass); not started";
        return nullptr;
    }
    sockaddr_storage addr{};
    socklen_t len = 0;
    if (auto* v4 = reinterpret_cast<sockaddr_in*>(&addr);
        inet_pton(AF_INET, options.address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(options.port);
        len = sizeof(sockaddr_in);
    } else if (auto* v6 = reinterpret_cast<sockaddr_in6*>(&addr);
               inet_pton(AF_INET6, options.address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(options.port);
        len = sizeof(sockaddr_in6);
    } else {
        error = "remote control: not an IP address: " + options.address;
        return nullptr;
    }

    auto impl = std::make_unique<Impl>(options, commands);
    impl->listener.reset(::socket(addr.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    const int on = 1;
    if (!impl->listener ||
        ::setsockopt(impl->listener.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(impl->listener.get(), reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        ::listen(impl->listener.get(), SOMAXCONN) != 0) {
        error = "remote control: cannot listen on " + options.address + ":" +
                std::to_string(options.port) + ": " + platform::system_error_text(errno);
        return nullptr;
    }
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_NONBLOCK | O_CLOEXEC) != 0) {
        error = "remote control: " + platform::system_error_text(errno);
        return nullptr;
    }
    impl->wake_read.reset(pipe_fds[0]);
    impl->wake_write.reset(pipe_fds[1]);
    impl->outbox = std::make_unique<Outbox>(impl->wake_write.get());
    return std::unique_ptr<RemoteControlServer>(new RemoteControlServer(std::move(impl)));
}

std::uint16_t RemoteControlServer::port() const {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    ::getsockname(impl_->listener.get(), reinterpret_cast<sockaddr*>(&addr), &len);
    return addr.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6&>(addr).sin6_port)
                                      : ntohs(reinterpret_cast<sockaddr_in&>(addr).sin_port);
}

void RemoteControlServer::poll_fds(std::vector<pollfd>& fds) const {
    fds.push_back({impl_->wake_read.get(), POLLIN, 0});
    fds.push_back({impl_->listener.get(), POLLIN, 0});
    for (const Connection& c : impl_->connections) {
        const short events = static_cast<short>(POLLIN | (c.out.empty() ? 0 : POLLOUT));
        fds.push_back({c.fd.get(), events, 0});
    }
}

void RemoteControlServer::dispatch(std::span<const pollfd> fds) {
    Impl& s = *impl_;
    std::vector<std::pair<int, short>> ready;
    for (const pollfd& p : fds)
        if (p.revents != 0) ready.emplace_back(p.fd, p.revents);

    for (auto [fd, revents] : ready) {
        if (fd == s.wake_read.get()) {
            char drain[256];
            while (::read(fd, drain, sizeof drain) > 0) {
            }
            std::string lines = s.outbox->take();
            if (s.controller && !lines.empty()) {
                Impl::send(*s.controller, lines);
                // A client that follows a run's progress is not idle.
                if (!s.controller->closing)
                    s.controller->deadline = Clock::now() + s.options.idle_timeout;
            }
        } else if (fd == s.listener.get()) {
            s.accept_all();
        } else {
            auto it = std::find_if(s.connections.begin(), s.connections.end(),
                                   [fd](const Connection& c) { return c.fd.get() == fd; });
            if (it == s.connections.end()) continue;
            if (revents & (POLLIN | POLLHUP | POLLERR)) {
                s.read_from(it);
                continue;   // it may be gone
            }
            if (revents & POLLOUT) Impl::flush(*it);
        }
    }

    // Deadlines: a delayed close, a login that never came, an idle client.
    const auto now = Clock::now();
    for (auto it = s.connections.begin(); it != s.connections.end();) {
        auto next = std::next(it);
        Impl::flush(*it);
        if (now >= it->deadline) {
            if (!it->closing) {
                Impl::send(*it, text::kTimedOut);
                Impl::flush(*it);
            }
            s.close(it);
        }
        it = next;
    }
    s.reap_programs();
}

int RemoteControlServer::next_timeout_ms(int limit) const {
    auto earliest = Clock::now() + std::chrono::milliseconds(limit);
    for (const Connection& c : impl_->connections) earliest = std::min(earliest, c.deadline);
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(earliest - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(ms, 0, limit));
}

bool RemoteControlServer::output_flushed() const {
    return std::all_of(impl_->connections.begin(), impl_->connections.end(),
                       [](const Connection& c) { return c.out.empty(); });
}

}  // namespace tallowick::unattended
