#include "app/StationGuard.h"

#include "trend/ReadingLogFiles.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QLocalSocket>
#include <QThread>

namespace app {

namespace {
const QByteArray kToFront = "front\n";
const QByteArray kDone = "done\n";
// A station that holds the lock listens within moments of its start.
constexpr int kHandOverMs = 5000;
constexpr int kRetryMs = 100;
constexpr int kAnswerMs = 2000;

} // namespace

StationGuard::StationGuard(QString logPath, QObject* parent)
    : QObject(parent), m_logPath(trend::resolvedPath(logPath)), m_serverName(serverName(logPath)) {
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, [this] { answer(); });
}

StationGuard::~StationGuard() = default;

QString StationGuard::serverName(const QString& logPath) {
    return QStringLiteral("vx310-") +
           QString::fromLatin1(QCryptographicHash::hash(trend::resolvedPath(logPath).toUtf8(),
                                                        QCryptographicHash::Sha256)
                                   .toHex()
                                   .left(32));
}

StationGuard::Claim StationGuard::claim() {
    // Without the log's folder there is no log to share yet; the server name alone keeps a
    // second start from recording beside the first.
    bool held = false;
    if (QFileInfo(QFileInfo(m_logPath).absolutePath()).isDir()) {
        m_lock = std::make_unique<QLockFile>(m_logPath + QStringLiteral(".lock"));
        // A lock is stale only when its process is gone (kill -9, a crash), never by its age.
        m_lock->setStaleLockTime(0);
        held = m_lock->tryLock(0);
        if (!held && m_lock->error() == QLockFile::LockFailedError) {
            QString host;
            QString application;
            m_lock->getLockInfo(&m_holder, &host, &application);
            // The holder may be starting; it listens right after taking the lock.
            const QDeadlineTimer deadline(kHandOverMs);
            while (!deadline.hasExpired()) {
                if (askToFront(kRetryMs)) {
                    return Claim::HandedOver;
                }
                QThread::msleep(kRetryMs);
            }
            return Claim::Unanswered;
        }
    }
    // A station started while the folder was missing listens without a lock.
    if (askToFront(kRetryMs)) {
        return Claim::HandedOver;
    }
    if (held) {
        // What a killed station left behind; only the lock's holder may clear it.
        QLocalServer::removeServer(m_serverName);
    }
    m_server.listen(m_serverName);
    return Claim::Run;
}

bool StationGuard::askToFront(int timeoutMs) const {
    QLocalSocket socket;
    socket.connectToServer(m_serverName);
    if (!socket.waitForConnected(timeoutMs)) {
        return false;
    }
    socket.write(kToFront);
    if (!socket.waitForBytesWritten(kAnswerMs)) {
        return false;
    }
    QByteArray reply;
    const QDeadlineTimer deadline(kAnswerMs);
    while (!reply.contains('\n') &&
           socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
        reply += socket.readAll();
    }
    return reply == kDone;
}

void StationGuard::answer() {
    while (QLocalSocket* socket = m_server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        const auto serve = [this, socket] {
            if (!socket->canReadLine()) {
                return;
            }
            if (socket->readLine() == kToFront && m_bringToFront) {
                m_bringToFront();
            }
            socket->write(kDone);
            socket->flush();
        };
        connect(socket, &QLocalSocket::readyRead, socket, serve);
        serve();
    }
}

} // namespace app
