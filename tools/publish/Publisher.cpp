#include "Publisher.h"

#include "StateFile.h"

#include "common/ReadingCatalogue.h"
#include "common/ToolArguments.h"

#include <algorithm>

namespace publish {

namespace {

constexpr int kTickMs = 1000;
constexpr int kStopTimeoutMs = 3000;

QString momentOf(const RingPosition& position) {
    const QString text = localMomentText(position.date, position.time);
    return text.isEmpty() ? QStringLiteral("no valid moment") : text;
}

} // namespace

Publisher::Publisher(Options options, QObject* parent)
    : QObject(parent), m_options(std::move(options)), m_topics(m_options.prefix, m_options.station),
      m_log(m_options.log), m_client(m_options, m_topics.status) {
    m_tick.setInterval(kTickMs);
    connect(&m_tick, &QTimer::timeout, this, &Publisher::tick);
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, [this] { enter(Phase::Connecting); });
    m_stopTimeout.setSingleShot(true);
    connect(&m_stopTimeout, &QTimer::timeout, this, [this] { enter(Phase::Finished); });
    connect(&m_client, &MqttClient::connected, this, &Publisher::onConnected);
    connect(&m_client, &MqttClient::acknowledged, this, &Publisher::onAcknowledged);
    connect(&m_client, &MqttClient::stepped, this, &Publisher::onStepped);
    connect(&m_client, &MqttClient::disconnected, this, &Publisher::brokerFailed);
}

void Publisher::enter(Phase next) {
    if (m_phase == Phase::Finished) {
        return;
    }
    m_phase = next;
    switch (next) {
    case Phase::Connecting: {
        QString error;
        if (!m_client.open(&error)) {
            brokerFailed(error);
        }
        break;
    }
    case Phase::WaitingForLog:
    case Phase::Publishing:
        break;
    case Phase::BackingOff:
        m_retry.start(m_retryMs);
        m_retryMs = std::min(m_retryMs * 2, kLastRetryMs);
        break;
    case Phase::SayingOffline:
        m_offlineMid = m_client.publish(m_topics.status, QByteArrayLiteral("offline"), true);
        if (!m_offlineMid) {
            enter(Phase::Finished);
            break;
        }
        m_stopTimeout.start(kStopTimeoutMs);
        break;
    case Phase::Finished:
        m_tick.stop();
        m_retry.stop();
        m_stopTimeout.stop();
        m_client.close();
        writeStateNow();
        m_log.close();
        Q_EMIT finished(m_exitCode);
        break;
    }
}

void Publisher::start() {
    QString error;
    m_saved = readState(m_options.state, &error);
    if (!error.isEmpty()) {
        complain(QStringLiteral("cannot read the state %1: %2; publishing from the oldest "
                                "snapshot")
                     .arg(m_options.state, error));
    }
    m_delivery = Delivery(m_saved);
    m_tick.start();
    pollLog();
    if (m_phase != Phase::Finished) {
        enter(Phase::Connecting);
    }
}

void Publisher::stop(int exitCode) {
    if (m_phase == Phase::SayingOffline || m_phase == Phase::Finished) {
        return;
    }
    m_exitCode = exitCode;
    enter(connected() ? Phase::SayingOffline : Phase::Finished);
}

void Publisher::tick() {
    pollLog();
    m_client.service();
    writeStateNow();
}

void Publisher::pollLog() {
    if (m_phase == Phase::Finished) {
        return;
    }
    const bool wasMissing = m_log.missing();
    QString error;
    if (!m_log.ensureOpen(&error)) {
        if (m_options.once) {
            complain(QStringLiteral("cannot read the reading log %1: %2").arg(m_log.path(), error));
            stop(1);
            return;
        }
        if (!wasMissing) {
            complain(QStringLiteral("waiting for the reading log %1: %2").arg(m_log.path(), error));
        }
        if (m_phase == Phase::Publishing) {
            enter(Phase::WaitingForLog);
        }
        return;
    }
    // A single run never waits for the log, so it never says the log was found.
    if (wasMissing && !m_options.once) {
        m_lastComplaint.clear();
        common::printToolError(QStringLiteral("found the reading log %1").arg(m_log.path()));
    }
    if (m_phase == Phase::WaitingForLog) {
        enter(Phase::Publishing);
    }
    // A single run publishes what was recorded when it started.
    if (!(m_options.once && m_newest)) {
        if (const auto newest = m_log.newest()) {
            m_newest = newest;
        }
    }
    fill(true);
}

void Publisher::fill(bool polled) {
    // While the log is away what was read from it still goes out.
    if (!connected()) {
        return;
    }
    while (!m_delivery.windowFull()) {
        if (!m_delivery.next() && !readMore(polled)) {
            break;
        }
        QString error;
        const auto mid =
            m_client.publish(m_topics.snapshot, snapshotPayload(*m_delivery.next()), false, &error);
        if (!mid) {
            // The connection is in trouble: start again from the acknowledged position.
            m_client.abandon(error);
            break;
        }
        m_delivery.published(*mid);
    }
    if (m_options.once && m_delivery.empty() && m_delivery.caughtUp(m_newest)) {
        stop(0);
    }
}

bool Publisher::readMore(bool polled) {
    if (m_phase != Phase::Publishing || !m_newest) {
        return false;
    }
    const auto& read = m_delivery.read();
    // Caught up, nothing new shows before the next look at the control row; the socket's events
    // in between need not read the log again.
    if (m_delivery.caughtUp(m_newest) && !(polled && read)) {
        return false;
    }
    if (read) {
        const auto batch = m_log.readAfter(*read, *m_newest, kReadBatch);
        if (!batch) {
            return false;
        }
        if (batch->positionIntact) {
            m_delivery.take(batch->rows);
            return m_delivery.next() != nullptr;
        }
    }
    const auto oldest = m_log.readOldest(kReadBatch);
    if (!oldest) {
        return false;
    }
    const auto& [batch, newest] = *oldest;
    if (read) {
        sayLapped(batch.rows);
    }
    m_newest = newest;
    m_delivery.takeFromOldest(batch.rows);
    return !batch.rows.empty();
}

void Publisher::sayLapped(const std::vector<SnapshotRow>& oldest) {
    // The ring went round past the position: what it overwrote is gone for good.
    const RingPosition& read = *m_delivery.read();
    const QString from = oldest.empty()
                             ? QStringLiteral("the log holds no snapshot now")
                             : QStringLiteral("going on from the oldest, record %1 of %2")
                                   .arg(oldest.front().record)
                                   .arg(momentOf(positionOf(oldest.front())));
    const QString lost = oldest.empty() ? QString()
                                        : QStringLiteral("at least %1 snapshots lost; ")
                                              .arg(lappedCount(read.record, oldest.front().record));
    complain(QStringLiteral("the reading log no longer holds record %1 of %2, the last one taken: "
                            "%3%4")
                 .arg(read.record)
                 .arg(momentOf(read), lost, from));
    m_lastComplaint.clear();
}

void Publisher::onConnected() {
    if (m_retryMs > kFirstRetryMs) {
        m_lastComplaint.clear();
        common::printToolError(QStringLiteral("connected to %1").arg(m_options.broker));
    }
    m_retryMs = kFirstRetryMs;
    m_client.publish(m_topics.status, QByteArrayLiteral("online"), true);
    m_client.publish(m_topics.meta, metaPayload(), true);
    if (m_options.haDiscovery) {
        for (const common::Reading& reading : common::kReadingCatalogue) {
            m_client.publish(m_topics.discovery(reading), discoveryPayload(m_topics, reading),
                             true);
        }
    }
    enter(m_log.missing() ? Phase::WaitingForLog : Phase::Publishing);
}

void Publisher::onAcknowledged(int mid) {
    if (mid == m_offlineMid) {
        m_offlineMid.reset();
        return;
    }
    m_delivery.acknowledge(mid);
}

void Publisher::onStepped() {
    if (m_phase == Phase::SayingOffline && !m_offlineMid) {
        enter(Phase::Finished);
        return;
    }
    fill();
}

void Publisher::brokerFailed(const QString& reason) {
    complain(reason);
    m_delivery.rewind();
    if (m_phase == Phase::SayingOffline) {
        enter(Phase::Finished);
    } else if (m_options.once) {
        m_exitCode = 1;
        enter(Phase::Finished);
    } else {
        enter(Phase::BackingOff);
    }
}

void Publisher::writeStateNow() {
    const auto& acknowledged = m_delivery.acknowledged();
    if (!acknowledged || acknowledged == m_saved) {
        return;
    }
    QString error;
    if (writeState(m_options.state, *acknowledged, &error)) {
        m_saved = acknowledged;
    } else {
        complain(QStringLiteral("cannot write the state %1: %2").arg(m_options.state, error));
    }
}

void Publisher::complain(const QString& text) {
    if (text == m_lastComplaint) {
        return;
    }
    m_lastComplaint = text;
    common::printToolError(text);
}

} // namespace publish
