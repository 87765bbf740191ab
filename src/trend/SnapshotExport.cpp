#include "trend/SnapshotExport.h"

#include "common/DayNumber.h"
#include "common/NumberText.h"
#include "common/ReadingCatalogue.h"
#include "trend/ReadingLogFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QSaveFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <thread>
#include <vector>

namespace trend {

namespace {

constexpr int kSecondsPerDay = 86400;
constexpr int kExportedValues = common::kReadingCount;
constexpr int kFirstValueColumn = 3;
// Snapshots put into words as one piece of work; a whole ring makes a few dozen pieces.
constexpr std::size_t kRecordsPerPiece = 2048;
constexpr std::size_t kMostThreads = 8;
constexpr qsizetype kBytesPerRecordGuess = 160;
const char kByteOrderMark[] = "\xEF\xBB\xBF";
const char kRecordEnd[] = "\r\n";

// Stored moments are whole seconds in a double; half a second each side keeps the last digit
// of the sum from deciding whether a snapshot at a bound is in.
const QString kSelectRange =
    QStringLiteral("select * from pv_data where (w_date + w_time) * %1 between ? and ? "
                   "order by w_date,w_time")
        .arg(kSecondsPerDay);

/// One snapshot as read, before it is put into words; NaN stands for a value that did not read.
struct StoredSnapshot {
    std::optional<double> date;
    std::optional<double> time;
    std::array<float, kExportedValues> values{};
};

void fail(QString* error, const QString& reason) {
    if (error != nullptr) {
        *error = reason;
    }
}

/// Whole seconds since day zero of the wall-clock date and time; empty for an invalid moment.
std::optional<double> secondsOf(const QDateTime& at) {
    if (!at.isValid()) {
        return std::nullopt;
    }
    return common::dateSerial(at.date()) * kSecondsPerDay +
           static_cast<double>(at.time().msecsSinceStartOfDay() / 1000);
}

QByteArray dateText(std::optional<double> day) {
    const QDate date = day ? common::dateFromSerial(*day) : QDate();
    return date.isValid() ? date.toString(QStringLiteral("yyyy/MM/dd")).toLatin1() : QByteArray();
}

QByteArray timeText(std::optional<double> day) {
    const QTime time = day ? common::timeFromSerial(*day) : QTime();
    if (!time.isValid()) {
        return {};
    }
    char buffer[16];
    const int length = std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", time.hour(),
                                     time.minute(), time.second());
    return {buffer, length};
}

/// The snapshots of the range in clock order; empty when the log cannot be read. The select is
/// finished before the first byte is written, so a slow device never keeps a read open.
std::optional<std::vector<StoredSnapshot>> readSnapshots(const QSqlDatabase& db, double first,
                                                         double last, QString* error) {
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.prepare(kSelectRange)) {
        fail(error, query.lastError().text());
        return std::nullopt;
    }
    query.addBindValue(first - 0.5);
    query.addBindValue(last + 0.5);
    if (!query.exec()) {
        fail(error, query.lastError().text());
        return std::nullopt;
    }
    const int columns = static_cast<int>(query.record().count());
    std::vector<StoredSnapshot> snapshots;
    while (query.next()) {
        StoredSnapshot& snapshot = snapshots.emplace_back();
        if (columns > 2) {
            snapshot.date = common::dayNumberOf(query.value(1));
            snapshot.time = common::dayNumberOf(query.value(2));
        }
        for (int k = 0; k < kExportedValues; ++k) {
            const int column = kFirstValueColumn + k;
            const auto value =
                column < columns ? common::singleOf(query.value(column)) : std::nullopt;
            snapshot.values[static_cast<std::size_t>(k)] =
                value.value_or(std::numeric_limits<float>::quiet_NaN());
        }
    }
    const QSqlError readError = query.lastError();
    query.finish();
    if (readError.type() != QSqlError::NoError) {
        fail(error, readError.text());
        return std::nullopt;
    }
    return snapshots;
}

/// The records of a run of snapshots, each ended by CRLF.
QByteArray formatRecords(const StoredSnapshot* begin, const StoredSnapshot* end) {
    QByteArray bytes;
    bytes.reserve((end - begin) * kBytesPerRecordGuess);
    // Steady readings (energy, counters, idle phases) repeat from one second to the next.
    std::array<bool, kExportedValues> known{};
    std::array<std::uint32_t, kExportedValues> lastBits{};
    std::array<QByteArray, kExportedValues> lastText;
    std::optional<std::optional<double>> lastDate;
    QByteArray lastDateText;
    for (const StoredSnapshot* snapshot = begin; snapshot != end; ++snapshot) {
        if (!lastDate || *lastDate != snapshot->date) {
            lastDate = snapshot->date;
            lastDateText = dateText(snapshot->date);
        }
        bytes += lastDateText;
        bytes += ',';
        bytes += timeText(snapshot->time);
        for (std::size_t k = 0; k < snapshot->values.size(); ++k) {
            bytes += ',';
            std::uint32_t bits = 0;
            std::memcpy(&bits, &snapshot->values[k], sizeof bits);
            if (!known[k] || bits != lastBits[k]) {
                known[k] = true;
                lastBits[k] = bits;
                // The general form is digits, sign, point and exponent: never quoted.
                lastText[k] =
                    common::generalForm(snapshot->values[k]).value_or(QString()).toLatin1();
            }
            bytes += lastText[k];
        }
        bytes += kRecordEnd;
    }
    return bytes;
}

/// The records of all snapshots in pieces, in the snapshots' order; the pieces are put into
/// words on all cores, since the number forms cost most of an export.
std::vector<QByteArray> formatAll(const std::vector<StoredSnapshot>& snapshots) {
    const std::size_t pieces = (snapshots.size() + kRecordsPerPiece - 1) / kRecordsPerPiece;
    std::vector<QByteArray> formatted(pieces);
    std::atomic<std::size_t> nextPiece{0};
    const auto work = [&] {
        for (std::size_t piece = nextPiece++; piece < pieces; piece = nextPiece++) {
            const std::size_t first = piece * kRecordsPerPiece;
            const std::size_t last = std::min(first + kRecordsPerPiece, snapshots.size());
            formatted[piece] = formatRecords(snapshots.data() + first, snapshots.data() + last);
        }
    };
    const std::size_t cores = std::max(1U, std::thread::hardware_concurrency());
    const std::size_t helpers =
        std::min({cores, kMostThreads, std::max<std::size_t>(pieces, 1)}) - 1;
    std::vector<std::thread> threads;
    threads.reserve(helpers);
    for (std::size_t i = 0; i < helpers; ++i) {
        threads.emplace_back(work);
    }
    work();
    for (std::thread& thread : threads) {
        thread.join();
    }
    return formatted;
}

} // namespace

QString csvField(const QString& text) {
    const bool needsQuotes =
        text.contains(u',') || text.contains(u'"') || text.contains(u'\r') || text.contains(u'\n');
    if (!needsQuotes) {
        return text;
    }
    QString quoted = text;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

QString csvRecord(const QStringList& fields) {
    QStringList quoted;
    quoted.reserve(fields.size());
    for (const QString& field : fields) {
        quoted << csvField(field);
    }
    return quoted.join(u',') + QLatin1String(kRecordEnd);
}

QStringList snapshotHeader() {
    QStringList header = {QStringLiteral("日期"), QStringLiteral("时间")};
    for (const common::Reading& reading : common::kReadingCatalogue) {
        header << QString::fromUtf8(reading.caption);
    }
    return header;
}

bool exportSnapshots(const QSqlDatabase& db, const QDateTime& from, const QDateTime& to,
                     QIODevice& out, QString* error) {
    const auto first = secondsOf(from);
    const auto last = secondsOf(to);
    if (!first || !last) {
        fail(error, QStringLiteral("the range has an invalid moment"));
        return false;
    }
    if (*first > *last) {
        fail(error, QStringLiteral("the range ends before it starts"));
        return false;
    }
    if (!out.isWritable()) {
        fail(error, QStringLiteral("the output is not open for writing"));
        return false;
    }
    if (!db.isOpen()) {
        fail(error, QStringLiteral("the reading log is not open"));
        return false;
    }
    const auto snapshots = readSnapshots(db, *first, *last, error);
    if (!snapshots) {
        return false;
    }

    QByteArray head = kByteOrderMark;
    head += csvRecord(snapshotHeader()).toUtf8();
    bool written = out.write(head) == head.size();
    for (const QByteArray& records : formatAll(*snapshots)) {
        written = written && out.write(records) == records.size();
    }
    if (!written) {
        fail(error, QStringLiteral("cannot write the snapshots: %1").arg(out.errorString()));
        return false;
    }
    return true;
}

FileExport exportSnapshotsToFile(const QSqlDatabase& db, const QDateTime& from,
                                 const QDateTime& to, const QString& path,
                                 const QStringList& logs, QString* error) {
    for (const QString& log : logs) {
        if (isReadingLogFile(path, log)) {
            fail(error, QStringLiteral("%1 is the reading log %2 or one of its files; nothing "
                                       "was written")
                            .arg(path, log));
            return FileExport::Refused;
        }
    }
    QString reason;
    const QFileInfo target(path);
    if (target.exists() && !target.isFile() && !target.isDir()) {
        // A new file renamed over a device or a pipe would take its place.
        QFile out(path);
        if (out.open(QIODevice::WriteOnly) && exportSnapshots(db, from, to, out, &reason) &&
            out.flush()) {
            return FileExport::Written;
        }
        fail(error, QStringLiteral("cannot export to %1: %2")
                        .arg(path, reason.isEmpty() ? out.errorString() : reason));
        return FileExport::Failed;
    }
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly)) {
        fail(error, QStringLiteral("cannot write %1: %2").arg(path, out.errorString()));
        return FileExport::Failed;
    }
    if (!exportSnapshots(db, from, to, out, &reason)) {
        out.cancelWriting();
        fail(error, QStringLiteral("cannot export to %1: %2").arg(path, reason));
        return FileExport::Failed;
    }
    if (!out.commit()) {
        fail(error, QStringLiteral("cannot write %1: %2").arg(path, out.errorString()));
        return FileExport::Failed;
    }
    return FileExport::Written;
}

} // namespace trend
