#include "platform/system.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>

namespace tallowick::platform {

std::tm local_time(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    return tm;
}

std::tm local_time_now() { return local_time(std::time(nullptr)); }

long utc_offset_seconds(std::time_t t) { return local_time(t).tm_gmtoff; }

std::uint64_t tick_count_ms() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::optional<std::time_t> file_mtime(const std::filesystem::path& path) {
    struct stat st{};
    if (stat(path.c_str(), &st) != 0) return std::nullopt;
    return st.st_mtime;
}

bool has_console() { return isatty(STDIN_FILENO) || isatty(STDOUT_FILENO); }

bool stderr_is_terminal() { return isatty(STDERR_FILENO); }

void message_box(std::string_view title, std::string_view text) {
    std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(title.size()), title.data(),
                 static_cast<int>(text.size()), text.data());
}

void beep() {
    if (stderr_is_terminal()) std::fputc('\a', stderr);
}

std::string system_error_text(int err) {
    char buf[256];
    // GNU strerror_r may return a static string instead of filling buf.
    const char* text = strerror_r(err, buf, sizeof buf);
    return text ? std::string(text) : std::string("unknown error");
}

std::string computer_name() {
    char buf[256] = {};
    if (gethostname(buf, sizeof buf - 1) != 0) return "localhost";
    return buf;
}

}  // namespace tallowick::platform
