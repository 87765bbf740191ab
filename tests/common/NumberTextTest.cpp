#include "common/NumberText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

using common::fixedForm;
using common::generalForm;
using common::readNumber;

struct ReadRow {
    const char16_t* text;
    double expected;
};

TEST(ReadNumber, ReadsTheNumberAtTheStartOfOperatorText) {
    const std::vector<ReadRow> rows = {
        {u"", 0},           {u"0", 0},
        {u"300", 300},      {u"  300", 300},
        {u"1 2 3", 123},    {u"\t1\n2\r3", 12},
        {u"- 5", -5},       {u"+7", 7},
        {u"-2.5", -2.5},    {u"12.5.3", 12.5},
        {u".5", 0.5},       {u"5.", 5},
        {u"0.001", 0.001},  {u"1e3", 1000},
        {u"1E3", 1000},     {u"2.5e-1", 0.25},
        {u"1 e + 2", 100},  {u"1e", 1},
        {u"1e+", 1},        {u"1e-", 1},
        {u"1ex", 1},        {u"1e2.5", 100},
        {u"250abc", 250},   {u"12abc", 12},
        {u"abc", 0},        {u".", 0},
        {u"+", 0},          {u"-", 0},
        {u"--5", 0},        {u"+-5", 0},
        {u"e5", 0},         {u"1,5", 1},
        {u"0009600", 9600}, {u"9600 波特", 9600},
        {u"１２", 0},       {u"12３", 12},
        {u"1e-400", 0},     {u"1e308", 1e308},
    };
    for (const ReadRow& row : rows) {
        const QString text = QString::fromUtf16(row.text);
        const std::optional<double> value = readNumber(text);
        ASSERT_TRUE(value.has_value()) << qPrintable(text);
        EXPECT_DOUBLE_EQ(*value, row.expected) << qPrintable(text);
    }
}

TEST(ReadNumber, ReadsHexAndOctalPrefixesAsUnsignedWholeNumbers) {
    const std::vector<ReadRow> rows = {
        {u"&H10", 16}, {u"&h10", 16}, {u"&HFF", 255}, {u"&Hff", 255},    {u"&HFFFF", 65535},
        {u"&O17", 15}, {u"&o17", 15}, {u"&O8", 0},    {u"&O178", 15},    {u"&H", 0},
        {u"&O", 0},    {u"&", 0},     {u"&X1", 0},    {u"  &H 1 0", 16}, {u"&H1G", 1},
        {u"&H1.5", 1}, {u"-&H10", 0},
    };
    for (const ReadRow& row : rows) {
        const QString text = QString::fromUtf16(row.text);
        EXPECT_EQ(readNumber(text), std::optional<double>(row.expected)) << qPrintable(text);
    }
}

TEST(ReadNumber, GivesNothingWhenTheNumberDoesNotFitADouble) {
    EXPECT_EQ(readNumber(u"1e999"), std::nullopt);
    EXPECT_EQ(readNumber(u"-1e999"), std::nullopt);
    EXPECT_EQ(readNumber(u"1e99999999999999"), std::nullopt);
    EXPECT_EQ(readNumber(QString(400, u'9')), std::nullopt);
    EXPECT_EQ(readNumber(QStringLiteral("&H") + QString(300, u'F')), std::nullopt);
}

TEST(ReadNumber, ReadsNegativeZeroAsPlainZero) {
    const std::optional<double> value = readNumber(u"-0");
    ASSERT_TRUE(value.has_value());
    EXPECT_FALSE(std::signbit(*value));
}

struct RoundRow {
    double value;
    double halfEven;
};

TEST(Rounding, SendsHalvesToTheEvenNeighbour) {
    const std::vector<RoundRow> rows = {
        {0.5, 0},  {1.5, 2},   {2.5, 2},       {3.5, 4},
        {-0.5, 0}, {-1.5, -2}, {-2.5, -2},     {-3.5, -4},
        {2.4, 2},  {2.6, 3},   {-2.6, -3},     {0, 0},
        {7, 7},    {-7, -7},   {1e300, 1e300}, {4503599627370495.5, 4503599627370496},
    };
    for (const RoundRow& row : rows) {
        EXPECT_EQ(common::roundHalfEven(row.value), row.halfEven) << row.value;
    }
    EXPECT_TRUE(std::isnan(common::roundHalfEven(std::nan(""))));
}

TEST(Rounding, ChecksTheRangeOfA32BitInteger) {
    EXPECT_EQ(common::roundToInt32(2.5), 2);
    EXPECT_EQ(common::roundToInt32(-3.5), -4);
    EXPECT_EQ(common::roundToInt32(2147483647.4), 2147483647);
    EXPECT_EQ(common::roundToInt32(2147483647.5), std::nullopt);
    EXPECT_EQ(common::roundToInt32(-2147483648.5), -2147483648);
    EXPECT_EQ(common::roundToInt32(-2147483649.0), std::nullopt);
    EXPECT_EQ(common::roundToInt32(std::nan("")), std::nullopt);
    EXPECT_EQ(common::roundToInt32(std::numeric_limits<double>::infinity()), std::nullopt);
}

TEST(Rounding, ChecksTheRangeOfA16BitInteger) {
    EXPECT_EQ(common::roundToInt16(32767.4), 32767);
    EXPECT_EQ(common::roundToInt16(32767.5), std::nullopt);
    EXPECT_EQ(common::roundToInt16(32766.5), 32766);
    EXPECT_EQ(common::roundToInt16(-32768.5), -32768);
    EXPECT_EQ(common::roundToInt16(-32769), std::nullopt);
    EXPECT_EQ(common::roundToInt16(12000), 12000);
    EXPECT_EQ(common::roundToInt16(std::nan("")), std::nullopt);
}

struct FormRow {
    float value;
    const char* text;
};

TEST(FixedForm, ShowsFourIntegerDigitsAndFourDecimals) {
    const std::vector<FormRow> rows = {
        {220.5F, "0220.5000"},       {0.0F, "0000.0000"},
        {-0.0F, "0000.0000"},        {-1.25F, "-0001.2500"},
        {12345.5F, "12345.5000"},    {1.0F, "0001.0000"},
        {380.0F, "0380.0000"},       {9999.99995F, "10000.0000"},
        {0.03125F, "0000.0313"},     {-0.03125F, "-0000.0313"},
        {0.00004F, "0000.0000"},     {-0.00001F, "-0000.0000"},
        {0.1F, "0000.1000"},         {49.99F, "0049.9900"},
        {1e10F, "10000000000.0000"}, {16777217.0F, "16777216.0000"},
    };
    for (const FormRow& row : rows) {
        EXPECT_EQ(fixedForm(row.value), QString::fromLatin1(row.text)) << row.value;
    }
}

TEST(FixedForm, RoundsTheExactValueOfTheFloat) {
    // The float nearest 0.00005 lies just below it, the one nearest 0.00025 just above: neither
    // is a tie, whatever the decimal text suggests.
    EXPECT_EQ(fixedForm(0.00005F), QStringLiteral("0000.0000"));
    // A negative value keeps its sign even when it rounds to zero.
    EXPECT_EQ(fixedForm(-0.00005F), QStringLiteral("-0000.0000"));
    EXPECT_EQ(fixedForm(-0.0F), QStringLiteral("0000.0000"));
    EXPECT_EQ(fixedForm(0.00025F), QStringLiteral("0000.0003"));
    EXPECT_EQ(fixedForm(0.00015F), QStringLiteral("0000.0002"));
}

TEST(FixedForm, PrintsTheLargestFloatInFull) {
    const std::optional<QString> text = fixedForm(std::numeric_limits<float>::max());
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(*text, QStringLiteral("340282346638528859811704183484516925440.0000"));
    EXPECT_EQ(fixedForm(-std::numeric_limits<float>::max())->front(), u'-');
}

TEST(FixedForm, GivesNothingForNanAndInfinity) {
    EXPECT_EQ(fixedForm(std::numeric_limits<float>::quiet_NaN()), std::nullopt);
    EXPECT_EQ(fixedForm(std::numeric_limits<float>::infinity()), std::nullopt);
    EXPECT_EQ(fixedForm(-std::numeric_limits<float>::infinity()), std::nullopt);
}

TEST(GeneralForm, ShowsAtMostSevenSignificantDigitsWithoutTrailingZeros) {
    const std::vector<FormRow> rows = {
        {0.0F, "0"},
        {-0.0F, "0"},
        {220.5F, "220.5"},
        {-1.5F, "-1.5"},
        {0.1F, "0.1"},
        {1.0F / 3.0F, "0.3333333"},
        {2.0F / 3.0F, "0.6666667"},
        {310.0F, "310"},
        {123456.7F, "123456.7"},
        {1234567.0F, "1234567"},
        {9999999.0F, "9999999"},
        {-9999999.0F, "-9999999"},
        {0.0001F, "0.0001"},
        {0.00012345678F, "0.0001234568"},
        {49.99F, "49.99"},
        {100.0F, "100"},
        {1000000.0F, "1000000"},
    };
    for (const FormRow& row : rows) {
        EXPECT_EQ(generalForm(row.value), QString::fromLatin1(row.text)) << row.value;
    }
}

TEST(GeneralForm, UsesExponentNotationOutsideThePlainRange) {
    const std::vector<FormRow> rows = {
        {0.00001F, "1E-05"},
        {-0.00001F, "-1E-05"},
        {0.000099999F, "9.9999E-05"},
        {12345678.0F, "1.234568E+07"},
        {10000000.0F, "1E+07"},
        {9999999.5F, "1E+07"},
        {1e10F, "1E+10"},
        {-2.5e20F, "-2.5E+20"},
        {std::numeric_limits<float>::max(), "3.402823E+38"},
        {1e-30F, "1E-30"},
        {std::numeric_limits<float>::denorm_min(), "1.401298E-45"},
    };
    for (const FormRow& row : rows) {
        EXPECT_EQ(generalForm(row.value), QString::fromLatin1(row.text)) << row.value;
    }
}

TEST(GeneralForm, ChoosesTheNotationAfterRoundingToSevenDigits) {
    // The float nearest 1E-4 lies just below it and reaches 1E-4 only by rounding.
    EXPECT_EQ(generalForm(0.0001F), QStringLiteral("0.0001"));
    EXPECT_EQ(generalForm(std::nextafter(0.0001F, 0.0F)), QStringLiteral("9.999999E-05"));
    EXPECT_EQ(generalForm(std::nextafter(10000000.0F, 0.0F)), QStringLiteral("9999999"));
}

TEST(GeneralForm, GivesNothingForNanAndInfinity) {
    EXPECT_EQ(generalForm(std::numeric_limits<float>::quiet_NaN()), std::nullopt);
    EXPECT_EQ(generalForm(std::numeric_limits<float>::infinity()), std::nullopt);
}

TEST(IntegerText, WritesPlainDecimalIntegersWithoutLeadingBlank) {
    EXPECT_EQ(common::integerText(0), QStringLiteral("0"));
    EXPECT_EQ(common::integerText(-1), QStringLiteral("-1"));
    EXPECT_EQ(common::integerText(9999), QStringLiteral("9999"));
    EXPECT_EQ(common::integerText(65500), QStringLiteral("65500"));
    EXPECT_EQ(common::integerText(INT64_MIN), QStringLiteral("-9223372036854775808"));
}

} // namespace
