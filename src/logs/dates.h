// Dates and date ranges: reading date texts and date words, the date modes of the
// `date` keyword, and the short date form of the settings.
#pragma once

#include <string>
#include <string_view>

#include "base/settings.h"

namespace tallowick::logs {

enum class DateOrderKind { day_first, month_first, year_first };

// DateOrder: the order of the user's locale short date (day, month or year first).
DateOrderKind DateOrder();

// Writes a Julian date in the short date form: DD/MM/YYYY, MM/DD/YYYY or YYYY/MM/DD.
std::string short_date_text(double julian);

// The default range: 1 January 1990 to tomorrow, mode "all", texts written.
void set_default_date_range(DateSettings& dates);

// Recomputes start and end: from the mode (writing both texts) when it is not 0,
// otherwise from the two texts.
void recompute_date_range(DateSettings& dates);

}  // namespace tallowick::logs
