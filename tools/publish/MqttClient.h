#pragma once

#include "PublishOptions.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <optional>

class QSocketNotifier;
struct mosquitto;

namespace publish {

/// One connection attempt after another to the broker, on this thread's event loop: the socket is
/// watched by QSocketNotifier and driven with mosquitto_loop_read/write/misc. connected() and
/// acknowledged() come from inside the client's loop, where it must not be closed; stepped() and
/// disconnected() come after it, where anything may be done.
class MqttClient : public QObject {
    Q_OBJECT

  public:
    /// The status topic carries the will.
    MqttClient(Options options, QString statusTopic, QObject* parent = nullptr);
    ~MqttClient() override;
    MqttClient(const MqttClient&) = delete;
    MqttClient& operator=(const MqttClient&) = delete;

    /// Starts an attempt; false with the line that says why when it failed at once.
    bool open(QString* error);
    /// Says goodbye to a broker that accepted the connection and drops the client.
    void close();
    /// Publishes at QoS 1; the message id, or empty with the client's reason.
    std::optional<int> publish(const QString& topic, const QByteArray& payload, bool retain,
                               QString* error = nullptr);
    /// The connection is in trouble: disconnected() follows once the current step ends.
    void abandon(const QString& reason);
    /// The keep-alive and the wait for the broker's answer; once a second.
    void service();

  Q_SIGNALS:
    void connected();
    void acknowledged(int mid);
    /// A step of the client's loop ended with the attempt or the connection still alive.
    void stepped();
    /// The attempt or the connection ended, with the line that says why; the client is closed.
    void disconnected(const QString& reason);

  private:
    bool prepare(QString* error);
    void afterStep();
    void fail();
    [[nodiscard]] QString failureText() const;
    void watchSocket();
    void unwatchSocket();
    void release();
    void onReadable();
    void onWritable();
    void onConnect(int rc);
    void onDisconnect(int rc);
    void onLog(int level, const char* text);

    Options m_options;
    QString m_statusTopic;
    mosquitto* m_client = nullptr;
    bool m_connected = false;
    bool m_inStep = false;
    int m_socket = -1;
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_writeNotifier = nullptr;
    QElapsedTimer m_attempt;
    /// Why the connection is over, once it is; the first reason wins, a failed publish's aside.
    QString m_lost;
    QString m_refusal;
    QString m_lastLoggedError;
};

} // namespace publish
