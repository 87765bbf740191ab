#pragma once

#include "trend/ReadingLog.h"
#include "trend/TrendNavigation.h"
#include "trend/TrendState.h"

#include <cstdint>
#include <optional>

namespace trend {

/// The oldest and newest snapshots of the log, as day numbers (date plus time of day).
struct LogSpan {
    double oldest = 0;
    double newest = 0;
};
std::optional<LogSpan> logSpan(ReadingLog& log);

/// The snapshot whose own date and time lie nearest a moment (a day number).
struct NearestSnapshot {
    std::int32_t record = 0;
    double moment = 0;
};
std::optional<NearestSnapshot> nearestSnapshot(ReadingLog& log, double moment);

/// Where a jump to a record leaves the chart: the view as after the steps back that bring the
/// record into the drawn part of the window, and the one load that shows it.
struct Jump {
    NavigationRequests requests;
    /// Length of the window to load; the view's own length is set again after the load.
    std::int32_t loadLength = kHistoryWindowLength;
};

/// Steps the view back from live (the newest record read anew), as "F7 右移" would, until the
/// record stands in the window's first shown minute (or, live, in the drawn part); the history
/// is loaded once at the end. A record beyond the oldest reachable window ends like a blocked
/// step.
Jump jumpToRecord(TrendView& view, std::int32_t record, const NewestRecordReader& readNewest = {});

/// Buffer index of the point nearest a moment, or empty when the buffer holds no point.
std::optional<int> pointNearest(const TrendBuffer& buffer, double moment);

} // namespace trend
