#include "app/console_status.h"

#include <cstdio>

#include "platform/system.h"

namespace tallowick::app {

ConsoleStatusSink::ConsoleStatusSink(bool live) : live_(live) {}

ConsoleStatusSink::ConsoleStatusSink()
    : live_(platform::stderr_is_terminal() && !process_mode().quiet_given) {}

void ConsoleStatusSink::progress(int percent, std::string_view text, std::string_view time_left) {
    if (!live_ || text.empty()) return;
    // "\r" returns to the line start, "\033[K" clears what a longer line left behind.
    std::fprintf(stderr, "\r%3d%% %.*s%.*s\033[K", percent, static_cast<int>(text.size()),
                 text.data(), static_cast<int>(time_left.size()), time_left.data());
    std::fflush(stderr);
    drawn_ = true;
}

void ConsoleStatusSink::error(std::string_view) {
    // An error printed on stderr would otherwise share the terminal line with the
    // progress line.
    progress_done();
}

void ConsoleStatusSink::progress_done() {
    if (!drawn_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    drawn_ = false;
}

}  // namespace tallowick::app
