#include "StateFile.h"

#include "Payloads.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace publish {

QString defaultStatePath(const QString& station) {
#ifdef _WIN32
    const QString home = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
#else
    QString home = qEnvironmentVariable("XDG_STATE_HOME");
    if (home.isEmpty() || !QDir::isAbsolutePath(home)) {
        home = QDir::homePath() + QStringLiteral("/.local/state");
    }
#endif
    return home + QStringLiteral("/vx310/publish-%1.state").arg(station);
}

std::optional<RingPosition> readState(const QString& path, QString* error) {
    error->clear();
    QFile file(path);
    if (!file.exists()) {
        return std::nullopt;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return std::nullopt;
    }
    RingPosition position;
    int found = 0;
    bool allRead = true;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine(1024)).trimmed();
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0) {
            continue;
        }
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        bool ok = true;
        if (key == u"record") {
            position.record = value.toInt(&ok);
        } else if (key == u"date") {
            position.date = value.toDouble(&ok);
        } else if (key == u"time") {
            position.time = value.toDouble(&ok);
        } else {
            continue;
        }
        allRead = allRead && ok;
        ++found;
    }
    if (found != 3 || !allRead) {
        *error = QStringLiteral("no record, date and time in it");
        return std::nullopt;
    }
    return position;
}

bool writeState(const QString& path, const RingPosition& position, QString* error) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    // Day numbers with every digit, so the row's own date and time compare equal when read back.
    const QString text =
        QStringLiteral("# the last snapshot the broker acknowledged\nrecord=%1\ndate=%2\ntime=%3\n"
                       "moment=%4\n")
            .arg(position.record)
            .arg(QString::number(position.date, 'g', 17), QString::number(position.time, 'g', 17),
                 localMomentText(position.date, position.time));
    file.write(text.toUtf8());
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace publish
