#include "FaultLog.h"
#include "TestData.h"
#include "trend/ReadingLogFiles.h"
#include "trend/TrendState.h"

#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QSqlQuery>
#include <QStringList>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kKills = 40;
constexpr int kShortestRunMs = 5;
constexpr int kLongestRunMs = 60;
// The child starts Qt and opens the log before it is ready; sanitizers make that slow.
constexpr int kChildReadyMs = 10000;
constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::int64_t kUnixEpochDay = 25569;
// Near the end of the ring: the first runs wrap to 1, the later ones overwrite rows in place.
constexpr std::int32_t kSeedLastId = trend::kRingSize - 50;

using faulttest::LogInspection;
using faulttest::Texts;

// Seconds from day 0 of a stored snapshot, exact whatever the rounding of the day fraction.
const QString kSecondsOfRow =
    QStringLiteral("(CAST(w_date AS INTEGER) * 86400 + CAST(round(w_time * 86400) AS INTEGER))");

/// Where the ring ends after a run.
struct RingEnd {
    std::int32_t lastId = 0;
    /// The newest snapshot, in seconds from day 0.
    std::int64_t newest = 0;
};

/// True (1) for a row whose value columns are not the readings of its own second.
QString wrongReadings() {
    QStringList wrong;
    for (int k = 0; k < trend::kValueColumns; ++k) {
        const QString expected = k < faulttest::kFilledValues
                                     ? QStringLiteral("(round(w_time * 86400) + %1)").arg(0.25 * k)
                                     : QStringLiteral("0");
        wrong << QStringLiteral("w_v%1 IS NOT %2").arg(k).arg(expected);
    }
    return QStringLiteral("(") + wrong.join(QStringLiteral(" OR ")) + u')';
}

/// A full ring one second per record whose newest snapshot is kSeedLastId at newestSecond.
void seedFullRing(const QString& path, std::int64_t newestSecond) {
    LogInspection log(path);
    ASSERT_TRUE(log.open());
    const std::int64_t oldest = newestSecond - (trend::kRingSize - 1);
    QStringList values;
    for (int k = 0; k < trend::kValueColumns; ++k) {
        values << (k < faulttest::kFilledValues ? QStringLiteral("s % 86400 + %1").arg(0.25 * k)
                                                : QStringLiteral("0"));
    }
    ASSERT_TRUE(LogInspection::exec(
        QStringLiteral(
            "INSERT INTO pv_data WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 "
            "FROM n WHERE i < %1) SELECT i, s / 86400, (s % 86400) / 86400.0, %2 FROM "
            "(SELECT i, %3 + (i - %4 - 1 + %1) % %1 AS s FROM n)")
            .arg(trend::kRingSize)
            .arg(values.join(u','))
            .arg(oldest)
            .arg(kSeedLastId)));
    const QDate newestDate = QDate(1899, 12, 30).addDays(newestSecond / kSecondsPerDay);
    ASSERT_TRUE(LogInspection::exec(
        QStringLiteral("UPDATE sl_void SET last_id=%1, last_id_copy=%1, last_month=%2")
            .arg(kSeedLastId)
            .arg(newestDate.month())));
}

/// Number of the record count places after id in the ring.
std::int32_t ringAfter(std::int32_t id, std::int64_t count) {
    return static_cast<std::int32_t>((id - 1 + count) % trend::kRingSize + 1);
}

/// Seconds of the records of the ring from first on, count of them, in ring order; a record
/// whose readings are not those of its second counts as -1.
std::vector<std::int64_t> ringSeconds(std::int32_t first, std::int64_t count) {
    std::vector<std::int64_t> seconds;
    const std::int32_t last = ringAfter(first, count - 1);
    const auto read = [&seconds](std::int32_t from, std::int32_t to) {
        QSqlQuery query(LogInspection::db());
        query.setForwardOnly(true);
        if (!query.exec(QStringLiteral("SELECT %1, %2 FROM pv_data WHERE w_id BETWEEN %3 AND %4 "
                                       "ORDER BY w_id")
                            .arg(kSecondsOfRow, wrongReadings())
                            .arg(from)
                            .arg(to))) {
            return;
        }
        while (query.next()) {
            seconds.push_back(query.value(1).toInt() != 0 ? -1 : query.value(0).toLongLong());
        }
    };
    if (last >= first && count <= trend::kRingSize) {
        read(first, last);
    } else {
        read(first, trend::kRingSize);
        read(1, last);
    }
    return seconds;
}

/// A sound log after a kill: an undamaged file holding a full ring, a control row naming its
/// newest snapshot, and the records from the previous end on climbing one second per record.
/// Without a previous end the whole ring is checked that way.
void expectSoundRing(const QString& path, const RingEnd* previous, RingEnd* end) {
    LogInspection log(path);
    ASSERT_TRUE(log.open());
    ASSERT_EQ(LogInspection::row(QStringLiteral("PRAGMA integrity_check")), Texts{"ok"});
    const std::string ring = std::to_string(trend::kRingSize);
    ASSERT_EQ(LogInspection::row(QStringLiteral("SELECT count(*), min(w_id), max(w_id) FROM "
                                                "pv_data")),
              (Texts{ring, "1", ring}));

    const Texts control = LogInspection::row(
        QStringLiteral("SELECT last_id, last_id_copy, last_month, count(*) FROM sl_void"));
    ASSERT_EQ(control.size(), 4);
    ASSERT_EQ(control[3], "1");
    EXPECT_EQ(control[1], control[0]);
    const std::int32_t lastId = std::stoi(control[0]);

    end->lastId = lastId;
    end->newest =
        previous != nullptr
            ? previous->newest + (lastId - previous->lastId + trend::kRingSize) % trend::kRingSize
            : 0;
    if (previous == nullptr) {
        const Texts newest = LogInspection::row(
            QStringLiteral("SELECT w_id, s FROM (SELECT w_id, %1 AS s FROM pv_data) ORDER BY s "
                           "DESC LIMIT 1")
                .arg(kSecondsOfRow));
        ASSERT_EQ(newest.size(), 2);
        ASSERT_EQ(newest[0], control[0]) << "the control row does not name the newest snapshot";
        end->newest = std::stoll(newest[1]);
    }
    EXPECT_EQ(QDate(1899, 12, 30).addDays(end->newest / kSecondsPerDay).month(),
              std::stoi(control[2]));

    // Nothing is missing, nothing written twice, nothing left behind from before: from the
    // previous end to the new one the ring climbs one second per record, and the record after
    // the new end is the oldest of the ring, so last_id names the newest snapshot.
    const std::int32_t from = previous != nullptr ? previous->lastId : ringAfter(lastId, 1);
    const std::int64_t span = (lastId - from + trend::kRingSize) % trend::kRingSize + 1;
    const std::vector<std::int64_t> seconds = ringSeconds(from, span + 1);
    ASSERT_EQ(static_cast<std::int64_t>(seconds.size()), span + 1);
    for (std::int64_t i = 0; i < span; ++i) {
        ASSERT_EQ(seconds[static_cast<std::size_t>(i)], end->newest - (span - 1 - i))
            << "record " << ringAfter(from, i) << " is missing, damaged or out of place";
    }
    EXPECT_EQ(seconds.back(), end->newest - (trend::kRingSize - 1))
        << "record " << ringAfter(lastId, 1) << " is newer than last_id: the control row is behind";
}

std::int64_t readProgress(const QString& path) {
    QFile file(path);
    std::int64_t steps = -1;
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray bytes = file.readAll();
        if (bytes.size() == sizeof steps) {
            std::memcpy(&steps, bytes.constData(), sizeof steps);
        }
    }
    return steps;
}

bool resetProgress(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(QByteArray(sizeof(std::int64_t), '\0')) == sizeof(std::int64_t);
}

bool waitForLine(QProcess& process, const QByteArray& line) {
    while (!process.canReadLine()) {
        if (!process.waitForReadyRead(kChildReadyMs)) {
            return false;
        }
    }
    return process.readLine().trimmed() == line;
}

TEST(RecorderCrash, KilledAtAnyMomentLeavesASoundLogThatTheNextRunContinues) {
    TestData data;
    ASSERT_TRUE(data.createReadingLog());
    const QString path = data.readingLog();
    const QString progress = data.path() + QStringLiteral("/progress");
    const std::int64_t seedNewest =
        QDate(1899, 12, 30).daysTo(QDate(2026, 3, 28)) * kSecondsPerDay + 14 * 3600;
    ASSERT_NO_FATAL_FAILURE(seedFullRing(path, seedNewest));
    RingEnd before;
    ASSERT_NO_FATAL_FAILURE(expectSoundRing(path, nullptr, &before));
    ASSERT_EQ(before.lastId, kSeedLastId);

    const unsigned seed = std::random_device{}();
    SCOPED_TRACE(testing::Message() << "random seed " << seed);
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> runMs(kShortestRunMs, kLongestRunMs);
    std::int64_t recorded = 0;
    int killedInsideAStep = 0;
    for (int kill = 1; kill <= kKills; ++kill) {
        SCOPED_TRACE(testing::Message() << "kill " << kill);
        ASSERT_TRUE(resetProgress(progress));
        const std::int64_t start = before.newest + 1 - kUnixEpochDay * kSecondsPerDay;
        QProcess child;
        child.start(QStringLiteral(VX310_RECORDER_CHILD),
                    {QStringLiteral("record"), path, QString::number(start), progress});
        ASSERT_TRUE(waitForLine(child, "ready")) << child.readAllStandardError().toStdString();
        std::this_thread::sleep_for(std::chrono::milliseconds(runMs(random)));
        ASSERT_EQ(::kill(static_cast<pid_t>(child.processId()), SIGKILL), 0);
        ASSERT_TRUE(child.waitForFinished(kChildReadyMs));
        ASSERT_EQ(child.exitStatus(), QProcess::CrashExit) << "the child ended by itself";

        const std::int64_t begun = readProgress(progress);
        RingEnd after;
        ASSERT_NO_FATAL_FAILURE(expectSoundRing(path, &before, &after));
        const std::int64_t stored =
            (after.lastId - before.lastId + trend::kRingSize) % trend::kRingSize;
        // Only the snapshot of the step the kill fell into may be missing.
        EXPECT_GE(stored, begun - 1);
        EXPECT_LE(stored, begun);
        killedInsideAStep += stored < begun ? 1 : 0;
        recorded += stored;
        before = after;
    }
    RingEnd last;
    ASSERT_NO_FATAL_FAILURE(expectSoundRing(path, nullptr, &last));
    RecordProperty("snapshots", static_cast<int>(recorded));
    RecordProperty("killedInsideAStep", killedInsideAStep);
    EXPECT_GT(recorded, kKills) << "the runs were too short to record";
}

} // namespace
