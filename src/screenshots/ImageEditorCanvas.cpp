#include "screenshots/ImageEditorCanvas.h"

#include "screenshots/AnnotationPainter.h"
#include "screenshots/ImageEditorModel.h"
#include "screenshots/ImageEditorScaler.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <cstring>

namespace {

constexpr double kCornerRadius = 4;
// The pointer must move this far (in points) with the button down before a press becomes a drag.
constexpr double kDragThreshold = 1.0;

} // namespace

ImageEditorCanvas::ImageEditorCanvas(ImageEditorModel* model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
{
    setFocusPolicy(Qt::NoFocus);
    setMinimumSize(1, 1);
    connect(model, &ImageEditorModel::displayedImageChanged, this, &ImageEditorCanvas::pictureChanged);
    connect(model, &ImageEditorModel::previewChanged, this, qOverload<>(&QWidget::update));
    connect(model, &ImageEditorModel::annotationsChanged, this, qOverload<>(&QWidget::update));
}

QSize ImageEditorCanvas::cacheSizeFor() const
{
    const auto fit = ImageEditorModel::aspectFit(size(), m_model->imageSize());
    const double dpr = devicePixelRatioF();
    const QSizeF points = m_model->imageSize() * fit.scale;
    return QSize(std::max(1, int(std::lround(points.width() * dpr))), std::max(1, int(std::lround(points.height() * dpr))));
}

void ImageEditorCanvas::ensureCache()
{
    if (!m_model)
        return;
    const QSize wanted = cacheSizeFor();
    if (m_cacheValid && m_cache.size() == wanted)
        return;
    // Shares the picture's pixels when no scaling is needed.
    m_cache = ImageEditorScaler::scaled(m_model->displayedImage(), wanted);
    m_cacheValid = true;
}

const QImage& ImageEditorCanvas::scaledPicture()
{
    ensureCache();
    return m_cache;
}

void ImageEditorCanvas::pictureChanged(const QRect& pixelRect)
{
    if (!m_model)
        return;
    const QImage& picture = m_model->displayedImage();
    if (pixelRect.isNull() || !m_cacheValid || m_cache.isNull() || picture.isNull() || m_cache.size() != cacheSizeFor()) {
        m_cacheValid = false;
        update();
        return;
    }
    // Recompute the cache pixels the change reaches, with the filter that made the whole cache.
    const QRect target = ImageEditorScaler::reach(picture.size(), m_cache.size(), pixelRect.intersected(picture.rect()));
    if (target.isEmpty())
        return;
    if (m_cache.size() == picture.size() && picture.format() == m_cache.format()) {
        for (int y = target.top(); y <= target.bottom(); ++y)
            std::memcpy(m_cache.scanLine(y) + 4 * target.left(), picture.constScanLine(y) + 4 * target.left(), 4 * size_t(target.width()));
    } else {
        ImageEditorScaler::scaleArea(picture, m_cache, target);
    }
    const auto fit = ImageEditorModel::aspectFit(size(), m_model->imageSize());
    const double dpr = devicePixelRatioF();
    update(QRectF(fit.offset + QPointF(target.topLeft()) / dpr, QSizeF(target.size()) / dpr).toAlignedRect().adjusted(-1, -1, 1, 1));
}

void ImageEditorCanvas::paintEvent(QPaintEvent*)
{
    if (!m_model)
        return;
    QPainter painter(this);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(rect()), kCornerRadius, kCornerRadius);
    painter.setClipPath(clip);

    const auto fit = ImageEditorModel::aspectFit(size(), m_model->imageSize());
    ensureCache();
    if (!m_cache.isNull()) {
        // The cache has the target's device pixels: copy it 1:1 at a whole device pixel, with no
        // filtering, by drawing in device coordinates.
        const double dpr = devicePixelRatioF();
        painter.save();
        painter.setWorldTransform(QTransform::fromScale(1 / dpr, 1 / dpr));
        painter.drawImage(QPoint(int(std::lround(fit.offset.x() * dpr)), int(std::lround(fit.offset.y() * dpr))), m_cache);
        painter.restore();
    }
    for (const Annotation& annotation : m_model->annotations())
        AnnotationPainter::drawAnnotation(painter, annotation, fit.scale, fit.offset);
    if (const auto& preview = m_model->previewAnnotation(); preview && preview->type != AnnotationType::blur)
        AnnotationPainter::drawAnnotation(painter, *preview, fit.scale, fit.offset);
}

void ImageEditorCanvas::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_pressed = true;
    m_dragging = false;
    m_pressPosition = event->position();
    event->accept();
}

void ImageEditorCanvas::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_pressed || !m_model) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    const QPointF position = event->position();
    if (!m_dragging && std::hypot(position.x() - m_pressPosition.x(), position.y() - m_pressPosition.y()) >= kDragThreshold)
        m_dragging = true;
    if (m_dragging)
        m_model->dragChanged(m_pressPosition, position, size());
    event->accept();
}

void ImageEditorCanvas::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_pressed || !m_model) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    m_pressed = false;
    if (m_dragging) {
        m_dragging = false;
        m_model->dragEnded();
    } else {
        m_model->tap(event->position(), size());
    }
    event->accept();
}
