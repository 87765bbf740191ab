#include "TrendLogFixture.h"

#include "common/DayNumber.h"

#include <QSqlQuery>

namespace trendtest {

namespace {
const QString kConnection = QStringLiteral("test-log");
} // namespace

TestLog::TestLog() {
    m_created = m_data.createReadingLog();
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kConnection);
    db.setDatabaseName(path());
    m_created = m_created && db.open();
}

TestLog::~TestLog() {
    QSqlDatabase::database(kConnection, false).close();
    QSqlDatabase::removeDatabase(kConnection);
}

QSqlDatabase TestLog::db() const { return QSqlDatabase::database(kConnection, false); }

bool TestLog::exec(const QString& sql) {
    QSqlQuery query(db());
    return query.exec(sql);
}

bool TestLog::insert(const std::vector<Row>& rows) {
    QSqlDatabase database = db();
    if (!database.transaction()) {
        return false;
    }
    QSqlQuery query(database);
    QString sql = QStringLiteral("INSERT INTO pv_data VALUES(?,?,?");
    for (int k = 0; k < 26; ++k) {
        sql += QStringLiteral(",?");
    }
    query.prepare(sql + u')');
    for (const Row& row : rows) {
        query.addBindValue(row.id);
        query.addBindValue(row.date);
        query.addBindValue(row.time);
        for (float value : row.values) {
            query.addBindValue(static_cast<double>(value));
        }
        if (!query.exec()) {
            database.rollback();
            return false;
        }
    }
    query.finish();
    return database.commit();
}

bool TestLog::setLastId(std::int32_t lastId) {
    return exec(QStringLiteral("UPDATE sl_void SET last_id=%1, last_id_copy=%1").arg(lastId));
}

std::optional<std::int32_t> TestLog::lastId() const {
    QSqlQuery query(db());
    if (!query.exec(QStringLiteral("SELECT last_id FROM sl_void")) || !query.next()) {
        return std::nullopt;
    }
    return query.value(0).toInt();
}

std::optional<int> TestLog::lastMonth() const {
    QSqlQuery query(db());
    if (!query.exec(QStringLiteral("SELECT last_month FROM sl_void")) || !query.next()) {
        return std::nullopt;
    }
    return query.value(0).toInt();
}

int TestLog::count(const QString& where) const {
    QSqlQuery query(db());
    const QString sql = QStringLiteral("SELECT count(*) FROM pv_data") +
                        (where.isEmpty() ? QString() : QStringLiteral(" WHERE ") + where);
    if (!query.exec(sql) || !query.next()) {
        return -1;
    }
    return query.value(0).toInt();
}

std::vector<Row> TestLog::rows(std::int32_t id) const {
    std::vector<Row> found;
    QSqlQuery query(db());
    if (!query.exec(QStringLiteral("SELECT * FROM pv_data WHERE w_id=%1 ORDER BY rowid").arg(id))) {
        return found;
    }
    while (query.next()) {
        Row row;
        row.id = query.value(0).toInt();
        row.date = query.value(1).toDouble();
        row.time = query.value(2).toDouble();
        for (int k = 0; k < 26; ++k) {
            row.values[static_cast<std::size_t>(k)] = query.value(3 + k).toFloat();
        }
        found.push_back(row);
    }
    return found;
}

std::vector<Row> secondsApart(std::int32_t firstId, int count, const QDateTime& first) {
    std::vector<Row> rows;
    rows.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const QDateTime at = first.addSecs(i);
        Row row;
        row.id = firstId + i;
        row.date = dateOf(at);
        row.time = timeOf(at);
        for (int c = 0; c < 26; ++c) {
            row.values[static_cast<std::size_t>(c)] = c < 16 ? static_cast<float>(row.id + c) : 0;
        }
        rows.push_back(row);
    }
    return rows;
}

SteppedClock::SteppedClock(QDateTime start) : m_now(std::move(start)) {
    common::setClock([this] { return m_now; });
}

SteppedClock::~SteppedClock() { common::setClock({}); }

double dateOf(const QDateTime& at) { return common::dateSerial(at.date()); }
double timeOf(const QDateTime& at) { return common::timeSerial(at.time()); }

} // namespace trendtest
