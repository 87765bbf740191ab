#include "monitor/LiveDisplay.h"

#include <gtest/gtest.h>

#include <optional>

using namespace monitor;

namespace {

struct AxisRow {
    std::int16_t fullScale;
    std::array<const char*, 6> captions;
};

class ValueAxis : public ::testing::TestWithParam<AxisRow> {};

TEST_P(ValueAxis, ShowsSixthsOfTheFullScaleFromBottomToTop) {
    const AxisRow row = GetParam();
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(axisCaption(row.fullScale, i), QString::fromLatin1(row.captions[i]))
            << "caption " << i << " of " << row.fullScale;
    }
}

INSTANTIATE_TEST_SUITE_P(
    FullScales, ValueAxis,
    ::testing::Values(AxisRow{6000, {"1000", "2000", "3000", "4000", "5000", "6000"}},
                      AxisRow{100, {"17", "33", "50", "67", "83", "100"}},
                      // The third sixth of 1 is exactly one half in single precision.
                      AxisRow{1, {"0", "0", "0", "1", "1", "1"}},
                      AxisRow{12000, {"2000", "4000", "6000", "8000", "10000", "12000"}},
                      AxisRow{0, {"0", "0", "0", "0", "0", "0"}},
                      AxisRow{-6, {"-1", "-2", "-3", "-4", "-5", "-6"}}));

TEST(ReadingsBand, PlacesTheReadingsInRowsOfSixWithCaptionsInTheirCurvesColours) {
    using common::rgb;
    // The third row leaves the third and fifth places free.
    const int columns[kReadingCount] = {0, 1, 2, 3, 4, 5, 0, 1, 2, 3, 4, 5, 0, 1, 3, 5};
    // Captions past the tenth, the frequency's included, are black.
    const common::Rgb curveColours[] = {
        rgb(255, 0, 0), rgb(0, 0, 255),   rgb(0, 128, 0),   rgb(192, 0, 0), rgb(0, 0, 192),
        rgb(0, 64, 0),  rgb(255, 0, 255), rgb(255, 255, 0), rgb(0, 0, 0),   rgb(255, 0, 0)};
    for (int i = 0; i < kReadingCount; ++i) {
        SCOPED_TRACE(i);
        const ReadingLayout& reading = kReadings.at(static_cast<std::size_t>(i));
        EXPECT_EQ(reading.index, i);
        // Label1 follows the readings from 2, but for Ubc and Uca, which trade places.
        EXPECT_EQ(reading.captionIndex, i == 1 ? 4 : i == 2 ? 3 : i + 2);
        EXPECT_EQ(reading.left, 1110 + 2520 * columns[i]);
        EXPECT_EQ(reading.top, 210 + 360 * (i / 6));
        EXPECT_EQ(reading.captionColour, i < 10 ? curveColours[i] : rgb(0, 0, 0));
    }
}

TEST(AlarmLabels, ShowOnInPinkAndOffInCyan) {
    EXPECT_EQ(alarmLook(0, 1).text, QStringLiteral("报警一ON"));
    EXPECT_EQ(alarmLook(0, 1).background, common::rgb(255, 192, 192));
    EXPECT_EQ(alarmLook(0, 0).text, QStringLiteral("报警一OFF"));
    EXPECT_EQ(alarmLook(0, 0).background, common::rgb(192, 255, 255));
    EXPECT_EQ(alarmLook(1, -1).text, QStringLiteral("报警二ON"));
    EXPECT_EQ(alarmLook(1, 0).text, QStringLiteral("报警二OFF"));
}

struct EntryRow {
    const char* entry;
    std::optional<std::int16_t> fullScale;
};

class FullScaleEntry : public ::testing::TestWithParam<EntryRow> {};

TEST_P(FullScaleEntry, AppliesWholeNumbersFromOneTo12000) {
    const EntryRow row = GetParam();
    EXPECT_EQ(fullScaleFromEntry(QString::fromUtf8(row.entry)), row.fullScale) << row.entry;
}

INSTANTIATE_TEST_SUITE_P(
    Entries, FullScaleEntry,
    ::testing::Values(EntryRow{"12000", 12000}, EntryRow{"12000.4", std::nullopt},
                      EntryRow{"0.9", std::nullopt}, EntryRow{"0", std::nullopt},
                      EntryRow{"-5", std::nullopt}, EntryRow{"", std::nullopt},
                      EntryRow{"abc", std::nullopt}, EntryRow{"1", 1}, EntryRow{"2.5", 2},
                      EntryRow{"3.5", 4}, EntryRow{"250abc", 250}, EntryRow{"   300", 300},
                      EntryRow{"1e999", std::nullopt}, EntryRow{"1.2e3", 1200},
                      EntryRow{"11999.6", 12000}, EntryRow{"&H100", 256}));

TEST(Clock, WritesMonthDayYearAndTwentyFourHourTime) {
    const QDateTime at(QDate(2026, 3, 7), QTime(18, 42, 5));
    EXPECT_EQ(clockDate(at), QStringLiteral("03-07-2026"));
    EXPECT_EQ(clockTime(at), QStringLiteral("18:42:05"));
    EXPECT_EQ(clockTime(QDateTime(QDate(2026, 3, 7), QTime(0, 0, 0))), QStringLiteral("00:00:00"));
}

} // namespace
