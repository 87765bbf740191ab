#include "trend/MomentSelection.h"
#include "TrendLogFixture.h"

#include <gtest/gtest.h>

using trend::Jump;
using trend::TrendView;
using trendtest::dateOf;
using trendtest::TestLog;
using trendtest::timeOf;

namespace {

TrendView historyOf(std::int32_t newestRecord, std::int16_t steps, std::int16_t zoom = 1) {
    TrendView view;
    view.newestRecord = newestRecord;
    view.zoomLevel = zoom;
    trend::returnToLive(view, {});
    trend::applyZoom(view);
    for (int k = 0; k < steps; ++k) {
        trend::stepBack(view);
    }
    return view;
}

void expectSameView(const TrendView& actual, const TrendView& expected) {
    EXPECT_EQ(actual.scrollSteps, expected.scrollSteps);
    EXPECT_EQ(actual.windowEnd, expected.windowEnd);
    EXPECT_EQ(actual.windowLength, expected.windowLength);
    EXPECT_EQ(actual.viewEnd, expected.viewEnd);
    EXPECT_EQ(actual.atOldest, expected.atOldest);
}

TEST(JumpToRecord, ARecordOfTheNewestMinutesStaysLive) {
    for (const std::int32_t record : {5000, 4941, 4940}) {
        TrendView view = historyOf(5000, 3);
        const Jump jump = trend::jumpToRecord(view, record);
        EXPECT_EQ(view.scrollSteps, 0) << record;
        EXPECT_EQ(view.windowEnd, 5000);
        EXPECT_EQ(jump.loadLength, 241);
        EXPECT_EQ(jump.requests.displayRunning, true);
        EXPECT_EQ(jump.requests.stepForwardEnabled, false);
        EXPECT_TRUE(jump.requests.reload);
    }
    // With the ruler on the live display stays stopped: it would overwrite the read-out.
    TrendView ruled = historyOf(5000, 3);
    ruled.rulerOn = true;
    EXPECT_EQ(trend::jumpToRecord(ruled, 4990).requests.displayRunning, false);
}

TEST(JumpToRecord, EndsAsTheStepsBackThatBringTheRecordOntoTheChart) {
    struct Row {
        std::int32_t newest;
        std::int32_t record;
        std::int16_t zoom;
        std::int16_t steps;
    };
    // At zoom 1 a history window's first shown minute holds records windowEnd - 140 .. - 81;
    // the minute just before the live window's is shown nowhere, so it lands right of the chart.
    const Row rows[] = {{5000, 4000, 1, 15}, {5000, 4939, 1, 1}, {5000, 4800, 1, 1},
                        {5000, 4799, 1, 2},  {30, 65400, 1, 1},  {5000, 4000, 4, 12},
                        {5000, 4759, 4, 1}};
    for (const Row& row : rows) {
        TrendView view = historyOf(row.newest, 0, row.zoom);
        const Jump jump = trend::jumpToRecord(view, row.record);
        expectSameView(view, historyOf(row.newest, row.steps, row.zoom));
        EXPECT_EQ(view.scrollSteps, row.steps) << row.record;
        EXPECT_EQ(jump.loadLength, 321);
        EXPECT_TRUE(jump.requests.reload && jump.requests.redraw);
        EXPECT_EQ(jump.requests.displayRunning, false);
        EXPECT_EQ(jump.requests.stepForwardEnabled, true);
        EXPECT_EQ(jump.requests.stepBackEnabled, true);
    }
}

TEST(JumpToRecord, ARecordBeyondTheOldestWindowEndsLikeABlockedStep) {
    TrendView view = historyOf(1000, 0);
    const Jump jump = trend::jumpToRecord(view, 100);
    expectSameView(view, historyOf(1000, 12));
    EXPECT_TRUE(view.atOldest);
    EXPECT_EQ(view.windowEnd, 340) << "the window of the last step that was not blocked";
    EXPECT_EQ(jump.requests.stepBackEnabled, false);
    EXPECT_EQ(jump.loadLength, 321);

    TrendView early = historyOf(100, 0);
    const Jump first = trend::jumpToRecord(early, 5);
    EXPECT_EQ(early.scrollSteps, 1);
    EXPECT_TRUE(early.atOldest);
    EXPECT_EQ(first.loadLength, 241) << "blocked at once: the live window stays";
}

TEST(JumpToRecord, StopsWhereSixteenBitStepsNoLongerMoveTheWindow) {
    TrendView view = historyOf(30, 0);
    trend::jumpToRecord(view, 32000 - 5000);
    EXPECT_LE(view.scrollSteps, 547);
    EXPECT_FALSE(view.atOldest);
}

TEST(JumpToRecord, OnAWrappedRingReachesEveryRecordBackToTheOldest) {
    const auto wrapped = [] { return trend::NewestRecord{1000, true}; };
    // Far beyond 546 steps, and beyond where an unwrapped ring blocks.
    for (const std::int32_t record : {40000, 100, 2000}) {
        TrendView view = historyOf(1000, 0);
        const Jump jump = trend::jumpToRecord(view, record, wrapped);
        const std::int64_t index = 321 - (((view.windowEnd - record) % 65500 + 65500) % 65500);
        EXPECT_GT(index, 180) << record;
        EXPECT_LE(index, 240) << record;
        EXPECT_FALSE(view.atOldest) << record;
        EXPECT_EQ(jump.loadLength, 321);
    }
    // The oldest snapshot itself: the window that starts with it, shown whole at zoom 4.
    TrendView view = historyOf(1000, 0, 4);
    const Jump jump = trend::jumpToRecord(view, 1001, wrapped);
    EXPECT_TRUE(view.atOldest);
    EXPECT_EQ(view.windowEnd, 1321);
    EXPECT_EQ(jump.loadLength, 321);
    EXPECT_TRUE(jump.requests.reload);
    EXPECT_EQ(jump.requests.stepBackEnabled, false);
}

class NearestSnapshotTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(log.created());
        ASSERT_TRUE(reader.open());
    }
    TestLog log;
    trend::ReadingLog reader{QStringLiteral("nearest"), log.path()};
};

const QDateTime kMorning(QDate(2026, 12, 8), QTime(3, 0, 0));

double at(const QDateTime& moment) { return dateOf(moment) + timeOf(moment); }

TEST_F(NearestSnapshotTest, FindsTheSnapshotByItsOwnTimeAcrossGapsAndTheWrap) {
    EXPECT_FALSE(trend::logSpan(reader));
    EXPECT_FALSE(trend::nearestSnapshot(reader, at(kMorning)));
    // The ring's end first, then numbering from 1 after a pause of ten minutes.
    ASSERT_TRUE(log.insert(trendtest::secondsApart(65401, 100, kMorning)));
    ASSERT_TRUE(log.insert(trendtest::secondsApart(1, 100, kMorning.addSecs(100 + 600))));

    const auto span = trend::logSpan(reader);
    ASSERT_TRUE(span);
    EXPECT_DOUBLE_EQ(span->oldest, at(kMorning));
    EXPECT_DOUBLE_EQ(span->newest, at(kMorning.addSecs(799)));

    EXPECT_EQ(trend::nearestSnapshot(reader, at(kMorning.addSecs(50)))->record, 65451);
    EXPECT_EQ(trend::nearestSnapshot(reader, at(kMorning.addSecs(720)))->record, 21);
    // Inside the pause: the nearer edge wins.
    EXPECT_EQ(trend::nearestSnapshot(reader, at(kMorning.addSecs(200)))->record, 65500);
    EXPECT_EQ(trend::nearestSnapshot(reader, at(kMorning.addSecs(650)))->record, 1);
    EXPECT_EQ(trend::nearestSnapshot(reader, at(kMorning.addDays(-3)))->record, 65401);
}

TEST(PointNearest, FindsTheBufferPointOfAMoment) {
    trend::TrendBuffer buffer;
    for (int i = 1; i <= 321; ++i) {
        buffer.trendDate.set(i, 46364);
        buffer.trendTime.set(i, (3600.0 + i) / 86400);
    }
    EXPECT_EQ(trend::pointNearest(buffer, 46364 + 3700.0 / 86400), 100);
    EXPECT_EQ(trend::pointNearest(buffer, 46364 + 3700.4 / 86400), 100);
    EXPECT_FALSE(trend::pointNearest(trend::TrendBuffer{}, 46364));
}

} // namespace
