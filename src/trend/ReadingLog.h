#pragma once

#include "common/FileIdentity.h"
#include "trend/ReadingLogFiles.h"

#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>

class QSqlError;
class QSqlQuery;

namespace trend {

inline constexpr int kSnapshotColumns = 3 + kValueColumns;

/// What one snapshot writes: the data row and the control row's month.
struct Snapshot {
    std::int32_t recordNumber = 0;
    double date = 0;
    double time = 0;
    std::array<float, kValueColumns> values{};
    int month = 1;
};

/// Why the last write to the log failed.
enum class LogFault { None, Busy, Full, Broken };

/// What the control row says about the newest snapshot.
struct ControlRow {
    enum class State {
        Unread,  ///< the log or its control table could not be read
        Missing, ///< the control table has no row
        Damaged, ///< last_id is not a whole number from 0 to 65500
        Sound,
    };
    State state = State::Unread;
    std::int32_t lastId = 0;
};

/// One window's connection to the reading log. Every statement is finished as soon as it has
/// run, so no read stays open and the WAL file can be checkpointed.
class ReadingLog {
  public:
    /// How long a closed log waits before it tries the file again.
    static constexpr int kReopenIntervalMs = 1000;

    explicit ReadingLog(QString connectionName, QString path = readingLogPath());
    ~ReadingLog();
    ReadingLog(const ReadingLog&) = delete;
    ReadingLog& operator=(const ReadingLog&) = delete;

    /// Opens the existing file; false when it is missing or cannot be opened.
    bool open();
    /// Opens a closed log again, at most once a second, so a file that comes back is found; an
    /// open log whose file was removed or replaced is closed first, checked at most once a second.
    bool ensureOpen();
    void close();
    /// Closes the connection and gives its name back.
    void release();
    [[nodiscard]] bool isOpen() const;

    [[nodiscard]] const QString& connectionName() const { return m_connectionName; }
    [[nodiscard]] const QString& path() const { return m_path; }
    [[nodiscard]] QSqlDatabase database() const;
    [[nodiscard]] LogFault lastFault() const { return m_lastFault; }
    /// Why the last snapshot was not stored, in words; empty after one was.
    [[nodiscard]] const QString& faultCause() const { return m_faultCause; }

    /// The first control row, judged.
    ControlRow readControlRow();

    /// Record number of the newest snapshot by its own date and time, 0 in an empty table or
    /// when that snapshot's number is not one of the ring; empty when the table cannot be read.
    std::optional<std::int32_t> newestRecordByMoment();

    /// The newest record as the control row names it; after the newest snapshot by its own
    /// moment when the row is missing or damaged, as the recorder goes on; empty when unread.
    std::optional<std::int32_t> newestRecord();

    /// How often the log was opened; a new value means a connection to a file anew.
    [[nodiscard]] std::uint64_t openings() const { return m_openings; }

    /// Stores one snapshot: the row with its record number (overwritten in place when it exists,
    /// added otherwise) and the control row naming it, committed together or not at all. A log
    /// without a control row still gets the data row.
    bool writeSnapshot(const Snapshot& snapshot);

    /// Runs one select and hands its result to use; the query is finished afterwards.
    bool select(const QString& sql, const std::function<void(QSqlQuery&)>& use);

  private:
    bool writeDataRow(const Snapshot& snapshot);
    bool writeControlRow(const Snapshot& snapshot);
    void noteFault(const QSqlError& error);
    /// A statement that failed without a fault of the file itself: a table missing or foreign.
    bool failStatement(const QString& cause);
    void rollBack();
    QString m_connectionName;
    QString m_path;
    QElapsedTimer m_sinceOpenAttempt;
    QElapsedTimer m_sinceIdentityCheck;
    std::optional<common::FileIdentity> m_openedFile;
    LogFault m_lastFault = LogFault::None;
    QString m_faultCause;
    QString m_lastSelectError;
    std::uint64_t m_openings = 0;
};

} // namespace trend
