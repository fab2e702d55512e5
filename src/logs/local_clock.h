// Turns Unix timestamps into the hit record's local date and time, for logs that
// write seconds since 1970 (Squid, custom formats).
#pragma once

#include <cstdint>

#include "logs/field_text.h"
#include "logs/hit_record.h"

namespace tallowick::logs {

class LocalClock {
public:
    // Sets hit.date and hit.time (a view into this clock, valid until the next
    // call) from `seconds` in the local time zone. False for a time before 1970
    // or after 9999.
    bool stamp(std::int64_t seconds, HitRecord& hit);

private:
    // localtime_r looks the zone up on every call; hits arrive in time order, so
    // the broken-down local hour is kept and only minutes and seconds computed
    // until the hour changes (zone changes fall on local hour boundaries).
    std::int64_t hour_start_ = 0, hour_end_ = 0;
    int year_ = 0, month_ = 0, day_ = 0, hour_ = 0;
    detail::TimeText time_;
};

}  // namespace tallowick::logs
