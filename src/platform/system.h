// Small pieces of the operating system that the program needs: local time, the
// monotonic tick count, file times, the terminal, message boxes and beeps.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tallowick::platform {

// Broken-down local time (tm_year from 1900, tm_mon 0..11) for a time_t.
std::tm local_time(std::time_t t);
std::tm local_time_now();
// Seconds east of UTC of the local time zone at time t.
long utc_offset_seconds(std::time_t t);

// Milliseconds of a monotonic clock; never goes backwards.
std::uint64_t tick_count_ms();

// Last-modification time of a file, if it exists.
std::optional<std::time_t> file_mtime(const std::filesystem::path& path);

// True when standard input or standard output is a terminal (a console window).
bool has_console();
bool stderr_is_terminal();

// A message for the user that would be a dialog on a desktop: goes to standard error.
void message_box(std::string_view title, std::string_view text);
// Writes BEL to standard error, only when it is a terminal.
void beep();

// The system's text for an errno value.
std::string system_error_text(int err);

// The computer's host name.
std::string computer_name();

}  // namespace tallowick::platform
