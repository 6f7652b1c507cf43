#pragma once

#include <QPushButton>
#include <QTimer>

// The prominent full-width button of the sign-in forms; while busy it shows a small spinner
// before its title.
class AuthPrimaryButton : public QPushButton {
    Q_OBJECT
public:
    explicit AuthPrimaryButton(QWidget* parent = nullptr);

    bool isBusy() const { return m_busy; }
    void setBusy(bool busy);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_busy = false;
    int m_angle = 0;
    QTimer m_spin;
};
