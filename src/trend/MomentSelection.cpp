#include "trend/MomentSelection.h"

#include <QSqlQuery>
#include <QVariant>

#include <cmath>

namespace trend {

namespace {

/// Buffer index of the record in a window of this end and length (below 1: not in it).
std::int64_t indexOf(std::int32_t windowEnd, std::int32_t length, std::int32_t record) {
    return static_cast<std::int64_t>(length) - ringDistance(record, windowEnd);
}

} // namespace

std::optional<LogSpan> logSpan(ReadingLog& log) {
    std::optional<LogSpan> span;
    log.select(QStringLiteral("SELECT min(w_date + w_time), max(w_date + w_time), count(*) FROM "
                              "pv_data"),
               [&span](QSqlQuery& query) {
                   if (query.next() && query.value(2).toLongLong() > 0) {
                       span = LogSpan{query.value(0).toDouble(), query.value(1).toDouble()};
                   }
               });
    return span;
}

std::optional<NearestSnapshot> nearestSnapshot(ReadingLog& log, double moment) {
    std::optional<NearestSnapshot> nearest;
    log.select(QStringLiteral("SELECT w_id, w_date + w_time FROM pv_data ORDER BY "
                              "abs(w_date + w_time - %1), w_date + w_time LIMIT 1")
                   .arg(moment, 0, 'g', 17),
               [&nearest](QSqlQuery& query) {
                   if (query.next()) {
                       nearest = NearestSnapshot{query.value(0).toInt(), query.value(1).toDouble()};
                   }
               });
    return nearest;
}

Jump jumpToRecord(TrendView& view, std::int32_t record, const NewestRecordReader& readNewest) {
    Jump jump;
    view.scrollSteps = 0;
    view.atOldest = false;
    returnToLive(view, readNewest);
    applyZoom(view);
    // The live window shows its newest minutes up to the newest record itself.
    if (indexOf(view.windowEnd, kLiveWindowLength, record) > view.viewStart) {
        jump.loadLength = kLiveWindowLength;
        jump.requests.reload = true;
        jump.requests.redraw = true;
        jump.requests.stepForwardEnabled = false;
        jump.requests.stepBackEnabled = true;
        // Live values would overwrite the ruler's read-out and move the chart under it.
        jump.requests.displayRunning = !view.rulerOn;
        return jump;
    }
    jump.requests.stepBackEnabled = true;
    for (;;) {
        const std::int32_t before = view.windowEnd;
        const std::int16_t stepsBefore = view.scrollSteps;
        const NavigationRequests step = stepBack(view);
        jump.requests.displayRunning = false;
        jump.requests.stepForwardEnabled = true;
        if (view.atOldest) {
            jump.requests.stepBackEnabled = false;
            // A step blocked before the start of the ring keeps the window of the step before,
            // the live one after none; on a wrapped ring the last step shows the oldest window.
            if (!step.reload) {
                jump.loadLength = stepsBefore == 0 ? kLiveWindowLength : kHistoryWindowLength;
            }
            break;
        }
        // Each step moves the record 60 points to the right: the first window in which it is
        // no longer left of the chart shows it in its first minute.
        const bool stuck =
            (view.windowEnd == before && view.scrollSteps > 1) || view.scrollSteps == stepsBefore;
        if (indexOf(view.windowEnd, kHistoryWindowLength, record) > view.viewStart || stuck) {
            break;
        }
    }
    jump.requests.reload = true;
    jump.requests.redraw = true;
    return jump;
}

std::optional<int> pointNearest(const TrendBuffer& buffer, double moment) {
    std::optional<int> best;
    double bestDistance = 0;
    for (int i = 1; i <= kHistoryWindowLength; ++i) {
        const double at = buffer.trendDate.value(i) + buffer.trendTime.value(i);
        if (at == 0.0) {
            continue;
        }
        const double distance = std::fabs(at - moment);
        if (!best || distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return best;
}

} // namespace trend
