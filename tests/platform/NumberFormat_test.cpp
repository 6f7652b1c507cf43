#include "platform/NumberFormat.h"

#include <QLocale>
#include <clocale>

#include <gtest/gtest.h>

using platform::NumberFormat;

TEST(NumberFormat, DecimalIsShortestWithOneFractionDigit)
{
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {200, "200.0"}, {0, "0.0"}, {-3, "-3.0"}, {875.5, "875.5"}, {0.1, "0.1"},
        {1.0 / 3.0, "0.3333333333333333"}, {1e20, "100000000000000000000.0"}, {1440, "1440.0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NumberFormat::decimal(c.value).toStdString(), c.text) << c.value;
}

TEST(NumberFormat, RectsAndPoints)
{
    EXPECT_EQ(NumberFormat::rect(QRectF(200, 200, 800, 600)), QStringLiteral("(200.0, 200.0, 800.0, 600.0)"));
    EXPECT_EQ(NumberFormat::rect(QRectF(0, 25, 1440, 875.5)), QStringLiteral("(0.0, 25.0, 1440.0, 875.5)"));
    EXPECT_EQ(NumberFormat::point(QPointF(-1.25, 7)), QStringLiteral("(-1.25, 7.0)"));
}

TEST(NumberFormat, IgnoresTheProcessLocale)
{
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German));
    setlocale(LC_ALL, "de_DE.UTF-8");
    EXPECT_EQ(NumberFormat::decimal(875.5), QStringLiteral("875.5"));
    setlocale(LC_ALL, "C");
    QLocale::setDefault(previous);
}
