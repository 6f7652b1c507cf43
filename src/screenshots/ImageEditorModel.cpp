#include "screenshots/ImageEditorModel.h"

#include "app/AppState.h"
#include "platform/SystemColors.h"
#include "screenshots/BlurBrush.h"

#include <algorithm>
#include <cmath>
#include <cstring>

ImageEditorModel::ImageEditorModel(const QImage& image, AppState* appState, QObject* parent)
    : QObject(parent)
    , m_image(image)
    , m_appState(appState)
    , m_selectedColor(platform::SystemColors::red())
{
    if (appState)
        connect(appState, &AppState::annotationsChanged, this, &ImageEditorModel::annotationsChanged);
}

const QList<ImageEditorModel::ToolInfo>& ImageEditorModel::tools()
{
    static const QList<ToolInfo> list = {
        {AnnotationType::arrow, QStringLiteral("arrow.up.right"), QStringLiteral("Стрелка")},
        {AnnotationType::line, QStringLiteral("line.diagonal"), QStringLiteral("Линия")},
        {AnnotationType::rectangle, QStringLiteral("rectangle"), QStringLiteral("Прямоугольник")},
        {AnnotationType::circle, QStringLiteral("circle"), QStringLiteral("Круг")},
        {AnnotationType::text, QStringLiteral("textformat"), QStringLiteral("Текст")},
        {AnnotationType::pen, QStringLiteral("scribble.variable"), QStringLiteral("Карандаш")},
        {AnnotationType::blur, QStringLiteral("aqi.medium"), QStringLiteral("Размытие")},
    };
    return list;
}

const QList<QColor>& ImageEditorModel::colors()
{
    using platform::SystemColors;
    static const QList<QColor> list = {
        SystemColors::red(), SystemColors::blue(), SystemColors::green(),
        SystemColors::orange(), SystemColors::purple(), QColor(Qt::black),
    };
    return list;
}

const QList<ImageEditorModel::LineWidthOption>& ImageEditorModel::lineWidths()
{
    static const QList<LineWidthOption> list = {
        {2, QStringLiteral("Тонкая")},
        {3, QStringLiteral("Средняя")},
        {5, QStringLiteral("Толстая")},
        {8, QStringLiteral("Очень толстая")},
    };
    return list;
}

ImageEditorModel::Fit ImageEditorModel::aspectFit(const QSizeF& canvasSize, const QSizeF& imageSize)
{
    Fit fit;
    if (!(imageSize.width() > 0) || !(imageSize.height() > 0))
        return fit;
    // Shrunk into a smaller canvas, never enlarged: a larger canvas centres the picture at its own
    // size, whose text stays sharp.
    const double s = std::min({canvasSize.width() / imageSize.width(), canvasSize.height() / imageSize.height(), 1.0});
    // An empty canvas has nothing to map onto; keep the mapping invertible.
    fit.scale = s > 0 ? s : 1.0;
    fit.offset = QPointF((canvasSize.width() - imageSize.width() * fit.scale) / 2,
                         (canvasSize.height() - imageSize.height() * fit.scale) / 2);
    return fit;
}

QList<Annotation> ImageEditorModel::annotations() const
{
    return m_appState ? m_appState->annotations() : QList<Annotation>();
}

bool ImageEditorModel::hasAnnotations() const
{
    return m_appState && !m_appState->annotations().isEmpty();
}

void ImageEditorModel::setSelectedTool(AnnotationType tool)
{
    if (tool == m_selectedTool)
        return;
    m_selectedTool = tool;
    emit selectedToolChanged();
    if (m_isEditingText)
        commitTextAnnotation();
}

void ImageEditorModel::setSelectedColor(const QColor& color)
{
    if (color == m_selectedColor)
        return;
    m_selectedColor = color;
    emit selectedColorChanged();
}

void ImageEditorModel::setLineWidth(double width)
{
    if (width == m_lineWidth)
        return;
    m_lineWidth = width;
    emit lineWidthChanged();
}

QString ImageEditorModel::lineWidthLabel() const
{
    switch (static_cast<int>(m_lineWidth)) {
    case 2: return QStringLiteral("Тонкая");
    case 5: return QStringLiteral("Толстая");
    case 8: return QStringLiteral("Очень толстая");
    default: return QStringLiteral("Средняя");
    }
}

void ImageEditorModel::setTextInput(const QString& text)
{
    if (text == m_textInput)
        return;
    m_textInput = text;
    emit textInputChanged();
}

QPointF ImageEditorModel::convertToImageCoordinates(const QPointF& canvasPoint, const QSizeF& canvasSize) const
{
    const Fit fit = aspectFit(canvasSize, imageSize());
    // Points outside the picture stay outside it: no clamping.
    return (canvasPoint - fit.offset) / fit.scale;
}

Annotation ImageEditorModel::makeAnnotation(AnnotationType type, const QPointF& start, const QPointF& end) const
{
    Annotation annotation;
    annotation.type = type;
    annotation.startPoint = start;
    annotation.endPoint = end;
    annotation.color = m_selectedColor;
    annotation.lineWidth = m_lineWidth;
    return annotation;
}

void ImageEditorModel::append(const Annotation& annotation)
{
    if (!m_appState)
        return;
    QList<Annotation> list = m_appState->annotations();
    list.append(annotation);
    m_appState->setAnnotations(list);
}

void ImageEditorModel::setPreview(const std::optional<Annotation>& preview)
{
    m_previewAnnotation = preview;
    emit previewChanged();
}

void ImageEditorModel::dragChanged(const QPointF& startLocation, const QPointF& location, const QSizeF& canvasSize)
{
    const QPointF p = convertToImageCoordinates(location, canvasSize);
    if (!m_isDrawing) {
        m_startPoint = convertToImageCoordinates(startLocation, canvasSize);
        m_isDrawing = true;
        if (m_selectedTool == AnnotationType::pen || m_selectedTool == AnnotationType::blur)
            m_currentPenPoints = {m_startPoint};
        if (m_selectedTool == AnnotationType::blur)
            m_blurImageHistory.append(BlurHistoryEntry{displayedImage(), QRect(), false});
    }
    m_endPoint = p;

    switch (m_selectedTool) {
    case AnnotationType::pen: {
        m_currentPenPoints.append(p);
        Annotation preview = makeAnnotation(AnnotationType::pen, m_startPoint, p);
        preview.pathPoints = m_currentPenPoints;
        setPreview(preview);
        break;
    }
    case AnnotationType::blur: {
        m_currentPenPoints.append(p);
        const qsizetype n = m_currentPenPoints.size();
        if (n >= 2)
            applyBlurToSegment({m_currentPenPoints[n - 2], m_currentPenPoints[n - 1]});
        break;
    }
    default:
        setPreview(makeAnnotation(m_selectedTool, m_startPoint, p));
        break;
    }
}

void ImageEditorModel::dragEnded()
{
    if (!m_isDrawing)
        return;
    switch (m_selectedTool) {
    case AnnotationType::pen:
        addPenAnnotation(m_currentPenPoints);
        m_currentPenPoints.clear();
        break;
    case AnnotationType::blur:
        finishBlurHistoryEntry();
        saveBlurAnnotation(m_currentPenPoints);
        m_currentPenPoints.clear();
        break;
    default:
        addAnnotation(m_startPoint, m_endPoint);
        break;
    }
    m_isDrawing = false;
    setPreview(std::nullopt);
}

void ImageEditorModel::tap(const QPointF& location, const QSizeF& canvasSize)
{
    if (m_selectedTool != AnnotationType::text)
        return;
    // A new tap while typing drops the text typed so far and starts again at the new point.
    m_textPosition = convertToImageCoordinates(location, canvasSize);
    m_textFieldPosition = location;
    setTextInput(QString());
    m_isEditingText = true;
    emit textEntryChanged();
}

void ImageEditorModel::addAnnotation(const QPointF& start, const QPointF& end)
{
    append(makeAnnotation(m_selectedTool, start, end));
}

void ImageEditorModel::addPenAnnotation(const QList<QPointF>& points)
{
    if (points.size() < 2)
        return;
    Annotation annotation = makeAnnotation(AnnotationType::pen, points.first(), points.last());
    annotation.pathPoints = points;
    append(annotation);
}

void ImageEditorModel::addTextAnnotation(const QString& text, const QPointF& position)
{
    Annotation annotation = makeAnnotation(AnnotationType::text, position, position);
    annotation.text = text;
    append(annotation);
}

void ImageEditorModel::commitTextAnnotation()
{
    // Spaces or line breaks alone are not empty and are stored.
    if (!m_textInput.isEmpty())
        addTextAnnotation(m_textInput, m_textPosition);
    m_isEditingText = false;
    setTextInput(QString());
    emit textEntryChanged();
}

void ImageEditorModel::cancelTextEntry()
{
    m_isEditingText = false;
    setTextInput(QString());
    emit textEntryChanged();
}

void ImageEditorModel::undoLastAnnotation()
{
    // During a drag the newest history entry belongs to the stroke being drawn, not to the last
    // stored annotation: undoing then would pair the wrong picture with the wrong annotation.
    if (m_isDrawing || !hasAnnotations())
        return;
    QList<Annotation> list = m_appState->annotations();
    if (list.last().type == AnnotationType::blur && !m_blurImageHistory.isEmpty()) {
        const BlurHistoryEntry entry = m_blurImageHistory.takeLast();
        if (m_blurImageHistory.isEmpty()) {
            m_blurredImage.reset();
            emit displayedImageChanged(QRect());
        } else if (m_blurredImage && !entry.rect.isEmpty() && !entry.before.isNull()) {
            QImage& picture = *m_blurredImage;
            const QRect& r = entry.rect;
            for (int y = 0; y < r.height(); ++y)
                std::memcpy(picture.scanLine(r.top() + y) + 4 * r.left(), entry.before.constScanLine(y), 4 * size_t(r.width()));
            emit displayedImageChanged(r);
        }
    }
    list.removeLast();
    m_appState->setAnnotations(list);
}

void ImageEditorModel::clearAllAnnotations()
{
    if (m_isDrawing)
        return;
    if (m_appState)
        m_appState->setAnnotations({});
    const bool hadBlur = m_blurredImage.has_value();
    m_blurredImage.reset();
    m_blurImageHistory.clear();
    if (hadBlur)
        emit displayedImageChanged(QRect());
}

void ImageEditorModel::applyBlurToSegment(const QList<QPointF>& points)
{
    if (points.size() < 2)
        return;
    const double brush = BlurBrush::kBrushWidthFactor * m_lineWidth;
    QImage picture = displayedImage();
    // Drop our own reference first, so the brush changes the picture in place instead of copying
    // it; the history entry of the stroke still holds the pixels from before it.
    m_blurredImage.reset();
    const QRect changed = BlurBrush::applyBlurAlongPathInPlace(picture, points, brush);
    m_blurredImage = std::move(picture);
    if (!m_blurImageHistory.isEmpty() && !m_blurImageHistory.last().cropped)
        m_blurImageHistory.last().rect |= changed;
    if (!changed.isEmpty())
        emit displayedImageChanged(changed);
}

void ImageEditorModel::finishBlurHistoryEntry()
{
    if (m_blurImageHistory.isEmpty() || m_blurImageHistory.last().cropped)
        return;
    BlurHistoryEntry& entry = m_blurImageHistory.last();
    entry.before = entry.rect.isEmpty()
        ? QImage()
        : entry.before.copy(entry.rect).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    entry.cropped = true;
}

void ImageEditorModel::saveBlurAnnotation(const QList<QPointF>& points)
{
    if (points.size() < 2)
        return;
    Annotation annotation = makeAnnotation(AnnotationType::blur, points.first(), points.last());
    annotation.color = platform::SystemColors::gray();
    annotation.lineWidth = BlurBrush::kBrushWidthFactor * m_lineWidth;
    annotation.pathPoints = points;
    append(annotation);
}
