#include "base/julian_date.h"

#include <gtest/gtest.h>

#include <ctime>

namespace tallowick {
namespace {

// Every day from 1900 to 2100 survives the trip to a Julian date and back, days
// follow each other one apart, and the weekday agrees with the C library's.
TEST(JulianDate, RoundTripsEveryDayAndAgreesWithTheCLibraryWeekday) {
    double previous = JulianDate(1900, 1, 1) - 1;
    for (int year = 1900; year <= 2100; ++year) {
        for (int month = 1; month <= 12; ++month) {
            std::tm tm{};
            tm.tm_year = year - 1900;
            tm.tm_mon = month - 1;
            for (int day = 1; day <= 31; ++day) {
                tm.tm_mday = day;
                tm.tm_hour = 12;   // noon: no leap-second or zone question
                std::tm probe = tm;
                const std::time_t t = timegm(&probe);
                if (probe.tm_mon != month - 1) break;   // the month has no such day

                const double jd = JulianDate(year, month, day);
                ASSERT_EQ(jd, previous + 1) << year << '-' << month << '-' << day;
                previous = jd;
                ASSERT_EQ(JulianWeekday(jd), probe.tm_wday) << year << '-' << month << '-' << day;
                const CalendarTime back = CalendarFromJulian(jd);
                ASSERT_EQ(back, (CalendarTime{year, month, day, 0, 0, 0})) << year << '-' << month << '-' << day;
                ASSERT_NE(t, static_cast<std::time_t>(-1));
            }
        }
    }
}

TEST(JulianDate, KnownInstantsAndYearsBelow1900) {
    // The astronomers' epoch J2000.0 is 1 January 2000, 12:00, Julian date 2451545.0.
    EXPECT_DOUBLE_EQ(JulianDate(2000, 1, 1, 12, 0, 0), 2451545.0);
    // Midnight ends in .5.
    EXPECT_DOUBLE_EQ(JulianDate(2000, 1, 1), 2451544.5);
    // A year below 1900 counts from 1900, as struct tm does.
    EXPECT_DOUBLE_EQ(JulianDate(99, 12, 31), JulianDate(1999, 12, 31));
    EXPECT_DOUBLE_EQ(JulianDate(124, 2, 29), JulianDate(2024, 2, 29));
}

TEST(JulianDate, TimeOfDayRoundTripsToTheSecond) {
    const CalendarTime cases[] = {
        {2024, 2, 29, 0, 0, 1},  {2024, 2, 29, 23, 59, 59}, {1999, 12, 31, 23, 59, 59},
        {2000, 1, 1, 12, 0, 0},  {2100, 12, 31, 6, 30, 15}, {1900, 1, 1, 0, 0, 0},
        {2038, 1, 19, 3, 14, 8},
    };
    for (const CalendarTime& c : cases) {
        const double jd = JulianDate(c.year, c.month, c.day, c.hour, c.minute, c.second);
        EXPECT_EQ(CalendarFromJulian(jd), c) << c.year << '-' << c.month << '-' << c.day;
        EXPECT_DOUBLE_EQ(JulianMidnight(jd), JulianDate(c.year, c.month, c.day));
    }
    // Half a second before midnight rounds into the next day, not to second 60.
    const double almost = JulianDate(2024, 12, 31) + 1 - 0.4 / 86400;
    EXPECT_EQ(CalendarFromJulian(almost), (CalendarTime{2025, 1, 1, 0, 0, 0}));
}

}  // namespace
}  // namespace tallowick
