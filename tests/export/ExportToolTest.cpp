#include "FaultLog.h"
#include "TrendLogFixture.h"
#include "common/DayNumber.h"
#include "common/NumberText.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using trendtest::Row;
using trendtest::secondsApart;
using trendtest::TestLog;

namespace {

const QDateTime kFirst(QDate(2026, 3, 27), QTime(23, 0, 0));
const QString kFrom = QStringLiteral("2026-03-27 23:00:00");

struct ToolRun {
    int exitCode = -1;
    QByteArray out;
    QString err;
};

class ExportTool : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(log.created());
        ASSERT_TRUE(scratch.isValid());
    }

    /// Runs the tool with the test's data folder, so its default log is the test's log.
    static ToolRun runTool(const QStringList& arguments, const QString& standardOutput = {},
                           const std::function<void()>& inChild = {}) {
        QProcess process;
        if (!standardOutput.isEmpty()) {
            process.setStandardOutputFile(standardOutput);
        }
        if (inChild) {
            process.setChildProcessModifier(inChild);
        }
        process.start(QStringLiteral(VX310_EXPORT_PATH), arguments);
        ToolRun run;
        if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit) {
            process.kill();
            process.waitForFinished();
            return run;
        }
        run.exitCode = process.exitCode();
        run.out = process.readAllStandardOutput();
        run.err = QString::fromUtf8(process.readAllStandardError());
        return run;
    }

    static QStringList range(const QString& from, const QString& to) {
        return {QStringLiteral("--from"), from, QStringLiteral("--to"), to};
    }

    [[nodiscard]] QString scratchFile(const QString& name) const { return scratch.filePath(name); }

    /// The records the log holds in the range, read on a connection of the test's own and
    /// written in the file's form.
    [[nodiscard]] QStringList expectedRecords(const QDateTime& from, const QDateTime& to) const {
        QStringList records;
        QSqlQuery query(log.db());
        if (!query.exec(QStringLiteral("SELECT * FROM pv_data ORDER BY w_date, w_time"))) {
            return records;
        }
        while (query.next()) {
            const QDate date = common::dateFromSerial(query.value(1).toDouble());
            const QTime time = common::timeFromSerial(query.value(2).toDouble());
            const QDateTime at(date, time);
            if (at < from || at > to) {
                continue;
            }
            QStringList fields = {date.toString(QStringLiteral("yyyy/MM/dd")),
                                  time.toString(QStringLiteral("HH:mm:ss"))};
            for (int k = 0; k < 16; ++k) {
                fields << common::generalForm(query.value(3 + k).toFloat()).value_or(QString());
            }
            records << fields.join(u',');
        }
        return records;
    }

    /// Readings that change from record to record and need every digit of the general form.
    static std::vector<Row> varied(std::int32_t firstId, int count, const QDateTime& first) {
        std::vector<Row> rows = secondsApart(firstId, count, first);
        for (Row& row : rows) {
            for (int k = 0; k < 16; ++k) {
                row.values[static_cast<std::size_t>(k)] =
                    static_cast<float>(row.id) * 1.37F / static_cast<float>(k + 1) - 50.0F;
            }
            row.values[14] = static_cast<float>(row.id) * 123456.789F;
        }
        return rows;
    }

    static QStringList recordsOf(const QByteArray& csv) {
        const QByteArray bom("\xEF\xBB\xBF");
        EXPECT_TRUE(csv.startsWith(bom));
        QStringList lines = QString::fromUtf8(csv.mid(bom.size())).split(QStringLiteral("\r\n"));
        EXPECT_EQ(lines.takeLast(), QString()) << "the file ends with CRLF";
        EXPECT_FALSE(lines.isEmpty());
        if (!lines.isEmpty()) {
            EXPECT_TRUE(lines.takeFirst().startsWith(QStringLiteral("日期,时间,Uab,")));
        }
        return lines;
    }

    static QByteArray contents(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    TestLog log;
    QTemporaryDir scratch;
};

bool isCharacterDevice(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISCHR(info.st_mode);
}

bool isOneErrorLine(const QString& text) {
    return text.startsWith(QStringLiteral("vx310-export: ")) && text.count(u'\n') == 1 &&
           text.endsWith(u'\n');
}

TEST_F(ExportTool, WritesTheStationsLogToStandardOutputRowForRow) {
    ASSERT_TRUE(log.insert(varied(1, 7200, kFirst)));
    const ToolRun run = runTool(
        range(QStringLiteral("2026-03-27 23:30:00"), QStringLiteral("2026-03-28 00:29:59")));
    ASSERT_EQ(run.exitCode, 0) << qPrintable(run.err);
    EXPECT_TRUE(run.err.isEmpty()) << qPrintable(run.err);
    const QStringList expected = expectedRecords(kFirst.addSecs(1800), kFirst.addSecs(1800 + 3599));
    ASSERT_EQ(expected.size(), 3600);
    const QStringList found = recordsOf(run.out);
    ASSERT_EQ(found.size(), expected.size());
    for (qsizetype i = 0; i < found.size(); ++i) {
        ASSERT_EQ(found[i], expected[i]) << "record " << i;
    }
}

TEST_F(ExportTool, WritesTheFileNamedByOutputFromTheLogNamedByLog) {
    const QString other = scratchFile(QStringLiteral("copy.db"));
    ASSERT_TRUE(QFile::copy(log.path(), other));
    ASSERT_TRUE(log.insert(varied(1, 10, kFirst)));
    {
        const faulttest::LogInspection copy(other);
        ASSERT_TRUE(copy.open());
        QSqlQuery query(faulttest::LogInspection::db());
        ASSERT_TRUE(query.exec(
            QStringLiteral("INSERT INTO pv_data(w_id, w_date, w_time, w_v0) VALUES(1, %1, %2, 7)")
                .arg(trendtest::dateOf(kFirst))
                .arg(trendtest::timeOf(kFirst))));
    }
    const QString output = scratchFile(QStringLiteral("out.csv"));
    const ToolRun run =
        runTool(range(kFrom, kFrom) +
                QStringList{QStringLiteral("--output"), output, QStringLiteral("--log"), other});
    ASSERT_EQ(run.exitCode, 0) << qPrintable(run.err);
    EXPECT_TRUE(run.out.isEmpty());
    const QStringList found = recordsOf(contents(output));
    ASSERT_EQ(found.size(), 1);
    EXPECT_EQ(found.front(), QStringLiteral("2026/03/27,23:00:00,7,,,,,,,,,,,,,,,"));
}

TEST_F(ExportTool, ExportsWhileAnotherConnectionHoldsAnOpenWriteTransaction) {
    ASSERT_TRUE(log.insert(varied(1, 100, kFirst)));
    const faulttest::LogInspection station(log.path());
    ASSERT_TRUE(station.open());
    QSqlQuery write(faulttest::LogInspection::db());
    ASSERT_TRUE(write.exec(QStringLiteral("BEGIN IMMEDIATE")));
    ASSERT_TRUE(write.exec(
        QStringLiteral("INSERT INTO pv_data(w_id, w_date, w_time, w_v0) VALUES(101, %1, %2, 1)")
            .arg(trendtest::dateOf(kFirst))
            .arg(trendtest::timeOf(kFirst.addSecs(100)))));

    const ToolRun run = runTool(range(kFrom, QStringLiteral("2026-03-27 23:59:59")));
    ASSERT_EQ(run.exitCode, 0) << qPrintable(run.err);
    const QStringList found = recordsOf(run.out);
    EXPECT_EQ(found, expectedRecords(kFirst, kFirst.addSecs(99)));
    EXPECT_EQ(found.size(), 100) << "only committed snapshots";

    EXPECT_TRUE(write.exec(QStringLiteral("COMMIT"))) << "the export left no lock behind";
}

TEST_F(ExportTool, AnswersBadArgumentsWithOneLineAndStatusTwo) {
    const QString to = QStringLiteral("2026-03-28 00:00:00");
    const std::vector<QStringList> rows = {
        {},
        {QStringLiteral("--from"), kFrom},
        {QStringLiteral("--to"), to},
        {QStringLiteral("--from")},
        range(kFrom, to) + QStringList{QStringLiteral("--bogus")},
        range(kFrom, to) + QStringList{QStringLiteral("extra")},
        range(kFrom, to) + QStringList{QStringLiteral("--from"), kFrom},
        range(kFrom, to) + QStringList{QStringLiteral("--output"), QString()},
        range(kFrom, to) + QStringList{QStringLiteral("--log=")},
        range(QString(), to),
        range(QStringLiteral("2026-02-30 10:00:00"), to),
        range(QStringLiteral("2026-03-27 24:00:00"), to),
        range(QStringLiteral("2026-03-27 23:60:00"), to),
        range(QStringLiteral("2026-03-27"), to),
        range(QStringLiteral("2026-3-27 23:00:00"), to),
        range(QStringLiteral("2026-03-27T23:00:00"), to),
        range(QStringLiteral(" 2026-03-27 23:00:00"), to),
        range(QStringLiteral("2026-03-27  23:00:00"), to),
        range(QStringLiteral("2026-03-27 23:00:00.5"), to),
        range(QStringLiteral("yesterday"), to),
        range(kFrom, QStringLiteral("2026-13-01 00:00:00")),
        range(to, kFrom),
        range(kFrom, QStringLiteral("2026-03-27 22:59:59")),
    };
    const QByteArray before = contents(log.path());
    for (const QStringList& arguments : rows) {
        const ToolRun run = runTool(arguments);
        EXPECT_EQ(run.exitCode, 2) << qPrintable(arguments.join(u'|'));
        EXPECT_TRUE(isOneErrorLine(run.err)) << qPrintable(run.err);
        EXPECT_TRUE(run.out.isEmpty()) << run.out.toStdString();
    }
    EXPECT_EQ(contents(log.path()), before);
}

TEST_F(ExportTool, AMissingLogExitsOneAndIsNotCreated) {
    const QString missing = scratchFile(QStringLiteral("none/Rdatabj.db"));
    const ToolRun run =
        runTool(range(kFrom, kFrom) + QStringList{QStringLiteral("--log"), missing});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(isOneErrorLine(run.err)) << qPrintable(run.err);
    EXPECT_TRUE(run.err.contains(missing)) << qPrintable(run.err);
    EXPECT_TRUE(run.out.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(missing));
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(missing).absolutePath()));
}

TEST_F(ExportTool, ALogThatIsNoDatabaseExitsOne) {
    const QString junk = scratchFile(QStringLiteral("junk.db"));
    {
        QFile file(junk);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4096, 'x'));
    }
    for (const QString& path : {junk, scratch.path()}) {
        const ToolRun run =
            runTool(range(kFrom, kFrom) + QStringList{QStringLiteral("--log"), path});
        EXPECT_EQ(run.exitCode, 1) << qPrintable(path);
        EXPECT_TRUE(isOneErrorLine(run.err)) << qPrintable(run.err);
        EXPECT_TRUE(run.out.isEmpty());
    }
}

TEST_F(ExportTool, AnOutputThatCannotBeWrittenExitsOne) {
    ASSERT_TRUE(log.insert(varied(1, 10, kFirst)));
    for (const QString& output :
         {scratchFile(QStringLiteral("no/such/folder/out.csv")), scratch.path()}) {
        const ToolRun run =
            runTool(range(kFrom, kFrom) + QStringList{QStringLiteral("--output"), output});
        EXPECT_EQ(run.exitCode, 1) << qPrintable(output);
        EXPECT_TRUE(isOneErrorLine(run.err)) << qPrintable(run.err);
    }
    EXPECT_FALSE(QFileInfo::exists(scratchFile(QStringLiteral("no"))));
}

TEST_F(ExportTool, AStandardOutputThatRefusesTheBytesExitsOne) {
    if (!isCharacterDevice(QStringLiteral("/dev/full"))) {
        GTEST_SKIP() << "no /dev/full here";
    }
    ASSERT_TRUE(log.insert(varied(1, 10, kFirst)));
    const ToolRun run =
        runTool(range(kFrom, QStringLiteral("2026-03-27 23:00:09")), QStringLiteral("/dev/full"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(isOneErrorLine(run.err)) << qPrintable(run.err);
    EXPECT_TRUE(isCharacterDevice(QStringLiteral("/dev/full")));
}

TEST_F(ExportTool, WritesIntoAPipeNamedByOutputAndLeavesItAPipe) {
    ASSERT_TRUE(log.insert(varied(1, 10, kFirst)));
    const QString fifo = scratchFile(QStringLiteral("pipe"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const ToolRun run = runTool(range(kFrom, QStringLiteral("2026-03-27 23:00:09")) +
                                QStringList{QStringLiteral("--output"), fifo});
    QByteArray csv;
    char buffer[4096];
    for (ssize_t got = 0; (got = ::read(reader, buffer, sizeof buffer)) > 0;) {
        csv.append(buffer, got);
    }
    ::close(reader);
    ASSERT_EQ(run.exitCode, 0) << qPrintable(run.err);
    EXPECT_EQ(recordsOf(csv), expectedRecords(kFirst, kFirst.addSecs(9)));
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(fifo).constData(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode)) << "a file was renamed over the pipe";
}

TEST_F(ExportTool, AFailedExportLeavesAnEarlierFileAsItWas) {
    const QString output = scratchFile(QStringLiteral("earlier.csv"));
    {
        QFile file(output);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("an earlier export\r\n");
    }
    const ToolRun run =
        runTool(range(kFrom, kFrom) + QStringList{QStringLiteral("--output"), output,
                                                  QStringLiteral("--log"),
                                                  scratchFile(QStringLiteral("x"))});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(contents(output), QByteArray("an earlier export\r\n"));
    EXPECT_EQ(QDir(scratch.path()).entryList(QDir::Files),
              QStringList{QStringLiteral("earlier.csv")});
}

TEST_F(ExportTool, RefusesTheReadingLogAndItsCompanionFilesUnderAnyNameAndExitsOne) {
    ASSERT_TRUE(log.insert(varied(1, 10, kFirst)));
    const QString path = log.path();
    ASSERT_TRUE(QFileInfo::exists(path + QStringLiteral("-wal")));
    const QString copy = scratchFile(QStringLiteral("copy.db"));
    ASSERT_TRUE(QFile::copy(path, copy));
    const QString symlink = scratchFile(QStringLiteral("log-link.db"));
    ASSERT_TRUE(QFile::link(path, symlink));
    const QString hardLink = scratchFile(QStringLiteral("wal-link"));
    ASSERT_EQ(::link(QFile::encodeName(path + QStringLiteral("-wal")).constData(),
                     QFile::encodeName(hardLink).constData()),
              0);
    const QString folder = QFileInfo(path).absolutePath();
    const QString roundabout = folder + QStringLiteral("/../") + QFileInfo(folder).fileName() +
                               QStringLiteral("/") + QFileInfo(path).fileName();
    struct Case {
        QString output;
        QString log;
    };
    const std::vector<Case> cases = {
        {path, {}},
        {path + QStringLiteral("-wal"), {}},
        {path + QStringLiteral("-shm"), {}},
        {path + QStringLiteral("-journal"), {}},
        {symlink, {}},
        {hardLink, {}},
        {roundabout + QStringLiteral("-wal"), {}},
        {copy + QStringLiteral("-journal"), copy},
        {path, copy},
    };
    for (const Case& test : cases) {
        QStringList arguments =
            range(kFrom, kFrom) + QStringList{QStringLiteral("--output"), test.output};
        if (!test.log.isEmpty()) {
            arguments << QStringLiteral("--log") << test.log;
        }
        const ToolRun run = runTool(arguments);
        EXPECT_EQ(run.exitCode, 1) << qPrintable(test.output);
        EXPECT_TRUE(isOneErrorLine(run.err)) << qPrintable(run.err);
        EXPECT_TRUE(run.out.isEmpty());
    }
    EXPECT_FALSE(QFileInfo::exists(path + QStringLiteral("-journal")));
    EXPECT_FALSE(QFileInfo::exists(copy + QStringLiteral("-journal")));
    EXPECT_TRUE(QFileInfo(symlink).isSymLink());
    faulttest::LogInspection fresh(path);
    ASSERT_TRUE(fresh.open());
    EXPECT_EQ(faulttest::LogInspection::row(QStringLiteral("PRAGMA integrity_check")),
              faulttest::Texts{"ok"});
    EXPECT_EQ(faulttest::LogInspection::row(QStringLiteral("SELECT count(*) FROM pv_data")),
              faulttest::Texts{"10"});
}

TEST_F(ExportTool, AFailedExportIntoAFolderItCannotWriteLeavesAnEarlierFileAsItWas) {
    // The log opens but does not read, so the export fails after the output was opened.
    const QString junk = scratchFile(QStringLiteral("junk.db"));
    {
        QFile file(junk);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4096, 'x'));
    }
    const QString folder = scratchFile(QStringLiteral("locked"));
    ASSERT_TRUE(QDir().mkdir(folder));
    const QString output = folder + QStringLiteral("/out.csv");
    {
        QFile file(output);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("an earlier export\r\n");
    }
    const auto everyone = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther |
                          QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
    ASSERT_TRUE(QFile::setPermissions(scratch.path(), everyone | QFile::WriteOwner));
    ASSERT_TRUE(QFile::setPermissions(junk, everyone));
    ASSERT_TRUE(QFile::setPermissions(output, everyone | QFile::WriteOwner | QFile::WriteGroup |
                                                  QFile::WriteOther));
    ASSERT_TRUE(QFile::setPermissions(folder, everyone));
    // Root writes into any folder: as root the tool runs as nobody.
    const bool root = ::geteuid() == 0;
    const ToolRun run = runTool(
        range(kFrom, kFrom) + QStringList{QStringLiteral("--output"), output,
                                          QStringLiteral("--log"), junk},
        {}, [root] {
            if (root && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
                ::_exit(99);
            }
        });
    ASSERT_TRUE(QFile::setPermissions(folder, everyone | QFile::WriteOwner));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(isOneErrorLine(run.err)) << qPrintable(run.err);
    EXPECT_EQ(contents(output), QByteArray("an earlier export\r\n"));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList{QStringLiteral("out.csv")});
}

TEST_F(ExportTool, PrintsHelpAndVersionAndExitsZero) {
    const ToolRun help = runTool({QStringLiteral("--help")});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* option : {"--from", "--to", "--output", "--log", "yyyy-MM-dd HH:mm:ss"}) {
        EXPECT_TRUE(help.out.contains(option)) << option;
    }
    const ToolRun version = runTool({QStringLiteral("--version")});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out.trimmed(), QByteArray("vx310-export 0.1"));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
