#include "trend/SnapshotExport.h"
#include "TrendLogFixture.h"
#include "trend/ReadingLog.h"

#include <QBuffer>
#include <QFile>
#include <QSqlQuery>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <vector>

using trendtest::Row;
using trendtest::secondsApart;
using trendtest::TestLog;

namespace {

const QByteArray kBom("\xEF\xBB\xBF");
const QByteArray kHeader("日期,时间,Uab,Ubc,Uca,IA,IB,IC,A相有功,B相有功,C相有功,合相有功,频率,"
                         "变送一,变送二,变送三,三相电能,C1累积次数\r\n");
const QDateTime kBeforeMidnight(QDate(2026, 3, 27), QTime(23, 59, 50));

struct QuotingRow {
    const char* text;
    const char* field;
};

TEST(CsvField, QuotesOnlyWhatNeedsItAndDoublesTheQuotes) {
    const std::vector<QuotingRow> rows = {
        {"Uab", "Uab"},
        {"", ""},
        {"220.5", "220.5"},
        {"A相有功", "A相有功"},
        {"with blank", "with blank"},
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"\"", "\"\"\"\""},
        {"two\nlines", "\"two\nlines\""},
        {"cr\ronly", "\"cr\ronly\""},
        {"crlf\r\nend", "\"crlf\r\nend\""},
        {",\",", "\",\"\",\""},
    };
    for (const QuotingRow& row : rows) {
        EXPECT_EQ(trend::csvField(QString::fromUtf8(row.text)), QString::fromUtf8(row.field))
            << row.text;
    }
}

TEST(CsvRecord, JoinsQuotedFieldsWithCommasAndEndsWithCrLf) {
    EXPECT_EQ(trend::csvRecord({QStringLiteral("a"), QStringLiteral("b,c"), QString()}),
              QStringLiteral("a,\"b,c\",\r\n"));
    EXPECT_EQ(trend::csvRecord({QStringLiteral("x\"y")}), QStringLiteral("\"x\"\"y\"\r\n"));
}

TEST(SnapshotHeader, IsDateTimeAndTheSixteenCaptionsInStoreOrder) {
    const QStringList expected = {
        QStringLiteral("日期"),    QStringLiteral("时间"),     QStringLiteral("Uab"),
        QStringLiteral("Ubc"),     QStringLiteral("Uca"),      QStringLiteral("IA"),
        QStringLiteral("IB"),      QStringLiteral("IC"),       QStringLiteral("A相有功"),
        QStringLiteral("B相有功"), QStringLiteral("C相有功"),  QStringLiteral("合相有功"),
        QStringLiteral("频率"),    QStringLiteral("变送一"),   QStringLiteral("变送二"),
        QStringLiteral("变送三"),  QStringLiteral("三相电能"), QStringLiteral("C1累积次数"),
    };
    EXPECT_EQ(trend::snapshotHeader(), expected);
}

/// A row of values whose every reading is its own: column c of record n holds n + c.
std::vector<Row> midnightRows() { return secondsApart(1, 21, kBeforeMidnight); }

class ExportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(log.created());
        ASSERT_TRUE(reader.open());
    }

    /// The export of from..to, or empty when the function refused.
    std::optional<QByteArray> exportRange(const QDateTime& from, const QDateTime& to) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        if (!trend::exportSnapshots(reader, from, to, buffer)) {
            EXPECT_TRUE(buffer.data().isEmpty()) << "a refused export writes nothing";
            return std::nullopt;
        }
        return buffer.data();
    }

    /// The records after the byte-order mark and the header, each without its CRLF.
    static std::vector<QString> records(const QByteArray& csv) {
        EXPECT_TRUE(csv.startsWith(kBom + kHeader));
        const QString body = QString::fromUtf8(csv.mid(kBom.size() + kHeader.size()));
        EXPECT_TRUE(body.isEmpty() || body.endsWith(QStringLiteral("\r\n")));
        std::vector<QString> found;
        for (const QString& line : body.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts)) {
            EXPECT_FALSE(line.contains(u'\n') || line.contains(u'\r'));
            found.push_back(line);
        }
        return found;
    }

    /// The record secondsApart wrote for record number id at the moment at.
    static QString expectedRecord(std::int32_t id, const QDateTime& at) {
        QStringList fields = {at.toString(QStringLiteral("yyyy/MM/dd")),
                              at.toString(QStringLiteral("HH:mm:ss"))};
        for (int c = 0; c < 16; ++c) {
            fields << QString::number(id + c);
        }
        return fields.join(u',');
    }

    TestLog log;
    trend::ReadingLog reader{QStringLiteral("ssqx"), log.path()};
};

TEST_F(ExportTest, StartsWithTheByteOrderMarkAndTheHeaderRecord) {
    ASSERT_TRUE(log.insert(midnightRows()));
    const auto csv = exportRange(kBeforeMidnight, kBeforeMidnight);
    ASSERT_TRUE(csv);
    EXPECT_TRUE(csv->startsWith(kBom + kHeader)) << csv->left(200).toStdString();
    EXPECT_EQ(csv->count(kBom), 1);
}

TEST_F(ExportTest, AnEmptyRangeGivesTheHeaderOnly) {
    ASSERT_TRUE(log.insert(midnightRows()));
    const auto before = exportRange(kBeforeMidnight.addSecs(-3600), kBeforeMidnight.addSecs(-1));
    ASSERT_TRUE(before);
    EXPECT_EQ(*before, kBom + kHeader);

    const auto emptyLog = exportRange(kBeforeMidnight.addDays(5), kBeforeMidnight.addDays(6));
    ASSERT_TRUE(emptyLog);
    EXPECT_EQ(*emptyLog, kBom + kHeader);
}

TEST_F(ExportTest, ARangeAcrossMidnightComesInClockOrderWithBothBoundsIncluded) {
    // Stored newest first, so the file's order can only come from the clock.
    std::vector<Row> rows = midnightRows();
    std::reverse(rows.begin(), rows.end());
    ASSERT_TRUE(log.insert(rows));
    const QDateTime from = kBeforeMidnight.addSecs(5);
    const QDateTime to = kBeforeMidnight.addSecs(15);
    const auto csv = exportRange(from, to);
    ASSERT_TRUE(csv);
    const std::vector<QString> found = records(*csv);
    ASSERT_EQ(found.size(), 11U);
    for (int i = 0; i < 11; ++i) {
        EXPECT_EQ(found[static_cast<std::size_t>(i)], expectedRecord(6 + i, from.addSecs(i)));
    }
    EXPECT_TRUE(found.front().startsWith(QStringLiteral("2026/03/27,23:59:55,")));
    EXPECT_TRUE(found[4].startsWith(QStringLiteral("2026/03/27,23:59:59,")));
    EXPECT_TRUE(found[5].startsWith(QStringLiteral("2026/03/28,00:00:00,")));
    EXPECT_TRUE(found.back().startsWith(QStringLiteral("2026/03/28,00:00:05,")));
}

TEST_F(ExportTest, ASingleSecondRangeGivesThatSnapshotAlone) {
    ASSERT_TRUE(log.insert(midnightRows()));
    const QDateTime at = kBeforeMidnight.addSecs(10);
    const auto csv = exportRange(at, at);
    ASSERT_TRUE(csv);
    const std::vector<QString> found = records(*csv);
    ASSERT_EQ(found.size(), 1U);
    EXPECT_EQ(found.front(), expectedRecord(11, at));
}

TEST_F(ExportTest, ARangeAcrossTheRingsWrapComesInClockOrderNotRecordOrder) {
    // Records 65400..65500 were written first, then the ring wrapped to 1..100.
    const QDateTime oldest(QDate(2026, 3, 28), QTime(6, 0, 0));
    std::vector<Row> rows = secondsApart(1, 100, oldest.addSecs(101));
    const std::vector<Row> beforeWrap = secondsApart(65400, 101, oldest);
    rows.insert(rows.end(), beforeWrap.begin(), beforeWrap.end());
    ASSERT_TRUE(log.insert(rows));

    const auto csv = exportRange(oldest, oldest.addSecs(200));
    ASSERT_TRUE(csv);
    const std::vector<QString> found = records(*csv);
    ASSERT_EQ(found.size(), 201U);
    for (int i = 0; i < 201; ++i) {
        const std::int32_t id = i <= 100 ? 65400 + i : i - 100;
        EXPECT_EQ(found[static_cast<std::size_t>(i)], expectedRecord(id, oldest.addSecs(i))) << i;
    }
}

TEST_F(ExportTest, WritesValuesInTheGeneralFormOfTheLiveDisplay) {
    Row row = midnightRows().front();
    const std::array<float, 16> values = {
        220.5F,  0.0F,  -1.25F, 12345678.0F, 0.00001F,  1.0F / 3.0F, 100.0F,  9999999.0F,
        0.0001F, -0.5F, 50.02F, 1e20F,       123456.7F, 1.5e-7F,     8.25e6F, 42.0F};
    std::copy(values.begin(), values.end(), row.values.begin());
    ASSERT_TRUE(log.insert({row}));
    const auto csv = exportRange(kBeforeMidnight, kBeforeMidnight);
    ASSERT_TRUE(csv);
    const std::vector<QString> found = records(*csv);
    ASSERT_EQ(found.size(), 1U);
    EXPECT_EQ(found.front(),
              QStringLiteral("2026/03/27,23:59:50,220.5,0,-1.25,1.234568E+07,1E-05,0.3333333,100,"
                             "9999999,0.0001,-0.5,50.02,1E+20,123456.7,1.5E-07,8250000,42"));
}

TEST_F(ExportTest, ValuesThatDoNotReadGiveEmptyFields) {
    ASSERT_TRUE(log.insert(midnightRows()));
    ASSERT_TRUE(log.exec(QStringLiteral(
        "UPDATE pv_data SET w_v0=NULL, w_v3='broken', w_v7=1e300, w_v15=NULL WHERE w_id=1")));
    const auto csv = exportRange(kBeforeMidnight, kBeforeMidnight);
    ASSERT_TRUE(csv);
    const std::vector<QString> found = records(*csv);
    ASSERT_EQ(found.size(), 1U);
    EXPECT_EQ(found.front(),
              QStringLiteral("2026/03/27,23:59:50,,2,3,,5,6,7,,9,10,11,12,13,14,15,"));
}

TEST_F(ExportTest, AValueThatRepeatsOrComesBackAfterAGapIsWrittenEachTime) {
    ASSERT_TRUE(log.insert(secondsApart(1, 6, kBeforeMidnight)));
    ASSERT_TRUE(log.exec(QStringLiteral("UPDATE pv_data SET w_v0=1.5 WHERE w_id IN (1, 2, 5)")));
    ASSERT_TRUE(log.exec(QStringLiteral("UPDATE pv_data SET w_v0=NULL WHERE w_id IN (3, 4)")));
    ASSERT_TRUE(log.exec(QStringLiteral("UPDATE pv_data SET w_v0=-0.0 WHERE w_id=6")));
    const auto csv = exportRange(kBeforeMidnight, kBeforeMidnight.addSecs(5));
    ASSERT_TRUE(csv);
    const std::vector<QString> found = records(*csv);
    ASSERT_EQ(found.size(), 6U);
    const std::vector<const char*> first = {"1.5", "1.5", "", "", "1.5", "0"};
    for (std::size_t i = 0; i < found.size(); ++i) {
        EXPECT_EQ(found[i].section(u',', 2, 2), QString::fromLatin1(first[i])) << i;
        EXPECT_EQ(found[i].section(u',', 3, 3), QString::number(i + 2)) << i;
    }
}

TEST_F(ExportTest, AMomentStoredWithRoundingNoiseStillFallsInItsSecond) {
    // A millionth of a second off, each just outside the exact bound it belongs to.
    constexpr double kNoise = 1e-6 / 86400;
    std::vector<Row> rows = secondsApart(1, 4, kBeforeMidnight.addSecs(-1));
    rows[0].time += kNoise;
    rows[1].time -= kNoise;
    rows[2].time += kNoise;
    rows[3].time -= kNoise;
    ASSERT_TRUE(log.insert(rows));
    const auto csv = exportRange(kBeforeMidnight, kBeforeMidnight.addSecs(1));
    ASSERT_TRUE(csv);
    const std::vector<QString> found = records(*csv);
    ASSERT_EQ(found.size(), 2U);
    EXPECT_EQ(found[0], expectedRecord(2, kBeforeMidnight));
    EXPECT_EQ(found[1], expectedRecord(3, kBeforeMidnight.addSecs(1)));
}

TEST_F(ExportTest, ReadsOnlyTheWallClockOfTheBoundsNotTheirZone) {
    ASSERT_TRUE(log.insert(midnightRows()));
    const QDateTime from(kBeforeMidnight.date(), kBeforeMidnight.time(), QTimeZone::utc());
    const QDateTime to(kBeforeMidnight.date(), kBeforeMidnight.time().addSecs(2),
                       QTimeZone(3600 * 8));
    const auto csv = exportRange(from, to);
    ASSERT_TRUE(csv);
    EXPECT_EQ(records(*csv).size(), 3U);
}

TEST_F(ExportTest, ARangeThatEndsBeforeItStartsIsRefusedAndWritesNothing) {
    ASSERT_TRUE(log.insert(midnightRows()));
    EXPECT_FALSE(exportRange(kBeforeMidnight.addSecs(1), kBeforeMidnight));
    EXPECT_FALSE(exportRange(QDateTime(), kBeforeMidnight));
    EXPECT_FALSE(exportRange(kBeforeMidnight, QDateTime()));

    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QString error;
    EXPECT_FALSE(trend::exportSnapshots(reader, kBeforeMidnight.addDays(1), kBeforeMidnight, buffer,
                                        &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST_F(ExportTest, ALogThatCannotBeReadWritesNothing) {
    ASSERT_TRUE(log.exec(QStringLiteral("DROP TABLE pv_data")));
    QString error;
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    EXPECT_FALSE(trend::exportSnapshots(reader, kBeforeMidnight, kBeforeMidnight, buffer, &error));
    EXPECT_TRUE(buffer.data().isEmpty());
    EXPECT_FALSE(error.isEmpty());

    reader.close();
    EXPECT_FALSE(exportRange(kBeforeMidnight, kBeforeMidnight));
}

TEST_F(ExportTest, AnOutputThatIsNotOpenForWritingIsRefused) {
    ASSERT_TRUE(log.insert(midnightRows()));
    QBuffer buffer;
    buffer.open(QIODevice::ReadOnly);
    EXPECT_FALSE(trend::exportSnapshots(reader, kBeforeMidnight, kBeforeMidnight, buffer));
    EXPECT_TRUE(buffer.data().isEmpty());
}

TEST_F(ExportTest, ADeviceThatRefusesTheBytesGivesFalse) {
    QFile full(QStringLiteral("/dev/full"));
    if (!full.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        GTEST_SKIP() << "no /dev/full here";
    }
    ASSERT_TRUE(log.insert(midnightRows()));
    QString error;
    EXPECT_FALSE(
        trend::exportSnapshots(reader, kBeforeMidnight, kBeforeMidnight.addSecs(20), full, &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST_F(ExportTest, LeavesNoReadOpenSoTheLogCanBeCheckpointed) {
    ASSERT_TRUE(log.insert(midnightRows()));
    ASSERT_TRUE(exportRange(kBeforeMidnight, kBeforeMidnight.addSecs(20)));
    ASSERT_TRUE(log.insert(secondsApart(100, 5, kBeforeMidnight.addDays(1))));
    QSqlQuery checkpoint(log.db());
    ASSERT_TRUE(checkpoint.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)")));
    ASSERT_TRUE(checkpoint.next());
    EXPECT_EQ(checkpoint.value(0).toInt(), 0) << "a reader still holds the log";
}

} // namespace
