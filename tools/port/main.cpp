// vx310-port: says what each port number reaches, and points a port at a serial device or a
// gateway, so nobody edits the port files by hand.

#include "PortTarget.h"
#include "common/ToolArguments.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cstdio>
#include <functional>
#include <optional>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kListedPorts = 20;
constexpr int kHighestPort = 255;

using common::printToolError;
using modbus485::PortTarget;

QString pathOf(int port) { return QString::fromStdString(modbus485::portLinkPath(port)); }

/// A port number argument from 1 to 255, or empty after the complaint.
std::optional<int> portArgument(const QString& text) {
    bool ok = false;
    const int port = text.toInt(&ok);
    if (!ok || port < 1 || port > kHighestPort) {
        printToolError(QStringLiteral("'%1' is not a port number from 1 to %2 (try --help)")
                           .arg(text)
                           .arg(kHighestPort));
        return std::nullopt;
    }
    return port;
}

QString describe(int port) {
    const PortTarget target = modbus485::portTarget(port);
    const QString host = QString::fromStdString(target.host);
    const QString address = (host.contains(u':') ? QStringLiteral("[%1]").arg(host) : host) +
                            QStringLiteral(":%1").arg(target.tcpPort);
    switch (target.kind) {
    case PortTarget::Kind::ModbusTcp:
        return QStringLiteral("Modbus TCP gateway %1").arg(address);
    case PortTarget::Kind::RtuOverTcp:
        return QStringLiteral("RTU-over-TCP gateway %1").arg(address);
    case PortTarget::Kind::Invalid:
        return QStringLiteral("unusable: %1").arg(QString::fromStdString(target.problem));
    case PortTarget::Kind::Serial:
        break;
    }
    const QFileInfo link(pathOf(port));
    const QString device = link.isSymLink() ? link.symLinkTarget() : QString();
    if (link.isSymLink() && !QFileInfo::exists(device)) {
        return QStringLiteral("nothing (linked to %1, which is not there)").arg(device);
    }
    if (!device.isEmpty()) {
        return QStringLiteral("serial device %1").arg(device);
    }
    const QString own = QString::fromStdString(target.device);
    return QFileInfo::exists(own) ? QStringLiteral("serial device %1").arg(own)
                                  : QStringLiteral("nothing");
}

int list() {
    for (int port = 1; port <= kHighestPort; ++port) {
        if (port <= kListedPorts || QFileInfo(pathOf(port)).isSymLink() ||
            QFileInfo::exists(pathOf(port))) {
            std::printf("port %d: %s\n", port, qUtf8Printable(describe(port)));
        }
    }
    return kExitOk;
}

/// Puts a new file or link in place of the port's path in one step, so an open never meets
/// the port half set.
bool replacePath(int port, const std::function<bool(const QString&)>& makeAt) {
    const QString path = pathOf(port);
    if (QFileInfo(path).isDir() && !QFileInfo(path).isSymLink()) {
        printToolError(QStringLiteral("%1 is a folder; remove it by hand").arg(path));
        return false;
    }
    if (!QDir().mkpath(QFileInfo(path).path())) {
        printToolError(QStringLiteral("cannot make the folder %1").arg(QFileInfo(path).path()));
        return false;
    }
    const QString staging = path + QStringLiteral(".new");
    QFile::remove(staging);
    if (!makeAt(staging)) {
        QFile::remove(staging);
        return false;
    }
    if (::rename(QFile::encodeName(staging).constData(), QFile::encodeName(path).constData()) !=
        0) {
        printToolError(QStringLiteral("cannot set %1: %2")
                           .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
        QFile::remove(staging);
        return false;
    }
    return true;
}

int setGateway(int port, const QString& url) {
    const PortTarget target = modbus485::parseGatewayUrl(url.toStdString());
    if (target.kind == PortTarget::Kind::Invalid) {
        printToolError(
            QStringLiteral("'%1': %2").arg(url, QString::fromStdString(target.problem)));
        return kExitUsage;
    }
    const bool set = replacePath(port, [&url](const QString& at) {
        QFile file(at);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) ||
            file.write((url.trimmed() + u'\n').toUtf8()) < 0 || !file.flush()) {
            printToolError(QStringLiteral("cannot write %1: %2").arg(at, file.errorString()));
            return false;
        }
        return true;
    });
    return set ? kExitOk : kExitFailed;
}

int setDevice(int port, const QString& device) {
    const QString absolute = QFileInfo(device).absoluteFilePath();
    struct stat info {};
    if (::stat(QFile::encodeName(absolute).constData(), &info) != 0 || !S_ISCHR(info.st_mode)) {
        printToolError(QStringLiteral("'%1' is not a serial device nor tcp://HOST[:PORT] or "
                                      "rtu-over-tcp://HOST:PORT")
                           .arg(device));
        return kExitUsage;
    }
    const bool set = replacePath(port, [&absolute](const QString& at) {
        if (!QFile::link(absolute, at)) {
            printToolError(QStringLiteral("cannot make the link %1").arg(at));
            return false;
        }
        return true;
    });
    return set ? kExitOk : kExitFailed;
}

int clear(int port) {
    const QString path = pathOf(port);
    const QFileInfo info(path);
    if (!info.isSymLink() && !info.exists()) {
        return kExitOk;
    }
    if (info.isDir() && !info.isSymLink()) {
        printToolError(QStringLiteral("%1 is a folder; remove it by hand").arg(path));
        return kExitFailed;
    }
    if (!QFile::remove(path)) {
        printToolError(QStringLiteral("cannot remove %1").arg(path));
        return kExitFailed;
    }
    return kExitOk;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vx310-port"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VX310_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Says what each port number of the station reaches, and points a port at "
                       "a serial device or at a gateway:\n"
                       "  list                      ports 1-20 and any other port set\n"
                       "  set N DEVICE              port N is the serial device DEVICE\n"
                       "  set N tcp://HOST[:PORT]   port N is a Modbus TCP gateway (port 502 "
                       "unless given)\n"
                       "  set N rtu-over-tcp://HOST:PORT\n"
                       "                            port N is a serial server passing RTU frames\n"
                       "  clear N                   port N is /dev/ttyS<N-1> again\n"
                       "The ports live in %1.")
            .arg(QString::fromStdString(modbus485::dataHome() + "/modbus485")));
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("list, set or clear, and its arguments."));
    if (!common::parseToolArguments(parser, app.arguments(), true)) {
        return kExitUsage;
    }
    const QStringList args = parser.positionalArguments();
    const QString command = args.value(0);
    const auto wrongCount = [&command]() {
        printToolError(QStringLiteral("wrong number of arguments for '%1' (try --help)")
                           .arg(command));
        return kExitUsage;
    };
    if (command == u"list") {
        return args.size() == 1 ? list() : wrongCount();
    }
    if (command == u"set" || command == u"clear") {
        if (args.size() != (command == u"set" ? 3 : 2)) {
            return wrongCount();
        }
        const auto port = portArgument(args[1]);
        if (!port) {
            return kExitUsage;
        }
        if (command == u"clear") {
            return clear(*port);
        }
        return args[2].contains(QStringLiteral("://")) ? setGateway(*port, args[2])
                                                       : setDevice(*port, args[2]);
    }
    printToolError(command.isEmpty()
                       ? QStringLiteral("no command: list, set or clear (try --help)")
                       : QStringLiteral("unknown command '%1': list, set or clear (try --help)")
                             .arg(command));
    return kExitUsage;
}
