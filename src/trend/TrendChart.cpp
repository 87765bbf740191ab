#include "trend/TrendChart.h"

#include "common/DayNumber.h"
#include "common/NumberText.h"

#include <cmath>

namespace trend {

namespace {

constexpr common::Rgb kGridColour = common::rgb(0, 0, 192);
constexpr common::Rgb kGapColour = common::rgb(255, 255, 0);
constexpr int kGridWidth = 1;
constexpr int kCurveWidth = 2;
constexpr int kGapMarkerHeight = 9000;
constexpr int kLiveEndX = 9000;
constexpr int kRowLines = 25;
constexpr double kRowPitch = 312.5;
constexpr int kColumnLines = 33;
constexpr int kColumnPitch = 375;
constexpr int kLeftLineX = 8;
constexpr int kPointsPerMinute = 60;
constexpr int kCaptionPointsPerZoom = 10;
constexpr int kFirstExtrapolatedCaption = 7;
constexpr int kLastPointBeforeExtrapolation = 241;
constexpr double kCaptionStepDays = 0.00347222 / 30;

struct ZoomRow {
    float pointSpacing;
    std::int16_t viewStart;
};
constexpr std::array<ZoomRow, 4> kZoomTable{{{150.0F, 180}, {75.0F, 120}, {50.0F, 60}, {37.5F, 0}}};

/// A single-precision product rounded to whole twips, halves to even; empty on overflow.
std::optional<int> twips(float product) { return common::roundToInt32(product); }

} // namespace

const std::array<common::Rgb, kDrawnChannels> kCurveColours{
    common::rgb(255, 0, 0),   common::rgb(0, 0, 255),   common::rgb(0, 128, 0),
    common::rgb(192, 0, 0),   common::rgb(0, 0, 192),   common::rgb(0, 64, 0),
    common::rgb(255, 0, 255), common::rgb(255, 255, 0), common::rgb(0, 0, 0),
    common::rgb(255, 0, 0),   common::rgb(255, 0, 255),
};

void applyZoom(TrendView& view) {
    if (view.zoomLevel < 1 || view.zoomLevel > static_cast<int>(kZoomTable.size())) {
        return;
    }
    const ZoomRow& row = kZoomTable[static_cast<std::size_t>(view.zoomLevel - 1)];
    view.pointSpacing = row.pointSpacing;
    view.viewStart = row.viewStart;
}

void drawGrid(ChartPicture& picture) {
    auto& lines = picture.lines;
    const auto horizontal = [&lines](double y) {
        lines.push_back({QLineF(0, y, kSurfaceWidth, y), kGridColour, kGridWidth, LineStyle::Dot});
    };
    const auto vertical = [&lines](double x) {
        lines.push_back({QLineF(x, 0, x, kSurfaceHeight), kGridColour, kGridWidth, LineStyle::Dot});
    };
    horizontal(0);
    horizontal(kPlotHeight);
    for (int i = 0; i < kRowLines; ++i) {
        horizontal(common::roundHalfEven(i * kRowPitch));
    }
    vertical(kLeftLineX);
    vertical(kLiveEndX);
    for (int i = 0; i < kColumnLines; ++i) {
        vertical(i * kColumnPitch);
    }
}

void drawTrend(const TrendBuffer& buffer, TrendView& view, std::int16_t yFullScale,
               ChartPicture& picture) {
    const int z = view.zoomLevel;
    const int s = view.viewStart;

    for (int i = 0; i < kTimeCaptions; ++i) {
        const int p = s + kCaptionPointsPerZoom * z * i + 1;
        const auto index = static_cast<std::size_t>(i);
        if (const auto time = buffer.trendTime.get(p)) {
            picture.times[index] = common::generalDateText(*time);
        }
        if (const auto date = buffer.trendDate.get(p)) {
            picture.dates[index] = common::generalDateText(*date);
        }
    }
    // A live window names the times still to come under its last two captions.
    if (view.windowLength < kHistoryWindowLength - 1) {
        const auto step = static_cast<float>(z * kCaptionStepDays);
        const auto lastTime = buffer.trendTime.get(kLastPointBeforeExtrapolation);
        const auto lastDate = buffer.trendDate.get(kLastPointBeforeExtrapolation);
        for (int n = 1; n <= 2; ++n) {
            const auto index = static_cast<std::size_t>(kFirstExtrapolatedCaption + n - 1);
            if (!lastTime || !lastDate) {
                continue;
            }
            double t = *lastTime + static_cast<double>(static_cast<float>(n) * step);
            double d = *lastDate;
            if (t >= 1) {
                d += 1;
                t -= 1;
            }
            picture.times[index] = common::generalDateText(t);
            picture.dates[index] = common::generalDateText(d);
        }
    }

    const int points = kPointsPerMinute * z + (view.viewEnd - kLiveWindowLength);
    for (int k = 1; k <= points; ++k) {
        if (buffer.gapMark.value(s + k) > 0) {
            const double x = static_cast<float>(k) * view.pointSpacing;
            picture.lines.push_back(
                {QLineF(x, 0, x, kGapMarkerHeight), kGapColour, kGridWidth, LineStyle::Dash});
        }
    }

    if (yFullScale != 0) {
        view.yScale = static_cast<float>(static_cast<double>(kPlotHeight) / yFullScale);
    }
    const float yScale = view.yScale;
    for (int k = 1; k <= points; ++k) {
        const auto x1 = twips(static_cast<float>(k - 1) * view.pointSpacing);
        const auto x2 = twips(static_cast<float>(k) * view.pointSpacing);
        if (!x1 || !x2) {
            continue;
        }
        for (int c = 0; c < kDrawnChannels; ++c) {
            const auto v1 = buffer.value(c, s + k - 1);
            const auto v2 = buffer.value(c, s + k);
            if (!v1 || !v2) {
                continue;
            }
            const auto u1 = twips(yScale * *v1);
            const auto u2 = twips(yScale * *v2);
            if (!u1 || !u2) {
                continue;
            }
            picture.lines.push_back({QLineF(*x1, kSurfaceHeight - *u1, *x2, kSurfaceHeight - *u2),
                                     kCurveColours[static_cast<std::size_t>(c)], kCurveWidth,
                                     LineStyle::Solid});
        }
    }
}

ChartPicture redrawSequence(const TrendBuffer& buffer, TrendView& view, std::int16_t yFullScale) {
    ChartPicture picture;
    drawGrid(picture);
    applyZoom(view);
    drawTrend(buffer, view, yFullScale, picture);
    return picture;
}

} // namespace trend
