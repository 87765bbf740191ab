#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>
#include <mutex>
#include <vector>

struct mosquitto;

namespace mqtttest {

/// A real mosquitto broker of the test's own on a free loopback port, with its configuration,
/// persistence and log in the given folder. It keeps its port across stop() and start().
class MqttBroker {
  public:
    explicit MqttBroker(QString folder);
    ~MqttBroker();
    MqttBroker(const MqttBroker&) = delete;
    MqttBroker& operator=(const MqttBroker&) = delete;

    /// Lines added to the listener's configuration (TLS files, password file), before start().
    void addListenerLines(const QStringList& lines) { m_extra += lines; }

    /// Starts the broker and waits until it takes connections; false when it would not.
    bool start();
    /// Ends it with SIGTERM, so it saves its sessions and queued messages.
    void stop();
    /// Writes its sessions to disk now (SIGUSR1), so a crash keeps the subscriptions.
    bool persist();
    /// Stops it dead (SIGSTOP): connections stay open, nothing is answered.
    void hang();
    /// Lets a hung broker go on (SIGCONT).
    void resume();
    /// Ends it with SIGKILL: what it had not answered is gone.
    void crash();

    [[nodiscard]] int port() const { return m_port; }
    [[nodiscard]] QString url(const char* scheme = "mqtt") const;
    [[nodiscard]] QString logText() const;

  private:
    bool startOn(int port);

    QString m_folder;
    QStringList m_extra;
    QProcess m_process;
    int m_port = 0;
};

/// How a subscriber reaches its broker.
struct Login {
    QString cafile;
    QString username;
    QString password;
};

/// A real MQTT client on its own network thread, subscribed at QoS 1 with a session the broker
/// keeps while it is away, so a broker restart loses nothing queued for it.
class Subscriber {
  public:
    struct Message {
        QString topic;
        QByteArray payload;
    };

    Subscriber(int port, QStringList filters, const Login& login = {});
    ~Subscriber();
    Subscriber(const Subscriber&) = delete;
    Subscriber& operator=(const Subscriber&) = delete;

    /// Waits for the broker's answer to the subscription.
    bool waitSubscribed(int timeoutMs = 10000);
    /// A message to itself and back: the broker has then taken every acknowledgement sent
    /// before it.
    bool sync(int timeoutMs = 10000);
    [[nodiscard]] std::vector<Message> messages() const;
    /// Polls until the messages satisfy done, or the time is up; the result of the last look.
    bool waitFor(const std::function<bool(const std::vector<Message>&)>& done,
                 int timeoutMs = 30000) const;

  private:
    mosquitto* m_client = nullptr;
    QStringList m_filters;
    QString m_syncTopic;
    mutable std::mutex m_mutex;
    std::vector<Message> m_messages;
    qsizetype m_subscriptions = 0;
};

/// The TLS files of a run, made in folder: a CA (ca.crt, ca.key), a server certificate for
/// 127.0.0.1 signed by it (server.crt, server.key) and a CA that signed nothing (other-ca.crt).
/// False, with openssl's words in output, when they could not be made.
bool makeTlsFiles(const QString& folder, QString* output);

/// Runs a command to its end; false when it did not exit with status 0.
bool runCommand(const QString& program, const QStringList& arguments, QString* output = nullptr);

/// Polls a condition until it holds or the time is up.
bool waitUntil(const std::function<bool()>& done, int timeoutMs);

} // namespace mqtttest
