#include "monitor/LiveDisplay.h"

#include "common/NumberText.h"

namespace monitor {

namespace {
using common::rgb;
constexpr int kAxisSteps = 6;
} // namespace

const std::array<ReadingLayout, kReadingCount> kReadings = {{
    {0, 2, rgb(255, 0, 0), 1110, 210},
    {1, 4, rgb(0, 0, 255), 3630, 210},
    {2, 3, rgb(0, 128, 0), 6150, 210},
    {3, 5, rgb(192, 0, 0), 8670, 210},
    {4, 6, rgb(0, 0, 192), 11190, 210},
    {5, 7, rgb(0, 64, 0), 13710, 210},
    {6, 8, rgb(255, 0, 255), 1110, 570},
    {7, 9, rgb(255, 255, 0), 3630, 570},
    {8, 10, rgb(0, 0, 0), 6150, 570},
    {9, 11, rgb(255, 0, 0), 8670, 570},
    {10, 12, rgb(0, 0, 0), 11190, 570},
    {11, 13, rgb(0, 0, 0), 13710, 570},
    {12, 14, rgb(0, 0, 0), 1110, 930},
    {13, 15, rgb(0, 0, 0), 3630, 930},
    {14, 16, rgb(0, 0, 0), 8670, 930},
    {15, 17, rgb(0, 0, 0), 13710, 930},
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
