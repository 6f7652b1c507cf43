#pragma once

#include <QString>

namespace platform {

// Console lines on standard output, flushed at once so they interleave with other output in order.
class Console {
public:
    static void printLine(const QString& line);
};

} // namespace platform
