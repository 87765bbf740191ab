#include "Delivery.h"

namespace publish {

Delivery::Delivery(std::optional<RingPosition> acknowledged)
    : m_acknowledged(acknowledged), m_read(acknowledged) {}

const SnapshotRow* Delivery::next() const {
    return m_pending.empty() ? nullptr : &m_pending.front();
}

bool Delivery::windowFull() const { return static_cast<int>(m_inFlight.size()) >= kMaxInFlight; }

bool Delivery::caughtUp(std::optional<std::int32_t> newest) const {
    return newest && (*newest == 0 || (m_read && m_read->record == *newest));
}

void Delivery::take(const std::vector<SnapshotRow>& rows) {
    m_pending.insert(m_pending.end(), rows.begin(), rows.end());
    if (!rows.empty()) {
        m_read = positionOf(rows.back());
    }
}

void Delivery::takeFromOldest(const std::vector<SnapshotRow>& rows) {
    // With nothing in the ring the next read starts at its oldest again.
    m_read.reset();
    take(rows);
}

void Delivery::published(int mid) {
    m_inFlight.push_back({positionOf(m_pending.front()), mid, false});
    m_pending.pop_front();
}

void Delivery::acknowledge(int mid) {
    for (InFlight& message : m_inFlight) {
        if (message.mid == mid) {
            message.acknowledged = true;
            break;
        }
    }
    while (!m_inFlight.empty() && m_inFlight.front().acknowledged) {
        m_acknowledged = m_inFlight.front().position;
        m_inFlight.pop_front();
    }
}

void Delivery::rewind() {
    m_pending.clear();
    m_inFlight.clear();
    m_read = m_acknowledged;
}

} // namespace publish
