#pragma once

#include "common/Colour.h"
#include "trend/TrendState.h"

#include <QLineF>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace trend {

/// The chart surface pt, in twips: the plot area is 0..12000 by 0..7500 inside it.
inline constexpr int kSurfaceWidth = 12008;
inline constexpr int kSurfaceHeight = 7508;
inline constexpr int kFrameWidth = 12010;
inline constexpr int kFrameHeight = 7510;
inline constexpr int kPlotWidth = 12000;
inline constexpr int kPlotHeight = 7500;
inline constexpr int kTimeCaptions = 9;
inline constexpr common::Rgb kChartBackground = common::rgb(192, 255, 192);

enum class LineStyle { Solid, Dash, Dot };

/// One line of the chart: end points in twips, width in pixels.
struct ChartLine {
    QLineF line;
    common::Rgb colour;
    int width;
    LineStyle style;

    bool operator==(const ChartLine&) const = default;
};

/// Everything one redraw puts on the chart: its lines in drawing order and the texts of the time
/// captions under it (an absent caption keeps the text it had).
struct ChartPicture {
    std::vector<ChartLine> lines;
    std::array<std::optional<QString>, kTimeCaptions> dates;
    std::array<std::optional<QString>, kTimeCaptions> times;
};

/// Colour of the curve of channel c (0..10).
extern const std::array<common::Rgb, kDrawnChannels> kCurveColours;

/// Point spacing and first point of the zoom level; other levels leave the view as it was.
void applyZoom(TrendView& view);

/// The dotted grid.
void drawGrid(ChartPicture& picture);

/// Time captions, gap markers and the eleven curves of the buffer as the view shows them. The
/// view keeps the scale of the value axis for a full scale of 0.
void drawTrend(const TrendBuffer& buffer, TrendView& view, std::int16_t yFullScale,
               ChartPicture& picture);

/// The whole chart anew: cleared surface, grid, zoom, curves.
ChartPicture redrawSequence(const TrendBuffer& buffer, TrendView& view, std::int16_t yFullScale);

} // namespace trend
