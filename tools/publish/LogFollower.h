#pragma once

#include "Payloads.h"

#include "common/FileIdentity.h"

#include <QSqlDatabase>
#include <QString>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace publish {

/// Which snapshot a position in the ring names: its record number and its own date and time. A
/// row that no longer holds that date and time was overwritten by a later lap.
struct RingPosition {
    std::int32_t record = 0;
    double date = 0;
    double time = 0;
    friend bool operator==(const RingPosition&, const RingPosition&) = default;
};

inline RingPosition positionOf(const SnapshotRow& row) { return {row.record, row.date, row.time}; }

/// Snapshots recorded after the position in ring order, up to the newest, at most limit.
struct Batch {
    std::vector<SnapshotRow> rows;
    /// False when the row at the position no longer holds its snapshot: the ring lapped it.
    bool positionIntact = true;
};

/// Snapshots recorded after `from` that the ring no longer holds when `oldest` is its oldest.
std::int32_t lappedCount(std::int32_t from, std::int32_t oldest);

/// Follows the reading log read-only, one finished statement at a time, so the station is never
/// held up and no read keeps the WAL file from being checkpointed.
class LogFollower {
  public:
    explicit LogFollower(QString path);
    ~LogFollower();
    LogFollower(const LogFollower&) = delete;
    LogFollower& operator=(const LogFollower&) = delete;

    [[nodiscard]] const QString& path() const { return m_path; }

    /// Opens the log when it is closed, and again when the file at the path was replaced or
    /// removed; false with the reason when there is no log to read.
    bool ensureOpen(QString* error);
    void close();
    /// The last ensureOpen() found no log to read.
    [[nodiscard]] bool missing() const { return m_missing; }

    /// last_id of the control row when it names a snapshot (1 to 65,500); 0 for an empty log;
    /// empty when the row cannot be read.
    std::optional<std::int32_t> newest();

    /// Snapshots after `after` up to `newest`, at most limit, with the check that the row at
    /// `after` still holds its snapshot, all from one statement.
    std::optional<Batch> readAfter(const RingPosition& after, std::int32_t newest, int limit);

    /// The oldest snapshots of the ring, up to the newest, at most limit, and the newest record
    /// number, all from one statement.
    std::optional<std::pair<Batch, std::int32_t>> readOldest(int limit);

  private:
    QString m_path;
    QString m_connection;
    std::optional<common::FileIdentity> m_openedFile;
    bool m_missing = false;
};

} // namespace publish
