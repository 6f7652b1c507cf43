#include "app/Localization.h"

#include <QLocale>

#include <gtest/gtest.h>

TEST(AppLanguage, ChoiceFromPreferredLanguages)
{
    const struct {
        QStringList preferred;
        AppLanguage language;
    } cases[] = {
        {{"ru-RU", "en-US"}, AppLanguage::ru},
        {{"en-US", "ru-RU"}, AppLanguage::en},
        {{"uk-UA"}, AppLanguage::en},
        {{"be-BY"}, AppLanguage::en},
        {{}, AppLanguage::en},
        {{"ru"}, AppLanguage::ru},
        {{"RU-ru"}, AppLanguage::en}, // the prefix test is case-sensitive
    };
    for (const auto& c : cases)
        EXPECT_EQ(AppLanguages::fromPreferredLanguages(c.preferred), c.language) << c.preferred.join(",").toStdString();
    EXPECT_EQ(AppLanguages::rawValue(AppLanguage::ru), "ru");
    EXPECT_EQ(AppLanguages::rawValue(AppLanguage::en), "en");
}

TEST(AppLanguage, FixedAtFirstUse)
{
    const AppLanguage first = L::language();
    QLocale::setDefault(QLocale(first == AppLanguage::ru ? QLocale::English : QLocale::Russian));
    EXPECT_EQ(L::language(), first);
    EXPECT_EQ(L::text("Да", "Yes"), first == AppLanguage::ru ? "Да" : "Yes");
}
