#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

namespace trend {

inline constexpr int kValueColumns = 26;
/// No timer tick waits more than 50 ms on a locked log: at most three waits of this each.
inline constexpr int kReadingLogBusyTimeoutMs = 15;

/// Where the reading log lives: <data>/JetR/Rdatabj.db under the writable generic data folder.
QString readingLogPath();

/// CREATE TABLE text of the snapshot table: w_id, w_date, w_time, w_v0 .. w_v25, in that order.
QString pvDataSchema();

/// CREATE TABLE text of the one-row control table.
QString slVoidSchema();

/// INSERT text of the control row that a new log starts with: no snapshot yet, the given month.
QString slVoidFirstRow(int month);

/// Opens the existing reading log on its own named connection; never creates the file.
bool openReadingLog(const QString& connectionName);

/// As above for a log at an explicit path.
bool openReadingLog(const QString& connectionName, const QString& path);

/// The path a write to path would reach: links followed (a dangling one too), the folder
/// resolved where it exists. Every spelling of one log's path gives the same text.
QString resolvedPath(const QString& path);

/// True when path reaches the reading log at logPath or one of its companion files (-wal, -shm,
/// -journal): the same file by device and inode where both exist, under another name or through a
/// link too; the same path, links followed, where one of them does not exist (yet).
bool isReadingLogFile(const QString& path, const QString& logPath);

/// How long a reader outside the station waits on a log locked by a write: a moment for the
/// recorder's commit; in WAL mode the recorder never waits for a reader.
inline constexpr int kReadingLogReaderBusyTimeoutMs = 500;

/// Opens the log at path on db without the right to write it, for readers beside the station
/// (export, publishing): the recording is never held up and a missing file is never created.
bool openReadingLogReadOnly(QSqlDatabase& db, const QString& path, QString* error);

} // namespace trend
