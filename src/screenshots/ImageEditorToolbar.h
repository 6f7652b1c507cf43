#pragma once

#include "app/AnnotationType.h"

#include <QList>
#include <QPointer>
#include <QWidget>

class ImageEditorModel;
class QAbstractButton;
class QMenu;
class QToolButton;

// The editor's tool bar: the seven tools, the six colours, the line-width menu, then undo and
// clear (both disabled while there is no annotation).
class ImageEditorToolbar : public QWidget {
    Q_OBJECT
public:
    explicit ImageEditorToolbar(ImageEditorModel* model, QWidget* parent = nullptr);

    QAbstractButton* toolButton(AnnotationType tool) const;
    QAbstractButton* colorButton(int index) const;
    QToolButton* lineWidthButton() const { return m_widthButton; }
    QMenu* lineWidthMenu() const { return m_widthMenu; }
    QAbstractButton* undoButton() const { return m_undoButton; }
    QAbstractButton* clearButton() const { return m_clearButton; }

    // The menu item of the current width (the one with the check mark).
    static bool isCurrentWidthItem(const class QAction* action);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refresh();
    void refreshWidthMenu();

    QPointer<ImageEditorModel> m_model;
    QList<QAbstractButton*> m_toolButtons;
    QList<QAbstractButton*> m_colorButtons;
    QToolButton* m_widthButton = nullptr;
    QMenu* m_widthMenu = nullptr;
    QAbstractButton* m_undoButton = nullptr;
    QAbstractButton* m_clearButton = nullptr;
};
