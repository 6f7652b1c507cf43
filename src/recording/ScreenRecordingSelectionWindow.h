#pragma once

#include "platform/InputGrab.h"
#include "recording/ScreenRecordingSelectionDelegate.h"

#include <QEvent>
#include <QPointF>
#include <QPointer>
#include <QRect>
#include <QRectF>
#include <QWidget>

#include <source_location>

class SelectionOverlayView;

// The window in which the user drags the area to record: a borderless, override-redirect window
// over the main screen at the screen-saver level that takes keyboard and mouse. Releasing the left
// button ends the selection; Esc, or an area less than 10 points wide or high, cancels it. Either
// way the window hides itself (it is not closed) and 0.05 s later reports to its delegate once.
// A new window is made for every recording request.
class ScreenRecordingSelectionWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWindowLevel = 1000;
    static constexpr double kMinimumSize = 10.0;
    static constexpr int kReportDelayMs = 50;

    // Covers the main screen, shows itself in front with the keyboard and grabs the input.
    ScreenRecordingSelectionWindow();
    ~ScreenRecordingSelectionWindow() override;

    // Held weakly when it is a QObject: a delegate destroyed meanwhile is not called.
    void setSelectionDelegate(ScreenRecordingSelectionDelegate* delegate);
    ScreenRecordingSelectionDelegate* selectionDelegate() const;

    QPointF startPoint() const { return m_startPoint; }
    QPointF currentPoint() const { return m_currentPoint; }
    bool isSelecting() const { return m_isSelecting; }
    SelectionOverlayView* selectionView() const { return m_selectionView; }
    bool hasInputGrabs() const { return m_inputGrab.hasGrabs(); }
    // True until the selection ended (finished or cancelled).
    bool isAcceptingEvents() const { return m_acceptingEvents; }
    int level() const { return kWindowLevel; }

    // The system's code of an event type as the log writes it (left mouse-down 1, left mouse-up 2,
    // left mouse-dragged 6, key-down 10); 0 for a type without one.
    static int eventTypeCode(QEvent::Type type);
    // The rectangle spanned by two points, whatever their order.
    static QRectF spannedRect(const QPointF& a, const QPointF& b);
    // A selection in the window's coordinates as a recording area: main-screen points relative to
    // the primary screen's top-left, for a window whose top-left lies at `windowOrigin` (Qt global).
    static QRectF areaForSelection(const QRectF& selection, const QPointF& windowOrigin, const QPointF& primaryOrigin);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void handleEvent(QEvent* event);
    void updateSelection();
    void finishSelection();
    QRectF convertWindowToScreenRect(const QRectF& rect) const;
    void cancelSelection();
    // Stops taking events and hides the window: the end of every selection.
    void hideWindow();
    // The report's log line names the operation that ended the selection, given by `where`.
    void report(std::optional<QRectF> area, bool logged, std::source_location where = std::source_location::current());
    void tryGrabInput();

    QPointF m_startPoint;
    QPointF m_currentPoint;
    bool m_isSelecting = false;
    SelectionOverlayView* m_selectionView = nullptr;
    ScreenRecordingSelectionDelegate* m_delegate = nullptr;
    QPointer<QObject> m_delegateObject;
    bool m_delegateIsObject = false;
    bool m_acceptingEvents = true;
    QRect m_frame;
    platform::InputGrab m_inputGrab;
};
