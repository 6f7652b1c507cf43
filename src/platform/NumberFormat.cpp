#include "platform/NumberFormat.h"

#include <charconv>
#include <cmath>
#include <string>

namespace platform {

QString NumberFormat::decimal(double value)
{
    if (std::isnan(value))
        return QStringLiteral("nan");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("inf") : QStringLiteral("-inf");
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (ec != std::errc())
        return QStringLiteral("0.0");
    std::string text(buffer, end);
    // to_chars picks the shortest form, which may be exponential ("1e+20") or lack a point ("200").
    if (text.find_first_of("eE") != std::string::npos) {
        auto [fend, fec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
        if (fec == std::errc())
            text.assign(buffer, fend);
    }
    if (text.find('.') == std::string::npos)
        text += ".0";
    return QString::fromStdString(text);
}

QString NumberFormat::integer(long long value)
{
    char buffer[32];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return QString::fromLatin1(buffer, ec == std::errc() ? static_cast<int>(end - buffer) : 0);
}

QString NumberFormat::rect(const QRectF& r)
{
    return QStringLiteral("(%1, %2, %3, %4)")
        .arg(decimal(r.x()), decimal(r.y()), decimal(r.width()), decimal(r.height()));
}

QString NumberFormat::point(const QPointF& p)
{
    return QStringLiteral("(%1, %2)").arg(decimal(p.x()), decimal(p.y()));
}

QString NumberFormat::size(const QSizeF& s)
{
    return QStringLiteral("(%1, %2)").arg(decimal(s.width()), decimal(s.height()));
}

} // namespace platform
