#include "monitor/LiveDisplay.h"

#include "common/NumberText.h"

namespace monitor {

namespace {
using common::rgb;
constexpr int kAxisSteps = 6;
} // namespace

const std::array<ReadingLayout, kReadingCount> kReadings = {{
    {0, "Uab", 2, rgb(255, 0, 0), 1110, 210, TextForm::Fixed},
    {1, "Ubc", 4, rgb(0, 0, 255), 3630, 210, TextForm::Fixed},
    {2, "Uca", 3, rgb(0, 128, 0), 6150, 210, TextForm::Fixed},
    {3, "IA", 5, rgb(192, 0, 0), 8670, 210, TextForm::Fixed},
    {4, "IB", 6, rgb(0, 0, 192), 11190, 210, TextForm::Fixed},
    {5, "IC", 7, rgb(0, 64, 0), 13710, 210, TextForm::Fixed},
    {6, "A相有功", 8, rgb(255, 0, 255), 1110, 570, TextForm::Fixed},
    {7, "B相有功", 9, rgb(255, 255, 0), 3630, 570, TextForm::Fixed},
    {8, "C相有功", 10, rgb(0, 0, 0), 6150, 570, TextForm::Fixed},
    {9, "合相有功", 11, rgb(255, 0, 0), 8670, 570, TextForm::Fixed},
    {10, "频率", 12, rgb(0, 0, 0), 11190, 570, TextForm::Fixed},
    {11, "变送一", 13, rgb(0, 0, 0), 13710, 570, TextForm::Fixed},
    {12, "变送二", 14, rgb(0, 0, 0), 1110, 930, TextForm::Fixed},
    {13, "变送三", 15, rgb(0, 0, 0), 3630, 930, TextForm::Fixed},
    {14, "三相电能", 16, rgb(0, 0, 0), 8670, 930, TextForm::General},
    {15, "C1累积次数", 17, rgb(0, 0, 0), 13710, 930, TextForm::General},
}};

QString axisCaption(std::int16_t yFullScale, int i) {
    // The sixth is held as a float and multiplied in single precision, so 1/6 of 1 times 3 is
    // exactly one half and rounds to 0.
    const auto sixth = static_cast<float>(static_cast<double>(yFullScale) / kAxisSteps);
    const float product = static_cast<float>(i + 1) * sixth;
    return common::integerText(static_cast<std::int64_t>(common::roundHalfEven(product)));
}

AlarmLook alarmLook(int alarm, std::int32_t coil) {
    const QString name = alarm == 0 ? QStringLiteral("报警一") : QStringLiteral("报警二");
    if (coil != 0) {
        return {name + QStringLiteral("ON"), kAlarmOnBackground};
    }
    return {name + QStringLiteral("OFF"), kAlarmOffBackground};
}

std::optional<QString> readingText(float value, TextForm form) {
    return form == TextForm::Fixed ? common::fixedForm(value) : common::generalForm(value);
}

QString clockDate(const QDateTime& now) {
    return now.date().toString(QStringLiteral("MM-dd-yyyy"));
}

QString clockTime(const QDateTime& now) { return now.time().toString(QStringLiteral("HH:mm:ss")); }

std::optional<std::int16_t> fullScaleFromEntry(const QString& entry) {
    const auto number = common::readNumber(entry);
    if (!number || *number > kFullScaleMax || *number < kFullScaleMin) {
        return std::nullopt;
    }
    return common::roundToInt16(*number);
}

} // namespace monitor
