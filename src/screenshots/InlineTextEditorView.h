#pragma once

#include <QColor>
#include <QTextEdit>

#include <functional>

// The inline text field of the text tool: transparent and borderless, in the font and colour the
// stored text will have, its top-left corner at the clicked point. Typed lines wrap at 400 points
// inside the field only; the text it reports keeps just the typed line breaks.
//
// Keys: Return stores the text (onCommit) unless Shift is held or the field is empty, when it
// inserts a line break as usual; Ctrl does not change that. Escape discards it (onCancel). The
// field claims every key while it has the focus, so the window's shortcuts wait until it is gone.
class InlineTextEditorView : public QTextEdit {
    Q_OBJECT
public:
    static constexpr int kWrapWidth = 400;

    explicit InlineTextEditorView(QWidget* parent = nullptr);

    std::function<void()> onCommit;
    std::function<void()> onCancel;

    // The text and insertion point colour; recolours the whole text at once.
    void setTextColor(const QColor& color);
    QColor textColor() const;
    // Replaces the text only when it differs, so the cursor stays put while typing.
    void updateText(const QString& text);
    // Takes the keyboard focus on the next turn of the event loop, once the field is in its
    // window; nothing happens if it is gone or hidden by then.
    void focusSoon();

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};
