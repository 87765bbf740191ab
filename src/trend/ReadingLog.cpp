#include "trend/ReadingLog.h"

#include "trend/ReadingLogSql.h"
#include "trend/TrendState.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <QVariant>

#include <algorithm>
#include <cmath>
#include <iterator>


namespace trend {

namespace {

constexpr int kControlColumns = 3;
// Primary result codes of the database engine that a reopen cannot cure.
constexpr int kSqliteBusy = 5;
constexpr int kSqliteLocked = 6;
constexpr int kSqliteFull = 13;
constexpr int kSqliteReadOnly = 8;
// The names the statements use, at the positions the snapshot is written by.
constexpr const char* kKeyColumns[] = {"w_id", "w_date", "w_time"};

/// A record number of the ring or 0 for none, as stored; empty for anything else (NULL, text,
/// a fraction, a number outside 0..65500).
std::optional<std::int32_t> ringNumberOf(const QVariant& value) {
    bool ok = false;
    double number = 0;
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Double:
        number = value.toDouble(&ok);
        break;
    default:
        break;
    }
    if (value.isNull() || !ok || number != std::floor(number) || number < 0 ||
        number > kRingSize) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(number);
}

/// Field names of a result at positions 0..count-1, quoted for a statement of our own.
QStringList fieldNames(const QSqlDatabase& db, const QSqlRecord& record, int count) {
    QStringList names;
    for (int i = 0; i < count; ++i) {
        names << db.driver()->escapeIdentifier(record.fieldName(i), QSqlDriver::FieldName);
    }
    return names;
}

QString assignments(const QStringList& names) {
    QStringList parts;
    for (const QString& name : names) {
        parts << name + QStringLiteral("=?");
    }
    return parts.join(u',');
}

} // namespace

ReadingLog::ReadingLog(QString connectionName, QString path)
    : m_connectionName(std::move(connectionName)), m_path(std::move(path)) {}

ReadingLog::~ReadingLog() { release(); }

void ReadingLog::release() {
    close();
    if (QSqlDatabase::contains(m_connectionName)) {
        QSqlDatabase::removeDatabase(m_connectionName);
    }
}

bool ReadingLog::open() {
    ++m_openings;
    m_sinceOpenAttempt.start();
    m_sinceIdentityCheck.start();
    m_lastFault = LogFault::None;
    m_openedFile = common::fileIdentity(m_path);
    return openReadingLog(m_connectionName, m_path);
}

bool ReadingLog::ensureOpen() {
    if (isOpen()) {
        if (m_sinceIdentityCheck.elapsed() < kReopenIntervalMs) {
            return true;
        }
        m_sinceIdentityCheck.start();
        // A connection to a removed or replaced file would go on writing where nobody reads.
        const auto identity = common::fileIdentity(m_path);
        if (identity && identity == m_openedFile) {
            return true;
        }
        close();
    }
    if (m_sinceOpenAttempt.isValid() && m_sinceOpenAttempt.elapsed() < kReopenIntervalMs) {
        return false;
    }
    return open();
}

void ReadingLog::close() {
    if (QSqlDatabase::contains(m_connectionName)) {
        QSqlDatabase::database(m_connectionName, false).close();
    }
}

bool ReadingLog::isOpen() const {
    return QSqlDatabase::contains(m_connectionName) &&
           QSqlDatabase::database(m_connectionName, false).isOpen();
}

QSqlDatabase ReadingLog::database() const {
    return QSqlDatabase::database(m_connectionName, false);
}

void ReadingLog::noteFault(const QSqlError& error) {
    const int code = error.nativeErrorCode().toInt() & 0xFF;
    if (code == kSqliteBusy || code == kSqliteLocked) {
        m_lastFault = LogFault::Busy;
        m_faultCause = QStringLiteral("another program holds the log locked");
    } else if (code == kSqliteFull) {
        m_lastFault = LogFault::Full;
        m_faultCause = QStringLiteral("the disk is full");
    } else {
        m_faultCause = code == kSqliteReadOnly ? QStringLiteral("the log is read-only")
                                               : error.databaseText();
        // A file made read-only, replaced or damaged under the connection: start afresh.
        m_lastFault = LogFault::Broken;
        close();
    }
}

ControlRow ReadingLog::readControlRow() {
    ControlRow row;
    select(QString::fromLatin1(kSelectControlRow), [&row](QSqlQuery& query) {
        if (!query.next()) {
            row.state = query.lastError().type() == QSqlError::NoError ? ControlRow::State::Missing
                                                                       : ControlRow::State::Unread;
            return;
        }
        const auto lastId = ringNumberOf(query.value(0));
        row.state = lastId ? ControlRow::State::Sound : ControlRow::State::Damaged;
        row.lastId = lastId.value_or(0);
    });
    return row;
}

std::optional<std::int32_t> ReadingLog::newestRecordByMoment() {
    std::optional<std::int32_t> newest;
    select(QStringLiteral("select w_id from pv_data where w_id is not null "
                          "order by w_date desc, w_time desc limit 1"),
           [&newest](QSqlQuery& query) {
               if (query.next()) {
                   newest = ringNumberOf(query.value(0)).value_or(0);
               } else if (query.lastError().type() == QSqlError::NoError) {
                   newest = 0;
               }
           });
    return newest;
}

std::optional<std::int32_t> ReadingLog::newestRecord() {
    const ControlRow row = readControlRow();
    switch (row.state) {
    case ControlRow::State::Sound:
        return row.lastId;
    case ControlRow::State::Missing:
    case ControlRow::State::Damaged:
        return newestRecordByMoment();
    case ControlRow::State::Unread:
        break;
    }
    return std::nullopt;
}

bool ReadingLog::failStatement(const QString& cause) {
    m_faultCause = cause;
    return false;
}

bool ReadingLog::select(const QString& sql, const std::function<void(QSqlQuery&)>& use) {
    if (!isOpen()) {
        return false;
    }
    QSqlQuery query(database());
    query.setForwardOnly(true);
    if (!query.exec(sql)) {
        m_lastSelectError = query.lastError().databaseText();
        return false;
    }
    use(query);
    query.finish();
    return true;
}

bool ReadingLog::writeSnapshot(const Snapshot& snapshot) {
    if (!isOpen()) {
        // A log closed after a fault keeps that fault as its cause until it opens again.
        if (!QFileInfo::exists(m_path)) {
            m_faultCause = QStringLiteral("the log is missing");
        } else if (m_faultCause.isEmpty()) {
            m_faultCause = QStringLiteral("the log cannot be opened");
        }
        return false;
    }
    QSqlDatabase db = database();
    QSqlQuery begin(db);
    // Taking the write lock first means nothing inside the transaction waits on another writer.
    if (!begin.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        noteFault(begin.lastError());
        return false;
    }
    begin.finish();
    if (!writeDataRow(snapshot) || !writeControlRow(snapshot)) {
        rollBack();
        return false;
    }
    QSqlQuery commit(db);
    if (!commit.exec(QStringLiteral("COMMIT"))) {
        noteFault(commit.lastError());
        rollBack();
        return false;
    }
    m_lastFault = LogFault::None;
    m_faultCause.clear();
    return true;
}

void ReadingLog::rollBack() {
    // A fault may have closed the connection, which ended its transaction already; a statement
    // sent to it would only earn a warning on standard error every second.
    if (isOpen()) {
        QSqlQuery(database()).exec(QStringLiteral("ROLLBACK"));
    }
}

bool ReadingLog::writeDataRow(const Snapshot& snapshot) {
    QSqlDatabase db = database();
    QSqlRecord record;
    bool overwrite = false;
    if (!select(selectSnapshotSql(snapshot.recordNumber), [&](QSqlQuery& query) {
            record = query.record();
            overwrite = query.next() && !query.value(0).isNull();
        })) {
        return failStatement(QStringLiteral("cannot read pv_data: ") + m_lastSelectError);
    }
    const int count = std::min(static_cast<int>(record.count()), kSnapshotColumns);
    if (count < 1) {
        return failStatement(QStringLiteral("pv_data has no columns"));
    }
    // Written by position, a table with other columns first would get each value under another
    // name.
    for (int i = 0; i < std::min(count, static_cast<int>(std::size(kKeyColumns))); ++i) {
        if (record.fieldName(i).compare(QLatin1String(kKeyColumns[i]), Qt::CaseInsensitive) != 0) {
            return failStatement(
                QStringLiteral("pv_data has a foreign column order: w_id, w_date and w_time "
                               "must come first"));
        }
    }
    const QStringList names = fieldNames(db, record, count);
    QSqlQuery write(db);
    if (overwrite) {
        // Only the first row carrying the number is overwritten, as a record set would.
        write.prepare(QStringLiteral("UPDATE pv_data SET %1 WHERE rowid=(SELECT rowid FROM "
                                     "pv_data WHERE %2=%3 LIMIT 1)")
                          .arg(assignments(names), names[0])
                          .arg(snapshot.recordNumber));
    } else {
        write.prepare(
            QStringLiteral("INSERT INTO pv_data(%1) VALUES(%2)")
                .arg(names.join(u','), QStringList(count, QStringLiteral("?")).join(u',')));
    }
    for (int i = 0; i < count; ++i) {
        if (i == 0) {
            write.addBindValue(snapshot.recordNumber);
        } else if (i == 1) {
            write.addBindValue(snapshot.date);
        } else if (i == 2) {
            write.addBindValue(snapshot.time);
        } else {
            write.addBindValue(
                static_cast<double>(snapshot.values[static_cast<std::size_t>(i - 3)]));
        }
    }
    if (!write.exec()) {
        noteFault(write.lastError());
        return false;
    }
    return true;
}

bool ReadingLog::writeControlRow(const Snapshot& snapshot) {
    QSqlDatabase db = database();
    QSqlRecord record;
    bool hasRow = false;
    if (!select(QString::fromLatin1(kSelectControlRow), [&](QSqlQuery& query) {
            record = query.record();
            hasRow = query.next();
        })) {
        return failStatement(QStringLiteral("cannot read sl_void: ") + m_lastSelectError);
    }
    if (!hasRow) {
        // The control row is never created here; the snapshot itself still counts.
        return true;
    }
    const int count = std::min(static_cast<int>(record.count()), kControlColumns);
    if (count < 1) {
        return true;
    }
    const QStringList names = fieldNames(db, record, count);
    QSqlQuery write(db);
    write.prepare(QStringLiteral("UPDATE sl_void SET %1 WHERE rowid=(SELECT rowid FROM sl_void "
                                 "LIMIT 1)")
                      .arg(assignments(names)));
    const QVariant values[kControlColumns] = {snapshot.recordNumber, snapshot.recordNumber,
                                              snapshot.month};
    for (int i = 0; i < count; ++i) {
        write.addBindValue(values[i]);
    }
    if (!write.exec()) {
        noteFault(write.lastError());
        return false;
    }
    return true;
}

} // namespace trend
