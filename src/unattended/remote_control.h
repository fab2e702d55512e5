// The remote-control server: another copy of the program, or a person with a
// terminal, logs in over TCP with a password and then sends command lines
// ("proclog", "getconfig", "log X", settings lines). Plain text lines ending in
// CR LF. One object owns the listening socket, its connections and their
// buffers; the host's event loop polls its descriptors and calls dispatch().
#pragma once

#include <poll.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tallowick::unattended {

struct RemoteControlOptions {
    std::string address = "127.0.0.1";   // where to listen
    std::uint16_t port = 911;             // 0: any free port (see RemoteControlServer::port)
    std::string password;                 // required: without one the server does not start
    std::chrono::seconds login_timeout{30};    // to log in after connecting
    std::chrono::seconds idle_timeout{300};    // a logged-in client that sends nothing
    std::chrono::seconds lockout{10};          // after three wrong passwords from one address
    std::string program_folder;           // "!" runs programs under it; empty: "!" is refused
};

// What a logged-in client may do to the program. The host implements it on the
// settings record, the log list and the run job.
class RemoteCommands {
public:
    enum class RunStart { started, busy, not_started };

    virtual ~RemoteCommands() = default;
    // The settings in settings-file form ("getconfig").
    virtual std::string settings_text() = 0;
    virtual std::vector<std::string> logs() = 0;
    // False while a run may replace the settings under the reader's feet (a
    // scheduled run puts the settings it kept aside back at its end).
    virtual bool settings_steady() = 0;
    // The three below change the settings or the log list; they return false,
    // changing nothing, while a run is in progress.
    virtual bool clear_logs() = 0;
    virtual bool begin_settings_stream() = 0;    // "#Tal...": empties the list settings
    virtual bool apply_settings_line(std::string_view line) = 0;
    virtual RunStart start_run() = 0;
    virtual void stop_run() = 0;
    virtual void quit() = 0;
    virtual void set_progress(int percent) = 0;
    virtual std::string usage_text() = 0;
};

// The protocol's fixed lines, for the server and the client alike.
namespace remote_text {
inline constexpr std::string_view kWelcome = "Welcome %s to Tallowick 3.1 [Linux] \r\nLogin:";
inline constexpr std::string_view kGranted = "Granted!\r\n";
inline constexpr std::string_view kLoginIncorrect = "Login incorrect\r\n";
inline constexpr std::string_view kBye = "Bye!\r\n";
inline constexpr std::string_view kProcessing = "Processing...\r\n";
inline constexpr std::string_view kStopping = "Stopping...\r\n";
inline constexpr std::string_view kQuit = "Quit...\r\n";
inline constexpr std::string_view kVersion = "Tallowick Version 3.61 (Linux)\r\n\r\n";
inline constexpr std::string_view kBusyClient = "Sorry, the server is busy with another client\r\n";
inline constexpr std::string_view kLockedOut = "Too many wrong passwords, try again later\r\n";
inline constexpr std::string_view kLineTooLong = "Line too long, closing\r\n";
inline constexpr std::string_view kTimedOut = "Timed out, closing\r\n";
inline constexpr std::string_view kBusyRun = "Busy processing, command ignored\r\n";
inline constexpr std::string_view kNotProcessing = "Not processing\r\n";
inline constexpr std::string_view kRunRefused = "Sorry, running programs is not allowed\r\n";
inline constexpr std::string_view kRunOutside = "Sorry, that program is not in the allowed folder\r\n";
inline constexpr std::string_view kRunFailed = "Sorry, the program could not be started\r\n";
inline constexpr std::string_view kReportCompleted = "Report Completed.";
}  // namespace remote_text

class RemoteControlServer {
public:
    // Longest line a client may send; a longer one closes its connection.
    static constexpr std::size_t kMaxLine = 64 * 1024;
    // Connections that have not logged in yet, at most.
    static constexpr std::size_t kMaxPending = 8;

    // Binds and listens. Returns nullptr, with the reason in `error`, when no
    // password is set or the address cannot be bound.
    static std::unique_ptr<RemoteControlServer> start(const RemoteControlOptions& options,
                                                      RemoteCommands& commands,
                                                      std::string& error);
    ~RemoteControlServer();
    RemoteControlServer(const RemoteControlServer&) = delete;
    RemoteControlServer& operator=(const RemoteControlServer&) = delete;

    std::uint16_t port() const;
    // Appends the descriptors to poll (listening socket, connections, wake-up).
    void poll_fds(std::vector<pollfd>& fds) const;
    // Handles what poll() reported for the descriptors poll_fds() added, then
    // closes connections whose time is up.
    void dispatch(std::span<const pollfd> fds);
    // Milliseconds until the next connection deadline (at most `limit`).
    int next_timeout_ms(int limit) const;
    // True when no connection has output waiting.
    bool output_flushed() const;

    struct Impl;

private:
    explicit RemoteControlServer(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace tallowick::unattended
