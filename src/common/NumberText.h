#pragma once

#include <QString>
#include <QStringView>
#include <QVariant>

#include <cstdint>
#include <optional>

namespace common {

/// Reads the number at the start of operator text. Blanks, tabs and line feeds are skipped wherever
/// they stand; a sign, a decimal point and an exponent (E) are allowed; "&H" and "&O" introduce
/// hexadecimal and octal whole numbers. Reading stops at the first character that cannot continue
/// the number. A text that does not start with a number reads as 0. Empty when the number does not
/// fit a double (the step that needed it is then skipped).
std::optional<double> readNumber(QStringView text);

/// Nearest whole number, halves to the even neighbour (2.5 -> 2, 3.5 -> 4, -2.5 -> -2).
double roundHalfEven(double value);

/// roundHalfEven, then the checked conversion: empty when NaN or outside the target type.
std::optional<std::int32_t> roundToInt32(double value);
std::optional<std::int16_t> roundToInt16(double value);

/// "0000.0000": at least four integer digits, exactly four decimals, minus sign in front of
/// negative values, also those that round to zero ("-0000.0000"). Rounds the exact value of the
/// float. Empty for NaN and infinities.
std::optional<QString> fixedForm(float value);

/// Shortest text of a float with at most seven significant digits, no trailing zeros; plain for
/// magnitudes from 1E-4 to below 1E+7, otherwise "1.234568E+07" / "1E-05". Empty for NaN and
/// infinities.
std::optional<QString> generalForm(float value);

/// A stored reading as single precision; empty for null, text that is no number, and values
/// beyond a float.
std::optional<float> singleOf(const QVariant& value);

/// Text of a whole number as the decimal integer with no leading blank ("-1", "0", "9999").
QString integerText(std::int64_t value);

} // namespace common
