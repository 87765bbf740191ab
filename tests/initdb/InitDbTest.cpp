#include "trend/ReadingLogFiles.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

namespace {

struct ToolRun {
    int exitCode = -1;
    QString out;
    QString err;
};

/// Scoped named connection, removed again when the test ends.
class Connection {
  public:
    explicit Connection(QString name) : m_name(std::move(name)) {}
    ~Connection() {
        if (QSqlDatabase::contains(m_name)) {
            QSqlDatabase::database(m_name, false).close();
            QSqlDatabase::removeDatabase(m_name);
        }
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    [[nodiscard]] const QString& name() const { return m_name; }
    [[nodiscard]] QSqlDatabase db() const { return QSqlDatabase::database(m_name, false); }

  private:
    QString m_name;
};

class InitDb : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    [[nodiscard]] QString dataHome() const { return m_dir.filePath(QStringLiteral("data")); }
    [[nodiscard]] QString defaultLog() const {
        return dataHome() + QStringLiteral("/JetR/Rdatabj.db");
    }

    [[nodiscard]] ToolRun runTool(const QStringList& arguments) const {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_DATA_HOME"), dataHome());
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(VX310_INITDB_PATH), arguments);
        ToolRun run;
        if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit) {
            return run;
        }
        run.exitCode = process.exitCode();
        run.out = QString::fromUtf8(process.readAllStandardOutput());
        run.err = QString::fromUtf8(process.readAllStandardError());
        return run;
    }

    static QByteArray contents(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    static void writeFile(const QString& path, const QByteArray& bytes) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    QTemporaryDir m_dir;
};

bool isOneLine(const QString& text) { return text.count(u'\n') == 1 && text.endsWith(u'\n'); }

TEST_F(InitDb, CreatesTheLogWithBothTablesTheControlRowAndWal) {
    const int monthBefore = QDate::currentDate().month();
    const ToolRun run = runTool({});
    const int monthAfter = QDate::currentDate().month();
    ASSERT_EQ(run.exitCode, 0) << qPrintable(run.err);
    EXPECT_TRUE(isOneLine(run.out)) << qPrintable(run.out);
    EXPECT_TRUE(run.out.contains(defaultLog())) << qPrintable(run.out);
    EXPECT_TRUE(run.err.isEmpty());

    const Connection connection(QStringLiteral("check"));
    ASSERT_TRUE(trend::openReadingLog(connection.name(), defaultLog()));
    QSqlQuery query(connection.db());

    ASSERT_TRUE(query.exec(QStringLiteral("PRAGMA table_info(pv_data)")));
    QStringList columns;
    while (query.next()) {
        columns << query.value(1).toString() + u' ' + query.value(2).toString();
    }
    QStringList expected = {QStringLiteral("w_id INTEGER"), QStringLiteral("w_date REAL"),
                            QStringLiteral("w_time REAL")};
    for (int k = 0; k < 26; ++k) {
        expected << QStringLiteral("w_v%1 REAL").arg(k);
    }
    EXPECT_EQ(columns, expected);

    ASSERT_TRUE(query.exec(QStringLiteral("select * from  sl_void")));
    ASSERT_TRUE(query.next());
    EXPECT_EQ(query.record().count(), 3);
    EXPECT_EQ(query.value(0).toInt(), 0);
    EXPECT_EQ(query.value(1).toInt(), 0);
    const int month = query.value(2).toInt();
    EXPECT_TRUE(month == monthBefore || month == monthAfter) << month;
    EXPECT_FALSE(query.next()) << "exactly one control row";

    ASSERT_TRUE(query.exec(QStringLiteral("select count(*) from pv_data")));
    ASSERT_TRUE(query.next());
    EXPECT_EQ(query.value(0).toInt(), 0);

    ASSERT_TRUE(query.exec(QStringLiteral("PRAGMA journal_mode")));
    ASSERT_TRUE(query.next());
    EXPECT_EQ(query.value(0).toString(), QStringLiteral("wal"));
}

TEST_F(InitDb, CreatesTheFoldersOfAnExplicitPathAndNothingAtTheDefaultPlace) {
    const QString path = m_dir.filePath(QStringLiteral("a/b/c/log.db"));
    const ToolRun run = runTool({QStringLiteral("--path"), path});
    ASSERT_EQ(run.exitCode, 0) << qPrintable(run.err);
    EXPECT_TRUE(QFileInfo(path).isFile());
    EXPECT_FALSE(QFileInfo::exists(dataHome()));

    const ToolRun second = runTool({QStringLiteral("--path=") + path});
    EXPECT_EQ(second.exitCode, 1);
}

TEST_F(InitDb, RefusesToOverwriteAnExistingFile) {
    const QByteArray junk("not a database, but someone's file");
    writeFile(defaultLog(), junk);
    const ToolRun run = runTool({});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(isOneLine(run.err)) << qPrintable(run.err);
    EXPECT_TRUE(run.out.isEmpty());
    EXPECT_EQ(contents(defaultLog()), junk);
}

TEST_F(InitDb, RefusesToOverwriteALogItMadeBefore) {
    ASSERT_EQ(runTool({}).exitCode, 0);
    const QByteArray before = contents(defaultLog());
    ASSERT_FALSE(before.isEmpty());
    const ToolRun run = runTool({});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(isOneLine(run.err)) << qPrintable(run.err);
    EXPECT_EQ(contents(defaultLog()), before);
}

TEST_F(InitDb, IfMissingLeavesAnExistingFileByteIdentical) {
    ASSERT_EQ(runTool({}).exitCode, 0);
    {
        // Make the file distinguishable from a fresh one.
        const Connection connection(QStringLiteral("mark"));
        ASSERT_TRUE(trend::openReadingLog(connection.name(), defaultLog()));
        QSqlQuery query(connection.db());
        ASSERT_TRUE(query.exec(QStringLiteral("update sl_void set last_id = 77")));
        ASSERT_TRUE(query.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)")));
    }
    const QByteArray before = contents(defaultLog());
    const ToolRun run = runTool({QStringLiteral("--if-missing")});
    EXPECT_EQ(run.exitCode, 0) << qPrintable(run.err);
    EXPECT_TRUE(run.err.isEmpty());
    EXPECT_EQ(contents(defaultLog()), before);

    const QByteArray junk("plain text");
    const QString other = m_dir.filePath(QStringLiteral("other.db"));
    writeFile(other, junk);
    EXPECT_EQ(runTool({QStringLiteral("--if-missing"), QStringLiteral("--path"), other}).exitCode,
              0);
    EXPECT_EQ(contents(other), junk);
}

TEST_F(InitDb, IfMissingCreatesAMissingLog) {
    const ToolRun run = runTool({QStringLiteral("--if-missing")});
    EXPECT_EQ(run.exitCode, 0) << qPrintable(run.err);
    EXPECT_TRUE(QFileInfo(defaultLog()).isFile());
}

TEST_F(InitDb, AnswersBadArgumentsWithOneLineAndExitStatusTwo) {
    const std::vector<QStringList> rows = {
        {QStringLiteral("--bogus")},
        {QStringLiteral("-x")},
        {QStringLiteral("extra")},
        {QStringLiteral("--path")},
        {QStringLiteral("--path"), QString()},
        {QStringLiteral("--path=")},
        {QStringLiteral("--path"), QStringLiteral("a.db"), QStringLiteral("--path"),
         QStringLiteral("b.db")},
        {QStringLiteral("--if-missing"), QStringLiteral("--force")},
    };
    for (const QStringList& arguments : rows) {
        const ToolRun run = runTool(arguments);
        EXPECT_EQ(run.exitCode, 2) << qPrintable(arguments.join(u' '));
        EXPECT_TRUE(isOneLine(run.err)) << qPrintable(run.err);
        EXPECT_TRUE(run.out.isEmpty()) << qPrintable(run.out);
    }
    EXPECT_FALSE(QFileInfo::exists(dataHome()));
}

TEST_F(InitDb, PrintsUsageOnHelpAndCreatesNothing) {
    const ToolRun run = runTool({QStringLiteral("--help")});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.out.contains(QStringLiteral("--if-missing")));
    EXPECT_FALSE(QFileInfo::exists(dataHome()));
}

TEST_F(InitDb, HelpListsEveryOptionOnStandardOutput) {
    for (const QString& help : {QStringLiteral("--help"), QStringLiteral("-h")}) {
        const ToolRun run = runTool({help});
        EXPECT_EQ(run.exitCode, 0) << qPrintable(help);
        EXPECT_TRUE(run.out.startsWith(QStringLiteral("Usage: "))) << qPrintable(run.out);
        for (const char* option : {"--if-missing", "--path", "--version"}) {
            EXPECT_TRUE(run.out.contains(QLatin1String(option))) << option;
        }
        EXPECT_TRUE(run.err.isEmpty()) << qPrintable(run.err);
    }
    EXPECT_FALSE(QFileInfo::exists(dataHome()));
}

TEST_F(InitDb, PrintsItsNameAndTheProjectVersionAndCreatesNothing) {
    for (const QString& version : {QStringLiteral("--version"), QStringLiteral("-v")}) {
        const ToolRun run = runTool({version});
        EXPECT_EQ(run.exitCode, 0) << qPrintable(version);
        EXPECT_EQ(run.out, QStringLiteral("vx310-initdb " VX310_VERSION "\n"));
        EXPECT_TRUE(run.err.isEmpty()) << qPrintable(run.err);
    }
    EXPECT_FALSE(QFileInfo::exists(dataHome()));
}

class ReadingLog : public InitDb {};

TEST_F(ReadingLog, LivesInJetRUnderTheDataFolder) {
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", dataHome().toUtf8());
    EXPECT_EQ(trend::readingLogPath(), defaultLog());
    qputenv("XDG_DATA_HOME", saved);
}

TEST_F(ReadingLog, OpeningNeverCreatesAMissingFile) {
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", dataHome().toUtf8());
    {
        const Connection connection(QStringLiteral("missing"));
        EXPECT_FALSE(trend::openReadingLog(connection.name()));
        EXPECT_FALSE(connection.db().isOpen());
    }
    qputenv("XDG_DATA_HOME", saved);
    EXPECT_FALSE(QFileInfo::exists(dataHome()));

    ASSERT_TRUE(QDir().mkpath(QFileInfo(defaultLog()).absolutePath()));
    const Connection connection(QStringLiteral("missing-file"));
    EXPECT_FALSE(trend::openReadingLog(connection.name(), defaultLog()));
    EXPECT_FALSE(QFileInfo::exists(defaultLog()));
}

TEST_F(ReadingLog, OpensAnExistingLogWithAShortBusyTimeout) {
    ASSERT_EQ(runTool({}).exitCode, 0);
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", dataHome().toUtf8());
    const Connection connection(QStringLiteral("station"));
    const bool opened = trend::openReadingLog(connection.name());
    qputenv("XDG_DATA_HOME", saved);
    ASSERT_TRUE(opened);
    EXPECT_TRUE(connection.db().connectOptions().contains(
        QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(trend::kReadingLogBusyTimeoutMs)));
    QSqlQuery query(connection.db());
    ASSERT_TRUE(query.exec(QStringLiteral("select * from  sl_void")));
    EXPECT_TRUE(query.next());
}

TEST_F(ReadingLog, ReopensANamedConnectionOnAnotherFile) {
    const QString first = m_dir.filePath(QStringLiteral("first.db"));
    const QString second = m_dir.filePath(QStringLiteral("second.db"));
    ASSERT_EQ(runTool({QStringLiteral("--path"), first}).exitCode, 0);
    ASSERT_EQ(runTool({QStringLiteral("--path"), second}).exitCode, 0);
    const Connection connection(QStringLiteral("again"));
    ASSERT_TRUE(trend::openReadingLog(connection.name(), first));
    ASSERT_TRUE(trend::openReadingLog(connection.name(), second));
    QSqlQuery query(connection.db());
    ASSERT_TRUE(query.exec(QStringLiteral("update sl_void set last_id = 5")));
    EXPECT_NE(contents(second + QStringLiteral("-wal")), QByteArray());
}

TEST_F(ReadingLog, OpensAPathThatLooksLikeAUriQuery) {
    const QString path = m_dir.filePath(QStringLiteral("odd ?name#%20.db"));
    ASSERT_EQ(runTool({QStringLiteral("--path"), path}).exitCode, 0);
    const Connection connection(QStringLiteral("odd"));
    EXPECT_TRUE(trend::openReadingLog(connection.name(), path));
    QSqlQuery query(connection.db());
    EXPECT_TRUE(query.exec(QStringLiteral("select * from  sl_void")));
    for (const QString& entry : QDir(m_dir.path()).entryList(QDir::Files)) {
        EXPECT_TRUE(entry.startsWith(QFileInfo(path).fileName())) << qPrintable(entry);
    }
}

TEST_F(ReadingLog, AWriteThatMeetsALockFailsInsteadOfWaitingForever) {
    ASSERT_EQ(runTool({}).exitCode, 0);
    const Connection holder(QStringLiteral("holder"));
    const Connection writer(QStringLiteral("writer"));
    ASSERT_TRUE(trend::openReadingLog(holder.name(), defaultLog()));
    ASSERT_TRUE(trend::openReadingLog(writer.name(), defaultLog()));
    QSqlQuery hold(holder.db());
    ASSERT_TRUE(hold.exec(QStringLiteral("BEGIN IMMEDIATE")));
    QSqlQuery write(writer.db());
    EXPECT_FALSE(write.exec(QStringLiteral("update sl_void set last_id = 1")));
    ASSERT_TRUE(hold.exec(QStringLiteral("ROLLBACK")));
    EXPECT_TRUE(write.exec(QStringLiteral("update sl_void set last_id = 1")));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
