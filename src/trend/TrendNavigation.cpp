#include "trend/TrendNavigation.h"

#include "common/DayNumber.h"
#include "common/NumberText.h"
#include "trend/MomentSelection.h"

#include <algorithm>
#include <limits>

namespace trend {

namespace {

constexpr int kZoomClosest = 1;
constexpr int kZoomWidest = 4;
constexpr int kRulerWidth = 2;
constexpr int kRulerTickHeight = 330;

/// 60 × steps in 16 bits, as the window end is computed; empty once it overflows.
std::optional<std::int16_t> stepRecords(std::int16_t steps) {
    const int n = kStepRecords * steps;
    if (n > std::numeric_limits<std::int16_t>::max() ||
        n < std::numeric_limits<std::int16_t>::min()) {
        return std::nullopt;
    }
    return static_cast<std::int16_t>(n);
}

/// The end of the history window n records behind the newest, wrapped into the ring; exactly
/// n behind leaves the end where it was.
void moveWindowEnd(TrendView& view, std::int16_t n) {
    if (view.newestRecord != n) {
        view.windowEnd = ringBack(view.newestRecord, n);
    }
}

/// How far behind the newest record, in ring order, the window ends whose first point is the
/// oldest snapshot of a wrapped ring.
constexpr std::int32_t kOldestWindowBehind = (kRingSize - 1) - (kHistoryWindowLength - 1);

bool wrappedRing(const TrendView& view) {
    return view.ringWrapped && isRecordNumber(view.newestRecord);
}

/// Puts the window end 60 × scrollSteps records behind the newest. On a wrapped ring the
/// arithmetic runs in 32 bits, in ring order, and stops at the oldest snapshot; true when the
/// window starts there.
bool placeWindowEnd(TrendView& view) {
    if (!wrappedRing(view)) {
        if (const auto n = stepRecords(view.scrollSteps)) {
            moveWindowEnd(view, *n);
        }
        return false;
    }
    const std::int32_t behind =
        std::min(kStepRecords * static_cast<std::int32_t>(view.scrollSteps), kOldestWindowBehind);
    view.windowEnd = ringBack(view.newestRecord, behind);
    return behind == kOldestWindowBehind;
}

/// The zoom level's spacing, the slider's steps to match, and a redraw.
void rezoom(TrendView& view, NavigationRequests& requests) {
    applyZoom(view);
    if (const auto step = common::roundToInt32(view.pointSpacing)) {
        requests.sliderStep = *step;
    }
    requests.redraw = true;
}

std::optional<std::int16_t> plusOne(std::int16_t value, int delta) {
    const int next = value + delta;
    if (next > std::numeric_limits<std::int16_t>::max() ||
        next < std::numeric_limits<std::int16_t>::min()) {
        return std::nullopt;
    }
    return static_cast<std::int16_t>(next);
}

} // namespace

NavigationRequests zoomIn(TrendView& view) {
    if (const auto level = plusOne(view.zoomLevel, -1)) {
        view.zoomLevel = *level;
    }
    NavigationRequests requests;
    if (view.zoomLevel <= kZoomClosest) {
        requests.zoomInEnabled = false;
    }
    if (view.zoomLevel < kZoomWidest) {
        requests.zoomOutEnabled = true;
    }
    rezoom(view, requests);
    return requests;
}

NavigationRequests zoomOut(TrendView& view) {
    if (const auto level = plusOne(view.zoomLevel, 1)) {
        view.zoomLevel = *level;
    }
    NavigationRequests requests;
    if (view.zoomLevel > kZoomClosest) {
        requests.zoomInEnabled = true;
    }
    if (view.zoomLevel >= kZoomWidest) {
        requests.zoomOutEnabled = false;
    }
    rezoom(view, requests);
    return requests;
}

NavigationRequests stepBack(TrendView& view) {
    NavigationRequests requests;
    if (const auto steps = plusOne(view.scrollSteps, 1)) {
        view.scrollSteps = *steps;
    }
    view.windowLength = kHistoryWindowLength;
    requests.displayRunning = false;
    requests.stepForwardEnabled = true;

    if (const auto n = stepRecords(view.scrollSteps); n && !wrappedRing(view)) {
        // The window would reach the start of the ring: block, and keep what the chart shows.
        if (view.newestRecord > *n && view.newestRecord - *n <= kHistoryWindowLength) {
            requests.stepBackEnabled = false;
            view.atOldest = true;
            return requests;
        }
    }
    if (placeWindowEnd(view)) {
        requests.stepBackEnabled = false;
        view.atOldest = true;
    }
    view.viewEnd = kHistoryWindowLength;
    requests.reload = true;
    requests.redraw = true;
    return requests;
}

void returnToLive(TrendView& view, const NewestRecordReader& readNewest) {
    view.windowLength = kLiveWindowLength;
    if (const auto newest = readNewest ? readNewest() : std::nullopt) {
        view.newestRecord = newest->record;
        view.ringWrapped = newest->ringWrapped;
    }
    view.windowEnd = view.newestRecord;
    view.viewEnd = kLiveWindowLength;
}

NavigationRequests viewAtLoad(TrendView& view, TrendBuffer& buffer,
                              const NewestRecordReader& readNewest) {
    NavigationRequests requests;
    view.atOldest = false;
    view.scrollSteps = 0;
    requests.sliderEnabled = false;
    requests.zoomInEnabled = false;
    requests.stepForwardEnabled = false;
    for (int i = 1; i <= kHistoryWindowLength; ++i) {
        buffer.gapMark.set(i, 0);
    }
    view.zoomLevel = kZoomClosest;
    returnToLive(view, readNewest);
    view.rulerOn = false;
    requests.sliderOutOfTabOrder = true;
    requests.sliderValue = 0;
    requests.rulerLine = rulerLineOff();
    requests.reload = true;
    requests.redraw = true;
    requests.displayRunning = true;
    return requests;
}

NavigationRequests switchRuler(TrendView& view, const NewestRecordReader& readNewest) {
    NavigationRequests requests;
    requests.sliderValue = 0;
    if (!view.rulerOn) {
        view.rulerOn = true;
        requests.rulerLine = rulerLineOn();
        requests.sliderEnabled = true;
        requests.focus = RulerFocus::Slider;
        requests.displayRunning = false;
        requests.rulerCaption = QString::fromUtf8(kRulerOnCaption);
        return requests;
    }
    view.rulerOn = false;
    requests.sliderOutOfTabOrder = true;
    requests.rulerLine = rulerLineOff();
    requests.sliderEnabled = false;
    requests.focus = RulerFocus::RulerButton;
    requests.rulerCaption = QString::fromUtf8(kRulerOffCaption);
    requests.displayRunning = true;
    returnToLive(view, readNewest);
    requests.reload = true;
    requests.redraw = true;
    return requests;
}

NavigationRequests extendLive(TrendView& view, TrendBuffer& buffer, const LivePoint& point,
                              const NewestRecordReader& readNewest) {
    NavigationRequests requests;
    view.viewEnd = static_cast<std::int16_t>(view.viewEnd + 1);
    // A zoom change can move the renewal point below the current end; renew then too, or the
    // window would grow past the buffer and the chart would stop following the meter.
    if (view.viewEnd >= kLiveRenewPointsPerZoom * view.zoomLevel + kLiveWindowLength) {
        buffer.clearTrendBuffer();
        returnToLive(view, readNewest);
        requests.reload = true;
    }
    requests.livePoint = point;
    requests.redraw = true;
    return requests;
}

void setLivePoint(const TrendView& view, TrendBuffer& buffer, const LivePoint& point) {
    const int at = view.viewEnd;
    for (int c = 0; c < kDrawnChannels; ++c) {
        if (const auto& value = point.values[static_cast<std::size_t>(c)]) {
            buffer.setValue(c, at, *value);
        }
    }
    buffer.trendDate.set(at, common::dateSerial(point.at.date()));
    buffer.trendTime.set(at, common::timeSerial(point.at.time()));
}

NavigationRequests jumpRequests(const Jump& jump) {
    NavigationRequests requests = jump.requests;
    requests.reload = true;
    requests.reloadLength = jump.loadLength;
    return requests;
}

void reloadWindow(TrendView& view, const NavigationRequests& requests,
                  const std::function<void()>& load) {
    if (!requests.reload) {
        return;
    }
    const std::int32_t length = view.windowLength;
    view.windowLength = requests.reloadLength.value_or(length);
    load();
    view.windowLength = length;
}

NavigationRequests stepForward(TrendView& view, const NewestRecordReader& readNewest) {
    NavigationRequests requests;
    if (const auto steps = plusOne(view.scrollSteps, -1)) {
        view.scrollSteps = *steps;
    }
    view.windowLength = kHistoryWindowLength;
    requests.reload = true;
    requests.redraw = true;
    if (view.scrollSteps == 0) {
        returnToLive(view, readNewest);
        requests.stepForwardEnabled = false;
        requests.displayRunning = true;
        return requests;
    }
    const bool oldest = placeWindowEnd(view);
    view.viewEnd = kHistoryWindowLength;
    if (view.atOldest && !oldest) {
        requests.stepBackEnabled = true;
        view.atOldest = false;
    }
    return requests;
}

ChartLine rulerLineOn() {
    return {QLineF(1, 0, 1, kRulerTickHeight), common::rgb(255, 255, 0), kRulerWidth,
            LineStyle::Solid};
}

ChartLine rulerLineAt(int position) {
    return {QLineF(position, 0, position, kPlotHeight), common::rgb(192, 0, 192), kRulerWidth,
            LineStyle::Solid};
}

ChartLine rulerLineOff() {
    return {QLineF(0, 0, 0, kRulerTickHeight), common::rgb(0, 255, 0), kRulerWidth,
            LineStyle::Solid};
}

RulerEndStep rulerEndStep(const TrendView& view, int position) {
    if (position == kRulerLeftEnd && !view.atOldest) {
        return RulerEndStep::Back;
    }
    if (position == kRulerRightEnd && view.scrollSteps > 0) {
        return RulerEndStep::Forward;
    }
    return RulerEndStep::None;
}

std::optional<int> rulerIndex(const TrendView& view, int position) {
    if (view.pointSpacing == 0.0F) {
        return std::nullopt;
    }
    const float index =
        static_cast<float>(view.viewStart) + static_cast<float>(position) / view.pointSpacing;
    return common::roundToInt16(index);
}

int rulerPositionOf(const TrendView& view, int index) {
    const auto position =
        common::roundToInt32((index - view.viewStart) * static_cast<double>(view.pointSpacing));
    return std::clamp(position.value_or(0), 0, kPlotWidth);
}

RulerReadOut rulerReadOut(const TrendBuffer& buffer, int index) {
    RulerReadOut readOut;
    if (const auto date = buffer.trendDate.get(index)) {
        readOut.date = common::generalDateText(*date);
    }
    if (const auto time = buffer.trendTime.get(index)) {
        readOut.time = common::generalDateText(*time);
    }
    for (int c = 0; c < kDrawnChannels; ++c) {
        if (const auto value = buffer.value(c, index)) {
            // A point that is not a number shows nothing rather than the last point's value.
            readOut.values[static_cast<std::size_t>(c)] =
                common::generalForm(*value).value_or(QString());
        }
    }
    return readOut;
}

} // namespace trend
