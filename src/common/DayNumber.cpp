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

QDateTime momentOf(double dayNumber) {
    const double day = std::floor(dayNumber);
    return {dateFromSerial(day), timeFromSerial(dayNumber - day)};
}

double dayNumberAt(const QDateTime& moment) {
    return dateSerial(moment.date()) + timeSerial(moment.time());
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

namespace {
std::function<QDateTime()>& clockSource() {
    static std::function<QDateTime()> source;
    return source;
}
} // namespace

QDateTime clockNow() {
    const QDateTime now = clockSource() ? clockSource()() : QDateTime::currentDateTime();
    return now.addMSecs(-now.time().msec());
}

void setClock(std::function<QDateTime()> clock) { clockSource() = std::move(clock); }

std::optional<double> dayNumberOf(const QVariant& value) {
    if (value.isNull() || !value.isValid()) {
        return std::nullopt;
    }
    switch (value.typeId()) {
    case QMetaType::QDateTime: {
        const QDateTime at = value.toDateTime();
        if (!at.isValid()) {
            return std::nullopt;
        }
        return dateSerial(at.date()) + timeSerial(at.time());
    }
    case QMetaType::QDate:
        return value.toDate().isValid() ? std::optional(dateSerial(value.toDate())) : std::nullopt;
    case QMetaType::QTime:
        return value.toTime().isValid() ? std::optional(timeSerial(value.toTime())) : std::nullopt;
    case QMetaType::QString:
    case QMetaType::QByteArray: {
        const QString text = value.toString().trimmed();
        bool ok = false;
        const double number = text.toDouble(&ok);
        if (ok) {
            return std::isfinite(number) ? std::optional(number) : std::nullopt;
        }
        // Date/time texts as other tools store them: ISO with a blank or a T, or the short forms.
        for (const char* form :
             {"yyyy-MM-dd HH:mm:ss", "yyyy-MM-ddTHH:mm:ss", "yyyy/MM/dd HH:mm:ss",
              "yyyy-MM-dd HH:mm:ss.zzz", "yyyy-MM-ddTHH:mm:ss.zzz"}) {
            const QDateTime at = QDateTime::fromString(text, QString::fromLatin1(form));
            if (at.isValid()) {
                return dateSerial(at.date()) + timeSerial(at.time());
            }
        }
        for (const char* form : {"yyyy-MM-dd", "yyyy/MM/dd"}) {
            const QDate date = QDate::fromString(text, QString::fromLatin1(form));
            if (date.isValid()) {
                return dateSerial(date);
            }
        }
        for (const char* form : {"HH:mm:ss", "H:mm:ss"}) {
            const QTime time = QTime::fromString(text, QString::fromLatin1(form));
            if (time.isValid()) {
                return timeSerial(time);
            }
        }
        return std::nullopt;
    }
    default: {
        bool ok = false;
        const double number = value.toDouble(&ok);
        if (!ok || !std::isfinite(number)) {
            return std::nullopt;
        }
        return number;
    }
    }
}

} // namespace common
