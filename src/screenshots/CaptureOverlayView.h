#pragma once

#include "screenshots/SelectionVeilView.h"

// The content of the screenshot overlay: a veil over the screen with a clear hole where the user
// selects, outlined in blue, or a hint in a rounded box in the middle while there is no selection.
class CaptureOverlayView : public SelectionVeilView {
    Q_OBJECT
public:
    explicit CaptureOverlayView(QWidget* parent = nullptr);

    static QString hintText();

protected:
    void paintHintBox(QPainter& painter, const QRectF& textRect) override;
};
