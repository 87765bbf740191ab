#include "MqttBroker.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <mosquitto.h>

#include <algorithm>
#include <atomic>
#include <cstdint>

#include <csignal>

#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace mqtttest {

namespace {

struct LibraryInit {
    LibraryInit() { mosquitto_lib_init(); }
    ~LibraryInit() { mosquitto_lib_cleanup(); }
};
const LibraryInit kLibraryInit;

sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

/// A port nobody listens on now; the kernel picks it.
int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    return port;
}

bool accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = loopback(port);
    const bool ok =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

} // namespace

bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) {
            return done();
        }
        QThread::msleep(20);
    }
    return true;
}

bool runCommand(const QString& program, const QStringList& arguments, QString* output) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool ended = process.waitForFinished(30000);
    if (output) {
        *output = QString::fromUtf8(process.readAll());
    }
    return ended && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

MqttBroker::MqttBroker(QString folder) : m_folder(std::move(folder)) {}

MqttBroker::~MqttBroker() { stop(); }

QString MqttBroker::url(const char* scheme) const {
    return QStringLiteral("%1://127.0.0.1:%2").arg(QLatin1StringView(scheme)).arg(m_port);
}

QString MqttBroker::logText() const {
    QFile log(m_folder + QStringLiteral("/broker.log"));
    return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
}

bool MqttBroker::start() {
    if (m_port != 0) {
        return startOn(m_port);
    }
    // Another test may take the port between the look and the broker's bind: try another.
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (startOn(freePort())) {
            return true;
        }
    }
    m_port = 0;
    return false;
}

bool MqttBroker::startOn(int port) {
    m_port = port;
    const passwd* user = ::getpwuid(::geteuid());
    QStringList config = {
        QStringLiteral("listener %1 127.0.0.1").arg(port),
    };
    config += m_extra;
    config += {
        // A broker started by root would otherwise become another user who cannot read the
        // test's files.
        QStringLiteral("user %1").arg(QString::fromLocal8Bit(user ? user->pw_name : "root")),
        QStringLiteral("persistence true"),
        QStringLiteral("persistence_location %1/").arg(m_folder),
        QStringLiteral("max_queued_messages 0"),
        QStringLiteral("max_inflight_messages 0"),
        QStringLiteral("log_type error"),
        QStringLiteral("log_type warning"),
        QStringLiteral("log_type notice"),
        QStringLiteral("log_type information"),
    };
    if (std::none_of(m_extra.begin(), m_extra.end(),
                     [](const QString& line) { return line.startsWith(u"password_file"); })) {
        config << QStringLiteral("allow_anonymous true");
    }
    QFile file(m_folder + QStringLiteral("/mosquitto.conf"));
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    file.write((config.join(u'\n') + u'\n').toUtf8());
    file.close();
    m_process.setStandardOutputFile(m_folder + QStringLiteral("/broker.log"), QIODevice::Append);
    m_process.setStandardErrorFile(m_folder + QStringLiteral("/broker.log"), QIODevice::Append);
    m_process.start(QStringLiteral("mosquitto"), {QStringLiteral("-c"), file.fileName()});
    if (!m_process.waitForStarted(10000)) {
        return false;
    }
    const bool up = waitUntil(
        [&] { return m_process.state() != QProcess::Running || accepts(port); }, 10000);
    if (!up || m_process.state() != QProcess::Running) {
        stop();
        return false;
    }
    return true;
}

void MqttBroker::stop() {
    if (m_process.state() == QProcess::NotRunning) {
        return;
    }
    m_process.terminate();
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool MqttBroker::persist() {
    const QString database = m_folder + QStringLiteral("/mosquitto.db");
    QFile::remove(database);
    ::kill(static_cast<pid_t>(m_process.processId()), SIGUSR1);
    return waitUntil([&] { return QFile::exists(database); }, 10000);
}

void MqttBroker::hang() { ::kill(static_cast<pid_t>(m_process.processId()), SIGSTOP); }

void MqttBroker::resume() { ::kill(static_cast<pid_t>(m_process.processId()), SIGCONT); }

void MqttBroker::crash() {
    m_process.kill();
    m_process.waitForFinished(10000);
}

Subscriber::Subscriber(int port, QStringList filters, const Login& login)
    : m_filters(std::move(filters)) {
    static std::atomic<int> serial{0};
    const QByteArray id = QStringLiteral("test-subscriber-%1-%2")
                              .arg(::getpid())
                              .arg(serial++)
                              .toUtf8();
    m_syncTopic = QStringLiteral("test-sync/") + QString::fromUtf8(id);
    m_filters << m_syncTopic;
    m_client = mosquitto_new(id.constData(), false, this);
    mosquitto_connect_callback_set(m_client, [](mosquitto* client, void* object, int rc) {
        if (rc != 0) {
            return;
        }
        auto* self = static_cast<Subscriber*>(object);
        for (const QString& filter : self->m_filters) {
            mosquitto_subscribe(client, nullptr, filter.toUtf8().constData(), 1);
        }
    });
    mosquitto_subscribe_callback_set(m_client, [](mosquitto*, void* object, int, int, const int*) {
        auto* self = static_cast<Subscriber*>(object);
        const std::lock_guard lock(self->m_mutex);
        ++self->m_subscriptions;
    });
    mosquitto_message_callback_set(
        m_client, [](mosquitto*, void* object, const mosquitto_message* message) {
            auto* self = static_cast<Subscriber*>(object);
            const std::lock_guard lock(self->m_mutex);
            self->m_messages.push_back(
                {QString::fromUtf8(message->topic),
                 QByteArray(static_cast<const char*>(message->payload), message->payloadlen)});
        });
    if (!login.cafile.isEmpty()) {
        mosquitto_tls_set(m_client, login.cafile.toLocal8Bit().constData(), nullptr, nullptr,
                          nullptr, nullptr);
    }
    if (!login.username.isEmpty()) {
        mosquitto_username_pw_set(m_client, login.username.toUtf8().constData(),
                                  login.password.toUtf8().constData());
    }
    mosquitto_connect_async(m_client, "127.0.0.1", port, 30);
    mosquitto_loop_start(m_client);
}

Subscriber::~Subscriber() {
    mosquitto_disconnect(m_client);
    mosquitto_loop_stop(m_client, true);
    mosquitto_destroy(m_client);
}

bool Subscriber::waitSubscribed(int timeoutMs) {
    return waitUntil(
        [&] {
            const std::lock_guard lock(m_mutex);
            return m_subscriptions >= m_filters.size();
        },
        timeoutMs);
}

bool Subscriber::sync(int timeoutMs) {
    static std::atomic<int> serial{0};
    const QByteArray token = QByteArray::number(serial++);
    const QByteArray topic = m_syncTopic.toUtf8();
    if (mosquitto_publish(m_client, nullptr, topic.constData(), static_cast<int>(token.size()),
                          token.constData(), 1, false) != MOSQ_ERR_SUCCESS) {
        return false;
    }
    return waitFor(
        [&](const std::vector<Message>& messages) {
            return std::any_of(messages.begin(), messages.end(), [&](const Message& m) {
                return m.topic == m_syncTopic && m.payload == token;
            });
        },
        timeoutMs);
}

std::vector<Subscriber::Message> Subscriber::messages() const {
    const std::lock_guard lock(m_mutex);
    return m_messages;
}

bool Subscriber::waitFor(const std::function<bool(const std::vector<Message>&)>& done,
                         int timeoutMs) const {
    return waitUntil([&] { return done(messages()); }, timeoutMs);
}

bool makeTlsFiles(const QString& folder, QString* output) {
    const QDir dir(folder);
    const auto file = [&dir](const QString& name) { return dir.filePath(name); };
    QFile extensions(file(QStringLiteral("san.ext")));
    if (!extensions.open(QIODevice::WriteOnly)) {
        return false;
    }
    extensions.write("subjectAltName=IP:127.0.0.1\n");
    extensions.close();
    const QStringList ec = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
    for (const QString ca : {"ca", "other-ca"}) {
        if (!runCommand("openssl",
                        QStringList{"req", "-x509"} + ec +
                            QStringList{"-keyout", file(ca + ".key"), "-out", file(ca + ".crt"),
                                        "-subj", "/CN=" + ca, "-days", "2"},
                        output)) {
            return false;
        }
    }
    return runCommand("openssl",
                      QStringList{"req"} + ec +
                          QStringList{"-keyout", file("server.key"), "-out", file("server.csr"),
                                      "-subj", "/CN=127.0.0.1"},
                      output) &&
           runCommand("openssl",
                      {"x509", "-req", "-in", file("server.csr"), "-CA", file("ca.crt"), "-CAkey",
                       file("ca.key"), "-CAcreateserial", "-out", file("server.crt"), "-days", "2",
                       "-extfile", file("san.ext")},
                      output);
}

} // namespace mqtttest
