#pragma once

#include "recording/RecordingSettings.h"

#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QSize>

#include <functional>
#include <memory>

class QWidget;
class RecordingSetupView;
class SelectionOverlayView;

// The recording setup panel for one chosen area: a small floating panel next to the area with the
// recording options, and a click-through overlay that keeps the area marked and dims the rest of
// the screen. The panel does not close itself: its owner calls close() after start or cancel.
class RecordingSetupWindowController : public QObject {
    Q_OBJECT
public:
    static constexpr QSize kPanelSize{320, 48};
    // The floating level of the panel and its overlay.
    static constexpr int kWindowLevel = 3;

    // `selectedArea` in main-screen points, top-left origin. Builds the panel; shows nothing.
    RecordingSetupWindowController(const QRectF& selectedArea, std::function<void(const RecordingSettings&)> onStart,
                                   std::function<void()> onCancel, QObject* parent = nullptr);
    ~RecordingSetupWindowController() override;

    // Shows the overlay, then the panel next to the area, with the keyboard.
    void present();
    // Hides the overlay (and lets it go) and the panel (which stays with the controller).
    void close();

    QRectF selectedArea() const { return m_selectedArea; }
    QWidget* window() const;
    QWidget* selectionOverlay() const;
    SelectionOverlayView* selectionOverlayView() const { return m_overlayView; }
    RecordingSetupView* setupView() const { return m_view; }

private:
    void createSelectionOverlay();
    void repositionNearSelectedArea();

    QRectF m_selectedArea;
    std::function<void(const RecordingSettings&)> m_onStart;
    std::function<void()> m_onCancel;
    std::unique_ptr<QWidget> m_panel;
    std::unique_ptr<QWidget> m_selectionOverlay;
    RecordingSetupView* m_view = nullptr;
    SelectionOverlayView* m_overlayView = nullptr;
};
