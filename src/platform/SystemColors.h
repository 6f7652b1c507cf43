#pragma once

#include <QColor>

namespace platform {

// The named colours of the design (dark appearance values).
class SystemColors {
public:
    static QColor red() { return QColor(255, 69, 58); }
    static QColor orange() { return QColor(255, 159, 10); }
    static QColor yellow() { return QColor(255, 214, 10); }
    static QColor green() { return QColor(48, 209, 88); }
    static QColor blue() { return QColor(10, 132, 255); }
    static QColor purple() { return QColor(191, 90, 242); }
    static QColor gray() { return QColor(152, 152, 157); }
    static QColor accent() { return blue(); }
};

} // namespace platform
