#include "logs/dates.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/julian_date.h"

namespace tallowick::logs {
namespace {

struct Ymd {
    int y, m, d;
};

double J(Ymd d) { return JulianDate(d.y, d.m, d.d); }

std::string show(double jd) {
    const CalendarTime t = CalendarFromJulian(jd);
    return std::to_string(t.year) + "-" + std::to_string(t.month) + "-" + std::to_string(t.day);
}

// Fixes "today" and the locale's date order for one test, and puts both back.
class FixedDay {
public:
    FixedDay(Ymd today, DateOrderKind order) {
        previous_ = set_today_clock([jd = J(today)] { return jd; });
        set_date_order_override(order);
    }
    ~FixedDay() {
        set_today_clock(std::move(previous_));
        set_date_order_override(std::nullopt);
    }
    FixedDay(const FixedDay&) = delete;
    FixedDay& operator=(const FixedDay&) = delete;

private:
    TodayClock previous_;
};

constexpr Ymd kWednesday{2024, 5, 15};

TEST(DateOrder, FirstConversionOfTheLocaleFormat) {
    const struct {
        const char* format;
        DateOrderKind order;
    } cases[] = {
        {"%m/%d/%y", DateOrderKind::month_first},  // C and en_US
        {"%d.%m.%Y", DateOrderKind::day_first},    // de_DE
        {"%d/%m/%y", DateOrderKind::day_first},    // en_GB
        {"%e %b %Y", DateOrderKind::day_first},
        {"%Y-%m-%d", DateOrderKind::year_first},   // sv_SE
        {"%Y年%m月%d日", DateOrderKind::year_first},
        {"%F", DateOrderKind::year_first},
        {"%Ey", DateOrderKind::year_first},        // with a modifier
        {"%-d/%-m/%Y", DateOrderKind::day_first},  // with a flag
        {"%D", DateOrderKind::month_first},        // %D is %m/%d/%y
        {"%%d %m", DateOrderKind::month_first},    // "%%" is a literal percent sign
        {"", DateOrderKind::month_first},
        {"%", DateOrderKind::month_first},
    };
    for (const auto& c : cases) EXPECT_EQ(date_order_from_format(c.format), c.order) << c.format;
}

TEST(ReadDate, DateTextsInEachOrder) {
    const struct {
        DateOrderKind order;
        const char* text;
        Ymd date;
    } cases[] = {
        {DateOrderKind::day_first, "03/04/2000", {2000, 4, 3}},
        {DateOrderKind::month_first, "03/04/2000", {2000, 3, 4}},
        {DateOrderKind::year_first, "2000/04/03", {2000, 4, 3}},
        {DateOrderKind::day_first, "3 Apr 2000", {2000, 4, 3}},
        {DateOrderKind::day_first, "3-april-00", {2000, 4, 3}},
        {DateOrderKind::day_first, "03.04.2000", {2000, 4, 3}},
        {DateOrderKind::month_first, "DEC 25 1999", {1999, 12, 25}},
        {DateOrderKind::year_first, "2024-Feb-29", {2024, 2, 29}},
        // ISO 8601 and the log's "01/Nov/2026" say their order whatever the locale's
        {DateOrderKind::day_first, "2026-11-01", {2026, 11, 1}},
        {DateOrderKind::month_first, "2026-11-01", {2026, 11, 1}},
        {DateOrderKind::month_first, "01/Nov/2026", {2026, 11, 1}},
        {DateOrderKind::year_first, "01/Nov/2026", {2026, 11, 1}},
        {DateOrderKind::day_first, "Nov/01/2026", {2026, 11, 1}},
        // one separator: month and year, day 1, whatever the order
        {DateOrderKind::month_first, "12/99", {1999, 12, 1}},
        {DateOrderKind::day_first, "12/99", {1999, 12, 1}},
        {DateOrderKind::year_first, "Jun 2010", {2010, 6, 1}},
        // two-digit and short years
        {DateOrderKind::day_first, "1/1/69", {2069, 1, 1}},
        {DateOrderKind::day_first, "1/1/70", {1970, 1, 1}},
        {DateOrderKind::day_first, "1/1/0", {2000, 1, 1}},
        {DateOrderKind::day_first, "1/1/124", {2024, 1, 1}},
        // leap days
        {DateOrderKind::day_first, "29/02/2000", {2000, 2, 29}},
        {DateOrderKind::day_first, "29/2/24", {2024, 2, 29}},
        // the year part stops at the first character that is not a digit
        {DateOrderKind::month_first, "12/31/1999 23:59", {1999, 12, 31}},
        {DateOrderKind::month_first, "  5/6/2001  ", {2001, 5, 6}},
    };
    for (const auto& c : cases) {
        FixedDay fixed(kWednesday, c.order);
        EXPECT_EQ(show(ReadDate(c.text)), show(J(c.date))) << c.text;
    }
}

TEST(ReadDate, TextsThatAreNeitherDateNorWordGiveToday) {
    FixedDay fixed(kWednesday, DateOrderKind::day_first);
    const char* texts[] = {
        "",           "tomorrow",    "todayx",      "31/04/2000", "29/02/1900", "29/02/2023",
        "0/1/2000",   "1/13/2000",   "1/Foo/2000",  "xx/yy/zz",   "Ju/2000",    "13/99",
        "/",          "//",          "--",          "1/1/",       "Jan/",       "last7",
    };
    for (const char* text : texts) {
        EXPECT_EQ(show(ReadDate(text)), show(J(kWednesday))) << '"' << text << '"';
        EXPECT_FALSE(read_date_text(text).has_value()) << '"' << text << '"';
    }
}

TEST(ReadDate, DateWordsOnAWednesdayInMay) {
    FixedDay fixed(kWednesday, DateOrderKind::month_first);
    const struct {
        const char* word;
        Ymd date;
    } cases[] = {
        {"today", {2024, 5, 15}},      {"yesterday", {2024, 5, 14}},  {"thisweek", {2024, 5, 12}},
        {"prevweek", {2024, 5, 5}},    {"thismonth", {2024, 5, 1}},   {"prevmonth", {2024, 4, 1}},
        {"last7days", {2024, 5, 9}},   {"last14days", {2024, 5, 2}},  {"last21days", {2024, 4, 25}},
        {"last30days", {2024, 4, 16}}, {"thisquart", {2024, 4, 1}},   {"prevquart", {2024, 1, 1}},
        {"this6m", {2024, 1, 1}},      {"prev6m", {2023, 7, 1}},      {"thisyear", {2024, 1, 1}},
        {"prevyear", {2023, 1, 1}},    {"begin", {1990, 1, 1}},       {"end", {2025, 1, 1}},
        {"ThisMonth", {2024, 5, 1}},   {" YESTERDAY ", {2024, 5, 14}},
    };
    for (const auto& c : cases) EXPECT_EQ(show(ReadDate(c.word)), show(J(c.date))) << c.word;
}

struct ModeCase {
    Ymd today;
    int mode;
    Ymd start, end;
};

TEST(RangeForMode, EveryModeOnAnOrdinaryWednesday) {
    const Ymd t = kWednesday;
    const ModeCase cases[] = {
        {t, kDateAll, {1990, 1, 1}, {2025, 1, 1}},
        {t, kDateToday, {2024, 5, 15}, {2024, 5, 15}},
        {t, kDateYesterday, {2024, 5, 14}, {2024, 5, 14}},
        {t, kDateThisWeek, {2024, 5, 12}, {2024, 5, 15}},
        {t, kDatePrevWeek, {2024, 5, 5}, {2024, 5, 11}},
        {t, kDateLast7, {2024, 5, 9}, {2024, 5, 15}},
        {t, kDateLast14, {2024, 5, 2}, {2024, 5, 15}},
        {t, kDateLast21, {2024, 4, 25}, {2024, 5, 15}},
        {t, kDateLast30, {2024, 4, 16}, {2024, 5, 15}},
        {t, kDateThisMonth, {2024, 5, 1}, {2024, 5, 15}},
        {t, kDatePrevMonth, {2024, 4, 1}, {2024, 4, 30}},
        {t, kDateThisQuarter, {2024, 4, 1}, {2024, 5, 15}},
        {t, kDatePrevQuarter, {2024, 1, 1}, {2024, 3, 31}},
        {t, kDateThis6m, {2024, 1, 1}, {2024, 5, 15}},
        {t, kDatePrev6m, {2023, 7, 1}, {2023, 12, 31}},
        {t, kDateThisYear, {2024, 1, 1}, {2024, 5, 15}},
        {t, kDatePrevYear, {2023, 1, 1}, {2023, 12, 31}},
        {t, kDateExplicit, {2024, 5, 15}, {2024, 5, 15}},
        {t, 18, {2024, 5, 15}, {2024, 5, 15}},
        {t, -1, {2024, 5, 15}, {2024, 5, 15}},
    };
    for (const ModeCase& c : cases) {
        FixedDay fixed(c.today, DateOrderKind::month_first);
        const DateRange r = RangeForMode(c.mode);
        EXPECT_EQ(show(r.start), show(J(c.start))) << "mode " << c.mode;
        EXPECT_EQ(show(r.end), show(J(c.end))) << "mode " << c.mode;
    }
}

TEST(RangeForMode, WeekMonthQuarterHalfAndYearBoundaries) {
    const ModeCase cases[] = {
        // Sunday begins the week: this week is one day, last week ends yesterday.
        {{2024, 5, 12}, kDateThisWeek, {2024, 5, 12}, {2024, 5, 12}},
        {{2024, 5, 12}, kDatePrevWeek, {2024, 5, 5}, {2024, 5, 11}},
        {{2024, 5, 18}, kDateThisWeek, {2024, 5, 12}, {2024, 5, 18}},   // Saturday
        // a week across the turn of the year
        {{2025, 1, 1}, kDateThisWeek, {2024, 12, 29}, {2025, 1, 1}},
        {{2025, 1, 1}, kDatePrevWeek, {2024, 12, 22}, {2024, 12, 28}},
        // 1 January: every "previous" range lies in the year before
        {{2025, 1, 1}, kDatePrevMonth, {2024, 12, 1}, {2024, 12, 31}},
        {{2025, 1, 1}, kDatePrevQuarter, {2024, 10, 1}, {2024, 12, 31}},
        {{2025, 1, 1}, kDatePrev6m, {2024, 7, 1}, {2024, 12, 31}},
        {{2025, 1, 1}, kDatePrevYear, {2024, 1, 1}, {2024, 12, 31}},
        {{2025, 1, 1}, kDateYesterday, {2024, 12, 31}, {2024, 12, 31}},
        {{2025, 1, 1}, kDateLast30, {2024, 12, 3}, {2025, 1, 1}},
        {{2025, 1, 1}, kDateAll, {1990, 1, 1}, {2026, 1, 1}},
        // 31 December
        {{2024, 12, 31}, kDateThisQuarter, {2024, 10, 1}, {2024, 12, 31}},
        {{2024, 12, 31}, kDateThis6m, {2024, 7, 1}, {2024, 12, 31}},
        {{2024, 12, 31}, kDateThisYear, {2024, 1, 1}, {2024, 12, 31}},
        {{2024, 12, 31}, kDatePrev6m, {2024, 1, 1}, {2024, 6, 30}},
        // within, on the last day and on the first day of a quarter
        {{2024, 3, 15}, kDateThisQuarter, {2024, 1, 1}, {2024, 3, 15}},
        {{2024, 3, 31}, kDateThisQuarter, {2024, 1, 1}, {2024, 3, 31}},
        {{2024, 3, 31}, kDatePrevQuarter, {2023, 10, 1}, {2023, 12, 31}},
        {{2024, 4, 1}, kDateThisQuarter, {2024, 4, 1}, {2024, 4, 1}},
        {{2024, 4, 1}, kDatePrevQuarter, {2024, 1, 1}, {2024, 3, 31}},
        {{2024, 4, 1}, kDatePrevMonth, {2024, 3, 1}, {2024, 3, 31}},
        {{2024, 10, 1}, kDatePrevQuarter, {2024, 7, 1}, {2024, 9, 30}},
        // either side of the half-year
        {{2024, 6, 30}, kDateThis6m, {2024, 1, 1}, {2024, 6, 30}},
        {{2024, 6, 30}, kDatePrev6m, {2023, 7, 1}, {2023, 12, 31}},
        {{2024, 7, 1}, kDateThis6m, {2024, 7, 1}, {2024, 7, 1}},
        {{2024, 7, 1}, kDatePrev6m, {2024, 1, 1}, {2024, 6, 30}},
        // first of a month
        {{2024, 8, 1}, kDateThisMonth, {2024, 8, 1}, {2024, 8, 1}},
        {{2024, 8, 1}, kDatePrevMonth, {2024, 7, 1}, {2024, 7, 31}},
        // leap days
        {{2024, 2, 29}, kDateThisMonth, {2024, 2, 1}, {2024, 2, 29}},
        {{2024, 2, 29}, kDatePrevMonth, {2024, 1, 1}, {2024, 1, 31}},
        {{2024, 2, 29}, kDateLast30, {2024, 1, 31}, {2024, 2, 29}},
        {{2024, 3, 1}, kDatePrevMonth, {2024, 2, 1}, {2024, 2, 29}},
        {{2024, 3, 1}, kDateLast30, {2024, 2, 1}, {2024, 3, 1}},
        {{2023, 3, 1}, kDatePrevMonth, {2023, 2, 1}, {2023, 2, 28}},
        {{2100, 3, 1}, kDatePrevMonth, {2100, 2, 1}, {2100, 2, 28}},   // 2100 is no leap year
        {{2000, 3, 1}, kDateYesterday, {2000, 2, 29}, {2000, 2, 29}},  // 2000 is one
    };
    for (const ModeCase& c : cases) {
        FixedDay fixed(c.today, DateOrderKind::month_first);
        const DateRange r = RangeForMode(c.mode);
        EXPECT_EQ(show(r.start), show(J(c.start))) << "mode " << c.mode << " on " << show(J(c.today));
        EXPECT_EQ(show(r.end), show(J(c.end))) << "mode " << c.mode << " on " << show(J(c.today));
    }
}

TEST(DateSettings, ShortDateTextInEachOrder) {
    const double jd = JulianDate(2024, 3, 5, 17, 45, 0);   // the time of day is not written
    const struct {
        DateOrderKind order;
        const char* text;
    } cases[] = {
        {DateOrderKind::day_first, "05/03/2024"},
        {DateOrderKind::month_first, "03/05/2024"},
        {DateOrderKind::year_first, "2024/03/05"},
    };
    for (const auto& c : cases) {
        FixedDay fixed(kWednesday, c.order);
        EXPECT_EQ(short_date_text(jd), c.text);
    }
}

TEST(DateSettings, DefaultRangeRunsFrom1990ToTomorrow) {
    FixedDay fixed({2024, 12, 31}, DateOrderKind::day_first);
    DateSettings dates;
    dates.mode = kDateToday;
    dates.sdate = "junk";
    set_default_date_range(dates);
    EXPECT_EQ(dates.mode, kDateAll);
    EXPECT_EQ(dates.sdate, "01/01/1990");
    EXPECT_EQ(dates.edate, "01/01/2025");
    EXPECT_EQ(show(dates.start), "1990-1-1");
    EXPECT_EQ(show(dates.end), "2025-1-1");
}

TEST(DateSettings, ModesWriteTheTextsAndTheTextsReadBack) {
    for (DateOrderKind order : {DateOrderKind::day_first, DateOrderKind::month_first, DateOrderKind::year_first}) {
        FixedDay fixed({2025, 1, 7}, order);
        for (int mode = kDateAll; mode <= kDatePrevYear; ++mode) {
            DateSettings dates;
            dates.mode = static_cast<std::int16_t>(mode);
            recompute_date_range(dates);
            const DateRange expected = RangeForMode(mode);
            EXPECT_EQ(dates.start, expected.start) << "mode " << mode;
            EXPECT_EQ(dates.end, expected.end) << "mode " << mode;
            EXPECT_EQ(dates.sdate, short_date_text(expected.start));
            EXPECT_EQ(dates.edate, short_date_text(expected.end));

            // The written texts, read back as an explicit range, give the same days.
            DateSettings explicit_range;
            explicit_range.mode = kDateExplicit;
            explicit_range.sdate = dates.sdate;
            explicit_range.edate = dates.edate;
            recompute_date_range(explicit_range);
            EXPECT_EQ(show(explicit_range.start), show(expected.start)) << "mode " << mode;
            EXPECT_EQ(show(explicit_range.end), show(expected.end)) << "mode " << mode;
            EXPECT_EQ(explicit_range.sdate, dates.sdate);   // explicit texts stay as written
        }
    }
}

TEST(DateSettings, ExplicitTextsAndWordsAreReadInTheLocaleOrder) {
    FixedDay fixed(kWednesday, DateOrderKind::day_first);
    DateSettings dates;
    dates.mode = kDateExplicit;
    dates.sdate = "03/04/2000";
    dates.edate = "prevmonth";
    recompute_date_range(dates);
    EXPECT_EQ(show(dates.start), "2000-4-3");
    EXPECT_EQ(show(dates.end), "2024-4-1");
}

}  // namespace
}  // namespace tallowick::logs
