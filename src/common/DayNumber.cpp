#include "common/DayNumber.h"

#include "common/NumberText.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace common {

namespace {

constexpr int kSecondsPerDay = 86400;
// Day numbers of 0100-01-01 and 9999-12-31, the range a day number may name.
constexpr double kFirstDay = -657434.0;
constexpr double kLastDay = 2958465.0;

QDate dayZero() { return {1899, 12, 30}; }

bool inRange(double serial) {
    return std::isfinite(serial) && std::trunc(serial) >= kFirstDay &&
           std::trunc(serial) <= kLastDay;
}

/// Seconds into the day of the fractional part; the fraction counts forward from midnight even
/// for days before day zero, and a value that rounds up to midnight stays on its own day.
int secondOfDay(double serial) {
    const double fraction = std::fabs(serial - std::trunc(serial));
    const double seconds = roundHalfEven(fraction * kSecondsPerDay);
    return std::min(static_cast<int>(seconds), kSecondsPerDay - 1);
}

} // namespace

double dateSerial(QDate date) {
    if (!date.isValid()) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    return static_cast<double>(dayZero().daysTo(date));
}

double timeSerial(QTime time) {
    if (!time.isValid()) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    // The clock counts whole seconds.
    const int seconds = time.msecsSinceStartOfDay() / 1000;
    return static_cast<double>(seconds) / kSecondsPerDay;
}

QDate dateFromSerial(double serial) {
    if (!inRange(serial)) {
        return {};
    }
    return dayZero().addDays(static_cast<qint64>(std::trunc(serial)));
}

QTime timeFromSerial(double serial) {
    if (!inRange(serial)) {
        return {};
    }
    return QTime::fromMSecsSinceStartOfDay(secondOfDay(serial) * 1000);
}

QString generalDateText(double serial) {
    if (!inRange(serial)) {
        return {};
    }
    const QDate date = dateFromSerial(serial);
    const QTime time = timeFromSerial(serial);
    QString timeText = time.toString(QStringLiteral("HH:mm:ss"));
    if (std::trunc(serial) == 0.0) {
        return timeText;
    }
    QString dateText = date.toString(QStringLiteral("yyyy/MM/dd"));
    if (secondOfDay(serial) == 0) {
        return dateText;
    }
    return dateText + u' ' + timeText;
}

QDateTime clockNow() {
    const QDateTime now = QDateTime::currentDateTime();
    return now.addMSecs(-now.time().msec());
}

} // namespace common
