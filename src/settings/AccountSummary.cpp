#include "settings/AccountSummary.h"

#include <cmath>
#include <limits>

double AccountSummary::storagePercentage(const StorageUsage& usage)
{
    if (usage.totalBytes < 1)
        return 0.0;
    return static_cast<double>(usage.usedBytes) / static_cast<double>(usage.totalBytes) * 100.0;
}

bool AccountSummary::isStorageNearlyFull(const StorageUsage& usage)
{
    return usage.totalBytes >= 1 && storagePercentage(usage) >= 90.0;
}

QString AccountSummary::percentageText(const StorageUsage& usage)
{
    const double percentage = std::trunc(storagePercentage(usage));
    // Converting a double outside the 64-bit range is undefined: clamp first.
    constexpr double top = 9.2e18;
    qint64 whole = 0;
    if (std::isnan(percentage))
        whole = 0;
    else if (percentage >= top)
        whole = std::numeric_limits<qint64>::max();
    else if (percentage <= -top)
        whole = std::numeric_limits<qint64>::min();
    else
        whole = static_cast<qint64>(percentage);
    return QString::number(whole) + QLatin1Char('%');
}

QString AccountSummary::uploadLimitText(const std::optional<qint64>& uploadLimitMb)
{
    if (!uploadLimitMb)
        return QStringLiteral("Без ограничений");
    return QString::number(*uploadLimitMb) + QStringLiteral(" MB");
}
