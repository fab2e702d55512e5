// libFuzzer target: date texts and date words in every date order. Whatever the
// text, ReadDate gives a day at midnight that converts back to a calendar date.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/julian_date.h"
#include "logs/dates.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tallowick;
    static const bool clock_fixed = [] {
        logs::set_today_clock([] { return JulianDate(2024, 2, 29); });
        return true;
    }();
    (void)clock_fixed;
    if (size == 0) return 0;
    const auto order = static_cast<logs::DateOrderKind>(data[0] % 3);
    logs::set_date_order_override(order);
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    const double day = logs::ReadDate(text);
    if (std::fabs(day - JulianMidnight(day)) > 1e-9) std::abort();
    const CalendarTime t = CalendarFromJulian(day);
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31) std::abort();
    // The short form of a day reads back as the same day.
    if (logs::ReadDate(logs::short_date_text(day)) != day) std::abort();
    return 0;
}
