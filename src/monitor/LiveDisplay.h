#pragma once

#include "common/Colour.h"
#include "common/ReadingCatalogue.h"

#include <QDateTime>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

namespace monitor {

using common::kReadingCount;
using common::readingText;
using common::TextForm;

/// Where one reading of the catalogue stands in the readings band, and its caption's look.
struct ReadingLayout {
    int index;        ///< D_3W index, also the LiveVal slot it shows
    int captionIndex; ///< Label1 index of the caption
    common::Rgb captionColour;
    int left; ///< twips within the readings band
    int top;
    [[nodiscard]] const common::Reading& reading() const { return common::kReadingCatalogue.at(index); }
};

inline constexpr int kReadingWidth = 1500;
inline constexpr int kWideReadingWidth = 4050;
inline constexpr int kReadingHeight = 285;

extern const std::array<ReadingLayout, kReadingCount> kReadings;

inline constexpr common::Rgb kReadingBackground = common::rgb(255, 192, 255);
inline constexpr common::Rgb kClockBackground = common::rgb(128, 255, 128);
inline constexpr common::Rgb kAlarmOnBackground = common::rgb(255, 192, 192);
inline constexpr common::Rgb kAlarmOffBackground = common::rgb(192, 255, 255);
inline constexpr common::Rgb kAlarmCaptionColour = common::rgb(255, 0, 255);
inline constexpr int kRulerMarkedReadings = 11; ///< D_3W 0..10 follow the ruler

/// Caption i (0 = bottom, 5 = top) of the value axis for a full scale.
QString axisCaption(std::int16_t yFullScale, int i);

/// Text and background of an alarm label (alarm 0 or 1) for a relay state.
struct AlarmLook {
    QString text;
    common::Rgb background;
};
AlarmLook alarmLook(int alarm, std::int32_t coil);

/// The clock's date "mm-dd-yyyy" and time "hh:mm:ss", whatever the regional settings.
QString clockDate(const QDateTime& now);
QString clockTime(const QDateTime& now);

inline constexpr int kFullScaleMin = 1;
inline constexpr int kFullScaleMax = 12000;

/// The full scale an entry of the full-scale editor applies, or empty when it is refused.
std::optional<std::int16_t> fullScaleFromEntry(const QString& entry);

} // namespace monitor
