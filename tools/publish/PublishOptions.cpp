#include "PublishOptions.h"

#include "StateFile.h"

#include "common/ToolArguments.h"
#include "trend/ReadingLogFiles.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSettings>
#include <QSysInfo>
#include <QUrl>

#include <algorithm>
#include <array>
#include <vector>

namespace publish {

namespace {

struct OptionSpec {
    const char* name;
    const char* valueName; ///< nullptr for a switch
    const char* description;
    bool isPath;
};

const std::array<OptionSpec, 13> kOptions = {{
    {"broker", "URL", "Broker to publish to: mqtt://HOST[:PORT] or mqtts://HOST[:PORT].", false},
    {"station", "NAME", "Station name in the topics (default: the host name).", false},
    {"topic-prefix", "PREFIX", "First level(s) of the topics (default: vx310).", false},
    {"log", "FILE", "Reading log to follow (default: the station's log).", true},
    {"state", "FILE",
     "Where the last acknowledged snapshot is kept (default: "
#ifdef _WIN32
     "%LOCALAPPDATA%\\vx310\\publish-<station>.state).",
#else
     "$XDG_STATE_HOME/vx310/publish-<station>.state).",
#endif
     true},
    {"username", "USER", "User name for the broker.", false},
    {"password-file", "FILE", "File whose first line is the broker password.", true},
#ifdef _WIN32
    {"cafile", "FILE", "CA certificates to check an mqtts:// broker (required on Windows).",
#else
    {"cafile", "FILE", "CA certificates to check an mqtts:// broker (default: the system's).",
#endif
     true},
    {"cert", "FILE", "Client certificate for an mqtts:// broker (with --key).", true},
    {"key", "FILE", "Key of the client certificate.", true},
    {"config", "FILE", "INI file with the long options as keys; the command line wins.", true},
    {"once", nullptr, "Publish what is not yet published, then exit.", false},
    {"ha-discovery", nullptr, "Also publish discovery configurations for the 16 readings.", false},
}};

void complain(const QString& text) { common::printToolError(text); }

QString optionName(const char* name) { return QStringLiteral("--") + QLatin1StringView(name); }

std::optional<bool> switchValue(const QString& text) {
    const QString v = text.trimmed().toLower();
    if (v == u"true" || v == u"yes" || v == u"on" || v == u"1") {
        return true;
    }
    if (v == u"false" || v == u"no" || v == u"off" || v == u"0") {
        return false;
    }
    return std::nullopt;
}

/// Keys and values of the configuration file, paths made absolute against its folder.
std::optional<QHash<QString, QString>> readConfig(const QString& path) {
    const QFileInfo info(path);
    QFile probe(path);
    if (!info.isFile() || !probe.open(QIODevice::ReadOnly)) {
        complain(QStringLiteral("cannot read the configuration %1: %2")
                     .arg(path, info.exists() ? probe.errorString()
                                              : QStringLiteral("no such file")));
        return std::nullopt;
    }
    probe.close();
    QSettings settings(path, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) {
        complain(QStringLiteral("%1 is not an INI file").arg(path));
        return std::nullopt;
    }
    QHash<QString, QString> values;
    for (const QString& key : settings.allKeys()) {
        if (key == u"password") {
            complain(QStringLiteral("%1: a password is never written there; name a file holding "
                                    "it with password-file")
                         .arg(path));
            return std::nullopt;
        }
        const auto spec = std::find_if(kOptions.begin(), kOptions.end(), [&](const auto& o) {
            return key == QLatin1StringView(o.name) && key != u"config";
        });
        if (spec == kOptions.end()) {
            complain(QStringLiteral("%1: unknown key '%2'").arg(path, key));
            return std::nullopt;
        }
        const QVariant raw = settings.value(key);
        QString value = raw.typeId() == QMetaType::QStringList
                            ? raw.toStringList().join(QStringLiteral(", "))
                            : raw.toString();
        if (spec->isPath && !value.isEmpty()) {
            value = QDir(info.absolutePath()).absoluteFilePath(QDir::fromNativeSeparators(value));
        }
        values.insert(key, value);
    }
    return values;
}

bool validName(const QString& text, const QString& forbidden) {
    return !text.isEmpty() && std::none_of(forbidden.begin(), forbidden.end(),
                                           [&](QChar c) { return text.contains(c); });
}

bool setBroker(Options& options, const QString& text) {
    options.broker = text;
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    const bool pathless = url.path().isEmpty() || url.path() == u"/";
    if (!url.isValid() || (scheme != u"mqtt" && scheme != u"mqtts") || url.host().isEmpty() ||
        !pathless || url.hasQuery() || url.hasFragment()) {
        complain(QStringLiteral("--broker '%1' is not mqtt://HOST[:PORT] or mqtts://HOST[:PORT]")
                     .arg(url.isValid() && url.userInfo().isEmpty() ? text
                                                                   : QStringLiteral("...")));
        return false;
    }
    if (!url.userInfo().isEmpty()) {
        complain(QStringLiteral("--broker must not carry a user or password: use --username and "
                                "--password-file"));
        return false;
    }
    options.tls = scheme == u"mqtts";
    options.host = url.host();
    options.port = url.port(options.tls ? 8883 : 1883);
    if (options.port < 1) {
        complain(QStringLiteral("--broker '%1' has no valid port").arg(text));
        return false;
    }
    return true;
}

} // namespace

std::optional<Options> parseOptions(const QStringList& arguments) {
    for (const QString& argument : arguments.mid(1)) {
        if (argument == u"--") {
            break;
        }
        if (argument == u"--password" || argument.startsWith(u"--password=") ||
            argument == u"-password" || argument.startsWith(u"-password=")) {
            complain(QStringLiteral("a password is never taken on the command line: name a file "
                                    "holding it with --password-file"));
            return std::nullopt;
        }
    }

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Follows the reading log and publishes every recorded snapshot to an MQTT "
                       "broker, at least once and in recording order."));
    std::vector<QCommandLineOption> options;
    for (const OptionSpec& spec : kOptions) {
        options.emplace_back(spec.valueName
                                 ? QCommandLineOption(QString::fromLatin1(spec.name),
                                                      QString::fromLatin1(spec.description),
                                                      QString::fromLatin1(spec.valueName))
                                 : QCommandLineOption(QString::fromLatin1(spec.name),
                                                      QString::fromLatin1(spec.description)));
        parser.addOption(options.back());
    }
    if (!common::parseToolArguments(parser, arguments)) {
        return std::nullopt;
    }

    QHash<QString, QString> given;
    for (std::size_t i = 0; i < kOptions.size(); ++i) {
        const OptionSpec& spec = kOptions[i];
        const QString name = QString::fromLatin1(spec.name);
        if (!spec.valueName) {
            if (parser.isSet(options[i])) {
                given.insert(name, QStringLiteral("true"));
            }
            continue;
        }
        const QStringList values = parser.values(options[i]);
        if (values.size() > 1) {
            complain(QStringLiteral("%1 given twice (try --help)").arg(optionName(spec.name)));
            return std::nullopt;
        }
        if (values.size() == 1) {
            if (values.constFirst().isEmpty()) {
                complain(
                    QStringLiteral("%1 needs a value (try --help)").arg(optionName(spec.name)));
                return std::nullopt;
            }
            given.insert(name, spec.isPath ? QFileInfo(values.constFirst()).absoluteFilePath()
                                           : values.constFirst());
        }
    }
    if (given.contains(QStringLiteral("config"))) {
        const auto config = readConfig(given.value(QStringLiteral("config")));
        if (!config) {
            return std::nullopt;
        }
        for (auto it = config->begin(); it != config->end(); ++it) {
            if (!given.contains(it.key())) {
                given.insert(it.key(), it.value());
            }
        }
    }

    Options result;
    for (const char* name : {"once", "ha-discovery"}) {
        if (!given.contains(QLatin1StringView(name))) {
            continue;
        }
        const auto on = switchValue(given.value(QLatin1StringView(name)));
        if (!on) {
            complain(QStringLiteral("%1 '%2' is not true or false")
                         .arg(optionName(name), given.value(QLatin1StringView(name))));
            return std::nullopt;
        }
        (qstrcmp(name, "once") == 0 ? result.once : result.haDiscovery) = *on;
    }
    if (!given.contains(QStringLiteral("broker"))) {
        complain(QStringLiteral("--broker is required (try --help)"));
        return std::nullopt;
    }
    if (!setBroker(result, given.value(QStringLiteral("broker")))) {
        return std::nullopt;
    }
    result.station = given.value(QStringLiteral("station"), QSysInfo::machineHostName());
    if (!validName(result.station, QStringLiteral("+#/"))) {
        complain(QStringLiteral("--station '%1' must not be empty or hold '+', '#' or '/'")
                     .arg(result.station));
        return std::nullopt;
    }
    result.prefix = given.value(QStringLiteral("topic-prefix"), result.prefix);
    if (!validName(result.prefix, QStringLiteral("+#"))) {
        complain(QStringLiteral("--topic-prefix '%1' must not be empty or hold '+' or '#'")
                     .arg(result.prefix));
        return std::nullopt;
    }
    result.log = given.value(QStringLiteral("log"), trend::readingLogPath());
    result.state = given.value(QStringLiteral("state"), defaultStatePath(result.station));
    result.username = given.value(QStringLiteral("username"));
    result.passwordFile = given.value(QStringLiteral("password-file"));
    result.cafile = given.value(QStringLiteral("cafile"));
    result.cert = given.value(QStringLiteral("cert"));
    result.key = given.value(QStringLiteral("key"));
    if (!result.passwordFile.isEmpty() && result.username.isEmpty()) {
        complain(QStringLiteral("--password-file needs --username"));
        return std::nullopt;
    }
    if (result.cert.isEmpty() != result.key.isEmpty()) {
        complain(QStringLiteral("--cert and --key go together"));
        return std::nullopt;
    }
    if (!result.tls && (!result.cafile.isEmpty() || !result.cert.isEmpty())) {
        complain(QStringLiteral("--cafile, --cert and --key need an mqtts:// broker"));
        return std::nullopt;
    }
#ifdef _WIN32
    // The TLS library cannot read the Windows certificate store: a broker checked against no CA
    // would fail every connect.
    if (result.tls && result.cafile.isEmpty()) {
        complain(QStringLiteral("an mqtts:// broker needs --cafile on Windows"));
        return std::nullopt;
    }
#endif
    return result;
}

std::optional<QByteArray> readPassword(const QString& path, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return std::nullopt;
    }
    QByteArray line = file.readLine(4096);
    while (line.endsWith('\n') || line.endsWith('\r')) {
        line.chop(1);
    }
    return line;
}

} // namespace publish
