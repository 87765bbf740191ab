#include "trend/ReadingLogFiles.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QStandardPaths>
#include <QUrl>

namespace trend {

QString readingLogPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/JetR/Rdatabj.db");
}

QString pvDataSchema() {
    QString sql = QStringLiteral("CREATE TABLE pv_data(w_id INTEGER PRIMARY KEY, w_date REAL, "
                                 "w_time REAL");
    for (int k = 0; k < kValueColumns; ++k) {
        sql += QStringLiteral(", w_v%1 REAL").arg(k);
    }
    return sql + u')';
}

QString slVoidSchema() {
    return QStringLiteral(
        "CREATE TABLE sl_void(last_id INTEGER, last_id_copy INTEGER, last_month INTEGER)");
}

QString slVoidFirstRow(int month) {
    return QStringLiteral("INSERT INTO sl_void(last_id, last_id_copy, last_month) VALUES(0, 0, %1)")
        .arg(month);
}

bool openReadingLog(const QString& connectionName) {
    return openReadingLog(connectionName, readingLogPath());
}

bool openReadingLog(const QString& connectionName, const QString& path) {
    QSqlDatabase db = QSqlDatabase::contains(connectionName)
                          ? QSqlDatabase::database(connectionName, false)
                          : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
    db.close();
    // mode=rw makes SQLite refuse a missing file instead of creating an empty one; the check
    // before it keeps a missing file from reaching the driver at all.
    db.setDatabaseName(
        QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString(QUrl::FullyEncoded) +
        QStringLiteral("?mode=rw"));
    db.setConnectOptions(
        QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(kReadingLogBusyTimeoutMs));
    if (!QFileInfo(path).isFile()) {
        return false;
    }
    return db.open();
}

} // namespace trend
