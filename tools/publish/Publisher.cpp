#include "Publisher.h"

#include "StateFile.h"

#include "common/ReadingCatalogue.h"
#include "common/ToolArguments.h"

#include <QSocketNotifier>

#include <mosquitto.h>

#include <cerrno>
#include <cstring>

namespace publish {

namespace {

constexpr int kQos = 1;
constexpr int kKeepAliveSeconds = 30;
constexpr int kConnectTimeoutMs = 15000;
constexpr int kTickMs = 1000;
constexpr int kStopTimeoutMs = 3000;
/// Room in the client's own window for the status, meta and discovery messages beside ours.
constexpr int kClientInFlight = Publisher::kMaxInFlight + 32;
const char* const kSystemCertificates = "/etc/ssl/certs";

Publisher* self(void* object) { return static_cast<Publisher*>(object); }

/// What a failed client call says; a failed system call by its own error.
QString clientErrorText(int rc) {
    return rc == MOSQ_ERR_ERRNO ? QString::fromLocal8Bit(std::strerror(errno))
                                : QString::fromUtf8(mosquitto_strerror(rc));
}

QString momentOf(const RingPosition& position) {
    const QString text = localMomentText(position.date, position.time);
    return text.isEmpty() ? QStringLiteral("no valid moment") : text;
}

} // namespace

Publisher::Publisher(Options options, QObject* parent)
    : QObject(parent), m_options(std::move(options)),
      m_topics(m_options.prefix, m_options.station), m_log(m_options.log) {
    m_tick.setInterval(kTickMs);
    connect(&m_tick, &QTimer::timeout, this, &Publisher::tick);
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &Publisher::connectBroker);
    m_stopTimeout.setSingleShot(true);
    connect(&m_stopTimeout, &QTimer::timeout, this, &Publisher::finish);
}

Publisher::~Publisher() {
    if (m_client) {
        delete m_readNotifier;
        delete m_writeNotifier;
        mosquitto_destroy(m_client);
    }
}

void Publisher::start() {
    QString error;
    m_acknowledged = readState(m_options.state, &error);
    if (!error.isEmpty()) {
        complain(QStringLiteral("cannot read the state %1: %2; publishing from the oldest "
                                "snapshot")
                     .arg(m_options.state, error));
    }
    m_read = m_acknowledged;
    m_tick.start();
    pollLog();
    if (!m_finished) {
        connectBroker();
    }
}

void Publisher::tick() {
    pollLog();
    if (m_client) {
        mosquitto_loop_misc(m_client);
        afterLoop();
    }
    if (m_link == Link::Connecting && m_attempt.elapsed() > kConnectTimeoutMs) {
        m_dropReason = QStringLiteral("no answer");
        dropConnection();
    }
    if (m_stateDirty) {
        writeStateNow();
    }
}

void Publisher::pollLog() {
    if (m_finished) {
        return;
    }
    QString error;
    if (!m_log.ensureOpen(&error)) {
        m_logOpen = false;
        if (m_options.once) {
            complain(QStringLiteral("cannot read the reading log %1: %2").arg(m_log.path(), error));
            stop(1);
            return;
        }
        if (!m_waitingForLog) {
            m_waitingForLog = true;
            complain(QStringLiteral("waiting for the reading log %1: %2").arg(m_log.path(), error));
        }
        return;
    }
    if (m_waitingForLog) {
        m_waitingForLog = false;
        m_lastComplaint.clear();
        common::printToolError(QStringLiteral("found the reading log %1").arg(m_log.path()));
    }
    m_logOpen = true;
    // A single run publishes what was recorded when it started.
    if (!(m_options.once && m_newest)) {
        if (const auto newest = m_log.newest()) {
            m_newest = newest;
        }
    }
    fill(true);
}

void Publisher::fill(bool polled) {
    if (m_link != Link::Up || m_stopping) {
        return;
    }
    while (static_cast<int>(m_inFlight.size()) < kMaxInFlight) {
        if (m_pending.empty() && !readMore(polled)) {
            break;
        }
        const SnapshotRow row = m_pending.front();
        const QByteArray payload = snapshotPayload(row);
        int mid = 0;
        const int rc =
            mosquitto_publish(m_client, &mid, qUtf8Printable(m_topics.snapshot),
                              static_cast<int>(payload.size()), payload.constData(), kQos, false);
        if (rc != MOSQ_ERR_SUCCESS) {
            // The connection is in trouble: start again from the acknowledged position.
            m_dropped = true;
            m_dropReason = QString::fromUtf8(mosquitto_strerror(rc));
            break;
        }
        m_pending.pop_front();
        m_inFlight.push_back({positionOf(row), mid, false});
    }
    checkOnceDone();
}

bool Publisher::readMore(bool polled) {
    if (!m_logOpen || !m_newest) {
        return false;
    }
    // Caught up, nothing new shows before the next look at the control row; the socket's events
    // in between need not read the log again.
    if (caughtUp() && !(polled && m_read)) {
        return false;
    }
    if (m_read) {
        const auto batch = m_log.readAfter(*m_read, *m_newest, kReadBatch);
        if (!batch) {
            return false;
        }
        if (batch->positionIntact) {
            for (const SnapshotRow& row : batch->rows) {
                m_pending.push_back(row);
            }
            if (!batch->rows.empty()) {
                m_read = positionOf(batch->rows.back());
            }
            return !m_pending.empty();
        }
    }
    const auto oldest = m_log.readOldest(kReadBatch);
    if (!oldest) {
        return false;
    }
    const auto& [batch, newest] = *oldest;
    if (m_read) {
        // The ring went round past the position: what it overwrote is gone for good.
        const QString from =
            batch.rows.empty()
                ? QStringLiteral("the log holds no snapshot now")
                : QStringLiteral("going on from the oldest, record %1 of %2")
                      .arg(batch.rows.front().record)
                      .arg(momentOf(positionOf(batch.rows.front())));
        const QString lost = batch.rows.empty()
                                 ? QString()
                                 : QStringLiteral("at least %1 snapshots lost; ")
                                       .arg(lappedCount(m_read->record, batch.rows.front().record));
        complain(QStringLiteral("the reading log no longer holds record %1 of %2, the last one "
                                "taken: %3%4")
                     .arg(m_read->record)
                     .arg(momentOf(*m_read), lost, from));
        m_lastComplaint.clear();
    }
    m_newest = newest;
    for (const SnapshotRow& row : batch.rows) {
        m_pending.push_back(row);
    }
    if (batch.rows.empty()) {
        m_read.reset();
        return false;
    }
    m_read = positionOf(batch.rows.back());
    return true;
}

bool Publisher::caughtUp() const {
    return m_newest && (*m_newest == 0 || (m_read && m_read->record == *m_newest));
}

void Publisher::checkOnceDone() {
    if (m_options.once && m_link == Link::Up && !m_stopping && m_pending.empty() &&
        m_inFlight.empty() && caughtUp()) {
        stop(0);
    }
}

void Publisher::connectBroker() {
    if (m_stopping || m_client) {
        return;
    }
    m_refusal.clear();
    m_lastLoggedError.clear();
    m_dropReason.clear();
    m_dropped = false;
    m_attempt.start();

    QByteArray password;
    if (!m_options.passwordFile.isEmpty()) {
        QString error;
        const auto read = readPassword(m_options.passwordFile, &error);
        if (!read) {
            connectFailed(QStringLiteral("cannot read the password file %1: %2")
                              .arg(m_options.passwordFile, error));
            return;
        }
        password = *read;
    }

    const QByteArray id = (QStringLiteral("vx310-") + m_options.station).toUtf8();
    m_client = mosquitto_new(id.constData(), true, this);
    if (!m_client) {
        connectFailed(QStringLiteral("cannot make an MQTT client: %1").arg(std::strerror(errno)));
        return;
    }
    mosquitto_int_option(m_client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_int_option(m_client, MOSQ_OPT_SEND_MAXIMUM, kClientInFlight);
    mosquitto_connect_callback_set(m_client,
                                   [](mosquitto*, void* object, int rc) { self(object)->onConnect(rc); });
    mosquitto_disconnect_callback_set(
        m_client, [](mosquitto*, void* object, int rc) { self(object)->onDisconnect(rc); });
    mosquitto_publish_callback_set(
        m_client, [](mosquitto*, void* object, int mid) { self(object)->onPublish(mid); });
    mosquitto_log_callback_set(m_client, [](mosquitto*, void* object, int level, const char* text) {
        self(object)->onLog(level, text);
    });
    const QByteArray status = m_topics.status.toUtf8();
    mosquitto_will_set(m_client, status.constData(), 7, "offline", kQos, true);
    if (!m_options.username.isEmpty()) {
        mosquitto_username_pw_set(m_client, m_options.username.toUtf8().constData(),
                                  m_options.passwordFile.isEmpty() ? nullptr
                                                                   : password.constData());
    }
    if (m_options.tls) {
        const QByteArray cafile = m_options.cafile.toLocal8Bit();
        const QByteArray cert = m_options.cert.toLocal8Bit();
        const QByteArray key = m_options.key.toLocal8Bit();
        // A key that wants a passphrase must not stop a service at a prompt.
        const int rc = mosquitto_tls_set(
            m_client, cafile.isEmpty() ? nullptr : cafile.constData(),
            cafile.isEmpty() ? kSystemCertificates : nullptr,
            cert.isEmpty() ? nullptr : cert.constData(), key.isEmpty() ? nullptr : key.constData(),
            [](char*, int, int, void*) { return 0; });
        if (rc != MOSQ_ERR_SUCCESS) {
            connectFailed(QStringLiteral("cannot use the TLS files (--cafile, --cert, --key): %1")
                              .arg(QString::fromUtf8(mosquitto_strerror(rc))));
            return;
        }
    }
    password.fill('\0');
    const int rc = mosquitto_connect_async(m_client, qUtf8Printable(m_options.host),
                                           m_options.port, kKeepAliveSeconds);
    m_link = Link::Connecting;
    if (rc != MOSQ_ERR_SUCCESS) {
        // On loopback the handshake can fail inside the call already.
        m_dropReason = clientErrorText(rc);
        dropConnection();
        return;
    }
    watchSocket();
}

void Publisher::connectFailed(const QString& reason) {
    complain(reason);
    m_brokerTrouble = true;
    releaseClient();
    m_link = Link::Down;
    m_pending.clear();
    m_inFlight.clear();
    m_read = m_acknowledged;
    if (m_stopping) {
        finish();
        return;
    }
    if (m_options.once) {
        stop(1);
        return;
    }
    m_retry.start(m_retryMs);
    m_retryMs = std::min(m_retryMs * 2, kLastRetryMs);
}

void Publisher::dropConnection() {
    QString reason;
    if (!m_refusal.isEmpty()) {
        reason = QStringLiteral("the broker %1 refused the connection: %2")
                     .arg(m_options.broker, m_refusal);
    } else if (m_options.tls && m_link == Link::Connecting && !m_lastLoggedError.isEmpty()) {
        reason = QStringLiteral("TLS with the broker %1 failed: %2")
                     .arg(m_options.broker, m_lastLoggedError);
    } else if (m_link == Link::Connecting) {
        reason = QStringLiteral("cannot reach the broker %1: %2").arg(m_options.broker, m_dropReason);
    } else {
        reason = QStringLiteral("lost the broker %1: %2").arg(m_options.broker, m_dropReason);
    }
    connectFailed(reason);
}

void Publisher::afterLoop() {
    if (!m_client) {
        return;
    }
    if (m_dropped || (m_link != Link::Down && mosquitto_socket(m_client) < 0)) {
        if (m_dropReason.isEmpty()) {
            m_dropReason = QStringLiteral("connection closed");
        }
        dropConnection();
        return;
    }
    if (m_stopping && m_offlineAcknowledged) {
        finish();
        return;
    }
    fill();
    if (m_dropped) {
        dropConnection();
        return;
    }
    watchSocket();
}

void Publisher::watchSocket() {
    const int socket = m_client ? mosquitto_socket(m_client) : -1;
    if (socket != m_socket) {
        unwatchSocket();
        m_socket = socket;
        if (socket >= 0) {
            m_readNotifier = new QSocketNotifier(socket, QSocketNotifier::Read, this);
            connect(m_readNotifier, &QSocketNotifier::activated, this, &Publisher::onReadable);
            m_writeNotifier = new QSocketNotifier(socket, QSocketNotifier::Write, this);
            connect(m_writeNotifier, &QSocketNotifier::activated, this, &Publisher::onWritable);
        }
    }
    if (m_writeNotifier) {
        m_writeNotifier->setEnabled(mosquitto_want_write(m_client));
    }
}

void Publisher::unwatchSocket() {
    // The notifiers may be the ones whose signal is running now.
    for (QSocketNotifier* notifier : {m_readNotifier, m_writeNotifier}) {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
    }
    m_readNotifier = nullptr;
    m_writeNotifier = nullptr;
    m_socket = -1;
}

void Publisher::releaseClient() {
    unwatchSocket();
    if (m_client) {
        mosquitto_destroy(m_client);
        m_client = nullptr;
    }
}

void Publisher::onReadable() {
    if (m_client) {
        mosquitto_loop_read(m_client, 1);
        afterLoop();
    }
}

void Publisher::onWritable() {
    if (m_client) {
        mosquitto_loop_write(m_client, 1);
        afterLoop();
    }
}

void Publisher::onConnect(int rc) {
    if (rc != 0) {
        m_refusal = QString::fromUtf8(mosquitto_connack_string(rc));
        return;
    }
    if (m_brokerTrouble) {
        m_brokerTrouble = false;
        m_lastComplaint.clear();
        common::printToolError(QStringLiteral("connected to %1").arg(m_options.broker));
    }
    m_link = Link::Up;
    m_retryMs = kFirstRetryMs;
    publishRetained(m_topics.status, QByteArrayLiteral("online"));
    publishRetained(m_topics.meta, metaPayload());
    if (m_options.haDiscovery) {
        for (const common::Reading& reading : common::kReadingCatalogue) {
            publishRetained(m_topics.discovery(reading), discoveryPayload(m_topics, reading));
        }
    }
}

void Publisher::onDisconnect(int rc) {
    if (m_dropReason.isEmpty()) {
        m_dropReason = clientErrorText(rc);
    }
    m_dropped = true;
}

void Publisher::onPublish(int mid) {
    if (mid == m_offlineMid) {
        m_offlineAcknowledged = true;
        return;
    }
    for (InFlight& message : m_inFlight) {
        if (message.mid == mid) {
            message.acknowledged = true;
            break;
        }
    }
    // A record counts as delivered once it and every record before it are acknowledged.
    while (!m_inFlight.empty() && m_inFlight.front().acknowledged) {
        m_acknowledged = m_inFlight.front().position;
        m_stateDirty = true;
        m_inFlight.pop_front();
    }
}

void Publisher::onLog(int level, const char* text) {
    if ((level & MOSQ_LOG_ERR) != 0 && text) {
        m_lastLoggedError = QString::fromUtf8(text);
    }
}

bool Publisher::publishRetained(const QString& topic, const QByteArray& payload, int* mid) {
    return mosquitto_publish(m_client, mid, qUtf8Printable(topic), static_cast<int>(payload.size()),
                             payload.constData(), kQos, true) == MOSQ_ERR_SUCCESS;
}

void Publisher::stop(int exitCode) {
    if (m_stopping) {
        return;
    }
    m_stopping = true;
    m_exitCode = exitCode;
    m_retry.stop();
    if (m_link != Link::Up) {
        finish();
        return;
    }
    m_offlineAcknowledged = false;
    if (!publishRetained(m_topics.status, QByteArrayLiteral("offline"), &m_offlineMid)) {
        finish();
        return;
    }
    m_stopTimeout.start(kStopTimeoutMs);
    watchSocket();
}

void Publisher::finish() {
    if (m_finished) {
        return;
    }
    m_finished = true;
    m_tick.stop();
    m_retry.stop();
    m_stopTimeout.stop();
    if (m_client) {
        if (m_link == Link::Up) {
            mosquitto_disconnect(m_client);
        }
        releaseClient();
        m_link = Link::Down;
    }
    if (m_stateDirty) {
        writeStateNow();
    }
    m_log.close();
    Q_EMIT finished(m_exitCode);
}

void Publisher::writeStateNow() {
    if (!m_acknowledged) {
        return;
    }
    QString error;
    if (writeState(m_options.state, *m_acknowledged, &error)) {
        m_stateDirty = false;
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
