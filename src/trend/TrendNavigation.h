#pragma once

#include "common/Colour.h"
#include "trend/TrendChart.h"
#include "trend/TrendState.h"

#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

namespace trend {

/// Snapshots per one-minute step through the history.
inline constexpr int kStepRecords = 60;
inline constexpr int kRulerLeftEnd = -1;
inline constexpr int kRulerRightEnd = 12001;

/// What a navigation command asks of the main window once it has changed the view. Empty fields
/// leave the control as it is.
struct NavigationRequests {
    std::optional<bool> zoomInEnabled;      ///< Command3 "F2 放大"
    std::optional<bool> zoomOutEnabled;     ///< Command4 "F1 缩小"
    std::optional<bool> stepForwardEnabled; ///< Command7 "F6 左移"
    std::optional<bool> stepBackEnabled;    ///< Command8 "F7 右移"
    /// Small and large step of the ruler slider.
    std::optional<int> sliderStep;
    /// Fill the buffer from the log (loadHistory) before the redraw.
    bool reload = false;
    /// Clear the chart and run the redraw sequence.
    bool redraw = false;
    /// Start (true) or stop (false) the live display timer, after the redraw.
    std::optional<bool> displayRunning;
};

/// last_id of the control row, and whether the ring has been written all round.
struct NewestRecord {
    std::int32_t record = 0;
    bool ringWrapped = false;
};

/// Reads the newest record; empty when the log cannot answer.
using NewestRecordReader = std::function<std::optional<NewestRecord>()>;

/// "F2 放大": one zoom level closer (fewer points, further apart).
NavigationRequests zoomIn(TrendView& view);
/// "F1 缩小": one zoom level wider.
NavigationRequests zoomOut(TrendView& view);
/// "F7 右移": one minute back into the history. On a ring not yet written all round it is blocked
/// once the window would reach the start of the ring; on a wrapped ring the window goes back to
/// the oldest snapshot, and the step that reaches it blocks further steps.
NavigationRequests stepBack(TrendView& view);
/// "F6 左移": one minute forward; at the newest minute the chart is live again.
NavigationRequests stepForward(TrendView& view, const NewestRecordReader& readNewest);

/// The window back to the newest live snapshots (the ruler switched off, a return to live).
void returnToLive(TrendView& view, const NewestRecordReader& readNewest);

/// Live points added past the live window, per zoom level, before the buffer is renewed.
inline constexpr int kLiveRenewPointsPerZoom = 20;

/// A new snapshot moves the live end one point on. Once the window has grown by
/// kLiveRenewPointsPerZoom points per zoom level, the buffer is cleared and the window is the
/// newest live one again, to be reloaded and redrawn before the new point is set.
NavigationRequests extendLive(TrendView& view, TrendBuffer& buffer,
                              const NewestRecordReader& readNewest);

/// The ruler line as the ruler is switched on, at a slider position, and switched off.
ChartLine rulerLineOn();
ChartLine rulerLineAt(int position);
ChartLine rulerLineOff();

/// Which step a move of the ruler slider to one of its ends asks for.
enum class RulerEndStep { None, Back, Forward };
RulerEndStep rulerEndStep(const TrendView& view, int position);

/// Buffer index of the point under the ruler at a slider position; empty when it overflows.
std::optional<int> rulerIndex(const TrendView& view, int position);

/// Slider position of the ruler over a buffer index, kept on the chart (0 to 12000).
int rulerPositionOf(const TrendView& view, int index);

/// What the read-out labels show for a point: date, time and channels 0 to 10 in the general
/// form, empty for a value that is not a number. An absent text (a point outside the buffer)
/// keeps the label as it was.
struct RulerReadOut {
    std::optional<QString> date;
    std::optional<QString> time;
    std::array<std::optional<QString>, kDrawnChannels> values;
};
RulerReadOut rulerReadOut(const TrendBuffer& buffer, int index);

inline constexpr common::Rgb kRulerReadOutBackground = common::rgb(255, 255, 0);

} // namespace trend
