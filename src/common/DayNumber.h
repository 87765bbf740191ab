#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>
#include <QVariant>

#include <functional>
#include <optional>

namespace common {

/// Whole days since 30 December 1899.
double dateSerial(QDate date);

/// Fraction of a day for a time of day, whole seconds only.
double timeSerial(QTime time);

/// Inverse of dateSerial for the whole-day part; invalid QDate for values out of range or NaN.
QDate dateFromSerial(double serial);

/// Time of day of the fractional part, rounded to the nearest second.
QTime timeFromSerial(double serial);

/// The wall-clock moment of a day number (date plus time of day), and back.
QDateTime momentOf(double dayNumber);
double dayNumberAt(const QDateTime& moment);

/// The general date form: a whole-day value shows the date alone ("yyyy/MM/dd"), a value below one
/// day the time alone ("HH:mm:ss"), any other value both, separated by a blank.
QString generalDateText(double serial);

/// The clock read at one-second resolution. Every reader of the clock (recorder, live trend, clock
/// display) goes through it, so one replacement moves them all together.
QDateTime clockNow();

/// Replaces the clock behind clockNow (tests step it); an empty function restores the system clock.
void setClock(std::function<QDateTime()> clock);

/// A date and time of day as one day number (whole days plus the fraction of the day); empty for
/// values that name no instant. Numbers pass through, so stored day numbers and date/time texts
/// both read.
std::optional<double> dayNumberOf(const QVariant& value);

} // namespace common
