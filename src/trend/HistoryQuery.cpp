#include "trend/HistoryQuery.h"

#include "common/DayNumber.h"
#include "common/NumberText.h"
#include "trend/ReadingLogSql.h"

#include <QSqlQuery>
#include <QVariant>

#include <cmath>
#include <limits>

namespace trend {

namespace {

double momentOf(const TrendBuffer& buffer, int i) {
    return buffer.trendDate.value(i) + buffer.trendTime.value(i);
}

bool fitsInt32(std::int64_t value) {
    return value >= std::numeric_limits<std::int32_t>::min() &&
           value <= std::numeric_limits<std::int32_t>::max();
}

} // namespace

std::optional<HistoryStatements> historyStatements(std::int32_t windowEnd,
                                                   std::int32_t windowLength) {
    const std::int64_t end = windowEnd;
    const std::int64_t length = windowLength;
    const std::int64_t before = ringWindowBefore(end, length);
    if (!fitsInt32(before) || !fitsInt32(before + 1) || !fitsInt32(end + 1)) {
        return std::nullopt;
    }
    HistoryStatements statements;
    statements.windowBefore = static_cast<std::int32_t>(before);
    statements.wraps = end < length;
    // The engine's between needs its bounds in ascending order.
    statements.between =
        selectWindowSql(static_cast<std::int32_t>(before + 1), static_cast<std::int32_t>(end));
    statements.notBetween = selectWrappedWindowSql(static_cast<std::int32_t>(end + 1),
                                                   static_cast<std::int32_t>(before));
    return statements;
}

ReadOut loadHistory(ReadingLog& log, TrendBuffer& buffer, TrendView& view) {
    buffer.clearTrendBuffer();
    for (int i = 0; i <= 321; ++i) {
        buffer.gapMark.set(i, 0);
    }
    const auto statements = historyStatements(view.windowEnd, view.windowLength);
    if (statements) {
        view.windowBefore = statements->windowBefore;
    }
    const QString sql = statements ? statements->chosen() : QString();

    if (!sql.isEmpty()) {
        log.select(sql, [&](QSqlQuery& query) {
            // Points past the buffer's end could never be stored; the loop stops there.
            const int last = std::min<std::int64_t>(view.windowLength, TrendBuffer::Points::kUpper);
            bool rowHere = query.next();
            for (int i = 1; i <= last; ++i) {
                if (rowHere) {
                    if (const auto date = common::dayNumberOf(query.value(1))) {
                        buffer.trendDate.set(i, *date);
                    }
                    if (const auto time = common::dayNumberOf(query.value(2))) {
                        buffer.trendTime.set(i, *time);
                    }
                    // A NULL (a stored NaN) or a text that is no number is no reading: the
                    // point holds NaN, never a value of another moment.
                    for (int c = 0; c < kDrawnChannels; ++c) {
                        buffer.setValue(c, i,
                                        common::singleOf(query.value(3 + c))
                                            .value_or(std::numeric_limits<float>::quiet_NaN()));
                    }
                }
                // Date and time together: a whole day's pause is a gap, midnight is not; the
                // window's first point has nothing before it.
                if (i > 1 && std::fabs(momentOf(buffer, i) - momentOf(buffer, i - 1)) > kGapDays) {
                    buffer.gapMark.set(i, static_cast<std::int16_t>(i));
                }
                rowHere = rowHere && query.next();
            }
        });
    }

    ReadOut readOut;
    if (!view.rulerOn) {
        return readOut;
    }
    const int first = view.viewStart + 1;
    if (const auto date = buffer.trendDate.get(first)) {
        readOut.date = common::generalDateText(*date);
    }
    if (const auto time = buffer.trendTime.get(first)) {
        readOut.time = common::generalDateText(*time);
    }
    return readOut;
}

bool ringHasWrapped(ReadingLog& log, std::int32_t newestRecord) {
    if (!isRecordNumber(newestRecord)) {
        return false;
    }
    bool found = false;
    log.select(selectSnapshotSql(ringSuccessor(newestRecord)),
               [&found](QSqlQuery& query) { found = query.next(); });
    return found;
}

} // namespace trend
