// The whole station against the real simulator over a pseudo-terminal, through the real library.

#include "app/Station.h"
#include "SimProcess.h"
#include "link/LinkPanel.h"
#include "monitor/ssqx.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
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

/// Numbers and count of the snapshots in a log, read on a connection of the test's own.
struct LogContents {
    int lastId = -1;
    int rows = -1;
    int highest = -1;
    QString integrity;
};

LogContents readLog(const QString& path) {
    LogContents contents;
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("e2e"));
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery query(db);
            if (query.exec(QStringLiteral("PRAGMA integrity_check")) && query.next()) {
                contents.integrity = query.value(0).toString();
            }
            if (query.exec(QStringLiteral("SELECT last_id FROM sl_void")) && query.next()) {
                contents.lastId = query.value(0).toInt();
            }
            if (query.exec(QStringLiteral("SELECT count(*), max(w_id) FROM pv_data")) &&
                query.next()) {
                contents.rows = query.value(0).toInt();
                contents.highest = query.value(1).toInt();
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("e2e"));
    return contents;
}

/// The environment of a station run offscreen on the data folder of a test.
QProcessEnvironment stationEnvironment(const TempDir& dir) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), QString::fromStdString(dir.path()));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return env;
}

TEST(Station, RecordsEverySecondAndARestartContinuesTheRing) {
    TempDir dir;
    const QString path = QString::fromStdString(dir.path()) + QStringLiteral("/JetR/Rdatabj.db");
    ASSERT_EQ(
        QProcess::execute(QStringLiteral(INITDB_EXECUTABLE), {QStringLiteral("--path"), path}), 0);
    const QProcessEnvironment env = stationEnvironment(dir);

    int before = 0;
    for (int run = 0; run < 2; ++run) {
        QProcess station;
        station.setProcessEnvironment(env);
        station.start(QStringLiteral(STATION_EXECUTABLE), {});
        ASSERT_TRUE(station.waitForStarted(5000));
        // The recorder starts with the main window, about 1.5 s after the splash.
        EXPECT_FALSE(station.waitForFinished(4500));
        station.kill();
        station.waitForFinished(5000);

        const LogContents contents = readLog(path);
        EXPECT_EQ(contents.integrity, QStringLiteral("ok"));
        EXPECT_GE(contents.lastId - before, 2) << "run " << run;
        EXPECT_LE(contents.lastId - before, 5) << "run " << run;
        EXPECT_EQ(contents.rows, contents.lastId) << "consecutive numbers from 1, none twice";
        EXPECT_EQ(contents.highest, contents.lastId);
        before = contents.lastId;
    }
}

TEST(Station, ASecondStartOnTheSameLogHandsOverToTheRunningOneAndEnds) {
    TempDir dir;
    const QString path = QString::fromStdString(dir.path()) + QStringLiteral("/JetR/Rdatabj.db");
    ASSERT_EQ(
        QProcess::execute(QStringLiteral(INITDB_EXECUTABLE), {QStringLiteral("--path"), path}), 0);
    const QProcessEnvironment env = stationEnvironment(dir);
    QProcess first;
    first.setProcessEnvironment(env);
    first.start(QStringLiteral(STATION_EXECUTABLE), {});
    ASSERT_TRUE(first.waitForStarted(5000));
    QElapsedTimer clock;
    clock.start();
    while (readLog(path).lastId < 1 && clock.elapsed() < 5000) {
        QTest::qWait(100);
    }
    ASSERT_GE(readLog(path).lastId, 1) << first.readAllStandardError().toStdString();

    QProcess second;
    second.setProcessEnvironment(env);
    second.start(QStringLiteral(STATION_EXECUTABLE), {});
    ASSERT_TRUE(second.waitForFinished(8000)) << "a second station runs on the log";
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();

    const int before = readLog(path).lastId;
    QTest::qWait(3000);
    const LogContents after = readLog(path);
    EXPECT_LE(after.lastId - before, 4) << "the ring gets some seconds twice";
    EXPECT_GE(after.lastId - before, 2) << "the running station stopped recording";
    EXPECT_EQ(first.state(), QProcess::Running);
    first.kill();
    first.waitForFinished(5000);
}

} // namespace
