#include "trend/TrendNavigation.h"
#include "common/DayNumber.h"
#include "trend/MomentSelection.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

using trend::NavigationRequests;
using trend::TrendView;

namespace {

TrendView liveAt(std::int32_t newestRecord) {
    TrendView view;
    view.newestRecord = newestRecord;
    view.windowEnd = newestRecord;
    view.windowLength = 241;
    view.viewEnd = 241;
    trend::applyZoom(view);
    return view;
}

TEST(StepBack, FromRecord1000SevenStepsEndAt580AndTheTwelfthBlocks) {
    TrendView view = liveAt(1000);
    for (int step = 1; step <= 7; ++step) {
        const NavigationRequests requests = trend::stepBack(view);
        ASSERT_TRUE(requests.reload && requests.redraw) << step;
        EXPECT_EQ(requests.displayRunning, false);
        EXPECT_EQ(requests.stepForwardEnabled, true);
    }
    EXPECT_EQ(view.windowEnd, 580);
    EXPECT_EQ(view.windowLength, 321);
    EXPECT_EQ(view.viewEnd, 321);
    for (int step = 8; step <= 11; ++step) {
        trend::stepBack(view);
    }
    EXPECT_EQ(view.windowEnd, 340);

    const NavigationRequests blocked = trend::stepBack(view);
    EXPECT_FALSE(blocked.reload);
    EXPECT_FALSE(blocked.redraw);
    EXPECT_EQ(blocked.stepBackEnabled, false);
    EXPECT_TRUE(view.atOldest);
    EXPECT_EQ(view.scrollSteps, 12);
    EXPECT_EQ(view.windowEnd, 340);
    EXPECT_EQ(trend::rulerEndStep(view, trend::kRulerLeftEnd), trend::RulerEndStep::None);

    const NavigationRequests forward = trend::stepForward(view, {});
    EXPECT_TRUE(forward.reload && forward.redraw);
    EXPECT_EQ(view.scrollSteps, 11);
    EXPECT_EQ(view.windowEnd, 340);
    EXPECT_EQ(forward.stepBackEnabled, true);
    EXPECT_FALSE(view.atOldest);
    EXPECT_FALSE(forward.displayRunning);
}

TEST(StepBack, NearTheStartOfTheRingBlocksAtOnceWithoutAReload) {
    TrendView view = liveAt(100);
    const NavigationRequests requests = trend::stepBack(view);
    EXPECT_FALSE(requests.reload);
    EXPECT_FALSE(requests.redraw);
    EXPECT_EQ(requests.displayRunning, false);
    EXPECT_EQ(requests.stepBackEnabled, false);
    EXPECT_TRUE(view.atOldest);
    EXPECT_EQ(view.windowEnd, 100);
    EXPECT_EQ(view.viewEnd, 241) << "the chart keeps its live window";
}

TEST(StepBack, JustAfterTheWrapRunsThroughTheOlderPartOfTheRing) {
    TrendView view = liveAt(30);
    for (int step = 1; step <= 100; ++step) {
        const NavigationRequests requests = trend::stepBack(view);
        ASSERT_TRUE(requests.reload) << step;
        ASSERT_EQ(view.windowEnd, 65500 - (60 * step - 30)) << step;
    }
    EXPECT_FALSE(view.atOldest);
}

TEST(StepBack, ExactlyOneStepPerNewestRecordKeepsTheWindowEnd) {
    TrendView view = liveAt(60);
    trend::stepBack(view);
    EXPECT_EQ(view.windowEnd, 60);
    trend::stepBack(view);
    EXPECT_EQ(view.windowEnd, 65440);
}

TEST(StepBack, StopsMovingTheWindowOnceSixtyStepsOverflowSixteenBits) {
    TrendView view = liveAt(30);
    for (int step = 1; step <= 546; ++step) {
        trend::stepBack(view);
    }
    EXPECT_EQ(view.windowEnd, 65500 - (32760 - 30));
    const NavigationRequests requests = trend::stepBack(view);
    EXPECT_EQ(view.scrollSteps, 547);
    EXPECT_EQ(view.windowEnd, 32770);
    EXPECT_TRUE(requests.reload);
    EXPECT_FALSE(view.atOldest);
    trend::stepForward(view, {});
    EXPECT_EQ(view.windowEnd, 32770);
    trend::stepForward(view, {});
    EXPECT_EQ(view.windowEnd, 65500 - (32700 - 30));
}

/// Record number `behind` records before the newest, in ring order.
std::int32_t ringBehind(std::int32_t newest, std::int32_t behind) {
    return ((newest - 1 - behind) % 65500 + 65500) % 65500 + 1;
}

TEST(StepBack, OnAWrappedRingReachesTheOldestSnapshotInOverAThousandStepsAndBlocksThere) {
    for (const std::int32_t newest : {1000, 100, 65500}) {
        TrendView view = liveAt(newest);
        view.ringWrapped = true;
        for (int step = 1; step <= 1086; ++step) {
            const NavigationRequests requests = trend::stepBack(view);
            ASSERT_TRUE(requests.reload && requests.redraw) << newest << " " << step;
            ASSERT_EQ(view.windowEnd, ringBehind(newest, 60 * step)) << newest << " " << step;
            ASSERT_FALSE(view.atOldest) << newest << " " << step;
        }
        // The next step shows the window whose first point is the oldest snapshot.
        const NavigationRequests last = trend::stepBack(view);
        EXPECT_TRUE(last.reload && last.redraw);
        EXPECT_EQ(view.windowEnd, ringBehind(newest + 1, -320)) << newest;
        EXPECT_TRUE(view.atOldest);
        EXPECT_EQ(last.stepBackEnabled, false);
        EXPECT_EQ(trend::rulerEndStep(view, trend::kRulerLeftEnd), trend::RulerEndStep::None);

        const NavigationRequests forward = trend::stepForward(view, {});
        EXPECT_EQ(view.windowEnd, ringBehind(newest, 60 * 1086));
        EXPECT_EQ(forward.stepBackEnabled, true);
        EXPECT_FALSE(view.atOldest);
    }
}

TEST(StepBack, AWrapLearnedOnTheReturnToLiveCountsForTheNextSteps) {
    TrendView view = liveAt(1000);
    trend::stepBack(view);
    trend::stepForward(view, [] { return trend::NewestRecord{1000, true}; });
    EXPECT_TRUE(view.ringWrapped);
    for (int step = 1; step <= 12; ++step) {
        trend::stepBack(view);
    }
    EXPECT_FALSE(view.atOldest);
    EXPECT_EQ(view.windowEnd, 280);
}

TEST(StepForward, TheLastStepReadsTheNewestRecordAndGoesLive) {
    TrendView view = liveAt(1000);
    trend::stepBack(view);
    trend::stepBack(view);
    const NavigationRequests back =
        trend::stepForward(view, [] { return trend::NewestRecord{2000}; });
    EXPECT_EQ(view.windowEnd, 940) << "history keeps the newest record of the last live entry";
    EXPECT_FALSE(back.displayRunning);

    const NavigationRequests live =
        trend::stepForward(view, [] { return trend::NewestRecord{1130}; });
    EXPECT_EQ(view.scrollSteps, 0);
    EXPECT_EQ(view.newestRecord, 1130);
    EXPECT_EQ(view.windowEnd, 1130);
    EXPECT_EQ(view.windowLength, 241);
    EXPECT_EQ(view.viewEnd, 241);
    EXPECT_TRUE(live.reload && live.redraw);
    EXPECT_EQ(live.stepForwardEnabled, false);
    EXPECT_EQ(live.displayRunning, true);
    EXPECT_FALSE(live.stepBackEnabled);
}

TEST(StepForward, AControlRowThatCannotBeReadKeepsTheLastNewestRecord) {
    TrendView view = liveAt(1000);
    trend::stepBack(view);
    trend::stepForward(view, [] { return std::optional<trend::NewestRecord>(); });
    EXPECT_EQ(view.windowEnd, 1000);
}

TEST(LiveExtension, RenewsTheBufferTwentyPointsPerZoomLevelPastTheLiveWindow) {
    trend::TrendBuffer buffer;
    for (int level = 1; level <= 4; ++level) {
        TrendView view = liveAt(1000);
        view.zoomLevel = static_cast<std::int16_t>(level);
        buffer.setValue(0, 100, 5.0F);
        int grown = 0;
        NavigationRequests requests;
        do {
            requests =
                trend::extendLive(view, buffer, {}, [] { return trend::NewestRecord{1234}; });
            ++grown;
        } while (!requests.reload && grown < 100);
        EXPECT_EQ(grown, 20 * level) << "level " << level;
        EXPECT_TRUE(requests.redraw);
        EXPECT_EQ(buffer.value(0, 100), 0.0F) << "the old points are cleared";
        EXPECT_EQ(view.newestRecord, 1234);
        EXPECT_EQ(view.windowEnd, 1234);
        EXPECT_EQ(view.windowLength, 241);
        EXPECT_EQ(view.viewEnd, 241) << "the new point lands at the live end";
    }
}

TEST(LiveExtension, AZoomThatMovedTheRenewalPointBehindTheEndRenewsAtOnce) {
    trend::TrendBuffer buffer;
    TrendView view = liveAt(1000);
    view.zoomLevel = 4;
    view.viewEnd = 241 + 70;
    view.zoomLevel = 1;
    const NavigationRequests requests =
        trend::extendLive(view, buffer, {}, [] { return trend::NewestRecord{1071}; });
    EXPECT_TRUE(requests.reload);
    EXPECT_EQ(view.viewEnd, 241);

    view.viewEnd = 250;
    EXPECT_FALSE(trend::extendLive(view, buffer, {}, {}).reload) << "below the renewal point";
    EXPECT_EQ(view.viewEnd, 251);
}

TEST(LiveExtension, SetsTheNewPointAtTheLiveEndWithItsMomentAfterAnyRenewal) {
    trend::TrendBuffer buffer;
    TrendView view = liveAt(1000);
    trend::LivePoint point{{}, QDateTime(QDate(2026, 12, 9), QTime(6, 30, 15))};
    point.values[0] = 381.5F;
    point.values[10] = 50.02F;
    const NavigationRequests requests = trend::extendLive(view, buffer, point, {});
    ASSERT_TRUE(requests.livePoint);
    EXPECT_TRUE(requests.redraw);
    EXPECT_FALSE(requests.reload);
    buffer.setValue(1, 242, 7.0F);
    trend::setLivePoint(view, buffer, *requests.livePoint);
    EXPECT_EQ(buffer.value(0, 242), 381.5F);
    EXPECT_EQ(buffer.value(10, 242), 50.02F);
    EXPECT_EQ(buffer.value(1, 242), 7.0F) << "an absent value leaves the point as it was";
    EXPECT_EQ(buffer.trendDate.value(242), common::dateSerial(QDate(2026, 12, 9)));
    EXPECT_EQ(buffer.trendTime.value(242), common::timeSerial(QTime(6, 30, 15)));
}

TEST(ViewAtLoad, StartsLiveOnTheNewestRecordAtTheClosestZoomWithTheRulerOffAndNoGaps) {
    trend::TrendBuffer buffer;
    for (int i = 0; i <= 322; ++i) {
        buffer.gapMark.set(i, 7);
    }
    // Whatever the view held before, the load starts it afresh.
    TrendView view = liveAt(1000);
    view.zoomLevel = 3;
    view.scrollSteps = 5;
    view.atOldest = true;
    view.rulerOn = true;
    view.windowLength = 321;
    view.viewEnd = 321;
    TrendView expected = view;
    expected.zoomLevel = 1;
    expected.scrollSteps = 0;
    expected.atOldest = false;
    expected.rulerOn = false;
    expected.newestRecord = 1234;
    expected.ringWrapped = true;
    expected.windowEnd = 1234;
    expected.windowLength = 241;
    expected.viewEnd = 241;
    const NavigationRequests load = trend::viewAtLoad(view, buffer, [] {
        return trend::NewestRecord{1234, true};
    });
    EXPECT_TRUE(view == expected);
    // Only "F2 放大" and "F6 左移" are disabled; the slider rests at 0, disabled and out of the
    // tab order, under the ruler-off line; the live window is loaded, drawn and kept live.
    NavigationRequests askedLoad;
    askedLoad.sliderValue = 0;
    askedLoad.sliderOutOfTabOrder = true;
    askedLoad.rulerLine = trend::rulerLineOff();
    askedLoad.sliderEnabled = false;
    askedLoad.zoomInEnabled = false;
    askedLoad.stepForwardEnabled = false;
    askedLoad.reload = true;
    askedLoad.redraw = true;
    askedLoad.displayRunning = true;
    EXPECT_TRUE(load == askedLoad);
    for (const int i : {0, 1, 321, 322}) {
        EXPECT_EQ(buffer.gapMark.value(i), i >= 1 && i <= 321 ? 0 : 7) << i;
    }
}

TEST(ViewAtLoad, WithoutANewestRecordStartsOnTheOneItHad) {
    trend::TrendBuffer buffer;
    TrendView view;
    trend::viewAtLoad(view, buffer, [] { return std::optional<trend::NewestRecord>(); });
    EXPECT_EQ(view.newestRecord, 0);
    EXPECT_EQ(view.windowEnd, 0);
}

TEST(Jump, LoadsItsOwnLengthOnceAndTheViewKeepsItsLength) {
    TrendView view = liveAt(5000);
    view.windowLength = 321;
    trend::Jump jump;
    jump.loadLength = 241;
    jump.requests.stepBackEnabled = true;
    const NavigationRequests requests = trend::jumpRequests(jump);
    EXPECT_EQ(requests.stepBackEnabled, true);
    std::vector<std::int32_t> loads;
    const auto load = [&] { loads.push_back(view.windowLength); };
    trend::reloadWindow(view, requests, load);
    EXPECT_EQ(loads, std::vector<std::int32_t>{241});
    EXPECT_EQ(view.windowLength, 321);
    // No reload asked: nothing loads; a reload without a length loads the view's own.
    trend::reloadWindow(view, NavigationRequests{}, load);
    NavigationRequests own;
    own.reload = true;
    trend::reloadWindow(view, own, load);
    EXPECT_EQ(loads, (std::vector<std::int32_t>{241, 321}));
}

TEST(Zoom, EnablesEachWayOnlyWhereTheLevelsAllowAndMatchesTheSliderSteps) {
    TrendView view = liveAt(1000);
    const int steps[] = {0, 150, 75, 50, 38};
    for (std::int16_t level = 2; level <= 4; ++level) {
        const NavigationRequests requests = trend::zoomOut(view);
        EXPECT_EQ(view.zoomLevel, level);
        EXPECT_EQ(requests.zoomInEnabled, true);
        EXPECT_EQ(requests.zoomOutEnabled,
                  level == 4 ? std::optional<bool>(false) : std::optional<bool>());
        EXPECT_EQ(requests.sliderStep, steps[level]);
        EXPECT_TRUE(requests.redraw);
        EXPECT_FALSE(requests.reload);
    }
    for (std::int16_t level = 3; level >= 1; --level) {
        const NavigationRequests requests = trend::zoomIn(view);
        EXPECT_EQ(view.zoomLevel, level);
        EXPECT_EQ(requests.zoomOutEnabled, true);
        EXPECT_EQ(requests.zoomInEnabled,
                  level == 1 ? std::optional<bool>(false) : std::optional<bool>());
        EXPECT_EQ(requests.sliderStep, steps[level]);
    }
    EXPECT_EQ(view.windowEnd, 1000);
}

TEST(Ruler, ItsEndsStepBackAndForwardOnlyWhereTheyMay) {
    TrendView view = liveAt(1000);
    EXPECT_EQ(trend::rulerEndStep(view, -1), trend::RulerEndStep::Back);
    EXPECT_EQ(trend::rulerEndStep(view, 12001), trend::RulerEndStep::None);
    EXPECT_EQ(trend::rulerEndStep(view, 0), trend::RulerEndStep::None);
    trend::stepBack(view);
    ASSERT_EQ(trend::rulerEndStep(view, 12001), trend::RulerEndStep::Forward);
    // The ruler stays on; the step forward brings the chart and the display back to live.
    view.rulerOn = true;
    const NavigationRequests requests =
        trend::stepForward(view, [] { return trend::NewestRecord{1000}; });
    EXPECT_EQ(requests.displayRunning, true);
    EXPECT_EQ(view.windowLength, 241);
}

TEST(Ruler, OnStopsTheDisplayInPlaceAndOffReturnsToTheNewestLiveWindow) {
    TrendView view = liveAt(1000);
    trend::stepBack(view);
    TrendView expected = view;
    const NavigationRequests on = trend::switchRuler(view, [] { return trend::NewestRecord{2}; });
    // The ruler reads the window the chart shows.
    expected.rulerOn = true;
    EXPECT_TRUE(view == expected);
    NavigationRequests askedOn;
    askedOn.sliderValue = 0;
    askedOn.rulerLine = trend::rulerLineOn();
    askedOn.sliderEnabled = true;
    askedOn.focus = trend::RulerFocus::Slider;
    askedOn.rulerCaption = QStringLiteral("F4 复原");
    askedOn.displayRunning = false;
    EXPECT_TRUE(on == askedOn);

    const NavigationRequests off =
        trend::switchRuler(view, [] { return trend::NewestRecord{1100}; });
    // Live again on the newest record; the steps and the step buttons stay as they were.
    expected.rulerOn = false;
    expected.newestRecord = 1100;
    expected.windowEnd = 1100;
    expected.windowLength = 241;
    expected.viewEnd = 241;
    EXPECT_TRUE(view == expected);
    NavigationRequests askedOff;
    askedOff.sliderValue = 0;
    askedOff.sliderOutOfTabOrder = true;
    askedOff.rulerLine = trend::rulerLineOff();
    askedOff.sliderEnabled = false;
    askedOff.focus = trend::RulerFocus::RulerButton;
    askedOff.rulerCaption = QStringLiteral("F4 标尺");
    askedOff.reload = true;
    askedOff.redraw = true;
    askedOff.displayRunning = true;
    EXPECT_TRUE(off == askedOff);
}

TEST(Ruler, PicksThePointNearestToItRoundingHalvesToEven) {
    TrendView view = liveAt(1000);
    struct Row {
        std::int16_t zoom;
        int position;
        int index;
    };
    const Row rows[] = {{1, 0, 180},     {1, 75, 180}, {1, 225, 182}, {1, 9000, 240},
                        {1, 12001, 260}, {1, -1, 180}, {4, -1, 0},    {4, 37, 1},
                        {4, 12001, 320}, {3, 125, 62}, {2, 112, 121}};
    for (const Row& row : rows) {
        view.zoomLevel = row.zoom;
        trend::applyZoom(view);
        EXPECT_EQ(trend::rulerIndex(view, row.position), row.index)
            << row.zoom << " " << row.position;
    }
}

TEST(Ruler, StandsOverABufferPointAndStaysOnTheChart) {
    TrendView view = liveAt(1000);
    EXPECT_EQ(trend::rulerPositionOf(view, 201), 3150);
    EXPECT_EQ(trend::rulerPositionOf(view, 10), 0);
    EXPECT_EQ(trend::rulerPositionOf(view, 320), 12000);
    view.zoomLevel = 4;
    trend::applyZoom(view);
    EXPECT_EQ(trend::rulerPositionOf(view, 1), 38);
    EXPECT_EQ(trend::rulerIndex(view, trend::rulerPositionOf(view, 123)), 123);
}

TEST(Ruler, ReadsThePointInTheGeneralForms) {
    trend::TrendBuffer buffer;
    buffer.trendDate.set(200, common::dateSerial(QDate(2026, 12, 8)));
    buffer.trendTime.set(200, common::timeSerial(QTime(3, 12, 5)));
    buffer.setValue(0, 200, 380.125F);
    buffer.setValue(10, 200, 50.0F);
    buffer.setValue(9, 200, 12345678.0F);
    const trend::RulerReadOut readOut = trend::rulerReadOut(buffer, 200);
    EXPECT_EQ(readOut.date, QStringLiteral("2026/12/08"));
    EXPECT_EQ(readOut.time, QStringLiteral("03:12:05"));
    EXPECT_EQ(readOut.values[0], QStringLiteral("380.125"));
    EXPECT_EQ(readOut.values[10], QStringLiteral("50"));
    EXPECT_EQ(readOut.values[9], QStringLiteral("1.234568E+07"));
    EXPECT_EQ(readOut.values[1], QStringLiteral("0"));
    // Not a number: an empty label, never the value an earlier point left there.
    buffer.setValue(2, 200, std::numeric_limits<float>::quiet_NaN());
    buffer.setValue(3, 200, std::numeric_limits<float>::infinity());
    const trend::RulerReadOut blank = trend::rulerReadOut(buffer, 200);
    EXPECT_EQ(blank.values[2], QString());
    EXPECT_EQ(blank.values[3], QString());
    const trend::RulerReadOut outside = trend::rulerReadOut(buffer, 323);
    EXPECT_FALSE(outside.date);
    EXPECT_FALSE(outside.values[0]);
}

TEST(Ruler, ItsLineLooksAsItIsSwitchedAndMoved) {
    TrendView view = liveAt(1000);
    const auto on = trend::switchRuler(view, {}).rulerLine;
    const auto off = trend::switchRuler(view, {}).rulerLine;
    struct Row {
        const char* state;
        std::optional<trend::ChartLine> line;
        QLineF at;
        common::Rgb colour;
    };
    const Row rows[] = {
        {"on", on, QLineF(1, 0, 1, 330), common::rgb(255, 255, 0)},
        {"moved", trend::rulerLineAt(4500), QLineF(4500, 0, 4500, 7500), common::rgb(192, 0, 192)},
        {"off", off, QLineF(0, 0, 0, 330), common::rgb(0, 255, 0)}};
    for (const Row& row : rows) {
        EXPECT_EQ(row.line, (trend::ChartLine{row.at, row.colour, 2, trend::LineStyle::Solid}))
            << row.state;
    }
}

} // namespace
