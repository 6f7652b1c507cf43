#pragma once

#include <QWidget>

class QLabel;

// The red box of a failed sign-in or sign-up: a warning symbol and the message, on a faint red
// background.
class AuthErrorBox : public QWidget {
    Q_OBJECT
public:
    explicit AuthErrorBox(QWidget* parent = nullptr);

    void setMessage(const QString& message);
    QString message() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* m_text;
};
