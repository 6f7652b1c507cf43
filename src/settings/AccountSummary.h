#pragma once

#include "cloud/StorageUsage.h"

#include <QString>

#include <optional>

// The figures the account card derives from the account record: the storage bar, its warning and
// the per-file limit.
struct AccountSummary {
    // used / total x 100; 0 when the total is below 1 byte.
    static double storagePercentage(const StorageUsage& usage);
    // At 90 % or more of a real total: the orange bar and the warning line.
    static bool isStorageNearlyFull(const StorageUsage& usage);
    // The percentage truncated toward zero and a percent sign ("42%"); safe for any ratio.
    static QString percentageText(const StorageUsage& usage);
    // "250 MB", or "Без ограничений" without a limit.
    static QString uploadLimitText(const std::optional<qint64>& uploadLimitMb);
};
