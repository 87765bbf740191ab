#pragma once

#include "trend/ReadingLog.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

class QIODevice;

namespace trend {

/// One CSV field: quoted, with its quotes doubled, when it holds a comma, a quote, CR or LF.
QString csvField(const QString& text);

/// One CSV record of the fields, ended by CRLF.
QString csvRecord(const QStringList& fields);

/// The header record: "日期", "时间" and the sixteen reading captions in store order.
QStringList snapshotHeader();

/// Writes the snapshots whose moment (w_date + w_time, to the second) lies between from and to,
/// both included, in clock order, as UTF-8 CSV with a byte-order mark: the header record, then
/// per snapshot the date (yyyy/MM/dd), the time (HH:mm:ss) and w_v0..w_v15 in the general form,
/// an empty field for a value that does not read. Only the wall-clock date and time of from and
/// to count, not their time zone. An invalid or reversed range, or a log that cannot be read,
/// writes nothing and gives false; a device that refuses the bytes gives false after what it
/// took. The one select is finished before the first byte is written; error, when given, gets
/// the reason for a false.
bool exportSnapshots(const QSqlDatabase& db, const QDateTime& from, const QDateTime& to,
                     QIODevice& out, QString* error = nullptr);

/// How an export into a named file ended.
enum class FileExport { Written, Refused, Failed };

/// Writes the snapshots of the range, as above, into the file at path. A path that reaches one of
/// the logs named or one of its companion files is refused before anything is opened. A regular
/// file, new or earlier, is written through a new file beside it that takes its place only once
/// the export is whole: a failed or killed export leaves an earlier file as it was, and a folder
/// that takes no new file fails the export. An existing device or pipe is written in place.
/// error, when given, gets the reason for anything but Written.
FileExport exportSnapshotsToFile(const QSqlDatabase& db, const QDateTime& from,
                                 const QDateTime& to, const QString& path,
                                 const QStringList& logs, QString* error = nullptr);

/// As above on a window's connection to the log.
inline bool exportSnapshots(const ReadingLog& log, const QDateTime& from, const QDateTime& to,
                            QIODevice& out, QString* error = nullptr) {
    return exportSnapshots(log.database(), from, to, out, error);
}

} // namespace trend
