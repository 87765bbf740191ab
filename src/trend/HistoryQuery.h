#pragma once

#include "trend/ReadingLog.h"
#include "trend/TrendState.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace trend {

/// Days between neighbouring points above which a gap in recording is marked (just under 5 min).
inline constexpr double kGapDays = 0.00347222;

/// The two statements of a history window; the one that fits is run.
struct HistoryStatements {
    /// Record number just before the oldest record of the window.
    std::int32_t windowBefore = 0;
    /// True when the window crosses the end of the ring and needs the "not between" form.
    bool wraps = false;
    QString between;
    QString notBetween;

    [[nodiscard]] const QString& chosen() const { return wraps ? notBetween : between; }
};

/// The window of windowLength records ending at windowEnd; empty when the numbers overflow.
std::optional<HistoryStatements> historyStatements(std::int32_t windowEnd,
                                                   std::int32_t windowLength);

/// What the read-out labels show after a load with the ruler on: date and time of the chart's
/// first point. With the ruler off the labels are the clock, and both stay empty.
struct ReadOut {
    std::optional<QString> date;
    std::optional<QString> time;
};

/// Fills the buffer with the window of view.windowLength snapshots ending at view.windowEnd, in
/// clock order, and marks the gaps in recording. Rows that do not come back leave their points
/// as the clear left them.
ReadOut loadHistory(ReadingLog& log, TrendBuffer& buffer, TrendView& view);

/// Whether the ring has been written all round: the record after the newest, in ring order,
/// holds a snapshot.
bool ringHasWrapped(ReadingLog& log, std::int32_t newestRecord);

} // namespace trend
