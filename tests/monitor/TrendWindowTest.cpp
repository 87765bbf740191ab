// The main window's trend against a real reading log and the real recorder.

#include "FakeMeter.h"
#include "TrendLogFixture.h"
#include "common/DayNumber.h"
#include "monitor/ssqx.h"
#include "trend/TrendSurface.h"
#include "trend/mscom.h"

#include <QImage>
#include <QLabel>

#include <gtest/gtest.h>

using monitor::ssqx;
using trendtest::SteppedClock;
using trendtest::TestLog;

namespace {

const QDateTime kMorning(QDate(2026, 12, 8), QTime(9, 0, 0));

class TrendWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fake_reset();
        ASSERT_TRUE(log.created());
    }

    void load() {
        window = std::make_unique<ssqx>(state, meter);
        window->setEndProcess([] {});
        window->Form_Load();
        window->show();
    }

    [[nodiscard]] std::size_t solidLines() const {
        const auto& lines = window->pt->lines();
        return static_cast<std::size_t>(
            std::count_if(lines.begin(), lines.end(), [](const trend::ChartLine& line) {
                return line.style == trend::LineStyle::Solid;
            }));
    }

    TestLog log;
    SteppedClock clock{kMorning.addSecs(1000)};
    meterlink::SharedState state;
    meterlink::MeterAccess meter{QStringLiteral(FAKE_METER_LIBRARY)};
    std::unique_ptr<ssqx> window;
};

TEST_F(TrendWindowTest, LoadDrawsTheNewestSnapshotsWithTheirTimesUnderTheChart) {
    ASSERT_TRUE(log.insert(trendtest::secondsApart(1, 1000, kMorning)));
    ASSERT_TRUE(log.setLastId(1000));
    load();
    EXPECT_EQ(window->m_trendBuffer.value(0, 1), 760.0F);
    EXPECT_EQ(window->m_trendBuffer.value(0, 241), 1000.0F);
    EXPECT_EQ(solidLines(), 60U * 11U);
    // Caption 0 names point 181, record 940; caption 6 point 241, the newest record.
    EXPECT_EQ(window->Label4.value(0, nullptr)->text(), QStringLiteral("09:15:39"));
    EXPECT_EQ(window->Label7.value(0, nullptr)->text(), QStringLiteral("2026/12/08"));
    EXPECT_EQ(window->Label4.value(6, nullptr)->text(), QStringLiteral("09:16:39"));
    EXPECT_EQ(window->Label4.value(7, nullptr)->text(), QStringLiteral("09:16:49"));
    // No zoom has been applied before the first load, so the read-out names point 1 until the
    // clock takes the label over.
    EXPECT_EQ(window->Label2.value(10, nullptr)->text(), QStringLiteral("09:12:39"));
}

TEST_F(TrendWindowTest, RecordedSnapshotsGrowTheChartAndRenewItAfterTwentyPoints) {
    ASSERT_TRUE(log.insert(trendtest::secondsApart(1, 1000, kMorning)));
    ASSERT_TRUE(log.setLastId(1000));
    load();
    trend::mscom recorder(state, nullptr, log.path());
    recorder.Timer1.stop();
    for (int second = 1; second <= 20; ++second) {
        clock.advance(1);
        state.store.LiveVal.set(0, 5000.0F + static_cast<float>(second));
        recorder.Timer1_Timer();
        ASSERT_TRUE(state.newRecordReady);
        window->Timer1_Timer();
        ASSERT_FALSE(state.newRecordReady);
        if (second < 20) {
            ASSERT_EQ(window->m_view.viewEnd, 241 + second);
            ASSERT_EQ(solidLines(), static_cast<std::size_t>(60 + second) * 11U);
        }
    }
    // The twentieth point starts a fresh live window on the newest 241 records, then appends.
    EXPECT_EQ(window->m_view.newestRecord, 1020);
    EXPECT_EQ(window->m_view.windowEnd, 1020);
    EXPECT_EQ(window->m_view.viewEnd, 241);
    EXPECT_EQ(window->m_trendBuffer.value(0, 240), 5019.0F);
    EXPECT_EQ(window->m_trendBuffer.value(0, 241), 5020.0F);
}

TEST_F(TrendWindowTest, WithoutALogTheChartStillTakesTheLivePoints) {
    TestData empty;
    load();
    state.store.LiveVal.set(2, 379.0F);
    state.newRecordReady = true;
    window->Timer1_Timer();
    EXPECT_EQ(window->m_trendBuffer.value(2, 242), 379.0F);
    EXPECT_EQ(solidLines(), 61U * 11U);
    EXPECT_FALSE(QFile::exists(empty.readingLog()));
}

TEST_F(TrendWindowTest, TheSurfacePaintsTheCurvesInTheirColoursOnTheChartBackground) {
    std::vector<trendtest::Row> rows = trendtest::secondsApart(1, 241, kMorning);
    for (auto& row : rows) {
        row.values.fill(0.0F);
        row.values[0] = 3000.0F;
    }
    ASSERT_TRUE(log.insert(rows));
    ASSERT_TRUE(log.setLastId(241));
    load();
    const QImage image = window->pt->grab().toImage();
    ASSERT_EQ(image.size(), window->pt->size());
    EXPECT_EQ(image.pixelColor(5, 5).rgb() & 0xFFFFFF, 0xC0FFC0U);
    // 3000 of a 6000 full scale: y = 7508 - 3750 twips, about pixel 250.
    bool red = false;
    for (int y = 248; y <= 253; ++y) {
        red = red || (image.pixelColor(300, y).rgb() & 0xFFFFFF) == 0xFF0000U;
    }
    EXPECT_TRUE(red);
}

} // namespace
