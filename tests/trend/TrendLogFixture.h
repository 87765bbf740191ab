#pragma once

#include "TestData.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QString>
#include <QVariant>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace trendtest {

/// One stored snapshot as the tests write and read it.
struct Row {
    std::int32_t id = 0;
    double date = 0;
    double time = 0;
    std::array<float, 26> values{};
};

/// A reading log of the test's own, made by the database tool, with a connection of the test's
/// to seed and inspect it.
class TestLog {
  public:
    TestLog();
    ~TestLog();
    TestLog(const TestLog&) = delete;
    TestLog& operator=(const TestLog&) = delete;

    [[nodiscard]] bool created() const { return m_created; }
    [[nodiscard]] QString path() const { return m_data.readingLog(); }
    [[nodiscard]] QSqlDatabase db() const;

    /// Runs a statement of the test's own; false when it fails.
    bool exec(const QString& sql);
    /// Adds rows in one transaction.
    bool insert(const std::vector<Row>& rows);
    bool setLastId(std::int32_t lastId);
    [[nodiscard]] std::optional<std::int32_t> lastId() const;
    [[nodiscard]] std::optional<int> lastMonth() const;
    [[nodiscard]] int count(const QString& where = QString()) const;
    /// Every row with the number, in stored order.
    [[nodiscard]] std::vector<Row> rows(std::int32_t id) const;

  private:
    TestData m_data;
    bool m_created = false;
};

/// Rows one second apart from a first moment, numbered from firstId.
std::vector<Row> secondsApart(std::int32_t firstId, int count, const QDateTime& first);

/// The clock every reader of the station sees while it lives; tests step it by hand.
class SteppedClock {
  public:
    explicit SteppedClock(QDateTime start);
    ~SteppedClock();
    SteppedClock(const SteppedClock&) = delete;
    SteppedClock& operator=(const SteppedClock&) = delete;

    void set(QDateTime now) { m_now = std::move(now); }
    void advance(int seconds) { m_now = m_now.addSecs(seconds); }
    [[nodiscard]] const QDateTime& now() const { return m_now; }

  private:
    QDateTime m_now;
};

double dateOf(const QDateTime& at);
double timeOf(const QDateTime& at);

} // namespace trendtest
