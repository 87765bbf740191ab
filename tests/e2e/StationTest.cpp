// The whole station against the real simulator over a pseudo-terminal, through the real library.

#include "app/Station.h"
#include "SimProcess.h"
#include "link/LinkPanel.h"
#include "monitor/ssqx.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using vx310test::SimProcess;
using vx310test::TempDir;

namespace {

bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    }
    return true;
}

double shown(QLabel* label) { return label->text().toDouble(); }

TEST(Station, ShowsTheSimulatedMeterWithinASecondOfOpening) {
    TempDir dir;
    SimProcess sim(dir.path(), {});
    ASSERT_TRUE(sim.ready());

    // The library is found by name beside the running executable, as the station finds it.
    app::Station station;
    ASSERT_TRUE(station.meter().isLoaded());
    station.setEndProcess([] {});
    station.start();
    ASSERT_TRUE(waitUntil([&] { return station.mainWindow() != nullptr; }, 5000));
    monitor::ssqx& main = *station.mainWindow();
    QTest::qWait(250);
    EXPECT_EQ(main.D_3W.value(0, nullptr)->text(), QStringLiteral("0000.0000"));

    QElapsedTimer sinceOpen;
    main.m_linkPanel->Command9->click();
    sinceOpen.start();
    QLabel* uab = main.D_3W.value(0, nullptr);
    QLabel* frequency = main.D_3W.value(10, nullptr);
    QLabel* model = main.D_3W.value(25, nullptr);
    ASSERT_TRUE(waitUntil(
        [&] {
            return uab->text() != QStringLiteral("0000.0000") &&
                   frequency->text() != QStringLiteral("0000.0000");
        },
        1000))
        << "after " << sinceOpen.elapsed() << " ms: Uab " << uab->text().toStdString()
        << ", frequency " << frequency->text().toStdString();
    // The model code follows on the clock's next second.
    EXPECT_TRUE(waitUntil([&] { return model->text() == QStringLiteral("310"); }, 2000))
        << model->text().toStdString();

    EXPECT_NEAR(shown(uab), 380.0, 40.0);
    EXPECT_NEAR(shown(frequency), 50.0, 1.0);
    EXPECT_TRUE(uab->text().contains(QRegularExpression(QStringLiteral("^\\d{4}\\.\\d{4}$"))));
    for (int alarm = 0; alarm < 2; ++alarm) {
        EXPECT_TRUE(
            main.D_2R.value(alarm, nullptr)
                ->text()
                .startsWith(alarm == 0 ? QStringLiteral("报警一") : QStringLiteral("报警二")));
    }
    EXPECT_TRUE(main.Command21->isEnabled());

    // The readings freeze at their last values once the link is closed.
    main.m_linkPanel->Command10->click();
    QTest::qWait(600);
    const QString frozen = uab->text();
    QTest::qWait(1200);
    EXPECT_EQ(uab->text(), frozen);
    EXPECT_FALSE(main.Command21->isEnabled());
}

TEST(Station, RunsOffscreenWithoutADatabaseOrAMeterUntilStopped) {
    TempDir dir;
    QProcess station;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), QString::fromStdString(dir.path()));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    station.setProcessEnvironment(env);
    station.start(QStringLiteral(STATION_EXECUTABLE), {});
    ASSERT_TRUE(station.waitForStarted(5000));
    EXPECT_FALSE(station.waitForFinished(2500)) << station.readAllStandardError().toStdString();
    station.terminate();
    station.waitForFinished(5000);
    EXPECT_FALSE(
        QFile::exists(QString::fromStdString(dir.path()) + QStringLiteral("/JetR/Rdatabj.db")));
}

} // namespace
