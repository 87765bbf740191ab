// The main window's trend against a real reading log and the real recorder.

#include "FakeMeter.h"
#include "TrendLogFixture.h"
#include "common/DayNumber.h"
#include "monitor/ssqx.h"
#include "trend/TrendSurface.h"
#include "trend/mscom.h"

#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTest>

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
    // With the ruler off the date and time labels are the clock, from the load on; no load
    // writes a snapshot's time there.
    EXPECT_EQ(window->Label2.value(10, nullptr)->text(), QStringLiteral("09:16:40"));
    clock.advance(5);
    window->Timer3_Timer();
    window->Command8->click();
    window->Command7->click();
    EXPECT_EQ(window->Label2.value(10, nullptr)->text(), QStringLiteral("09:16:45"));
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

QRgb background(const QWidget* widget) { return widget->palette().color(QPalette::Window).rgb(); }

void press(QWidget* target, Qt::Key key) { QTest::keyClick(target, key); }

TEST_F(TrendWindowTest, FunctionKeysDriveTheSameActionsAsTheButtons) {
    ASSERT_TRUE(log.insert(trendtest::secondsApart(1, 1000, kMorning)));
    ASSERT_TRUE(log.setLastId(1000));
    load();
    QWidget* focus = window->Command1;
    focus->setFocus();

    press(focus, Qt::Key_F2);
    EXPECT_EQ(window->m_view.zoomLevel, 1) << "no closer level than 1";
    press(focus, Qt::Key_F1);
    EXPECT_EQ(window->m_view.zoomLevel, 2);
    EXPECT_TRUE(window->Command3->isEnabled());
    EXPECT_EQ(window->hc->singleStep(), 75);
    press(focus, Qt::Key_F2);
    EXPECT_EQ(window->m_view.zoomLevel, 1);
    EXPECT_FALSE(window->Command3->isEnabled());
    for (int i = 0; i < 4; ++i) {
        press(focus, Qt::Key_F1);
    }
    EXPECT_EQ(window->m_view.zoomLevel, 4) << "no wider level than 4";
    window->Command3->click();
    window->Command3->click();
    window->Command3->click();

    press(focus, Qt::Key_F6);
    EXPECT_EQ(window->m_view.scrollSteps, 0) << "nothing newer than live";
    press(focus, Qt::Key_F7);
    EXPECT_EQ(window->m_view.scrollSteps, 1);
    EXPECT_EQ(window->m_view.windowEnd, 940);
    EXPECT_FALSE(window->Timer1.isActive());
    EXPECT_TRUE(window->Command7->isEnabled());
    EXPECT_EQ(window->m_trendBuffer.value(0, 321), 940.0F);
    press(focus, Qt::Key_F6);
    EXPECT_EQ(window->m_view.scrollSteps, 0);
    EXPECT_TRUE(window->Timer1.isActive());
    EXPECT_FALSE(window->Command7->isEnabled());
    EXPECT_EQ(window->m_trendBuffer.value(0, 241), 1000.0F);

    for (int step = 0; step < 13; ++step) {
        press(focus, Qt::Key_F7);
    }
    EXPECT_EQ(window->m_view.scrollSteps, 12) << "no step back once blocked";
    for (int step = 0; step < 12; ++step) {
        press(focus, Qt::Key_F6);
    }

    press(focus, Qt::Key_F4);
    EXPECT_TRUE(window->m_view.rulerOn);
    EXPECT_EQ(window->Command5->text(), QStringLiteral("F4 复原"));
    press(window->hc, Qt::Key_F4);
    EXPECT_FALSE(window->m_view.rulerOn);
    EXPECT_EQ(window->Command5->text(), QStringLiteral("F4 标尺"));
}

TEST_F(TrendWindowTest, TheRulerReadsARecordedPointOnYellowAndGivesTheClockBackWhenOff) {
    std::vector<trendtest::Row> rows = trendtest::secondsApart(1, 241, kMorning);
    rows[189].values[0] = 381.25F; // record 190 at point 190
    rows[189].values[10] = 49.98F;
    ASSERT_TRUE(log.insert(rows));
    ASSERT_TRUE(log.setLastId(241));
    load();

    window->Command5->click();
    EXPECT_TRUE(window->hc->isEnabled());
    EXPECT_TRUE(window->hc->hasFocus() || !window->isActiveWindow());
    EXPECT_FALSE(window->Timer1.isActive());
    EXPECT_EQ(window->pt->ruler()->line, QLineF(1, 0, 1, 330));

    window->hc->setValue(1500); // zoom 1: point 180 + 10
    EXPECT_EQ(window->pt->ruler()->line, QLineF(1500, 0, 1500, 7500));
    EXPECT_EQ(window->D_3W.value(0, nullptr)->text(), QStringLiteral("381.25"));
    EXPECT_EQ(window->D_3W.value(10, nullptr)->text(), QStringLiteral("49.98"));
    EXPECT_EQ(window->Label2.value(9, nullptr)->text(), QStringLiteral("2026/12/08"));
    EXPECT_EQ(window->Label2.value(10, nullptr)->text(), QStringLiteral("09:03:09"));
    for (int c = 0; c <= 10; ++c) {
        EXPECT_EQ(background(window->D_3W.value(c, nullptr)), qRgb(255, 255, 0)) << c;
    }
    EXPECT_EQ(background(window->Label2.value(9, nullptr)), qRgb(255, 255, 0));
    EXPECT_NE(background(window->D_3W.value(11, nullptr)), qRgb(255, 255, 0));
    window->Timer3_Timer();
    EXPECT_EQ(window->Label2.value(10, nullptr)->text(), QStringLiteral("09:03:09"))
        << "the clock leaves the ruler's labels alone";

    window->Command5->click();
    EXPECT_EQ(window->hc->value(), 0);
    EXPECT_FALSE(window->hc->isEnabled());
    EXPECT_TRUE(window->Timer1.isActive());
    EXPECT_EQ(window->pt->ruler()->line, QLineF(0, 0, 0, 330));
    window->Timer3_Timer();
    EXPECT_EQ(window->Label2.value(10, nullptr)->text(), QStringLiteral("09:16:40"));
    window->Timer1_Timer();
    EXPECT_EQ(background(window->D_3W.value(0, nullptr)), qRgb(255, 192, 255));
    EXPECT_EQ(background(window->Label2.value(9, nullptr)), qRgb(128, 255, 128));
    EXPECT_EQ(window->D_3W.value(0, nullptr)->text(), QStringLiteral("0000.0000"));
}

TEST_F(TrendWindowTest, TheRulersRightEndInHistoryReturnsToLiveWithTheRulerStillOn) {
    ASSERT_TRUE(log.insert(trendtest::secondsApart(1, 1000, kMorning)));
    ASSERT_TRUE(log.setLastId(1000));
    load();
    window->Command5->click();
    window->hc->setValue(-1);
    EXPECT_EQ(window->m_view.scrollSteps, 1);
    EXPECT_EQ(window->m_view.windowEnd, 940);
    window->hc->setValue(12001);
    EXPECT_EQ(window->m_view.scrollSteps, 0);
    EXPECT_TRUE(window->m_view.rulerOn);
    EXPECT_TRUE(window->Timer1.isActive());
    EXPECT_EQ(window->m_view.windowEnd, 1000);
}

TEST_F(TrendWindowTest, HoldingTheRulerThumbAtAnEndStepsOnceOnItsRelease) {
    ASSERT_TRUE(log.insert(trendtest::secondsApart(1, 1000, kMorning)));
    ASSERT_TRUE(log.setLastId(1000));
    load();
    window->Command5->click();
    window->hc->setSliderDown(true);
    for (const int value : {-1, 0, -1, 0, -1}) {
        window->hc->setValue(value);
    }
    EXPECT_EQ(window->m_view.scrollSteps, 0);
    EXPECT_EQ(window->pt->ruler()->line, QLineF(-1, 0, -1, 7500)) << "the ruler follows the drag";
    window->hc->setSliderDown(false);
    EXPECT_EQ(window->m_view.scrollSteps, 1);
    window->hc->setSliderDown(true);
    window->hc->setSliderDown(false);
    EXPECT_EQ(window->m_view.scrollSteps, 1) << "a press and release without a move";
    window->hc->setSliderDown(true);
    window->hc->setValue(0);
    window->hc->setValue(-1);
    window->hc->setSliderDown(false);
    EXPECT_EQ(window->m_view.scrollSteps, 2) << "away from the end and back, then released";
    window->hc->setValue(0);
    window->hc->setValue(-1);
    EXPECT_EQ(window->m_view.scrollSteps, 3) << "a key or a page click arriving there";
}

TEST_F(TrendWindowTest, OnAWrappedRingStepsBackPastWhereAYoungRingBlocks) {
    // Records after the newest hold the previous day's snapshots: the ring has wrapped.
    ASSERT_TRUE(log.insert(trendtest::secondsApart(1, 1000, kMorning)));
    ASSERT_TRUE(log.insert(trendtest::secondsApart(1001, 200, kMorning.addDays(-1))));
    ASSERT_TRUE(log.setLastId(1000));
    load();
    for (int step = 0; step < 20; ++step) {
        press(window.get(), Qt::Key_F7);
    }
    EXPECT_FALSE(window->m_view.atOldest);
    EXPECT_TRUE(window->Command8->isEnabled());
    EXPECT_EQ(window->m_view.windowEnd, 65500 - 200);
}

TEST_F(TrendWindowTest, WithoutASoundControlRowTheChartEndsOnTheNewestSnapshotByItsMoment) {
    ASSERT_TRUE(log.insert(trendtest::secondsApart(1, 1000, kMorning)));
    for (const char* damage : {"DELETE FROM sl_void", "INSERT INTO sl_void VALUES('x', 0, 12)"}) {
        SCOPED_TRACE(damage);
        ASSERT_TRUE(log.exec(QString::fromLatin1(damage)));
        load();
        EXPECT_EQ(window->m_view.newestRecord, 1000);
        EXPECT_EQ(window->m_trendBuffer.value(0, 241), 1000.0F);
        window.reset();
    }
}

TEST_F(TrendWindowTest, SevenStepsBackFrom1000ShowTheWindowEndingAt580) {
    ASSERT_TRUE(log.insert(trendtest::secondsApart(1, 1000, kMorning)));
    ASSERT_TRUE(log.setLastId(1000));
    load();
    for (int step = 0; step < 7; ++step) {
        window->Command8->click();
    }
    // Records 260 to 580 fill points 1 to 321; caption i names point 180 + 10 i + 1.
    for (int i = 0; i < 9; ++i) {
        const QDateTime at = kMorning.addSecs(259 + 180 + 10 * i);
        EXPECT_EQ(window->Label4.value(i, nullptr)->text(), at.time().toString(u"HH:mm:ss")) << i;
    }
    EXPECT_EQ(window->m_trendBuffer.value(0, 321), 580.0F);
}

} // namespace
