#include "FaultLog.h"
#include "TestData.h"
#include "common/DayNumber.h"
#include "trend/HistoryQuery.h"
#include "trend/ReadingLog.h"
#include "trend/Recorder.h"
#include "trend/mscom.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <thread>

#include <unistd.h>

using faulttest::LogInspection;
using faulttest::Texts;

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr int kTicksPerSecond = 10;
// The one timed check of these tests. While another process holds the log, no tick may wait
// longer than this on it, or the window the recorder shares its thread with freezes; it bounds
// what the lock costs, it is not a speed target.
constexpr auto kTickBudget = std::chrono::milliseconds(50);
// A closed log is tried again once a second; not picked up after this long, it never will be.
constexpr auto kReopenGuard = std::chrono::seconds(3);
constexpr auto kRealTimeStep = std::chrono::milliseconds(20);
constexpr auto kReopenInterval = std::chrono::milliseconds(trend::ReadingLog::kReopenIntervalMs);
constexpr int kHolderMs = 10000;
constexpr qint64 kWalBound = 8 * 1024 * 1024;

const QString kRecorderConnection = QString::fromLatin1(trend::mscom::kConnectionName);

/// Qt's own warnings while it lives.
class QtWarnings {
  public:
    QtWarnings() { m_previous = qInstallMessageHandler(&QtWarnings::keep); }
    ~QtWarnings() { qInstallMessageHandler(m_previous); }
    QtWarnings(const QtWarnings&) = delete;
    QtWarnings& operator=(const QtWarnings&) = delete;
    [[nodiscard]] static std::string text() { return s_kept.join(u'\n').toStdString(); }

  private:
    static void keep(QtMsgType, const QMessageLogContext&, const QString& message) {
        s_kept << message;
    }
    static inline QStringList s_kept;
    QtMessageHandler m_previous = nullptr;
};

bool waitForLine(QProcess& process, const QByteArray& line) {
    while (!process.canReadLine()) {
        if (!process.waitForReadyRead(kHolderMs)) {
            return false;
        }
    }
    return process.readLine().trimmed() == line;
}

/// The recorder on a log of the test's own, with a clock the test steps.
class RecorderFault : public ::testing::Test {
  protected:
    RecorderFault() {
        common::setClock([this] { return m_now; });
        m_state.mainWindowLoaded = true;
    }
    ~RecorderFault() override {
        m_recorder.reset();
        m_log.reset();
        common::setClock({});
    }

    [[nodiscard]] QString path() const { return m_data.readingLog(); }

    /// The recorder as the station creates it: its own connection, opened at once.
    void startRecorder() {
        m_recorder.reset();
        m_log = std::make_unique<trend::ReadingLog>(kRecorderConnection, path());
        m_log->open();
        m_recorder = std::make_unique<trend::Recorder>(*m_log, m_state);
    }

    void stopRecorder() {
        m_recorder.reset();
        m_log.reset();
    }

    /// One tick of the recorder's timer, with readings that belong to the clock's second.
    void tick() {
        const int second = m_now.time().msecsSinceStartOfDay() / 1000;
        for (int k = 0; k < faulttest::kFilledValues; ++k) {
            m_state.store.LiveVal.set(k, faulttest::liveValue(second, k));
        }
        m_recorder->step();
    }

    /// The clock a second on and the timer's ticks in it; each second is announced to the
    /// main window, stored or not.
    void runSeconds(int seconds, int ticks = 3) {
        for (int s = 0; s < seconds; ++s) {
            m_now = m_now.addSecs(1);
            m_state.newRecordReady = false;
            for (int t = 0; t < ticks; ++t) {
                tick();
            }
            EXPECT_TRUE(m_state.newRecordReady) << "second " << s << " was not announced";
        }
    }

    /// Runs seconds in real time until the log holds wantLastId; false when it never came.
    bool runUntilStored(std::int32_t wantLastId) {
        const auto deadline = SteadyClock::now() + kReopenGuard;
        while (SteadyClock::now() < deadline) {
            runSeconds(1);
            if (lastId() >= wantLastId) {
                return true;
            }
            std::this_thread::sleep_for(kRealTimeStep);
        }
        return false;
    }

    /// A statement on the recorder's own connection.
    static bool onRecorderConnection(const QString& sql) {
        QSqlQuery query(QSqlDatabase::database(kRecorderConnection, false));
        return query.exec(sql);
    }

    [[nodiscard]] std::int32_t lastId() const {
        LogInspection log(path());
        const Texts row = LogInspection::row(QStringLiteral("SELECT last_id FROM sl_void"));
        return row.empty() ? -1 : std::stoi(row[0]);
    }

    /// A sound log: an undamaged file whose snapshots are numbered 1..count without a gap or a
    /// duplicate, in clock order, each holding the readings of its own second, and a control row
    /// (when there is one) naming the last.
    void expectSoundLog(std::int32_t count, bool controlRow = true) const {
        LogInspection log(path());
        ASSERT_TRUE(log.open());
        ASSERT_EQ(LogInspection::row(QStringLiteral("PRAGMA integrity_check")), Texts{"ok"});
        if (controlRow) {
            EXPECT_EQ(LogInspection::row(QStringLiteral("SELECT last_id, last_id_copy, count(*) "
                                                        "FROM sl_void")),
                      (Texts{std::to_string(count), std::to_string(count), "1"}));
        }
        QSqlQuery query(LogInspection::db());
        ASSERT_TRUE(query.exec(QStringLiteral("SELECT * FROM pv_data ORDER BY w_id, rowid")));
        std::int32_t expectedId = 0;
        double previous = -1;
        while (query.next()) {
            ++expectedId;
            ASSERT_EQ(query.value(0).toInt(), expectedId) << "numbering has a gap or a duplicate";
            const double date = query.value(1).toDouble();
            const double time = query.value(2).toDouble();
            const double seconds = date * 86400 + std::round(time * 86400);
            EXPECT_GT(seconds, previous) << "row " << expectedId << " is out of clock order";
            previous = seconds;
            const int second = static_cast<int>(std::round(time * 86400));
            for (int k = 0; k < trend::kValueColumns; ++k) {
                const float want =
                    k < faulttest::kFilledValues ? faulttest::liveValue(second, k) : 0.0F;
                ASSERT_EQ(query.value(3 + k).toFloat(), want)
                    << "row " << expectedId << " column w_v" << k << " is damaged";
            }
        }
        EXPECT_EQ(expectedId, count);
    }

    TestData m_data;
    meterlink::SharedState m_state;
    // Late in the day, so the recording runs over midnight on the way.
    QDateTime m_now{QDate(2026, 3, 28), QTime(23, 59, 30), QTimeZone::utc()};
    std::unique_ptr<trend::ReadingLog> m_log;
    std::unique_ptr<trend::Recorder> m_recorder;
};

TEST_F(RecorderFault, AMissingLogIsNeverCreatedAndIsPickedUpOnceTheToolMakesIt) {
    startRecorder();
    EXPECT_FALSE(m_log->isOpen());
    runSeconds(5);
    EXPECT_FALSE(QFileInfo::exists(path()));
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(path()).absolutePath()));
    EXPECT_EQ(m_recorder->recordCounter, 5) << "the count goes on in memory";

    ASSERT_TRUE(m_data.createReadingLog());
    ASSERT_TRUE(runUntilStored(1));
    runSeconds(4);
    ASSERT_NO_FATAL_FAILURE(expectSoundLog(5));
}

TEST_F(RecorderFault, ALogRemovedWhileRecordingIsPickedUpAgainOnceTheToolMakesItAnew) {
    ASSERT_TRUE(m_data.createReadingLog());
    startRecorder();
    runSeconds(5);
    for (const char* suffix : {"", "-wal", "-shm"}) {
        QFile::remove(path() + QString::fromLatin1(suffix));
    }
    runSeconds(5);
    EXPECT_FALSE(QFileInfo::exists(path()));

    ASSERT_TRUE(m_data.createReadingLog());
    EXPECT_TRUE(runUntilStored(1)) << "the recorder still writes to the removed file";
    runSeconds(4);
    ASSERT_NO_FATAL_FAILURE(expectSoundLog(5));
}

TEST_F(RecorderFault, AReadOnlyLogLosesSnapshotsButNoStoredRowAndRecordingGoesOnAfterIt) {
    ASSERT_TRUE(m_data.createReadingLog());
    startRecorder();
    runSeconds(5);
    stopRecorder();

    // Root writes whatever the mode bits say, so for root the connection refuses writes itself.
    ASSERT_TRUE(
        QFile::setPermissions(path(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    startRecorder();
    if (::geteuid() == 0) {
        ASSERT_TRUE(onRecorderConnection(QStringLiteral("PRAGMA query_only=1")));
    }
    runSeconds(5);
    EXPECT_EQ(lastId(), 5);
    ASSERT_NO_FATAL_FAILURE(expectSoundLog(5));

    ASSERT_TRUE(QFile::setPermissions(path(), QFile::ReadOwner | QFile::WriteOwner |
                                                  QFile::ReadGroup | QFile::ReadOther));
    ASSERT_TRUE(runUntilStored(6));
    EXPECT_EQ(lastId(), 6) << "the numbering has a gap";
    runSeconds(3);
    ASSERT_NO_FATAL_FAILURE(expectSoundLog(9));
}

TEST_F(RecorderFault, AFaultThatClosesTheLogMidSnapshotPutsOnlyTheStopAndRecoveryOnStandardError) {
    ASSERT_TRUE(m_data.createReadingLog());
    QStringList told;
    startRecorder();
    m_recorder->setReport([&told](const QString& line) { told << line; });
    runSeconds(2);
    {
        // A log that cannot be written closes its connection inside the snapshot's transaction,
        // as a read-only file does for a user who may not write it.
        LogInspection log(path());
        ASSERT_TRUE(LogInspection::exec(QStringLiteral(
            "CREATE TRIGGER refuse BEFORE INSERT ON pv_data BEGIN SELECT RAISE(ABORT, "
            "'refused'); END")));
    }
    const QtWarnings warnings;
    // Long enough in real time for the closed log to be opened and fail again twice.
    const auto until = SteadyClock::now() + 2 * kReopenInterval + kRealTimeStep;
    while (SteadyClock::now() < until) {
        runSeconds(1);
        std::this_thread::sleep_for(kRealTimeStep);
    }
    EXPECT_EQ(QtWarnings::text(), "");
    ASSERT_EQ(told.size(), 1) << qPrintable(told.join(u'\n'));
    EXPECT_TRUE(told.constLast().contains(QStringLiteral("stopped: refused")));
    {
        LogInspection log(path());
        ASSERT_TRUE(LogInspection::exec(QStringLiteral("DROP TRIGGER refuse")));
    }
    ASSERT_TRUE(runUntilStored(3));
    EXPECT_EQ(QtWarnings::text(), "");
    ASSERT_EQ(told.size(), 2) << qPrintable(told.join(u'\n'));
    EXPECT_TRUE(told.constLast().contains(QStringLiteral("works again")));
}

TEST_F(RecorderFault, AControlTableWithoutItsRowStillGetsNumberedSnapshots) {
    ASSERT_TRUE(m_data.createReadingLog());
    {
        LogInspection log(path());
        ASSERT_TRUE(LogInspection::exec(QStringLiteral("DELETE FROM sl_void")));
    }
    startRecorder();
    runSeconds(5);
    EXPECT_EQ(m_recorder->recordCounter, 5);
    EXPECT_EQ(lastId(), -1) << "the control row was created";
    ASSERT_NO_FATAL_FAILURE(expectSoundLog(5, false));

    {
        LogInspection log(path());
        ASSERT_TRUE(LogInspection::exec(QStringLiteral("INSERT INTO sl_void VALUES(5, 5, 3)")));
    }
    runSeconds(3);
    ASSERT_NO_FATAL_FAILURE(expectSoundLog(8));
}

TEST_F(RecorderFault, AFullDiskLosesSnapshotsButNoStoredRowAndRecordingGoesOnAfterIt) {
    ASSERT_TRUE(m_data.createReadingLog());
    startRecorder();
    runSeconds(40, 1);
    QSqlQuery pages(QSqlDatabase::database(kRecorderConnection, false));
    ASSERT_TRUE(pages.exec(QStringLiteral("PRAGMA page_count")) && pages.next());
    const int pageCount = pages.value(0).toInt();
    pages.finish();
    // New rows go at the end of the table and need pages the file may not grow by.
    ASSERT_TRUE(onRecorderConnection(QStringLiteral("PRAGMA max_page_count=%1").arg(pageCount)));

    runSeconds(60, 1);
    const std::int32_t stored = lastId();
    EXPECT_GE(stored, 40);
    EXPECT_LT(stored, 100) << "the disk never filled";
    EXPECT_EQ(m_log->lastFault(), trend::LogFault::Full);
    ASSERT_NO_FATAL_FAILURE(expectSoundLog(stored));

    ASSERT_TRUE(onRecorderConnection(QStringLiteral("PRAGMA max_page_count=1073741823")));
    runSeconds(1);
    EXPECT_EQ(lastId(), stored + 1) << "recording did not resume at once, or left a gap";
    runSeconds(2);
    ASSERT_NO_FATAL_FAILURE(expectSoundLog(stored + 3));
}

TEST_F(RecorderFault, ALogLockedByAnotherProcessCostsSnapshotsButNeverFreezesATick) {
    ASSERT_TRUE(m_data.createReadingLog());
    startRecorder();
    runSeconds(5);

    QProcess holder;
    holder.start(QStringLiteral(VX310_RECORDER_CHILD), {QStringLiteral("hold"), path()});
    ASSERT_TRUE(waitForLine(holder, "held")) << holder.readAllStandardError().toStdString();
    SteadyClock::duration longest{};
    for (int s = 0; s < 20; ++s) {
        m_now = m_now.addSecs(1);
        for (int t = 0; t < kTicksPerSecond; ++t) {
            const auto started = SteadyClock::now();
            tick();
            longest = std::max(longest, SteadyClock::now() - started);
        }
    }
    EXPECT_LT(longest, kTickBudget);
    EXPECT_EQ(m_log->lastFault(), trend::LogFault::Busy);
    EXPECT_EQ(lastId(), 5);

    holder.write("\n");
    holder.closeWriteChannel();
    ASSERT_TRUE(holder.waitForFinished(kHolderMs));
    ASSERT_EQ(holder.exitStatus(), QProcess::NormalExit);
    ASSERT_EQ(holder.exitCode(), 0);
    runSeconds(1);
    EXPECT_EQ(lastId(), 6) << "recording did not resume within the second, or left a gap";
    runSeconds(3);
    ASSERT_NO_FATAL_FAILURE(expectSoundLog(9));
}

TEST_F(RecorderFault, TellsOnceWhenRecordingStopsNamingTheCauseAndOnceWhenItWorksAgain) {
    QStringList told;
    const auto restart = [&] {
        told.clear();
        startRecorder();
        m_recorder->setReport([&told](const QString& line) { told << line; });
    };
    const auto expectTold = [&](qsizetype count, const QString& words) {
        ASSERT_EQ(told.size(), count) << qPrintable(told.join(u'\n'));
        EXPECT_TRUE(told.constLast().contains(words)) << qPrintable(told.constLast());
    };
    restart();
    runSeconds(10);
    ASSERT_NO_FATAL_FAILURE(expectTold(1, QStringLiteral("stopped: the log is missing")));
    ASSERT_TRUE(m_data.createReadingLog());
    ASSERT_TRUE(runUntilStored(1));
    runSeconds(5);
    ASSERT_NO_FATAL_FAILURE(expectTold(2, QStringLiteral("works again")));

    struct Damage {
        QString done;
        QString undone;
        QString cause;
    };
    QString foreign = QStringLiteral("CREATE TABLE pv_data(w_date REAL, w_time REAL, w_id INTEGER");
    for (int k = 0; k < trend::kValueColumns; ++k) {
        foreign += QStringLiteral(", w_v%1 REAL").arg(k);
    }
    foreign += u')';
    const std::vector<Damage> damages = {
        {QStringLiteral("DROP TABLE sl_void"),
         QStringLiteral("CREATE TABLE sl_void(last_id INTEGER, last_id_copy INTEGER, "
                        "last_month INTEGER)"),
         QStringLiteral("no such table: sl_void")},
        {QStringLiteral("ALTER TABLE pv_data RENAME TO pv_kept"), QStringLiteral("DROP TABLE pv_data"),
         QStringLiteral("foreign column order")},
    };
    for (const Damage& damage : damages) {
        const qsizetype before = told.size();
        const bool foreignOrder = damage.cause.contains(QStringLiteral("foreign"));
        {
            LogInspection log(path());
            ASSERT_TRUE(LogInspection::exec(damage.done));
            ASSERT_TRUE(!foreignOrder || LogInspection::exec(foreign));
        }
        runSeconds(10);
        ASSERT_NO_FATAL_FAILURE(expectTold(before + 1, damage.cause));
        {
            LogInspection log(path());
            ASSERT_TRUE(LogInspection::exec(damage.undone));
            ASSERT_TRUE(LogInspection::exec(
                foreignOrder ? QStringLiteral("ALTER TABLE pv_kept RENAME TO pv_data")
                             : QStringLiteral("INSERT INTO sl_void SELECT max(w_id), max(w_id), 3 "
                                              "FROM pv_data")));
        }
        runSeconds(5);
        ASSERT_NO_FATAL_FAILURE(expectTold(before + 2, QStringLiteral("works again")));
    }

    // Root writes whatever the mode bits say, so for root the connection refuses writes itself.
    ASSERT_TRUE(
        QFile::setPermissions(path(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    const std::int32_t stored = lastId();
    restart();
    if (::geteuid() == 0) {
        ASSERT_TRUE(onRecorderConnection(QStringLiteral("PRAGMA query_only=1")));
    }
    runSeconds(10);
    ASSERT_NO_FATAL_FAILURE(expectTold(1, QStringLiteral("stopped: the log is read-only")));
    ASSERT_TRUE(QFile::setPermissions(path(), QFile::ReadOwner | QFile::WriteOwner |
                                                  QFile::ReadGroup | QFile::ReadOther));
    ASSERT_TRUE(runUntilStored(stored + 1));
    ASSERT_NO_FATAL_FAILURE(expectTold(2, QStringLiteral("works again")));
}

TEST_F(RecorderFault, TheWalFileStaysSmallOverTwentyThousandSnapshotsWithReadsBetween) {
    constexpr int kSnapshots = 20000;
    constexpr int kSnapshotsPerLoad = 50;
    ASSERT_TRUE(m_data.createReadingLog());
    startRecorder();
    trend::ReadingLog reader(QStringLiteral("ssqx"), path());
    ASSERT_TRUE(reader.open());
    trend::TrendBuffer buffer;
    trend::TrendView view;
    view.windowLength = trend::kLiveWindowLength;
    const QString wal = path() + QStringLiteral("-wal");
    qint64 largestWal = 0;
    for (int i = 1; i <= kSnapshots; ++i) {
        m_now = m_now.addSecs(1);
        tick();
        if (i % kSnapshotsPerLoad == 0) {
            view.windowEnd = reader.newestRecord().value_or(0);
            trend::loadHistory(reader, buffer, view);
            const double newestLoaded =
                buffer.trendTime.get(std::min(i, trend::kLiveWindowLength)).value_or(-1);
            ASSERT_EQ(newestLoaded, common::timeSerial(m_now.time())) << "at snapshot " << i;
        }
        largestWal = std::max(largestWal, QFileInfo(wal).size());
    }
    RecordProperty("largestWalBytes", QString::number(largestWal).toStdString());
    EXPECT_LT(largestWal, kWalBound);
    ASSERT_NO_FATAL_FAILURE(expectSoundLog(kSnapshots));
}

} // namespace

// The database driver and the child processes want an application object.
int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
