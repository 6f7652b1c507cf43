#include "screenshots/InlineTextEditorView.h"

#include "screenshots/AnnotationPainter.h"

#include <QKeyEvent>
#include <QPointer>
#include <QTimer>

InlineTextEditorView::InlineTextEditorView(QWidget* parent)
    : QTextEdit(parent)
{
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setAcceptRichText(false);
    setUndoRedoEnabled(true);
    setLineWrapMode(QTextEdit::FixedPixelWidth);
    setLineWrapColumnOrWidth(kWrapWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setFont(AnnotationPainter::textFont());
    document()->setDefaultFont(AnnotationPainter::textFont());
    // No margin: the first line's top-left sits at the field's, where the stored text is drawn.
    document()->setDocumentMargin(0);
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    QPalette p = palette();
    p.setColor(QPalette::Base, Qt::transparent);
    p.setColor(QPalette::Window, Qt::transparent);
    setPalette(p);
}

void InlineTextEditorView::setTextColor(const QColor& color)
{
    // The palette's text colour paints every character without a colour of its own (plain text
    // has none) and the insertion point.
    QPalette p = palette();
    p.setColor(QPalette::Text, color);
    setPalette(p);
    viewport()->update();
}

QColor InlineTextEditorView::textColor() const
{
    return palette().color(QPalette::Text);
}

void InlineTextEditorView::updateText(const QString& text)
{
    if (toPlainText() != text)
        setPlainText(text);
}

void InlineTextEditorView::focusSoon()
{
    QTimer::singleShot(0, this, [self = QPointer<InlineTextEditorView>(this)] {
        if (self && self->isVisible())
            self->setFocus(Qt::OtherFocusReason);
    });
}

bool InlineTextEditorView::event(QEvent* event)
{
    // While text is typed every key is the field's: the window's keys (Return for done, Escape,
    // Ctrl+S, Ctrl+C) would otherwise act on the preview instead of on the text.
    if (event->type() == QEvent::ShortcutOverride) {
        event->accept();
        return true;
    }
    return QTextEdit::event(event);
}

void InlineTextEditorView::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    if (key == Qt::Key_Escape) {
        if (onCancel)
            onCancel();
        event->accept();
        return;
    }
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && !(event->modifiers() & Qt::ShiftModifier)
        && !toPlainText().isEmpty()) {
        if (onCommit)
            onCommit();
        event->accept();
        return;
    }
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        // Shift-Return, or Return in an empty field: a plain line break. The text edit's own
        // Shift-Return would insert a line separator; a paragraph break reads back as "\n" alike
        // and keeps the typed text plain.
        textCursor().insertText(QStringLiteral("\n"));
        event->accept();
        return;
    }
    QTextEdit::keyPressEvent(event);
}
