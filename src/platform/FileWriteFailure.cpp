#include "platform/FileWriteFailure.h"

#include <cerrno>

namespace platform {

std::optional<QString> FileWriteFailure::reason(int errnoValue)
{
    switch (errnoValue) {
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("на диске закончилось место");
    case EIO:
        return QStringLiteral("ошибка ввода-вывода");
    default:
        return std::nullopt;
    }
}

} // namespace platform
