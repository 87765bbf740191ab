#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>

namespace common {

/// Whole days since 30 December 1899.
double dateSerial(QDate date);

/// Fraction of a day for a time of day, whole seconds only.
double timeSerial(QTime time);

/// Inverse of dateSerial for the whole-day part; invalid QDate for values out of range or NaN.
QDate dateFromSerial(double serial);

/// Time of day of the fractional part, rounded to the nearest second.
QTime timeFromSerial(double serial);

/// The general date form: a whole-day value shows the date alone ("yyyy/MM/dd"), a value below one
/// day the time alone ("HH:mm:ss"), any other value both, separated by a blank.
QString generalDateText(double serial);

/// The clock read at one-second resolution.
QDateTime clockNow();

} // namespace common
