// Julian dates: the one time value of the program. A point in time is a double
// holding the Julian day number of its calendar date at midnight (which ends in .5)
// plus the time of day as a fraction of 86400 seconds. The engine's hit times, the
// settings' date range, the scheduler and the history database all use it.
#pragma once

namespace tallowick {

// A calendar date and time of day, as the inverse conversion gives it.
struct CalendarTime {
    int year = 0;
    int month = 0;      // 1..12
    int day = 0;        // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    bool operator==(const CalendarTime&) const = default;
};

// The Julian date of a calendar date and time. A year below 1900 has 1900 added
// (it counts from 1900, as struct tm does). Dates before 15 October 1582 are in the
// Julian calendar. Out-of-range months or days are not checked: they run on into
// the following days, as the formula makes them.
double JulianDate(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

// The weekday of a Julian date: 0 Sunday .. 6 Saturday.
int JulianWeekday(double julian);

// The midnight that begins the day of a Julian date (a value ending in .5).
double JulianMidnight(double julian);

// The calendar date and time of a Julian date, seconds rounded to the nearest.
CalendarTime CalendarFromJulian(double julian);

// Today's date at local midnight, from the system clock.
double JulianToday();

// The current local time as a Julian date.
double JulianNow();

}  // namespace tallowick
