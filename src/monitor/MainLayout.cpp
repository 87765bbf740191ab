#include "monitor/MainLayout.h"

#include "trend/TrendChart.h"

namespace monitor {

namespace {
constexpr int kFieldHeight = 285;
constexpr int kReadingCaptionWidth = 1020;
constexpr int kReadingCaptionGap = 30;
constexpr int kAxisLabelTops[] = {6390, 5160, 3900, 2670, 1440, 210};
constexpr int kChartLeft = 1620;
constexpr int kChartTop = 2310;
// The slider stands just above the chart's frame and is as wide as it.
constexpr int kSliderRise = 315;
constexpr int kSliderHeight = 300;
constexpr int kTimeCaptionTop = kChartTop + trend::kFrameHeight + 15;
constexpr int kTimeCaptionStep = 1500;
constexpr int kTimeCaptionWidth = 1200;
constexpr int kTimeCaptionHeight = 240;
constexpr int kButtonWidth = 1095;
constexpr int kButtonHeight = 405;
constexpr int kFunctionButtonLeft = 150;
constexpr int kFunctionButtonTop = 330;
constexpr int kFunctionButtonPitch = 1110;
constexpr int kCommandButtonTop = 180;

QRect timeCaption(int i, int top) {
    const int centre = kChartLeft + kTimeCaptionStep * i;
    return {centre - kTimeCaptionWidth / 2, top, kTimeCaptionWidth, kTimeCaptionHeight};
}
} // namespace

int mainWindowWidth() { return 15360; }
int mainWindowHeight() { return 11520; }

QRect readingsBand() { return {-30, 630, 15315, 1335}; }

QRect readingValue(const ReadingLayout& reading) {
    const int width = reading.index == 14 ? kWideReadingWidth : kReadingWidth;
    return {reading.left, reading.top, width, kReadingHeight};
}

QRect readingCaption(const ReadingLayout& reading) {
    return {reading.left - kReadingCaptionWidth - kReadingCaptionGap, reading.top,
            kReadingCaptionWidth, kReadingHeight};
}

QRect axisColumn() { return {60, 2010, 1275, 7845}; }

QRect axisLabel(int i) {
    const int top = i >= 0 && i < 6 ? kAxisLabelTops[i] : kAxisLabelTops[0];
    return {90, top, 1080, kFieldHeight};
}

QRect fullScaleCaption() { return {90, 660, 495, 225}; }
QRect fullScaleEntry() { return {540, 630, 615, kFieldHeight}; }
QRect fullScaleButton() { return {120, 990, 1065, 315}; }

QRect chartFrame() { return {kChartLeft, kChartTop, trend::kFrameWidth, trend::kFrameHeight}; }
QRect chartSurface() { return {0, 0, trend::kSurfaceWidth, trend::kSurfaceHeight}; }

QRect rulerSlider() {
    return {kChartLeft, kChartTop - kSliderRise, trend::kFrameWidth, kSliderHeight};
}

QRect timeCaptionDate(int i) { return timeCaption(i, kTimeCaptionTop); }
QRect timeCaptionTime(int i) { return timeCaption(i, kTimeCaptionTop + kTimeCaptionHeight); }

QRect functionColumn() { return {13920, 2130, 1395, 7695}; }

QRect functionButton(int row) {
    return {kFunctionButtonLeft, kFunctionButtonTop + row * kFunctionButtonPitch, kButtonWidth,
            kButtonHeight};
}

QRect commandBar() { return {5670, 10680, 9525, 705}; }
QRect configButton() { return {180, kCommandButtonTop, kButtonWidth, kButtonHeight}; }
QRect exitButton() { return {8250, kCommandButtonTop, kButtonWidth, kButtonHeight}; }

QRect clockDateField() { return {12750, 30, 1245, kFieldHeight}; }
QRect clockTimeField() { return {14010, 30, 1305, kFieldHeight}; }
QRect modelCaption() { return {13800, 390, 570, kFieldHeight}; }
QRect modelValue() { return {14400, 390, 750, kFieldHeight}; }
QRect alarmField(int alarm) { return {alarm == 0 ? 210 : 1320, 10830, 1005, kFieldHeight}; }
QRect alarmCaption() { return {210, 11145, 2115, 255}; }

} // namespace monitor
