#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QPushButton;
class QToolButton;

// One error banner under the preview's editor: a warning symbol, the user text, an optional hint,
// a copy button and a close button, on a faint band of its colour with a line along the top.
class PreviewErrorBanner : public QWidget {
    Q_OBJECT
public:
    explicit PreviewErrorBanner(const QColor& color, QWidget* parent = nullptr);

    void setMessage(const QString& message);
    // None hides the hint line.
    void setHint(const std::optional<QString>& hint);
    // The copy button's resting look, or its "copied" look (check mark, green tint).
    void setCopied(bool copied);

    QString message() const;
    std::optional<QString> hint() const;
    bool isCopied() const { return m_copied; }
    QPushButton* copyButton() const { return m_copyButton; }
    QToolButton* closeButton() const { return m_closeButton; }

    std::function<void()> onCopy;
    std::function<void()> onClose;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_color;
    QLabel* m_message = nullptr;
    QLabel* m_hint = nullptr;
    QPushButton* m_copyButton = nullptr;
    QToolButton* m_closeButton = nullptr;
    bool m_copied = false;
};
