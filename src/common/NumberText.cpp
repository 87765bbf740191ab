#include "common/NumberText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <system_error>

namespace common {

namespace {

// Exponents beyond this already overflow or underflow any double; capping keeps the int small.
constexpr int kExponentCap = 100000;
constexpr int kSignificantDigits = 7;

/// Walks operator text one character at a time, stepping over blanks wherever they stand.
class BlankSkippingReader {
  public:
    explicit BlankSkippingReader(QStringView text) : m_text(text) { skipBlanks(); }

    [[nodiscard]] char16_t peek() const {
        return m_pos < m_text.size() ? m_text[m_pos].unicode() : u'\0';
    }

    void advance() {
        ++m_pos;
        skipBlanks();
    }

  private:
    static bool isBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n'; }

    void skipBlanks() {
        while (m_pos < m_text.size() && isBlank(m_text[m_pos].unicode())) {
            ++m_pos;
        }
    }

    QStringView m_text;
    qsizetype m_pos = 0;
};

bool isDecimalDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

int digitValue(char16_t c, int base) {
    int value = -1;
    if (c >= u'0' && c <= u'9') {
        value = c - u'0';
    } else if (c >= u'a' && c <= u'f') {
        value = c - u'a' + 10;
    } else if (c >= u'A' && c <= u'F') {
        value = c - u'A' + 10;
    }
    return value < base ? value : -1;
}

std::optional<double> finiteOrEmpty(double value) {
    if (!std::isfinite(value)) {
        return std::nullopt;
    }
    return value == 0.0 ? 0.0 : value;
}

std::optional<double> readPrefixedWhole(BlankSkippingReader& reader, int base) {
    double value = 0.0;
    for (int digit = digitValue(reader.peek(), base); digit >= 0;
         digit = digitValue(reader.peek(), base)) {
        value = value * base + digit;
        reader.advance();
    }
    return finiteOrEmpty(value);
}

std::optional<double> readDecimal(BlankSkippingReader& reader) {
    std::string text;
    if (reader.peek() == u'+' || reader.peek() == u'-') {
        text += static_cast<char>(reader.peek());
        reader.advance();
    }
    bool seenPoint = false;
    bool anyDigit = false;
    bool nonZeroDigit = false;
    // Decimal magnitude of the first nonzero digit relative to the point, to tell overflow from
    // underflow when the conversion reports a result out of range.
    long long magnitude = 0;
    for (char16_t c = reader.peek();; c = reader.peek()) {
        if (isDecimalDigit(c)) {
            anyDigit = true;
            if (c != u'0' && !nonZeroDigit) {
                nonZeroDigit = true;
                magnitude = seenPoint ? magnitude - 1 : 0;
            } else if (nonZeroDigit && !seenPoint) {
                ++magnitude;
            } else if (!nonZeroDigit && seenPoint) {
                --magnitude;
            }
            text += static_cast<char>(c);
        } else if (c == u'.' && !seenPoint) {
            seenPoint = true;
            text += '.';
        } else {
            break;
        }
        reader.advance();
    }
    if (!anyDigit) {
        return 0.0;
    }
    int exponent = 0;
    if (reader.peek() == u'E' || reader.peek() == u'e') {
        reader.advance();
        bool negative = false;
        if (reader.peek() == u'+' || reader.peek() == u'-') {
            negative = reader.peek() == u'-';
            reader.advance();
        }
        while (isDecimalDigit(reader.peek())) {
            exponent = std::min(kExponentCap, exponent * 10 + (reader.peek() - u'0'));
            reader.advance();
        }
        exponent = negative ? -exponent : exponent;
    }
    if (!nonZeroDigit) {
        return 0.0;
    }
    text += 'e';
    text += std::to_string(exponent);

    double value = 0.0;
    const char* first = text.data();
    const char* last = first + text.size();
    if (*first == '+') {
        ++first; // from_chars takes no plus sign
    }
    const auto [end, error] = std::from_chars(first, last, value);
    if (error == std::errc::result_out_of_range) {
        if (magnitude + exponent > 0) {
            return std::nullopt;
        }
        return 0.0;
    }
    if (error != std::errc{} || end != last) {
        return 0.0;
    }
    return finiteOrEmpty(value);
}

} // namespace

std::optional<double> readNumber(QStringView text) {
    BlankSkippingReader reader(text);
    if (reader.peek() == u'&') {
        reader.advance();
        const char16_t prefix = reader.peek();
        if (prefix == u'H' || prefix == u'h') {
            reader.advance();
            return readPrefixedWhole(reader, 16);
        }
        if (prefix == u'O' || prefix == u'o') {
            reader.advance();
            return readPrefixedWhole(reader, 8);
        }
        return 0.0;
    }
    return readDecimal(reader);
}

double roundHalfEven(double value) {
    if (!std::isfinite(value)) {
        return value;
    }
    const double below = std::floor(value);
    const double fraction = value - below;
    if (fraction < 0.5) {
        return below;
    }
    if (fraction > 0.5) {
        return below + 1.0;
    }
    return std::fmod(below, 2.0) == 0.0 ? below : below + 1.0;
}

namespace {

template <typename Int> std::optional<Int> roundChecked(double value) {
    const double rounded = roundHalfEven(value);
    if (std::isnan(rounded) || rounded < static_cast<double>(std::numeric_limits<Int>::min()) ||
        rounded > static_cast<double>(std::numeric_limits<Int>::max())) {
        return std::nullopt;
    }
    return static_cast<Int>(rounded);
}

} // namespace

std::optional<std::int32_t> roundToInt32(double value) { return roundChecked<std::int32_t>(value); }

std::optional<std::int16_t> roundToInt16(double value) { return roundChecked<std::int16_t>(value); }

std::optional<QString> fixedForm(float value) {
    if (!std::isfinite(value)) {
        return std::nullopt;
    }
    // A float times 10^4 fits the 64-bit mantissa of long double exactly, so this is the only
    // rounding step; halves go away from zero.
    const long double scaled = std::roundl(static_cast<long double>(value) * 10000.0L);
    char buffer[64];
    const int length = std::snprintf(buffer, sizeof buffer, "%.0Lf", std::fabs(scaled));
    if (length <= 0 || length >= static_cast<int>(sizeof buffer)) {
        return std::nullopt;
    }
    QString digits = QString::fromLatin1(buffer, length);
    if (digits.size() < 8) {
        digits = QString(8 - digits.size(), u'0') + digits;
    }
    digits.insert(digits.size() - 4, u'.');
    if (value < 0.0F) {
        digits.prepend(u'-');
    }
    return digits;
}

std::optional<QString> generalForm(float value) {
    if (!std::isfinite(value)) {
        return std::nullopt;
    }
    if (value == 0.0F) {
        return QStringLiteral("0");
    }
    // "%.6e" rounds to seven significant digits; the exponent after that rounding picks the form.
    char buffer[32];
    const int length =
        std::snprintf(buffer, sizeof buffer, "%.*e", kSignificantDigits - 1, double{value});
    if (length <= 0 || length >= static_cast<int>(sizeof buffer)) {
        return std::nullopt;
    }
    const std::string text(buffer, static_cast<std::size_t>(length));
    const bool negative = text.front() == '-';
    const std::size_t mantissaStart = negative ? 1 : 0;
    const std::size_t ePos = text.find('e');
    std::string digits;
    for (std::size_t i = mantissaStart; i < ePos; ++i) {
        if (text[i] != '.') {
            digits += text[i];
        }
    }
    const int exponent = std::stoi(text.substr(ePos + 1));
    while (digits.size() > 1 && digits.back() == '0') {
        digits.pop_back();
    }

    std::string result = negative ? "-" : "";
    if (exponent >= -4 && exponent < kSignificantDigits) {
        if (exponent >= 0) {
            const auto integerDigits = static_cast<std::size_t>(exponent) + 1;
            if (digits.size() <= integerDigits) {
                result += digits + std::string(integerDigits - digits.size(), '0');
            } else {
                result += digits.substr(0, integerDigits) + "." + digits.substr(integerDigits);
            }
        } else {
            result += "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
        }
    } else {
        result += digits.substr(0, 1);
        if (digits.size() > 1) {
            result += "." + digits.substr(1);
        }
        char exponentText[16];
        std::snprintf(exponentText, sizeof exponentText, "E%c%02d", exponent < 0 ? '-' : '+',
                      std::abs(exponent));
        result += exponentText;
    }
    return QString::fromLatin1(result.data(), static_cast<qsizetype>(result.size()));
}

QString integerText(std::int64_t value) { return QString::number(value); }

std::optional<float> singleOf(const QVariant& value) {
    if (value.isNull()) {
        return std::nullopt;
    }
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (!ok || std::isnan(number) || std::fabs(number) > std::numeric_limits<float>::max()) {
        return std::nullopt;
    }
    return static_cast<float>(number);
}

} // namespace common
