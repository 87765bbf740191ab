#include "LogFollower.h"

#include "trend/ReadingLogFiles.h"
#include "trend/Ring.h"

#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

#include <algorithm>
#include <limits>


namespace publish {

namespace {

const QString kConnection = QStringLiteral("vx310-publish-log");
constexpr int kFirstValueColumn = 3;

SnapshotRow rowOf(const QSqlQuery& query) {
    SnapshotRow row;
    row.record = query.value(0).toInt();
    row.date = query.value(1).toDouble();
    row.time = query.value(2).toDouble();
    for (std::size_t k = 0; k < row.values.size(); ++k) {
        const QVariant value = query.value(kFirstValueColumn + static_cast<int>(k));
        row.values[k] =
            value.isNull() ? std::numeric_limits<float>::quiet_NaN() : value.toFloat();
    }
    return row;
}

} // namespace

std::int32_t lappedCount(std::int32_t from, std::int32_t oldest) {
    return trend::ringDistance(trend::ringSuccessor(from), oldest);
}

LogFollower::LogFollower(QString path) : m_path(std::move(path)), m_connection(kConnection) {}

LogFollower::~LogFollower() {
    close();
    QSqlDatabase::removeDatabase(m_connection);
}

bool LogFollower::ensureOpen(QString* error) {
    const auto identity = common::fileIdentity(m_path);
    QSqlDatabase db = QSqlDatabase::contains(m_connection)
                          ? QSqlDatabase::database(m_connection, false)
                          : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    if (db.isOpen() && identity && identity == m_openedFile) {
        return true;
    }
    db.close();
    m_openedFile.reset();
    m_missing = !trend::openReadingLogReadOnly(db, m_path, error);
    if (m_missing) {
        return false;
    }
    m_openedFile = identity;
    return true;
}

void LogFollower::close() {
    if (QSqlDatabase::contains(m_connection)) {
        QSqlDatabase::database(m_connection, false).close();
    }
    m_openedFile.reset();
}

std::optional<std::int32_t> LogFollower::newest() {
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    if (!query.exec(QStringLiteral("SELECT last_id FROM sl_void LIMIT 1")) || !query.next()) {
        return std::nullopt;
    }
    const std::int64_t lastId = query.value(0).toLongLong();
    query.finish();
    return trend::isRecordNumber(lastId) ? static_cast<std::int32_t>(lastId) : 0;
}

std::optional<Batch> LogFollower::readAfter(const RingPosition& after, std::int32_t newest,
                                           int limit) {
    Batch batch;
    if (!trend::isRecordNumber(after.record)) {
        batch.positionIntact = false;
        return batch;
    }
    const std::int32_t first = trend::ringSuccessor(after.record);
    std::int32_t last = after.record;
    if (after.record != newest && trend::isRecordNumber(newest)) {
        last = std::min<std::int32_t>(first <= newest ? newest : trend::kRingSize,
                                      first + limit - 1);
    }
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.setForwardOnly(true);
    const QString sql =
        last == after.record
            ? QStringLiteral("SELECT * FROM pv_data WHERE w_id=%1").arg(after.record)
            : QStringLiteral("SELECT * FROM pv_data WHERE w_id=%1 OR w_id BETWEEN %2 AND %3 "
                             "ORDER BY w_id")
                  .arg(after.record)
                  .arg(first)
                  .arg(last);
    if (!query.exec(sql)) {
        return std::nullopt;
    }
    bool found = false;
    while (query.next()) {
        SnapshotRow row = rowOf(query);
        if (row.record == after.record) {
            found = positionOf(row) == after;
        } else {
            batch.rows.push_back(row);
        }
    }
    query.finish();
    batch.positionIntact = found;
    if (!found) {
        batch.rows.clear();
    }
    return batch;
}

std::optional<std::pair<Batch, std::int32_t>> LogFollower::readOldest(int limit) {
    // One statement sees the control row and the rows at one instant: the rows above the newest
    // are the previous lap, so they come first.
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT p.*, s.last_id FROM pv_data p, (SELECT last_id FROM "
                                   "sl_void LIMIT 1) s WHERE s.last_id BETWEEN 1 AND %1 ORDER BY "
                                   "p.w_id <= s.last_id, p.w_id LIMIT %2")
                        .arg(trend::kRingSize)
                        .arg(limit))) {
        return std::nullopt;
    }
    Batch batch;
    std::int32_t newestRecord = 0;
    while (query.next()) {
        batch.rows.push_back(rowOf(query));
        newestRecord = query.value(query.record().count() - 1).toInt();
    }
    query.finish();
    if (!batch.rows.empty()) {
        return std::pair(batch, newestRecord);
    }
    // No snapshot: an empty log, or a control row that cannot be read.
    const auto lastId = newest();
    if (!lastId) {
        return std::nullopt;
    }
    return std::pair(batch, *lastId);
}

} // namespace publish
