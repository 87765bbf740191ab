#include "trend/Recorder.h"
#include "TrendLogFixture.h"

#include <QSqlQuery>

#include <gtest/gtest.h>

using trendtest::dateOf;
using trendtest::SteppedClock;
using trendtest::TestLog;
using trendtest::timeOf;

namespace {

const QDateTime kNoon(QDate(2026, 12, 8), QTime(12, 0, 0));

class RecorderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(log.created());
        ASSERT_TRUE(recorderLog.open());
    }

    TestLog log;
    SteppedClock clock{kNoon};
    meterlink::SharedState state;
    trend::ReadingLog recorderLog{QStringLiteral("recorder"), log.path()};
    trend::Recorder recorder{recorderLog, state};
};

TEST_F(RecorderTest, TheFirstTickWritesEvenInTheSecondOfThePreviousRunsLastSnapshot) {
    ASSERT_TRUE(log.insert(trendtest::secondsApart(5, 1, kNoon)));
    ASSERT_TRUE(log.setLastId(5));
    recorder.step();
    EXPECT_EQ(log.lastId(), 6);
    ASSERT_EQ(log.rows(6).size(), 1U);
    EXPECT_DOUBLE_EQ(log.rows(6)[0].time, timeOf(kNoon));
}

TEST_F(RecorderTest, TicksWithinOneSecondOnlyReadTheControlRow) {
    for (int i = 0; i < 10; ++i) {
        recorder.step();
    }
    EXPECT_EQ(log.count(), 1);
    EXPECT_EQ(log.lastId(), 1);
    clock.advance(1);
    recorder.step();
    recorder.step();
    EXPECT_EQ(log.count(), 2);
    EXPECT_EQ(log.lastId(), 2);
}

TEST_F(RecorderTest, StoresTheWholeStoreByPositionWithTheUnfilledSlotsZero) {
    for (int k = 0; k < 16; ++k) {
        state.store.LiveVal.set(k, 220.5F + static_cast<float>(k) / 3.0F);
    }
    recorder.step();
    const auto rows = log.rows(1);
    ASSERT_EQ(rows.size(), 1U);
    EXPECT_DOUBLE_EQ(rows[0].date, dateOf(kNoon));
    EXPECT_DOUBLE_EQ(rows[0].time, timeOf(kNoon));
    for (int k = 0; k < 26; ++k) {
        const float expected = k < 16 ? 220.5F + static_cast<float>(k) / 3.0F : 0.0F;
        EXPECT_EQ(rows[0].values[static_cast<std::size_t>(k)], expected) << k;
    }
    EXPECT_EQ(log.lastMonth(), 12);
}

TEST_F(RecorderTest, AClockSetBackAnHourWritesAtOnceAndThenOncePerSecond) {
    recorder.step();
    clock.advance(-3600);
    EXPECT_EQ(recorder.okitime(), 3600);
    recorder.step();
    recorder.step();
    EXPECT_EQ(log.count(), 2);
    clock.advance(1);
    recorder.step();
    EXPECT_EQ(log.count(), 3);
    EXPECT_EQ(log.lastId(), 3);
}

TEST_F(RecorderTest, MidnightCountsAsOneSecond) {
    clock.set(QDateTime(QDate(2026, 12, 8), QTime(23, 59, 59)));
    recorder.step();
    clock.set(QDateTime(QDate(2026, 12, 9), QTime(0, 0, 0)));
    EXPECT_EQ(recorder.okitime(), 1);
    recorder.step();
    const auto rows = log.rows(2);
    ASSERT_EQ(rows.size(), 1U);
    EXPECT_DOUBLE_EQ(rows[0].date, dateOf(clock.now()));
    EXPECT_DOUBLE_EQ(rows[0].time, 0.0);
}

TEST_F(RecorderTest, TheRingWrapsAfter65500AndOverwritesRecordOneInPlace) {
    const QDateTime yesterday = kNoon.addDays(-1);
    ASSERT_TRUE(log.insert(trendtest::secondsApart(1, 3, yesterday)));
    ASSERT_TRUE(log.setLastId(65499));
    recorder.step();
    EXPECT_EQ(log.lastId(), 65500);
    EXPECT_EQ(log.rows(65500).size(), 1U);
    clock.advance(1);
    recorder.step();
    EXPECT_EQ(log.lastId(), 1);
    const auto first = log.rows(1);
    ASSERT_EQ(first.size(), 1U);
    EXPECT_DOUBLE_EQ(first[0].date, dateOf(kNoon));
    EXPECT_EQ(log.count(), 4);
}

TEST_F(RecorderTest, ALastIdOf65500StartsAgainAtOneAndOneOutsideTheRingGoesOnAfterTheNewest) {
    std::int32_t expected = 1;
    for (const std::int32_t lastId : {65500, 70000, -5}) {
        ASSERT_TRUE(log.setLastId(lastId));
        clock.advance(1);
        recorder.step();
        EXPECT_EQ(log.lastId(), expected++) << lastId;
    }
    EXPECT_EQ(log.count(), 3);
    EXPECT_EQ(log.count(QStringLiteral("w_id < 1 OR w_id > 65500")), 0);
}

// A full ring whose newest snapshot is 5, restarted on a control row that cannot say so.
TEST_F(RecorderTest, ADamagedOrMissingControlRowGoesOnAfterTheNewestSnapshotByItsMoment) {
    ASSERT_TRUE(log.insert(trendtest::secondsApart(65498, 3, kNoon.addDays(-1))));
    ASSERT_TRUE(log.insert(trendtest::secondsApart(1, 5, kNoon.addSecs(-60))));
    std::int32_t expected = 6;
    for (const char* lastId : {"", "NULL", "'text'", "-1", "65501", "12.5"}) {
        ASSERT_TRUE(log.exec(QStringLiteral("DELETE FROM sl_void")));
        if (*lastId != 0) {
            ASSERT_TRUE(log.exec(
                QStringLiteral("INSERT INTO sl_void VALUES(%1, 0, 12)").arg(QLatin1String(lastId))));
        }
        const int before = log.count();
        trend::ReadingLog again(QStringLiteral("again"), log.path());
        ASSERT_TRUE(again.open());
        trend::Recorder restarted(again, state);
        clock.advance(1);
        restarted.step();
        EXPECT_EQ(log.count(), before + 1) << "a stored snapshot was overwritten, last_id " << lastId;
        EXPECT_EQ(log.rows(expected).size(), 1U) << lastId;
        EXPECT_EQ(log.lastId(), *lastId != 0 ? std::optional<std::int32_t>(expected) : std::nullopt)
            << "the control row was created or not written, last_id " << lastId;
        ++expected;
    }
    // Within a run its own last snapshot is the newest, whatever the clock says afterwards.
    trend::ReadingLog again(QStringLiteral("again"), log.path());
    ASSERT_TRUE(again.open());
    ASSERT_TRUE(log.exec(QStringLiteral("DELETE FROM sl_void")));
    trend::Recorder restarted(again, state);
    clock.advance(1);
    restarted.step();
    clock.advance(-3600);
    restarted.step();
    clock.advance(1);
    restarted.step();
    EXPECT_EQ(log.rows(expected + 2).size(), 1U) << "the clock set back makes one number repeat";
}

TEST_F(RecorderTest, AnnouncesSnapshotsOnlyWhileTheMainWindowIsLoaded) {
    recorder.step();
    EXPECT_FALSE(state.newRecordReady);
    EXPECT_EQ(log.count(), 1);

    state.mainWindowLoaded = true;
    clock.advance(1);
    recorder.step();
    EXPECT_TRUE(state.newRecordReady);

    state.newRecordReady = false;
    recorder.step();
    EXPECT_FALSE(state.newRecordReady) << "no snapshot in the same second, no announcement";
}

TEST_F(RecorderTest, RestartingContinuesAfterTheNewestRecord) {
    recorder.step();
    clock.advance(1);
    recorder.step();
    trend::ReadingLog again(QStringLiteral("again"), log.path());
    ASSERT_TRUE(again.open());
    trend::Recorder restarted(again, state);
    restarted.step();
    EXPECT_EQ(log.lastId(), 3);
    EXPECT_EQ(log.count(), 3);
}

// Logs made by other tools: columns named otherwise, no key, a number stored twice.
class ForeignLogTest : public RecorderTest {
  protected:
    void SetUp() override {
        RecorderTest::SetUp();
        ASSERT_TRUE(log.exec(QStringLiteral("DROP TABLE pv_data")));
        QString columns = QStringLiteral("w_id INTEGER, w_date REAL, w_time REAL");
        for (int k = 0; k < 26; ++k) {
            columns += QStringLiteral(", reading%1 REAL").arg(k);
        }
        ASSERT_TRUE(log.exec(QStringLiteral("CREATE TABLE pv_data(%1, note TEXT)").arg(columns)));
    }
};

TEST_F(ForeignLogTest, WritesColumnsByPositionAndLeavesTheColumnsAfterThemAlone) {
    state.store.LiveVal.set(0, 380.25F);
    recorder.step();
    QSqlQuery query(log.db());
    ASSERT_TRUE(query.exec(QStringLiteral("SELECT w_id, reading0, note FROM pv_data")));
    ASSERT_TRUE(query.next());
    EXPECT_EQ(query.value(0).toInt(), 1);
    EXPECT_FLOAT_EQ(query.value(1).toFloat(), 380.25F);
    EXPECT_TRUE(query.value(2).isNull());
}

TEST_F(ForeignLogTest, OverwritesOnlyTheFirstOfSeveralRowsWithOneNumber) {
    const QDateTime old = kNoon.addDays(-1);
    ASSERT_TRUE(log.exec(QStringLiteral("INSERT INTO pv_data(w_id, w_date, w_time) VALUES"
                                        "(3, %1, 0.25), (3, %1, 0.5)")
                             .arg(dateOf(old))));
    ASSERT_TRUE(log.setLastId(2));
    recorder.step();
    const auto rows = log.rows(3);
    ASSERT_EQ(rows.size(), 2U);
    EXPECT_DOUBLE_EQ(rows[0].date, dateOf(kNoon));
    EXPECT_DOUBLE_EQ(rows[1].date, dateOf(old));
    EXPECT_DOUBLE_EQ(rows[1].time, 0.5);
}

} // namespace
