#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// The interface languages.
enum class AppLanguage {
    ru,
    en,
};

namespace AppLanguages {

QString rawValue(AppLanguage language);
// The language the system prefers now: Russian when the first preferred language starts with "ru".
AppLanguage current();

// Tests: the preferred languages come from `provider` instead of the system; an empty function
// restores the system's list.
void setPreferredLanguagesProviderForTesting(std::function<QStringList()> provider);

} // namespace AppLanguages

// The interface language of this process, fixed at first use.
class L {
public:
    static AppLanguage language();
    // The Russian text when the language is Russian, the English one otherwise.
    static QString text(const QString& russian, const QString& english);

    // Tests: fix the language before its first use.
    static void setLanguageForTesting(AppLanguage language);
};
