#include "logs/local_clock.h"

#include <ctime>

namespace tallowick::logs {

bool LocalClock::stamp(std::int64_t seconds, HitRecord& hit) {
    constexpr std::int64_t kLast = 253402300799;  // 9999-12-31 23:59:59 UTC
    if (seconds < 0 || seconds > kLast) return false;
    if (seconds < hour_start_ || seconds >= hour_end_) {
        const std::time_t t = static_cast<std::time_t>(seconds);
        std::tm tm{};
        if (!localtime_r(&t, &tm) || tm.tm_year + 1900 > 9999) return false;
        year_ = tm.tm_year + 1900;
        month_ = tm.tm_mon + 1;
        day_ = tm.tm_mday;
        hour_ = tm.tm_hour;
        hour_start_ = seconds - tm.tm_min * 60 - tm.tm_sec;
        hour_end_ = hour_start_ + 3600;
    }
    const auto into_hour = static_cast<int>(seconds - hour_start_);
    hit.date = LogDate(year_, month_, day_);
    hit.time = time_.set(hour_, into_hour / 60, into_hour % 60);
    return true;
}

}  // namespace tallowick::logs
