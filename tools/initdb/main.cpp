// vx310-initdb: creates the reading-log database the station expects to find.

#include "common/ToolArguments.h"
#include "trend/ReadingLogFiles.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

#include <cstdio>
#include <optional>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
const char* const kConnection = "vx310-initdb";

struct Options {
    bool ifMissing = false;
    QString path;
};

void printLine(std::FILE* stream, const QString& text) {
    std::fprintf(stream, "vx310-initdb: %s\n", qUtf8Printable(text));
}

/// Options from the command line, or empty after printing the one-line complaint. --help and
/// --version end the process here.
std::optional<Options> parseArguments(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Creates the reading-log database (tables pv_data and sl_void with its "
                       "control row, WAL journal). An existing file is never overwritten."));
    const QCommandLineOption ifMissingOption(
        QStringLiteral("if-missing"),
        QStringLiteral("Succeed without change when the file already exists."));
    const QCommandLineOption pathOption(
        QStringLiteral("path"),
        QStringLiteral("Create FILE instead of the default location (%1).")
            .arg(trend::readingLogPath()),
        QStringLiteral("FILE"));
    parser.addOptions({ifMissingOption, pathOption});
    if (!common::parseToolArguments(parser, arguments)) {
        return std::nullopt;
    }
    const QStringList paths = parser.values(pathOption);
    if (paths.size() > 1) {
        printLine(stderr, QStringLiteral("--path given twice (try --help)"));
        return std::nullopt;
    }
    if (!paths.isEmpty() && paths.constFirst().isEmpty()) {
        printLine(stderr, QStringLiteral("--path needs a file name (try --help)"));
        return std::nullopt;
    }
    Options options;
    options.ifMissing = parser.isSet(ifMissingOption);
    options.path = paths.isEmpty() ? QString() : paths.constFirst();
    return options;
}

bool exec(QSqlQuery& query, const QString& sql, QString* error) {
    if (query.exec(sql)) {
        return true;
    }
    *error = query.lastError().text();
    return false;
}

/// Fills a freshly created empty file with the schema and the control row.
bool writeSchema(const QString& path, int month, QString* error) {
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kConnection);
        db.setDatabaseName(path);
        if (!db.open()) {
            *error = db.lastError().text();
        } else {
            QSqlQuery query(db);
            // The journal mode cannot change inside a transaction, so it comes first.
            ok = exec(query, QStringLiteral("PRAGMA journal_mode=WAL"), error);
            if (ok && (!query.next() || query.value(0).toString() != u"wal")) {
                *error = QStringLiteral("the file system does not allow WAL mode");
                ok = false;
            }
            ok = ok && db.transaction();
            ok = ok && exec(query, trend::pvDataSchema(), error);
            ok = ok && exec(query, trend::slVoidSchema(), error);
            ok = ok && exec(query, trend::slVoidFirstRow(month), error);
            if (ok && !db.commit()) {
                *error = db.lastError().text();
                ok = false;
            }
            query.finish();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(kConnection);
    return ok;
}

void removeCreated(const QString& path) {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
        QFile::remove(path + QLatin1String(suffix));
    }
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vx310-initdb"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VX310_VERSION));
    const std::optional<Options> options = parseArguments(QCoreApplication::arguments());
    if (!options) {
        return kExitUsage;
    }

    const QString path =
        QFileInfo(options->path.isEmpty() ? trend::readingLogPath() : options->path)
            .absoluteFilePath();
    const QFileInfo info(path);
    if (info.exists() || info.isSymLink()) {
        if (options->ifMissing) {
            printLine(stdout, QStringLiteral("%1 exists, left unchanged").arg(path));
            return kExitOk;
        }
        printLine(stderr, QStringLiteral("%1 already exists; not overwritten").arg(path));
        return kExitFailed;
    }
    if (!QDir().mkpath(info.absolutePath())) {
        printLine(stderr, QStringLiteral("cannot create folder %1").arg(info.absolutePath()));
        return kExitFailed;
    }

    // Claiming the name with an exclusive create means a file that appears meanwhile is never
    // overwritten; SQLite takes the empty file as a new database.
    QFile claim(path);
    if (!claim.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        printLine(stderr, QStringLiteral("cannot create %1: %2").arg(path, claim.errorString()));
        return kExitFailed;
    }
    claim.close();

    const int month = QDate::currentDate().month();
    QString error;
    if (!writeSchema(path, month, &error)) {
        removeCreated(path);
        printLine(stderr, QStringLiteral("cannot create %1: %2").arg(path, error));
        return kExitFailed;
    }
    printLine(stdout,
              QStringLiteral("created %1 (pv_data, sl_void with control row 0, 0, %2; WAL journal)")
                  .arg(path)
                  .arg(month));
    return kExitOk;
}
