// Build tool: renders an SVG into a square PNG, for the icon sizes desktops look up besides the SVG.
// Usage: kestrova_render_icon <input.svg> <pixels> <output.png>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc != 4) {
        std::fputs("usage: kestrova_render_icon <input.svg> <pixels> <output.png>\n", stderr);
        return 2;
    }
    QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
    bool ok = false;
    const int pixels = QString::fromLocal8Bit(argv[2]).toInt(&ok);
    if (!renderer.isValid() || !ok || pixels <= 0 || pixels > 4096) {
        std::fprintf(stderr, "kestrova_render_icon: cannot render %s at %s pixels\n", argv[1], argv[2]);
        return 1;
    }
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    painter.end();
    if (!image.save(QString::fromLocal8Bit(argv[3]), "PNG")) {
        std::fprintf(stderr, "kestrova_render_icon: cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
