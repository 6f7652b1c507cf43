#pragma once

// Shared by the capture tests: a picture whose every pixel encodes its position, so a shift, a
// flip, a channel swap or a veil shows in a byte-for-byte comparison; capture methods that are
// undone at the end of a scope.

#include "screenshots/ScreenCaptureWindow.h"

#include <QImage>
#include <QPainter>
#include <QWidget>

namespace capturetest {

struct InjectedMethods {
    explicit InjectedMethods(const ScreenCaptureWindow::CaptureMethods& methods)
    {
        ScreenCaptureWindow::setCaptureMethodsForTesting(methods);
    }
    ~InjectedMethods() { ScreenCaptureWindow::setCaptureMethodsForTesting(std::nullopt); }
};

inline QImage patternImage(const QSize& size, int seed = 0)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            line[x] = qRgb((x + seed) & 0xff, y & 0xff, (((x >> 8) << 4) | (y >> 8) | (seed << 7)) & 0xff);
    }
    return image;
}

// A frameless window outside any window manager's control that paints the pattern.
class PatternWindow : public QWidget {
public:
    explicit PatternWindow(const QRect& geometry, int seed = 0)
        : m_pattern(patternImage(geometry.size(), seed))
    {
        setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint
                       | Qt::WindowDoesNotAcceptFocus);
        setAttribute(Qt::WA_ShowWithoutActivating);
        setAttribute(Qt::WA_OpaquePaintEvent);
        setGeometry(geometry);
    }
    const QImage& pattern() const { return m_pattern; }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).drawImage(0, 0, m_pattern); }

private:
    QImage m_pattern;
};

} // namespace capturetest
