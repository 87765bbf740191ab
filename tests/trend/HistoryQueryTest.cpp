#include "trend/HistoryQuery.h"
#include "TrendLogFixture.h"

#include <gtest/gtest.h>

#include <cmath>

using trendtest::dateOf;
using trendtest::TestLog;
using trendtest::timeOf;

namespace {

struct WindowRow {
    std::int32_t windowEnd;
    std::int32_t windowLength;
    std::int32_t windowBefore;
    const char* chosen;
};

TEST(HistoryStatements, NameTheWindowWithAscendingBoundsAndWrapPastTheRingsEnd) {
    const std::vector<WindowRow> rows = {
        {1000, 241, 759,
         "select * from  pv_data where w_id  between 760 and 1000 order by w_date,w_time"},
        {5000, 241, 4759,
         "select * from  pv_data where w_id  between 4760 and 5000 order by w_date,w_time"},
        {241, 241, 0,
         "select * from  pv_data where w_id  between 1 and 241 order by w_date,w_time"},
        {580, 321, 259,
         "select * from  pv_data where w_id  between 260 and 580 order by w_date,w_time"},
        {100, 241, 65359,
         "select * from  pv_data where w_id not between 101 and 65359 order by w_date,w_time "},
        {0, 241, 65259,
         "select * from  pv_data where w_id not between 1 and 65259 order by w_date,w_time "},
    };
    for (const WindowRow& row : rows) {
        const auto statements = trend::historyStatements(row.windowEnd, row.windowLength);
        ASSERT_TRUE(statements) << row.windowEnd;
        EXPECT_EQ(statements->windowBefore, row.windowBefore) << row.windowEnd;
        EXPECT_EQ(statements->chosen(), QString::fromLatin1(row.chosen)) << row.windowEnd;
        EXPECT_FALSE(statements->between.isEmpty());
        EXPECT_FALSE(statements->notBetween.isEmpty());
    }
}

TEST(HistoryStatements, RefuseNumbersThatOverflow) {
    EXPECT_FALSE(trend::historyStatements(std::numeric_limits<std::int32_t>::max(), 1));
    EXPECT_FALSE(trend::historyStatements(std::numeric_limits<std::int32_t>::min(),
                                          std::numeric_limits<std::int32_t>::max()));
}

class LoadHistoryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(log.created());
        ASSERT_TRUE(mainLog.open());
        view.windowLength = 241;
        view.viewStart = 180;
    }

    void load(std::int32_t windowEnd, std::int32_t windowLength = 241) {
        view.windowEnd = windowEnd;
        view.windowLength = windowLength;
        readOut = trend::loadHistory(mainLog, buffer, view);
    }

    TestLog log;
    trend::ReadingLog mainLog{QStringLiteral("main"), log.path()};
    trend::TrendBuffer buffer;
    trend::TrendView view;
    trend::ReadOut readOut;
};

const QDateTime kMorning(QDate(2026, 12, 8), QTime(9, 0, 0));

TEST_F(LoadHistoryTest, FillsTheWindowOldestFirstAndLeavesItsFirstPointUnmarked) {
    ASSERT_TRUE(log.insert(trendtest::secondsApart(1, 1000, kMorning)));
    view.rulerOn = true;
    load(1000);
    EXPECT_EQ(view.windowBefore, 759);
    for (int i = 1; i <= 241; ++i) {
        const QDateTime at = kMorning.addSecs(759 + i - 1);
        ASSERT_DOUBLE_EQ(buffer.trendTime.value(i), timeOf(at)) << i;
        ASSERT_DOUBLE_EQ(buffer.trendDate.value(i), dateOf(at)) << i;
        ASSERT_EQ(buffer.value(0, i), static_cast<float>(759 + i)) << i;
        ASSERT_EQ(buffer.value(10, i), static_cast<float>(759 + i + 10)) << i;
        ASSERT_EQ(buffer.gapMark.value(i), 0) << i;
    }
    EXPECT_EQ(readOut.date, QStringLiteral("2026/12/08"));
    EXPECT_EQ(readOut.time, QStringLiteral("09:15:39")) << "point viewStart + 1 = 181";

    view.rulerOn = false;
    load(1000);
    EXPECT_FALSE(readOut.date) << "with the ruler off the labels are the clock";
    EXPECT_FALSE(readOut.time);
}

TEST_F(LoadHistoryTest, AWindowBeforeFiveInTheMorningHasNoMarkAtItsFirstPoint) {
    ASSERT_TRUE(
        log.insert(trendtest::secondsApart(1, 241, QDateTime(QDate(2026, 12, 8), QTime(0, 1, 0)))));
    load(241);
    EXPECT_EQ(buffer.gapMark.value(1), 0);
}

TEST_F(LoadHistoryTest, AWrappingWindowComesBackInClockOrder) {
    // The ring's end was written first, then numbering went on from 1.
    ASSERT_TRUE(log.insert(trendtest::secondsApart(65360, 141, kMorning)));
    ASSERT_TRUE(log.insert(trendtest::secondsApart(1, 100, kMorning.addSecs(141))));
    ASSERT_TRUE(log.insert(trendtest::secondsApart(101, 50, kMorning.addDays(-1))));
    load(100);
    EXPECT_EQ(view.windowBefore, 65359);
    EXPECT_EQ(buffer.value(0, 1), 65360.0F);
    EXPECT_EQ(buffer.value(0, 141), 65500.0F);
    EXPECT_EQ(buffer.value(0, 142), 1.0F);
    EXPECT_EQ(buffer.value(0, 241), 100.0F);
    EXPECT_DOUBLE_EQ(buffer.trendTime.value(142), timeOf(kMorning.addSecs(141)));
}

TEST_F(LoadHistoryTest, FewerRowsLeaveTheRestClearedButChannelsNineAndTenAsTheyWere) {
    for (int i = 0; i <= 322; ++i) {
        for (int c = 0; c < 11; ++c) {
            buffer.setValue(c, i, -7.0F);
        }
    }
    ASSERT_TRUE(log.insert(trendtest::secondsApart(1, 100, kMorning)));
    load(241);
    EXPECT_EQ(buffer.value(0, 100), 100.0F);
    EXPECT_EQ(buffer.value(8, 101), 0.0F);
    EXPECT_EQ(buffer.value(9, 101), -7.0F);
    EXPECT_EQ(buffer.value(10, 241), -7.0F);
    EXPECT_DOUBLE_EQ(buffer.trendTime.value(101), 0.0);
    EXPECT_EQ(buffer.gapMark.value(101), 101) << "the cleared points lie far from the real ones";
    EXPECT_EQ(buffer.gapMark.value(102), 0);
}

TEST_F(LoadHistoryTest, MarksAPauseOfFiveMinutesAndAWholeDayButNotMidnight) {
    std::vector<trendtest::Row> rows = trendtest::secondsApart(1, 10, kMorning);
    auto pause = trendtest::secondsApart(11, 10, kMorning.addSecs(9 + 300));
    auto sameTimeNextDay =
        trendtest::secondsApart(21, 10, kMorning.addSecs(9 + 300 + 10).addDays(1));
    rows.insert(rows.end(), pause.begin(), pause.end());
    rows.insert(rows.end(), sameTimeNextDay.begin(), sameTimeNextDay.end());
    auto nearMidnight =
        trendtest::secondsApart(31, 2, QDateTime(QDate(2026, 12, 9), QTime(23, 59, 59)));
    rows.insert(rows.end(), nearMidnight.begin(), nearMidnight.end());
    ASSERT_TRUE(log.insert(rows));
    load(32, 32);
    EXPECT_EQ(buffer.gapMark.value(11), 11) << "five minutes of silence";
    EXPECT_EQ(buffer.gapMark.value(21), 21) << "a whole day later at the next second";
    EXPECT_EQ(buffer.gapMark.value(31), 31);
    EXPECT_EQ(buffer.gapMark.value(32), 0) << "23:59:59 to 00:00:00";
    EXPECT_EQ(buffer.gapMark.value(5), 0);
}

TEST_F(LoadHistoryTest, AValueThatIsNoNumberIsNaNNotTheValueOfAnotherPoint) {
    buffer.setValue(9, 1, 123.0F);
    ASSERT_TRUE(log.insert(trendtest::secondsApart(1, 2, kMorning)));
    ASSERT_TRUE(log.exec(QStringLiteral(
        "UPDATE pv_data SET w_v0 = NULL, w_v9 = NULL, w_v10 = 'abc' WHERE w_id = 1")));
    load(2, 2);
    EXPECT_TRUE(std::isnan(*buffer.value(0, 1)));
    EXPECT_TRUE(std::isnan(*buffer.value(9, 1)));
    EXPECT_TRUE(std::isnan(*buffer.value(10, 1)));
    EXPECT_EQ(buffer.value(1, 1), 2.0F);
    EXPECT_EQ(buffer.value(0, 2), 2.0F);
}

TEST_F(LoadHistoryTest, TheRingHasWrappedWhenTheRecordAfterTheNewestHoldsASnapshot) {
    ASSERT_TRUE(log.insert(trendtest::secondsApart(1, 10, kMorning)));
    EXPECT_FALSE(trend::ringHasWrapped(mainLog, 10));
    EXPECT_TRUE(trend::ringHasWrapped(mainLog, 4));
    EXPECT_FALSE(trend::ringHasWrapped(mainLog, 0));
    EXPECT_FALSE(trend::ringHasWrapped(mainLog, 65501));
    EXPECT_FALSE(trend::ringHasWrapped(mainLog, 65499));
    EXPECT_TRUE(trend::ringHasWrapped(mainLog, 65500)) << "record 1 follows the ring's end";
}

TEST_F(LoadHistoryTest, AMissingLogLeavesTheBufferCleared) {
    trend::ReadingLog missing(QStringLiteral("missing"), log.path() + QStringLiteral(".gone"));
    EXPECT_FALSE(missing.open());
    buffer.trendTime.set(5, 0.5);
    buffer.gapMark.set(5, 5);
    view.windowEnd = 241;
    trend::loadHistory(missing, buffer, view);
    EXPECT_DOUBLE_EQ(buffer.trendTime.value(5), 0.0);
    EXPECT_EQ(buffer.gapMark.value(5), 0);
    EXPECT_FALSE(QFileInfo::exists(missing.path()));
}

TEST_F(LoadHistoryTest, ReadsDatesAndTimesStoredAsTextByOtherTools) {
    ASSERT_TRUE(log.exec(QStringLiteral("INSERT INTO pv_data(w_id, w_date, w_time, w_v0) VALUES "
                                        "(1, '2026-12-08', '09:30:15', '12.5')")));
    load(1, 1);
    EXPECT_DOUBLE_EQ(buffer.trendDate.value(1), dateOf(kMorning));
    EXPECT_DOUBLE_EQ(buffer.trendTime.value(1),
                     timeOf(QDateTime(kMorning.date(), QTime(9, 30, 15))));
    EXPECT_EQ(buffer.value(0, 1), 12.5F);
}

} // namespace
