#include "report/number_format.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace tallowick::report {

namespace {

constexpr double kKilo = 1024.0;
constexpr double kMega = 1048576.0;
constexpr double kGiga = 1073741824.0;

// Inserts a comma before every group of three digits of the integer part of a
// plain number text ("-1234567.5" -> "-1,234,567.5").
std::string group_thousands(std::string digits) {
    std::size_t start = (!digits.empty() && digits[0] == '-') ? 1 : 0;
    std::size_t end = digits.find('.');
    if (end == std::string::npos) end = digits.size();
    for (std::size_t pos = end; pos > start + 3; pos -= 3) digits.insert(pos - 3, 1, ',');
    return digits;
}

}  // namespace

std::string formatText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string out;
    if (needed > 0) {
        out.resize(static_cast<std::size_t>(needed));
        // vsnprintf writes the terminating zero into the string's own spare byte.
        std::vsnprintf(out.data(), out.size() + 1, format, args);
    }
    va_end(args);
    return out;
}

std::string formatCount(std::int64_t n) {
    return group_thousands(std::to_string(n));
}

std::string formatDecimal(double value, int decimals) {
    return group_thousands(formatText("%.*f", decimals, value));
}

std::string formatBytes(double bytes) {
    if (bytes < kKilo) return formatText("%lld", static_cast<long long>(bytes));
    if (bytes < kMega) return formatText("%.1fK", bytes / kKilo);
    if (bytes < kGiga) return formatText("%.1fM", bytes / kMega);
    return formatText("%.1fG", bytes / kGiga);
}

std::string formatDuration(double days) {
    if (!(days > 0)) days = 0;   // also catches NaN
    if (days > 2400000) days -= 0.5;
    double whole = std::floor(days);
    // Rounded rather than truncated: 90 seconds held as a fraction of a day is
    // 89.9999... seconds after the multiplication.
    long long seconds = std::llround((days - whole) * 86400.0);
    if (seconds >= 86400) {
        seconds -= 86400;
        whole += 1;
    }
    long long hours = seconds / 3600 % 24;
    long long minutes = seconds / 60 % 60;
    long long secs = seconds % 60;
    if (hours != 0 && days < 9999) {
        long long total_hours = hours + 24 * static_cast<long long>(whole);
        return formatText("%02lld:%02lld:%02lld", total_hours, minutes, secs);
    }
    if (days >= 9999) return formatText("%02lld:%02lld:%02lld", hours, minutes, secs);
    return formatText("%02lld:%02lld", minutes, secs);
}

std::string formatCost(double bytes, long dollar_thousandths) {
    return formatText("$%.2f", bytes / kMega * (static_cast<double>(dollar_thousandths) * 0.001));
}

std::string formatPercent(double percent) {
    return formatText("%6.1f%%", percent);
}

}  // namespace tallowick::report
