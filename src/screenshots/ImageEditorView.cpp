#include "screenshots/ImageEditorView.h"

#include "screenshots/ImageEditorCanvas.h"
#include "screenshots/ImageEditorModel.h"
#include "screenshots/ImageEditorToolbar.h"
#include "screenshots/InlineTextEditorView.h"

#include <QEvent>
#include <QShortcut>
#include <QVBoxLayout>

ImageEditorView::ImageEditorView(const QImage& image, AppState* appState, QWidget* parent)
    : QWidget(parent)
    , m_model(new ImageEditorModel(image, appState, this))
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    m_canvas = new ImageEditorCanvas(m_model, this);
    m_canvas->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    m_canvas->installEventFilter(this);
    m_toolbar = new ImageEditorToolbar(m_model, this);
    column->addWidget(m_canvas, 1);
    column->addWidget(m_toolbar, 0);

    // Ctrl+Z is the Linux form of the undo key; inside the text field it undoes typing instead,
    // since the field claims the standard editing keys first.
    auto* undo = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z), this);
    undo->setContext(Qt::WindowShortcut);
    connect(undo, &QShortcut::activated, m_model, &ImageEditorModel::undoLastAnnotation);

    connect(m_model, &ImageEditorModel::textEntryChanged, this, &ImageEditorView::textEntryChanged);
    connect(m_model, &ImageEditorModel::textInputChanged, this, [this] {
        if (m_textField)
            m_textField->updateText(m_model->textInput());
    });
    connect(m_model, &ImageEditorModel::selectedColorChanged, this, [this] {
        if (m_textField)
            m_textField->setTextColor(m_model->selectedColor());
    });
}

ImageEditorView::~ImageEditorView() = default;

InlineTextEditorView* ImageEditorView::textField() const
{
    return m_textField;
}

void ImageEditorView::textEntryChanged()
{
    if (!m_model->isEditingText()) {
        if (m_textField) {
            // The field may be the one reporting Return or Escape right now: delete it later.
            m_textField->hide();
            m_textField->deleteLater();
            m_textField = nullptr;
        }
        return;
    }
    if (!m_textField) {
        auto* field = new InlineTextEditorView(m_canvas);
        field->onCommit = [this] { m_model->commitTextAnnotation(); };
        field->onCancel = [this] { m_model->cancelTextEntry(); };
        connect(field, &QTextEdit::textChanged, this, [this, field] {
            if (field == m_textField)
                m_model->setTextInput(field->toPlainText());
        });
        m_textField = field;
    }
    m_textField->setTextColor(m_model->selectedColor());
    m_textField->updateText(m_model->textInput());
    placeTextField();
    m_textField->show();
    m_textField->raise();
    m_textField->focusSoon();
}

void ImageEditorView::placeTextField()
{
    // As large as the drawing area, its top-left corner at the click: it covers the area to the
    // right of and below that point, and clicks there go to the field.
    if (m_textField)
        m_textField->setGeometry(QRect(m_model->textFieldPosition().toPoint(), m_canvas->size()));
}

bool ImageEditorView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_canvas && event->type() == QEvent::Resize)
        placeTextField();
    return QWidget::eventFilter(watched, event);
}
