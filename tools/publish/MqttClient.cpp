#include "MqttClient.h"

#include "Delivery.h"

#include <QSocketNotifier>

#include <mosquitto.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace publish {

namespace {

constexpr int kQos = 1;
constexpr int kKeepAliveSeconds = 30;
constexpr int kConnectTimeoutMs = 15000;
/// Room in the client's own window for the status, meta and discovery messages beside ours.
constexpr int kClientInFlight = Delivery::kMaxInFlight + 32;
const char* const kSystemCertificates = "/etc/ssl/certs";

MqttClient* self(void* object) { return static_cast<MqttClient*>(object); }

/// What a failed client call says; a failed system call by its own error.
QString clientErrorText(int rc) {
    return rc == MOSQ_ERR_ERRNO ? QString::fromLocal8Bit(std::strerror(errno))
                                : QString::fromUtf8(mosquitto_strerror(rc));
}

} // namespace

MqttClient::MqttClient(Options options, QString statusTopic, QObject* parent)
    : QObject(parent), m_options(std::move(options)), m_statusTopic(std::move(statusTopic)) {}

MqttClient::~MqttClient() {
    if (m_client) {
        delete m_readNotifier;
        delete m_writeNotifier;
        mosquitto_destroy(m_client);
    }
}

bool MqttClient::open(QString* error) {
    m_refusal.clear();
    m_lastLoggedError.clear();
    m_lost.clear();
    m_connected = false;
    m_attempt.start();
    if (!prepare(error)) {
        release();
        return false;
    }
    const int rc = mosquitto_connect_async(m_client, qUtf8Printable(m_options.host), m_options.port,
                                           kKeepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS) {
        // On loopback the handshake can fail inside the call already.
        m_lost = clientErrorText(rc);
        *error = failureText();
        release();
        return false;
    }
    watchSocket();
    return true;
}

bool MqttClient::prepare(QString* error) {
    QByteArray password;
    if (!m_options.passwordFile.isEmpty()) {
        QString reason;
        const auto read = readPassword(m_options.passwordFile, &reason);
        if (!read) {
            *error = QStringLiteral("cannot read the password file %1: %2")
                         .arg(m_options.passwordFile, reason);
            return false;
        }
        password = *read;
    }

    const QByteArray id = (QStringLiteral("vx310-") + m_options.station).toUtf8();
    m_client = mosquitto_new(id.constData(), true, this);
    if (!m_client) {
        *error = QStringLiteral("cannot make an MQTT client: %1").arg(std::strerror(errno));
        return false;
    }
    mosquitto_int_option(m_client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_int_option(m_client, MOSQ_OPT_SEND_MAXIMUM, kClientInFlight);
    mosquitto_connect_callback_set(
        m_client, [](mosquitto*, void* object, int rc) { self(object)->onConnect(rc); });
    mosquitto_disconnect_callback_set(
        m_client, [](mosquitto*, void* object, int rc) { self(object)->onDisconnect(rc); });
    mosquitto_publish_callback_set(m_client, [](mosquitto*, void* object, int mid) {
        Q_EMIT self(object)->acknowledged(mid);
    });
    mosquitto_log_callback_set(m_client, [](mosquitto*, void* object, int level, const char* text) {
        self(object)->onLog(level, text);
    });
    const QByteArray status = m_statusTopic.toUtf8();
    mosquitto_will_set(m_client, status.constData(), 7, "offline", kQos, true);
    if (!m_options.username.isEmpty()) {
        mosquitto_username_pw_set(m_client, m_options.username.toUtf8().constData(),
                                  m_options.passwordFile.isEmpty() ? nullptr
                                                                   : password.constData());
    }
    password.fill('\0');
    if (m_options.tls) {
        const QByteArray cafile = m_options.cafile.toLocal8Bit();
        const QByteArray cert = m_options.cert.toLocal8Bit();
        const QByteArray key = m_options.key.toLocal8Bit();
        // A key that wants a passphrase must not stop a service at a prompt.
        const int rc = mosquitto_tls_set(m_client, cafile.isEmpty() ? nullptr : cafile.constData(),
                                         cafile.isEmpty() ? kSystemCertificates : nullptr,
                                         cert.isEmpty() ? nullptr : cert.constData(),
                                         key.isEmpty() ? nullptr : key.constData(),
                                         [](char*, int, int, void*) { return 0; });
        if (rc == MOSQ_ERR_NOT_SUPPORTED) {
            *error = QStringLiteral("this build's MQTT library has no TLS: an mqtts:// broker "
                                    "cannot be reached");
            return false;
        }
        if (rc != MOSQ_ERR_SUCCESS) {
            *error = QStringLiteral("cannot use the TLS files (--cafile, --cert, --key): %1")
                         .arg(QString::fromUtf8(mosquitto_strerror(rc)));
            return false;
        }
    }
    return true;
}

void MqttClient::close() {
    if (m_client && m_connected) {
        mosquitto_disconnect(m_client);
    }
    release();
}

std::optional<int> MqttClient::publish(const QString& topic, const QByteArray& payload, bool retain,
                                       QString* error) {
    int mid = 0;
    const int rc =
        mosquitto_publish(m_client, &mid, qUtf8Printable(topic), static_cast<int>(payload.size()),
                          payload.constData(), kQos, retain);
    if (rc != MOSQ_ERR_SUCCESS) {
        if (error) {
            *error = QString::fromUtf8(mosquitto_strerror(rc));
        }
        return std::nullopt;
    }
    // A step ends by watching the socket anyway.
    if (!m_inStep) {
        watchSocket();
    }
    return mid;
}

void MqttClient::abandon(const QString& reason) { m_lost = reason; }

void MqttClient::service() {
    if (!m_client) {
        return;
    }
    m_inStep = true;
    mosquitto_loop_misc(m_client);
    afterStep();
    if (m_client && !m_connected && m_attempt.elapsed() > kConnectTimeoutMs) {
        m_lost = QStringLiteral("no answer");
        fail();
    }
}

void MqttClient::afterStep() {
    if (!m_lost.isEmpty() || mosquitto_socket(m_client) < 0) {
        m_inStep = false;
        fail();
        return;
    }
    Q_EMIT stepped();
    m_inStep = false;
    if (!m_client) {
        return;
    }
    if (!m_lost.isEmpty()) {
        fail();
        return;
    }
    watchSocket();
}

void MqttClient::fail() {
    if (m_lost.isEmpty()) {
        m_lost = QStringLiteral("connection closed");
    }
    const QString reason = failureText();
    release();
    Q_EMIT disconnected(reason);
}

QString MqttClient::failureText() const {
    if (!m_refusal.isEmpty()) {
        return QStringLiteral("the broker %1 refused the connection: %2")
            .arg(m_options.broker, m_refusal);
    }
    if (m_options.tls && !m_connected && !m_lastLoggedError.isEmpty()) {
        return QStringLiteral("TLS with the broker %1 failed: %2")
            .arg(m_options.broker, m_lastLoggedError);
    }
    if (!m_connected) {
        return QStringLiteral("cannot reach the broker %1: %2").arg(m_options.broker, m_lost);
    }
    return QStringLiteral("lost the broker %1: %2").arg(m_options.broker, m_lost);
}

void MqttClient::watchSocket() {
    const int socket = m_client ? mosquitto_socket(m_client) : -1;
    if (socket != m_socket) {
        unwatchSocket();
        m_socket = socket;
        if (socket >= 0) {
            m_readNotifier = new QSocketNotifier(socket, QSocketNotifier::Read, this);
            connect(m_readNotifier, &QSocketNotifier::activated, this, &MqttClient::onReadable);
            m_writeNotifier = new QSocketNotifier(socket, QSocketNotifier::Write, this);
            connect(m_writeNotifier, &QSocketNotifier::activated, this, &MqttClient::onWritable);
        }
    }
    if (m_writeNotifier) {
        m_writeNotifier->setEnabled(mosquitto_want_write(m_client));
    }
}

void MqttClient::unwatchSocket() {
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

void MqttClient::release() {
    unwatchSocket();
    if (m_client) {
        mosquitto_destroy(m_client);
        m_client = nullptr;
    }
    m_connected = false;
}

void MqttClient::onReadable() {
    if (m_client) {
        m_inStep = true;
        mosquitto_loop_read(m_client, 1);
        afterStep();
    }
}

void MqttClient::onWritable() {
    if (m_client) {
        m_inStep = true;
        mosquitto_loop_write(m_client, 1);
        afterStep();
    }
}

void MqttClient::onConnect(int rc) {
    if (rc != 0) {
        m_refusal = QString::fromUtf8(mosquitto_connack_string(rc));
        return;
    }
    m_connected = true;
    Q_EMIT connected();
}

void MqttClient::onDisconnect(int rc) {
    if (m_lost.isEmpty()) {
        m_lost = clientErrorText(rc);
    }
}

void MqttClient::onLog(int level, const char* text) {
    if ((level & MOSQ_LOG_ERR) != 0 && text) {
        m_lastLoggedError = QString::fromUtf8(text);
    }
}

} // namespace publish
