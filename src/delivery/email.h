// The e-mail notice: a short plain-text message sent over SMTP when a report has
// been delivered (and by notification rules). libcurl speaks the dialogue,
// checks every reply and dot-stuffs the body.
#pragma once

#include <string>
#include <string_view>

#include "base/settings.h"

namespace tallowick::delivery {

enum class MailResult : int {
    sent = 0,
    no_server = 1,        // the server name does not resolve
    connect_failed = 2,   // no connection, or the log-in failed
    refused = 3,          // the server refused the sender, a recipient or the message
};

// A recipient spec: an address, optionally after "mailto:", optionally followed
// by "," and a server name ("host" or "host:port"; blanks after the comma skipped).
struct Recipient {
    std::string address;
    std::string server;
};
Recipient parse_recipient(std::string_view spec);

// The server to send through: the `smtpserver` setting, else the recipient's server,
// else "mail." and the domain of the host name (host.example.org gives
// mail.example.org), else "localhost". Port 25 unless the name holds one.
std::string mail_server_for(const Recipient& recipient, const PostSettings& post,
                            std::string_view host_name);

// The sender address: the `smtpuser` setting when it is an address, else
// "tallowick@localhost".
std::string sender_address(const PostSettings& post);

// The subject of the notice after a delivered report.
inline constexpr std::string_view kPostProcessSubject = "Tallowick Post Process Notify";

// The whole message as sent: the headers, an empty line, then the body with
// every line ended by CR LF.
std::string mail_message(std::string_view recipient, std::string_view sender,
                         std::string_view body, std::string_view subject = kPostProcessSubject);

// email_send: sends `body` under `subject` to the recipient of `spec`. Shows the progress
// ("Connecting to %s", "Sending headers...", "Sending message to %s", "mail
// sent") and, in debug mode, each exchanged line as "SND:%s" / "REC:%s". A
// failure is shown as an error and returned.
MailResult email_send(std::string_view spec, std::string_view body, const PostSettings& post,
                      std::string_view subject = kPostProcessSubject);

}  // namespace tallowick::delivery
