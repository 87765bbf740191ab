#pragma once

// A full ring of 65,500 snapshots, one second apart, in a new log made by the database tool: the
// log every trend and export benchmark runs on.

#include "common/DayNumber.h"
#include "trend/ReadingLogFiles.h"
#include "trend/TrendState.h"

#include <QDateTime>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>

#include <cstdint>

namespace benchring {

// Somewhere inside the ring, so a plain window needs no wrap and the whole ring does.
inline constexpr std::int32_t kNewestRecord = 30000;
inline const QDateTime kNewestTime(QDate(2026, 3, 28), QTime(14, 0, 0));

/// Creates the log at path and fills the ring; reading k of record i is valueFormula with %1 the
/// column's factor (k + 3) and %2 its offset (50 k), in SQL over i.
inline bool makeFullRing(const QString& path, const char* valueFormula) {
    QProcess initdb;
    initdb.start(QStringLiteral(VX310_INITDB), {QStringLiteral("--path"), path});
    if (!initdb.waitForFinished(10000) || initdb.exitCode() != 0) {
        return false;
    }
    bool ok = false;
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench-seed"));
        db.setDatabaseName(path);
        if (db.open()) {
            const std::int64_t newest =
                static_cast<std::int64_t>(common::dateSerial(kNewestTime.date())) * 86400 +
                kNewestTime.time().msecsSinceStartOfDay() / 1000;
            QStringList values;
            for (int k = 0; k < trend::kValueColumns; ++k) {
                values << (k < 16 ? QString::fromLatin1(valueFormula).arg(k + 3).arg(k * 50)
                                  : QStringLiteral("0"));
            }
            QSqlQuery query(db);
            ok = query.exec(
                     QStringLiteral(
                         "INSERT INTO pv_data WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT "
                         "i + 1 FROM n WHERE i < %1) SELECT i, s / 86400, (s % 86400) / 86400.0, "
                         "%2 FROM (SELECT i, %3 - (%4 - i + %1) % %1 AS s FROM n)")
                         .arg(trend::kRingSize)
                         .arg(values.join(u','))
                         .arg(newest)
                         .arg(kNewestRecord)) &&
                 query.exec(QStringLiteral("UPDATE sl_void SET last_id=%1, last_id_copy=%1")
                                .arg(kNewestRecord));
            query.finish();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench-seed"));
    return ok;
}

} // namespace benchring
