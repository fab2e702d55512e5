// The hit record: one parsed log line, filled by every line parser and read by the
// filters and the engine. Text fields are views into the line the reader delivered,
// so a record is valid only until the next line is read. An absent item (not in the
// line, or written "-") is an empty view.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace tallowick::logs {

// What a line parser made of one line. Parsers never throw per line; the run counts.
enum class LineResult : std::int8_t {
    skip = -1,       // header, comment or empty line, or a log that is not analysed
    malformed = 0,   // counted as a bad line
    hit = 1,         // the record holds a usable hit
};

// A request date normalised to MM/DD/YYYY. It is held by value (ten characters) so
// that a hit never points at a buffer that the next line's normalisation rewrites.
// Sixteen bytes, aligned: copied whole, never a piece at a time.
class alignas(8) LogDate {
public:
    LogDate() = default;
    // month 1..12, day 0..99, year 0..9999 (the caller fixes two-digit years).
    LogDate(int year, int month, int day);

    bool empty() const { return text_[0] == '\0'; }
    explicit operator bool() const { return !empty(); }
    // "MM/DD/YYYY", or an empty view when no date was set.
    std::string_view view() const {
        return empty() ? std::string_view{} : std::string_view(text_.data(), text_.size());
    }
    int year() const { return year_; }
    int month() const { return month_; }
    int day() const { return day_; }

    bool operator==(const LogDate&) const = default;

private:
    std::array<char, 10> text_{};
    std::int16_t year_ = 0;
    std::int8_t month_ = 0;
    std::int8_t day_ = 0;
};

inline LogDate::LogDate(int year, int month, int day)
    : year_(static_cast<std::int16_t>(year)),
      month_(static_cast<std::int8_t>(month)),
      day_(static_cast<std::int8_t>(day)) {
    auto put2 = [this](std::size_t at, int v) {
        text_[at] = static_cast<char>('0' + (v / 10) % 10);
        text_[at + 1] = static_cast<char>('0' + v % 10);
    };
    put2(0, month);
    text_[2] = '/';
    put2(3, day);
    text_[5] = '/';
    put2(6, (year / 100) % 100);
    put2(8, year % 100);
}

// The hour of a hit's time text: "HH..." or "H:..." (IIS writes the hours
// before ten with one digit); -1 when the text does not begin with an hour.
inline int HourOfTime(std::string_view time) {
    auto digit = [&](std::size_t i) { return i < time.size() && time[i] >= '0' && time[i] <= '9'; };
    if (!digit(0)) return -1;
    if (time.size() >= 2 && time[1] == ':') return time[0] - '0';
    if (!digit(1)) return -1;
    const int h = (time[0] - '0') * 10 + (time[1] - '0');
    return h < 24 ? h : -1;
}

struct HitRecord {
    LogDate date;                  // always MM/DD/YYYY when set
    std::string_view time;         // as in the log, beginning HH:MM:SS (a zone may follow)
    std::string_view status;       // HTTP status or proxy result, as written
    std::string_view client;       // host name or address
    std::string_view url;
    std::string_view agent;
    std::string_view referrer;
    std::string_view user;         // authenticated user
    std::string_view server;       // virtual host, server name or address
    std::string_view method;
    std::string_view source;       // item for the source filter; custom format only
    std::string_view extra;        // custom format only
    // 64-bit although logs write 32-bit counts: downloads above 2 GiB exist.
    std::int64_t bytes = 0;        // sent to the client
    std::int64_t bytes_in = 0;     // received from the client, where the format has it
    std::int64_t time_taken = 0;   // processing time, where the format has it
    std::int32_t extra_value = 0;  // custom format only

    // Parsers call this before each line.
    void clear() { *this = HitRecord{}; }
};

}  // namespace tallowick::logs
