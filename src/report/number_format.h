// Number texts of the report pages: counts with thousands separators, byte
// amounts in K/M/G, durations, money and percent cells. The same texts appear in
// HTML, RTF and comma-delimited reports, so they carry no markup.
#pragma once

#include <cstdint>
#include <string>

namespace tallowick::report {

// printf into a std::string of whatever length the result needs.
std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Decimal digits with a comma before every group of three from the right:
// 999 -> "999", 1000 -> "1,000", -1234567 -> "-1,234,567".
std::string formatCount(std::int64_t n);

// A fixed-point number with `decimals` decimals and thousands separators in the
// integer part: (1234567.891, 2) -> "1,234,567.89".
std::string formatDecimal(double value, int decimals);

// Below 1,024 the whole number ("1023"); then one decimal and a unit:
// "1.0K", "1.0M", "1.0G" (powers of 1,024).
std::string formatBytes(double bytes);

// A duration given in days: "MM:SS" when under an hour, "HH:MM:SS" with the hours
// counting whole days too; a calendar day number (above 2,400,000) or a value of
// 9999 days or more gives the time of day. Negative values count as 0.
std::string formatDuration(double days);

// "$%.2f" of bytes in megabytes times the cost per megabyte, which is held in
// thousandths of a dollar (the "dollar" setting).
std::string formatCost(double bytes, long dollar_thousandths);

// The percent cell text "%6.1f%%": width 6, one decimal, then "%".
std::string formatPercent(double percent);

}  // namespace tallowick::report
