#pragma once

#include <QWidget>

class QVariantAnimation;

// The "saved" confirmation of the hot-keys section: a green check and "Настройки сохранены" on a
// rounded card with a soft shadow, sliding in from the top edge of its parent while fading in, and
// out the same way.
class HotkeySaveToast : public QWidget {
    Q_OBJECT
public:
    explicit HotkeySaveToast(QWidget* parent);

    QSize sizeHint() const override;
    // Shown, or on its way in; false once it has started to leave.
    bool isShowing() const { return m_showing; }
    void setShowing(bool showing);
    double opacity() const { return m_opacity; }

    static constexpr int transitionMilliseconds = 200;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void apply(double progress);
    QPoint restingPosition() const;

    bool m_showing = false;
    double m_opacity = 0.0;
    double m_progress = 0.0;
    QVariantAnimation* m_animation;
};
