#include "app/Localization.h"

#include <gtest/gtest.h>

namespace {

class AppLanguageTest : public ::testing::Test {
protected:
    void TearDown() override { AppLanguages::setPreferredLanguagesProviderForTesting({}); }
    static void prefer(const QStringList& languages)
    {
        AppLanguages::setPreferredLanguagesProviderForTesting([languages] { return languages; });
    }
};

} // namespace

TEST_F(AppLanguageTest, ChoiceFromPreferredLanguages)
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
    for (const auto& c : cases) {
        prefer(c.preferred);
        EXPECT_EQ(AppLanguages::current(), c.language) << c.preferred.join(",").toStdString();
    }
    EXPECT_EQ(AppLanguages::rawValue(AppLanguage::ru), "ru");
    EXPECT_EQ(AppLanguages::rawValue(AppLanguage::en), "en");
}

TEST_F(AppLanguageTest, FixedAtFirstUse)
{
    // Nothing in this process has asked for the language before.
    prefer({"ru-RU", "en-US"});
    ASSERT_EQ(L::language(), AppLanguage::ru);
    EXPECT_EQ(L::text("Да", "Yes"), "Да");

    // The system switches to English while the process runs.
    prefer({"en-US"});
    EXPECT_EQ(AppLanguages::current(), AppLanguage::en);
    EXPECT_EQ(L::language(), AppLanguage::ru);
    EXPECT_EQ(L::text("Да", "Yes"), "Да");
}
