// Dates and date ranges: reading date texts and date words, the date modes of the
// `date` keyword, and the short date form of the settings.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "base/settings.h"

namespace tallowick::logs {

enum class DateOrderKind { day_first, month_first, year_first };

// DateOrder: the order of the user's locale short date (day, month or year first).
// Read once from the LC_TIME date format of the environment's locale, then kept.
DateOrderKind DateOrder();

// The order a strftime-style date format gives: its first conversion letter "d"
// or "e" means day first, "Y", "y", "F", "G", "g" or "C" year first, anything
// else month first.
DateOrderKind date_order_from_format(std::string_view format);

// Replaces the locale's order (tests, or a user who forces one); nullopt goes
// back to the locale.
void set_date_order_override(std::optional<DateOrderKind> order);

// The clock that date words and modes are resolved against. It returns today's
// Julian date at midnight. Passing an empty function restores the system clock;
// the previous clock is returned so that a test can put it back.
using TodayClock = std::function<double()>;
TodayClock set_today_clock(TodayClock clock);
// Today at midnight, from the installed clock.
double Today();

// A start and an end day, both Julian dates at midnight.
struct DateRange {
    double start = 0;
    double end = 0;
    bool operator==(const DateRange&) const = default;
};

// ReadDate: a date text ("03/04/2000" and "12/99" in the date order; whatever
// the order, "2000-04-03" (ISO 8601, a four-digit year first) and "03/Apr/2000"
// or "Apr 03 2000" (a month name)) or a date word ("today", "prevmonth", "begin", ...) as a Julian date at
// midnight. Any text that is neither gives today.
double ReadDate(std::string_view text);

// Only the date-text half of ReadDate: nullopt when the text is not a valid date.
std::optional<double> read_date_text(std::string_view text);

// Only the date-word half of ReadDate: nullopt when the text is not a date word.
// Words are compared whole, without regard to ASCII case.
std::optional<double> read_date_word(std::string_view word);

// RangeForMode: the start and end of a date mode (kDateAll .. kDatePrevYear);
// any other mode, kDateExplicit included, gives today to today.
DateRange RangeForMode(int mode);

// The short form as the user reads it: "DD/MM/YYYY", "MM/DD/YYYY" or "YYYY/MM/DD".
std::string short_date_form();

// Writes a Julian date in the short date form: DD/MM/YYYY, MM/DD/YYYY or YYYY/MM/DD.
std::string short_date_text(double julian);

// The default range: 1 January 1990 to tomorrow, mode "all", texts written.
void set_default_date_range(DateSettings& dates);

// Recomputes start and end: from the mode (writing both texts) when it is not 0,
// otherwise from the two texts.
void recompute_date_range(DateSettings& dates);

}  // namespace tallowick::logs
