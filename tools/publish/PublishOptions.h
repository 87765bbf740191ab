#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace publish {

/// What one run of the publisher does, after the command line and the configuration file.
struct Options {
    QString broker; ///< as given, for messages
    QString host;
    int port = 1883;
    bool tls = false;
    QString station;
    QString prefix = QStringLiteral("vx310");
    QString log;
    QString state;
    QString username;
    QString passwordFile;
    QString cafile;
    QString cert;
    QString key;
    bool once = false;
    bool haDiscovery = false;
};

/// Options from the arguments and the configuration file they name (the command line wins), or
/// empty after the one-line complaint on standard error. --help and --version end the process.
std::optional<Options> parseOptions(const QStringList& arguments);

/// The first line of the password file, without its line end; empty with the reason when it
/// cannot be read. The password itself is never printed.
std::optional<QByteArray> readPassword(const QString& path, QString* error);

} // namespace publish
