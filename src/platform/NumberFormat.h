#pragma once

#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>

namespace platform {

// Locale-independent numbers for log lines and file names: the shortest decimal that reads back
// as the same double, with at least one digit after the point ("200.0", "875.5", "0.1").
class NumberFormat {
public:
    static QString decimal(double value);
    static QString integer(long long value);
    // "(x, y, width, height)"
    static QString rect(const QRectF& rect);
    // "(x, y)"
    static QString point(const QPointF& point);
    // "(width, height)"
    static QString size(const QSizeF& size);
};

} // namespace platform
