#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QString>
#include <QVariant>

#include <string>
#include <vector>

namespace faulttest {

/// Slots of the live readings the acquisition fills; the rest stay 0 in every row.
inline constexpr int kFilledValues = 16;

/// The reading the fault tests put in slot k at a second of the day, so that every stored row
/// can be checked against its own time. Exact in single precision.
inline float liveValue(int secondOfDay, int k) {
    return static_cast<float>(secondOfDay) + 0.25F * static_cast<float>(k);
}

using Texts = std::vector<std::string>;

/// A connection of the test's own to the log, open while it lives; it never creates the file.
class LogInspection {
  public:
    explicit LogInspection(const QString& path) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kName);
        db.setDatabaseName(QStringLiteral("file:") + path + QStringLiteral("?mode=rw"));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI"));
        m_open = db.open();
    }
    ~LogInspection() {
        QSqlDatabase::database(kName, false).close();
        QSqlDatabase::removeDatabase(kName);
    }
    LogInspection(const LogInspection&) = delete;
    LogInspection& operator=(const LogInspection&) = delete;

    [[nodiscard]] bool open() const { return m_open; }
    [[nodiscard]] static QSqlDatabase db() { return QSqlDatabase::database(kName, false); }

    static bool exec(const QString& sql) {
        QSqlQuery query(db());
        return query.exec(sql);
    }

    /// The first row of a select as texts; empty when it fails or returns nothing.
    static Texts row(const QString& sql) {
        Texts values;
        QSqlQuery query(db());
        if (query.exec(sql) && query.next()) {
            for (int i = 0; i < query.record().count(); ++i) {
                values.push_back(query.value(i).toString().toStdString());
            }
        }
        return values;
    }

  private:
    static inline const QString kName = QStringLiteral("fault-test");
    bool m_open = false;
};

} // namespace faulttest
