// vx310-export: writes the recorded snapshots between two moments as CSV, while the station goes
// on recording.

#include "common/ToolArguments.h"
#include "trend/ReadingLogFiles.h"
#include "trend/SnapshotExport.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QTime>
#include <QTimeZone>

#include <optional>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
const char* const kConnection = "vx310-export";
const QString kMomentForm = QStringLiteral("yyyy-MM-dd HH:mm:ss");

using common::printToolError;

struct Options {
    QDateTime from;
    QDateTime to;
    QString output;
    QString log;
};

/// The moment of an argument in exactly the documented form; empty otherwise. It carries no
/// time zone, so a moment inside a daylight-saving gap is read as written.
std::optional<QDateTime> parseMoment(const QString& text) {
    const QStringList parts = text.split(u' ');
    if (parts.size() != 2) {
        return std::nullopt;
    }
    const QDate date = QDate::fromString(parts[0], QStringLiteral("yyyy-MM-dd"));
    const QTime time = QTime::fromString(parts[1], QStringLiteral("HH:mm:ss"));
    if (!date.isValid() || !time.isValid()) {
        return std::nullopt;
    }
    QDateTime at(date, time, QTimeZone::utc());
    // The parser also takes one-digit fields; the form promises two.
    if (at.toString(kMomentForm) != text) {
        return std::nullopt;
    }
    return at;
}

/// The one value of an option given at most once, or empty after printing the complaint.
std::optional<QString> singleValue(const QCommandLineParser& parser,
                                   const QCommandLineOption& option) {
    const QStringList values = parser.values(option);
    const QString name = QStringLiteral("--") + option.names().constFirst();
    if (values.size() > 1) {
        printToolError(QStringLiteral("%1 given twice (try --help)").arg(name));
        return std::nullopt;
    }
    if (!values.isEmpty() && values.constFirst().isEmpty()) {
        printToolError(QStringLiteral("%1 needs a value (try --help)").arg(name));
        return std::nullopt;
    }
    return values.isEmpty() ? QString() : values.constFirst();
}

std::optional<QDateTime> momentOption(const QCommandLineParser& parser,
                                      const QCommandLineOption& option) {
    const auto text = singleValue(parser, option);
    if (!text) {
        return std::nullopt;
    }
    const QString name = QStringLiteral("--") + option.names().constFirst();
    if (text->isEmpty()) {
        printToolError(QStringLiteral("%1 is required (try --help)").arg(name));
        return std::nullopt;
    }
    const auto moment = parseMoment(*text);
    if (!moment) {
        printToolError(
            QStringLiteral("%1 '%2' is not a moment of the form %3").arg(name, *text, kMomentForm));
    }
    return moment;
}

/// Options from the command line, or empty after printing the one-line complaint. --help and
/// --version end the process here.
std::optional<Options> parseArguments(const QCoreApplication& app) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Writes the recorded snapshots between two moments, both included, as CSV "
                       "(UTF-8 with a byte-order mark) while the station goes on recording."));
    const QCommandLineOption fromOption(QStringLiteral("from"),
                                        QStringLiteral("First moment, \"yyyy-MM-dd HH:mm:ss\"."),
                                        QStringLiteral("moment"));
    const QCommandLineOption toOption(QStringLiteral("to"),
                                      QStringLiteral("Last moment, \"yyyy-MM-dd HH:mm:ss\"."),
                                      QStringLiteral("moment"));
    const QCommandLineOption outputOption(
        QStringLiteral("output"),
        QStringLiteral("Write the CSV to FILE instead of standard output."),
        QStringLiteral("FILE"));
    const QCommandLineOption logOption(
        QStringLiteral("log"),
        QStringLiteral("Read the reading log FILE instead of the station's (%1).")
            .arg(trend::readingLogPath()),
        QStringLiteral("FILE"));
    parser.addOptions({fromOption, toOption, outputOption, logOption});
    if (!common::parseToolArguments(parser, app.arguments())) {
        return std::nullopt;
    }

    Options options;
    // Each lookup complains on its own; the first complaint ends the parse.
    const auto from = momentOption(parser, fromOption);
    const auto to = from ? momentOption(parser, toOption) : std::nullopt;
    const auto output = to ? singleValue(parser, outputOption) : std::nullopt;
    const auto log = output ? singleValue(parser, logOption) : std::nullopt;
    if (!log) {
        return std::nullopt;
    }
    if (*to < *from) {
        printToolError(QStringLiteral("--to %1 is before --from %2")
                       .arg(to->toString(kMomentForm), from->toString(kMomentForm)));
        return std::nullopt;
    }
    options.from = *from;
    options.to = *to;
    options.output = *output;
    options.log = QFileInfo(log->isEmpty() ? trend::readingLogPath() : *log).absoluteFilePath();
    return options;
}

/// Standard output: written in place.
int exportToStandardOutput(const QSqlDatabase& db, const Options& options) {
    QFile out;
    out.open(stdout, QIODevice::WriteOnly);
    QString error;
    if (!trend::exportSnapshots(db, options.from, options.to, out, &error)) {
        printToolError(QStringLiteral("cannot export from %1: %2").arg(options.log, error));
        return kExitFailed;
    }
    if (!out.flush()) {
        printToolError(QStringLiteral("cannot write standard output: %1").arg(out.errorString()));
        return kExitFailed;
    }
    return kExitOk;
}

int exportFrom(QSqlDatabase& db, const Options& options) {
    QString error;
    if (!trend::openReadingLogReadOnly(db, options.log, &error)) {
        printToolError(QStringLiteral("cannot read %1: %2").arg(options.log, error));
        return kExitFailed;
    }
    if (options.output.isEmpty()) {
        return exportToStandardOutput(db, options);
    }
    // Both the log read and the station's own are out of reach of --output.
    const QStringList logs = {options.log, trend::readingLogPath()};
    if (trend::exportSnapshotsToFile(db, options.from, options.to, options.output, logs,
                                     &error) != trend::FileExport::Written) {
        printToolError(error);
        return kExitFailed;
    }
    return kExitOk;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vx310-export"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VX310_VERSION));
    const std::optional<Options> options = parseArguments(app);
    if (!options) {
        return kExitUsage;
    }
    int status = kExitOk;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kConnection);
        status = exportFrom(db, *options);
        db.close();
    }
    QSqlDatabase::removeDatabase(kConnection);
    return status;
}
