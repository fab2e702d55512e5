// The remote-control client: connects to another copy's remote-control server,
// logs in, sends command lines and hands every line that comes back to the
// caller, so that one copy can drive another from its command line.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallowick::unattended {

struct RemoteSession {
    std::string host;                     // a dotted address or a host name
    std::uint16_t port = 911;
    std::string password;
    std::vector<std::string> commands;    // sent in order after login, then "logout"
    std::chrono::seconds silence{120};    // the longest wait for the server to say anything
                                          // (an hour while a run is in progress)
};

enum class SessionResult {
    ok,               // logged in, every command sent, the server said goodbye
    connect_failed,   // no connection (error says why)
    login_failed,     // "Login incorrect", or the server refused the client
    lost,             // the connection ended or fell silent before the end
};

// "host", "host:port" or "[v6-address]:port" (default_port when none is given);
// nullopt for a bad port or no host.
std::optional<RemoteSession> parse_remote_address(std::string_view text,
                                                  std::uint16_t default_port);

// Runs one session. Every line received goes to on_line (without its line end).
// After "proclog" the client waits for the run to end ("Report Completed." in a
// status line, or the server's refusal) before it sends the next command.
SessionResult run_remote_session(const RemoteSession& session,
                                 const std::function<void(std::string_view)>& on_line,
                                 std::string& error);

}  // namespace tallowick::unattended
