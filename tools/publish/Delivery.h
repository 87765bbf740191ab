#pragma once

#include "LogFollower.h"
#include "Payloads.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace publish {

/// The snapshots between the log and the broker: those read and waiting to go out, those
/// published and waiting for their acknowledgement, and the two ring positions behind them. It
/// neither reads the log nor talks to the broker; it is told what was read, sent and acknowledged.
class Delivery {
  public:
    /// Messages published and not yet acknowledged, at most.
    static constexpr int kMaxInFlight = 64;

    explicit Delivery(std::optional<RingPosition> acknowledged = std::nullopt);

    /// The last snapshot that counts as delivered: it and every one sent before it acknowledged.
    [[nodiscard]] const std::optional<RingPosition>& acknowledged() const { return m_acknowledged; }
    /// The last snapshot taken from the log; the next read goes on after it.
    [[nodiscard]] const std::optional<RingPosition>& read() const { return m_read; }

    /// The snapshot to publish next, or null when none waits.
    [[nodiscard]] const SnapshotRow* next() const;
    [[nodiscard]] bool windowFull() const;
    /// Nothing waits to go out or for its acknowledgement.
    [[nodiscard]] bool empty() const { return m_pending.empty() && m_inFlight.empty(); }
    /// Taken up to the newest record of the control row's last look (0 for an empty log).
    [[nodiscard]] bool caughtUp(std::optional<std::int32_t> newest) const;

    /// Snapshots read after the read position, in ring order; the last is the new read position.
    void take(const std::vector<SnapshotRow>& rows);
    /// The ring went round past the read position: these are its oldest snapshots now.
    void takeFromOldest(const std::vector<SnapshotRow>& rows);
    /// next() went out as the message `mid`.
    void published(int mid);
    /// The broker acknowledged the message `mid`.
    void acknowledge(int mid);
    /// The connection is gone: what was not acknowledged is read and sent again.
    void rewind();

  private:
    struct InFlight {
        RingPosition position;
        int mid = 0;
        bool acknowledged = false;
    };

    std::optional<RingPosition> m_acknowledged;
    std::optional<RingPosition> m_read;
    std::deque<SnapshotRow> m_pending;
    std::deque<InFlight> m_inFlight;
};

} // namespace publish
