#pragma once

#include "common/Colour.h"
#include "trend/TrendChart.h"
#include "trend/TrendState.h"

#include <QDateTime>
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

/// The live values of channels 0 to 10 and the moment of a new snapshot, for the chart's newest
/// point; an absent value leaves the point as it was.
struct LivePoint {
    std::array<std::optional<float>, kDrawnChannels> values;
    QDateTime at;

    bool operator==(const LivePoint&) const = default;
};

/// Who takes the keyboard focus after the ruler is switched.
enum class RulerFocus { Slider, RulerButton };

inline constexpr const char* kRulerOffCaption = "F4 标尺";
inline constexpr const char* kRulerOnCaption = "F4 复原";

/// What a navigation command asks of the main window once it has changed the view. Empty fields
/// leave the control as it is. The window carries them out in the order they are declared.
struct NavigationRequests {
    /// Value of the ruler slider; a change moves the ruler there before the line below is set.
    std::optional<int> sliderValue;
    /// Take the slider out of the tab order.
    bool sliderOutOfTabOrder = false;
    std::optional<ChartLine> rulerLine;
    std::optional<bool> sliderEnabled;
    std::optional<RulerFocus> focus;
    /// Caption of Command5, kRulerOffCaption or kRulerOnCaption.
    std::optional<QString> rulerCaption;
    std::optional<bool> zoomInEnabled;      ///< Command3 "F2 放大"
    std::optional<bool> zoomOutEnabled;     ///< Command4 "F1 缩小"
    std::optional<bool> stepForwardEnabled; ///< Command7 "F6 左移"
    std::optional<bool> stepBackEnabled;    ///< Command8 "F7 右移"
    /// Small and large step of the ruler slider.
    std::optional<int> sliderStep;
    /// Fill the buffer from the log (loadHistory) before the redraw.
    bool reload = false;
    /// Length of the window the reload fills when it is not the view's windowLength; the view
    /// keeps its own length (see reloadWindow).
    std::optional<std::int32_t> reloadLength;
    /// Set at the live end after the reload (see setLivePoint), before the redraw.
    std::optional<LivePoint> livePoint;
    /// Clear the chart and run the redraw sequence.
    bool redraw = false;
    /// Start (true) or stop (false) the live display timer, after the redraw.
    std::optional<bool> displayRunning;

    bool operator==(const NavigationRequests&) const = default;
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

/// The view as the main window loads: live on the newest record at the closest zoom level, no
/// gaps marked, the ruler off and out of the tab order, "F2 放大" and "F6 左移" disabled.
NavigationRequests viewAtLoad(TrendView& view, TrendBuffer& buffer,
                              const NewestRecordReader& readNewest);

/// "F4": the ruler on (the live display stops, the slider takes the focus) or off (back to the
/// newest live window; scrollSteps, atOldest and the step buttons stay as they are).
NavigationRequests switchRuler(TrendView& view, const NewestRecordReader& readNewest);

/// Live points added past the live window, per zoom level, before the buffer is renewed.
inline constexpr int kLiveRenewPointsPerZoom = 20;

/// A new snapshot moves the live end one point on and asks for the point there and a redraw.
/// Once the window has grown by kLiveRenewPointsPerZoom points per zoom level, the buffer is
/// cleared and the window is the newest live one again, reloaded before the point is set.
NavigationRequests extendLive(TrendView& view, TrendBuffer& buffer, const LivePoint& point,
                              const NewestRecordReader& readNewest);

/// Sets the live point at the view's live end.
void setLivePoint(const TrendView& view, TrendBuffer& buffer, const LivePoint& point);

struct Jump;
/// What a jump to a record asks of the window: its steps' requests and the one load of
/// jump.loadLength records, whatever the view's own length.
NavigationRequests jumpRequests(const Jump& jump);

/// Runs `load` when the requests ask for a reload, over a window of reloadLength records when
/// they name one; the view keeps its own windowLength afterwards.
void reloadWindow(TrendView& view, const NavigationRequests& requests,
                  const std::function<void()>& load);

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
