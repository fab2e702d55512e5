#include "base/julian_date.h"

#include <cmath>
#include <ctime>

namespace tallowick {

double JulianDate(int year, int month, int day, int hour, int minute, int second) {
    if (year < 1900) year += 1900;
    int y = year;
    int m = month;
    if (m <= 2) {   // January and February count as months 13 and 14 of the year before
        y -= 1;
        m += 12;
    }
    // Gregorian correction from 15 October 1582 on, compared on the date as given.
    const bool gregorian = year > 1582 || (year == 1582 && (month > 10 || (month == 10 && day >= 15)));
    const int b = gregorian ? y / 400 - y / 100 + 2 : 0;
    const double date = std::floor(365.25 * (y + 4716)) + std::floor(30.6001 * (m + 1)) + day + b - 1524.5;
    return date + (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
}

int JulianWeekday(double julian) {
    const long long n = static_cast<long long>(julian + 2);
    return static_cast<int>(((n % 7) + 7) % 7);
}

double JulianMidnight(double julian) {
    return std::floor(julian - 0.5) + 0.5;
}

CalendarTime CalendarFromJulian(double julian) {
    // Whole seconds first, so that a time a hair before midnight rounds into the next day.
    const double shifted = julian + 0.5;
    double z = std::floor(shifted);
    long long secs = std::llround((shifted - z) * 86400.0);
    if (secs >= 86400) {
        secs -= 86400;
        z += 1;
    }
    const long long zi = static_cast<long long>(z);
    long long a = zi;
    if (zi >= 2299161) {   // 15 October 1582: the Gregorian calendar starts
        const long long alpha = static_cast<long long>(std::floor((zi - 1867216.25) / 36524.25));
        a = zi + 1 + alpha - alpha / 4;
    }
    const long long b = a + 1524;
    const long long c = static_cast<long long>(std::floor((b - 122.1) / 365.25));
    const long long d = static_cast<long long>(std::floor(365.25 * c));
    const long long e = static_cast<long long>(std::floor((b - d) / 30.6001));

    CalendarTime t;
    t.day = static_cast<int>(b - d - static_cast<long long>(std::floor(30.6001 * e)));
    t.month = static_cast<int>(e < 14 ? e - 1 : e - 13);
    t.year = static_cast<int>(t.month > 2 ? c - 4716 : c - 4715);
    t.hour = static_cast<int>(secs / 3600);
    t.minute = static_cast<int>(secs / 60 % 60);
    t.second = static_cast<int>(secs % 60);
    return t;
}

namespace {

std::tm local_now() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return tm;
}

}  // namespace

double JulianToday() {
    const std::tm tm = local_now();
    return JulianDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

double JulianNow() {
    const std::tm tm = local_now();
    return JulianDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
}

}  // namespace tallowick
