#pragma once

#include "screenshots/SelectionVeilView.h"

// The veil of the recording-area selection: 30 % black over the screen with a clear hole where
// the area is, outlined in blue with a dot on each corner, or a hint in the middle while there is
// no area. Drawn by the selection window and by the setup panel's overlay.
class SelectionOverlayView : public SelectionVeilView {
    Q_OBJECT
public:
    explicit SelectionOverlayView(QWidget* parent = nullptr);

    static QString hintText();
    static QColor outlineColor();

protected:
    void paintSelectionMarks(QPainter& painter, const QRectF& selection) override;
    void paintHintBox(QPainter& painter, const QRectF& textRect) override;
};
