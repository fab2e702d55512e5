// The custom log format of the settings (usecustomformat): a separator character,
// a date layout, a time layout and the position of each item in the line. The
// layouts and item numbers are listed in docs/custom-format.md.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/settings.h"
#include "logs/field_text.h"
#include "logs/hit_record.h"
#include "logs/local_clock.h"

namespace tallowick::logs {

// Entries of the position table (custom_dataIndex i j: item i is field j, fields
// counted from 1; 0 or -1 for an item the line does not carry).
enum class CustomItem : std::uint8_t {
    date = 0, time = 1, status = 2, client = 3, url = 4, agent = 5, bytes = 6,
    referrer = 7, user = 8, server = 9, method = 10, bytes_in = 11, time_taken = 12,
    source = 13, extra = 14, extra_value = 15, request = 16,
    kCount
};

// custom_dateformat values.
enum class CustomDate : std::uint8_t {
    automatic = 0,     // numeric or month-name dates, order found as in IIS logs
    month_day_year = 1,
    day_month_year = 2,
    year_month_day = 3,
    day_monthname_year = 4,  // "10/Oct/2000", "10 Oct 2000"
    unix_seconds = 5,        // seconds since 1970, fraction allowed; gives the time too
    compact = 6,             // "20001010"
};

// custom_timeformat values.
enum class CustomTime : std::uint8_t {
    as_written = 0,   // "13:55:36" (anything may follow)
    twelve_hour = 1,  // "1:55:36 PM", "01:55 pm"
    compact = 2,      // "135536"
};

// Cuts and reads custom-format lines; owns the texts of computed times.
class CustomLineParser {
public:
    // ParseCustomLine's work: fields are cut at `format.separator` (0 or 32: runs
    // of spaces and tabs); a field that begins with a double quote runs to the
    // next one, quotes removed. Returns hit, or malformed when the line has no
    // date, the date or time does not read, or a quote is left open.
    LineResult parse(std::string_view line, HitRecord& hit, const CustomFormat& format,
                     bool day_first);

private:
    LocalClock clock_;
    detail::TimeText time_;
};

}  // namespace tallowick::logs
