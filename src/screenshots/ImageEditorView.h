#pragma once

#include <QImage>
#include <QPointer>
#include <QWidget>

class AppState;
class ImageEditorCanvas;
class ImageEditorModel;
class ImageEditorToolbar;
class InlineTextEditorView;

// The annotation editor shown by the screenshot preview: the picture fitted into the drawing area
// with the annotations of AppState::annotations() over it, the tool bar under it, Ctrl+Z to undo.
// The editor only edits the annotation list (and its own blurred copy of the picture); the output
// image is AnnotatedImageRenderer's, drawn from the same list.
class ImageEditorView : public QWidget {
    Q_OBJECT
public:
    // `image` carries its device pixel ratio: its deviceIndependentSize() is the size in points
    // that image coordinates use.
    ImageEditorView(const QImage& image, AppState* appState, QWidget* parent = nullptr);
    ~ImageEditorView() override;

    ImageEditorModel* model() const { return m_model; }
    ImageEditorCanvas* canvas() const { return m_canvas; }
    ImageEditorToolbar* toolbar() const { return m_toolbar; }
    // The inline text field while text is being entered, else null.
    InlineTextEditorView* textField() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void textEntryChanged();
    void placeTextField();

    ImageEditorModel* m_model = nullptr;
    ImageEditorCanvas* m_canvas = nullptr;
    ImageEditorToolbar* m_toolbar = nullptr;
    QPointer<InlineTextEditorView> m_textField;
};
