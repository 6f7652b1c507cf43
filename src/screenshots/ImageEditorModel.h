#pragma once

#include "app/Annotation.h"
#include "app/AppState.h"

#include <QColor>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QRect>
#include <QSizeF>

#include <optional>

// The state and operations of the annotation editor, without widgets, so tests can drive every
// gesture and button. ImageEditorView is the thin view over it.
//
// Two coordinate spaces: canvas coordinates (the drawing area's points, top-left origin) and image
// coordinates (points of the picture, its deviceIndependentSize()). Every stored annotation and
// every point kept here is in image coordinates.
class ImageEditorModel : public QObject {
    Q_OBJECT
public:
    struct LineWidthOption {
        double width;
        QString label;
    };
    struct ToolInfo {
        AnnotationType tool;
        QString symbol;
        QString toolTip;
    };
    // Aspect-fit mapping of the picture into a canvas, centred and never enlarged (scale <= 1):
    // image point p lands at p * scale + offset.
    struct Fit {
        double scale = 1.0;
        QPointF offset;
    };

    ImageEditorModel(const QImage& image, AppState* appState, QObject* parent = nullptr);

    static const QList<ToolInfo>& tools();
    static const QList<QColor>& colors();
    static const QList<LineWidthOption>& lineWidths();
    static Fit aspectFit(const QSizeF& canvasSize, const QSizeF& imageSize);

    const QImage& image() const { return m_image; }
    QSizeF imageSize() const { return m_image.deviceIndependentSize(); }
    AppState* appState() const { return m_appState; }
    QList<Annotation> annotations() const;

    AnnotationType selectedTool() const { return m_selectedTool; }
    void setSelectedTool(AnnotationType tool);
    QColor selectedColor() const { return m_selectedColor; }
    void setSelectedColor(const QColor& color);
    double lineWidth() const { return m_lineWidth; }
    void setLineWidth(double width);
    QString lineWidthLabel() const;

    bool isDrawing() const { return m_isDrawing; }
    QPointF startPoint() const { return m_startPoint; }
    QPointF endPoint() const { return m_endPoint; }
    const std::optional<Annotation>& previewAnnotation() const { return m_previewAnnotation; }
    const QList<QPointF>& currentPenPoints() const { return m_currentPenPoints; }

    bool isEditingText() const { return m_isEditingText; }
    QString textInput() const { return m_textInput; }
    void setTextInput(const QString& text);
    QPointF textPosition() const { return m_textPosition; }
    QPointF textFieldPosition() const { return m_textFieldPosition; }

    // The picture with every blur stroke applied so far; none means the captured picture.
    const std::optional<QImage>& blurredImage() const { return m_blurredImage; }
    qsizetype blurHistoryCount() const { return m_blurImageHistory.size(); }
    // What the canvas shows under the marks: blurredImage when there is one, else image.
    const QImage& displayedImage() const { return m_blurredImage ? *m_blurredImage : m_image; }
    // Undo and clear are enabled while there is an annotation.
    bool hasAnnotations() const;

    QPointF convertToImageCoordinates(const QPointF& canvasPoint, const QSizeF& canvasSize) const;

    // A drag that has moved at least 1 point: every change, then its end.
    void dragChanged(const QPointF& startLocation, const QPointF& location, const QSizeF& canvasSize);
    void dragEnded();
    // A click that was not a drag.
    void tap(const QPointF& location, const QSizeF& canvasSize);

    void addAnnotation(const QPointF& start, const QPointF& end);
    void addPenAnnotation(const QList<QPointF>& points);
    void addTextAnnotation(const QString& text, const QPointF& position);
    void commitTextAnnotation();
    void cancelTextEntry();
    void undoLastAnnotation();
    void clearAllAnnotations();

    void applyBlurToSegment(const QList<QPointF>& points);
    void saveBlurAnnotation(const QList<QPointF>& points);

signals:
    void selectedToolChanged();
    void selectedColorChanged();
    void lineWidthChanged();
    void previewChanged();
    // isEditingText, textPosition or textFieldPosition changed, or a new entry began.
    void textEntryChanged();
    void textInputChanged();
    // The displayed picture changed inside `pixelRect` (picture pixels); a null rectangle means
    // it may have changed anywhere.
    void displayedImageChanged(const QRect& pixelRect);
    void annotationsChanged();

private:
    // One blur stroke's undo record. While the stroke runs, `before` is the whole picture as it was
    // (shared, not copied, until the first change detaches the live one); when the stroke ends it
    // is cut down to `rect`, the pixels the stroke changed, so the history costs what the strokes
    // touched rather than a full picture each.
    struct BlurHistoryEntry {
        QImage before;
        QRect rect;
        bool cropped = false;
    };

    Annotation makeAnnotation(AnnotationType type, const QPointF& start, const QPointF& end) const;
    void append(const Annotation& annotation);
    void setPreview(const std::optional<Annotation>& preview);
    void finishBlurHistoryEntry();

    QImage m_image;
    QPointer<AppState> m_appState;
    AnnotationType m_selectedTool = AnnotationType::arrow;
    bool m_isDrawing = false;
    QPointF m_startPoint;
    QPointF m_endPoint;
    bool m_isEditingText = false;
    QString m_textInput;
    QPointF m_textPosition;
    QPointF m_textFieldPosition;
    QColor m_selectedColor;
    double m_lineWidth = 3.0;
    std::optional<Annotation> m_previewAnnotation;
    QList<QPointF> m_currentPenPoints;
    std::optional<QImage> m_blurredImage;
    QList<BlurHistoryEntry> m_blurImageHistory;
};
