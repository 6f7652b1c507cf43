#include "app/Localization.h"

#include <QLocale>

#include <atomic>
#include <mutex>

namespace AppLanguages {
namespace {

std::mutex providerMutex;
std::function<QStringList()>& providerSlot()
{
    static std::function<QStringList()> provider;
    return provider;
}

QStringList preferredLanguages()
{
    {
        std::lock_guard lock(providerMutex);
        if (providerSlot())
            return providerSlot()();
    }
    return QLocale::system().uiLanguages();
}

} // namespace

QString rawValue(AppLanguage language)
{
    return language == AppLanguage::ru ? QStringLiteral("ru") : QStringLiteral("en");
}

AppLanguage current()
{
    const QStringList preferred = preferredLanguages();
    const QString first = preferred.isEmpty() ? QStringLiteral("en") : preferred.first();
    return first.startsWith(QLatin1String("ru")) ? AppLanguage::ru : AppLanguage::en;
}

void setPreferredLanguagesProviderForTesting(std::function<QStringList()> provider)
{
    std::lock_guard lock(providerMutex);
    providerSlot() = std::move(provider);
}

} // namespace AppLanguages

namespace {

std::once_flag languageOnce;
std::atomic<AppLanguage> fixedLanguage{AppLanguage::en};
std::atomic<bool> testOverride{false};

} // namespace

AppLanguage L::language()
{
    std::call_once(languageOnce, [] {
        if (!testOverride.load())
            fixedLanguage.store(AppLanguages::current());
    });
    return fixedLanguage.load();
}

QString L::text(const QString& russian, const QString& english)
{
    return language() == AppLanguage::ru ? russian : english;
}

void L::setLanguageForTesting(AppLanguage language)
{
    testOverride.store(true);
    fixedLanguage.store(language);
}
