#pragma once

#include <QImage>
#include <QPainter>
#include <QWidget>

namespace test {

// A frameless window outside any window manager's control that paints a picture whose every pixel
// encodes its position, so a shift, a flip, a channel swap or a veil shows in a byte-for-byte
// comparison.
class PatternWindow : public QWidget {
public:
    explicit PatternWindow(const QRect& geometry, int seed = 0)
        : m_pattern(image(geometry.size(), seed))
    {
        setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint
                       | Qt::WindowDoesNotAcceptFocus);
        setAttribute(Qt::WA_ShowWithoutActivating);
        setAttribute(Qt::WA_OpaquePaintEvent);
        setGeometry(geometry);
    }
    const QImage& pattern() const { return m_pattern; }

    // The picture of a window of `size`; another `seed` gives another picture.
    static QImage image(const QSize& size, int seed = 0)
    {
        QImage image(size, QImage::Format_RGB32);
        for (int y = 0; y < size.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < size.width(); ++x)
                line[x] = qRgb((x + seed) & 0xff, y & 0xff, (((x >> 8) << 4) | (y >> 8) | (seed << 7)) & 0xff);
        }
        return image;
    }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).drawImage(0, 0, m_pattern); }

private:
    QImage m_pattern;
};

} // namespace test
