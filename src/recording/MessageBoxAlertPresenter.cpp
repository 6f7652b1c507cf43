#include "recording/MessageBoxAlertPresenter.h"

#include <QMessageBox>
#include <QPushButton>

int MessageBoxAlertPresenter::runModal(const Alert& alert)
{
    QMessageBox box(QMessageBox::Information, QStringLiteral("Kestrova"), alert.messageText);
    box.setInformativeText(alert.informativeText);
    box.setWindowModality(Qt::ApplicationModal);
    // A tray application may have no window in front: the alert must not hide behind others.
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    QList<QPushButton*> buttons;
    const QStringList titles = alert.buttons.isEmpty() ? QStringList{QStringLiteral("OK")} : alert.buttons;
    for (const QString& title : titles)
        buttons.append(box.addButton(title, buttons.isEmpty() ? QMessageBox::AcceptRole : QMessageBox::ActionRole));
    box.setDefaultButton(buttons.first());
    box.setEscapeButton(buttons.first());
    box.exec();
    const int index = static_cast<int>(buttons.indexOf(qobject_cast<QPushButton*>(box.clickedButton())));
    return index < 0 ? 0 : index;
}
