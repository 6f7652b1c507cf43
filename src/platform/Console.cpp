#include "platform/Console.h"

#include <cstdio>
#include <mutex>

namespace platform {

void Console::printLine(const QString& line)
{
    static std::mutex mutex;
    const QByteArray bytes = line.toUtf8() + '\n';
    std::lock_guard lock(mutex);
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

} // namespace platform
