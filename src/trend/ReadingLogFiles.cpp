#include "trend/ReadingLogFiles.h"

#include "common/FileIdentity.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QUrl>

#include <optional>
#include <utility>

namespace trend {

namespace {
constexpr int kWalSizeLimitBytes = 1024 * 1024;
// The files the database engine keeps beside a log while it is open or after a crash.
constexpr const char* kCompanionSuffixes[] = {"", "-wal", "-shm", "-journal"};
// As many links as the system itself follows before it gives up.
constexpr int kMostLinksFollowed = 40;

} // namespace

QString resolvedPath(const QString& path) {
    QFileInfo info(path);
    for (int links = 0; links < kMostLinksFollowed && info.isSymLink(); ++links) {
        info.setFile(info.symLinkTarget());
    }
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return folder.isEmpty() ? QDir::cleanPath(info.absoluteFilePath())
                            : folder + u'/' + info.fileName();
}

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

bool isReadingLogFile(const QString& path, const QString& logPath) {
    const auto target = common::fileIdentity(path);
    const QString targetPath = resolvedPath(path);
    // The engine names the companions after the log's own path; a log reached through a link has
    // them beside the file it links to.
    for (const QString& log : {QFileInfo(logPath).absoluteFilePath(), resolvedPath(logPath)}) {
        for (const char* suffix : kCompanionSuffixes) {
            const QString file = log + QLatin1String(suffix);
            const auto identity = common::fileIdentity(file);
            if ((target && identity) ? *target == *identity : resolvedPath(file) == targetPath) {
                return true;
            }
        }
    }
    return false;
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
    if (!QFileInfo(path).isFile() || !db.open()) {
        return false;
    }
    // A WAL log needs no sync per snapshot: a crash of the station loses nothing committed.
    // The size limit gives the WAL file back its space after each checkpoint.
    QSqlQuery pragma(db);
    if (pragma.exec(QStringLiteral("PRAGMA journal_mode")) && pragma.next() &&
        pragma.value(0).toString().compare(u"wal", Qt::CaseInsensitive) == 0) {
        pragma.finish();
        pragma.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
        pragma.exec(QStringLiteral("PRAGMA journal_size_limit=%1").arg(kWalSizeLimitBytes));
    }
    pragma.finish();
    return true;
}

bool openReadingLogReadOnly(QSqlDatabase& db, const QString& path, QString* error) {
    const QFileInfo file(path);
    if (!file.isFile()) {
        *error = file.exists() ? QStringLiteral("not a file") : QStringLiteral("no such file");
        return false;
    }
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=%1")
                             .arg(kReadingLogReaderBusyTimeoutMs));
    if (!db.open()) {
        *error = db.lastError().text();
        return false;
    }
    return true;
}

} // namespace trend
