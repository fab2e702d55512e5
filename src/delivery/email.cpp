#include "delivery/email.h"

#include <curl/curl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <ctime>

#include "base/status.h"
#include "delivery/curl_easy.h"
#include "platform/system.h"

namespace tallowick::delivery {

namespace {

constexpr std::string_view kDefaultSender = "tallowick@localhost";
// Exchanged lines shorter than this go to the debug output.
constexpr std::size_t kLoggedLine = 100;

bool starts_with_ci(std::string_view text, std::string_view word) {
    if (text.size() < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(text[i])) !=
            std::toupper(static_cast<unsigned char>(word[i])))
            return false;
    return true;
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// The mail form of a date ("Wed, 09 Dec 2026 06:35:00 +0100"), whatever the locale.
std::string mail_date(std::time_t now) {
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::tm tm = platform::local_time(now);
    const long offset = platform::utc_offset_seconds(now) / 60;
    const long magnitude = offset < 0 ? -offset : offset;
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                  kDays[tm.tm_wday], tm.tm_mday, kMonths[tm.tm_mon], tm.tm_year + 1900,
                  tm.tm_hour, tm.tm_min, tm.tm_sec, offset < 0 ? '-' : '+', magnitude / 60,
                  magnitude % 60);
    return text;
}

// Each message gets an identifier of its own: mail systems drop a second
// message that repeats one they have seen.
std::string message_id(std::time_t now) {
    static std::atomic<unsigned> counter{0};
    std::string host = platform::computer_name();
    if (host.empty()) host = "localhost";
    return "<" + std::to_string(static_cast<long long>(now)) + "." +
           std::to_string(static_cast<long>(::getpid())) + "." + std::to_string(++counter) +
           ".tallowick@" + host + ">";
}

struct MessageReader {
    std::string_view rest;
};

std::size_t read_message(char* buffer, std::size_t size, std::size_t count, void* data) {
    auto* reader = static_cast<MessageReader*>(data);
    const std::size_t n = std::min(size * count, reader->rest.size());
    std::copy_n(reader->rest.data(), n, buffer);
    reader->rest.remove_prefix(n);
    return n;
}

struct Dialogue {
    std::string recipient;
};

// Mirrors the dialogue into the status line and the debug output.
int on_exchange(CURL*, curl_infotype type, char* data, std::size_t size, void* user) {
    if (type != CURLINFO_HEADER_OUT && type != CURLINFO_HEADER_IN) return 0;
    const auto* dialogue = static_cast<const Dialogue*>(user);
    std::string_view text(data, size);
    if (type == CURLINFO_HEADER_OUT) {
        if (starts_with_ci(text, "MAIL FROM")) ShowStatus("Sending headers...");
        if (starts_with_ci(text, "DATA")) ShowStatus("Sending message to " + dialogue->recipient);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    // AUTH lines carry the password.
    if (text.size() < kLoggedLine && !starts_with_ci(text, "AUTH") && DebugText())
        DebugText((type == CURLINFO_HEADER_OUT ? "SND:" : "REC:") + std::string(text));
    return 0;
}

}  // namespace

Recipient parse_recipient(std::string_view spec) {
    spec = trimmed(spec);
    if (starts_with_ci(spec, "mailto:")) spec.remove_prefix(7);
    Recipient r;
    const std::size_t comma = spec.find(',');
    r.address = std::string(trimmed(spec.substr(0, comma)));
    if (comma != std::string_view::npos) r.server = std::string(trimmed(spec.substr(comma + 1)));
    return r;
}

std::string mail_server_for(const Recipient& recipient, const PostSettings& post,
                            std::string_view host_name) {
    if (!trimmed(post.smtpserver).empty()) return std::string(trimmed(post.smtpserver));
    if (!recipient.server.empty()) return recipient.server;
    const std::size_t dot = host_name.find('.');
    if (dot != std::string_view::npos && dot + 1 < host_name.size())
        return "mail" + std::string(host_name.substr(dot));
    return "localhost";
}

std::string sender_address(const PostSettings& post) {
    if (post.smtpuser.find('@') != std::string::npos) return post.smtpuser;
    return std::string(kDefaultSender);
}

std::string mail_message(std::string_view recipient, std::string_view sender,
                         std::string_view body, std::string_view subject) {
    const std::time_t now = std::time(nullptr);
    std::string m;
    m += "To: " + std::string(recipient) + "\r\n";
    m += "FROM: Tallowick Notify <" + std::string(sender) + ">\r\n";
    m += "SUBJECT: " + std::string(subject) + "\r\n";
    m += "DATE: " + mail_date(now) + "\r\n";
    m += "Message-ID: " + message_id(now) + "\r\n";
    m += "\r\n";
    // Bodies hold CR LF (from the settings) or plain LF (the default text).
    for (std::size_t i = 0; i < body.size(); ++i) {
        const char c = body[i];
        if (c == '\r') continue;
        if (c == '\n') m += "\r\n";
        else m += c;
    }
    if (m.size() < 2 || m.compare(m.size() - 2, 2, "\r\n") != 0) m += "\r\n";
    return m;
}

MailResult email_send(std::string_view spec, std::string_view body, const PostSettings& post,
                      std::string_view subject) {
    const Recipient recipient = parse_recipient(spec);
    const std::string server = mail_server_for(recipient, post, platform::computer_name());
    const std::string sender = sender_address(post);
    const std::string message = mail_message(recipient.address, sender, body, subject);

    CurlEasy easy;
    CURL* c = easy.get();
    if (!c) {
        ShowError("Cannot allocate socket");
        return MailResult::no_server;
    }
    const std::string url = "smtp://" + server;
    const std::string from = "<" + sender + ">";
    const std::string to = "<" + recipient.address + ">";
    curl_slist* recipients = curl_slist_append(nullptr, to.c_str());
    const std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> recipients_owner(
        recipients, &curl_slist_free_all);
    MessageReader reader{message};
    Dialogue dialogue{recipient.address};
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_MAIL_FROM, from.c_str());
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT, recipients);
    curl_easy_setopt(c, CURLOPT_READFUNCTION, &read_message);
    curl_easy_setopt(c, CURLOPT_READDATA, &reader);
    curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(c, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_TRY));
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 20L);
    curl_easy_setopt(c, CURLOPT_TIMEOUT, 120L);
    curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, &on_exchange);
    curl_easy_setopt(c, CURLOPT_DEBUGDATA, &dialogue);
    curl_easy_setopt(c, CURLOPT_VERBOSE, 1L);
    if (!post.smtpuser.empty()) {
        curl_easy_setopt(c, CURLOPT_USERNAME, post.smtpuser.c_str());
        curl_easy_setopt(c, CURLOPT_PASSWORD, post.smtppassword.c_str());
    }

    ShowStatus("Connecting to " + server);
    const int rc = easy.perform();
    switch (rc) {
        case CURLE_OK:
            ShowStatus("mail sent");
            return MailResult::sent;
        case CURLE_COULDNT_RESOLVE_HOST:
            ShowError(server + " server not found");
            return MailResult::no_server;
        case CURLE_COULDNT_CONNECT:
        case CURLE_OPERATION_TIMEDOUT:
        case CURLE_LOGIN_DENIED:
        case CURLE_URL_MALFORMAT:
            ShowError("failed to connect to " + server + " -- " + easy.error_text());
            return MailResult::connect_failed;
        default:
            ShowError("mail to " + recipient.address + " refused by " + server + " -- " +
                      easy.error_text());
            return MailResult::refused;
    }
}

}  // namespace tallowick::delivery
