#include "trend/TrendChart.h"
#include "common/DayNumber.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

using trend::ChartLine;
using trend::ChartPicture;
using trend::LineStyle;

namespace {

std::vector<ChartLine> linesOf(const ChartPicture& picture, common::Rgb colour, LineStyle style) {
    std::vector<ChartLine> found;
    std::copy_if(
        picture.lines.begin(), picture.lines.end(), std::back_inserter(found),
        [&](const ChartLine& line) { return line.colour == colour && line.style == style; });
    return found;
}

using common::rgb;

// The colour of each channel's curve: 0 and 9 share red, 6 and 10 magenta.
const std::array<common::Rgb, 11> kChannelColours = {
    rgb(255, 0, 0), rgb(0, 0, 255), rgb(0, 128, 0),   rgb(192, 0, 0),
    rgb(0, 0, 192), rgb(0, 64, 0),  rgb(255, 0, 255), rgb(255, 255, 0),
    rgb(0, 0, 0),   rgb(255, 0, 0), rgb(255, 0, 255)};

std::vector<ChartLine> curve(const ChartPicture& picture, int channel) {
    // Colours repeat, so a curve is found by its place: channels interleave c = 0..10 per point.
    std::vector<ChartLine> solid;
    std::copy_if(picture.lines.begin(), picture.lines.end(), std::back_inserter(solid),
                 [](const ChartLine& line) { return line.style == LineStyle::Solid; });
    std::vector<ChartLine> found;
    for (std::size_t i = static_cast<std::size_t>(channel); i < solid.size(); i += 11) {
        found.push_back(solid[i]);
    }
    return found;
}

trend::TrendView liveView(std::int16_t zoomLevel) {
    trend::TrendView view;
    view.zoomLevel = zoomLevel;
    view.windowLength = 241;
    view.viewEnd = 241;
    return view;
}

TEST(ApplyZoom, SetsSpacingAndFirstPointFromTheTable) {
    const float spacing[] = {150.0F, 75.0F, 50.0F, 37.5F};
    const std::int16_t start[] = {180, 120, 60, 0};
    for (std::int16_t level = 1; level <= 4; ++level) {
        trend::TrendView view = liveView(level);
        trend::applyZoom(view);
        EXPECT_EQ(view.pointSpacing, spacing[level - 1]);
        EXPECT_EQ(view.viewStart, start[level - 1]);
        EXPECT_EQ(60.0F * static_cast<float>(level) * view.pointSpacing, 9000.0F);
    }
    for (std::int16_t level : {0, 5, -1}) {
        trend::TrendView view = liveView(level);
        view.pointSpacing = 1.5F;
        view.viewStart = 7;
        trend::applyZoom(view);
        EXPECT_EQ(view.pointSpacing, 1.5F);
        EXPECT_EQ(view.viewStart, 7);
    }
}

TEST(DrawGrid, DrawsDottedRowsRoundedHalfToEvenAndColumnsEvery375Twips) {
    ChartPicture picture;
    trend::drawGrid(picture);
    ASSERT_EQ(picture.lines.size(), 2U + 25U + 2U + 33U);
    for (const ChartLine& line : picture.lines) {
        EXPECT_EQ(line.colour, rgb(0, 0, 192));
        EXPECT_EQ(line.style, LineStyle::Dot);
        EXPECT_EQ(line.width, 1);
    }
    EXPECT_EQ(picture.lines[1].line, QLineF(0, 7500, 12008, 7500));
    const double rows[] = {0, 312, 625, 938, 1250, 1562, 1875, 2188};
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        EXPECT_EQ(picture.lines[2 + i].line, QLineF(0, rows[i], 12008, rows[i])) << i;
    }
    EXPECT_EQ(picture.lines[26].line.y1(), 7500);
    EXPECT_EQ(picture.lines[27].line, QLineF(8, 0, 8, 7508));
    EXPECT_EQ(picture.lines[28].line, QLineF(9000, 0, 9000, 7508));
    EXPECT_EQ(picture.lines[29 + 32].line, QLineF(12000, 0, 12000, 7508));
}

TEST(DrawTrend, CaptionsNameThePointOneAfterTheCurvePointAtTheirPlace) {
    trend::TrendBuffer buffer;
    for (int i = 0; i <= 322; ++i) {
        buffer.trendTime.set(i, i / 86400.0);
        buffer.trendDate.set(i, 46000 + i);
    }
    trend::TrendView view = liveView(2);
    view.windowLength = 321;
    const ChartPicture picture = trend::redrawSequence(buffer, view, 6000);
    for (int i = 0; i < 9; ++i) {
        const int p = 120 + 20 * i + 1;
        EXPECT_EQ(picture.times[static_cast<std::size_t>(i)], common::generalDateText(p / 86400.0))
            << i;
        EXPECT_EQ(picture.dates[static_cast<std::size_t>(i)], common::generalDateText(46000 + p));
    }
}

TEST(DrawTrend, ALiveWindowExtrapolatesItsLastTwoCaptionsAcrossMidnight) {
    trend::TrendBuffer buffer;
    buffer.trendDate.set(241, 46364);
    buffer.trendTime.set(241, 86395.0 / 86400);
    for (std::int16_t zoom : {1, 3}) {
        trend::TrendView view = liveView(zoom);
        const ChartPicture picture = trend::redrawSequence(buffer, view, 6000);
        const int seconds = 10 * zoom;
        EXPECT_EQ(picture.times[7], common::generalDateText((seconds - 5) / 86400.0)) << zoom;
        EXPECT_EQ(picture.dates[7], common::generalDateText(46365));
        EXPECT_EQ(picture.times[8], common::generalDateText((2 * seconds - 5) / 86400.0));
        EXPECT_EQ(picture.dates[8], common::generalDateText(46365));
    }
}

TEST(DrawTrend, AtZoomFourEveryCurveRisesFromTheBaselineAtTheLeftEdge) {
    trend::TrendBuffer buffer;
    for (int i = 1; i <= 322; ++i) {
        for (int c = 0; c < 11; ++c) {
            buffer.setValue(c, i, 3000.0F);
        }
    }
    trend::TrendView view = liveView(4);
    const ChartPicture picture = trend::redrawSequence(buffer, view, 6000);
    for (int c = 0; c < 11; ++c) {
        const auto lines = curve(picture, c);
        ASSERT_EQ(lines.size(), 240U) << c;
        EXPECT_EQ(lines.front().line, QLineF(0, 7508, 38, 7508 - 3750)) << c;
        EXPECT_EQ(lines.front().colour, kChannelColours.at(static_cast<std::size_t>(c)));
        EXPECT_EQ(lines.front().width, 2);
        EXPECT_EQ(lines.back().line.x2(), 9000) << "a live window ends at three quarters";
    }
}

TEST(DrawTrend, TheNewestStoredPointIsNotDrawn) {
    trend::TrendBuffer buffer;
    for (int i = 0; i <= 322; ++i) {
        buffer.setValue(0, i, static_cast<float>(i));
    }
    trend::TrendView view = liveView(1);
    view.viewEnd = 245;
    const ChartPicture picture = trend::redrawSequence(buffer, view, 7500);
    const auto lines = curve(picture, 0);
    ASSERT_EQ(lines.size(), 64U);
    EXPECT_EQ(lines.back().line, QLineF(9450, 7508 - 243, 9600, 7508 - 244));
}

TEST(DrawTrend, ScalesValuesToTheFullScaleAndKeepsTheLastScaleForZero) {
    trend::TrendBuffer buffer;
    buffer.setValue(0, 180, 0.0F);
    buffer.setValue(0, 181, 6000.0F);
    buffer.setValue(0, 182, 12000.0F);
    trend::TrendView view = liveView(1);
    ChartPicture picture = trend::redrawSequence(buffer, view, 6000);
    auto lines = curve(picture, 0);
    EXPECT_EQ(lines[0].line, QLineF(0, 7508, 150, 8));
    EXPECT_EQ(lines[1].line, QLineF(150, 8, 300, 7508 - 15000)) << "above the top, clipped later";

    picture = trend::redrawSequence(buffer, view, 0);
    lines = curve(picture, 0);
    EXPECT_EQ(lines[0].line, QLineF(0, 7508, 150, 8));
}

TEST(DrawTrend, SkipsASegmentWhoseEndDoesNotFitTheSurface) {
    trend::TrendBuffer buffer;
    buffer.setValue(3, 181, 1e30F);
    trend::TrendView view = liveView(1);
    const ChartPicture picture = trend::redrawSequence(buffer, view, 6000);
    const auto solid =
        std::count_if(picture.lines.begin(), picture.lines.end(),
                      [](const ChartLine& line) { return line.style == LineStyle::Solid; });
    EXPECT_EQ(solid, 60 * 11 - 2) << "both segments that meet at the huge value";
}

TEST(DrawTrend, MarksGapsWithDashedYellowLinesAtTheirPoint) {
    trend::TrendBuffer buffer;
    buffer.gapMark.set(1, 1);
    buffer.gapMark.set(100, 100);
    buffer.gapMark.set(242, 242);
    trend::TrendView view = liveView(4);
    const ChartPicture picture = trend::redrawSequence(buffer, view, 6000);
    const auto gaps = linesOf(picture, rgb(255, 255, 0), LineStyle::Dash);
    ASSERT_EQ(gaps.size(), 2U) << "point 242 lies past the live window's end";
    EXPECT_EQ(gaps[0].line, QLineF(37.5, 0, 37.5, 9000));
    EXPECT_EQ(gaps[1].line, QLineF(3750, 0, 3750, 9000));
}

TEST(DrawTrend, KeepsZoomInAndOutOnTheNewestLivePoint) {
    trend::TrendBuffer buffer;
    for (std::int16_t zoom : {4, 3, 2, 1, 2, 3, 4}) {
        trend::TrendView view = liveView(zoom);
        const ChartPicture picture = trend::redrawSequence(buffer, view, 6000);
        EXPECT_EQ(curve(picture, 0).back().line.x2(), 9000) << zoom;
        EXPECT_EQ(curve(picture, 0).size(), static_cast<std::size_t>(60 * zoom));
    }
}

} // namespace
