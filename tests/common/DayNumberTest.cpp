#include "common/DayNumber.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

using common::dateFromSerial;
using common::dateSerial;
using common::generalDateText;
using common::timeFromSerial;
using common::timeSerial;

struct DateRow {
    QDate date;
    double serial;
};

TEST(DayNumber, CountsWholeDaysFromTheThirtiethOfDecember1899) {
    const std::vector<DateRow> rows = {
        {{1899, 12, 30}, 0},       {{1899, 12, 31}, 1},    {{1900, 1, 1}, 2},
        {{1899, 12, 29}, -1},      {{2000, 1, 1}, 36526},  {{2024, 2, 29}, 45351},
        {{9999, 12, 31}, 2958465}, {{100, 1, 1}, -657434},
    };
    for (const DateRow& row : rows) {
        EXPECT_EQ(dateSerial(row.date), row.serial) << qPrintable(row.date.toString());
        EXPECT_EQ(dateFromSerial(row.serial), row.date) << row.serial;
    }
}

TEST(DayNumber, TakesTheDateFromTheWholeDayPartOnly) {
    EXPECT_EQ(dateFromSerial(36526.75), QDate(2000, 1, 1));
    EXPECT_EQ(dateFromSerial(36526.99999), QDate(2000, 1, 1));
    EXPECT_EQ(dateFromSerial(-1.5), QDate(1899, 12, 29));
}

TEST(DayNumber, GivesNoDateOutsideTheNameableRange) {
    EXPECT_FALSE(dateFromSerial(2958466).isValid());
    EXPECT_FALSE(dateFromSerial(-657435).isValid());
    EXPECT_FALSE(dateFromSerial(std::nan("")).isValid());
    EXPECT_FALSE(dateFromSerial(std::numeric_limits<double>::infinity()).isValid());
    EXPECT_TRUE(std::isnan(dateSerial(QDate())));
}

struct TimeRow {
    QTime time;
    double serial;
};

TEST(DayNumber, CountsTimesOfDayAsFractionsOfADay) {
    const std::vector<TimeRow> rows = {
        {{0, 0, 0}, 0.0},
        {{12, 0, 0}, 0.5},
        {{6, 0, 0}, 0.25},
        {{18, 0, 0}, 0.75},
        {{0, 0, 1}, 1.0 / 86400},
        {{23, 59, 59}, 86399.0 / 86400},
        {{13, 14, 15}, 47655.0 / 86400},
    };
    for (const TimeRow& row : rows) {
        EXPECT_DOUBLE_EQ(timeSerial(row.time), row.serial) << qPrintable(row.time.toString());
        EXPECT_EQ(timeFromSerial(row.serial), row.time) << row.serial;
        EXPECT_EQ(timeFromSerial(36526 + row.serial), row.time) << row.serial;
    }
}

TEST(DayNumber, DropsMillisecondsOfATime) {
    EXPECT_EQ(timeSerial(QTime(10, 0, 0, 999)), timeSerial(QTime(10, 0, 0)));
    EXPECT_TRUE(std::isnan(timeSerial(QTime())));
}

TEST(DayNumber, RoundsTheTimeToTheNearestSecond) {
    EXPECT_EQ(timeFromSerial(10.4 / 86400), QTime(0, 0, 10));
    EXPECT_EQ(timeFromSerial(10.6 / 86400), QTime(0, 0, 11));
    EXPECT_EQ(timeFromSerial(0.99999999), QTime(23, 59, 59));
    EXPECT_EQ(timeFromSerial(-1.25), QTime(6, 0, 0));
    EXPECT_FALSE(timeFromSerial(std::nan("")).isValid());
}

TEST(DayNumber, SumsOfDateAndTimeSerialsGiveBothBack) {
    const QDateTime moment(QDate(2023, 7, 14), QTime(8, 30, 5));
    const double serial = dateSerial(moment.date()) + timeSerial(moment.time());
    EXPECT_EQ(dateFromSerial(serial), moment.date());
    EXPECT_EQ(timeFromSerial(serial), moment.time());
}

struct TextRow {
    double serial;
    const char* text;
};

TEST(GeneralDateText, ShowsDateTimeOrBoth) {
    const std::vector<TextRow> rows = {
        {0, "00:00:00"},
        {0.5, "12:00:00"},
        {0.75 + 1.0 / 86400, "18:00:01"},
        {36526, "2000/01/01"},
        {36526.5, "2000/01/01 12:00:00"},
        {45351 + 47655.0 / 86400, "2024/02/29 13:14:15"},
        {1, "1899/12/31"},
        {-1, "1899/12/29"},
        {-1.25, "1899/12/29 06:00:00"},
        {2958465, "9999/12/31"},
        {36526 + 0.1 / 86400, "2000/01/01"},
    };
    for (const TextRow& row : rows) {
        EXPECT_EQ(generalDateText(row.serial), QString::fromLatin1(row.text)) << row.serial;
    }
}

TEST(GeneralDateText, IsEmptyForValuesThatNameNoDate) {
    EXPECT_TRUE(generalDateText(std::nan("")).isEmpty());
    EXPECT_TRUE(generalDateText(std::numeric_limits<double>::infinity()).isEmpty());
    EXPECT_TRUE(generalDateText(1e12).isEmpty());
    EXPECT_TRUE(generalDateText(-1e12).isEmpty());
}

TEST(ClockNow, ReadsTheClockInWholeSeconds) {
    const QDateTime now = common::clockNow();
    EXPECT_TRUE(now.isValid());
    EXPECT_EQ(now.time().msec(), 0);
}

} // namespace
