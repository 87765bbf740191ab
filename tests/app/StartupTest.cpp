#include "FakeMeter.h"
#include "TestData.h"
#include "app/Station.h"
#include "app/StationGuard.h"
#include "app/frmSplash.h"
#include "link/LinkPanel.h"
#include "link/Met1.h"
#include "monitor/ssqx.h"
#include "trend/ReadingLogFiles.h"
#include "trend/mscom.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class StartupTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fake_reset();
        station.setEndProcess([] {});
    }

    /// Runs the event loop until the main window shows; the time from the splash, in ms.
    qint64 waitForMainWindow(const std::function<void()>& duringSplash = {}) {
        QElapsedTimer clock;
        station.start();
        clock.start();
        if (duringSplash) {
            duringSplash();
        }
        while (clock.elapsed() < 5000) {
            if (station.mainWindow() != nullptr && station.mainWindow()->isVisible()) {
                return clock.elapsed();
            }
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        }
        return -1;
    }

    TestData data;
    app::Station station{QStringLiteral(FAKE_METER_LIBRARY)};
};

TEST_F(StartupTest, SplashShowsItsNoticeThenHandsOverAfterSevenTicksAndOne) {
    QPointer<app::frmSplash> splash;
    const qint64 shownAfter = waitForMainWindow([&] {
        splash = station.splash();
        ASSERT_TRUE(splash->isVisible());
        EXPECT_EQ(splash->Label1->text(),
                  QStringLiteral("系统正在初始化数据引擎，请稍后。。。。。。"));
        EXPECT_EQ(splash->Timer2.interval(), 200);
        EXPECT_EQ(splash->Timer1.interval(), 100);
        EXPECT_TRUE(splash->Timer2.isActive());
        EXPECT_FALSE(splash->Timer1.isActive());
    });
    RecordProperty("shown_after_ms", static_cast<int>(shownAfter));
    EXPECT_GE(shownAfter, 1400);
    EXPECT_LE(shownAfter, 1600);
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(splash.isNull());
}

TEST_F(StartupTest, HandOverCreatesTheHiddenWorkersWithOnlyTheRecorderRunning) {
    ASSERT_GT(waitForMainWindow(), 0);
    ASSERT_NE(station.met1(), nullptr);
    ASSERT_NE(station.recorder(), nullptr);
    EXPECT_FALSE(station.met1()->Timer1().isActive());
    EXPECT_TRUE(station.recorder()->Timer1.isActive());
    EXPECT_EQ(station.recorder()->Timer1.interval(), 100);
    EXPECT_TRUE(station.state().mainWindowLoaded);
    EXPECT_EQ(fake_call_count(), 0);
}

TEST_F(StartupTest, KeysAndCloseRequestsDuringTheSplashDoNothing) {
    const qint64 shownAfter = waitForMainWindow([&] {
        app::frmSplash* splash = station.splash();
        for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_F4, Qt::Key_Space, Qt::Key_A}) {
            QTest::keyClick(splash, key);
        }
        QTest::keyClick(splash, Qt::Key_F4, Qt::AltModifier);
        EXPECT_TRUE(splash->isVisible());
        // A close from the window manager would otherwise end start-up with no window at all.
        EXPECT_FALSE(splash->close());
        EXPECT_TRUE(splash->isVisible());
    });
    EXPECT_GE(shownAfter, 1400);
}

TEST_F(StartupTest, OpenedLinkStartsAcquisitionThroughTheLibrary) {
    ASSERT_GT(waitForMainWindow(), 0);
    fake_set_input_float(1, 380.25F);
    station.mainWindow()->m_linkPanel->Command9_Click();
    EXPECT_TRUE(station.met1()->Timer1().isActive());
    EXPECT_TRUE(station.mainWindow()->Command21->isEnabled());
    QTest::qWait(700);
    EXPECT_EQ(station.mainWindow()->D_3W.value(0, nullptr)->text(), QStringLiteral("0380.2500"));
}

TEST_F(StartupTest, ASecondStartBringsTheMinimisedMainWindowToTheFrontAndEnds) {
    ASSERT_TRUE(data.createReadingLog());
    app::StationGuard guard(trend::readingLogPath());
    ASSERT_EQ(guard.claim(), app::StationGuard::Claim::Run);
    guard.setBringToFront([this] { station.bringToFront(); });
    ASSERT_GT(waitForMainWindow(), 0);
    monitor::ssqx* main = station.mainWindow();
    main->showMinimized();
    ASSERT_TRUE(main->isMinimized());

    QProcess second;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    second.setProcessEnvironment(env);
    second.start(QStringLiteral(STATION_EXECUTABLE), {});
    QElapsedTimer clock;
    clock.start();
    while (second.state() != QProcess::NotRunning && clock.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    }
    ASSERT_EQ(second.state(), QProcess::NotRunning);
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
    EXPECT_FALSE(main->isMinimized());
    EXPECT_TRUE(main->isVisible());
    EXPECT_EQ(QApplication::activeWindow(), main);
}

} // namespace
